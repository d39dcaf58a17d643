#include "host/cfdecode/plugin_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fd::host {

PluginHost::PluginHost(const std::string& path) : library_(path), table_(library_.table()) {
    // A host announces itself first; ResetSettings refuses until it has.
    table_.SetHostInfo(1, 0);
}

void PluginHost::WriteSettings(const std::array<uint8_t, FD_SETTINGS_SIZE>& record) {
    int32_t size = 0;
    FdDecoderSettings* live = table_.GetSettings(&size);
    std::memcpy(live, record.data(), std::min<size_t>(record.size(), static_cast<size_t>(size)));
}

std::array<uint8_t, FD_SETTINGS_SIZE> PluginHost::ReadSettings() const {
    std::array<uint8_t, FD_SETTINGS_SIZE> record{};
    table_.CopySettings(record.data(), FD_SETTINGS_SIZE);
    return record;
}

bool PluginHost::ResetSettings() { return table_.ResetSettings() != 0; }

void PluginHost::SetChannelNumbers(const std::array<int32_t, 11>& channels) {
    int32_t size = 0;
    FdDecoderSettings* live = table_.GetSettings(&size);
    for (size_t i = 0; i < channels.size(); ++i) live->channel[i] = channels[i];
}

RecordList RecordList::View(const FdUInt32List* positions, const FdUInt64List* values,
                            const FdUInt16List* ids, const FdUInt32List* colours) {
    RecordList list;
    if (positions == nullptr || values == nullptr || ids == nullptr || colours == nullptr) return list;
    const int32_t count = std::min({positions->count, values->count, ids->count, colours->count});
    if (count <= 0 || positions->elements == nullptr || values->elements == nullptr ||
        ids->elements == nullptr || colours->elements == nullptr)
        return list;
    list.positions_ = positions->elements;
    list.values_ = values->elements;
    list.ids_ = ids->elements;
    list.colours_ = colours->elements;
    list.count_ = static_cast<size_t>(count);
    return list;
}

RecordList PluginHost::Decode(CaptureImage& image, const DecodeWindow& window) {
    if (window.hasStart) image.SetStart(window.start);
    if (window.hasRange) image.SetRange(window.rangeStart, window.rangeEnd);
    image.SetLanguage(window.language);
    FdCapture* capture = image.capture();
    // The previous decode's lists go first, so two decodes are never held
    // at once.
    table_.ClearResults();
    table_.SetCapture(0, capture);
    table_.Decode();
    // The four lists stay the plug-in's, valid until the next Decode or
    // ClearResults: read in place, not copied.
    return RecordList::View(capture->positionList, capture->valueList, capture->fieldIdList,
                            capture->colourList);
}

std::string FieldName(const FdEntryTable& table, uint16_t id) {
    char buffer[260] = {};
    table.GetFieldName(static_cast<int16_t>(id), buffer);
    if (buffer[0] != '\0') return std::string(buffer, strnlen(buffer, sizeof buffer));
    switch (id) {
        case 1:
            return "UNKNOW";
        case 3036:
            return "COMPOSE";
        case 3306:
            return "START";
        case 3100:
            return "READ BLOCK";
        case 3101:
            return "WRITE BLOCK";
        default:
            return "FIELD " + std::to_string(id);
    }
}

std::map<uint16_t, FieldPresentation> PluginHost::Presentation(const RecordList& records) const {
    std::map<uint16_t, FieldPresentation> fields;
    std::vector<bool> seen(65536);
    for (const DecodedRecord& record : records) {
        if (seen[record.fieldId]) continue;
        seen[record.fieldId] = true;
        fields.emplace(record.fieldId, FieldPresentation{});
    }
    for (const uint16_t id : {uint16_t{1}, uint16_t{3036}, uint16_t{3100}, uint16_t{3101}, uint16_t{3306}})
        fields.emplace(id, FieldPresentation{});

    // Widths from the field-type table; the first entry of an id wins.
    std::map<int32_t, int32_t> widths;
    for (int32_t index = 0; index < 27; ++index) {
        int32_t id = 0, width = 0;
        uint32_t colour = 0;
        char name[260] = {};
        table_.GetFieldType(index, &id, &colour, name, &width);
        widths.emplace(id, width);
    }

    // Radix: only when the user activated custom radix display; the
    // plug-in then files each id under the radix it is to be shown in.
    FdRadixCounters counters{};
    table_.CountRadixFields(&counters);
    std::map<uint16_t, int> radixOf;
    if (counters.customRadixDisplay != 0) {
        FdRadixLists lists{};
        table_.FillRadixLists(&lists);
        for (int radix = 0; radix < 4; ++radix) {
            const FdHostInt16Vector& list = lists.list[radix];
            for (const int16_t* id = list.first; id != nullptr && id != list.last; ++id)
                radixOf.emplace(static_cast<uint16_t>(*id), radix);
            // The plug-in allocates this storage with malloc.
            std::free(list.first);
        }
    }

    for (auto& [id, field] : fields) {
        field.name = FieldName(table_, id);
        field.shown = table_.IsPacketItemShown(static_cast<int16_t>(id)) != 0;
        const auto radix = radixOf.find(id);
        field.radix = radix != radixOf.end() ? radix->second : FdRadixHexadecimal;
        const auto width = widths.find(id);
        field.width = width != widths.end() ? width->second : 0;
    }
    return fields;
}

}  // namespace fd::host
