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

// The way the words of the Ultra DMA burst on the bus go, once its opening
// has shown it (the receiver asserting its ready line). Unknown outside a
// burst and in a burst before that; Unseen until the decode has seen the
// bus outside a burst, since it may begin inside one and would take a
// paused receiver's strobe edge for an opening.
enum class BurstDirection : uint8_t { Unseen, Unknown, HostToCard, CardToHost };

struct TransferState {
    int32_t cardHead = 0;
    int32_t cylinderHigh = 0;
    int32_t cylinderLow = 0;
    int32_t sectorNumber = 0;  // counts on past 255: carries into the cylinder bytes
    int32_t wordCount = 0;     // words of the current sector, 0..256, both strobe edges
    bool startPending = true;
    // Learnt as a burst opens, back to unknown where a strobe changes while
    // STOP is asserted or moving, or DMACK is negated.
    BurstDirection burstDirection = BurstDirection::Unseen;
};

inline constexpr int32_t kWordsPerSector = 256;

DecodeWindow& Window();
TransferState& Transfer();

}  // namespace fd
