// Radix lists: storage reuse and replacement through malloc/free, and the
// packet item table behind the per-id queries.
#include "plugin/presentation/display_queries.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "plugin/interface/settings.h"

namespace {

FdDecoderSettings Settings(int16_t taskFile, int16_t data) {
    FdDecoderSettings s{};
    fd::SetDefaults(s);
    s.taskFileRadix = taskFile;
    s.dataRadix = data;
    return s;
}

std::vector<int16_t> Contents(const FdHostInt16Vector& list) { return {list.first, list.last}; }

TEST(FillRadixLists, ReusesStorageWithRoomAndReplacesWithout) {
    FdRadixLists lists{};
    // Radix 0: plenty of room; radix 3: too little; radix 1: stale contents.
    lists.list[0].first = static_cast<int16_t*>(std::malloc(64 * sizeof(int16_t)));
    lists.list[0].last = lists.list[0].first;
    lists.list[0].end = lists.list[0].first + 64;
    lists.list[3].first = static_cast<int16_t*>(std::malloc(1 * sizeof(int16_t)));
    lists.list[3].last = lists.list[3].end = lists.list[3].first + 1;
    lists.list[1].first = static_cast<int16_t*>(std::malloc(3 * sizeof(int16_t)));
    lists.list[1].last = lists.list[1].end = lists.list[1].first + 3;
    int16_t* roomy = lists.list[0].first;

    fd::FillRadixLists(&lists, Settings(0, 3));
    EXPECT_EQ(lists.list[0].first, roomy);
    EXPECT_EQ(lists.list[0].end, roomy + 64);
    EXPECT_EQ(Contents(lists.list[0]).size(), 21u);
    EXPECT_EQ(Contents(lists.list[3]), (std::vector<int16_t>{4026, 4032}));
    EXPECT_EQ(lists.list[3].end, lists.list[3].last);  // exactly the size needed
    EXPECT_TRUE(Contents(lists.list[1]).empty());      // emptied, storage kept
    EXPECT_TRUE(Contents(lists.list[2]).empty());

    // Both radices equal: task-file ids first, then the data ids.
    fd::FillRadixLists(&lists, Settings(1, 1));
    std::vector<int16_t> both(std::begin(fd::kTaskFileIds), std::end(fd::kTaskFileIds));
    both.insert(both.end(), {4026, 4032});
    EXPECT_EQ(Contents(lists.list[1]), both);
    EXPECT_TRUE(Contents(lists.list[0]).empty());

    // Radices outside 0..3: every list empty.
    fd::FillRadixLists(&lists, Settings(-1, 4));
    for (const auto& list : lists.list) EXPECT_TRUE(Contents(list).empty());
    for (auto& list : lists.list) std::free(list.first);
}

TEST(PacketItems, ShownFlagAndColourFollowTheTable) {
    fd::ResetPacketItems();
    fd::PacketItemAt(fd::kPacketItemWrite).shown = false;
    fd::PacketItemAt(7).colour = 0x123456;
    for (int16_t id : {int16_t{4003}, int16_t{4014}, int16_t{4018}, int16_t{4020}})
        EXPECT_FALSE(fd::IsPacketItemShown(id)) << id;
    EXPECT_FALSE(fd::IsWriteItemShown());
    EXPECT_TRUE(fd::IsPacketItemShown(4002));
    int32_t colour = 0;
    fd::GetPacketItemColour(4032, &colour);
    EXPECT_EQ(colour, 0x123456);
    fd::ResetPacketItems();
    EXPECT_TRUE(fd::IsWriteItemShown());
}

}  // namespace
