// Level and edge queries on transition lists.
#include "plugin/capture/capture_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/support/owned_channel.h"

namespace {

struct LevelCase {
    std::vector<uint32_t> positions;
    uint32_t at;
    int level;
    int edge;
};

class LevelTable : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelTable, LevelAndEdgeKind) {
    const LevelCase& c = GetParam();
    fd::test::OwnedChannel f(c.positions);
    EXPECT_EQ(fd::Level(f.channel, c.at), c.level);
    EXPECT_EQ(fd::EdgeKind(f.channel, c.at), c.edge);
    EXPECT_EQ(fd::IsRisingEdge(f.channel, c.at), c.edge == fd::kEdgeRising);
    EXPECT_EQ(fd::IsFallingEdge(f.channel, c.at), c.edge == fd::kEdgeFalling);
}

const std::vector<uint32_t> k123 = {100, 200, 300};
const std::vector<uint32_t> kStartsLow = {0, 0, 50};

INSTANTIATE_TEST_SUITE_P(
    Cases, LevelTable,
    ::testing::Values(
        // Level 1 before and from the first position, alternating after.
        LevelCase{k123, 0, 1, -1}, LevelCase{k123, 99, 1, -1}, LevelCase{k123, 100, 1, -1},
        LevelCase{k123, 199, 1, -1}, LevelCase{k123, 200, 0, 1}, LevelCase{k123, 250, 0, -1},
        LevelCase{k123, 299, 0, -1}, LevelCase{k123, 300, 1, 0}, LevelCase{k123, 0xFFFFFFFF, 1, -1},
        // Two equal first positions: low from the start.
        LevelCase{kStartsLow, 0, 0, -1}, LevelCase{kStartsLow, 49, 0, -1}, LevelCase{kStartsLow, 50, 1, 0},
        // One entry: high everywhere, no edges.
        LevelCase{{70}, 0, 1, -1}, LevelCase{{70}, 70, 1, -1}, LevelCase{{70}, 71, 1, -1},
        // Empty: low everywhere, no edges.
        LevelCase{{}, 0, 0, -1}, LevelCase{{}, 5, 0, -1},
        // Position 0 is never an edge, whatever the list says.
        LevelCase{{0, 0}, 0, 0, -1},
        // Unsigned comparison above 2^31.
        LevelCase{{10, 0x80000000u}, 0x80000000u, 0, 1}, LevelCase{{10, 0x80000000u}, 0x7FFFFFFFu, 1, -1},
        // Equal neighbours in the middle: the later index governs.
        LevelCase{{10, 20, 20, 30}, 20, 1, -1}, LevelCase{{10, 20, 20, 30}, 30, 0, 1}));

TEST(FindTransition, IndexOfGoverningTransition) {
    fd::test::OwnedChannel f({5, 10, 15, 20, 25});
    const struct {
        uint32_t at;
        int32_t index;
    } cases[] = {
        {0, 0}, {4, 0}, {5, 0}, {9, 0}, {10, 1}, {14, 1}, {15, 2}, {24, 3}, {25, 4}, {1000, 4},
    };
    for (const auto& c : cases) EXPECT_EQ(fd::FindTransition(f.channel, c.at), c.index) << c.at;
}

TEST(ReadLevel, EmptyListLeavesOutputAlone) {
    fd::test::OwnedChannel f({});
    int level = 7;
    EXPECT_FALSE(fd::ReadLevel(f.channel, 3, level));
    EXPECT_EQ(level, 7);
    FdChannel noList{};
    EXPECT_FALSE(fd::ReadLevel(noList, 3, level));
    EXPECT_EQ(fd::Level(noList, 3), 0);
}

TEST(FindTransition, UnsortedListStaysInBounds) {
    // Whatever an unsorted list answers, every query terminates inside it.
    fd::test::OwnedChannel f({900, 5, 700, 1, 400, 2, 2, 0, 0xDEADBEEF});
    f.list.count -= 1;  // the last element is a guard the queries must not read
    for (uint32_t at = 0; at < 1000; at += 7) {
        const int32_t index = fd::FindTransition(f.channel, at);
        EXPECT_GE(index, 0);
        EXPECT_LT(index, f.list.count);
    }
}

TEST(CaptureStart, OnlyWhenFlagged) {
    FdCapture capture{};
    capture.startPosition = 1234;
    EXPECT_EQ(fd::CaptureStart(capture), 0u);
    capture.hasStartPosition = 1;
    EXPECT_EQ(fd::CaptureStart(capture), 1234u);
}

}  // namespace

struct HeldCase {
    std::vector<uint32_t> positions;
    uint32_t at;
    uint32_t limit;
    uint32_t until;
};

TEST(LevelHeldUntil, FirstPositionWhereTheLevelDiffers) {
    const HeldCase cases[] = {
        {k123, 0, 1000, 200},     // the first transition changes nothing
        {k123, 150, 1000, 200},   //
        {k123, 200, 1000, 300},   // from a transition's own position
        {k123, 299, 1000, 300},   //
        {k123, 300, 1000, 1000},  // holds to the limit
        {k123, 150, 200, 200},    // a change at the limit is past it
        {k123, 150, 180, 180},    //
        {kStartsLow, 0, 1000, 50},
        {{10, 20, 20, 30}, 10, 1000, 30},          // a pulse of no width ends nothing
        {{10, 20, 25, 25, 25, 40}, 22, 1000, 25},  // three at one position: one change
        {{70}, 0, 500, 500},
        {{}, 3, 500, 500},
        {{10, 0xFFFFFFF0u}, 20, 0xFFFFFFFFu, 0xFFFFFFF0u},
    };
    for (const HeldCase& c : cases) {
        fd::test::OwnedChannel f(c.positions);
        EXPECT_EQ(fd::LevelHeldUntil(f.channel, c.at, c.limit), c.until) << c.at << " " << c.limit;
    }
}

TEST(LevelHeldUntil, AgreesWithLevelSampleBySample) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint32_t> positions(std::uniform_int_distribution<size_t>(0, 12)(rng));
        for (uint32_t& p : positions) p = std::uniform_int_distribution<uint32_t>(0, 40)(rng);
        std::sort(positions.begin(), positions.end());
        fd::test::OwnedChannel f(positions);
        for (uint32_t at = 0; at < 45; ++at) {
            const uint32_t limit = at + 1 + std::uniform_int_distribution<uint32_t>(0, 50)(rng);
            uint32_t expected = at + 1;
            while (expected < limit && fd::Level(f.channel, expected) == fd::Level(f.channel, at)) ++expected;
            ASSERT_EQ(fd::LevelHeldUntil(f.channel, at, limit), expected) << round << " " << at;
        }
    }
}

TEST(LevelHeldUntil, UnsortedListAnswersInsideTheSpan) {
    fd::test::OwnedChannel f({900, 5, 700, 1, 400, 2, 2, 0, 0xDEADBEEF});
    f.list.count -= 1;  // the guard again
    for (uint32_t at = 0; at < 1000; at += 7) {
        const uint32_t until = fd::LevelHeldUntil(f.channel, at, 1200);
        EXPECT_GT(until, at);
        EXPECT_LE(until, 1200u);
    }
}
