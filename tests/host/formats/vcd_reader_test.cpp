// The VCD reader on small hand-written dumps: names, starting levels,
// changes, the file's oddities it must accept, and the errors it must give
// (with the line) for the files it must refuse.
#include "host/formats/vcd_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using fd::host::CaptureFormatError;
using fd::host::CaptureReadNotes;
using fd::host::CaptureReadOptions;
using fd::host::ReadVcdText;
using fd::host::Signal;
using fd::host::Waveform;

const Signal& Named(const Waveform& waveform, const std::string& name) {
    for (const Signal& signal : waveform.signals)
        if (signal.name == name) return signal;
    ADD_FAILURE() << "no signal " << name;
    static const Signal kNone{};
    return kNone;
}

std::vector<std::string> Names(const Waveform& waveform) {
    std::vector<std::string> names;
    for (const Signal& signal : waveform.signals) names.push_back(signal.name);
    return names;
}

TEST(VcdReader, ScalarsVectorsAndStartingLevels) {
    const char* text = R"($date Mon $end
$version sigrok-cli $end
$comment
  Acquisition with 3/3 channels $end
$timescale 10 ns $end
$scope module cf $end
$var wire 1 ! IORD- $end
$var wire 1 " IOWR $end
$var wire 4 # D [3:0] $end
$var wire 2 $% A[0:1] $end
$upscope $end
$enddefinitions $end
#0
$dumpvars
1!
0"
b1010 #
b01 $%
$end
#5
0!
b11 #
#7
1!
1"
#12
)";
    CaptureReadNotes notes;
    const Waveform waveform = ReadVcdText(text, "fixture.vcd", {}, &notes);
    EXPECT_EQ(Names(waveform),
              (std::vector<std::string>{"IORD-", "IOWR", "D3", "D2", "D1", "D0", "A0", "A1"}));
    EXPECT_DOUBLE_EQ(waveform.secondsPerPosition, 10e-9);
    EXPECT_EQ(waveform.endPosition, 12u);
    EXPECT_EQ(notes.unknownValues, 0u);

    EXPECT_EQ(Named(waveform, "IORD-").initialLevel, 1);
    EXPECT_EQ(Named(waveform, "IORD-").changes, (std::vector<uint32_t>{5, 7}));
    EXPECT_EQ(Named(waveform, "IOWR").initialLevel, 0);
    EXPECT_EQ(Named(waveform, "IOWR").changes, (std::vector<uint32_t>{7}));
    // 1010 then 0011 (a short value is extended with 0).
    EXPECT_EQ(Named(waveform, "D3").initialLevel, 1);
    EXPECT_EQ(Named(waveform, "D3").changes, (std::vector<uint32_t>{5}));
    EXPECT_EQ(Named(waveform, "D2").changes, (std::vector<uint32_t>{}));
    EXPECT_EQ(Named(waveform, "D1").changes, (std::vector<uint32_t>{}));
    EXPECT_EQ(Named(waveform, "D1").initialLevel, 1);
    EXPECT_EQ(Named(waveform, "D0").changes, (std::vector<uint32_t>{5}));
    // [0:1]: the leftmost bit is A0.
    EXPECT_EQ(Named(waveform, "A0").initialLevel, 0);
    EXPECT_EQ(Named(waveform, "A1").initialLevel, 1);
}

TEST(VcdReader, UnknownValuesReadAsZeroAndAreCounted) {
    const char* text =
        "$var wire 1 a x $end $var wire 4 b v $end $enddefinitions $end\n"
        "#0 xa bx b\n#3 1a b1x b\n#4 xa bU1Wh b\n";
    CaptureReadNotes notes;
    const Waveform waveform = ReadVcdText(text, "x.vcd", {}, &notes);
    // bx extends to xxxx (4), x (1), then b1x -> 001x (1), x (1), U and W (2).
    EXPECT_EQ(notes.unknownValues, 9u);
    EXPECT_EQ(notes.undrivenValues, 0u);
    EXPECT_EQ(Named(waveform, "x").initialLevel, 0);
    EXPECT_EQ(Named(waveform, "x").changes, (std::vector<uint32_t>{3, 4}));
    EXPECT_EQ(Named(waveform, "v1").changes, (std::vector<uint32_t>{3, 4}));  // 1, then W: unknown
    EXPECT_EQ(Named(waveform, "v0").changes, (std::vector<uint32_t>{4}));     // h: a weak 1
}

// A line nobody drives (z) keeps the level it had, as a logic analyzer's
// input sees a released bus; before its first driven value it reads 0.
TEST(VcdReader, UndrivenLinesKeepTheirLastLevel) {
    struct Expected {
        const char* signal;
        uint8_t initial;
        std::vector<uint32_t> changes;
    };
    const struct {
        const char* label;
        const char* changes;  // after the header below
        uint64_t offset;
        uint64_t undriven, unknown;
        std::vector<Expected> expected;
    } cases[] = {
        {"scalar released and driven again",
         "#0 1s #3 zs #5 1s #7 0s #9 Zs #11 1s #12",
         0,
         2,
         0,
         {{"s", 1, {7, 11}}}},
        {"bus released between cycles",
         "#0 b1010 d #2 bzzzz d #4 b1010 d #6 bz d #8 b0101 d #9",
         0,
         8,
         0,
         {{"d3", 1, {8}}, {"d2", 0, {8}}, {"d1", 1, {8}}, {"d0", 0, {8}}}},
        {"some bits released",
         "#0 b0011 d #2 b10zz d #4 b0000 d #5",
         0,
         2,
         0,
         {{"d3", 0, {2, 4}}, {"d2", 0, {}}, {"d1", 1, {4}}, {"d0", 1, {4}}}},
        {"x beside z",
         "#0 b1111 d #2 bx1Z0 d #3",
         0,
         1,
         1,
         {{"d3", 1, {2}}, {"d2", 1, {}}, {"d1", 1, {}}, {"d0", 1, {2}}}},
        {"undriven from the start",
         "#0 $dumpvars zs bz d $end #3 1s b0110 d #4 zs bzzzz d #6",
         0,
         10,
         0,
         {{"s", 0, {3}}, {"d2", 0, {3}}, {"d0", 0, {}}}},
        {"released before the offset",
         "#0 1s b1001 d #2 zs bz d #4 0s #6",
         3,
         5,
         0,
         {{"s", 1, {1}}, {"d3", 1, {}}, {"d0", 1, {}}}},
        {"a one-character z given to a vector",
         "#0 b1001 d #2 zd #4 1d #5",
         0,
         4,
         0,
         {{"d3", 1, {4}}, {"d0", 1, {}}}},
        {"z at the time of a change undoes nothing",
         "#0 0s #2 1s zs #3 zs 0s #4",
         0,
         2,
         0,
         {{"s", 0, {2, 3}}}},
    };
    for (const auto& c : cases) {
        const std::string text =
            std::string("$var wire 1 s s $end $var wire 4 d d [3:0] $end $enddefinitions $end\n") +
            c.changes + "\n";
        CaptureReadOptions options;
        options.offset = c.offset;
        CaptureReadNotes notes;
        const Waveform waveform = ReadVcdText(text, "z.vcd", options, &notes);
        EXPECT_EQ(notes.undrivenValues, c.undriven) << c.label;
        EXPECT_EQ(notes.unknownValues, c.unknown) << c.label;
        for (const Expected& e : c.expected) {
            EXPECT_EQ(Named(waveform, e.signal).initialLevel, e.initial) << c.label << ": " << e.signal;
            EXPECT_EQ(Named(waveform, e.signal).changes, e.changes) << c.label << ": " << e.signal;
        }
    }
}

TEST(VcdReader, TimescalesBeyondTheStandardThree) {
    const struct {
        const char* timescale;
        double seconds;
    } cases[] = {{"1 s", 1.0}, {"100ms", 0.1}, {"10 us", 1e-5}, {"41667 ps", 41667e-12}, {"1fs", 1e-15}};
    for (const auto& c : cases) {
        const std::string text =
            std::string("$timescale ") + c.timescale + " $end $var wire 1 ! s $end $enddefinitions $end";
        EXPECT_DOUBLE_EQ(ReadVcdText(text, "t.vcd").secondsPerPosition, c.seconds) << c.timescale;
    }
}

TEST(VcdReader, ValuesAtTheFirstTimestampAreStartingLevels) {
    // No $dumpvars, first timestamp above 0: what it sets holds from 0 on,
    // so no edge is made up at the first timestamp.
    const Waveform waveform =
        ReadVcdText("$var wire 1 ! s $end $enddefinitions $end #40 1! #50 0! #60 1! #60 0! #70", "late.vcd");
    const Signal& s = Named(waveform, "s");
    EXPECT_EQ(s.initialLevel, 1);
    // The two changes at #60 leave the level where it was.
    EXPECT_EQ(s.changes, (std::vector<uint32_t>{50}));
    EXPECT_EQ(waveform.endPosition, 70u);
}

TEST(VcdReader, OffsetShiftsTimesAndFoldsEarlierValuesIntoTheStart) {
    CaptureReadOptions options;
    options.offset = 0x100000000ull;
    const Waveform waveform = ReadVcdText(
        "$var wire 1 ! s $end $enddefinitions $end #0 0! #4294967300 1! #4294967306 0! #8589934590\n",
        "big.vcd", options);
    const Signal& s = Named(waveform, "s");
    EXPECT_EQ(s.initialLevel, 0);
    EXPECT_EQ(s.changes, (std::vector<uint32_t>{4, 10}));
    EXPECT_EQ(waveform.endPosition, 0xFFFFFFFEu);
}

TEST(VcdReader, TimestampsNearTheTopOfTheRange) {
    const Waveform waveform = ReadVcdText(
        "$var wire 1 ! s $end $enddefinitions $end #0 0! #4294967290 1! #4294967295 0!", "sparse.vcd");
    EXPECT_EQ(Named(waveform, "s").changes, (std::vector<uint32_t>{4294967290u, 4294967295u}));
    EXPECT_EQ(waveform.endPosition, 4294967295u);
}

// Past 32 bits of its units a capture counts the step its changes, gaps
// and end fall on; one that fits keeps its own units.
TEST(VcdReader, LongCapturesCountTheirTimeStep) {
    struct Case {
        const char* label;
        std::string changes;  // after "$timescale 1 fs" and one signal s
        uint64_t offset;
        std::vector<uint32_t> positions;
        uint32_t end;
        uint64_t step;
    };
    const Case cases[] = {
        {"fits: own units", "#0 0! #5000000 1! #4000000000 0!", 0, {5000000, 4000000000u}, 4000000000u, 1},
        {"5 ns steps",
         "#0 0! #5000000 1! #10000000 0! #6000000000000 1!",
         0,
         {1, 2, 1200000},
         1200000,
         5000000},
        // The step shrinks after counting began: what was counted is scaled.
        {"step shrinks",
         "#0 0! #6000000000 1! #6000000000000 0! #6000002000000 1! #6000003000000",
         0,
         {6000, 6000000, 6000002},
         6000003,
         1000000},
        // A timestamp off the step with no change at it leaves no mark.
        {"changes decide", "#0 0! #5000000000 1! #7500000000 #10000000000 0!", 0, {1, 2}, 2, 5000000000},
        {"after the offset", "#0 0! #1000000007 1! #9000000007 0!", 7, {1, 9}, 9, 1000000000},
    };
    for (const Case& c : cases) {
        CaptureReadOptions options;
        options.offset = c.offset;
        const Waveform waveform =
            ReadVcdText("$timescale 1 fs $end $var wire 1 ! s $end $enddefinitions $end " + c.changes,
                        "fine.vcd", options);
        EXPECT_EQ(Named(waveform, "s").changes, c.positions) << c.label;
        EXPECT_EQ(waveform.endPosition, c.end) << c.label;
        EXPECT_EQ(waveform.timeStep, c.step) << c.label;
        EXPECT_DOUBLE_EQ(waveform.secondsPerPosition, 1e-15 * static_cast<double>(c.step)) << c.label;
    }
}

// Timestamps of every length, with leading zeros, ending in each kind of
// white space, in a long run of lines (where the reader takes them eight
// digits at a time) and at the end of the file.
TEST(VcdReader, TimestampsOfEveryLength) {
    for (int digits = 1; digits <= 20; ++digits) {
        for (const char* end : {"\n", " ", "\r\n", "\t"}) {
            std::string time = "1";
            for (int d = 1; d < digits; ++d) time += static_cast<char>('0' + (d * 7) % 10);
            const std::string padded = "000" + time;
            const uint64_t value = std::stoull(time);
            CaptureReadOptions options;
            options.offset = value > 0xFFFFFFFFull ? value - 5 : 0;
            std::string text = "$var wire 1 ! s $end $var wire 1 \" q $end $enddefinitions $end\n#0\n0!\n";
            text += "#" + padded + end + "1!" + end;
            for (int line = 0; line < 8; ++line) text += line % 2 ? "0\"\n" : "1\"\n";  // a long run after it
            text += "#" + padded + "\n";
            const Waveform waveform = ReadVcdText(text, "digits.vcd", options);
            EXPECT_EQ(Named(waveform, "s").changes,
                      std::vector<uint32_t>{static_cast<uint32_t>(value - options.offset)})
                << digits << " digits";
        }
    }
}

TEST(VcdReader, ScopesAliasesAndIgnoredVariables) {
    const char* text = R"($scope module tb $end
$var wire 1 ! IORD $end
$var real 64 " vcc $end
$var wire 1 # clk $end
$scope module dut $end
$var wire 1 ! dior_n $end
$var wire 1 $ clk $end
$upscope $end
$upscope $end
$enddefinitions $end
#0 1! r3.3 " 0# 1$
#2 0!
)";
    CaptureReadNotes notes;
    const Waveform waveform = ReadVcdText(text, "sim.vcd", {}, &notes);
    // dior_n shares IORD's code and is dropped; the two clk get their scope.
    EXPECT_EQ(Names(waveform), (std::vector<std::string>{"IORD", "tb.clk", "tb.dut.clk"}));
    EXPECT_EQ(notes.aliases, 1u);
    EXPECT_EQ(notes.ignoredVariables, 1u);
    EXPECT_EQ(Named(waveform, "IORD").changes, (std::vector<uint32_t>{2}));
}

TEST(VcdReader, SingleBitSelectsAndLongIdentifierCodes) {
    const char* text =
        "$var wire 1 ab% cs [1] $end $var wire 1 abcdefghij cs [0] $end $enddefinitions $end\n"
        "#0 1ab% 0abcdefghij #9 0ab% 1abcdefghij\n";
    const Waveform waveform = ReadVcdText(text, "bits.vcd");
    EXPECT_EQ(Names(waveform), (std::vector<std::string>{"cs1", "cs0"}));
    EXPECT_EQ(Named(waveform, "cs0").changes, (std::vector<uint32_t>{9}));
}

// The names simulators give their variables: Verilog escaped identifiers
// (the backslash is no part of the name), VHDL bit selects and ranges, and
// extended VCD's ranges in place of the size.
TEST(VcdReader, NamesAsSimulatorsWriteThem) {
    const struct {
        const char* declaration;  // what follows "$var "
        std::vector<std::string> names;
    } cases[] = {
        {"wire 1 ! \\-CS0 $end", {"-CS0"}},
        {"reg 1 ! \\CS1# $end", {"CS1#"}},
        {"reg 3 ! \\D[2:0] [2:0] $end", {"D2", "D1", "D0"}},  // Icarus: the name's range and the range
        {"reg 3 ! \\D[2:0] $end", {"D2", "D1", "D0"}},
        {"reg 2 ! \\bus[7:6] [1:0] $end",
         {"bus[7:6]1", "bus[7:6]0"}},  // a name's range that is not the vector's
        {"reg 1 ! dd(0) $end", {"dd0"}},
        {"reg 1 ! dd (12) $end", {"dd12"}},
        {"reg 3 ! dd(2 downto 0) $end", {"dd2", "dd1", "dd0"}},
        {"reg 3 ! dd (0 TO 2) $end", {"dd0", "dd1", "dd2"}},
        {"reg 3 ! dd(4 downto 0) $end",
         {"dd(4downto0)2", "dd(4downto0)1", "dd(4downto0)0"}},  // wrong width: kept
        {"reg 1 ! f(x) $end", {"f(x)"}},
        {"port [2:0] <5 DA $end", {"DA2", "DA1", "DA0"}},
        {"port [0:1] <5 A $end", {"A0", "A1"}},
        {"port 1 <5 \\IORD- $end", {"IORD-"}},
        {"wire 1 ! \\ $end", {"\\"}},
    };
    for (const auto& c : cases) {
        const std::string text = std::string("$var ") + c.declaration + " $enddefinitions $end\n#0\n";
        EXPECT_EQ(Names(ReadVcdText(text, "names.vcd")), c.names) << c.declaration;
    }
}

// One identifier code declared in several scopes is one signal, shown by
// its name nearest the top (the first there) and known by the others.
TEST(VcdReader, AliasesAreOneSignalKnownByEveryName) {
    const char* text = R"($scope module tb $end
$scope module dut $end
$var wire 1 ! dior_n $end
$var wire 2 " da [1:0] $end
$var wire 1 # clk $end
$var wire 1 $ other $end
$upscope $end
$var wire 1 ! IORD $end
$var wire 1 ! strobe $end
$var wire 2 " DA [1:0] $end
$var wire 1 # clk $end
$var wire 3 " wrong [2:0] $end
$upscope $end
$var wire 1 ! top_iord $end
$enddefinitions $end
#0 1! b10 " 0# 0$
#2 0!
)";
    CaptureReadNotes notes;
    const Waveform waveform = ReadVcdText(text, "alias.vcd", {}, &notes);
    EXPECT_EQ(Names(waveform), (std::vector<std::string>{"top_iord", "DA1", "DA0", "clk", "other"}));
    EXPECT_EQ(notes.aliases, 6u);
    using Alias = std::pair<size_t, std::string>;
    // In declaration order; clk has the same name in both scopes.
    EXPECT_EQ(waveform.aliases,
              (std::vector<Alias>{{0, "dior_n"}, {0, "strobe"}, {1, "da1"}, {2, "da0"}, {0, "IORD"}}));
    EXPECT_EQ(Named(waveform, "top_iord").changes, (std::vector<uint32_t>{2}));
    EXPECT_EQ(Named(waveform, "DA1").initialLevel, 1);
}

// $dumpoff .. $dumpon: no data, so the lines keep the levels they had; the
// x values the writer lists are not read, and the stretch is noted.
TEST(VcdReader, DumpoffStretchesHoldTheLevelsAndAreNoted) {
    const struct {
        const char* label;
        const char* changes;
        std::vector<uint32_t> s, d0;
        std::vector<std::pair<uint32_t, uint32_t>> gaps;
    } cases[] = {
        {"off and on",
         "#0 1s b01 d #10 0s #20 $dumpoff xs bxx d $end #30 $dumpon 0s b01 d $end #35 1s #40",
         {10, 35},
         {},
         {{20, 30}}},
        {"changed while off",
         "#0 1s b01 d #20 $dumpoff xs bxx d $end #30 $dumpon 0s b10 d $end #40",
         {30},
         {30},
         {{20, 30}}},
        {"never on again", "#0 1s b01 d #20 $dumpoff xs bxx d $end #25 #40", {}, {}, {{20, 40}}},
        {"two stretches",
         "#0 1s #5 $dumpoff xs $end #6 $dumpon 1s $end #7 0s #8 $dumpoff xs $end #9 $dumpon 0s $end #10",
         {7},
         {},
         {{5, 6}, {8, 9}}},
        {"dumpall and dumpon without an off",
         "#0 1s b01 d #5 $dumpall 1s b01 d $end #6 $dumpon 0s b01 d $end #7",
         {6},
         {},
         {}},
        {"extended VCD",
         "#0 1s b01 d #20 $dumpportsoff xs $end #30 $dumpportson 0s $end #40",
         {30},
         {},
         {{20, 30}}},
        {"off until the close", "#0 1s #20 $dumpportsoff xs $end #30 $vcdclose #45 $end", {}, {}, {{20, 45}}},
    };
    for (const auto& c : cases) {
        // A line each, so that two readers may split the changes.
        std::string text =
            std::string("$var wire 1 s s $end $var wire 2 d d [1:0] $end $enddefinitions $end\n") + c.changes;
        for (size_t at = text.find(" #"); at != std::string::npos; at = text.find(" #", at)) text[at] = '\n';
        text += "\n";
        for (const size_t splitAbove : {size_t{1} << 20, size_t{0}}) {
            CaptureReadOptions options;
            options.splitAbove = splitAbove;
            CaptureReadNotes notes;
            const Waveform waveform = ReadVcdText(text, "off.vcd", options, &notes);
            EXPECT_EQ(Named(waveform, "s").changes, c.s) << c.label;
            EXPECT_EQ(Named(waveform, "d0").changes, c.d0) << c.label;
            EXPECT_EQ(notes.gaps, c.gaps) << c.label;
            EXPECT_EQ(notes.unknownValues, 0u) << c.label;
        }
    }
}

// Extended VCD ($dumpports): each state is the level the line is at,
// whoever drives it; three-state keeps the level as z does, the unknown
// states keep it too, counted apart.
TEST(VcdReader, ExtendedVcdPortStates) {
    const struct {
        char state;
        int level;  // -1: keeps the level (1 before it)
        bool undriven;
    } cases[] = {
        {'D', 0, false},  {'d', 0, false},  {'L', 0, false},  {'l', 0, false},  {'0', 0, false},
        {'U', 1, false},  {'u', 1, false},  {'H', 1, false},  {'h', 1, false},  {'1', 1, false},
        {'Z', -1, true},  {'T', -1, true},  {'F', -1, true},  {'f', -1, true},  {'N', -1, false},
        {'X', -1, false}, {'?', -1, false}, {'A', -1, false}, {'a', -1, false}, {'B', -1, false},
        {'b', -1, false}, {'C', -1, false}, {'c', -1, false},
    };
    for (const auto& c : cases) {
        // Starts high, then the state at 5, then low at 9.
        const std::string text =
            std::string("$scope module top $end $var port 1 <0 s $end $var port [1:0] <1 v $end ") +
            "$upscope $end $enddefinitions $end\n#0 $dumpports pU 6 6 <0 pHD 0 6 <1 $end\n#5 p" + c.state +
            " 6 6 <0 p" + c.state + "d 6 6 <1\n#9 pD 6 0 <0\n#10\n";
        CaptureReadNotes notes;
        const Waveform waveform = ReadVcdText(text, "ports.vcd", {}, &notes);
        // Low at 5, else (high or kept) low only at 9.
        EXPECT_EQ(Named(waveform, "s").changes,
                  c.level == 0 ? std::vector<uint32_t>{5} : std::vector<uint32_t>{9})
            << c.state;
        EXPECT_EQ(Named(waveform, "v1").changes,
                  c.level == 0 ? std::vector<uint32_t>{5} : std::vector<uint32_t>{})
            << c.state;
        EXPECT_EQ(Named(waveform, "v0").changes, (std::vector<uint32_t>{})) << c.state;
        EXPECT_EQ(notes.undrivenValues, c.undriven ? 2u : 0u) << c.state;
        EXPECT_EQ(notes.heldUnknowns, c.level == -1 && !c.undriven ? 2u : 0u) << c.state;
        EXPECT_EQ(notes.unknownValues, 0u) << c.state;
    }
}

TEST(VcdReader, TimescalesWithAFractionOfZerosAndSpaces) {
    const struct {
        const char* timescale;
        double seconds;
        bool noted = false;  // a unit without a length of its own: one unit, said in a note
    } cases[] = {{"1.0 ns", 1e-9},    {"1ns", 1e-9},           {"1.0ps", 1e-12},   {"100 ps", 1e-10},
                 {"10.00\tus", 1e-5}, {"\n\t1\n\tns\n", 1e-9}, {"1 . 0 ns", 1e-9}, {"0ps", 1e-12, true},
                 {"ps", 1e-12, true}, {"0.0 ns", 1e-9, true}};
    for (const auto& c : cases) {
        const std::string text =
            std::string("$timescale ") + c.timescale + " $end $var wire 1 ! s $end $enddefinitions $end";
        CaptureReadNotes notes;
        EXPECT_DOUBLE_EQ(ReadVcdText(text, "t.vcd", {}, &notes).secondsPerPosition, c.seconds) << c.timescale;
        EXPECT_EQ(notes.formatNotes.size(), c.noted ? 1u : 0u) << c.timescale;
    }
}

struct BadCase {
    const char* label;
    const char* text;
    int line;
    const char* expected;  // part of the message
};

// Long runs of changes, with changes cancelled at one timestamp right at
// the reader's storage boundaries (64, 128, 256 ... entries), in both the
// short and the long timestamp notations and codes.
TEST(VcdReader, LongRunsAndCancelledChangesAcrossStorageBoundaries) {
    for (const size_t toggles :
         {size_t{63}, size_t{64}, size_t{65}, size_t{192}, size_t{193}, size_t{1000}}) {
        std::string text =
            "$timescale 1 ns $end\n$var wire 1 ! S $end\n$var wire 1 %% L $end\n$enddefinitions $end\n"
            "#0\n0!\n0%%\n";
        std::vector<uint32_t> expected;
        int level = 0;
        for (size_t i = 1; i <= toggles; ++i) {
            level ^= 1;
            const std::string value = std::to_string(level);
            text += "#" + std::to_string(i * 10) + "\n" + value + "!\n" + value + "%%\n";
            expected.push_back(static_cast<uint32_t>(i * 10));
            // A change undone at once, after a boundary's first entry.
            if (i % 64 == 1 || i == toggles) {
                text += std::string(1, static_cast<char>('0' + (level ^ 1))) + "!\n" + value + "!\n";
            }
        }
        // Cancelled at the very end: the last change goes.
        text += "#" + std::to_string(toggles * 10 + 10) + "\n" + std::to_string(level ^ 1) + "!\n" +
                std::to_string(level) + "!\n";
        const Waveform waveform = ReadVcdText(text, "long.vcd");
        EXPECT_EQ(Named(waveform, "S").changes, expected) << toggles;
        EXPECT_EQ(Named(waveform, "L").changes, expected) << toggles;
    }
}

TEST(VcdReader, RefusesMalformedFilesNamingTheLine) {
    const BadCase cases[] = {
        {"empty", "", 1, "empty file"},
        {"blank", " \n\n ", 3, "empty file"},
        {"no definitions end", "$var wire 1 ! a $end\n", 2, "expected $enddefinitions"},
        {"no signals", "$enddefinitions $end\n#0\n", 1, "declares no signals"},
        {"unclosed comment", "$comment\nhello\n", 1, "$comment has no $end"},
        {"var cut short", "$var wire 1 !", 1, "expected a variable name"},
        {"bad size", "$var wire x ! a $end $enddefinitions $end", 1, "variable size"},
        {"bad timescale unit", "$timescale 1 ks $end", 1, "expected a timescale"},
        {"timescale in exponent notation", "$timescale 1e3 ps $end", 1, "expected a timescale"},
        {"timescale without a unit", "\n$timescale 10 $end", 2, "expected a timescale"},
        {"text in header", "$var wire 1 ! a $end\nhello\n", 2, "expected a header section"},
        {"unknown code", "$var wire 1 ! a $end $enddefinitions $end\n#0\n1?\n", 3,
         "unknown identifier code '?'"},
        {"value without code", "$var wire 1 ! a $end $enddefinitions $end\n#0\n1\n", 3, "identifier code"},
        {"vector cut short", "$var wire 2 ! a $end $enddefinitions $end\n#0\nb01", 3, "binary value"},
        {"bad vector digit", "$var wire 2 ! a $end $enddefinitions $end\n#0\nb0q !\n", 3, "binary digits"},
        {"bad timestamp", "$var wire 1 ! a $end $enddefinitions $end\n#1x\n", 2, "expected a timestamp"},
        {"empty timestamp", "$var wire 1 ! a $end $enddefinitions $end\n#\n", 2, "expected a timestamp"},
        {"time goes back", "$var wire 1 ! a $end $enddefinitions $end\n#5\n#4\n", 3, "goes back"},
        {"beyond 32 bits", "$var wire 1 ! a $end $enddefinitions $end\n#0\n#1\n1!\n#4294967296\n", 5,
         "--offset"},
        {"beyond 2^32 steps",
         "$var wire 1 ! a $end $enddefinitions $end\n#0\n#10\n1!\n#42949672950\n#42949672965\n", 6,
         "longer than 2^32 of its steps (it spans 42949672965 in steps of 5"},
        {"huge timestamp", "$var wire 1 ! a $end $enddefinitions $end\n#99999999999999999999999\n", 2,
         "too large"},
        {"truncated dumpvars", "$var wire 1 ! a $end $enddefinitions $end\n#0\n$dumpvars\n1!\n", 3,
         "truncated"},
        {"garbage", "$var wire 1 ! a $end $enddefinitions $end\n#0\n@@@\n", 3,
         "expected a timestamp (#) or a value"},
        {"stray end", "$var wire 1 ! a $end $enddefinitions $end\n$end\n", 2, "$end without"},
        {"fraction timescale", "\n$timescale 1.5 ns $end", 2,
         "timescale '1.5 ns' is not a whole number of ns"},
        {"half a unit", "$timescale 0.5ps $end", 1, "not a whole number of ps"},
        {"bad port range", "$var port [15 <0 a $end", 1, "port's range"},
        {"port state", "$var port 1 <0 a $end $enddefinitions $end\n#0\npQ 6 6 <0\n", 3,
         "expected port states"},
        {"port without strengths", "$var port 1 <0 a $end $enddefinitions $end\n#0\npD <0\n", 3,
         "two strengths"},
        {"port strength", "$var port 1 <0 a $end $enddefinitions $end\n#0\npD 8 0 <0\n", 3, "two strengths"},
        {"port unknown code", "$var port 1 <0 a $end $enddefinitions $end\n#0\npD 6 0 <1\n", 3,
         "unknown identifier code '<1'"},
        {"truncated dumpoff", "$var wire 1 ! a $end $enddefinitions $end\n#0\n#5 $dumpoff x!\n", 3,
         "$dumpoff has no $end"},
    };
    for (const BadCase& c : cases) {
        try {
            ReadVcdText(c.text, "bad.vcd");
            ADD_FAILURE() << c.label << ": accepted";
        } catch (const CaptureFormatError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("bad.vcd: line " + std::to_string(c.line) + ": "), std::string::npos)
                << c.label << ": " << message;
            EXPECT_NE(message.find(c.expected), std::string::npos) << c.label << ": " << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << c.label;
        }
    }
}

// Random bytes and random cuts of a good file are refused or read; never a
// crash (the asan preset watches this).
TEST(VcdReader, SurvivesCutsAndNoise) {
    const std::string good =
        "$timescale 1ns $end $scope module a $end $var wire 8 ! bus [7:0] $end "
        "$var wire 1 \" s $end $upscope $end $enddefinitions $end\n"
        "#0 $dumpvars b0 ! 0\" $end\n#10 b10110 ! 1\"\n#20 bx1 ! 0\"\n#30\n";
    std::mt19937 random(7);
    for (size_t cut = 0; cut <= good.size(); ++cut) {
        try {
            ReadVcdText(std::string_view(good).substr(0, cut), "cut.vcd");
        } catch (const CaptureFormatError&) {
        }
    }
    for (int round = 0; round < 2000; ++round) {
        std::string noisy = good;
        for (int flips = 0; flips < 3; ++flips)
            noisy[random() % noisy.size()] = static_cast<char>(random() % 128);
        try {
            ReadVcdText(noisy, "noisy.vcd");
        } catch (const CaptureFormatError&) {
        }
    }
}

TEST(ReadCapture, ReadsAFileAndNamesAMissingOne) {
    namespace fs = std::filesystem;
    const fs::path path =
        fs::temp_directory_path() / ("vcd-reader-" + std::to_string(std::random_device{}()) + ".dump");
    {
        std::ofstream out(path);
        out << "\n  $var wire 1 ! s $end $enddefinitions $end #0 1! #3 0! #9\n";
    }
    // Found by its content: the extension is not .vcd.
    const Waveform waveform = fd::host::ReadCapture(path.string());
    EXPECT_EQ(Named(waveform, "s").changes, (std::vector<uint32_t>{3}));
    fs::remove(path);
    try {
        fd::host::ReadCapture(path.string());
        ADD_FAILURE() << "read a missing file";
    } catch (const CaptureFormatError& e) {
        EXPECT_NE(std::string(e.what()).find(path.string() + ": cannot open"), std::string::npos) << e.what();
    }
}

}  // namespace
