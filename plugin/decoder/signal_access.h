// How the two per-position decoders see the bus: the 26 signal roles bound
// to capture channels, and the level and edge questions on them. Everything
// the decoders know of the capture passes through SignalAccess.
//
// The answers are those of the capture access queries (Level, EdgeKind),
// but each line keeps a cursor on its transition list: the driver visits
// positions in ascending order, so a question usually finds its transition
// at or just after the previous one, and the cursor gallops there instead of
// bisecting the whole list again. Any position may still be asked, in any
// order; a list out of order gives unspecified levels but every read stays
// inside the list.
#pragma once

#include <array>
#include <cstdint>

#include "plugin/capture/capture_access.h"
#include "plugin/interface/host_abi.h"

namespace fd {

// The binding order: ten control signals, then D0 to D15.
enum class Signal : uint8_t {
    Dmarq, Dmack, Cs1, Cs0, A0, A1, A2, Iord, Iowr, Iordy, D0,
};

inline constexpr int kBoundSignals = 26;
inline constexpr int kDataLines = 16;

// One capture channel per role, in binding order; all non-null once bound.
using ChannelBinding = std::array<const FdChannel*, kBoundSignals>;

class SignalAccess {
public:
    explicit SignalAccess(const ChannelBinding& binding);

    int Level(Signal signal, uint32_t position) const { return LineLevel(Line(signal), position); }
    // kEdgeRising, kEdgeFalling or kEdgeNone, as EdgeKind.
    int EdgeKind(Signal signal, uint32_t position) const;
    bool Falls(Signal signal, uint32_t position) const {
        return EdgeKind(signal, position) == kEdgeFalling;
    }
    bool Rises(Signal signal, uint32_t position) const {
        return EdgeKind(signal, position) == kEdgeRising;
    }

    // D0 (least significant) to D15.
    uint32_t DataWord(uint32_t position) const { return DataBits(position, kDataLines); }
    // D0 to D7.
    uint32_t DataByte(uint32_t position) const { return DataBits(position, 8); }

    // A0 + 2 A1 + 4 A2 + 8 CS0 + 16 CS1 + 32 DMACK: selects the register
    // (or DMA cycle) of a strobe.
    int CycleCode(uint32_t position) const;

    // DMARQ 1, DMACK 0 and both chip selects 1: a DMA burst is on the bus.
    bool InDmaBurst(uint32_t position) const;

private:
    struct Cursor {
        const uint32_t* positions = nullptr;
        int32_t count = 0;
        int32_t at = 0;  // governing transition of the last answer
    };

    Cursor& Line(Signal signal) const { return lines_[static_cast<size_t>(signal)]; }
    static int LineLevel(Cursor& line, uint32_t position);
    uint32_t DataBits(uint32_t position, int lines) const;

    // Moving a cursor does not change any answer.
    mutable std::array<Cursor, kBoundSignals> lines_;
};

}  // namespace fd
