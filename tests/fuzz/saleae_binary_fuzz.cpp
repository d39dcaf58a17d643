// libFuzzer target: any bytes given to the Saleae binary export reader, as
// one channel file or split into two (the first byte says where), either
// read as a capture whose changes ascend inside it, or are refused.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "host/formats/format_error.h"
#include "host/formats/saleae_binary.h"
#include "tests/fuzz/ascending_changes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<fd::host::SaleaeChannelFile> files;
    const size_t split = data[0] & 0x80
                             ? std::min<size_t>(bytes.size(), static_cast<size_t>(data[0] & 0x7F) * 8)
                             : bytes.size();
    files.push_back({"digital_0.bin", "digital_0", bytes.substr(0, split)});
    if (split < bytes.size()) files.push_back({"digital_1.bin", "digital_1", bytes.substr(split)});
    fd::host::SaleaeReadOptions options;
    options.samplerate = data[0] & 0x40 ? 1000000 : 0;
    try {
        const fd::host::Waveform w = fd::host::ReadSaleaeBinary(files, options);
        fd::fuzz::RequireAscendingChanges(w, fd::fuzz::LastChange::AtEndAllowed);
    } catch (const fd::host::CaptureFormatError&) {
    }
    return 0;
}
