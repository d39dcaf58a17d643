// The decode driver: binds the 26 signal roles to capture channels, walks
// every position where a strobe (IORD, IOWR, IORDY) changes inside the
// decode window, and hands each to the two per-position decoders. Run by the
// Decode entry.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/decoder/signal_access.h"
#include "plugin/interface/host_abi.h"

namespace fd {

// Binds the roles by the channel numbers in `settings`; when any role stays
// unbound, binds the first 26 list entries by position and writes the
// numbers of entries 0 to 10 back into `settings`. The list must hold at
// least 26 entries.
ChannelBinding BindChannels(const FdChannelList& list, FdDecoderSettings& settings);

// Positions where IORD, IOWR or IORDY has a transition, strictly between
// `windowStart` and `windowEnd`, ascending, each once: the straightforward
// way, gathered and sorted. The cursor path merges the three lists as it
// walks them instead.
void BuildEdgeList(const ChannelBinding& binding, uint32_t windowStart, uint32_t windowEnd,
                   std::vector<uint32_t>& edges);

// Decodes `capture` into the record store. False when the capture has fewer
// than 26 channels (the store then holds the leading record only). Throws
// std::bad_alloc when memory runs out; the four lists then hold the records
// appended so far, all with the same count.
bool DecodeCapture(FdCapture& capture);
// The same on the capture last handed over by SetCapture (false without one).
bool DecodeCapture();

// The Decode entry's work: decodes, then points the capture's four result
// fields at the store's lists whatever happened. False only when the decode
// could not finish (memory ran out).
bool DecodeAndPublish(FdCapture& capture) noexcept;

// How the decode answers its level and edge questions. Cursors is the
// plug-in's own path; Bisection, with a sorted edge list, is the
// straightforward reference that tests and benchmarks compare it with. Both
// give the same records on sorted transition lists. Not reachable from the
// host; ResetDecoder restores Cursors.
void SelectQueryPath(QueryPath path) noexcept;
QueryPath SelectedQueryPath() noexcept;

// Back to the state right after load (for tests that share one process).
void ResetDecoder() noexcept;

}  // namespace fd
