#include "plugin/presentation/display_queries.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fd {
namespace {

constexpr std::array<PacketItem, kPacketItemCount> kInitialPacketItems = {{
    {true, 0xFD7D3C},
    {true, 0x5949E6},
    {true, 0x9900CC},
    {true, 0xB77B41},
    {true, 0x5984F4},
    {true, 0x9F7FEF},
    {true, 0x1D72F9},
    {true, 0x33CC33},
    {true, 0x868686},
    {true, 0xE54E00},
    {true, 0xA0489C},
    {true, 0x89CE8A},
    {true, 0x2DBE73},
    {true, 0xFF0505},
}};

constinit std::array<PacketItem, kPacketItemCount> packetItems = kInitialPacketItems;

// The 22 ids the item table answers for, with their packet item and the name
// the name query gives (a set of its own: 4031 is "CARDHEAD" here).
struct NamedField {
    int16_t id;
    int8_t item;
    const char* name;
};
constexpr NamedField kNamedFields[] = {
    {4002, 0, "PIO READ"},      {4003, 1, "PIO WRITE"},      {4004, 2, "ERROR REGISTER"},
    {4005, 3, "FEATURES"},      {4006, 8, "SECTOR COUNT"},   {4007, 9, "SECTOR NO"},
    {4008, 10, "CYLINDER LOW"}, {4009, 11, "CYLINDER HIGH"}, {4010, 12, "SELECT CARD/HEAD"},
    {4011, 4, "STATUS"},        {4012, 5, "COMMAND"},        {4013, 0, "ALT STATUS READ"},
    {4014, 1, "CONTROL WRITE"}, {4015, 6, "DRIVE ADDRESS"},  {4017, 0, "DMA READ"},
    {4018, 1, "DMA WRITE"},     {4019, 0, "READ"},           {4020, 1, "WRITE"},
    {4025, 6, "ADDRESS"},       {4026, 7, "DATA(R)"},        {4031, 12, "CARDHEAD"},
    {4032, 7, "DATA(W)"},
};

const NamedField* FindNamedField(int16_t id) {
    for (const NamedField& field : kNamedFields) {
        if (field.id == id) return &field;
    }
    return nullptr;
}

void WriteIds(const FdHostInt32Vector& vector, std::initializer_list<int32_t> ids) {
    if (vector.first == nullptr) return;
    int32_t* out = vector.first;
    for (int32_t id : ids) *out++ = id;
}

// Replaces a host id list's contents; storage comes from malloc/free.
void ReplaceIdList(FdHostInt16Vector& list, const std::vector<int16_t>& ids) {
    const size_t room = list.first ? static_cast<size_t>(list.end - list.first) : 0;
    if (ids.size() > room) {
        void* storage = ids.empty() ? nullptr : std::malloc(ids.size() * sizeof(int16_t));
        if (storage == nullptr) {
            // Out of memory: leave the list empty rather than half-filled.
            list.last = list.first;
            return;
        }
        std::free(list.first);
        list.first = static_cast<int16_t*>(storage);
        list.end = list.first + ids.size();
    }
    if (!ids.empty()) std::memcpy(list.first, ids.data(), ids.size() * sizeof(int16_t));
    list.last = list.first ? list.first + ids.size() : nullptr;
}

bool IsRadix(int16_t radix) { return radix >= 0 && radix <= 3; }

}  // namespace

const char* const kPacketItemLabels[kPacketItemCount] = {
    "READ", "WRITE",        "ERROR REGISTER", "FEATURES",     "STATUS",        "COMMAND",   "ADDRESS",
    "DATA", "SECTOR COUNT", "SECTOR NO.",     "CYLINDER LOW", "CYLINDER HIGH", "CARD/HEAD", "DESCRIBE",
};

const uint32_t kInitialPacketColours[kPacketItemCount] = {
    0xFD7D3C, 0x5949E6, 0x9900CC, 0xB77B41, 0x5984F4, 0x9F7FEF, 0x1D72F9,
    0x33CC33, 0x868686, 0xE54E00, 0xA0489C, 0x89CE8A, 0x2DBE73, 0xFF0505,
};

PacketItem& PacketItemAt(int item) { return packetItems[static_cast<size_t>(item)]; }

void ResetPacketItems() { packetItems = kInitialPacketItems; }

int PacketItemForField(int16_t id) {
    const NamedField* field = FindNamedField(id);
    return field ? field->item : -1;
}

bool IsPacketItemShown(int16_t id) {
    switch (id) {
        case 1:
        case 3036:
        case 3100:
        case 3101:
        case 3306:
            return false;
        default:
            break;
    }
    const int item = PacketItemForField(id);
    return item < 0 ? true : packetItems[static_cast<size_t>(item)].shown;
}

bool GetFieldName(int16_t id, char* buffer) {
    const NamedField* field = FindNamedField(id);
    if (field != nullptr && buffer != nullptr) std::strcpy(buffer, field->name);
    return true;
}

bool GetPacketItemColour(int16_t id, int32_t* colour) {
    const int item = PacketItemForField(id);
    if (item >= 0 && colour != nullptr) {
        *colour = static_cast<int32_t>(packetItems[static_cast<size_t>(item)].colour);
    }
    return true;
}

bool IsDelimiterField(int16_t id) { return id == 3036 || id == 3306 || id == 4010; }

bool IsUnknownField(int16_t id) { return id == 1; }

bool IsWriteItemShown() { return packetItems[kPacketItemWrite].shown; }

int32_t IsDataField(int32_t id) { return (id == 4026 || id == 4032) ? 1 : 0; }

FdPacketDefinition* FillPacketDefinition(FdPacketDefinition* definition) {
    if (definition == nullptr) return definition;
    WriteIds(definition->blockDelimiters, {4010, 3036});
    WriteIds(definition->addressFields, {4010, 4009, 4008, 4007, 3036});
    WriteIds(definition->readBlockMarker, {3100});
    WriteIds(definition->writeBlockMarker, {3101});
    WriteIds(definition->dataFields, {4026, 4032});
    definition->itemCount = 43;
    return definition;
}

const char* GetModuleIdentifier() { return "FD0000CF4101"; }

FdRadixCounters* CountRadixFields(FdRadixCounters* counters, const FdDecoderSettings& settings) {
    if (counters == nullptr) return counters;
    counters->customRadixDisplay = settings.customRadixDisplay != 0 ? 1 : 0;
    if (settings.customRadixDisplay == 0) return counters;
    if (IsRadix(settings.taskFileRadix)) {
        counters->count[settings.taskFileRadix] += static_cast<int32_t>(std::size(kTaskFileIds));
    }
    if (IsRadix(settings.dataRadix)) {
        counters->count[settings.dataRadix] += static_cast<int32_t>(std::size(kDataIds));
    }
    return counters;
}

FdRadixLists* FillRadixLists(FdRadixLists* lists, const FdDecoderSettings& settings) {
    if (lists == nullptr) return lists;
    std::vector<int16_t> byRadix[4];
    if (IsRadix(settings.taskFileRadix)) {
        auto& list = byRadix[settings.taskFileRadix];
        list.insert(list.end(), std::begin(kTaskFileIds), std::end(kTaskFileIds));
    }
    if (IsRadix(settings.dataRadix)) {
        auto& list = byRadix[settings.dataRadix];
        list.insert(list.end(), std::begin(kDataIds), std::end(kDataIds));
    }
    for (int radix = 0; radix < 4; ++radix) ReplaceIdList(lists->list[radix], byRadix[radix]);
    return lists;
}

}  // namespace fd
