// The pin assignment dialog's decisions: the channels it lists, where the
// roles start, where the D15 box follows D0, and what OK accepts or refuses.
#include "plugin/ui/pin_assign_rules.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "plugin/interface/settings.h"
#include "plugin/interface/strings.h"

namespace {

using fd::ui::PinPositions;

// `count` channel numbers starting at `first`, one apart.
std::vector<int32_t> Numbers(int count, int32_t first = 0) {
    std::vector<int32_t> numbers(static_cast<size_t>(count));
    std::iota(numbers.begin(), numbers.end(), first);
    return numbers;
}

// A capture whose channel list holds `listCount` channels while the capture
// claims `channelCount` of them.
struct CaptureFixture {
    std::vector<FdChannel> channels;
    std::vector<FdChannel*> pointers;
    std::vector<std::string> names;
    FdChannelList list{};
    FdCapture capture{};

    CaptureFixture(int listCount, int channelCount) : channels(static_cast<size_t>(listCount)) {
        for (int i = 0; i < listCount; ++i) names.push_back("CH" + std::to_string(i));
        for (int i = 0; i < listCount; ++i) {
            channels[static_cast<size_t>(i)].name = names[static_cast<size_t>(i)].c_str();
            channels[static_cast<size_t>(i)].number = 100 + i;
            pointers.push_back(&channels[static_cast<size_t>(i)]);
        }
        list.channels = pointers.data();
        list.count = listCount;
        capture.channelList = &list;
        capture.channelCount = channelCount;
    }
};

TEST(ListPinChannels, WalksOnlyTheEntriesThatExist) {
    struct Case {
        int listCount, channelCount;
        size_t expected;
    } cases[] = {
        {26, 26, 26}, {20, 26, 20}, {30, 26, 26}, {26, 0, 0}, {26, -5, 0}, {150, 150, 150},
    };
    for (const Case& c : cases) {
        CaptureFixture f(c.listCount, c.channelCount);
        const auto channels = fd::ui::ListPinChannels(&f.capture);
        ASSERT_EQ(channels.size(), c.expected) << c.listCount << " listed, " << c.channelCount << " claimed";
        for (size_t i = 0; i < channels.size(); ++i) {
            EXPECT_EQ(channels[i].name, "CH" + std::to_string(i));
            EXPECT_EQ(channels[i].number, static_cast<int32_t>(100 + i));
        }
    }
}

TEST(ListPinChannels, StopsAtAMissingChannelAndShowsANamelessOne) {
    CaptureFixture f(26, 26);
    f.channels[3].name = nullptr;
    f.pointers[5] = nullptr;
    const auto channels = fd::ui::ListPinChannels(&f.capture);
    ASSERT_EQ(channels.size(), 5u);  // entry i stays list position i
    EXPECT_EQ(channels[3].name, "");
    EXPECT_EQ(channels[3].number, 103);

    f.list.channels = nullptr;
    EXPECT_TRUE(fd::ui::ListPinChannels(&f.capture).empty());
    f.capture.channelList = nullptr;
    EXPECT_TRUE(fd::ui::ListPinChannels(&f.capture).empty());
    EXPECT_TRUE(fd::ui::ListPinChannels(nullptr).empty());
}

TEST(InitialPinPositions, FindsEachRoleByNumberOrFallsBackToDefaults) {
    const PinPositions defaults = fd::ui::DefaultPinPositions();
    EXPECT_EQ(defaults, (PinPositions{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    // The default settings (DMARQ -1) on channels numbered 0..25: DMARQ is
    // missing, so every role starts at its default, DMARQ on the first channel.
    EXPECT_EQ(fd::ui::InitialPinPositions(Numbers(26), fd::kDefaultChannels), defaults);

    // Every number present: each role on its channel's position.
    const int32_t stored[fd::ui::kPinRoleCount] = {130, 131, 132, 133, 100, 101, 102, 103, 104, 105, 110};
    EXPECT_EQ(fd::ui::InitialPinPositions(Numbers(40, 100), stored),
              (PinPositions{30, 31, 32, 33, 0, 1, 2, 3, 4, 5, 10}));

    // A number that occurs twice selects the later channel.
    std::vector<int32_t> twice = Numbers(40, 100);
    twice[35] = 132;
    EXPECT_EQ(fd::ui::InitialPinPositions(twice, stored)[FdChannelCs1], 35);

    // One role missing resets all eleven, not only the missing one.
    EXPECT_EQ(fd::ui::InitialPinPositions(Numbers(31, 100), stored), defaults);  // 131..133 absent
    EXPECT_EQ(fd::ui::InitialPinPositions({}, stored), defaults);
}

TEST(LastDataPosition, FollowsD0FifteenOnOrStopsAtTheLastEntry) {
    struct Case {
        int d0, entries, expected;
    } cases[] = {
        {10, 26, 25}, {11, 26, 25}, {19, 26, 25}, {0, 26, 15},
        {-1, 26, 14}, {-1, 0, -1},  {0, 1, 0},    {120, 150, 135},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fd::ui::LastDataPosition(c.d0, c.entries), c.expected)
            << "D0 " << c.d0 << " of " << c.entries;
}

// The D0 position of `positions` changed to `d0`, with the D15 box following.
struct Choice {
    PinPositions positions;
    int lastData;
};
Choice WithD0(PinPositions positions, int d0, int entries) {
    positions[FdChannelD0] = d0;
    return {positions, fd::ui::LastDataPosition(d0, entries)};
}
PinPositions With(PinPositions positions, int role, int position) {
    positions[static_cast<size_t>(role)] = position;
    return positions;
}

TEST(ValidatePinChoice, RefusesWithTheRightMessageOrStoresTheNumbers) {
    const PinPositions defaults = fd::ui::DefaultPinPositions();
    const std::vector<int32_t> data26 = Numbers(26, 200);
    const std::vector<int32_t> data150 = Numbers(150, 1000);
    const std::vector<int32_t> data20 = Numbers(20, 300);
    constexpr int kAccept = 0, kRight = fd::kStrChooseRightChannel, kDiffer = fd::kStrChannelsMustDiffer;

    struct Case {
        const char* what;
        Choice choice;
        const std::vector<int32_t>* data;
        int refusal;
    } cases[] = {
        {"defaults on 26 channels", WithD0(defaults, 10, 26), &data26, kAccept},
        {"D0 at 11: D15 box shows 25 again", WithD0(defaults, 11, 26), &data26, kDiffer},
        {"D0 at 19: 19 + 7 > 25", WithD0(defaults, 19, 26), &data26, kRight},
        {"D0 at 18: 18 + 7 = 25, run overflows", WithD0(defaults, 18, 26), &data26, kDiffer},
        {"A0 and A1 on one channel", WithD0(With(defaults, FdChannelA1, 4), 10, 26), &data26, kDiffer},
        {"IORD on D0", WithD0(With(defaults, FdChannelIord, 10), 10, 26), &data26, kDiffer},
        {"IORD on D14", WithD0(With(defaults, FdChannelIord, 24), 10, 26), &data26, kDiffer},
        {"IORD on D15", WithD0(With(defaults, FdChannelIord, 25), 10, 26), &data26, kDiffer},
        {"DMARQ without a channel", WithD0(With(defaults, FdChannelDmarq, -1), 10, 26), &data26, kRight},
        {"D0 without a channel", WithD0(defaults, -1, 26), &data26, kRight},
        {"D0 data run past a list of 20", WithD0(defaults, 10, 20), &data20, kDiffer},
        // A list longer than 100: the tally is as long as the list.
        {"D0 at 120 of 150", WithD0(defaults, 120, 150), &data150, kAccept},
        {"IOWR at 140, D0 at 100 of 150", WithD0(With(defaults, FdChannelIowr, 140), 100, 150), &data150,
         kAccept},
        {"IOWR at 110 inside the run from 100", WithD0(With(defaults, FdChannelIowr, 110), 100, 150),
         &data150, kDiffer},
        {"D0 at 135 of 150", WithD0(defaults, 135, 150), &data150, kDiffer},
    };
    for (const Case& c : cases) {
        const fd::ui::PinVerdict verdict =
            fd::ui::ValidatePinChoice(c.choice.positions, c.choice.lastData, *c.data);
        EXPECT_EQ(verdict.refusalId, c.refusal) << c.what;
        if (c.refusal == kAccept && verdict.refusalId == kAccept) {
            for (int role = 0; role < fd::ui::kPinRoleCount; ++role)
                EXPECT_EQ(verdict.numbers[static_cast<size_t>(role)],
                          (*c.data)[static_cast<size_t>(c.choice.positions[static_cast<size_t>(role)])])
                    << c.what << ", role " << role;
        }
    }
}

TEST(ValidatePinChoice, DefaultPositionsStoreTheNumbersOfEntriesZeroToTen) {
    const std::vector<int32_t> data = {7,  3,  9,  11, 40, 41, 42, 2,  1,  0,  50, 51, 52,
                                       53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65};
    const fd::ui::PinVerdict verdict =
        fd::ui::ValidatePinChoice(fd::ui::DefaultPinPositions(), fd::ui::LastDataPosition(10, 26), data);
    ASSERT_EQ(verdict.refusalId, 0);
    EXPECT_EQ(verdict.numbers, (std::array<int32_t, 11>{7, 3, 9, 11, 40, 41, 42, 2, 1, 0, 50}));
}

TEST(ValidatePinChoice, AnEntryBeyondTheListIsNeverCounted) {
    // A D15 position past the list (a caller's slip) is refused, not counted.
    const std::vector<int32_t> data = Numbers(26);
    EXPECT_EQ(fd::ui::ValidatePinChoice(fd::ui::DefaultPinPositions(), 26, data).refusalId,
              fd::kStrChannelsMustDiffer);
    EXPECT_EQ(
        fd::ui::ValidatePinChoice(With(fd::ui::DefaultPinPositions(), FdChannelCs0, 26), 25, data).refusalId,
        fd::kStrChooseRightChannel);
}

}  // namespace
