// What the zip-based session readers (sigrok's .sr, DSView's .dsl) share:
// owning libzip handles, libzip's error text, an archive opened over bytes
// in memory, and the INI-style text their metadata members are written in.
#pragma once

#include <zip.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>

namespace fd::host {

struct ZipCloser {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;

std::string ZipErrorText(int code);

// The archive over bytes that outlive it; null with *error set when they are
// no archive libzip can open.
ZipPtr OpenZipFromMemory(const void* data, size_t size, zip_error_t* error);

// Without leading and trailing blanks, tabs and line ends.
std::string TrimSpace(const std::string& text);

// [section] headers and key = value lines; '#' and ';' lines are comments.
// Section names and keys are lower-cased; values are kept as written.
struct IniText {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::map<std::string, int> lines;  // "section/key" → its line number, for messages
};
IniText ParseIni(const std::string& text);

}  // namespace fd::host
