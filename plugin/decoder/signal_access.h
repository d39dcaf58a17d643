// How the two per-position decoders see the bus: the 26 signal roles bound
// to capture channels, and the level and edge questions on them. Everything
// the decoders know of the capture passes through SignalAccess.
//
// The answers are those of the capture access queries (Level, EdgeKind).
// Two ways of finding them give the same answers on sorted lists:
//  - cursors (the decode's own): each line keeps a cursor on its transition
//    list. The driver visits positions in ascending order, so a question
//    usually finds its transition at or just after the previous one; a
//    cursor steps there, or gallops when it must jump. Visit() takes one
//    snapshot of the ten control lines per visited position, which answers
//    the decoders' many questions at that position, and the sixteen data
//    lines are read together, once, when a decoder asks for the word.
//  - bisection: every question bisects the whole list, as the capture
//    access queries do. The straightforward reference path, selected by
//    tests and benchmarks to check and measure the cursors against it.
// Any position may still be asked, in any order; a list out of order gives
// unspecified levels but every read stays inside the list.
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
inline constexpr int kControlLines = static_cast<int>(Signal::D0);

// One capture channel per role, in binding order; all non-null once bound.
using ChannelBinding = std::array<const FdChannel*, kBoundSignals>;

enum class QueryPath : uint8_t { Cursors, Bisection };

class SignalAccess {
public:
    explicit SignalAccess(const ChannelBinding& binding, QueryPath path = QueryPath::Cursors);

    // Prepares the answers at `position` (cursors only; the bisection path
    // ignores it). Positions visited in ascending order cost amortised
    // constant time per line.
    void Visit(uint32_t position);

    int Level(Signal signal, uint32_t position) const {
        const auto index = static_cast<unsigned>(signal);
        if (position == snapshotAt_ && hasSnapshot_ && index < kControlLines) return (levels_ >> index) & 1;
        return LineLevel(index, position);
    }
    // kEdgeRising, kEdgeFalling or kEdgeNone, as EdgeKind.
    int EdgeKind(Signal signal, uint32_t position) const {
        const auto index = static_cast<unsigned>(signal);
        if (position == snapshotAt_ && hasSnapshot_ && index - kFirstStrobe < kStrobes) return edges_[index - kFirstStrobe];
        return LineEdge(index, position);
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
    int CycleCode(uint32_t position) const {
        return Level(Signal::A0, position) | Level(Signal::A1, position) << 1 |
               Level(Signal::A2, position) << 2 | Level(Signal::Cs0, position) << 3 |
               Level(Signal::Cs1, position) << 4 | Level(Signal::Dmack, position) << 5;
    }

    // DMARQ 1, DMACK 0 and both chip selects 1: a DMA burst is on the bus.
    bool InDmaBurst(uint32_t position) const {
        return Level(Signal::Cs0, position) == 1 && Level(Signal::Cs1, position) == 1 &&
               Level(Signal::Dmack, position) == 0 && Level(Signal::Dmarq, position) == 1;
    }

private:
    struct Cursor {
        const uint32_t* positions = nullptr;
        int32_t count = 0;
        int32_t at = 0;  // governing transition of the last answer
    };

    int LineLevel(unsigned line, uint32_t position) const;
    int LineEdge(unsigned line, uint32_t position) const;
    uint32_t DataBits(uint32_t position, int lines) const;
    uint32_t SampleData(uint32_t position) const;

    // Moves the cursor to the transition governing `position` and returns
    // the level there.
    static int Seek(Cursor& line, uint32_t position);
    static int Gallop(Cursor& line, uint32_t position);
    // Level just before `position`, from a cursor that governs `position`.
    static int LevelBefore(const Cursor& line, uint32_t position);

    const FdChannel* channels_[kBoundSignals] = {};
    QueryPath path_;
    // Moving a cursor or filling the snapshot does not change any answer.
    mutable std::array<Cursor, kBoundSignals> lines_;
    uint32_t snapshotAt_ = 0;
    bool hasSnapshot_ = false;
    uint32_t levels_ = 0;                        // control lines at snapshotAt_, bit per line
    // The strobes' edge kinds at snapshotAt_ (the only edges the decoders
    // ask about).
    static constexpr unsigned kFirstStrobe = static_cast<unsigned>(Signal::Iord);
    static constexpr unsigned kStrobes = 3;
    std::array<int8_t, kStrobes> edges_{};
    mutable bool hasWord_ = false;
    mutable uint32_t word_ = 0;  // data lines at snapshotAt_, once asked for
};

}  // namespace fd
