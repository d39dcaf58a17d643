// cfdecode reading a capture the ways a user hands it one: piped through
// standard input, gzip- or zstd-compressed, under a misleading name. Each
// must decode to the very records of the plain file; what cannot be read
// is one line on stderr and exit status 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "host/formats/capture_reader.h"
#include "host/formats/csv_capture.h"
#include "host/formats/sigrok_session.h"
#include "tests/host/cfdecode/run_cfdecode.h"
#include "tests/support/compressed_fixtures.h"

namespace {

using namespace fd::test;

const std::string kSample = std::string(FD_SOURCE_DIR) + "/samples/mixed.vcd";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// stderr with the capture's name in it replaced, so runs on different
// names compare.
std::string Unnamed(std::string err, const std::string& name) {
    for (size_t at; (at = err.find(name)) != std::string::npos;) err.replace(at, name.size(), "CAPTURE");
    return err;
}

// The sample as each format: the VCD itself, and its signals written as a
// sigrok session and as CSV.
struct Format {
    const char* label;
    const char* suffix;
    std::string bytes;
};

std::vector<Format> Formats() {
    fd::host::Waveform w = fd::host::ReadCapture(kSample);
    TemporaryFile session(".sr");
    fd::host::WriteSigrokSession(w, session.path());
    std::ostringstream csv;
    fd::host::WriteCsvCapture(w, csv);
    return {{"VCD", ".vcd", ReadFile(kSample)},
            {"sigrok session", ".sr", session.Read()},
            {"CSV", ".csv", csv.str()}};
}

TEST(CfdecodeInput, PipedAndCompressedCapturesDecodeLikeThePlainFile) {
    for (const Format& format : Formats()) {
        TemporaryFile plain(format.suffix, format.bytes);
        const ProgramResult expected = RunCfdecode({plain.path(), "--format", "csv"});
        ASSERT_EQ(expected.status, 0) << format.label << ": " << expected.err;
        ASSERT_GT(std::count(expected.out.begin(), expected.out.end(), '\n'), 100) << format.label;
        const std::string expectedErr = Unnamed(expected.err, plain.path());

        const std::string gzip = GzipBytes(format.bytes);
        TemporaryFile gz(std::string(format.suffix) + ".gz", gzip);
        TemporaryFile zst(std::string(format.suffix) + ".zst", ZstdBytes(format.bytes));
        TemporaryFile unnamed("", gzip);  // no extension to go by
        const struct {
            const char* how;
            std::string input;  // piped on standard input when set
            std::string path;
        } runs[] = {
            {"piped", plain.path(), "-"},   {"a pipe by its name", plain.path(), "/dev/stdin"},
            {"gzip", "", gz.path()},        {"zstd", "", zst.path()},
            {"gzip piped", gz.path(), "-"}, {"gzip without a name", "", unnamed.path()},
        };
        for (const auto& run : runs) {
            const ProgramResult result = RunCfdecodePiped(run.input, {run.path, "--format", "csv"});
            EXPECT_EQ(result.status, 0) << format.label << ", " << run.how << ": " << result.err;
            EXPECT_TRUE(result.out == expected.out) << format.label << ", " << run.how;
            const std::string name = run.path == "-" ? "standard input" : run.path;
            EXPECT_EQ(Unnamed(result.err, name), expectedErr) << format.label << ", " << run.how;
        }
    }
}

// The name says one format, the content another: the content is read, and
// a note says so.
TEST(CfdecodeInput, AMisleadingNameIsNoted) {
    const std::vector<Format> formats = Formats();
    TemporaryFile csvAsVcd(".vcd", formats[2].bytes);
    const ProgramResult result = RunCfdecode({csvAsVcd.path(), "--format", "csv"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("cfdecode: note: " + csvAsVcd.path() +
                              ": named .vcd but holds CSV rows; read as CSV\n"),
              std::string::npos)
        << result.err;
    TemporaryFile plain(".csv", formats[2].bytes);
    EXPECT_TRUE(result.out == RunCfdecode({plain.path(), "--format", "csv"}).out);
    EXPECT_EQ(RunCfdecode({csvAsVcd.path(), "--quiet", "--format", "csv"}).err, "");
}

std::string Fst() {
#if defined(FD_VCD2FST_PATH)
    TemporaryFile fst(".fst");
    const std::string command =
        std::string(FD_VCD2FST_PATH) + " '" + kSample + "' '" + fst.path() + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return fst.Read();
#else
    return FstHeader();
#endif
}

TEST(CfdecodeInput, WhatCannotBeReadIsOneLine) {
    const std::string vcd = ReadFile(kSample);
    const std::string gzip = GzipBytes(vcd);
    const std::string zstd = ZstdBytes(vcd);
    const struct {
        const char* label;
        const char* suffix;
        std::string bytes;
        bool piped;
        std::string expected;  // after "cfdecode: <name>: "
    } cases[] = {
        {"gzip cut short", ".vcd.gz", gzip.substr(0, gzip.size() / 2), false,
         "byte " + std::to_string(gzip.size() / 2) + ": the gzip stream is cut short"},
        {"zstd cut short, piped", ".zst", zstd.substr(0, zstd.size() - 3), true,
         "byte " + std::to_string(zstd.size() - 3) + ": the zstd stream is cut short"},
        {"FST", ".fst", Fst(), false,
         "the file holds an FST waveform (GTKWave's compressed dump format), which cfdecode "
         "does not read: convert it to VCD with 'fst2vcd "},
        {"FST, piped", ".fst", Fst(), true, "the file holds an FST waveform"},
        {"Saleae", ".sal", ZipBytes({{"meta.json", "{}"}, {"digital-0.bin", "x"}}), false,
         "the file holds a Saleae Logic 2 capture (.sal), which cfdecode does not read: in Logic 2 use File "
         "> Export Data"},
        {"DSView", ".dsl", ZipBytes({{"header", "[version]\n"}, {"L-0/0", "x"}}), false,
         "member header: no [header] section: expected DSView's session header"},
        {"nothing on standard input", "", "", true, "unknown capture format: the file is empty"},
        // Read by its content, refused by that reader: the line says which.
        {"broken CSV named .vcd", ".vcd", "sample,IORD,IOWR\n0,1,1\n5,0\n", false,
         "line 3: expected 3 columns, found 2: (read as CSV, as the content shows; the name says .vcd)"},
    };
    for (const auto& c : cases) {
        TemporaryFile capture(c.suffix, c.bytes);
        if (c.bytes.empty()) capture.Write("");
        const ProgramResult result =
            c.piped ? RunCfdecodePiped(capture.path(), {"-"}) : RunCfdecode({capture.path()});
        const std::string name = c.piped ? "standard input" : capture.path();
        EXPECT_EQ(result.status, 2) << c.label << ": " << result.err;
        EXPECT_EQ(result.out, "") << c.label;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << c.label << ": " << result.err;
        EXPECT_EQ(result.err.rfind("cfdecode: " + name + ": " + c.expected, 0), 0u)
            << c.label << ": " << result.err;
    }
}

}  // namespace
