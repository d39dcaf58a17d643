// What the decode could not see, or had to assume, at the strobes of a
// capture: a register, PIO or multiword DMA strobe still asserted when the
// decode window ends (the plug-in takes that cycle's data at the window's
// last sample), one already asserted when the window starts (that cycle is
// never seen falling), and positions outside DMA where DIOR- and DIOW-
// change together (the plug-in decodes neither). cfdecode gathers the facts
// from the bus before the capture image takes the signals over, and turns
// them into one warning line each once it has the records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/cfdecode/plugin_host.h"
#include "host/cfdecode/signal_map.h"
#include "host/model/waveform.h"

namespace fd::host {

// The positions the plug-in visits: start < p < end.
struct WindowBounds {
    uint32_t start = 0;
    uint32_t end = 0;
};
// As the plug-in works the window out from the capture's start and range
// fields and its end position.
WindowBounds DecodeBounds(const DecodeWindow& window, uint32_t endPosition);

struct StrobeFacts {
    WindowBounds bounds;
    // IORD or IOWR (role numbers) falling at `fall` and not rising again by
    // the window's end.
    struct Held {
        int role = 0;
        uint32_t fall = 0;
    };
    std::vector<Held> heldAtEnd;
    // IORD or IOWR asserted at the window's start, outside DMA, while the
    // other is not; the cycle ends inside the window.
    std::vector<int> assertedAtStart;
    uint64_t collisions = 0;  // outside DMA, IORD and IOWR changing at one position
    uint32_t firstCollision = 0;
    std::string names[kBusRoleCount];  // each role as the capture names it
};

// `plan` tells which signal carries which role; roles without a signal hold
// their idle level.
StrobeFacts GatherStrobeFacts(const Waveform& waveform, const ChannelPlan& plan, WindowBounds bounds);

// The warnings, one line each (without "cfdecode: warning: "), given the
// plug-in's records: a strobe held at the end is reported when a register,
// PIO or multiword DMA cycle was decoded at its fall.
// Positions are said in the file's units: times `timeStep` (Waveform::timeStep).
std::vector<std::string> StrobeWarnings(const StrobeFacts& facts, const RecordList& records,
                                        uint64_t timeStep = 1);

}  // namespace fd::host
