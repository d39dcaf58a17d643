// The plug-in against the reference decoder on thousands of random
// captures, through the entry table of a loaded plug-in: random levels on
// all 26 lines (simultaneous strobes, glitches, equal neighbouring
// positions), scripted bus traffic with long bursts and stray line changes,
// random windows, positions near the top of the range, and random channel
// numbering that takes both binding paths. Every record and the channel
// numbers left in the settings must agree.
//
// FD_RANDOM_CAPTURES (environment) overrides the number of captures per
// shard; FD_RANDOM_SEED the seed. A failure names the seed and capture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "host/model/capture_image.h"
#include "tests/plugin/decoder/bus_fixture.h"
#include "tests/plugin/decoder/random_captures.h"
#include "tests/plugin/decoder/record_check.h"
#include "tests/plugin/decoder/reference_decoder.h"
#include "tests/support/fresh_plugin.h"

#ifndef FD_RANDOM_CAPTURES_PER_SHARD
#define FD_RANDOM_CAPTURES_PER_SHARD 600
#endif

namespace {

using namespace fd::test;
namespace host = fd::host;

int CapturesPerShard() {
    if (const char* text = std::getenv("FD_RANDOM_CAPTURES")) return std::max(1, std::atoi(text));
    return FD_RANDOM_CAPTURES_PER_SHARD;
}

uint64_t BaseSeed() {
    if (const char* text = std::getenv("FD_RANDOM_SEED")) return std::strtoull(text, nullptr, 0);
    return 0x5EED2026;
}

class RandomCaptures : public ::testing::TestWithParam<int> {};

TEST_P(RandomCaptures, AgreeWithTheReference) {
    FreshPlugin plugin;
    const FdEntryTable& t = plugin.table();
    const uint64_t seed = BaseSeed() + static_cast<uint64_t>(GetParam());
    Rng rng(seed);
    const int captures = CapturesPerShard();
    int64_t records = 0, fallbacks = 0;
    for (int i = 0; i < captures; ++i) {
        const Scenario scenario = Chance(rng, 0.35) ? ScriptScenario(rng) : NoiseScenario(rng);
        Numbering numbering = Number(rng, scenario);

        ReferenceCapture reference;
        for (const host::ChannelSpec& spec : numbering.specs)
            reference.channels.push_back({spec.number, spec.positions});
        reference.endPosition = Chance(rng, 0.5)   ? scenario.last + 1
                                : Chance(rng, 0.8) ? RandomWindowPoint(rng, scenario)
                                                   : static_cast<uint32_t>(Uniform(rng, 0, 1) * 0xFFFFFFFFLL);
        if ((reference.hasStart = Chance(rng, 0.5))) {
            reference.startPosition = Chance(rng, 0.8) ? RandomWindowPoint(rng, scenario) : 0;
        }
        if ((reference.hasRange = Chance(rng, 0.3))) {
            reference.rangeStart = RandomWindowPoint(rng, scenario);
            reference.rangeEnd = Chance(rng, 0.8) ? RandomWindowPoint(rng, scenario) : 0xFFFFFFFFu;
        }

        host::CaptureImage image(std::move(numbering.specs), reference.endPosition);
        FdCapture& capture = *image.capture();
        if (reference.hasStart) image.SetStart(reference.startPosition);
        if (reference.hasRange) image.SetRange(reference.rangeStart, reference.rangeEnd);
        if (!reference.hasStart && Chance(rng, 0.5)) capture.startPosition = 12345;  // not read

        FdDecoderSettings& live = *t.GetSettings(nullptr);
        std::copy(numbering.fields.begin(), numbering.fields.end(), live.channel);
        for (uint32_t& colour : live.colour) colour = static_cast<uint32_t>(Uniform(rng, 0, 0xFFFFFF));
        const ReferenceResult expected = ReferenceDecode(reference, numbering.fields, live);

        t.SetCapture(0, &capture);
        ASSERT_TRUE(t.Decode());
        const std::vector<Record> got = ReadRecords(capture);
        const std::string where = "seed " + std::to_string(seed) + " capture " + std::to_string(i);
        const auto mismatch =
            std::mismatch(got.begin(), got.end(), expected.records.begin(), expected.records.end());
        if (mismatch.first != got.end() || mismatch.second != expected.records.end()) {
            const auto index = mismatch.first - got.begin();
            ADD_FAILURE() << where << ": record " << index << " of " << got.size() << " (expected "
                          << expected.records.size() << ")\n  got      "
                          << (mismatch.first != got.end() ? ::testing::PrintToString(*mismatch.first) : "-")
                          << "\n  expected "
                          << (mismatch.second != expected.records.end()
                                  ? ::testing::PrintToString(*mismatch.second)
                                  : "-");
            return;
        }
        ASSERT_TRUE(std::equal(expected.channelFields.begin(), expected.channelFields.end(), live.channel))
            << where;
        records += static_cast<int64_t>(got.size());
        fallbacks += expected.channelFields != numbering.fields;

        if (Chance(rng, 0.05)) {
            ASSERT_TRUE(t.ClearResults());
            EXPECT_EQ(capture.positionList->count, 0);
            EXPECT_EQ(capture.colourList->elements, nullptr);
        }
        t.SetCapture(0, nullptr);
    }
    // The mix must exercise both binding paths and produce records.
    EXPECT_GT(fallbacks, 0);
    EXPECT_GT(records, captures * 2);
    RecordProperty("records", static_cast<int>(records));
}

INSTANTIATE_TEST_SUITE_P(Shards, RandomCaptures, ::testing::Range(0, 4));

}  // namespace

namespace {

// Transition arrays out of order decode to something unspecified, but never
// make a query read outside its array (the sanitizer build watches) and
// never leave the four lists with different counts.
TEST(UnsortedTransitions, StayInsideTheirArrays) {
    FreshPlugin plugin;
    const FdEntryTable& t = plugin.table();
    Rng rng(BaseSeed() ^ 0xBADC0DE);
    const int captures = std::max(10, CapturesPerShard() / 4);
    for (int i = 0; i < captures; ++i) {
        Scenario scenario = NoiseScenario(rng);
        for (std::vector<uint32_t>& line : scenario.lines) {
            if (Chance(rng, 0.7)) std::shuffle(line.begin(), line.end(), rng);
            if (Chance(rng, 0.1)) line.push_back(static_cast<uint32_t>(Uniform(rng, 0, 0xFFFFFFFFLL)));
        }
        Numbering numbering = Number(rng, scenario);
        host::CaptureImage image(std::move(numbering.specs), RandomWindowPoint(rng, scenario));
        if (Chance(rng, 0.5)) image.SetStart(RandomWindowPoint(rng, scenario));
        std::copy(numbering.fields.begin(), numbering.fields.end(), t.GetSettings(nullptr)->channel);
        t.SetCapture(0, image.capture());
        ASSERT_TRUE(t.Decode());
        const std::vector<Record> records = ReadRecords(*image.capture());
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.front().fieldId, 1);
        t.SetCapture(0, nullptr);
    }
}

}  // namespace
