// Writes the synthesizer's transcript as text, one line per bus phase, so a
// sample capture can travel with a record of what was put on the bus:
//   <start>-<end> <kind> [<register>] words=<n> [crc=<hex> [sent=<hex>|none] ended-by=card|host]:
//   <hex>@<position>[*] ...
// A word marked * shared its sample with a second strobe edge (fault);
// sent= is the word the host drove instead of the CRC (fault).
// Used by cfsim --transcript.
#pragma once

#include <ostream>
#include <string_view>

#include "sim/bus.h"

namespace fd::sim {

std::string_view PhaseKindName(PhaseKind kind);
std::string_view RegisterName(Reg reg, bool write);

void WriteTranscript(std::ostream& out, const Transcript& transcript);

}  // namespace fd::sim
