// libFuzzer target: any bytes given to the DSView session reader either
// read as a capture whose changes ascend inside it, or are refused.
#include <cstddef>
#include <cstdint>

#include "host/formats/dsview_session.h"
#include "host/formats/format_error.h"
#include "tests/fuzz/ascending_changes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const fd::host::Waveform w = fd::host::ReadDsviewSession(data, size, "fuzz.dsl");
        fd::fuzz::RequireAscendingChanges(w, fd::fuzz::LastChange::BeforeEnd);
    } catch (const fd::host::CaptureFormatError&) {
    }
    return 0;
}
