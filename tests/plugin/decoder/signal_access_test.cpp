// The decoders' signal access answers every level and edge question as the
// capture access queries do, whatever order the positions are asked in; on
// lists out of order it stays inside them (the sanitizer build watches).
#include "plugin/decoder/signal_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Lines {
    std::vector<std::vector<uint32_t>> positions;
    std::vector<FdTransitionList> lists;
    std::vector<FdChannel> channels;
    fd::ChannelBinding binding{};

    explicit Lines(std::vector<std::vector<uint32_t>> p) : positions(std::move(p)) {
        lists.resize(positions.size());
        channels.resize(positions.size());
        for (size_t i = 0; i < positions.size(); ++i) {
            lists[i].positions = positions[i].data();
            lists[i].count = static_cast<int32_t>(positions[i].size());
            channels[i].transitions = &lists[i];
            binding[i] = &channels[i];
        }
    }
};

std::vector<uint32_t> RandomList(std::mt19937& rng, uint32_t base, bool sorted) {
    std::vector<uint32_t> list(std::uniform_int_distribution<size_t>(0, 60)(rng));
    for (uint32_t& p : list) p = base + std::uniform_int_distribution<uint32_t>(0, 200)(rng);
    if (sorted) std::sort(list.begin(), list.end());
    return list;
}

TEST(SignalAccess, AnswersAsTheCaptureQueriesInAnyOrder) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        const uint32_t base = round % 3 == 0 ? 0 : round % 3 == 1 ? 0x7FFFFF80u : 0xFFFFFF00u;
        std::vector<std::vector<uint32_t>> positions;
        for (int i = 0; i < fd::kBusRoleCount; ++i) positions.push_back(RandomList(rng, base, true));
        Lines lines(std::move(positions));
        const fd::SignalAccess access(lines.binding);
        // Mostly ascending with steps back, as the driver asks, then at random.
        uint32_t x = base;
        for (int q = 0; q < 400; ++q) {
            if (q < 200) {
                x += std::uniform_int_distribution<uint32_t>(0, 3)(rng);
                if (q % 7 == 0 && x > 0) --x;
            } else {
                x = base + std::uniform_int_distribution<uint32_t>(0, 210)(rng);
            }
            for (int s = 0; s <= static_cast<int>(fd::Signal::D0); ++s) {
                const auto signal = static_cast<fd::Signal>(s);
                const FdChannel& channel = *lines.binding[static_cast<size_t>(s)];
                ASSERT_EQ(access.Level(signal, x), fd::Level(channel, x)) << round << " " << s << " " << x;
                ASSERT_EQ(access.EdgeKind(signal, x), fd::EdgeKind(channel, x))
                    << round << " " << s << " " << x;
                const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(
                    uint64_t{x} + 1 + std::uniform_int_distribution<uint32_t>(0, 80)(rng), 0xFFFFFFFFu));
                ASSERT_EQ(access.LevelHeldUntil(signal, x, limit), fd::LevelHeldUntil(channel, x, limit))
                    << round << " " << s << " " << x;
            }
            uint32_t word = 0;
            for (int n = 0; n < fd::kDataLines; ++n) {
                word |= static_cast<uint32_t>(fd::Level(*lines.binding[static_cast<size_t>(10 + n)], x)) << n;
            }
            ASSERT_EQ(access.DataWord(x), word) << round << " " << x;
            ASSERT_EQ(access.DataByte(x), word & 0xFF) << round << " " << x;
        }
    }
}

// The driver's way: Visit each position in ascending order, then ask every
// question there (and, now and then, at a position nearby).
TEST(SignalAccess, VisitedPositionsAnswerAsTheCaptureQueries) {
    std::mt19937 rng(13);
    for (int round = 0; round < 200; ++round) {
        const uint32_t base = round % 3 == 0 ? 0 : round % 3 == 1 ? 0x7FFFFF80u : 0xFFFFFF00u;
        std::vector<std::vector<uint32_t>> positions;
        for (int i = 0; i < fd::kBusRoleCount; ++i) positions.push_back(RandomList(rng, base, true));
        Lines lines(std::move(positions));
        fd::SignalAccess access(lines.binding);
        for (uint32_t x = base; x <= base + 205; x += std::uniform_int_distribution<uint32_t>(0, 4)(rng)) {
            access.Visit(x);
            const uint32_t nearby = x + std::uniform_int_distribution<uint32_t>(0, 2)(rng) - 1;
            for (const uint32_t at : {x, nearby, x}) {
                uint32_t word = 0;
                for (int s = 0; s < fd::kBusRoleCount; ++s) {
                    const auto signal = static_cast<fd::Signal>(s);
                    const FdChannel& channel = *lines.binding[static_cast<size_t>(s)];
                    ASSERT_EQ(access.Level(signal, at), fd::Level(channel, at))
                        << round << " " << s << " " << at;
                    ASSERT_EQ(access.EdgeKind(signal, at), fd::EdgeKind(channel, at))
                        << round << " " << s << " " << at;
                    if (s >= 10) word |= static_cast<uint32_t>(fd::Level(channel, at)) << (s - 10);
                }
                ASSERT_EQ(access.DataWord(at), word) << round << " " << at;
                ASSERT_EQ(access.DataByte(at), word & 0xFF) << round << " " << at;
            }
        }
    }
}

TEST(SignalAccess, UnsortedListsStayInBounds) {
    std::mt19937 rng(12);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::vector<uint32_t>> positions;
        for (int i = 0; i < fd::kBusRoleCount; ++i) positions.push_back(RandomList(rng, 1000, false));
        Lines lines(std::move(positions));
        const fd::SignalAccess access(lines.binding);
        for (int q = 0; q < 300; ++q) {
            const uint32_t x = std::uniform_int_distribution<uint32_t>(990, 1210)(rng);
            const int level = access.Level(fd::Signal::Iord, x);
            EXPECT_TRUE(level == 0 || level == 1);
            EXPECT_LE(access.DataWord(x), 0xFFFFu);
            EXPECT_GE(access.EdgeKind(fd::Signal::Iordy, x), -1);
            const uint32_t until = access.LevelHeldUntil(fd::Signal::Iowr, x, 1300);
            EXPECT_TRUE(until > x && until <= 1300u);
        }
    }
}

}  // namespace
