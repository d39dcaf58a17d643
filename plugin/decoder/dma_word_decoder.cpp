#include "plugin/decoder/dma_word_decoder.h"

#include "plugin/decoder/record_store.h"
#include "plugin/presentation/field_types.h"

namespace fd {

int64_t ComposeSectorAddress(int32_t cardHead, int32_t cylinderHigh, int32_t cylinderLow,
                             int32_t sectorNumber) {
    uint32_t address = static_cast<uint32_t>(cardHead);
    address = address * 256u + static_cast<uint32_t>(cylinderHigh);
    address = address * 256u + static_cast<uint32_t>(cylinderLow);
    address = address * 256u + static_cast<uint32_t>(sectorNumber);
    return static_cast<int32_t>(address);
}

bool BurstTakes(BurstDirection burst, Direction direction, int readyLevel) {
    switch (burst) {
        case BurstDirection::HostToCard:
            return direction == Direction::HostToCard;
        case BurstDirection::CardToHost:
            return direction == Direction::CardToHost;
        case BurstDirection::Unseen:
        case BurstDirection::Unknown:
            break;
    }
    return readyLevel == 0;
}

void FollowBurst(TransferState& state, const SignalAccess& signals, uint32_t position) {
    if (signals.Level(Signal::Iowr, position) == 1 || signals.Level(Signal::Dmack, position) == 1) {
        state.burstDirection = BurstDirection::Unknown;
        return;
    }
    // STOP negated: a burst opens, perhaps with the ready line in the same
    // sample.
    if (signals.EdgeKind(Signal::Iowr, position) != kEdgeNone) state.burstDirection = BurstDirection::Unknown;
    if (state.burstDirection != BurstDirection::Unknown) return;  // known, or maybe inside a burst
    // The receiver asserts its ready line while the sender's strobe idles
    // high, before the first word.
    const auto steadyHigh = [&](Signal s) {
        return signals.Level(s, position) == 1 && signals.EdgeKind(s, position) == kEdgeNone;
    };
    if (signals.Falls(Signal::Iord, position) && steadyHigh(Signal::Iordy)) {
        state.burstDirection = BurstDirection::CardToHost;  // HDMARDY- asserted
    } else if (signals.Falls(Signal::Iordy, position) && steadyHigh(Signal::Iord)) {
        state.burstDirection = BurstDirection::HostToCard;  // DDMARDY- asserted
    }
}

void RecordUltraDmaWord(TransferState& state, uint32_t position, Direction direction, uint32_t word) {
    const bool toCard = direction == Direction::HostToCard;
    if (state.wordCount >= kWordsPerSector) {
        state.sectorNumber = static_cast<int32_t>(static_cast<uint32_t>(state.sectorNumber) + 1u);
        const int64_t address =
            ComposeSectorAddress(state.cardHead, state.cylinderHigh, state.cylinderLow, state.sectorNumber);
        state.wordCount = 0;
        AppendFieldRecord(position, FdFieldCompose, static_cast<uint64_t>(address));
    }
    if (state.wordCount == 0) {
        const int marker = toCard ? FdFieldWriteBlock : FdFieldReadBlock;
        AppendFieldRecord(position, marker, static_cast<uint64_t>(marker));
    }
    if (state.startPending) {
        AppendFieldRecord(position, FdFieldStart, 0);
        state.startPending = false;
    }
    AppendFieldRecord(position, toCard ? FdFieldDataWrite : FdFieldDataRead, word);
    ++state.wordCount;
}

bool DecodeDmaWord(const SignalAccess& signals, uint32_t position) {
    // IORD is the host's strobe (words to the card), IORDY the card's; IOWR
    // is the STOP line and must stay low during the burst.
    Direction direction;
    if (signals.Rises(Signal::Iord, position)) {
        direction = Direction::HostToCard;
    } else if (signals.Rises(Signal::Iordy, position)) {
        direction = Direction::CardToHost;
    } else {
        return false;
    }
    if (signals.Level(Signal::Iowr, position) != 0) return false;
    // Card to host: the host holds IORD (HDMARDY-) low while it is ready. A
    // rising HSTROBE puts no condition on DDMARDY-.
    TransferState& state = Transfer();
    const int ready = direction == Direction::CardToHost ? signals.Level(Signal::Iord, position) : 0;
    if (!BurstTakes(state.burstDirection, direction, ready)) return false;
    if (!signals.InDmaBurst(position)) return false;
    RecordUltraDmaWord(state, position, direction, signals.DataWord(position));
    return true;
}

}  // namespace fd
