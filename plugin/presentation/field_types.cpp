#include "plugin/presentation/field_types.h"

#include <array>

namespace fd {
namespace {

constexpr FieldTypeEntry Entry(int32_t id, uint32_t colour, const char* name, int32_t width) {
    FieldTypeEntry entry{id, colour, {}, width};
    for (size_t i = 0; name[i] != '\0' && i + 1 < sizeof entry.name; ++i) entry.name[i] = name[i];
    return entry;
}

// The enumerated entries from the presentation table, then four the host
// does not enumerate: the markers and a second READ and WRITE of width 0,
// which keep their grey.
constexpr std::array<FieldTypeEntry, kFieldTypeEntries> MakeInitialFieldTypes() {
    std::array<FieldTypeEntry, kFieldTypeEntries> entries{};
    size_t next = 0;
    for (const FieldPresentation& field : kFieldPresentation)
        entries[next++] = Entry(field.id, InitialFieldColour(field), field.typeName, field.width);
    entries[next++] = Entry(FdFieldCompose, kMarkerColour, "COMPOSE", 0);
    entries[next++] = Entry(FdFieldRead, kMarkerColour, "READ", 0);
    entries[next++] = Entry(FdFieldWrite, kMarkerColour, "WRITE", 0);
    entries[next++] = Entry(FdFieldStart, kMarkerColour, "START", 0);
    return entries;
}
static_assert(kFieldTypeCount + 4 == kFieldTypeEntries);

constexpr std::array<FieldTypeEntry, kFieldTypeEntries> kInitialFieldTypes = MakeInitialFieldTypes();

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
