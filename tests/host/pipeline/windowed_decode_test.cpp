// Decoding window by window gives the records of one decode of the whole
// capture, record for record and field for field: random captures (noise
// on every line and scripted bus traffic) and every cfsim scenario, with
// windows as small as the cut points allow, with and without a decode
// window of the user's.
#include "host/pipeline/windowed_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "host/cfdecode/signal_map.h"
#include "sim/bus.h"
#include "sim/scenarios.h"
#include "tests/plugin/decoder/random_captures.h"

namespace {

using namespace fd::host;
using fd::test::Rng;

class WindowedDecode : public ::testing::Test {
protected:
    void SetUp() override {
        host_.ResetSettings();
        std::array<int32_t, 11> channels{};
        for (int32_t i = 0; i < 11; ++i) channels[static_cast<size_t>(i)] = i;
        host_.SetChannelNumbers(channels);
    }

    // Windowed and whole decode agree; returns the windows it took.
    size_t ExpectSameAsWhole(const std::vector<CaptureChannel>& channels, uint64_t end,
                             const DecodeWindow& window, uint64_t windowTransitions) {
        const std::vector<DecodedRecord> whole = DecodeWhole(host_, channels, end, window);
        WindowedDecodeOptions options;
        options.windowTransitions = windowTransitions;
        WindowedDecodeResult result;
        const std::vector<DecodedRecord> windowed =
            DecodeInWindows(host_, channels, end, window, options, &result);
        EXPECT_EQ(windowed.size(), whole.size());
        const auto mismatch = std::mismatch(windowed.begin(), windowed.end(), whole.begin(), whole.end());
        if (mismatch.first != windowed.end() || mismatch.second != whole.end()) {
            const size_t at = static_cast<size_t>(mismatch.first - windowed.begin());
            ADD_FAILURE() << "record " << at << " of " << whole.size() << " differs (" << result.windows
                          << " windows); whole: "
                          << (at < whole.size() ? std::to_string(whole[at].position) + " id " +
                                                      std::to_string(whole[at].fieldId)
                                                : "none")
                          << ", windowed: "
                          << (at < windowed.size() ? std::to_string(windowed[at].position) + " id " +
                                                         std::to_string(windowed[at].fieldId)
                                                   : "none");
        }
        EXPECT_TRUE(result.note.empty()) << result.note;
        return result.windows;
    }

    PluginHost host_{PluginLibrary::DefaultPath()};
};

// The random captures' lines are the plug-in's transition lists: level 1
// before the first entry, each further one a toggle (two at one position
// cancel).
std::vector<CaptureChannel> FromTransitionLists(const fd::test::Scenario& scenario) {
    std::vector<CaptureChannel> channels;
    for (size_t line = 0; line < scenario.lines.size(); ++line) {
        std::vector<uint32_t> list = scenario.lines[line];
        CaptureChannel channel{RoleName(static_cast<int>(line)), static_cast<int32_t>(line), {}};
        channel.signal.initialLevel = 1;
        if (!list.empty()) list.erase(list.begin());
        std::sort(list.begin(), list.end());
        for (const uint32_t p : list) {
            std::vector<uint32_t>& changes = channel.signal.changes;
            if (!changes.empty() && changes.back() == p) {
                changes.pop_back();
            } else {
                changes.push_back(p);
            }
        }
        channels.push_back(std::move(channel));
    }
    return channels;
}

TEST_F(WindowedDecode, RandomCapturesGiveTheWholeDecodesRecords) {
    Rng rng(0x19D1FF);
    size_t cut = 0;
    for (int i = 0; i < 2000; ++i) {
        const fd::test::Scenario scenario =
            fd::test::Chance(rng, 0.7) ? fd::test::ScriptScenario(rng) : fd::test::NoiseScenario(rng);
        const std::vector<CaptureChannel> channels = FromTransitionLists(scenario);
        const uint64_t end = std::min<uint64_t>(
            uint64_t{scenario.last} + static_cast<uint64_t>(fd::test::Uniform(rng, 1, 20)), UINT32_MAX);
        DecodeWindow window;
        if (fd::test::Chance(rng, 0.3)) {
            window.hasStart = true;
            window.start = fd::test::RandomWindowPoint(rng, scenario);
        }
        if (fd::test::Chance(rng, 0.3)) {
            window.hasRange = true;
            window.rangeStart = fd::test::RandomWindowPoint(rng, scenario);
            window.rangeEnd = std::max(window.rangeStart, fd::test::RandomWindowPoint(rng, scenario));
        }
        SCOPED_TRACE("capture " + std::to_string(i));
        const size_t windows =
            ExpectSameAsWhole(channels, end, window, static_cast<uint64_t>(fd::test::Uniform(rng, 1, 64)));
        cut += windows > 1 ? 1 : 0;
        if (HasFailure()) break;
    }
    EXPECT_GT(cut, 60u);  // the cut points were found and used
}

TEST_F(WindowedDecode, EveryCfsimScenarioGivesTheWholeDecodesRecords) {
    for (const bool ideal : {false, true}) {
        for (const fd::sim::ScenarioInfo& info : fd::sim::Scenarios()) {
            SCOPED_TRACE(std::string(info.name) + (ideal ? ", ideal bus" : ", realistic bus"));
            fd::sim::Options options;
            options.timing.ideal = ideal;
            fd::sim::Bus bus(options);
            fd::sim::ScenarioParams params;
            params.sectors = 2;
            params.burstWords = 200;
            params.edges = 20'000;
            const size_t commands = fd::sim::RunScenario(bus, info.name, params).size();
            Waveform waveform = bus.Finish();
            const ChannelPlan plan = PlanChannels(waveform, {});
            const std::vector<CaptureChannel> channels = CaptureChannels(waveform, plan);
            const size_t windows = ExpectSameAsWhole(channels, waveform.endPosition, {}, 1);
            if (commands > 2) {
                EXPECT_GT(windows, 1u) << commands << " commands";
            }
        }
    }
}

// From the last cut on (here: the first command's), the rest is one window.
TEST_F(WindowedDecode, AStretchWithoutACutPointPastTheBoundIsDecodedWhole) {
    fd::sim::Bus bus;
    fd::sim::ScenarioParams params;
    params.edges = 20'000;
    fd::sim::RunScenario(bus, "bench", params);
    Waveform waveform = bus.Finish();
    const ChannelPlan plan = PlanChannels(waveform, {});
    const std::vector<CaptureChannel> channels = CaptureChannels(waveform, plan);
    WindowedDecodeOptions options;
    options.windowTransitions = 1;
    options.cutBound = 100;  // less than a burst
    WindowedDecodeResult result;
    const std::vector<DecodedRecord> windowed =
        DecodeInWindows(host_, channels, waveform.endPosition, {}, options, &result);
    EXPECT_LE(result.windows, 2u);
    EXPECT_NE(result.note.find("no cut point within 100 transitions"), std::string::npos) << result.note;
    const std::vector<DecodedRecord> whole = DecodeWhole(host_, channels, waveform.endPosition, {});
    EXPECT_TRUE(windowed == whole);
}

// A capture of more than 2^32 positions, made as it is decoded and never
// held: one synthesized command (task file, READ DMA, its burst, STATUS)
// every 2^30 positions, six times. Each command decodes as the second of
// two does in a whole decode, at its own 64-bit positions.
TEST_F(WindowedDecode, ACaptureLongerThan32BitsOfPositionsKeepsItsOwnPositions) {
    fd::sim::Bus bus;
    fd::sim::ScenarioParams params;
    params.sectors = 1;
    params.burstWords = 128;
    fd::sim::RunScenario(bus, "udma-read", params);
    Waveform command = bus.Finish();
    const ChannelPlan plan = PlanChannels(command, {});
    const std::vector<CaptureChannel> one = CaptureChannels(command, plan);
    constexpr uint64_t kPeriod = uint64_t{1} << 30;
    constexpr int kRepeats = 6;
    ASSERT_LT(uint64_t{command.endPosition} + 2, kPeriod);

    // Command number k's changes, each line back at its starting level
    // after it.
    const auto changesOf = [&](int k) {
        std::vector<std::vector<uint64_t>> changes(one.size());
        for (size_t i = 0; i < one.size(); ++i) {
            for (const uint32_t p : one[i].signal.changes) changes[i].push_back(k * kPeriod + p);
            if (one[i].signal.changes.size() % 2 != 0)
                changes[i].push_back(k * kPeriod + command.endPosition + 1);
        }
        return changes;
    };

    // The reference: the first two commands in one decode.
    std::vector<CaptureChannel> two = one;
    for (CaptureChannel& channel : two) channel.signal.changes.clear();
    for (const int k : {0, 1}) {
        const std::vector<std::vector<uint64_t>> changes = changesOf(k);
        for (size_t i = 0; i < two.size(); ++i)
            for (const uint64_t p : changes[i]) two[i].signal.changes.push_back(static_cast<uint32_t>(p));
    }
    const std::vector<DecodedRecord> reference = DecodeWhole(host_, two, 2 * kPeriod, {});
    const auto second = std::find_if(reference.begin(), reference.end(),
                                     [](const DecodedRecord& r) { return r.position >= kPeriod; });
    ASSERT_NE(second, reference.end());
    std::vector<DecodedRecord> expected(reference.begin(), second);
    for (int k = 1; k < kRepeats; ++k) {
        for (auto it = second; it != reference.end(); ++it) {
            DecodedRecord r = *it;
            r.position += (k - 1) * kPeriod;
            expected.push_back(r);
        }
    }

    std::vector<WindowedDecoder::Channel> described;
    for (const CaptureChannel& channel : one)
        described.push_back({channel.name, channel.number, channel.signal.initialLevel});
    WindowedDecodeOptions options;
    options.windowTransitions = 1;
    size_t seen = 0;
    bool same = true;
    WindowedDecoder decoder(host_, described, 0, UINT64_MAX, FdLanguageEnglish, options,
                            [&](const std::vector<DecodedRecord>& records) {
                                for (const DecodedRecord& r : records) {
                                    if (seen >= expected.size() || !(r == expected[seen])) {
                                        if (same)
                                            ADD_FAILURE() << "record " << seen << " at " << r.position
                                                          << " id " << r.fieldId;
                                        same = false;
                                    }
                                    ++seen;
                                }
                            });
    for (int k = 0; k < kRepeats; ++k) decoder.Feed(changesOf(k), (k + 1) * kPeriod);
    const WindowedDecodeResult result = decoder.Finish(kRepeats * kPeriod, kRepeats * kPeriod);
    EXPECT_EQ(seen, expected.size());
    EXPECT_TRUE(same);
    EXPECT_GE(result.windows, static_cast<size_t>(kRepeats));
    EXPECT_GT(expected.back().position, uint64_t{1} << 32);
}

}  // namespace
