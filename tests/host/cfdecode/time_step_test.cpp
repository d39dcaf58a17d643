// A capture written in a much finer time unit than its bus moves in (GHDL's
// 1 fs, a 1 ps dump) decodes as its coarse original does: the same records,
// transactions and timing warnings at the same times, given in the file's
// own units, whether it fits 32 bits of them or has to be counted in its
// step. Ranges are typed in the file's units too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "tests/host/cfdecode/run_cfdecode.h"
#include "tests/support/synthesized_vcd.h"

namespace {

using fd::test::ProgramResult;
using fd::test::RunCfdecode;
using fd::test::SynthesizedVcd;
using fd::test::TemporaryFile;

// The same dump in another timescale: every timestamp times `factor`.
std::string Rescaled(const std::string& vcd, const std::string& timescale, uint64_t factor) {
    std::istringstream in(vcd);
    std::string out, line;
    bool replaced = false;
    while (std::getline(in, line)) {
        if (line.rfind("$timescale", 0) == 0) {
            line = "$timescale " + timescale + " $end";
            replaced = true;
        } else if (line.size() > 1 && line[0] == '#' && std::isdigit(static_cast<unsigned char>(line[1]))) {
            line = "#" + std::to_string(std::stoull(line.substr(1)) * factor);
        }
        out += line + '\n';
    }
    EXPECT_TRUE(replaced) << "the dump has no one-line $timescale";
    return out;
}

// Multiplies the given comma-separated columns of every line but the first.
std::string ScaledCsv(const std::string& text, std::vector<size_t> columns, uint64_t factor) {
    std::istringstream in(text);
    std::string out, line;
    bool header = true;
    while (std::getline(in, line)) {
        if (!header) {
            std::vector<std::string> cells(1);  // the fixtures quote no commas
            for (char c : line) {
                if (c == ',') {
                    cells.emplace_back();
                } else {
                    cells.back().push_back(c);
                }
            }
            for (size_t column : columns)
                if (column < cells.size())
                    cells[column] = std::to_string(std::stoull(cells[column]) * factor);
            line.clear();
            for (size_t i = 0; i < cells.size(); ++i) line += (i == 0 ? "" : ",") + cells[i];
        }
        header = false;
        out += line + '\n';
    }
    return out;
}

// The timing report's position column times `factor`, as the report prints it.
std::string ScaledTiming(const std::string& text, uint64_t factor) {
    std::istringstream in(text);
    std::string out, line;
    while (std::getline(in, line)) {
        unsigned long long position = 0;
        int used = 0;
        if (line.find(" ns  ") != std::string::npos &&
            std::sscanf(line.c_str(), "%llu%n", &position, &used) == 1) {
            char number[32];
            std::snprintf(number, sizeof number, "%10llu", position * factor);
            line = number + line.substr(static_cast<size_t>(used));
        }
        out += line + '\n';
    }
    return out;
}

ProgramResult Decoded(const std::vector<std::string>& arguments) {
    ProgramResult result = RunCfdecode(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    return result;
}

TEST(CfdecodeTimeStep, FinerTimescalesDecodeAsTheOriginalAtTheFilesOwnTimes) {
    fd::sim::Options options;
    options.faults.shortStrobeEvery = 10;
    options.faults.lateDataEvery = 20;
    const std::string original = SynthesizedVcd("udma-read", options);
    const TemporaryFile coarse(".vcd", original);
    const ProgramResult records = Decoded({coarse.path(), "--format", "csv"});
    const ProgramResult transactions = Decoded({coarse.path(), "--view", "transactions", "--format", "csv"});
    const ProgramResult timing = Decoded({coarse.path(), "--timing", "--mode", "udma4"});
    ASSERT_NE(timing.out.find("timing warnings"), std::string::npos);
    ASSERT_GT(std::count(records.out.begin(), records.out.end(), '\n'), 100);
    EXPECT_EQ(records.err.find("steps"), std::string::npos) << records.err;

    struct Variant {
        const char* timescale;
        uint64_t factor;
        // Too long for 32 bits of its units, the capture is counted in its
        // step, and a note says so; "" when it fits.
        const char* note;
    };
    const Variant variants[] = {
        {"1 fs", 1000000,
         "every change falls on a multiple of 5 ns (5000000 steps of 1 fs); positions count those steps"},
        {"2 fs", 500000,
         "every change falls on a multiple of 5 ns (2500000 steps of 2 fs)"},  // no power of ten
        {"1 ps", 1000, ""},  // still within 32 bits of picoseconds
        {"10 ps", 100, ""},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(std::string(v.timescale) + " x" + std::to_string(v.factor));
        const TemporaryFile fine(".vcd", Rescaled(original, v.timescale, v.factor));
        const ProgramResult r = Decoded({fine.path(), "--format", "csv"});
        EXPECT_EQ(r.out, ScaledCsv(records.out, {0}, v.factor));
        if (*v.note != 0) {
            EXPECT_NE(r.err.find(v.note), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err.find("steps"), std::string::npos) << r.err;
        }
        EXPECT_EQ(Decoded({fine.path(), "--format", "csv", "--quiet"}).err, "");
        EXPECT_EQ(Decoded({fine.path(), "--view", "transactions", "--format", "csv"}).out,
                  ScaledCsv(transactions.out, {2, 3}, v.factor));
        EXPECT_EQ(Decoded({fine.path(), "--timing", "--mode", "udma4"}).out,
                  ScaledTiming(timing.out, v.factor));
    }
}

TEST(CfdecodeTimeStep, RangesAreInTheFilesUnitsAndRoundInward) {
    const std::string original = SynthesizedVcd("pio-read", {});
    const TemporaryFile coarse(".vcd", original);
    const uint64_t factor = 1000000;
    const TemporaryFile fine(".vcd", Rescaled(original, "1 fs", factor));
    const ProgramResult all = Decoded({coarse.path(), "--format", "csv"});
    // A window around the middle third of the records.
    std::vector<uint64_t> positions;
    std::istringstream lines(all.out);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) positions.push_back(std::stoull(line));
    ASSERT_GT(positions.size(), 30u);
    const uint64_t from = positions[positions.size() / 3], to = positions[2 * positions.size() / 3];
    const std::string range = std::to_string(from) + ":" + std::to_string(to);
    const ProgramResult part = Decoded({coarse.path(), "--format", "csv", "--range", range});
    ASSERT_LT(part.out.size(), all.out.size());
    const std::string expected = ScaledCsv(part.out, {0}, factor);
    EXPECT_EQ(Decoded({fine.path(), "--format", "csv", "--range",
                       std::to_string(from * factor) + ":" + std::to_string(to * factor)})
                  .out,
              expected);
    // Times between two steps: the window still holds exactly what lies
    // between them.
    EXPECT_EQ(Decoded({fine.path(), "--format", "csv", "--range",
                       std::to_string(from * factor - 1) + ":" + std::to_string(to * factor + 1)})
                  .out,
              expected);
    const ProgramResult empty =
        RunCfdecode({fine.path(), "--range",
                     std::to_string(from * factor + 1) + ":" + std::to_string(from * factor + 2)});
    EXPECT_EQ(empty.status, 2);
    EXPECT_NE(empty.err.find("holds no position of the capture"), std::string::npos) << empty.err;
}

TEST(CfdecodeTimeStep, LongerThan2To32StepsIsRefusedInOneLine) {
    const TemporaryFile capture(
        ".vcd",
        "$timescale 1 fs $end\n$var wire 1 ! IORD- $end\n$var wire 1 \" IOWR- $end\n"
        "$enddefinitions $end\n#0\n1!\n1\"\n#1000\n0!\n#1001\n1!\n#5000000000000\n0!\n");
    const ProgramResult result = RunCfdecode({capture.path()});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find(
                  "line 12: timestamp #5000000000000 lies beyond 32 bits of positions: the capture is "
                  "longer than 2^32 of its steps (it spans 5000000000000 in steps of 1, timescale 1 fs)"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("--offset"), std::string::npos) << result.err;
}

}  // namespace
