// How the two per-position decoders see the bus: the 26 signal roles bound
// to capture channels, and the level and edge questions on them. Everything
// the decoders know of the capture passes through SignalAccess, so a faster
// way to answer (forward-only cursors instead of a bisection per question)
// can replace this one without touching the decoders.
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
    explicit SignalAccess(const ChannelBinding& binding) : binding_(binding) {}

    int Level(Signal signal, uint32_t position) const { return fd::Level(Channel(signal), position); }
    int EdgeKind(Signal signal, uint32_t position) const {
        return fd::EdgeKind(Channel(signal), position);
    }
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
    const FdChannel& Channel(Signal signal) const { return *binding_[static_cast<size_t>(signal)]; }
    uint32_t DataBits(uint32_t position, int lines) const;

    const ChannelBinding& binding_;
};

}  // namespace fd
