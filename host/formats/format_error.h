// The one error a capture reader throws: which file, where in it, and what
// was expected there. Callers print what() as the single line a user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace fd::host {

class CaptureFormatError : public std::runtime_error {
public:
    // place: "line 12", "member logic-1-3, byte 4096", "" when the whole file.
    CaptureFormatError(const std::string& file, const std::string& place, const std::string& problem)
        : std::runtime_error(file + (place.empty() ? "" : ": " + place) + ": " + problem) {}
};

}  // namespace fd::host
