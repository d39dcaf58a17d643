#include "plugin/decoder/register_cycle_decoder.h"

#include "plugin/decoder/decode_state.h"
#include "plugin/decoder/dma_word_decoder.h"
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

bool RecordRegisterCycle(const SignalAccess& signals, uint32_t position, bool isRead) {
    const CycleRow& row = kCycleTable[static_cast<size_t>(signals.CycleCode(position))];
    const int field = isRead ? row.readField : row.writeField;
    if (field == 0) return false;
    const Signal strobe = isRead ? Signal::Iord : Signal::Iowr;
    const uint32_t latch = LatchPoint(signals, strobe, position, Window().windowEnd);
    if (row.multiwordDma) {
        if (!IsMultiwordDmaCycle(signals, strobe, position, latch)) return false;
    } else if (row.requiredDmarq >= 0 && signals.Level(Signal::Dmarq, position) != row.requiredDmarq) {
        return false;
    }
    const uint32_t value = row.value == CycleValue::Word ? signals.DataWord(latch) : signals.DataByte(latch);
    RecordRegisterValue(row, field, position, value);
    return true;
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
    // A read is IORD falling with IOWR high, a write IOWR falling with IORD
    // high. During an Ultra DMA burst IOWR is the STOP line (low), IORD the
    // host's strobe or ready line, IORDY the card's.
    if (signals.Falls(Signal::Iord, position)) {
        if (signals.Level(Signal::Iowr, position) == 1) return RecordRegisterCycle(signals, position, true);
        if (!BurstTakes(Transfer().burstDirection, Direction::HostToCard,
                        signals.Level(Signal::Iordy, position)) ||
            !signals.InDmaBurst(position))
            return false;
        RecordUltraDmaWord(Transfer(), position, Direction::HostToCard, signals.DataWord(position));
        return true;
    }
    if (signals.Falls(Signal::Iowr, position)) {
        if (signals.Level(Signal::Iord, position) != 1) return false;
        return RecordRegisterCycle(signals, position, false);
    }
    if (signals.Falls(Signal::Iordy, position)) {
        if (!BurstTakes(Transfer().burstDirection, Direction::CardToHost,
                        signals.Level(Signal::Iord, position)) ||
            signals.Level(Signal::Iowr, position) != 0 || !signals.InDmaBurst(position))
            return false;
        RecordUltraDmaWord(Transfer(), position, Direction::CardToHost, signals.DataWord(position));
        return true;
    }
    return false;
}

}  // namespace fd
