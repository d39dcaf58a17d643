// The packet page's fourteen rows (CCFPackage2) as data, and what the page
// moves between its controls and the packet item table: load, the two saves,
// the default colours and the all-checked reset. The page only pushes these
// values into its check boxes and colour buttons and pulls them back.
#pragma once

#include <array>
#include <cstdint>

#include "plugin/presentation/display_queries.h"
#include "plugin/ui/page_control_ids.h"

namespace fd::ui {

struct PacketRow {
    int checkBoxId;
    int colourButtonId;
    int item;  // packet item (PacketItemAt): its label and default colour too
};

// Row order: the order of the page's check states and colour buttons, and the
// order in which it loads and saves.
inline constexpr PacketRow kPacketRows[kPacketItemCount] = {
    {IDC_CHECK_READ, IDC_BUTTON_READ, 0},
    {IDC_CHECK_WRITE, IDC_BUTTON_WRITE, 1},
    {IDC_CHECK_FEATURES, IDC_BUTTON_FEATURES, 3},
    {IDC_CHECK_STATUS, IDC_BUTTON_STATUS, 4},
    {IDC_CHECK_COMMAND, IDC_BUTTON_COMMAND, 5},
    {IDC_CHECK_ADDRESS, IDC_BUTTON_ADDRESS, 6},
    {IDC_CHECK_ERROR_REGISTER, IDC_BUTTON_ERROR_REGISTER, 2},
    {IDC_CHECK_SECTOR_COUNT, IDC_BUTTON_SECTOR_COUNT, 8},
    {IDC_CHECK_SECTOR_NO, IDC_BUTTON_SECTOR_NO, 9},
    {IDC_CHECK_CYLINDER_LOW, IDC_BUTTON_CYLINDER_LOW, 10},
    {IDC_CHECK_CYLINDER_HIGH, IDC_BUTTON_CYLINDER_HIGH, 11},
    {IDC_CHECK_CARD_HEAD, IDC_BUTTON_CARD_HEAD, 12},
    {IDC_CHECK_DATA, IDC_BUTTON_DATA, 7},
    {IDC_CHECK_DESCRIBE, IDC_BUTTON_DESCRIBE, 13},
};

constexpr const char* RowLabel(const PacketRow& row) { return kPacketItemDefaults[row.item].label; }

// What the page holds per row: the colour of its button and the state of its
// check box (0 or 1). A page starts with every row checked.
struct PacketPageValues {
    std::array<uint32_t, kPacketItemCount> colour{};
    std::array<int32_t, kPacketItemCount> check{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
};

// Colours and shown flags of the packet items, into the rows.
void LoadPacketItems(PacketPageValues& values);
// Each row's colour into its packet item's colour.
void SavePacketColours(const PacketPageValues& values);
// Each row's check state into its packet item's shown flag (non-zero: shown).
void SavePacketChecks(const PacketPageValues& values);
// The default colours into the rows; the packet item table is not touched.
void RestorePacketColours(PacketPageValues& values);
// Every row checked; the packet item table is not touched.
void CheckAllPacketItems(PacketPageValues& values);

}  // namespace fd::ui
