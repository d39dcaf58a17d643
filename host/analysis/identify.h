// IDENTIFY DEVICE data (256 words) read back into what a storage engineer
// wants to know: model, serial, firmware, capacity, CF signature and the
// transfer modes the card supports and has selected.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fd::host::analysis {

struct IdentifyInfo {
    uint16_t generalConfiguration = 0;
    bool cfSignature = false;  // word 0 is 848Ah
    std::string model;         // words 27-46, trailing spaces removed
    std::string serial;        // words 10-19, leading and trailing spaces removed
    std::string firmware;      // words 23-26
    uint32_t lbaSectors = 0;   // words 60-61
    uint32_t cfSectors = 0;    // words 7-8 (word 7 high)
    uint16_t cylinders = 0, heads = 0, sectorsPerTrack = 0;  // words 1, 3, 6
    bool lbaSupported = false;                               // word 49 bit 9
    bool dmaSupported = false;                               // word 49 bit 8
    std::vector<int> pioModes;                               // supported
    std::vector<int> mwdmaModes;
    std::vector<int> udmaModes;
    std::optional<int> mwdmaSelected;
    std::optional<int> udmaSelected;
    // Word 255: unset when the card keeps no integrity word (low byte not
    // A5h), else whether all 512 bytes sum to zero.
    std::optional<bool> checksumValid;

    uint64_t capacityBytes() const {
        return static_cast<uint64_t>(lbaSectors ? lbaSectors : cfSectors) * 512;
    }
    std::string ModesText() const;  // "PIO0-4 MWDMA0-2 UDMA0-4 (selected UDMA4)"
};

// Needs at least 256 words; fewer give nullopt.
std::optional<IdentifyInfo> ParseIdentify(std::span<const uint16_t> words);

}  // namespace fd::host::analysis
