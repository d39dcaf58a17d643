#include "host/formats/capture_sniff.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#if defined(FD_HAVE_SESSIONS)
#include <zip.h>
#endif

namespace fd::host {
namespace {

constexpr size_t kTextProbe = 64 * 1024;  // bytes looked at to tell text from binary
constexpr int kRowsProbe = 16;            // lines looked at for a CSV row

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && bytes.substr(0, prefix.size()) == prefix;
}

uint64_t BigEndian64(const unsigned char* p) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | p[i];
    return value;
}

// GTKWave's FST opens with its header block: block type 0, the section's
// length (329, big-endian 64-bit), start and end time, then the number e
// as a double in the writer's byte order, for the reader to test its own.
// A file written with the whole-file wrapper (vcd2fst -c) is one block of
// type 254: its length, the unwrapped length, then a gzip stream.
bool IsFst(std::string_view bytes) {
    constexpr size_t kHeaderLength = 329;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 19 && p[0] == 254 && p[17] == 0x1f && p[18] == 0x8b) return true;
    if (bytes.size() < 33 || bytes[0] != 0) return false;
    if (BigEndian64(p + 1) != kHeaderLength) return false;
    const uint64_t e = 0x4005BF0A8B145769ull;  // 2.718281828459045 as IEEE 754 bits
    uint64_t little = 0;
    for (int i = 7; i >= 0; --i) little = little << 8 | p[25 + i];
    return little == e || BigEndian64(p + 25) == e;
}

struct Magic {
    std::string_view bytes;
    const char* found;
};

// Compressed and archive formats that are not read, with what to do.
constexpr Magic kOtherCompressed[] = {
    {std::string_view("\3757zXZ\0", 6), "an xz-compressed stream (decompress it first: xz -d FILE)"},
    {std::string_view("BZh"), "a bzip2-compressed stream (decompress it first: bunzip2 -k FILE)"},
    {std::string_view("7z\xBC\xAF\x27\x1C", 6), "a 7-Zip archive (extract the capture first)"},
    {std::string_view("\x04\x22\x4D\x18", 4), "an lz4-compressed stream (decompress it first: lz4 -d FILE)"},
    {std::string_view("Rar!\x1A\x07", 6), "a RAR archive (extract the capture first)"},
};

std::string_view WithoutBom(std::string_view bytes) {
    return StartsWith(bytes, "\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
}

bool LooksLikeVcd(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && i < 4096 && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    return i + 1 < text.size() && text[i] == '$' && std::isalpha(static_cast<unsigned char>(text[i + 1]));
}

bool LooksLikeText(std::string_view bytes) {
    const std::string_view probe = bytes.substr(0, kTextProbe);
    for (unsigned char c : probe) {
        if (c == 0 || (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f' && c != 0x1A))
            return false;
    }
    return true;
}

// Among the first lines that are no comment (# or ;, as sigrok's CSV
// starts), one with , ; or tab between fields.
bool HasCsvRow(std::string_view text) {
    text = text.substr(0, kTextProbe);
    int rows = 0;
    size_t at = 0;
    while (at < text.size() && rows < kRowsProbe) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        ++rows;
        if (line.find_first_of(",;\t") != std::string_view::npos) return true;
    }
    return false;
}

#if defined(FD_HAVE_SESSIONS)
struct ZipCloser {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};

// The members' names, or false when the archive cannot be opened.
bool ZipMembers(std::string_view bytes, std::vector<std::string>& names) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return false;
    }
    std::unique_ptr<zip_t, ZipCloser> zip(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!zip) {
        zip_source_free(source);
        return false;
    }
    const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), 0);
        if (name != nullptr) names.emplace_back(name);
    }
    return true;
}

CaptureSniff SniffZip(std::string_view bytes) {
    std::vector<std::string> names;
    if (!ZipMembers(bytes, names)) return {CaptureKind::ZipArchive, "a zip archive that cannot be opened"};
    const auto has = [&names](const char* wanted) {
        for (const std::string& name : names)
            if (name == wanted) return true;
        return false;
    };
    if (has("metadata") || has("version")) return {CaptureKind::SigrokSession, ""};
    if (has("meta.json")) return {CaptureKind::SaleaeCapture, "a Saleae Logic 2 capture (.sal)"};
    if (has("header")) return {CaptureKind::DsviewSession, ""};
    std::string found = "a zip archive with no sigrok session in it (no metadata member";
    if (names.empty()) return {CaptureKind::OtherZip, found + "; the archive is empty)"};
    found += "; it holds ";
    const size_t shown = std::min<size_t>(names.size(), 3);
    for (size_t i = 0; i < shown; ++i) found += (i > 0 ? ", " : "") + names[i];
    if (names.size() > shown) found += " and " + std::to_string(names.size() - shown) + " more";
    return {CaptureKind::OtherZip, found + ")"};
}
#else
CaptureSniff SniffZip(std::string_view) { return {CaptureKind::ZipArchive, "a zip archive"}; }
#endif

}  // namespace

CaptureSniff SniffCapture(std::string_view bytes) {
    if (bytes.empty()) return {CaptureKind::Empty, "no bytes"};
    // A zip's local header, or the end record of an empty archive.
    if (StartsWith(bytes, "PK\x03\x04") || StartsWith(bytes, "PK\x05\x06")) return SniffZip(bytes);
    if (StartsWith(bytes, "<SALEAE>")) return {CaptureKind::SaleaeBinary, ""};
    if (IsFst(bytes)) return {CaptureKind::Fst, "an FST waveform (GTKWave's compressed dump format)"};
    for (const Magic& magic : kOtherCompressed) {
        // bzip2's "BZh" is followed by its block size, 1 to 9: text may open with BZh.
        const bool bzip2 = magic.bytes == "BZh";
        if (StartsWith(bytes, magic.bytes) &&
            (!bzip2 || (bytes.size() > 3 && bytes[3] >= '1' && bytes[3] <= '9')))
            return {CaptureKind::Compressed, magic.found};
    }
    if (StartsWith(bytes, "\x1f\x8b"))
        return {CaptureKind::Compressed, "a gzip stream inside the decompressed data"};
    if (StartsWith(bytes, "\x28\xb5\x2f\xfd"))
        return {CaptureKind::Compressed, "a zstd stream inside the decompressed data"};
    const std::string_view text = WithoutBom(bytes);
    if (LooksLikeVcd(text)) return {CaptureKind::Vcd, ""};
    if (!LooksLikeText(bytes))
        return {CaptureKind::Unknown, "binary data starting with " + DescribeFirstBytes(bytes)};
    if (HasCsvRow(text)) return {CaptureKind::Csv, ""};
    return {CaptureKind::Text, "text starting with " + DescribeFirstBytes(text)};
}

const char* CaptureKindName(CaptureKind kind) {
    switch (kind) {
        case CaptureKind::Vcd:
            return "VCD";
        case CaptureKind::SigrokSession:
        case CaptureKind::ZipArchive:
            return "sigrok session";
        case CaptureKind::Csv:
            return "CSV";
        case CaptureKind::Fst:
            return "FST waveform";
        case CaptureKind::SaleaeCapture:
            return "Saleae capture";
        case CaptureKind::SaleaeBinary:
            return "Saleae binary export";
        case CaptureKind::DsviewSession:
            return "DSView session";
        case CaptureKind::OtherZip:
            return "zip archive";
        case CaptureKind::Compressed:
            return "compressed stream";
        case CaptureKind::Empty:
            return "empty file";
        case CaptureKind::Text:
            return "text";
        case CaptureKind::Unknown:
            break;
    }
    return "unknown format";
}

std::string DescribeFirstBytes(std::string_view bytes) {
    const std::string_view first = bytes.substr(0, 16);
    bool printable = !first.empty();
    for (unsigned char c : first)
        printable = printable && (std::isprint(c) || c == '\t' || c == '\n' || c == '\r');
    if (printable) {
        std::string shown;
        for (char c : bytes.substr(0, 40)) {
            if (c == '\n' || c == '\r') break;
            shown += std::isprint(static_cast<unsigned char>(c)) ? c : ' ';
        }
        return "'" + shown + (shown.size() == 40 ? "...'" : "'");
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex = "bytes";
    for (unsigned char c : first) {
        hex += ' ';
        hex += kHex[c >> 4];
        hex += kHex[c & 15];
    }
    return hex;
}

}  // namespace fd::host
