#include "host/formats/session_archive.h"

#include <algorithm>
#include <cctype>

namespace fd::host {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

std::string ZipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

ZipPtr OpenZipFromMemory(const void* data, size_t size, zip_error_t* error) {
    zip_source_t* source = zip_source_buffer_create(data, size, 0, error);
    if (source == nullptr) return nullptr;
    ZipPtr zip(zip_open_from_source(source, ZIP_RDONLY, error));
    if (!zip) zip_source_free(source);
    return zip;
}

std::string TrimSpace(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

IniText ParseIni(const std::string& text) {
    IniText ini;
    std::string section;
    size_t start = 0;
    int number = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = TrimSpace(text.substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Lower(TrimSpace(line.substr(1, line.size() - 2)));
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Lower(TrimSpace(line.substr(0, eq)));
        ini.sections[section][key] = TrimSpace(line.substr(eq + 1));
        ini.lines[section + "/" + key] = number;
    }
    return ini;
}

}  // namespace fd::host
