#include "host/analysis/mode_timing.h"

#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace fd::host::analysis {
namespace {

//                  t0   t1  t2   t2-8 t2i t9  t3  t4  t5  t6  t6z tA  tB    tRD
constexpr PioTiming kPio[kPioModes] = {
    {600, 70, 165, 290, 0, 20, 60, 30, 50, 5, 30, 35, 1250, 0},
    {383, 50, 125, 290, 0, 15, 45, 20, 35, 5, 30, 35, 1250, 0},
    {240, 30, 100, 290, 0, 10, 30, 15, 20, 5, 30, 35, 1250, 0},
    {180, 30, 80, 80, 70, 10, 30, 10, 20, 5, 30, 35, 1250, 0},
    {120, 25, 70, 70, 25, 10, 20, 10, 20, 5, 30, 35, 1250, 0},
    // PIO5 and PIO6 have no IORDY flow control.
    {100, 15, 65, 65, 25, 10, 20, 5, 15, 5, 20, 0, 0, 0},
    {80, 10, 55, 55, 20, 10, 15, 5, 10, 5, 20, 0, 0, 0},
};

//                      t0   tD   tKR  tKW  tM  tJ  tE   tF  tG   tH  tLR  tLW tZ
constexpr MwdmaTiming kMwdma[kMwdmaModes] = {
    {480, 215, 50, 215, 50, 20, 150, 5, 100, 20, 120, 40, 20},
    {150, 80, 50, 50, 30, 5, 60, 5, 30, 15, 40, 40, 25},
    {120, 70, 25, 25, 25, 5, 50, 5, 20, 10, 35, 35, 25},
    {100, 65, 25, 25, 10, 5, 50, 5, 15, 5, 35, 35, 25},
    {80, 55, 20, 20, 5, 5, 45, 5, 10, 5, 35, 35, 25},
};

// Edge-to-edge timing, then the burst's opening and closing steps.
//   half  tCYC  t2CYC tDS  tDH  tDVS tDVH tACK tENV tRP  tLI  tMLI tSS
//   tZAD tZAH tAZ  tDZFS tFS  tRFS tCVS tCVH tCS tCH tUI tIORDYZ
constexpr UdmaTiming kUdma[kUdmaModes] = {
    {120, 112, 230, 15, 5, 70, 6.2, 20, 20, 160, 150, 20, 50, 0, 20, 10, 70, 230, 75, 70, 6.2, 15, 5, 0, 20},
    {80, 73, 154, 10, 5, 48, 6.2, 20, 20, 125, 150, 20, 50, 0, 20, 10, 48, 200, 70, 48, 6.2, 10, 5, 0, 20},
    {60, 54, 115, 7, 5, 31, 6.2, 20, 20, 100, 150, 20, 50, 0, 20, 10, 31, 170, 60, 31, 6.2, 7, 5, 0, 20},
    {45, 39, 86, 7, 5, 20, 6.2, 20, 20, 100, 100, 20, 50, 0, 20, 10, 20, 130, 60, 20, 6.2, 7, 5, 0, 20},
    {30, 25, 57, 5, 5, 6.7, 6.2, 20, 20, 100, 100, 20, 50, 0, 20, 10, 6.7, 120, 60, 6.7, 6.2, 5, 5, 0, 20},
    {20, 16.8, 38, 4.0, 4.6, 4.8, 4.8, 20, 20, 85, 75, 20, 50, 0, 20, 10, 25, 90, 50, 10, 10, 5, 5, 0, 20},
    {15, 13, 29, 2.6, 3.5, 4.0, 4.0, 20, 20, 85, 60, 20, 50, 0, 20, 10, 17.5, 80, 50, 10, 10, 5, 5, 0, 20},
};

template <typename Row, int N>
const Row& Pick(const Row (&table)[N], int mode, const char* family) {
    if (mode < 0 || mode >= N) {
        throw std::out_of_range(std::string(family) + " mode " + std::to_string(mode) +
                                " does not exist (0 to " + std::to_string(N - 1) + ")");
    }
    return table[mode];
}

int Modes(ModeFamily family) {
    switch (family) {
        case ModeFamily::Mwdma:
            return kMwdmaModes;
        case ModeFamily::Udma:
            return kUdmaModes;
        case ModeFamily::Pio:
            break;
    }
    return kPioModes;
}

}  // namespace

const PioTiming& PioMode(int mode) { return Pick(kPio, mode, "PIO"); }
const MwdmaTiming& MwdmaMode(int mode) { return Pick(kMwdma, mode, "multiword DMA"); }
const UdmaTiming& UdmaMode(int mode) { return Pick(kUdma, mode, "Ultra DMA"); }

std::string ModeName(TransferMode mode) {
    const char* prefix = mode.family == ModeFamily::Pio     ? "PIO"
                         : mode.family == ModeFamily::Mwdma ? "MWDMA"
                                                            : "UDMA";
    return prefix + std::to_string(mode.number);
}

std::optional<TransferMode> ParseMode(std::string_view text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    struct Prefix {
        std::string_view text;
        ModeFamily family;
    };
    for (const Prefix& prefix : {Prefix{"pio", ModeFamily::Pio}, Prefix{"mwdma", ModeFamily::Mwdma},
                                 Prefix{"mdma", ModeFamily::Mwdma}, Prefix{"udma", ModeFamily::Udma}}) {
        if (lower.size() != prefix.text.size() + 1 || lower.compare(0, prefix.text.size(), prefix.text) != 0)
            continue;
        const char digit = lower.back();
        if (digit < '0' || digit >= '0' + Modes(prefix.family)) return std::nullopt;
        return TransferMode{prefix.family, digit - '0'};
    }
    return std::nullopt;
}

std::optional<TransferMode> ModeFromSetFeatures(uint8_t sectorCount) {
    if (sectorCount <= 0x01) return TransferMode{ModeFamily::Pio, 0};
    const int number = sectorCount & 7;
    switch (sectorCount >> 3) {
        case 0x01:
            if (number < kPioModes) return TransferMode{ModeFamily::Pio, number};
            break;
        case 0x04:
            if (number < kMwdmaModes) return TransferMode{ModeFamily::Mwdma, number};
            break;
        case 0x08:
            if (number < kUdmaModes) return TransferMode{ModeFamily::Udma, number};
            break;
        default:
            break;
    }
    return std::nullopt;
}

TransferMode FastestMode(ModeFamily family) { return TransferMode{family, Modes(family) - 1}; }

}  // namespace fd::host::analysis
