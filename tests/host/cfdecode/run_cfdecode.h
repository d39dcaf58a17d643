// Runs the built cfdecode program (under the build's emulator where there
// is one) and gives back its exit status, stdout and stderr. Used by the
// command-line tests.
#pragma once

#include <string>
#include <vector>

namespace fd::test {

struct ProgramResult {
    int status = -1;
    std::string out;
    std::string err;
};

ProgramResult RunCfdecode(const std::vector<std::string>& arguments);
// The same with this file's bytes on standard input, through a pipe (so
// cfdecode cannot map or seek it).
ProgramResult RunCfdecodePiped(const std::string& input, const std::vector<std::string>& arguments);

// A file in the temporary folder, removed when the object goes.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& suffix, const std::string& contents = "");
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }
    std::string Read() const;
    void Write(const std::string& contents) const;

private:
    std::string path_;
};

}  // namespace fd::test
