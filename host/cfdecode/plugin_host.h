// cfdecode's side of the host boundary: it drives a loaded plug-in through
// its entry table as a host application does (settings in and out, capture
// hand-over, decode), reads the four result lists in place and asks the
// presentation slots how each record kind is shown.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/loader/plugin_library.h"
#include "host/model/capture_image.h"

namespace fd::host {

struct DecodedRecord {
    uint32_t position = 0;
    int64_t value = 0;
    uint16_t fieldId = 0;
    uint32_t colour = 0;  // 0x00BBGGRR
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

    std::vector<DecodedRecord> Decode(CaptureImage& image, const DecodeWindow& window);
    // Presentation of every id in the records, plus the well-known ones.
    std::map<uint16_t, FieldPresentation> Presentation(const std::vector<DecodedRecord>& records) const;

private:
    PluginLibrary library_;
    const FdEntryTable& table_;
};

// Display name of a field id: the plug-in's name, else the names of the
// kinds it leaves unnamed (UNKNOW, COMPOSE, START, READ BLOCK, WRITE BLOCK).
std::string FieldName(const FdEntryTable& table, uint16_t id);

}  // namespace fd::host
