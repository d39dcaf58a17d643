// cfdecode's side of the host boundary: it drives a loaded plug-in through
// its entry table as a host application does (settings in and out, capture
// hand-over, decode), reads the four result lists in place and asks the
// presentation slots how each record kind is shown.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/loader/plugin_library.h"
#include "host/model/capture_image.h"

namespace fd::host {

struct DecodedRecord {
    uint64_t position = 0;  // the capture's own: windows are handed over rebased
    int64_t value = 0;
    uint16_t fieldId = 0;
    uint32_t colour = 0;  // 0x00BBGGRR
    bool operator==(const DecodedRecord&) const = default;
};

// Decoded records: either the plug-in's four result lists, read in place
// (valid until the next Decode), or records of its own (tests).
class RecordList {
public:
    RecordList() = default;
    RecordList(std::vector<DecodedRecord> records)
        : owned_(std::move(records)), count_(owned_.size()) {}  // NOLINT
    // The four lists as the plug-in handed them over; missing lists give no
    // records, lists of different lengths their common part.
    static RecordList View(const FdUInt32List* positions, const FdUInt64List* values, const FdUInt16List* ids,
                           const FdUInt32List* colours);

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    DecodedRecord operator[](size_t index) const {
        if (positions_ == nullptr) return owned_[index];
        return {positions_[index], static_cast<int64_t>(values_[index]), ids_[index], colours_[index]};
    }

    class Iterator {
    public:
        using value_type = DecodedRecord;
        using difference_type = std::ptrdiff_t;
        Iterator(const RecordList* list, size_t index) : list_(list), index_(index) {}
        DecodedRecord operator*() const { return (*list_)[index_]; }
        Iterator& operator++() {
            ++index_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return index_ == other.index_; }

    private:
        const RecordList* list_;
        size_t index_;
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, count_}; }

private:
    std::vector<DecodedRecord> owned_;
    const uint32_t* positions_ = nullptr;
    const uint64_t* values_ = nullptr;
    const uint16_t* ids_ = nullptr;
    const uint32_t* colours_ = nullptr;
    size_t count_ = 0;
};

// How the plug-in wants one field id presented.
struct FieldPresentation {
    std::string name;
    bool shown = true;
    int radix = FdRadixHexadecimal;
    int width = 0;  // bits of the value; 0 for markers
};

struct DecodeWindow {
    bool hasStart = false;
    uint32_t start = 0;
    bool hasRange = false;
    uint32_t rangeStart = 0;
    uint32_t rangeEnd = 0;
    int32_t language = FdLanguageEnglish;
};

class PluginHost {
public:
    // Throws std::runtime_error when the library cannot be loaded.
    explicit PluginHost(const std::string& path);

    // The stored record goes back through the GetSettings address; the
    // plug-in copies it out through CopySettings.
    void WriteSettings(const std::array<uint8_t, FD_SETTINGS_SIZE>& record);
    std::array<uint8_t, FD_SETTINGS_SIZE> ReadSettings() const;
    bool ResetSettings();
    void SetChannelNumbers(const std::array<int32_t, 11>& channels);

    // The records are the plug-in's lists, read in place: valid until the
    // next Decode.
    RecordList Decode(CaptureImage& image, const DecodeWindow& window);
    // Presentation of every id in the records, plus the well-known ones.
    std::map<uint16_t, FieldPresentation> Presentation(const RecordList& records) const;

private:
    PluginLibrary library_;
    const FdEntryTable& table_;
};

// Display name of a field id: the plug-in's name, else the names of the
// kinds it leaves unnamed (UNKNOW, COMPOSE, START, READ BLOCK, WRITE BLOCK).
std::string FieldName(const FdEntryTable& table, uint16_t id);

}  // namespace fd::host
