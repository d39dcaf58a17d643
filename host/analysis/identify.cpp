#include "host/analysis/identify.h"

#include <algorithm>

namespace fd::host::analysis {
namespace {

// ATA strings hold two characters per word, the first in bits 15:8.
std::string AtaString(std::span<const uint16_t> words, size_t first, size_t count) {
    std::string text;
    for (size_t i = first; i < first + count; ++i) {
        for (int shift : {8, 0}) {
            const char c = static_cast<char>((words[i] >> shift) & 0xFF);
            text += (c >= 0x20 && c < 0x7F) ? c : ' ';
        }
    }
    const size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

std::string ModeRange(const char* name, const std::vector<int>& modes) {
    if (modes.empty()) return {};
    const bool contiguous = modes.back() - modes.front() + 1 == static_cast<int>(modes.size());
    std::string text = name + std::to_string(modes.front());
    if (modes.size() > 1 && contiguous) return text + "-" + std::to_string(modes.back());
    for (size_t i = 1; i < modes.size(); ++i) text += "," + std::to_string(modes[i]);
    return text;
}

std::optional<int> SelectedBit(uint16_t word, int firstBit, int bits) {
    for (int i = 0; i < bits; ++i) {
        if (word & (1u << (firstBit + i))) return i;
    }
    return std::nullopt;
}

}  // namespace

std::optional<IdentifyInfo> ParseIdentify(std::span<const uint16_t> w) {
    if (w.size() < 256) return std::nullopt;
    IdentifyInfo info;
    info.generalConfiguration = w[0];
    info.cfSignature = w[0] == 0x848A;
    info.cylinders = w[1];
    info.heads = w[3];
    info.sectorsPerTrack = w[6];
    info.cfSectors = (static_cast<uint32_t>(w[7]) << 16) | w[8];
    info.serial = AtaString(w, 10, 10);
    info.firmware = AtaString(w, 23, 4);
    info.model = AtaString(w, 27, 20);
    info.lbaSupported = (w[49] & 0x0200) != 0;
    info.dmaSupported = (w[49] & 0x0100) != 0;
    info.lbaSectors = (static_cast<uint32_t>(w[61]) << 16) | w[60];

    // PIO: modes 0..n from word 51, PIO3/4 from word 64, PIO5/6 from word 163.
    const int basicPio = std::min(w[51] >> 8, 2);
    for (int mode = 0; mode <= basicPio; ++mode) info.pioModes.push_back(mode);
    if (w[53] & 0x0002) {
        if (w[64] & 0x0001) info.pioModes.push_back(3);
        if (w[64] & 0x0002) info.pioModes.push_back(4);
    }
    const int advancedPio = w[163] & 0x7;
    for (int mode = 5; mode < 5 + advancedPio && mode <= 6; ++mode) info.pioModes.push_back(mode);

    for (int mode = 0; mode < 3; ++mode) {
        if (w[63] & (1u << mode)) info.mwdmaModes.push_back(mode);
    }
    const int advancedMwdma = (w[163] >> 3) & 0x7;
    for (int mode = 3; mode < 3 + advancedMwdma && mode <= 4; ++mode) info.mwdmaModes.push_back(mode);
    info.mwdmaSelected = SelectedBit(w[63], 8, 3);

    if (w[53] & 0x0004) {
        for (int mode = 0; mode < 7; ++mode) {
            if (w[88] & (1u << mode)) info.udmaModes.push_back(mode);
        }
        info.udmaSelected = SelectedBit(w[88], 8, 7);
    }
    if ((w[255] & 0xFF) == 0xA5) {
        uint8_t sum = 0;
        for (size_t i = 0; i < 256; ++i) sum = static_cast<uint8_t>(sum + (w[i] & 0xFF) + (w[i] >> 8));
        info.checksumValid = sum == 0;
    }
    return info;
}

std::string IdentifyInfo::ModesText() const {
    std::string text;
    for (const std::string& part :
         {ModeRange("PIO", pioModes), ModeRange("MWDMA", mwdmaModes), ModeRange("UDMA", udmaModes)}) {
        if (part.empty()) continue;
        if (!text.empty()) text += ' ';
        text += part;
    }
    if (udmaSelected)
        text += " (selected UDMA" + std::to_string(*udmaSelected) + ")";
    else if (mwdmaSelected)
        text += " (selected MWDMA" + std::to_string(*mwdmaSelected) + ")";
    return text;
}

}  // namespace fd::host::analysis
