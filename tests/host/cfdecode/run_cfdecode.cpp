#include "tests/host/cfdecode/run_cfdecode.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fd::test {
namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace

TemporaryFile::TemporaryFile(const std::string& suffix, const std::string& contents) {
    path_ = (std::filesystem::temp_directory_path() /
             ("cfdecode-test-" + std::to_string(std::random_device{}()) + suffix))
                .string();
    if (!contents.empty()) Write(contents);
}

TemporaryFile::~TemporaryFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::string TemporaryFile::Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void TemporaryFile::Write(const std::string& contents) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << contents;
}

ProgramResult RunCfdecode(const std::vector<std::string>& arguments) {
    return RunCfdecodePiped("", arguments);
}

ProgramResult RunCfdecodePiped(const std::string& input, const std::vector<std::string>& arguments) {
    TemporaryFile errors(".err");
    std::string command = input.empty() ? "" : "cat " + Quoted(input) + " | ";
    command += FD_EMULATOR;
    if (!command.empty() && command.back() != ' ') command += ' ';
    command += Quoted(FD_CFDECODE_PATH);
    for (const std::string& argument : arguments) command += ' ' + Quoted(argument);
    command += " 2>" + Quoted(errors.path());

    ProgramResult result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
    const int status = pclose(pipe);
    result.status =
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    result.err = errors.Read();
    return result;
}

}  // namespace fd::test
