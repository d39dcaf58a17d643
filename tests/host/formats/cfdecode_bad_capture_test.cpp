// cfdecode on broken sigrok and DSView sessions, Saleae binary exports and
// CSV captures, run as a user runs
// it: one line on stderr naming the file and the place, exit status 2,
// nothing on stdout. The readers' own tests cover the messages in detail;
// this covers the path from the file to the user.
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "host/formats/sigrok_session.h"
#include "tests/host/cfdecode/run_cfdecode.h"
#include "tests/support/dsview_export.h"
#include "tests/support/saleae_export.h"

namespace {

using fd::test::ProgramResult;
using fd::test::RunCfdecode;
using fd::test::TemporaryFile;

using Members = std::vector<std::pair<std::string, std::string>>;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The bytes of a zip archive holding these members, stored or deflated.
std::string Zip(const Members& members, bool compress = true) {
    TemporaryFile file(".zip");
    int error = 0;
    zip_t* zip = zip_open(file.path().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(zip, nullptr);
    for (const auto& [name, data] : members) {
        zip_source_t* source = zip_source_buffer(zip, data.data(), data.size(), 0);
        const zip_int64_t index = zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE);
        if (!compress) zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    EXPECT_EQ(zip_close(zip), 0);
    return ReadAll(file.path());
}

std::string Metadata(const std::string& unitsize = "unitsize=1\n") {
    return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\ntotal probes=2\n"
           "samplerate=1 MHz\nprobe1=IORD\nprobe2=IOWR\n" +
           unitsize;
}

// Random levels, so deflate cannot shrink them much.
std::string NoisySamples(size_t count) {
    std::mt19937 random(7);
    std::string data(count, '\0');
    for (char& c : data) c = static_cast<char>(random() & 0x03);
    return data;
}

// A session whose one chunk is deflated, with bytes in the middle of the
// chunk's compressed data overwritten: the archive opens, the chunk does not
// inflate (or fails its CRC).
std::string DamagedChunk() {
    std::string bytes =
        Zip({{"version", "2"}, {"metadata", Metadata()}, {"logic-1-1", NoisySamples(200000)}});
    const size_t middle = bytes.size() / 2;
    for (size_t i = middle; i < middle + 64; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    return bytes;
}

// A stored (uncompressed) chunk whose sizes in the archive claim more than
// its data: the member ends before its last samples.
std::string ShortChunk() {
    const std::string data = NoisySamples(1000);
    std::string bytes = Zip({{"version", "2"}, {"metadata", Metadata()}, {"logic-1-1", data}}, false);
    // Cut the stored data short and shift the central directory down with it.
    const size_t at = bytes.find(data);
    EXPECT_NE(at, std::string::npos);
    bytes.erase(at + 600, 400);
    return bytes;
}

struct Case {
    const char* label;
    const char* suffix;
    std::string contents;
    std::vector<std::string> options;
    std::string expected;  // the line after "cfdecode: <file>"
};

int LineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

void Check(const Case& c) {
    TemporaryFile capture(c.suffix);
    capture.Write(c.contents);
    std::vector<std::string> arguments{capture.path()};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const ProgramResult result = RunCfdecode(arguments);
    EXPECT_EQ(result.status, 2) << c.label << ": " << result.err;
    EXPECT_EQ(result.out, "") << c.label;
    EXPECT_EQ(LineCount(result.err), 1) << c.label << ": " << result.err;
    EXPECT_EQ(result.err.rfind("cfdecode: " + capture.path() + c.expected, 0), 0u)
        << c.label << ": " << result.err << "expected: " << c.expected;
}

TEST(CfdecodeBadCapture, SigrokSessions) {
    const Case cases[] = {
        {"empty file", ".sr", "", {}, ": not a sigrok session (zip archive)"},
        {"not a zip",
         ".sr",
         "PK\x03\x04 but nothing of a zip archive follows",
         {},
         ": not a sigrok session (zip archive)"},
        {"archive cut in half",
         ".sr",
         DamagedChunk().substr(0, 5000),
         {},
         ": not a sigrok session (zip archive)"},
        {"no metadata",
         ".sr",
         Zip({{"version", "2"}, {"logic-1-1", "\x01\x02"}}),
         {},
         ": no metadata member"},
        {"unknown version",
         ".sr",
         Zip({{"version", "3"}, {"metadata", Metadata()}}),
         {},
         ": member version: session format 3"},
        {"no device section",
         ".sr",
         Zip({{"metadata", "[global]\n"}}),
         {},
         ": member metadata: no [device 1] section"},
        {"unitsize against chunk size",
         ".sr",
         Zip({{"metadata", Metadata("unitsize=2\n")}, {"logic-1-1", std::string(7, '\0')}}),
         {},
         ": member logic-1-1: size 7 is not a multiple of unitsize 2"},
        {"unitsize too wide",
         ".sr",
         Zip({{"metadata", Metadata("unitsize=9\n")}, {"logic-1-1", std::string(9, '\0')}}),
         {},
         ": member metadata: unitsize 9 is not supported"},
        {"more probes than bits",
         ".sr",
         Zip({{"metadata", "[device 1]\ntotal probes=9\nunitsize=1\nprobe9=X\n"}, {"logic-1-1", "\x01"}}),
         {},
         ": member metadata: 9 probes do not fit in unitsize 1"},
        {"no logic data", ".sr", Zip({{"metadata", Metadata()}}), {}, ": no logic data member 'logic-1-1'"},
        {"a chunk missing",
         ".sr",
         Zip({{"metadata", Metadata()}, {"logic-1-1", "\x01"}, {"logic-1-3", "\x02"}}),
         {},
         ": logic chunk logic-1-2 is missing"},
        {"damaged chunk",
         ".sr",
         DamagedChunk(),
         {},
         ": member logic-1-1, byte 0: data is corrupt or cut short"},
        {"chunk cut short", ".sr", ShortChunk(), {}, ": the zip archive is damaged or cut short"},
    };
    for (const Case& c : cases) Check(c);
}

TEST(CfdecodeBadCapture, CsvCaptures) {
    const std::string good = "sample,IORD,IOWR\n0,1,1\n5,0,1\n9,1,1\n";
    const Case cases[] = {
        {"empty file", ".csv", "", {}, ": no header row and no data"},
        {"header only", ".csv", "sample,IORD,IOWR\n", {}, ": no data rows"},
        {"no header",
         ".csv",
         "0,1,1\n5,0,1\n",
         {},
         ": line 1: no header row; name the columns with --csv-columns"},
        {"too few columns",
         ".csv",
         "sample,IORD,IOWR\n0,1,1\n5,0\n",
         {},
         ": line 3: expected 3 columns, found 2"},
        {"too many columns",
         ".csv",
         "sample,IORD,IOWR\n0,1,1,1\n",
         {},
         ": line 2: expected 3 columns, found 4"},
        {"a value not 0 or 1",
         ".csv",
         "sample,IORD,IOWR\n0,1,1\n5,2,1\n",
         {},
         ": line 3, column 2: expected 0 or 1, found '2'"},
        {"positions going back",
         ".csv",
         "sample,IORD,IOWR\n0,1,1\n9,0,1\n5,1,1\n",
         {},
         ": line 4: position 5 goes back before 9"},
        {"times going back",
         ".csv",
         "time (s),IORD,IOWR\n0.0,1,1\n2e-6,0,1\n1e-6,1,1\n",
         {"--samplerate", "1MHz"},
         ": line 4: time 1e-6 goes back before 2e-6"},
        {"times rounded to no common step, no rate",
         ".csv",
         "Time [s],IORD,IOWR\n0.0,1,1\n4.1666666666666664e-08,0,1\n8.333333333333333e-08,1,1\n",
         {},
         ": the times share no step of 1 ps or more (written rounded?); give the sample rate with "
         "--samplerate"},
        {"a bus word in no radix",
         ".csv",
         "sample,DD[15:0],IORD\nRadix - DEC,DEC,BIN\n0,12,1\n1,0x12,0\n",
         {},
         ": line 4, column 2: expected a decimal value of 16 bits, found '0x12'"},
        {"position not a number",
         ".csv",
         "sample,IORD,IOWR\n0,1,1\nfive,0,1\n",
         {},
         ": line 3, column 1: expected a sample number"},
        {"position beyond 32 bits",
         ".csv",
         "sample,IORD,IOWR\n0,1,1\n4294967296,0,1\n",
         {},
         ": line 3: sample number beyond 2^32"},
        {"column option past the row",
         ".csv",
         good,
         {"--csv-columns", "7=IORD"},
         ": --csv-columns: column 7 does not exist; rows have 3"},
        {"column option on the position",
         ".csv",
         good,
         {"--csv-columns", "1=IORD"},
         ": --csv-columns: expected N=NAME with N from 2"},
        {"sigrok labels without channel names",
         ".csv",
         "logic,logic\n1,1\n0,1\n",
         {},
         ": line 1: the header row names no signal"},
        {"sigrok time column that starts moving",
         ".csv",
         "; CSV generated by libsigrok 0.5.2\n; Channels (2/2): IORD, IOWR\nMETA samplerate: "
         "1000\nTime,IORD,IOWR\n0,1,1\n0,1,1\n0,0,1\n0.5,1,1\n",
         {},
         ": line 8: the time column is 0 up to here and then not"},
    };
    for (const Case& c : cases) Check(c);
}

TEST(CfdecodeBadCapture, SaleaeExportsAndDsviewSessions) {
    const std::string good = fd::test::SaleaeV0({1, 0, 0, 1e-5, {2e-6, 3e-6}});
    const std::string dsl = fd::test::DslHeader({"IORD", "IOWR"}, 16, 2, "1 MHz");
    const std::string block(2, '\x0F');
    const Case cases[] = {
        {"Saleae: cut short",
         ".bin",
         good.substr(0, 50),
         {},
         ": byte 50: the file ends after 0 of the 2 transition times announced at byte 36"},
        {"Saleae: an analog channel",
         ".bin",
         fd::test::SaleaeHeader(0, 1) + std::string(32, '\0'),
         {},
         ": byte 12: type 1, an analog channel: export the digital channels"},
        {"Saleae: another version",
         ".bin",
         fd::test::SaleaeHeader(3, 0),
         {},
         ": byte 8: version 3, expected 0 or 1"},
        {"DSView: a block missing",
         ".dsl",
         fd::test::ZipBytes({{"header", dsl}, {"L-0/0", block}}),
         {},
         ": member L-1/0: is missing: probe1 has 0 of the 2 blocks the header announces"},
        {"DSView: an oscilloscope session",
         ".dsl",
         fd::test::ZipBytes({{"header", "[version]\nversion = 2\n[header]\ndevice mode = 1\n"}}),
         {},
         ": member header, line 4: device mode 1, an oscilloscope or data acquisition session"},
    };
    for (const Case& c : cases) Check(c);
}

// Not bad input: analog channels are left out, with a note.
TEST(CfdecodeBadCapture, AnalogChannelsAreNotedAndLeftOut) {
    TemporaryFile capture(".sr");
    capture.Write(Zip({{"version", "2"},
                       {"metadata", Metadata("unitsize=1\ntotal analog=2\nanalog3=V1\nanalog4=V2\n")},
                       {"logic-1-1", std::string("\x03\x02\x03", 3)},
                       {"analog-1-3-1", std::string(12, '\0')}}));
    const ProgramResult result = RunCfdecode({capture.path(), "--format", "csv"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("cfdecode: note: " + capture.path() + ": 2 analog channels ignored\n"),
              std::string::npos)
        << result.err;
}

TEST(CfdecodeBadCapture, UnparsableSamplerateIsRefusedBeforeReading) {
    TemporaryFile capture(".csv", "time,IORD\n0.0,1\n");
    const ProgramResult result = RunCfdecode({capture.path(), "--samplerate", "fast"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "cfdecode: --samplerate fast: expected samples per second, such as 24MHz, 200M or 100000000\n");
}

}  // namespace
