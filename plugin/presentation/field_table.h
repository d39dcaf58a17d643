// How each field id is presented, once: the packet items (the packet page's
// rows, whose shown flags and colours the host asks for) and, per id, its
// field-type name, the name the name query gives, its packet item and its
// width. The field-type table, the name and colour queries, the packet page's
// rows, the settings' default colours and their propagation into the field
// types are all read from here.
#pragma once

#include <cstdint>
#include <iterator>

#include "plugin/interface/host_abi.h"

namespace fd {

struct PacketItemDefault {
    const char* label;  // the packet page's row
    uint32_t colour;    // 0x00BBGGRR
};

// Items 0..12 are also the thirteen settings colours, in FdColourIndex order:
// settings colour N paints the field types of item N. DESCRIBE has no
// settings colour.
inline constexpr int kPacketItemCount = 14;
inline constexpr PacketItemDefault kPacketItemDefaults[kPacketItemCount] = {
    {"READ", 0xFD7D3C},       {"WRITE", 0x5949E6},        {"ERROR REGISTER", 0x9900CC},
    {"FEATURES", 0xB77B41},   {"STATUS", 0x5984F4},       {"COMMAND", 0x9F7FEF},
    {"ADDRESS", 0x1D72F9},    {"DATA", 0x33CC33},         {"SECTOR COUNT", 0x868686},
    {"SECTOR NO.", 0xE54E00}, {"CYLINDER LOW", 0xA0489C}, {"CYLINDER HIGH", 0x89CE8A},
    {"CARD/HEAD", 0x2DBE73},  {"DESCRIBE", 0xFF0505},
};
static_assert(FdColourRead == 0 && FdColourCardHead == 12 && FdColourCount == 13,
              "settings colour N is packet item N");
inline constexpr int kPacketItemWrite = 1;
inline constexpr int kNoPacketItem = -1;
inline constexpr uint32_t kMarkerColour = 0x333333;

struct FieldPresentation {
    FdFieldId id;
    const char* typeName;    // the field-type table's name
    const char* queryName;   // what GetFieldName gives; null: it leaves the buffer alone
    int item;                // packet item (shown flag, colour, settings colour), or kNoPacketItem
    int32_t width;           // bits of the value; 0 for markers
    uint32_t ownColour = 0;  // the field type's colour before any settings reach it, when not its item's
};

// The entries the host enumerates (GetFieldType 0..22), in their order.
inline constexpr FieldPresentation kFieldPresentation[] = {
    {FdFieldUnknown, "UNKNOW", nullptr, kNoPacketItem, 0, kMarkerColour},
    {FdFieldPioRead, "PIO READ", "PIO READ", 0, 16},
    {FdFieldPioWrite, "PIO WRITE", "PIO WRITE", 1, 16},
    {FdFieldErrorRegister, "ERROR REGISTER", "ERROR REGISTER", 2, 8},
    {FdFieldFeatures, "FEATURES", "FEATURES", 3, 8},
    {FdFieldSectorCount, "SECTOR COUNT", "SECTOR COUNT", 8, 8},
    {FdFieldSectorNo, "SECTOR NO", "SECTOR NO", 9, 8},
    {FdFieldCylinderLow, "CYLINDER LOW", "CYLINDER LOW", 10, 8},
    {FdFieldCylinderHigh, "CYLINDER HIGH", "CYLINDER HIGH", 11, 8},
    {FdFieldSelectCardHead, "SELECT CARD/HEAD", "SELECT CARD/HEAD", 12, 8, 0xD8E9EC},
    {FdFieldStatus, "STATUS", "STATUS", 4, 8},
    {FdFieldCommand, "COMMAND", "COMMAND", 5, 8},
    {FdFieldAltStatusRead, "ALT STATUS READ", "ALT STATUS READ", 0, 8},
    {FdFieldControlWrite, "CONTROL WRITE", "CONTROL WRITE", 1, 8},
    {FdFieldDriveAddress, "DRIVE ADDRESS", "DRIVE ADDRESS", 6, 8},
    {FdFieldDmaRead, "DMA READ", "DMA READ", 0, 16},
    {FdFieldDmaWrite, "DMA WRITE", "DMA WRITE", 1, 16},
    {FdFieldRead, "READ", "READ", 0, 8},
    {FdFieldWrite, "WRITE", "WRITE", 1, 8},
    {FdFieldAddress, "ADDRESS", "ADDRESS", 6, 8},
    {FdFieldDataRead, "DATA(R)", "DATA(R)", 7, 16},
    {FdFieldCardHead, "CARD/HEAD", "CARDHEAD", 12, 8},  // the name query has its own spelling here
    {FdFieldDataWrite, "DATA(W)", "DATA(W)", 7, 16},
};
inline constexpr int kFieldTypeCount = static_cast<int>(std::size(kFieldPresentation));

// The field type's colour before the settings' colours are copied in.
constexpr uint32_t InitialFieldColour(const FieldPresentation& field) {
    return field.ownColour != 0 ? field.ownColour : kPacketItemDefaults[field.item].colour;
}

// The entry of `id` among the enumerated ones, or null.
constexpr const FieldPresentation* FindFieldPresentation(int id) {
    for (const FieldPresentation& field : kFieldPresentation)
        if (field.id == id) return &field;
    return nullptr;
}

}  // namespace fd
