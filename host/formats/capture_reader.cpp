#include "host/formats/capture_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "host/formats/vcd_reader.h"

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

}  // namespace

Waveform ReadCapture(const std::string& path, const CaptureReadOptions& options, CaptureReadNotes* notes) {
    const std::string extension = LowerExtension(path);
    if (extension == "vcd" || LooksLikeVcd(path)) return ReadVcd(path, options, notes);
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr) return ReadVcd(path, options, notes);  // reports why it cannot be opened
    std::fclose(probe);
    throw CaptureFormatError(path, "", "unknown capture format; expected a VCD file (.vcd)");
}

}  // namespace fd::host
