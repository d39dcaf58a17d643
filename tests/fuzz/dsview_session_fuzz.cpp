// libFuzzer target: any bytes given to the DSView session reader either
// read as a capture whose changes ascend inside it, or are refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "host/formats/dsview_session.h"
#include "host/formats/format_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const fd::host::Waveform w = fd::host::ReadDsviewSession(data, size, "fuzz.dsl");
        for (const auto& s : w.signals) {
            for (size_t i = 0; i < s.changes.size(); ++i) {
                if (s.changes[i] == 0 || s.changes[i] >= w.endPosition) std::abort();
                if (i > 0 && s.changes[i] <= s.changes[i - 1]) std::abort();
            }
        }
    } catch (const fd::host::CaptureFormatError&) {
    }
    return 0;
}
