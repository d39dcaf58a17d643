// libFuzzer target: the front of ReadCapture on any bytes. Telling the
// kind never fails; the gzip and zstd decompressors either give the
// stream's bytes or refuse it, and fed in small pieces they give exactly
// what they give fed whole (a capture piped in arrives in any pieces).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "host/formats/capture_input.h"
#include "host/formats/capture_sniff.h"
#include "host/formats/format_error.h"

namespace {

constexpr size_t kOutputLimit = size_t{16} << 20;  // a small stream may expand a lot

// The bytes, or nothing when refused or past the limit.
std::optional<std::string> Decompress(fd::host::Compression compression, std::string_view stream,
                                      size_t piece, bool& limited) {
    auto decompressor = fd::host::Decompressor::Create(compression, "fuzz");
    if (!decompressor) return std::nullopt;
    fd::host::GrowingBuffer out;
    try {
        for (size_t at = 0; at < stream.size(); at += piece) {
            decompressor->Feed(stream.substr(at, piece), out);
            if (out.bytes().size() > kOutputLimit) {
                limited = true;
                return std::nullopt;
            }
        }
        decompressor->Finish();
    } catch (const fd::host::CaptureFormatError&) {
        return std::nullopt;
    }
    return std::string(out.bytes());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const fd::host::CaptureSniff sniff = fd::host::SniffCapture(bytes);
    if (fd::host::CaptureKindName(sniff.kind) == nullptr) std::abort();
    (void)fd::host::DescribeFirstBytes(bytes);
    const fd::host::Compression compression = fd::host::DetectCompression(bytes);
    if (compression == fd::host::Compression::None) return 0;
    bool limited = false;
    const auto whole = Decompress(compression, bytes, bytes.size(), limited);
    if (limited) return 0;
    const auto pieces = Decompress(compression, bytes, 7, limited);
    if (limited) return 0;
    if (whole.has_value() != pieces.has_value() || (whole && *whole != *pieces)) std::abort();
    if (whole) (void)fd::host::SniffCapture(*whole);
    return 0;
}
