// Sample rates as sigrok writes them ("24 MHz") and as users type them
// ("24MHz", "24000000"). Header-only, so cfdecode parses its --samplerate on
// every target, also where the sigrok and CSV readers are not built.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fd::host {

// "24 MHz", "1 GHz", "500 kHz", "100 Hz", "200M", "12000000" → Hz; 0 when
// unparsable. The unit is read without regard to case.
inline uint64_t ParseSamplerate(const std::string& raw) {
    const size_t begin = raw.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return 0;
    const std::string text = raw.substr(begin);
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(number > 0) || !std::isfinite(number)) return 0;
    std::string unit = end;
    unit.erase(std::remove_if(unit.begin(), unit.end(), [](unsigned char c) { return std::isspace(c) != 0; }),
               unit.end());
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    double scale = 1;
    if (unit == "khz" || unit == "k")
        scale = 1e3;
    else if (unit == "mhz" || unit == "m")
        scale = 1e6;
    else if (unit == "ghz" || unit == "g")
        scale = 1e9;
    else if (unit != "hz" && !unit.empty())
        return 0;
    const double hz = std::round(number * scale);
    if (hz < 1 || hz > 1e15) return 0;
    return static_cast<uint64_t>(hz);
}

inline std::string FormatSamplerate(uint64_t hz) {
    if (hz != 0 && hz % 1000000000 == 0) return std::to_string(hz / 1000000000) + " GHz";
    if (hz != 0 && hz % 1000000 == 0) return std::to_string(hz / 1000000) + " MHz";
    if (hz != 0 && hz % 1000 == 0) return std::to_string(hz / 1000) + " kHz";
    return std::to_string(hz) + " Hz";
}

}  // namespace fd::host
