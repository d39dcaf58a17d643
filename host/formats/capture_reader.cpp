#include "host/formats/capture_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "host/formats/vcd_reader.h"
#if defined(FD_HAVE_FORMATS)
#include "host/formats/csv_capture.h"
#include "host/formats/sigrok_session.h"
#endif

namespace fd::host {
namespace {

std::string LowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// A VCD file opens with a $keyword (after optional blank space).
bool LooksLikeVcd(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    int c = 0;
    int read = 0;
    while ((c = std::fgetc(file)) != EOF && std::isspace(c) && ++read < 4096) {
    }
    std::fclose(file);
    return c == '$';
}

// A zip archive's local header. sigrok-cli writes a session whatever the
// output file is called unless given -O, so a .vcd may well be one.
bool LooksLikeZip(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char magic[4] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file);
    std::fclose(file);
    return got == sizeof magic && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4;
}

#if defined(FD_HAVE_FORMATS)
// What lies before the offset only sets the starting levels, as in the VCD
// reader; the rest moves down by it.
void ApplyOffset(Waveform& waveform, uint64_t offset) {
    if (offset == 0) return;
    for (Signal& signal : waveform.signals) {
        const auto first = std::upper_bound(signal.changes.begin(), signal.changes.end(), offset);
        if ((first - signal.changes.begin()) % 2 != 0) signal.initialLevel ^= 1;
        std::vector<uint32_t> kept;
        kept.reserve(static_cast<size_t>(signal.changes.end() - first));
        for (auto it = first; it != signal.changes.end(); ++it) kept.push_back(static_cast<uint32_t>(*it - offset));
        signal.changes = std::move(kept);
    }
    waveform.endPosition = waveform.endPosition <= offset ? 0 : static_cast<uint32_t>(waveform.endPosition - offset);
}
#endif

}  // namespace

Waveform ReadCapture(const std::string& path, const CaptureReadOptions& options, CaptureReadNotes* notes) {
    const std::string extension = LowerExtension(path);
    const bool zip = LooksLikeZip(path);
    if (!zip && (extension == "vcd" || LooksLikeVcd(path))) return ReadVcd(path, options, notes);
#if defined(FD_HAVE_FORMATS)
    if (extension == "sr" || zip) {
        SigrokReadNotes sigrokNotes;
        Waveform waveform = ReadSigrokSession(path, &sigrokNotes);
        if (notes != nullptr) {
            notes->format = "sigrok session";
            notes->analogChannels = static_cast<uint32_t>(sigrokNotes.analogChannels);
        }
        ApplyOffset(waveform, options.offset);
        return waveform;
    }
    if (extension == "csv") {
        CsvReadNotes csvNotes;
        Waveform waveform = ReadCsvCapture(path, CsvReadOptions{options.samplerate, options.csvColumns}, &csvNotes);
        if (notes != nullptr) {
            notes->format = "CSV";
            notes->csvNotes = std::move(csvNotes.notes);
            notes->csvWarnings = std::move(csvNotes.warnings);
        }
        ApplyOffset(waveform, options.offset);
        return waveform;
    }
    constexpr const char* kExpected = "expected a VCD file (.vcd), a sigrok session (.sr) or a CSV capture (.csv)";
#else
    constexpr const char* kExpected = "expected a VCD file (.vcd)";
    if (zip) throw CaptureFormatError(path, "", "a zip archive (a sigrok session?); this build reads VCD files only");
#endif
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr) return ReadVcd(path, options, notes);  // reports why it cannot be opened
    std::fclose(probe);
    throw CaptureFormatError(path, "", std::string("unknown capture format; ") + kExpected);
}

}  // namespace fd::host
