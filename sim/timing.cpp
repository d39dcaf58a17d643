#include "sim/timing.h"

#include <stdexcept>
#include <string>

namespace fd::sim {
namespace {

constexpr PioTiming kPio[kPioModes] = {
    {600, 70, 165, 290, 0, 20}, {383, 50, 125, 290, 0, 15}, {240, 30, 100, 290, 0, 10},
    {180, 30, 80, 80, 70, 10},  {120, 25, 70, 70, 25, 10},  {100, 15, 65, 65, 25, 10},
    {80, 10, 55, 55, 20, 10},
};

constexpr MwdmaTiming kMwdma[kMwdmaModes] = {
    {480, 215, 50, 215, 50, 20}, {150, 80, 50, 50, 30, 5}, {120, 70, 25, 25, 25, 5},
    {100, 65, 25, 25, 10, 5},    {80, 55, 20, 20, 5, 5},
};

constexpr UdmaTiming kUdma[kUdmaModes] = {
    {120, 112, 70, 6.2, 20, 20, 160, 150, 20, 50}, {80, 73, 48, 6.2, 20, 20, 125, 150, 20, 50},
    {60, 54, 31, 6.2, 20, 20, 100, 150, 20, 50},   {45, 39, 20, 6.2, 20, 20, 100, 100, 20, 50},
    {30, 25, 6.7, 6.2, 20, 20, 100, 100, 20, 50},  {20, 16.8, 4.8, 4.8, 20, 20, 85, 75, 20, 50},
    {15, 13, 4.0, 4.0, 20, 20, 85, 60, 20, 50},
};

template <typename Row, int N>
const Row& Pick(const Row (&table)[N], int mode, const char* family) {
    if (mode < 0 || mode >= N) {
        throw std::out_of_range(std::string(family) + " mode " + std::to_string(mode) +
                                " does not exist (0 to " + std::to_string(N - 1) + ")");
    }
    return table[mode];
}

}  // namespace

const PioTiming& PioMode(int mode) { return Pick(kPio, mode, "PIO"); }
const MwdmaTiming& MwdmaMode(int mode) { return Pick(kMwdma, mode, "multiword DMA"); }
const UdmaTiming& UdmaMode(int mode) { return Pick(kUdma, mode, "Ultra DMA"); }

}  // namespace fd::sim
