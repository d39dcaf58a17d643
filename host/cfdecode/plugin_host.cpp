#include "host/cfdecode/plugin_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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

std::vector<DecodedRecord> PluginHost::Decode(CaptureImage& image, const DecodeWindow& window) {
    if (window.hasStart) image.SetStart(window.start);
    if (window.hasRange) image.SetRange(window.rangeStart, window.rangeEnd);
    image.SetLanguage(window.language);
    FdCapture* capture = image.capture();
    table_.SetCapture(0, capture);
    table_.Decode();

    // The four lists are read in place; they stay valid until the next
    // Decode or ClearResults, so everything is copied out now.
    std::vector<DecodedRecord> records;
    const FdUInt32List* positions = capture->positionList;
    const FdUInt64List* values = capture->valueList;
    const FdUInt16List* ids = capture->fieldIdList;
    const FdUInt32List* colours = capture->colourList;
    if (positions == nullptr || values == nullptr || ids == nullptr || colours == nullptr) return records;
    const int32_t count = std::min({positions->count, values->count, ids->count, colours->count});
    records.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int32_t i = 0; i < count; ++i) {
        records.push_back({positions->elements[i], static_cast<int64_t>(values->elements[i]), ids->elements[i],
                           colours->elements[i]});
    }
    table_.ClearResults();
    return records;
}

std::string FieldName(const FdEntryTable& table, uint16_t id) {
    char buffer[260] = {};
    table.GetFieldName(static_cast<int16_t>(id), buffer);
    if (buffer[0] != '\0') return std::string(buffer, strnlen(buffer, sizeof buffer));
    switch (id) {
    case 1: return "UNKNOW";
    case 3036: return "COMPOSE";
    case 3306: return "START";
    case 3100: return "READ BLOCK";
    case 3101: return "WRITE BLOCK";
    default: return "FIELD " + std::to_string(id);
    }
}

std::map<uint16_t, FieldPresentation> PluginHost::Presentation(const std::vector<DecodedRecord>& records) const {
    std::map<uint16_t, FieldPresentation> fields;
    for (const DecodedRecord& record : records) fields.emplace(record.fieldId, FieldPresentation{});
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
