// What cfdecode says about the strobes at the edges of the decode window
// and where both strobes change at once, on buses of three lines: where the
// line is drawn (a rise at the window's end itself, a fall at its start,
// DMACK- moving with the strobes) and which records make a warning.
#include "host/cfdecode/strobe_checks.h"

#include <gtest/gtest.h>

namespace {

using namespace fd::host;

// DMACK-, DIOR- and DIOW-, each as its starting level and the positions
// where it toggles: "1 10 20".
struct Lines {
    const char* dmack;
    const char* dior;
    const char* diow;
};

Signal Line(const char* name, const std::string& text) {
    Signal signal{name, static_cast<uint8_t>(text[0] - '0'), {}};
    for (size_t at = text.find(' '); at != std::string::npos; at = text.find(' ', at + 1))
        signal.changes.push_back(static_cast<uint32_t>(std::stoul(text.substr(at + 1))));
    return signal;
}

std::vector<std::string> Warnings(const Lines& lines, const DecodeWindow& window, uint32_t end,
                                  const std::vector<DecodedRecord>& records) {
    Waveform waveform;
    waveform.endPosition = end;
    waveform.signals = {Line("DMACK-", lines.dmack), Line("DIOR-", lines.dior), Line("DIOW-", lines.diow)};
    const ChannelPlan plan = PlanChannels(waveform, {});
    const StrobeFacts facts = GatherStrobeFacts(waveform, plan, DecodeBounds(window, end));
    return StrobeWarnings(facts, RecordList(records));
}

DecodeWindow Range(uint32_t start, uint32_t end) {
    DecodeWindow window;
    window.hasRange = true;
    window.rangeStart = start;
    window.rangeEnd = end;
    return window;
}

DecodeWindow Start(uint32_t start) {
    DecodeWindow window;
    window.hasStart = true;
    window.start = start;
    return window;
}

TEST(StrobeChecks, SaysWhatTheDecodeCouldNotSee) {
    const std::string heldRead =
        "DIOR- is still asserted at the end of the decode window (20): the data of the cycle at 10 were "
        "taken at 19, the window's last sample";
    const struct {
        const char* label;
        Lines lines;
        DecodeWindow window;
        std::vector<DecodedRecord> records;
        std::vector<std::string> expected;
    } cases[] = {
        {"a STATUS read held to the end", {"1", "1 10", "1"}, {}, {{10, 0x50, 4011}}, {heldRead}},
        {"a PIO read held to the end", {"1", "1 3 6 10", "1"}, {}, {{3, 1, 4002}, {10, 2, 4002}}, {heldRead}},
        {"a multiword DMA write held to the end",
         {"0", "1", "1 12"},
         {},
         {{12, 0x1234, 4018}},
         {"DIOW- is still asserted at the end of the decode window (20): the data of the cycle at 12 were "
          "taken at 19, the window's last sample"}},
        {"rising at the end itself", {"1", "1 10 20", "1"}, {}, {{10, 0x50, 4011}}, {}},
        {"no cycle decoded at the fall", {"0", "1 10", "1"}, {}, {{10, 7, 4032}}, {}},
        {"the end of a range",
         {"1", "1 10 17", "1"},
         Range(0, 15),
         {{10, 0x50, 4011}},
         {"DIOR- is still asserted at the end of the decode window (15): the data of the cycle at 10 were "
          "taken at 14, the window's last sample"}},
        {"asserted from the start",
         {"1", "0 5", "1"},
         {},
         {},
         {"DIOR- is already asserted at the start of the decode window (0): the cycle under way there is not "
          "decoded"}},
        {"falling at the start position",
         {"1", "1", "1 12 14"},
         Start(12),
         {},
         {"DIOW- is already asserted at the start of the decode window (12): the cycle under way there is "
          "not decoded"}},
        {"asserted from the start inside DMA", {"0", "0 5", "1"}, {}, {}, {}},
        {"both asserted from the start", {"1", "0 5", "0 6"}, {}, {}, {}},
        {"asserted throughout", {"1", "0", "1"}, {}, {}, {}},
        {"both strobes falling and rising together",
         {"1", "1 8 11", "1 8 11"},
         {},
         {},
         {"2 positions where DIOR- and DIOW- change together outside DMA were not decoded (the first at 8)"}},
        {"DMACK- rising with them", {"0 11", "1 8 11", "1 2 11"}, {}, {}, {}},
        {"DMACK- falling with them", {"1 8", "1 8 11", "1 8 11"}, {}, {}, {}},
        {"one outside DMA, one at a burst's end",
         {"1 8 16", "1 4 5 16", "1 4 9 16"},
         {},
         {},
         {"1 position where DIOR- and DIOW- change together outside DMA was not decoded (the first at 4)"}},
        {"only inside the window",
         {"1", "1 2 3 8 9", "1 2 3 8 9 15"},
         Range(3, 15),
         {},
         {"2 positions where DIOR- and DIOW- change together outside DMA were not decoded (the first at 8)"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Warnings(c.lines, c.window, 20, c.records), c.expected) << c.label;
    }
}

}  // namespace
