// The bus cycles that begin with a falling strobe: PIO task-file register
// reads and writes, multiword DMA cycles, and the Ultra DMA words carried on
// falling strobe edges (counted into the same sectors as the rising ones).
#pragma once

#include <array>
#include <cstdint>

#include "plugin/decoder/signal_access.h"

namespace fd {

enum class CycleValue : uint8_t { Byte, Word };  // D0-D7 or D0-D15

// What a register cycle does to the transfer state besides being recorded.
enum class CycleEffect : uint8_t { None, SectorNumber, CylinderLow, CylinderHigh, SelectCardHead };

// One row of the cycle-code table (see SignalAccess::CycleCode). A field id
// of 0 records nothing.
struct CycleRow {
    int16_t readField;
    int16_t writeField;
    CycleValue value;
    int8_t requiredDmarq;  // -1: taken whatever DMARQ is
    CycleEffect effect;
    // DMACK asserted, no chip select: a multiword DMA cycle, which needs
    // DMARQ just before its strobe falls and the other strobe steady
    // (requiredDmarq is not read).
    bool multiwordDma = false;
};

inline constexpr int kCycleCodes = 64;
extern const std::array<CycleRow, kCycleCodes> kCycleTable;

// A register, PIO data or multiword DMA cycle is taken where its strobe
// falls, but its data where the receiver latches them: at the last sample
// of the strobe pulse, since a card drives read data only late in the pulse
// and a host may drive write data after the strobe falls. The pulse ends
// where the strobe changes again, or at the window's end.
uint32_t LatchPoint(const SignalAccess& signals, Signal strobe, uint32_t fall, uint32_t windowEnd);

// The checks a multiword DMA cycle whose strobe falls at `fall` needs beyond
// its cycle code: DMARQ high just before the fall, and the other strobe at
// one level from the fall to `latch`.
bool IsMultiwordDmaCycle(const SignalAccess& signals, Signal strobe, uint32_t fall, uint32_t latch);

// Records a register cycle that passed its checks: `field` from `row`,
// `value` the data byte or word the row reads, and the row's effect on the
// transfer state. Used by TakeAction (edge_rules.h).
void RecordRegisterValue(const CycleRow& row, int field, uint32_t position, uint32_t value);

// Records the cycle whose strobe falls at `position`, if any (Decide of
// edge_rules.h, its falling-edge actions). True when something was
// recorded.
bool DecodeRegisterCycle(const SignalAccess& signals, uint32_t position);

}  // namespace fd
