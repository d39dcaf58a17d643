// The VCD dialects simulators and converters write, through cfdecode as a
// user runs it: the committed sample's bus (samples/mixed.vcd, written by
// cfsim) rewritten with Icarus Verilog's escaped names, VHDL bit names and
// ranges, one signal declared in two scopes, a $dumpoff stretch, extended
// VCD ($dumpports) and other ways of writing the timescale must decode to
// the sample's golden records (tests/host/cfdecode/golden/mixed.records.csv) byte for byte; a capture
// whose names say nothing must be refused rather than bound by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "host/formats/vcd_reader.h"
#include "tests/host/cfdecode/run_cfdecode.h"

namespace {

using fd::host::Signal;
using fd::host::Waveform;
using fd::test::RunCfdecode;
using fd::test::TemporaryFile;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The sample's 26 lines in binding order: DMARQ .. IORDY, D0 .. D15.
const Waveform& Bus() {
    static const Waveform bus = [] {
        const std::string path = std::string(FD_SOURCE_DIR) + "/samples/mixed.vcd";
        return fd::host::ReadVcdText(ReadFile(path), path);
    }();
    return bus;
}
const std::string& Golden() {
    static const std::string golden =
        ReadFile(std::string(FD_SOURCE_DIR) + "/tests/host/cfdecode/golden/mixed.records.csv");
    return golden;
}

constexpr const char* kRoles[10] = {"DMARQ", "DMACK", "CS1",  "CS0",  "A0",
                                    "A1",    "A2",    "IORD", "IOWR", "IORDY"};

// How a rewritten file declares and writes the bus.
struct Layout {
    std::string timescale = "1 ns";
    std::string declarations;         // between $timescale and $enddefinitions
    bool dataVector = false;          // D15 .. D0 as one variable, code V (ports: <10)
    bool ascending = false;           // that vector's leftmost bit is D0
    bool ports = false;               // extended VCD: p<state> <strength0> <strength1> <code>
    uint32_t gapFrom = 0, gapTo = 0;  // a $dumpoff .. $dumpon stretch, when gapTo > 0
};

// The code of line `i` (0 .. 25) in the rewritten file.
std::string Code(const Layout& layout, int i) {
    return layout.ports ? "<" + std::to_string(i) : std::string(1, static_cast<char>('!' + i));
}
std::string VectorCode(const Layout& layout) { return layout.ports ? "<10" : "V"; }

std::string Rewrite(const Layout& layout) {
    const Waveform& bus = Bus();
    std::map<uint32_t, std::vector<int>> toggles;
    for (int i = 0; i < 26; ++i)
        for (uint32_t at : bus.signals[static_cast<size_t>(i)].changes) toggles[at].push_back(i);
    std::vector<int> level(26);
    for (int i = 0; i < 26; ++i)
        level[static_cast<size_t>(i)] = bus.signals[static_cast<size_t>(i)].initialLevel;

    // Extended VCD: each line's states in turn, all meaning the same level.
    static const char kLow[] = "DLdl0", kHigh[] = "UHuh1";
    auto state = [&](int i, int value) { return (value ? kHigh : kLow)[i % 5]; };
    auto scalar = [&](int i, char unknown = 0) {
        const int value = level[static_cast<size_t>(i)];
        if (layout.ports)
            return std::string("p") + (unknown ? unknown : state(i, value)) + " 6 6 " + Code(layout, i) +
                   "\n";
        return std::string(1, unknown ? unknown : static_cast<char>('0' + value)) + Code(layout, i) + "\n";
    };
    auto vector = [&](char unknown = 0) {
        std::string bits;
        for (int bit = 0; bit < 16; ++bit) {
            const int line = 10 + (layout.ascending ? bit : 15 - bit);
            const int value = level[static_cast<size_t>(line)];
            bits += unknown ? unknown : layout.ports ? state(line, value) : static_cast<char>('0' + value);
        }
        return (layout.ports ? "p" + bits + " 6 6 " : "b" + bits + " ") + VectorCode(layout) + "\n";
    };
    auto everything = [&](char unknown = 0) {
        std::string text;
        for (int i = 0; i < (layout.dataVector ? 10 : 26); ++i) text += scalar(i, unknown);
        if (layout.dataVector) text += vector(unknown);
        return text;
    };

    std::string text = "$version dialect rewrite $end\n$timescale " + layout.timescale + " $end\n" +
                       layout.declarations + "$enddefinitions $end\n#0\n" +
                       (layout.ports ? "$dumpports\n" : "$dumpvars\n") + everything() + "$end\n";
    bool gapWritten = layout.gapTo == 0;
    for (const auto& [at, lines] : toggles) {
        if (!gapWritten && at >= layout.gapFrom && at <= layout.gapTo)
            ADD_FAILURE() << "a change within the gap";
        if (!gapWritten && at > layout.gapTo) {
            text += "#" + std::to_string(layout.gapFrom) + "\n" +
                    (layout.ports ? "$dumpportsoff" : "$dumpoff") + "\n" +
                    everything(layout.ports ? 'X' : 'x') + "$end\n#" + std::to_string(layout.gapTo) + "\n" +
                    (layout.ports ? "$dumpportson" : "$dumpon") + "\n" + everything() + "$end\n";
            gapWritten = true;
        }
        text += "#" + std::to_string(at) + "\n";
        bool data = false;
        for (int i : lines) {
            level[static_cast<size_t>(i)] ^= 1;
            if (i >= 10 && layout.dataVector) {
                data = true;
            } else {
                text += scalar(i);
            }
        }
        if (data) text += vector();
    }
    return text + "#" + std::to_string(bus.endPosition) + "\n";
}

// Declarations: the control lines under `names` (in role order) and the
// data lines as 16 scalars named by `bit` (with %d for the bit) or as the
// one vector `vector`.
std::string Declare(const Layout& layout, const char* type, const std::vector<std::string>& names,
                    const std::string& bit, const std::string& vector) {
    std::string text;
    for (int i = 0; i < 10; ++i)
        text += "$var " + std::string(type) + " 1 " + Code(layout, i) + " " + names[static_cast<size_t>(i)] +
                " $end\n";
    if (!vector.empty()) {
        text += "$var " + std::string(type) + " " + (layout.ports ? "[15:0]" : "16") + " " +
                VectorCode(layout) + " " + vector + " $end\n";
    } else {
        for (int d = 15; d >= 0; --d) {
            std::string name = bit;
            name.replace(name.find("%d"), 2, std::to_string(d));
            text += "$var " + std::string(type) + " 1 " + Code(layout, 10 + d) + " " + name + " $end\n";
        }
    }
    return text;
}

std::vector<std::string> RoleNames() {
    return std::vector<std::string>(std::begin(kRoles), std::end(kRoles));
}

// The widest stretch without a change, well inside the capture: where a
// $dumpoff can go without hiding anything.
std::pair<uint32_t, uint32_t> QuietStretch() {
    std::vector<uint32_t> all;
    for (const Signal& signal : Bus().signals)
        all.insert(all.end(), signal.changes.begin(), signal.changes.end());
    std::sort(all.begin(), all.end());
    std::pair<uint32_t, uint32_t> best{0, 0};
    for (size_t i = 1; i < all.size(); ++i)
        if (all[i] - all[i - 1] > best.second - best.first) best = {all[i - 1], all[i]};
    return {best.first + 1, best.second - 1};
}

struct Case {
    const char* label;
    Layout layout;
    const char* note = nullptr;  // a line cfdecode must print on stderr
};

std::vector<Case> Dialects() {
    std::vector<Case> cases;
    {
        // Icarus Verilog: escaped names keep their backslash; a vector's
        // escaped name carries the range that follows it too.
        Case c{"escaped identifiers", {}, nullptr};
        c.layout.timescale = "\n\t1ns\n";
        c.layout.dataVector = true;
        c.layout.declarations = "$scope module tb $end\n" +
                                Declare(c.layout, "reg",
                                        {"\\DMARQ", "\\-DMACK", "\\CS1#", "\\-CS0", "\\DA0", "\\A1", "\\A2#",
                                         "\\DIOR-", "\\DIOW-", "\\IORDY"},
                                        "", "\\D[15:0] [15:0]") +
                                "$upscope $end\n";
        cases.push_back(c);
    }
    {
        // VHDL bit names, declared from the top bit down.
        Case c{"VHDL bit names", {}, nullptr};
        c.layout.timescale = "1 ns";
        c.layout.declarations = "$scope module tb $end\n" +
                                Declare(c.layout, "reg",
                                        {"dmarq", "dmack_n", "cs1_n", "cs0_n", "da(0)", "da(1)", "da(2)",
                                         "dior_n", "diow_n", "iordy"},
                                        "dd(%d)", "") +
                                "$upscope $end\n";
        cases.push_back(c);
    }
    for (const bool ascending : {false, true}) {
        Case c{ascending ? "VHDL ascending range" : "VHDL descending range", {}, nullptr};
        c.layout.timescale = "1.0 ns";
        c.layout.dataVector = true;
        c.layout.ascending = ascending;
        c.layout.declarations =
            Declare(c.layout, "reg", RoleNames(), "", ascending ? "dd(0 to 15)" : "dd(15 DOWNTO 0)");
        cases.push_back(c);
    }
    {
        // A module's ports and the instance's, one code each: the instance
        // comes first, under names that say nothing and in another order.
        Case c{"one signal in two scopes", {}, nullptr};
        c.layout.dataVector = true;
        std::string inner;
        for (int i = 9; i >= 0; --i)
            inner += "$var wire 1 " + Code(c.layout, i) + " pin" + std::to_string(i) + " $end\n";
        c.layout.declarations = "$scope module tb $end\n$scope module card $end\n" + inner +
                                "$var wire 16 V pins [15:0] $end\n$upscope $end\n" +
                                Declare(c.layout, "wire", RoleNames(), "", "DD [15:0]") + "$upscope $end\n";
        cases.push_back(c);
    }
    {
        const auto [from, to] = QuietStretch();
        Case c{"$dumpoff stretch", {}, nullptr};
        c.layout.declarations = Declare(c.layout, "wire", RoleNames(), "D%d", "");
        c.layout.gapFrom = from;
        c.layout.gapTo = to;
        static std::string note;
        note = "no data from " + std::to_string(from) + " to " + std::to_string(to) +
               " ($dumpoff until $dumpon)";
        c.note = note.c_str();
        cases.push_back(c);
    }
    {
        Case c{"extended VCD", {}, nullptr};
        c.layout.ports = true;
        c.layout.dataVector = true;
        c.layout.timescale = "1\tns";
        c.layout.declarations = "$scope module cf_host $end\n" +
                                Declare(c.layout, "port", RoleNames(), "", "DD") + "$upscope $end\n";
        cases.push_back(c);
    }
    for (const char* timescale : {"1ns", "1 ns", "1.0ns", "1.00\nns", "\t1\tns\t"}) {
        Case c{"timescale", {}, nullptr};
        c.layout.timescale = timescale;
        c.layout.declarations = Declare(c.layout, "wire", RoleNames(), "D%d", "");
        cases.push_back(c);
    }
    return cases;
}

TEST(VcdDialects, DecodeToTheSampleRecords) {
    ASSERT_FALSE(Golden().empty());
    ASSERT_EQ(Bus().signals.size(), 26u);
    for (const Case& c : Dialects()) {
        const TemporaryFile file(".vcd", Rewrite(c.layout));
        const auto result = RunCfdecode({file.path(), "--format", "csv"});
        EXPECT_EQ(result.status, 0) << c.label << ": " << result.err;
        if (result.status != 0) continue;
        EXPECT_TRUE(result.out == Golden())
            << c.label << ": the records differ from the golden records; stderr: " << result.err;
        if (c.note != nullptr) {
            EXPECT_NE(result.err.find(c.note), std::string::npos) << c.label << ": " << result.err;
        }
        // Nothing was bound by a guess, nothing named twice.
        EXPECT_EQ(result.err.find("warning"), std::string::npos) << c.label << ": " << result.err;
        EXPECT_EQ(result.err.find("no signal named"), std::string::npos) << c.label << ": " << result.err;
    }
}

// An analyzer's export with default names: refused with the names and the
// ways to bind them; bound in list order only on request.
TEST(VcdDialects, GenericNamesAreRefusedUnlessBoundByPositionOnRequest) {
    Layout layout;
    std::string declarations;
    for (int i = 0; i < 26; ++i)
        declarations += "$var wire 1 " + Code(layout, i) + " Channel_" + std::to_string(i) + " $end\n";
    layout.declarations = declarations;
    const TemporaryFile file(".vcd", Rewrite(layout));
    const auto refused = RunCfdecode({file.path(), "--format", "csv"});
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_EQ(refused.out, "");
    for (const char* part : {"no signal is named for a bus control line", "Channel_0, Channel_1, Channel_2",
                             "--map ROLE=SIGNAL", "--bind-by-position"})
        EXPECT_NE(refused.err.find(part), std::string::npos) << part << ": " << refused.err;

    const auto bound = RunCfdecode({file.path(), "--format", "csv", "--bind-by-position"});
    ASSERT_EQ(bound.status, 0) << bound.err;
    EXPECT_TRUE(bound.out == Golden()) << "bound in list order, the records differ from the golden records";
    EXPECT_NE(bound.err.find("bound by list position: DMARQ=Channel_0"), std::string::npos) << bound.err;

    // --map names the lines instead.
    std::vector<std::string> arguments = {file.path(), "--format", "csv"};
    for (int i = 0; i < 26; ++i) {
        const std::string role = i < 10 ? kRoles[i] : "D" + std::to_string(i - 10);
        arguments.push_back("--map");
        arguments.push_back(role + "=Channel_" + std::to_string(i));
    }
    const auto mapped = RunCfdecode(arguments);
    ASSERT_EQ(mapped.status, 0) << mapped.err;
    EXPECT_TRUE(mapped.out == Golden()) << "mapped, the records differ from the golden records";
    EXPECT_EQ(mapped.err.find("warning"), std::string::npos) << mapped.err;
}

}  // namespace
