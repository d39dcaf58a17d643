// The field-type table: the catalogue of decoded record kinds (id, colour,
// name, bit width). The decoder takes record colours from it, the host
// enumerates it, and the settings colours are copied into it.
#pragma once

#include <cstdint>

namespace fd {

struct FieldTypeEntry {
    int32_t id;
    uint32_t colour;  // 0x00BBGGRR
    char name[260];
    int32_t width;
};

inline constexpr int kFieldTypeEntries = 27;
// Entries the host enumerates and FieldColour searches; the last four lie
// beyond it. Both uses must stay equal.
inline constexpr int kFieldTypeCount = 23;
inline constexpr int kSignalCount = 26;

// Record kinds that have no entry among the first 23.
inline constexpr int kFieldUnknown = 1;
inline constexpr int kFieldCompose = 3036;
inline constexpr int kFieldReadBlock = 3100;
inline constexpr int kFieldWriteBlock = 3101;
inline constexpr int kFieldStart = 3306;

const FieldTypeEntry& FieldType(int index);  // index 0..26

// Colour of the first of entries 0..22 whose id matches, else 0.
uint32_t FieldColour(int id);

// Sets the colour of every entry among the first 23 whose id matches.
void SetFieldTypeColour(int id, uint32_t colour);

// Restores the initial contents (for tests that need a fresh table).
void ResetFieldTypeTable();

}  // namespace fd
