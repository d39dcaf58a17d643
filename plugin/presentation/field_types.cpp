#include "plugin/presentation/field_types.h"

#include <array>

namespace fd {
namespace {

constexpr std::array<FieldTypeEntry, kFieldTypeEntries> kInitialFieldTypes = {{
    {1, 0x333333, "UNKNOW", 0},
    {4002, 0xFD7D3C, "PIO READ", 16},
    {4003, 0x5949E6, "PIO WRITE", 16},
    {4004, 0x9900CC, "ERROR REGISTER", 8},
    {4005, 0xB77B41, "FEATURES", 8},
    {4006, 0x868686, "SECTOR COUNT", 8},
    {4007, 0xE54E00, "SECTOR NO", 8},
    {4008, 0xA0489C, "CYLINDER LOW", 8},
    {4009, 0x89CE8A, "CYLINDER HIGH", 8},
    {4010, 0xD8E9EC, "SELECT CARD/HEAD", 8},
    {4011, 0x5984F4, "STATUS", 8},
    {4012, 0x9F7FEF, "COMMAND", 8},
    {4013, 0xFD7D3C, "ALT STATUS READ", 8},
    {4014, 0x5949E6, "CONTROL WRITE", 8},
    {4015, 0x1D72F9, "DRIVE ADDRESS", 8},
    {4017, 0xFD7D3C, "DMA READ", 16},
    {4018, 0x5949E6, "DMA WRITE", 16},
    {4019, 0xFD7D3C, "READ", 8},
    {4020, 0x5949E6, "WRITE", 8},
    {4025, 0x1D72F9, "ADDRESS", 8},
    {4026, 0x33CC33, "DATA(R)", 16},
    {4031, 0x2DBE73, "CARD/HEAD", 8},
    {4032, 0x33CC33, "DATA(W)", 16},
    {3036, 0x333333, "COMPOSE", 0},
    {4019, 0x333333, "READ", 0},
    {4020, 0x333333, "WRITE", 0},
    {3306, 0x333333, "START", 0},
}};

constinit std::array<FieldTypeEntry, kFieldTypeEntries> fieldTypes = kInitialFieldTypes;

}  // namespace

const FieldTypeEntry& FieldType(int index) { return fieldTypes[index]; }

uint32_t FieldColour(int id) {
    for (int i = 0; i < kFieldTypeCount; ++i) {
        if (fieldTypes[i].id == id) return fieldTypes[i].colour;
    }
    return 0;
}

void SetFieldTypeColour(int id, uint32_t colour) {
    for (int i = 0; i < kFieldTypeCount; ++i) {
        if (fieldTypes[i].id == id) fieldTypes[i].colour = colour;
    }
}

void ResetFieldTypeTable() { fieldTypes = kInitialFieldTypes; }

}  // namespace fd
