// The packet page's fourteen rows (CCFPackage2) as data, and what the page
// moves between its controls and the packet item table: load, the two saves,
// the default colours and the all-checked reset. The page only pushes these
// values into its check boxes and colour buttons and pulls them back.
#pragma once

#include <array>
#include <cstdint>

#include "plugin/presentation/display_queries.h"

namespace fd::ui {

struct PacketRow {
    const char* label;
    int checkBoxId;
    int colourButtonId;
    int item;  // packet item (PacketItemAt)
    uint32_t defaultColour;
};

// Row order: the order of the page's check states and colour buttons, and the
// order in which it loads and saves.
inline constexpr PacketRow kPacketRows[kPacketItemCount] = {
    {"READ", 15003, 15004, 0, 0xFD7D3C},
    {"WRITE", 1028, 1033, 1, 0x5949E6},
    {"FEATURES", 1030, 1035, 3, 0xB77B41},
    {"STATUS", 1031, 1036, 4, 0x5984F4},
    {"COMMAND", 1037, 1038, 5, 0x9F7FEF},
    {"ADDRESS", 1039, 1040, 6, 0x1D72F9},
    {"ERROR REGISTER", 1029, 1034, 2, 0x9900CC},
    {"SECTOR COUNT", 1041, 1042, 8, 0x868686},
    {"SECTOR NO.", 1043, 1044, 9, 0xE54E00},
    {"CYLINDER LOW", 1047, 1048, 10, 0xA0489C},
    {"CYLINDER HIGH", 1049, 1050, 11, 0x89CE8A},
    {"CARD/HEAD", 1051, 1052, 12, 0x2DBE73},
    {"DATA", 1027, 1032, 7, 0x33CC33},
    {"DESCRIBE", 1045, 1046, 13, 0xFF0505},
};

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
