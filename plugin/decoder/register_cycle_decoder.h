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
};

inline constexpr int kCycleCodes = 64;
extern const std::array<CycleRow, kCycleCodes> kCycleTable;

// Records a register cycle that passed its checks: `field` from `row`,
// `value` the data byte or word the row reads, and the row's effect on the
// transfer state. Shared by DecodeRegisterCycle and the decode driver's
// table of line snapshots.
void RecordRegisterValue(const CycleRow& row, int field, uint32_t position, uint32_t value);

// Records the cycle whose strobe falls at `position`, if any. True when
// something was recorded.
bool DecodeRegisterCycle(const SignalAccess& signals, uint32_t position);

}  // namespace fd
