// libFuzzer target: any text given to the CSV reader either reads as a
// capture whose changes ascend, or is refused.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "host/formats/csv_capture.h"
#include "host/formats/format_error.h"
#include "tests/fuzz/ascending_changes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    fd::host::CsvReadOptions options;
    options.samplerate = (size % 2) ? 1000000 : 0;
    // Now and then the columns option: by number, in order, bits of words.
    if (size % 5 == 1) options.columns = "3=IORD,2=IOWR";
    if (size % 5 == 2) options.columns = "DMARQ,-,CS1";
    if (size % 5 == 3) options.columns = "DD=2:15..0,IORD=3:0:bin";
    try {
        const fd::host::Waveform w = fd::host::ReadCsvCapture(in, "fuzz.csv", options);
        fd::fuzz::RequireAscendingChanges(w, fd::fuzz::LastChange::BeforeEnd);
    } catch (const fd::host::CaptureFormatError&) {
    }
    return 0;
}
