// The Ultra DMA data words taken on rising strobe edges (DecodeDmaWord), and
// the sector bookkeeping every Ultra DMA word goes through, whichever edge
// carried it (RecordUltraDmaWord, also used by the register-cycle decoder).
#pragma once

#include <cstdint>

#include "plugin/decoder/decode_state.h"
#include "plugin/decoder/signal_access.h"

namespace fd {

enum class Direction : uint8_t { HostToCard, CardToHost };

// ((cardHead * 256 + cylinderHigh) * 256 + cylinderLow) * 256 + sectorNumber
// in wrapping 32-bit arithmetic, sign-extended. No input is cut to a byte, so
// a sector number past 255 carries into the cylinder bytes. Pure: the
// caller starts the new sector (wordCount 0).
int64_t ComposeSectorAddress(int32_t cardHead, int32_t cylinderHigh, int32_t cylinderLow,
                             int32_t sectorNumber);

// Appends one Ultra DMA word at `position`: COMPOSE when the 256 words of a
// sector are full, the direction's block marker at a sector's first word,
// START for the first record of the decode, then the data record.
void RecordUltraDmaWord(TransferState& state, uint32_t position, Direction direction, uint32_t word);

// Once a burst's opening has shown its direction, only the sender's strobe
// carries words: the receiver's ready line (HDMARDY- on IORD in a data-in
// burst, DDMARDY- on IORDY in a data-out burst) carries none when it pauses
// or ends the burst, and the sender's strobe edges still count while that
// ready line is negated (ATA lets the sender finish up to three words after
// it). While the direction is not known (a decode that begins inside a
// burst), a word needs the receiver's ready line asserted (low), except on
// a rising HSTROBE, which puts no condition on DDMARDY-.
// True when `direction`'s word may be taken at an edge whose other line
// (the receiver's ready line) is at `readyLevel`.
bool BurstTakes(BurstDirection burst, Direction direction, int readyLevel);

// The burst's direction after `position` (FollowedBurst of edge_rules.h at
// the lines there).
void FollowBurst(TransferState& state, const SignalAccess& signals, uint32_t position);

// An Ultra DMA word where IORD (host to card) or IORDY (card to host) rises
// during a burst (Decide of edge_rules.h, its rising-edge words). True when
// a word was recorded.
bool DecodeDmaWord(const SignalAccess& signals, uint32_t position);

}  // namespace fd
