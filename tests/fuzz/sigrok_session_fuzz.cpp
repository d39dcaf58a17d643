// libFuzzer target: any bytes given to the sigrok session reader either
// read as a capture whose changes ascend inside it, or are refused.
#include <cstddef>
#include <cstdint>

#include "host/formats/format_error.h"
#include "host/formats/sigrok_session.h"
#include "tests/fuzz/ascending_changes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const fd::host::Waveform w = fd::host::ReadSigrokSession(data, size, "fuzz.sr");
        fd::fuzz::RequireAscendingChanges(w, fd::fuzz::LastChange::BeforeEnd);
    } catch (const fd::host::CaptureFormatError&) {
    }
    return 0;
}
