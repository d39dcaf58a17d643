#include "plugin/decoder/register_cycle_decoder.h"

#include "plugin/decoder/decode_state.h"
#include "plugin/decoder/dma_word_decoder.h"
#include "plugin/decoder/edge_rules.h"
#include "plugin/decoder/record_store.h"
#include "plugin/presentation/field_types.h"

namespace fd {

namespace {

constexpr std::array<CycleRow, kCycleCodes> MakeCycleTable() {
    using enum CycleValue;
    using enum CycleEffect;
    std::array<CycleRow, kCycleCodes> table{};
    // DMACK low, both chip selects high: a multiword DMA cycle; the address
    // lines do not matter. Only while the card requests DMA.
    for (int code = 24; code <= 31; ++code)
        table[static_cast<size_t>(code)] = {FdFieldDmaRead, FdFieldDmaWrite, Word, 1, None, true};
    // CS1 asserted: the control block.
    table[46] = {FdFieldAltStatusRead, FdFieldControlWrite, Byte, -1, None};  // ALT STATUS / CONTROL
    table[47] = {FdFieldDriveAddress, 0, Byte, 0, None};  // DRIVE ADDRESS, read only, not during DMA
    // CS0 asserted: the command block.
    table[48] = {FdFieldPioRead, FdFieldPioWrite, Word, -1, None};         // DATA
    table[49] = {FdFieldErrorRegister, FdFieldFeatures, Byte, -1, None};   // ERROR REGISTER / FEATURES
    table[50] = {FdFieldSectorCount, FdFieldSectorCount, Byte, -1, None};  // SECTOR COUNT
    table[51] = {FdFieldSectorNo, FdFieldSectorNo, Byte, -1, SectorNumber};
    table[52] = {FdFieldCylinderLow, FdFieldCylinderLow, Byte, -1, CylinderLow};
    table[53] = {FdFieldCylinderHigh, FdFieldCylinderHigh, Byte, -1, CylinderHigh};
    table[54] = {FdFieldSelectCardHead, FdFieldSelectCardHead, Byte, -1, SelectCardHead};
    table[55] = {FdFieldStatus, FdFieldCommand, Byte, -1, None};  // STATUS / COMMAND
    return table;
}

}  // namespace

constinit const std::array<CycleRow, kCycleCodes> kCycleTable = MakeCycleTable();

uint32_t LatchPoint(const SignalAccess& signals, Signal strobe, uint32_t fall, uint32_t windowEnd) {
    return signals.LevelHeldUntil(strobe, fall, windowEnd) - 1;
}

bool IsMultiwordDmaCycle(const SignalAccess& signals, Signal strobe, uint32_t fall, uint32_t latch) {
    // The card asks with DMARQ before the host strobes; it may drop DMARQ as
    // the last cycle's strobe falls.
    if (signals.Level(Signal::Dmarq, fall - 1) != 1) return false;
    // A strobe held asserted while the other one toggles is the STOP or
    // HDMARDY- line opening an Ultra DMA burst, not a cycle of its own.
    const Signal other = strobe == Signal::Iord ? Signal::Iowr : Signal::Iord;
    return signals.LevelHeldUntil(other, fall, latch + 1) > latch;
}

void RecordRegisterValue(const CycleRow& row, int field, uint32_t position, uint32_t value) {
    TransferState& state = Transfer();
    const auto byte = static_cast<int32_t>(value);

    if (row.effect == CycleEffect::SelectCardHead) {
        // A new block: the next DMA word opens a sector with a marker, and
        // the address counts from the registers written after this one. It
        // takes the place of the START record.
        state.cylinderHigh = 0;
        state.cylinderLow = 0;
        state.sectorNumber = 0;
        state.wordCount = 0;
        AppendFieldRecord(position, field, value);
        state.cardHead = byte;
        state.startPending = false;
        return;
    }

    if (state.startPending) {
        AppendFieldRecord(position, FdFieldStart, 0);
        state.startPending = false;
    }
    AppendFieldRecord(position, field, value);
    switch (row.effect) {
        case CycleEffect::SectorNumber:
            state.sectorNumber = byte;
            break;
        case CycleEffect::CylinderLow:
            state.cylinderLow = byte;
            break;
        case CycleEffect::CylinderHigh:
            state.cylinderHigh = byte;
            break;
        default:
            break;
    }
}

bool DecodeRegisterCycle(const SignalAccess& signals, uint32_t position) {
    const LineSnapshot lines = SnapshotAt(signals, position);
    const EdgeAction action = Decide(lines.levels, lines.changed, Transfer().burstDirection);
    // Cycles and words on falling edges only: the strobe that changed is low now.
    if (action == EdgeAction::None || (lines.changed & ~lines.levels) == 0) return false;
    return TakeAction(action, signals, position, lines.levels, signals.DataWord(position),
                      Window().windowEnd);
}

}  // namespace fd
