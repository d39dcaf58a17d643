// cfdecode as a user runs it: every kind of bad input ends with one line on
// stderr naming what is wrong and exit status 2, nothing on stdout; the
// settings record is read before and written back after a decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "plugin/interface/host_abi.h"
#include "tests/host/cfdecode/run_cfdecode.h"

namespace {

using fd::test::ProgramResult;
using fd::test::RunCfdecode;
using fd::test::TemporaryFile;

// All 26 bus signals by their ATA names, idle, one register write.
std::string BusVcd(const std::string& changes = "#10 0# b1110 $ 0& #20 1& 1# #30\n") {
    std::string text =
        "$timescale 1ns $end\n$scope module bus $end\n"
        "$var wire 1 ! DMARQ $end\n$var wire 1 \" DMACK- $end\n$var wire 1 # CS0- $end\n"
        "$var wire 1 % CS1- $end\n$var wire 3 $ DA [2:0] $end\n$var wire 1 & DIOW- $end\n"
        "$var wire 1 ' DIOR- $end\n$var wire 1 ( IORDY $end\n$var wire 16 ) DD [15:0] $end\n"
        "$upscope $end\n$enddefinitions $end\n"
        "#0\n$dumpvars\n0!\n1\"\n1#\n1%\nb000 $\n1&\n1'\n1(\nb0 )\n$end\n";
    return text + changes;
}

int LineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

struct BadInput {
    const char* label;
    std::vector<std::string> arguments;  // "@" stands for the capture file
    std::string capture;                 // contents of the capture file
    std::string expected;                // part of the one line
    const char* suffix = ".vcd";
};

TEST(CfdecodeCommandLine, BadInputGetsOneLineAndStatusTwo) {
    const std::string good = BusVcd();
    const std::string csvRowsRefused = ": no data rows";
    const BadInput cases[] = {
        {"missing file", {"/nonexistent/capture.vcd"}, "", "/nonexistent/capture.vcd: cannot open"},
        {"empty file", {"@"}, " ", ": line 1: empty file"},
        {"truncated",
         {"@"},
         good.substr(0, good.find("$end\n#10")),
         "line 15: unexpected end of file; this section has no $end"},
        {"cut in the header", {"@"}, good.substr(0, 60), "unexpected end of file"},
        {"malformed", {"@"}, BusVcd("#10 2!\n"), "line 26: expected a timestamp (#) or a value change"},
        {"unknown code", {"@"}, BusVcd("#10 1?\n"), "line 26: unknown identifier code '?'"},
        {"beyond 32 bits",
         {"@"},
         BusVcd("#1 1! #4294967296 0!\n"),
         "line 26: timestamp #4294967296 lies beyond 32 bits"},
        {"unknown map role", {"@", "--map", "FOO=DMARQ"}, good, "--map FOO=DMARQ: unknown role 'FOO'"},
        {"map without signal", {"@", "--map", "IORD"}, good, "--map IORD: expected ROLE=SIGNAL"},
        {"unknown map signal",
         {"@", "--map", "IORD=probe9"},
         good,
         "--map IORD=probe9: the capture has no signal named 'probe9'"},
        {"range without colon", {"@", "--range", "100"}, good, "--range 100: expected START:END"},
        {"range not numbers", {"@", "--range", "a:b"}, good, "--range a:b: expected START:END"},
        {"range too large",
         {"@", "--range", "0:4294967296"},
         good,
         "--range 0:4294967296: expected START:END"},
        {"range backwards", {"@", "--range", "20:10"}, good, "--range 20:10: the start lies after the end"},
        {"start not a number", {"@", "--start", "5x"}, good, "--start 5x: expected a position"},
        {"unknown option", {"@", "--frobnicate"}, good, "frobnicate"},
        {"unknown format", {"@", "--format", "xml"}, good, "--format"},
        {"no capture", {}, "", "capture is required"},
        {"not a capture",
         {"@"},
         "notes on the bus\n",
         "unknown capture format: the file holds text starting with 'notes on the bus'",
         ".txt"},
        {"CSV rows under another name", {"@"}, "position,IORD\n", csvRowsRefused, ".txt"},
        {"missing plug-in",
         {"@", "--plugin", "/nonexistent/libflashdecode.so"},
         good,
         "cannot load the plug-in"},
    };
    for (const BadInput& c : cases) {
        TemporaryFile capture(c.suffix, c.capture);
        std::vector<std::string> arguments;
        for (const std::string& argument : c.arguments)
            arguments.push_back(argument == "@" ? capture.path() : argument);
        const ProgramResult result = RunCfdecode(arguments);
        EXPECT_EQ(result.status, 2) << c.label << ": " << result.err;
        EXPECT_EQ(result.out, "") << c.label;
        EXPECT_EQ(LineCount(result.err), 1) << c.label << ": " << result.err;
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << c.label << ": " << result.err;
        EXPECT_EQ(result.err.rfind("cfdecode: ", 0), 0u) << c.label << ": " << result.err;
        if (!c.arguments.empty() && c.arguments[0] == "@" && c.expected.find("line") != std::string::npos) {
            EXPECT_NE(result.err.find(capture.path() + ": line"), std::string::npos)
                << c.label << ": " << result.err;
        }
    }
}

TEST(CfdecodeCommandLine, RefusesASettingsFileOfTheWrongSize) {
    TemporaryFile capture(".vcd", BusVcd());
    TemporaryFile settings(".cfg", std::string(439, '\0'));
    const ProgramResult result = RunCfdecode({capture.path(), "--settings", settings.path()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(LineCount(result.err), 1) << result.err;
    EXPECT_NE(
        result.err.find(settings.path() + ": expected a decoder settings record of 440 bytes, found 439"),
        std::string::npos)
        << result.err;
    EXPECT_EQ(settings.Read().size(), 439u);  // left as it was
}

FdDecoderSettings Decoded(const std::string& bytes) {
    FdDecoderSettings record{};
    EXPECT_EQ(bytes.size(), sizeof record);
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    return record;
}

TEST(CfdecodeCommandLine, SettingsAreStoredAndRestoredByTheHost) {
    TemporaryFile capture(".vcd", BusVcd());
    TemporaryFile settings(".cfg");
    std::filesystem::remove(settings.path());

    // No file yet: the plug-in's defaults, with the host's channel numbers.
    ProgramResult result = RunCfdecode({capture.path(), "--settings", settings.path(), "--format", "csv"});
    ASSERT_EQ(result.status, 0) << result.err;
    FdDecoderSettings record = Decoded(settings.Read());
    for (int field = 0; field < FdChannelFieldCount; ++field) EXPECT_EQ(record.channel[field], field);
    EXPECT_EQ(record.colour[FdColourRead], 0xFD7D3Cu);

    // A stored colour and radix come back; reserved bytes travel untouched.
    record.colour[FdColourRead] = 0x0000FF;
    record.customRadixDisplay = 1;
    record.dataRadix = FdRadixDecimal;
    record.reserved128[7] = 0x5A;
    record.channel[FdChannelIord] = 99;  // the host numbers the channels
    settings.Write(std::string(reinterpret_cast<const char*>(&record), sizeof record));
    result = RunCfdecode({capture.path(), "--settings", settings.path(), "--format", "csv"});
    ASSERT_EQ(result.status, 0) << result.err;
    record = Decoded(settings.Read());
    EXPECT_EQ(record.colour[FdColourRead], 0x0000FFu);
    EXPECT_EQ(record.customRadixDisplay, 1);
    EXPECT_EQ(record.dataRadix, FdRadixDecimal);
    EXPECT_EQ(record.reserved128[7], 0x5A);
    EXPECT_EQ(record.channel[FdChannelIord], FdChannelIord);

    // --reset-settings starts from the defaults and stores them.
    result =
        RunCfdecode({capture.path(), "--settings", settings.path(), "--reset-settings", "--format", "csv"});
    ASSERT_EQ(result.status, 0) << result.err;
    record = Decoded(settings.Read());
    EXPECT_EQ(record.colour[FdColourRead], 0xFD7D3Cu);
    EXPECT_EQ(record.customRadixDisplay, 0);
}

TEST(CfdecodeCommandLine, ACleanCaptureLeavesStderrEmpty) {
    TemporaryFile capture(".vcd", BusVcd());
    const ProgramResult result = RunCfdecode({capture.path(), "--format", "csv"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("position,field_id,name,value,colour\n", 0), 0u) << result.out;
}

TEST(CfdecodeCommandLine, MapOptionsBeforeAndAfterTheCapture) {
    TemporaryFile capture(".vcd", BusVcd());
    // Swapped strobes: each --map takes one value, the capture stays the capture.
    const ProgramResult result = RunCfdecode(
        {"--map", "IORD=DIOW-", capture.path(), "--map", "IOWR=DIOR-,IORDY=IORDY", "--format", "csv"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
}

// One signal carrying two roles: both channels get all of its changes.
// Both strobes then change together at every strobe position, so no cycle
// is decoded; a channel left without changes would decode reads instead.
TEST(CfdecodeCommandLine, ASignalMayCarryTwoRoles) {
    TemporaryFile capture(".vcd", BusVcd());
    const ProgramResult plain = RunCfdecode({capture.path(), "--format", "csv", "--quiet"});
    const ProgramResult shared =
        RunCfdecode({capture.path(), "--map", "IORD=DIOW-,IOWR=DIOW-", "--format", "csv", "--quiet"});
    EXPECT_EQ(shared.status, 0) << shared.err;
    EXPECT_GT(plain.out.size(), shared.out.size());
    EXPECT_EQ(shared.out, "position,field_id,name,value,colour\n0,1,UNKNOW,1,#333333\n");
}

TEST(CfdecodeCommandLine, WarnsAboutMissingRolesAndUnknownValues) {
    const std::string text =
        "$var wire 1 ! DIOR- $end $var wire 1 \" DIOW- $end $var wire 2 # DD [1:0] $end "
        "$enddefinitions $end #0 x! 1\" b01 # #3 bzz # #4 b1z # #5";
    TemporaryFile capture(".vcd", text);
    const ProgramResult result = RunCfdecode({capture.path(), "--format", "csv"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("warning: " + capture.path() + ": 1 x values (unknown levels) read as 0\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(
        result.err.find("note: " + capture.path() + ": 3 z values (undriven lines) keep their last level\n"),
        std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("no signal named for DMARQ, DMACK, CS1, CS0, A0, A1, A2, IORDY, D2, D3"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(RunCfdecode({capture.path(), "--format", "csv", "--quiet"}).err, "");
}

TEST(CfdecodeCommandLine, HelpExplainsTheOptions) {
    const ProgramResult result = RunCfdecode({"--help"});
    EXPECT_EQ(result.status, 0);
    for (const char* option : {"--map", "--settings", "--reset-settings", "--format", "--range", "--start",
                               "--offset", "--plugin", "--language", "--color", "--all"})
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
}

}  // namespace
