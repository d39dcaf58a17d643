// The decode's cursor path against the straightforward bisection path on
// thousands of random captures: noise and scripted traffic with random
// windows, both binding paths (by number and the positional fallback),
// zero-width glitches and strobes changing together, and whole synthesized
// commands with the synthesizer's faults. Every record, the finished flag
// and the channel numbers written back into the settings must agree.
//
// FD_DIFFERENTIAL_CAPTURES (environment) overrides the number of captures
// per shard; FD_RANDOM_SEED the seed. A failure names the seed and capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>

#include "host/model/capture_image.h"
#include "plugin/decoder/decode_driver.h"
#include "plugin/decoder/record_store.h"
#include "plugin/interface/settings.h"
#include "tests/plugin/decoder/random_captures.h"
#include "tests/plugin/decoder/record_check.h"
#if FD_HAVE_SIM
#include "sim/bus.h"
#include "sim/scenarios.h"
#endif

#ifndef FD_DIFFERENTIAL_CAPTURES_PER_SHARD
#define FD_DIFFERENTIAL_CAPTURES_PER_SHARD 700
#endif

namespace {

using namespace fd::test;
namespace host = fd::host;
using Fields = std::array<int32_t, 11>;

struct Outcome {
    bool finished = false;
    std::vector<Record> records;
    Fields fields{};
};

Outcome DecodeWith(fd::QueryPath path, FdCapture& capture, const Fields& fields) {
    fd::SelectQueryPath(path);
    FdDecoderSettings& live = fd::LiveSettings();
    std::copy(fields.begin(), fields.end(), live.channel);
    Outcome outcome;
    outcome.finished = fd::DecodeAndPublish(capture);
    outcome.records = ReadRecords(capture);
    std::copy(live.channel, live.channel + 11, outcome.fields.begin());
    return outcome;
}

// Both paths on one capture; false (with a failure that names `where`) when
// they differ.
bool PathsAgree(FdCapture& capture, const Fields& fields, const std::string& where) {
    const Outcome fast = DecodeWith(fd::QueryPath::Cursors, capture, fields);
    const Outcome reference = DecodeWith(fd::QueryPath::Bisection, capture, fields);
    fd::SelectQueryPath(fd::QueryPath::Cursors);
    EXPECT_EQ(fast.finished, reference.finished) << where;
    EXPECT_EQ(fast.fields, reference.fields) << where;
    const auto mismatch = std::mismatch(fast.records.begin(), fast.records.end(), reference.records.begin(),
                                        reference.records.end());
    if (mismatch.first != fast.records.end() || mismatch.second != reference.records.end()) {
        ADD_FAILURE() << where << ": record " << (mismatch.first - fast.records.begin()) << " of "
                      << fast.records.size() << " (bisection: " << reference.records.size()
                      << ")\n  cursors   "
                      << (mismatch.first != fast.records.end() ? ::testing::PrintToString(*mismatch.first)
                                                               : "-")
                      << "\n  bisection "
                      << (mismatch.second != reference.records.end()
                              ? ::testing::PrintToString(*mismatch.second)
                              : "-");
        return false;
    }
    return !::testing::Test::HasFailure();
}

// A window around the traffic: start, range, both or neither.
void RandomWindow(Rng& rng, host::CaptureImage& image, uint32_t first, uint32_t last) {
    Scenario span;
    span.first = first;
    span.last = last;
    if (Chance(rng, 0.5)) image.SetStart(Chance(rng, 0.8) ? RandomWindowPoint(rng, span) : 0);
    if (Chance(rng, 0.3)) {
        const uint32_t start = RandomWindowPoint(rng, span);
        image.SetRange(start, Chance(rng, 0.8) ? RandomWindowPoint(rng, span) : 0xFFFFFFFFu);
    }
}

int CapturesPerShard() {
    if (const char* text = std::getenv("FD_DIFFERENTIAL_CAPTURES")) return std::max(1, std::atoi(text));
    return FD_DIFFERENTIAL_CAPTURES_PER_SHARD;
}

uint64_t BaseSeed() {
    if (const char* text = std::getenv("FD_RANDOM_SEED")) return std::strtoull(text, nullptr, 0);
    return 0xD1FF2026;
}

class DifferentialDecode : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        fd::ResetDecoder();
        fd::SetDefaults(fd::LiveSettings());
    }
    void TearDown() override { fd::ResetDecoder(); }
};

TEST_P(DifferentialDecode, RandomCapturesGiveTheSameRecords) {
    const uint64_t seed = BaseSeed() + static_cast<uint64_t>(GetParam());
    Rng rng(seed);
    const int captures = CapturesPerShard();
    int64_t records = 0;
    for (int i = 0; i < captures; ++i) {
        const Scenario scenario = Chance(rng, 0.35) ? ScriptScenario(rng) : NoiseScenario(rng);
        Numbering numbering = Number(rng, scenario);
        const uint32_t end = Chance(rng, 0.5) ? scenario.last + 1 : RandomWindowPoint(rng, scenario);
        host::CaptureImage image(std::move(numbering.specs), end);
        RandomWindow(rng, image, scenario.first, scenario.last);
        const std::string where = "seed " + std::to_string(seed) + " capture " + std::to_string(i);
        ASSERT_TRUE(PathsAgree(*image.capture(), numbering.fields, where));
        records += fd::Records().Count();
    }
    EXPECT_GT(records, captures * 2);
}

// Every combination of the ten control levels and of the strobes changing
// at one position, each in a capture of its own: the cursor path decides a
// strobe edge from a table of these snapshots. The data lines change at the
// same position as the strobes, some with zero-width glitches there, and
// lines without transitions stand for steady lows.
class SnapshotDecode : public ::testing::Test {
protected:
    void SetUp() override {
        fd::ResetDecoder();
        fd::SetDefaults(fd::LiveSettings());
    }
    void TearDown() override { fd::ResetDecoder(); }
};

TEST_F(SnapshotDecode, EveryControlSnapshotGivesTheSameRecords) {
    constexpr int kControl = 10;
    constexpr uint32_t kSnapshots = 1u << (kControl + 3);
    // Level `before` at position 1, `now` at 2 (the first transition
    // changes nothing; a list without transitions reads 0).
    const auto list = [](int before, int now, bool empty, bool glitch) {
        std::vector<uint32_t> positions;
        if (before == 1 && now == 1) positions = {0};
        if (before == 1 && now == 0) positions = {0, 2};
        if (before == 0 && now == 1) positions = {0, 1, 2};
        if (before == 0 && now == 0 && !empty) positions = {0, 1};
        if (glitch && !positions.empty()) positions.insert(positions.end(), {2, 2});
        return positions;
    };
    int64_t records = 0;
    for (uint32_t snapshot = 0; snapshot < kSnapshots; ++snapshot) {
        const uint32_t changed = (snapshot >> kControl) << 7;  // IORD, IOWR, IORDY
        const uint32_t word = (snapshot * 0x9E37u) & 0xFFFFu;
        std::vector<host::ChannelSpec> specs;
        for (int line = 0; line < 26; ++line) {
            int now = 0;
            int before = 0;
            if (line < kControl) {
                now = static_cast<int>(snapshot >> line & 1u);
                before = now ^ static_cast<int>(changed >> line & 1u);
            } else {
                now = static_cast<int>(word >> (line - kControl) & 1u);
                before = now ^ static_cast<int>((word ^ 0x5A5Au) >> (line - kControl) & 1u);
            }
            const bool empty = (line + snapshot) % 2 == 0;
            const bool glitch = line >= kControl && (line + snapshot) % 5 == 0;
            specs.push_back({"L" + std::to_string(line), line, list(before, now, empty, glitch)});
        }
        host::CaptureImage image(std::move(specs), 3);
        const Fields fields = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        ASSERT_TRUE(PathsAgree(*image.capture(), fields, "snapshot " + std::to_string(snapshot)));
        records += fd::Records().Count();
    }
    EXPECT_GT(records, int64_t{kSnapshots} + 500);  // words and register cycles among them
}

#if FD_HAVE_SIM
// Whole commands from the synthesizer, with its faults: strobes changing at
// one sample, glitches of zero and more samples, lines that start low.
TEST_P(DifferentialDecode, SynthesizedCapturesGiveTheSameRecords) {
    const uint64_t seed = BaseSeed() ^ (0x51 + static_cast<uint64_t>(GetParam()));
    Rng rng(seed);
    const auto scenarios = fd::sim::Scenarios();
    const int captures = std::max(4, CapturesPerShard() / 20);
    for (int i = 0; i < captures; ++i) {
        fd::sim::Options options;
        options.seed = static_cast<uint32_t>(Uniform(rng, 1, 1 << 30));
        options.samplePeriodNs = static_cast<double>(Uniform(rng, 2, 12));
        options.udmaMode = static_cast<int>(Uniform(rng, 0, 6));
        if (Chance(rng, 0.5)) options.faults.simultaneousEvery = static_cast<uint32_t>(Uniform(rng, 1, 40));
        if (Chance(rng, 0.5)) {
            options.faults.glitchCount = static_cast<uint32_t>(Uniform(rng, 1, 30));
            options.faults.glitchWidth = static_cast<uint32_t>(Uniform(rng, 0, 3));
        }
        if (Chance(rng, 0.2)) options.faults.startLow = {"IORD", "CS0"};
        fd::sim::Bus bus(options);
        fd::sim::ScenarioParams params;
        params.sectors = static_cast<uint32_t>(Uniform(rng, 1, 3));
        params.burstWords = Chance(rng, 0.5) ? 0 : static_cast<size_t>(Uniform(rng, 1, 300));
        params.edges = static_cast<uint64_t>(Uniform(rng, 1, 5000));
        const auto& scenario =
            scenarios[static_cast<size_t>(Uniform(rng, 0, static_cast<int64_t>(scenarios.size()) - 1))];
        fd::sim::RunScenario(bus, scenario.name, params);
        const host::Waveform waveform = bus.Finish();
        host::CaptureImage image = host::CaptureImage::FromWaveform(waveform);
        RandomWindow(rng, image, 0, waveform.endPosition);
        // Numbered in order: binding by number, or the fallback when a
        // field names no channel.
        Fields fields = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        if (Chance(rng, 0.3)) fields[static_cast<size_t>(Uniform(rng, 0, 10))] = 9999;
        const std::string where = "seed " + std::to_string(seed) + " capture " + std::to_string(i) + " (" +
                                  std::string(scenario.name) + ")";
        ASSERT_TRUE(PathsAgree(*image.capture(), fields, where));
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Shards, DifferentialDecode, ::testing::Range(0, 4));

}  // namespace
