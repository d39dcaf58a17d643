// libFuzzer target: any text given to the VCD reader either reads as a
// capture whose changes ascend and end by the capture's end, or is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/formats/vcd_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fd::host::CaptureReadOptions options;
    options.offset = size % 3 == 0 ? 100 : 0;
    try {
        const fd::host::Waveform w =
            fd::host::ReadVcdText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.vcd", options);
        for (const auto& s : w.signals) {
            for (size_t i = 0; i < s.changes.size(); ++i) {
                if ((i > 0 && s.changes[i] <= s.changes[i - 1]) || s.changes[i] == 0 || s.changes[i] > w.endPosition)
                    std::abort();
            }
        }
    } catch (const fd::host::CaptureFormatError&) {
    }
    return 0;
}
