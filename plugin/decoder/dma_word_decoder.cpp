#include "plugin/decoder/dma_word_decoder.h"

#include "plugin/decoder/edge_rules.h"
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
    const LineSnapshot lines = SnapshotAt(signals, position);
    state.burstDirection = FollowedBurst(lines.levels, lines.changed, state.burstDirection);
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
    const LineSnapshot lines = SnapshotAt(signals, position);
    const EdgeAction action = Decide(lines.levels, lines.changed, Transfer().burstDirection);
    // Words on rising edges only: the strobe that changed is high now.
    if (action != EdgeAction::WordToCard && action != EdgeAction::WordToHost) return false;
    if ((lines.changed & lines.levels) == 0) return false;
    return TakeAction(action, signals, position, lines.levels, signals.DataWord(position),
                      Window().windowEnd);
}

}  // namespace fd
