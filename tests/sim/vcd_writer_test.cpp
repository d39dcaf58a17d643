// The VCD writer: small waveforms against their expected text (undriven
// stretches as z), the choice of time unit, and synthesized captures read
// back value for value.
#include "sim/vcd_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "sim/bus.h"

namespace {

using fd::host::Waveform;

TEST(VcdWriter, SmallWaveformMatchesGoldenText) {
    Waveform waveform;
    waveform.secondsPerPosition = 10e-9;
    waveform.endPosition = 20;
    waveform.signals = {
        {"IORD", 1, {3, 7}},
        {"IOWR", 1, {7, 7}},  // a zero-width glitch
        {"D0", 0, {0, 5}},    // a change at 0 only sets the starting level
    };
    std::ostringstream out;
    fd::sim::WriteVcd(out, waveform);
    EXPECT_EQ(out.str(),
              "$version flashdecode cfsim $end\n"
              "$timescale 10 ns $end\n"
              "$scope module cf $end\n"
              "$var wire 1 ! IORD $end\n"
              "$var wire 1 \" IOWR $end\n"
              "$var wire 1 # D0 $end\n"
              "$upscope $end\n"
              "$enddefinitions $end\n"
              "#0\n"
              "$dumpvars\n"
              "1!\n"
              "1\"\n"
              "1#\n"
              "$end\n"
              "#3\n"
              "0!\n"
              "#5\n"
              "0#\n"
              "#7\n"
              "1!\n"
              "0\"\n"
              "1\"\n"
              "#20\n");
}

TEST(VcdWriter, UndrivenStretchesAreWrittenAsZ) {
    Waveform waveform;
    waveform.secondsPerPosition = 1e-9;
    waveform.endPosition = 30;
    waveform.signals = {
        {"IORD", 1, {4, 12}},
        {"D0", 0, {6, 9, 14, 20}},  // 9: a change nobody drives, not written
        {"D1", 1, {}},
    };
    fd::sim::VcdOptions options;
    // D0: undriven from the start to 6, from 8 to 14 and from 25 past the end;
    // an empty stretch changes nothing. D1 is let go at 20 and never driven again.
    options.undriven = {{}, {{0, 6}, {8, 14}, {16, 16}, {25, 0xFFFFFFFFu}}, {{20, 40}}};
    std::ostringstream out;
    fd::sim::WriteVcd(out, waveform, options);
    EXPECT_EQ(out.str(),
              "$version flashdecode cfsim $end\n"
              "$timescale 1 ns $end\n"
              "$scope module cf $end\n"
              "$var wire 1 ! IORD $end\n"
              "$var wire 1 \" D0 $end\n"
              "$var wire 1 # D1 $end\n"
              "$upscope $end\n"
              "$enddefinitions $end\n"
              "#0\n"
              "$dumpvars\n"
              "1!\n"
              "z\"\n"
              "1#\n"
              "$end\n"
              "#4\n"
              "0!\n"
              "#6\n"
              "1\"\n"
              "#8\n"
              "z\"\n"
              "#12\n"
              "1!\n"
              "#14\n"
              "1\"\n"
              "#20\n"
              "0\"\n"
              "z#\n"
              "#25\n"
              "z\"\n"
              "#30\n");
}

TEST(VcdWriter, TimescaleIsTheLargestUnitThatDividesThePeriod) {
    struct Case {
        double period;
        const char* text;
        double units;
    };
    const Case cases[] = {
        {5e-9, "1 ns", 5}, {10e-9, "10 ns", 1}, {2.5e-9, "100 ps", 25}, {1e-6, "1 us", 1},
        {4e-9, "1 ns", 4}, {1.0, "1 s", 1},     {0, "1 ns", 1},         {250e-12, "10 ps", 25},
    };
    for (const Case& c : cases) {
        const auto timescale = fd::sim::ChooseTimescale(c.period);
        EXPECT_EQ(timescale.text, c.text) << c.period;
        EXPECT_DOUBLE_EQ(timescale.unitsPerSample, c.units) << c.period;
    }
}

TEST(VcdWriter, IdentifiersAreShortAndDistinct) {
    EXPECT_EQ(fd::sim::VcdIdentifier(0), "!");
    EXPECT_EQ(fd::sim::VcdIdentifier(93), "~");
    EXPECT_EQ(fd::sim::VcdIdentifier(94).size(), 2u);
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < 20000; ++i) {
        const std::string code = fd::sim::VcdIdentifier(i);
        for (char c : code) ASSERT_TRUE(c >= '!' && c <= '~');
        ASSERT_TRUE(seen.emplace(code, i).second) << i << " repeats " << seen[code];
    }
}

// Reads back what WriteVcd writes (one scope, 1-bit wires, no vectors). A
// z keeps the level the signal had, as a sample-based format does.
Waveform ReadBack(const std::string& text, double unitsPerSample) {
    std::istringstream in(text);
    Waveform waveform;
    std::map<std::string, size_t> byCode;
    std::vector<uint8_t> level;
    std::string token;
    uint64_t time = 0;
    bool dumpvars = false;
    bool definitions = true;
    while (in >> token) {
        if (token == "$enddefinitions") definitions = false;
        if (token == "$var") {
            std::string type, width, code, name, end;
            in >> type >> width >> code >> name >> end;
            byCode[code] = waveform.signals.size();
            waveform.signals.push_back({name, 0, {}});
            level.push_back(0);
        } else if (token == "$dumpvars") {
            dumpvars = true;
        } else if (token == "$end") {
            dumpvars = false;
        } else if (token[0] == '#') {
            time = std::stoull(token.substr(1));
            waveform.endPosition = static_cast<uint32_t>(time / static_cast<uint64_t>(unitsPerSample));
        } else if (!definitions && (token[0] == '0' || token[0] == '1')) {
            const size_t index = byCode.at(token.substr(1));
            auto& signal = waveform.signals.at(index);
            const auto value = static_cast<uint8_t>(token[0] - '0');
            if (dumpvars) {
                signal.initialLevel = value;
            } else if (value != level[index]) {
                signal.changes.push_back(static_cast<uint32_t>(time / static_cast<uint64_t>(unitsPerSample)));
            }
            level[index] = value;
        }
    }
    return waveform;
}

TEST(VcdWriter, SynthesizedCapturesReadBackUnchanged) {
    for (bool ideal : {false, true}) {
        SCOPED_TRACE(ideal ? "ideal bus" : "realistic bus");
        fd::sim::Options options;
        options.samplePeriodNs = 4;
        options.intrq = true;
        options.timing.ideal = ideal;
        fd::sim::Bus bus(options);
        bus.WriteRegister(fd::sim::Reg::Command, 0xC8);
        bus.ReadRegister(fd::sim::Reg::Status, 0x58);
        bus.UdmaIn(std::vector<uint16_t>{1, 0xFFFF, 0x8001, 0x1234, 0x5555});
        bus.MwdmaIn(std::vector<uint16_t>{0xA5A5, 0x5A5A});
        bus.AddGlitch(fd::sim::kIordy, bus.Now() + 3, 0);
        bus.Idle(40);
        const Waveform waveform = bus.Finish();
        std::ostringstream out;
        fd::sim::WriteVcd(out, waveform, fd::sim::VcdOptionsFor(bus.transcript(), waveform));
        const std::string text = out.str();
        // Only the data lines go undriven, and only on the realistic bus.
        EXPECT_EQ(text.find("\nz") != std::string::npos, !ideal);
        const Waveform back = ReadBack(text, 4);
        ASSERT_EQ(back.signals.size(), waveform.signals.size());
        for (size_t i = 0; i < back.signals.size(); ++i) {
            EXPECT_EQ(back.signals[i].name, waveform.signals[i].name);
            EXPECT_EQ(back.signals[i].initialLevel, waveform.signals[i].initialLevel) << i;
            EXPECT_EQ(back.signals[i].changes, waveform.signals[i].changes) << waveform.signals[i].name;
        }
        EXPECT_EQ(back.endPosition, waveform.endPosition);
    }
}

TEST(VcdWriter, FailingStreamThrows) {
    Waveform waveform;
    waveform.signals = {{"IORD", 1, {3}}};
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_THROW(fd::sim::WriteVcd(out, waveform), std::ios_base::failure);
}

}  // namespace
