// The field-type table: the catalogue of decoded record kinds (id, colour,
// name, bit width). The decoder takes record colours from it, the host
// enumerates it, and the settings colours are copied into it.
#pragma once

#include <cstdint>

#include "plugin/presentation/field_table.h"

namespace fd {

struct FieldTypeEntry {
    int32_t id;
    uint32_t colour;  // 0x00BBGGRR
    char name[260];
    int32_t width;
};

inline constexpr int kFieldTypeEntries = 27;
// Entries the host enumerates and FieldColour searches (kFieldTypeCount, the
// presentation table's); the last four lie beyond them.

const FieldTypeEntry& FieldType(int index);  // index 0..26

// Colour of the first of the enumerated entries whose id matches, else 0.
uint32_t FieldColour(int id);

// Sets the colour of every enumerated entry whose id matches.
void SetFieldTypeColour(int id, uint32_t colour);

// Restores the initial contents (for tests that need a fresh table).
void ResetFieldTypeTable();

}  // namespace fd
