// The packet page's rows and its moves between page and packet item table.
#include "plugin/ui/packet_page_rows.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

class PacketPageRows : public ::testing::Test {
protected:
    void SetUp() override { fd::ResetPacketItems(); }
    void TearDown() override { fd::ResetPacketItems(); }

    static size_t RowOf(const char* label) {
        for (size_t row = 0; row < fd::kPacketItemCount; ++row)
            if (std::string(fd::ui::RowLabel(fd::ui::kPacketRows[row])) == label) return row;
        ADD_FAILURE() << "no row " << label;
        return 0;
    }
};

TEST_F(PacketPageRows, EveryItemHasOneRowAndControlsOfItsOwn) {
    std::set<int> items, ids;
    for (const fd::ui::PacketRow& row : fd::ui::kPacketRows) {
        items.insert(row.item);
        ids.insert(row.checkBoxId);
        ids.insert(row.colourButtonId);
    }
    EXPECT_EQ(items.size(), 14u);
    EXPECT_EQ(ids.size(), 28u);
    EXPECT_EQ(*items.begin(), 0);
    EXPECT_EQ(*items.rbegin(), 13);
}

TEST_F(PacketPageRows, LoadCopiesEachItemIntoItsRow) {
    fd::PacketItemAt(2) = {false, 0x010203};   // ERROR REGISTER, row 7
    fd::PacketItemAt(13) = {false, 0x123456};  // DESCRIBE, row 14
    fd::ui::PacketPageValues values;
    fd::ui::LoadPacketItems(values);
    for (size_t row = 0; row < fd::kPacketItemCount; ++row) {
        const fd::PacketItem& item = fd::PacketItemAt(fd::ui::kPacketRows[row].item);
        EXPECT_EQ(values.colour[row], item.colour) << fd::ui::RowLabel(fd::ui::kPacketRows[row]);
        EXPECT_EQ(values.check[row], item.shown ? 1 : 0) << fd::ui::RowLabel(fd::ui::kPacketRows[row]);
    }
    EXPECT_EQ(values.check[RowOf("ERROR REGISTER")], 0);
    EXPECT_EQ(values.colour[RowOf("DESCRIBE")], 0x123456u);
}

TEST_F(PacketPageRows, SavesWriteTheItemsOfTheirRows) {
    fd::ui::PacketPageValues values;
    fd::ui::LoadPacketItems(values);
    values.check[RowOf("DATA")] = 0;
    values.check[RowOf("WRITE")] = 7;  // any non-zero state is shown
    values.colour[RowOf("DESCRIBE")] = 0x00AA55;
    values.colour[RowOf("FEATURES")] = 0x0000FF;

    fd::ui::SavePacketColours(values);
    EXPECT_TRUE(fd::IsPacketItemShown(4026));  // colours only
    EXPECT_EQ(fd::PacketItemAt(13).colour, 0x00AA55u);
    EXPECT_EQ(fd::PacketItemAt(3).colour, 0x0000FFu);
    int32_t colour = 0;
    fd::GetPacketItemColour(4005, &colour);
    EXPECT_EQ(colour, 0x0000FF);

    fd::ui::SavePacketChecks(values);
    EXPECT_FALSE(fd::IsPacketItemShown(4026));
    EXPECT_FALSE(fd::IsPacketItemShown(4032));
    EXPECT_TRUE(fd::IsWriteItemShown());
    EXPECT_TRUE(fd::IsPacketItemShown(4002));

    // Reopening the page shows DATA unchecked.
    fd::ui::PacketPageValues reopened;
    fd::ui::LoadPacketItems(reopened);
    EXPECT_EQ(reopened.check[RowOf("DATA")], 0);
    EXPECT_EQ(reopened.check[RowOf("WRITE")], 1);
}

TEST_F(PacketPageRows, RestoreAndCheckAllChangeOnlyThePage) {
    fd::PacketItemAt(7) = {false, 0x111111};
    fd::ui::PacketPageValues values;
    fd::ui::LoadPacketItems(values);
    fd::ui::RestorePacketColours(values);
    fd::ui::CheckAllPacketItems(values);
    EXPECT_EQ(fd::PacketItemAt(7).colour, 0x111111u);
    EXPECT_FALSE(fd::PacketItemAt(7).shown);
    for (size_t row = 0; row < fd::kPacketItemCount; ++row) {
        EXPECT_EQ(values.colour[row], fd::kPacketItemDefaults[fd::ui::kPacketRows[row].item].colour);
        EXPECT_EQ(values.check[row], 1);
    }

    // Followed by OK, they restore the initial table.
    fd::ui::SavePacketColours(values);
    fd::ui::SavePacketChecks(values);
    for (int item = 0; item < fd::kPacketItemCount; ++item) {
        EXPECT_TRUE(fd::PacketItemAt(item).shown);
        EXPECT_EQ(fd::PacketItemAt(item).colour, fd::kPacketItemDefaults[item].colour);
    }
}

TEST_F(PacketPageRows, APageStartsWithEveryRowChecked) {
    const fd::ui::PacketPageValues values;
    for (int32_t check : values.check) EXPECT_EQ(check, 1);
}

}  // namespace
