// Long value-change sections are read in two halves on two threads and
// joined. Random dumps full of what makes the join hard (a signal's first
// value in the second half equal to or unlike its level, or undriven (z,
// which keeps a level the second half does not know yet), toggles undone at
// the same timestamp, repeated timestamps, sections and values spread over
// lines near the middle, $dumpoff stretches, errors on either side) must
// read exactly as one reader reads them, errors included.
#include <gtest/gtest.h>

#include <cctype>
#include <limits>
#include <random>
#include <string>

#include "host/formats/vcd_reader.h"

namespace {

using fd::host::CaptureFormatError;
using fd::host::CaptureReadNotes;
using fd::host::CaptureReadOptions;
using fd::host::ReadVcdText;
using fd::host::Waveform;

struct Outcome {
    Waveform waveform;
    CaptureReadNotes notes;
    std::string error;
};

Outcome Read(const std::string& text, size_t splitAbove, uint64_t offset) {
    Outcome outcome;
    CaptureReadOptions options;
    options.splitAbove = splitAbove;
    options.offset = offset;
    try {
        outcome.waveform = ReadVcdText(text, "halves.vcd", options, &outcome.notes);
    } catch (const CaptureFormatError& e) {
        outcome.error = e.what();
    }
    return outcome;
}

// Scalars with one- and two-character codes, a 4-bit vector and a real.
std::string RandomDump(std::mt19937& random, bool& broken) {
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    // Some dumps release their lines often, as a bus between cycles.
    const int undriven = chance(30) ? 40 : 5;
    std::string text =
        "$timescale 1 ns $end\n$var wire 1 ! a $end\n$var wire 1 \" b $end\n$var wire 1 #% c $end\n"
        "$var wire 4 $ v [3:0] $end\n$var real 64 & r $end\n$enddefinitions $end\n";
    const char* const eol = chance(20) ? "\r\n" : "\n";
    const uint64_t first = random() % 3 * 5;
    text += "#" + std::to_string(first) + eol + "$dumpvars" + eol + "0!" + eol + "1\"" + eol + "0#%" + eol +
            "b0 $" + eol + "$end" + eol;
    uint64_t time = first;
    const int lines = 1 + static_cast<int>(random() % 120);
    broken = false;
    for (int i = 0; i < lines; ++i) {
        const auto kind = random() % 100;
        if (kind < 25) {
            time += chance(15) ? 0 : 1 + random() % 4;  // some timestamps repeat
            text += "#" + std::to_string(time) + eol;
        } else if (kind < 60) {
            static const char* const kCodes[] = {"!", "\"", "#%"};
            const char* code = kCodes[random() % 3];
            const char value = chance(undriven) ? "zZ"[random() % 2] : "01x"[random() % (chance(90) ? 2 : 3)];
            text += std::string(1, value) + code + eol;
            if (chance(20)) text += std::string(1, value == '1' ? '0' : '1') + code + eol;  // undone at once
        } else if (kind < 75) {
            std::string bits;
            for (auto n = 1 + random() % 4; n > 0; --n)
                bits += chance(undriven) ? 'z' : "01x"[random() % (chance(90) ? 2 : 3)];
            text += "b" + bits + (chance(20) ? std::string(eol) : std::string(" ")) + "$" + eol;
        } else if (kind < 80) {
            text += "r1.5 &" + std::string(eol);
        } else if (kind < 85) {
            // A section over several lines, with what looks like a timestamp.
            text += "$comment" + std::string(eol) + "#" + std::to_string(time + 7) + eol + "1!" + eol +
                    "$end" + eol;
        } else if (kind < 88) {
            text += "$dumpall" + std::string(eol) + "#" + std::to_string(time + 1) + eol + "1!" + eol +
                    "$end" + eol;
        } else if (kind < 90) {
            // Dumping off (a stretch without data, perhaps across the
            // middle) and, mostly, on again later.
            text += "$dumpoff" + std::string(eol) + "x!" + eol + "bxxxx $" + eol + "$end" + eol;
            if (chance(70)) {
                time += 1 + random() % 4;
                text += "#" + std::to_string(time) + eol + "$dumpon" + eol + "1!" + eol + "b0110 $" + eol +
                        "$end" + eol;
            }
        } else if (kind < 92 && chance(50)) {
            // Faults: a timestamp going back, an unknown code, noise.
            static const char* const kFaults[] = {"#0", "1?", "@@"};
            text += std::string(kFaults[random() % 3]) + eol;
            broken = true;
        } else {
            text += eol;
        }
    }
    if (chance(10)) text += "$dumpoff" + std::string(eol);  // left open: refused
    return text;
}

// The dump with every timestamp at the start of a line times `factor`; the
// `odd`th of them (counting from 1; 0: none) half a factor later.
std::string Scaled(const std::string& text, uint64_t factor, uint64_t odd) {
    std::string out;
    uint64_t seen = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        size_t digits = 1;
        while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
        if (line[0] == '#' && digits > 1) {
            uint64_t time = std::stoull(line.substr(1, digits - 1)) * factor;
            if (odd != 0 && ++seen == odd % 40 + 1) time += factor / 2;
            line = "#" + std::to_string(time) + line.substr(digits);
        }
        out += line;
        at = end;
    }
    return out;
}

TEST(VcdHalves, ReadInTwoHalvesAsOneReaderReadsThem) {
    std::mt19937 random(20261210);
    int split = 0, failed = 0, released = 0, gaps = 0, counted = 0;
    for (int round = 0; round < 3000; ++round) {
        bool broken = false;
        std::string text = RandomDump(random, broken);
        const uint64_t offset = round % 5 == 0 ? random() % 8 : 0;
        // Every third dump in a finer unit, some past 32 bits of it (counted
        // in steps), a few with one timestamp off the step.
        static const uint64_t kFactors[] = {5, 1000000, 3000000000};
        if (round % 3 == 1) text = Scaled(text, kFactors[random() % 3], random() % 4 == 0 ? random() : 0);
        const Outcome one = Read(text, std::numeric_limits<size_t>::max(), offset);
        const Outcome two = Read(text, 0, offset);
        ASSERT_EQ(one.error, two.error) << text;
        if (!one.error.empty()) {
            ++failed;
            continue;
        }
        ++split;
        ASSERT_EQ(one.waveform.signals.size(), two.waveform.signals.size());
        for (size_t i = 0; i < one.waveform.signals.size(); ++i) {
            const auto& a = one.waveform.signals[i];
            const auto& b = two.waveform.signals[i];
            ASSERT_EQ(a.name, b.name);
            ASSERT_EQ(a.initialLevel, b.initialLevel) << a.name << "\n" << text;
            ASSERT_EQ(a.changes, b.changes) << a.name << "\n" << text;
        }
        ASSERT_EQ(one.waveform.endPosition, two.waveform.endPosition) << text;
        ASSERT_EQ(one.waveform.timeStep, two.waveform.timeStep) << text;
        counted += one.waveform.timeStep > 1 ? 1 : 0;
        ASSERT_EQ(one.notes.unknownValues, two.notes.unknownValues) << text;
        ASSERT_EQ(one.notes.undrivenValues, two.notes.undrivenValues) << text;
        ASSERT_EQ(one.notes.gaps, two.notes.gaps) << text;
        gaps += one.notes.gaps.empty() ? 0 : 1;
        released += one.notes.undrivenValues > 0 ? 1 : 0;
    }
    // Both kinds of outcome were met many times.
    EXPECT_GT(split, 1000);
    EXPECT_GT(failed, 100);
    EXPECT_GT(released, 500);
    EXPECT_GT(gaps, 300);
    EXPECT_GT(counted, 100);
}

}  // namespace
