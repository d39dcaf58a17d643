// Module-level state of one decode, shared by the driver and the two
// per-position decoders: the decode window and the transfer state (register
// copies, the word counter of the current sector, the pending START flag).
#pragma once

#include <cstdint>

namespace fd {

struct DecodeWindow {
    uint32_t windowStart = 0;  // exclusive lower bound of visited positions
    uint32_t windowEnd = 0;    // exclusive upper bound; also the record position clamp
};

struct TransferState {
    int32_t cardHead = 0;
    int32_t cylinderHigh = 0;
    int32_t cylinderLow = 0;
    int32_t sectorNumber = 0;  // counts on past 255: carries into the cylinder bytes
    int32_t wordCount = 0;     // words of the current sector, 0..256, both strobe edges
    bool startPending = true;
};

inline constexpr int32_t kWordsPerSector = 256;

DecodeWindow& Window();
TransferState& Transfer();

}  // namespace fd
