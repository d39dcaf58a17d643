#include "plugin/presentation/display_queries.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fd {
namespace {

constexpr std::array<PacketItem, kPacketItemCount> MakeInitialPacketItems() {
    std::array<PacketItem, kPacketItemCount> items{};
    for (int item = 0; item < kPacketItemCount; ++item)
        items[item] = {true, kPacketItemDefaults[item].colour};
    return items;
}
constexpr std::array<PacketItem, kPacketItemCount> kInitialPacketItems = MakeInitialPacketItems();

constinit std::array<PacketItem, kPacketItemCount> packetItems = kInitialPacketItems;

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

PacketItem& PacketItemAt(int item) { return packetItems[static_cast<size_t>(item)]; }

void ResetPacketItems() { packetItems = kInitialPacketItems; }

int PacketItemForField(int16_t id) {
    const FieldPresentation* field = FindFieldPresentation(id);
    return field ? field->item : kNoPacketItem;
}

bool IsPacketItemShown(int16_t id) {
    switch (id) {
        case FdFieldUnknown:
        case FdFieldCompose:
        case FdFieldReadBlock:
        case FdFieldWriteBlock:
        case FdFieldStart:
            return false;
        default:
            break;
    }
    const int item = PacketItemForField(id);
    return item < 0 ? true : packetItems[static_cast<size_t>(item)].shown;
}

bool GetFieldName(int16_t id, char* buffer) {
    const FieldPresentation* field = FindFieldPresentation(id);
    if (field != nullptr && field->queryName != nullptr && buffer != nullptr)
        std::strcpy(buffer, field->queryName);
    return true;
}

bool GetPacketItemColour(int16_t id, int32_t* colour) {
    const int item = PacketItemForField(id);
    if (item >= 0 && colour != nullptr) {
        *colour = static_cast<int32_t>(packetItems[static_cast<size_t>(item)].colour);
    }
    return true;
}

bool IsDelimiterField(int16_t id) {
    return id == FdFieldCompose || id == FdFieldStart || id == FdFieldSelectCardHead;
}

bool IsUnknownField(int16_t id) { return id == FdFieldUnknown; }

bool IsWriteItemShown() { return packetItems[kPacketItemWrite].shown; }

int32_t IsDataField(int32_t id) { return (id == FdFieldDataRead || id == FdFieldDataWrite) ? 1 : 0; }

FdPacketDefinition* FillPacketDefinition(FdPacketDefinition* definition) {
    if (definition == nullptr) return definition;
    WriteIds(definition->blockDelimiters, {FdFieldSelectCardHead, FdFieldCompose});
    WriteIds(definition->addressFields, {FdFieldSelectCardHead, FdFieldCylinderHigh, FdFieldCylinderLow,
                                         FdFieldSectorNo, FdFieldCompose});
    WriteIds(definition->readBlockMarker, {FdFieldReadBlock});
    WriteIds(definition->writeBlockMarker, {FdFieldWriteBlock});
    WriteIds(definition->dataFields, {FdFieldDataRead, FdFieldDataWrite});
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
