// A small bus script for decoder tests: named steps (register reads and
// writes, multiword DMA cycles, Ultra DMA bursts in either direction, raw
// line changes) laid out one after another in time, turned into the 26
// channels of a capture in binding order (numbered 0 to 25).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "host/model/capture_image.h"
#include "host/model/waveform.h"
#include "plugin/interface/bus_roles.h"

namespace fd::test {

// Binding order; data line n is kD0 + n.
enum Line : int { kDmarq, kDmack, kCs1, kCs0, kA0, kA1, kA2, kIord, kIowr, kIordy, kD0 };
using fd::kBusRoleCount;

// Cycle codes: A0 + 2 A1 + 4 A2 + 8 CS0 + 16 CS1 + 32 DMACK.
enum Code : int {
    kMultiwordDma = 24,  // DMACK low, both chip selects high
    kAltStatusControl = 46,
    kDriveAddress = 47,
    kDataRegister = 48,
    kErrorFeatures = 49,
    kSectorCount = 50,
    kSectorNo = 51,
    kCylinderLow = 52,
    kCylinderHigh = 53,
    kCardHead = 54,
    kStatusCommand = 55,
};

class BusScript {
public:
    // The bus idles with every strobe, chip select and DMACK high, DMARQ,
    // address and data low. Steps start at `origin`, `step` samples apart.
    explicit BusScript(uint32_t origin = 100, uint32_t step = 10);

    uint32_t now() const { return now_; }
    int level(int line) const { return levels_[static_cast<size_t>(line)]; }

    // Changes lines at the current position (together), then moves on.
    BusScript& Set(std::initializer_list<std::pair<int, int>> changes);
    BusScript& Wait(uint32_t samples);
    // The data lines at the current position (no time passes).
    BusScript& Data(uint32_t value);

    // A register or multiword DMA cycle: address, selects and data set up,
    // then the strobe falls and rises. Returns the falling position.
    uint32_t Read(int code, uint32_t value);
    uint32_t Write(int code, uint32_t value);

    // An Ultra DMA burst, one word per strobe edge, the first on a falling
    // edge. Out: host to card, strobed on IORD. In: card to host, strobed on
    // IORDY. Returns each word's position.
    std::vector<uint32_t> UltraOut(const std::vector<uint32_t>& words);
    std::vector<uint32_t> UltraIn(const std::vector<uint32_t>& words);

    host::Waveform ToWaveform() const;
    std::vector<host::ChannelSpec> Channels() const;
    // A capture ending `tail` samples after the last step.
    host::CaptureImage Capture(uint32_t tail = 10) const;

private:
    uint32_t Cycle(int strobe, int code, uint32_t value);
    std::vector<uint32_t> Burst(int strobe, int readyLine, const std::vector<uint32_t>& words);
    void Change(int line, int level);

    uint32_t step_;
    uint32_t now_;
    std::vector<int> initial_;
    std::vector<int> levels_;
    std::vector<std::vector<uint32_t>> changes_;
};

const char* LineName(int line);

}  // namespace fd::test
