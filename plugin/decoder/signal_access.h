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
//
// The decode itself, on the cursor path, walks the strobe edges with a
// LineFollower instead (all 26 lines followed forward together, each keeping
// the position of its next transition, so a visit touches only the lines
// that changed since the last one) and decides each edge from the snapshot
// of the control lines. SignalAccess's cursors remain for strobe lists out
// of order (the decode then takes the sorting path) and for benchmarks.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "plugin/capture/capture_access.h"
#include "plugin/interface/bus_roles.h"
#include "plugin/interface/host_abi.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fd {

// The binding order: ten control signals, then D0 to D15.
enum class Signal : uint8_t {
    Dmarq,
    Dmack,
    Cs1,
    Cs0,
    A0,
    A1,
    A2,
    Iord,
    Iowr,
    Iordy,
    D0,
};

inline constexpr int kDataLines = 16;
inline constexpr int kControlLines = static_cast<int>(Signal::D0);

// One capture channel per role, in binding order; all non-null once bound.
using ChannelBinding = std::array<const FdChannel*, kBusRoleCount>;

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
        if (position == snapshotAt_ && hasSnapshot_ && index - kFirstStrobe < kStrobes)
            return edges_[index - kFirstStrobe];
        return LineEdge(index, position);
    }
    bool Falls(Signal signal, uint32_t position) const { return EdgeKind(signal, position) == kEdgeFalling; }
    bool Rises(Signal signal, uint32_t position) const { return EdgeKind(signal, position) == kEdgeRising; }

    // The first position after `position`, before `limit`, where the line's
    // level differs from its level at `position` (`limit` when it holds):
    // where a strobe pulse that begins at `position` ends.
    uint32_t LevelHeldUntil(Signal signal, uint32_t position, uint32_t limit) const;

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

    const FdChannel* channels_[kBusRoleCount] = {};
    QueryPath path_;
    // Moving a cursor or filling the snapshot does not change any answer.
    mutable std::array<Cursor, kBusRoleCount> lines_;
    uint32_t snapshotAt_ = 0;
    bool hasSnapshot_ = false;
    uint32_t levels_ = 0;  // control lines at snapshotAt_, bit per line
    // The strobes' edge kinds at snapshotAt_ (the only edges the decoders
    // ask about).
    static constexpr unsigned kFirstStrobe = static_cast<unsigned>(Signal::Iord);
    static constexpr unsigned kStrobes = 3;
    std::array<int8_t, kStrobes> edges_{};
    mutable bool hasWord_ = false;
    mutable uint32_t word_ = 0;  // data lines at snapshotAt_, once asked for
};

// Every bound line followed through ascending positions: per line a
// cursor on its next transition and that transition's position. Levels()
// holds the levels at the last position advanced to, one bit per line in
// binding order (DMARQ at bit 0, D0 at bit 10), as the capture access
// queries read a sorted list: 1 up to the second transition, then
// alternating (a channel without transitions reads 0). So the first
// transition changes nothing and counts as passed from the start. Used by
// the decode driver on the cursor path.
class LineFollower {
public:
    // A position no transition is ever consumed at: the advanced-to
    // positions stay below it, and it marks an exhausted line.
    static constexpr uint32_t kNever = 0xFFFFFFFFu;

    explicit LineFollower(const ChannelBinding& binding);

    // Consumes every transition at or before `position`. Positions never
    // go back from call to call and stay below kNever. A list out of order
    // gives unspecified levels; reads stay inside it.
    void AdvanceTo(uint32_t position) {
        uint32_t due = Due(position);
        // One transition passed flips a line; Step says when more did.
        uint32_t flips = due;
        while (due != 0) {
            const auto line = static_cast<unsigned>(std::countr_zero(due));
            due &= due - 1;
            flips ^= Step(line, position) << line;
        }
        levels_ ^= flips;
    }

    uint32_t Levels() const { return levels_; }

    // The next transition of IORD, IOWR or IORDY after the position last
    // advanced to (kNever when none is left); never a line's first one.
    uint32_t NextStrobe() const {
        return std::min({next_[static_cast<int>(Signal::Iord)], next_[static_cast<int>(Signal::Iowr)],
                         next_[static_cast<int>(Signal::Iordy)]});
    }

private:
    static constexpr int kSlots = 32;  // 26 lines and never-due padding, whole vectors

    // Bit per line whose next transition is at or before `position`.
    uint32_t Due(uint32_t position) const {
#if defined(__SSE2__)
        // Unsigned "later than" as a signed compare of values with the top
        // bit flipped; the compares of eight lines pack into one byte mask.
        const __m128i flip = _mm_set1_epi32(INT32_MIN);
        const __m128i at = _mm_set1_epi32(static_cast<int32_t>(position ^ 0x80000000u));
        const auto later = [&](int first) {
            const __m128i next = _mm_load_si128(reinterpret_cast<const __m128i*>(next_ + first));
            return _mm_cmpgt_epi32(_mm_xor_si128(next, flip), at);
        };
        const __m128i low =
            _mm_packs_epi16(_mm_packs_epi32(later(0), later(4)), _mm_packs_epi32(later(8), later(12)));
        const __m128i high =
            _mm_packs_epi16(_mm_packs_epi32(later(16), later(20)), _mm_packs_epi32(later(24), later(28)));
        return ~(static_cast<uint32_t>(_mm_movemask_epi8(low)) |
                 static_cast<uint32_t>(_mm_movemask_epi8(high)) << 16);
#else
        uint32_t due = 0;
        for (int i = 0; i < kBusRoleCount; ++i) due |= static_cast<uint32_t>(next_[i] <= position) << i;
        return due;
#endif
    }
    // Passes the line's transitions at or before `position` (its next one
    // is due). 1 when it passed an even number of them.
    uint32_t Step(unsigned line, uint32_t position) {
        const uint32_t* const due = at_[line];
        const uint32_t* const end = end_[line];
        const uint32_t* at = due + 1;
        const uint32_t next = at < end ? *at : kNever;
        if (next > position) {
            at_[line] = at;
            next_[line] = next;
            return 0;
        }
        // Several changes since the last visit: rare.
        at = SkipPast(at, end, position);
        at_[line] = at;
        next_[line] = at < end ? *at : kNever;
        return (at - due) % 2 == 0 ? 1u : 0u;
    }
    // The first transition from `from` on that lies past `position` (or
    // `end`), galloping; *from is at or before it.
    static const uint32_t* SkipPast(const uint32_t* from, const uint32_t* end, uint32_t position);

    alignas(16) uint32_t next_[kSlots];
    // Per line, its next transition (or end) and the end of its list.
    const uint32_t* at_[kBusRoleCount] = {};
    const uint32_t* end_[kBusRoleCount] = {};
    uint32_t levels_ = 0;
};

}  // namespace fd
