// The decode rules (see edge_rules.h).
#include "plugin/decoder/edge_rules.h"

#include <bit>

#include "plugin/decoder/dma_word_decoder.h"
#include "plugin/decoder/register_cycle_decoder.h"

namespace fd {

LineSnapshot SnapshotAt(const SignalAccess& signals, uint32_t position) {
    LineSnapshot snapshot{0, 0};
    for (int line = 0; line < kControlLines; ++line) {
        const auto signal = static_cast<Signal>(line);
        snapshot.levels |= static_cast<uint32_t>(signals.Level(signal, position)) << line;
    }
    for (const Signal strobe : {Signal::Iord, Signal::Iowr, Signal::Iordy})
        if (signals.EdgeKind(strobe, position) != kEdgeNone) snapshot.changed |= Bit(strobe);
    return snapshot;
}

EdgeAction Decide(uint32_t levels, uint32_t changed, BurstDirection burst) {
    const auto level = [levels](Signal s) { return (levels & Bit(s)) != 0; };
    const uint32_t strobesChanged = level(Signal::Dmack) ? changed & ~Bit(Signal::Iordy) : changed;
    if (std::popcount(strobesChanged) >= 2) return EdgeAction::None;
    const auto rises = [&](Signal s) { return (changed & Bit(s)) != 0 && level(s); };
    const auto falls = [&](Signal s) { return (changed & Bit(s)) != 0 && !level(s); };
    const bool inBurst = level(Signal::Cs0) && level(Signal::Cs1) && !level(Signal::Dmack) &&
                         level(Signal::Dmarq) && !level(Signal::Iowr);
    const bool toCard = inBurst && BurstTakes(burst, Direction::HostToCard, level(Signal::Iordy));
    const bool toHost = inBurst && BurstTakes(burst, Direction::CardToHost, level(Signal::Iord));

    // A rising HSTROBE puts no condition on DDMARDY-.
    if (rises(Signal::Iord) && inBurst && BurstTakes(burst, Direction::HostToCard, 0))
        return EdgeAction::WordToCard;
    if (rises(Signal::Iordy) && toHost) return EdgeAction::WordToHost;

    const auto registerCycle = [&](bool isRead) {
        const CycleRow& row = kCycleTable[static_cast<size_t>(SnapshotCycleCode(levels))];
        const int field = isRead ? row.readField : row.writeField;
        if (field == 0) return EdgeAction::None;
        if (row.multiwordDma) return isRead ? EdgeAction::MultiwordRead : EdgeAction::MultiwordWrite;
        if (row.requiredDmarq >= 0 && level(Signal::Dmarq) != (row.requiredDmarq == 1))
            return EdgeAction::None;
        return isRead ? EdgeAction::RegisterRead : EdgeAction::RegisterWrite;
    };
    if (falls(Signal::Iord)) {
        if (level(Signal::Iowr)) return registerCycle(true);
        return toCard ? EdgeAction::WordToCard : EdgeAction::None;
    }
    if (falls(Signal::Iowr)) return level(Signal::Iord) ? registerCycle(false) : EdgeAction::None;
    if (falls(Signal::Iordy) && toHost) return EdgeAction::WordToHost;
    return EdgeAction::None;
}

BurstDirection FollowedBurst(uint32_t levels, uint32_t changed, BurstDirection burst) {
    if (changed == 0) return burst;
    const auto level = [levels](Signal s) { return (levels & Bit(s)) != 0; };
    const auto moved = [changed](Signal s) { return (changed & Bit(s)) != 0; };
    if (level(Signal::Iowr) || level(Signal::Dmack)) return BurstDirection::Unknown;
    if (!moved(Signal::Iowr) && burst != BurstDirection::Unknown) return burst;
    if (moved(Signal::Iord) && !level(Signal::Iord) && level(Signal::Iordy) && !moved(Signal::Iordy)) {
        return BurstDirection::CardToHost;
    }
    if (moved(Signal::Iordy) && !level(Signal::Iordy) && level(Signal::Iord) && !moved(Signal::Iord)) {
        return BurstDirection::HostToCard;
    }
    return BurstDirection::Unknown;
}

bool TakeAction(EdgeAction action, const SignalAccess& ahead, uint32_t position, uint32_t levels,
                uint32_t word, uint32_t windowEnd) {
    switch (action) {
        case EdgeAction::None:
            return false;
        case EdgeAction::WordToCard:
            RecordUltraDmaWord(Transfer(), position, Direction::HostToCard, word);
            return true;
        case EdgeAction::WordToHost:
            RecordUltraDmaWord(Transfer(), position, Direction::CardToHost, word);
            return true;
        default:
            break;
    }
    const bool isRead = action == EdgeAction::RegisterRead || action == EdgeAction::MultiwordRead;
    const Signal strobe = isRead ? Signal::Iord : Signal::Iowr;
    const uint32_t latch = LatchPoint(ahead, strobe, position, windowEnd);
    if (action >= EdgeAction::MultiwordRead && !IsMultiwordDmaCycle(ahead, strobe, position, latch))
        return false;
    const CycleRow& row = kCycleTable[static_cast<size_t>(SnapshotCycleCode(levels))];
    const uint32_t latched = latch == position ? word : ahead.DataWord(latch);
    RecordRegisterValue(row, isRead ? row.readField : row.writeField, position,
                        row.value == CycleValue::Word ? latched : latched & 0xFFu);
    return true;
}

}  // namespace fd
