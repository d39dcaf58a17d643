#include "plugin/decoder/decode_driver.h"

#include <algorithm>
#include <array>
#include <bit>

#include "plugin/capture/capture_access.h"
#include "plugin/decoder/decode_state.h"
#include "plugin/decoder/dma_word_decoder.h"
#include "plugin/decoder/edge_rules.h"
#include "plugin/decoder/record_store.h"
#include "plugin/decoder/register_cycle_decoder.h"
#include "plugin/interface/module_state.h"
#include "plugin/interface/settings.h"
#include "plugin/presentation/field_types.h"

namespace fd {
namespace {

// The straightforward path's positions; rebuilt by every decode on that
// path, released by the next one.
std::vector<uint32_t> edgeList;

constinit QueryPath queryPath = QueryPath::Cursors;

// Stands in for a null entry of the host's channel list: no transitions,
// level 0 everywhere.
constinit FdTransitionList noTransitions{};
constinit FdChannel absentChannel{{}, nullptr, 0, {}, &noTransitions};

constexpr int kControlRoles = FdChannelD0;  // DMARQ .. IORDY

int32_t ListCount(const FdChannelList* list) {
    return list == nullptr || list->channels == nullptr ? 0 : std::max(list->count, 0);
}

void AppendTransitionsInside(const FdChannel& channel, uint32_t windowStart, uint32_t windowEnd,
                             std::vector<uint32_t>& edges) {
    const int32_t count = TransitionCount(channel);
    const uint32_t* positions = channel.transitions != nullptr ? channel.transitions->positions : nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t p = positions[i];
        if (windowStart < p && p < windowEnd) edges.push_back(p);
    }
}

// The part of a strobe's transition list strictly inside the window.
struct StrobeRun {
    const uint32_t* next;
    const uint32_t* end;
};

bool SortedRun(const FdChannel& channel, uint32_t windowStart, uint32_t windowEnd, StrobeRun& run) {
    const int32_t count = TransitionCount(channel);
    const uint32_t* first = count > 0 ? channel.transitions->positions : nullptr;
    const uint32_t* last = first + count;
    if (!std::is_sorted(first, last)) return false;
    run.next = std::upper_bound(first, last, windowStart);
    run.end = std::lower_bound(run.next, last, windowEnd);
    if (run.end < run.next) run.end = run.next;
    return true;
}

// The per-position decoders at one strobe transition, over the rules of
// edge_rules.h.
inline void DecodeAt(SignalAccess& signals, uint32_t p) {
    signals.Visit(p);
    FollowBurst(Transfer(), signals, p);
    DecodeDmaWord(signals, p);
    DecodeRegisterCycle(signals, p);
}

constexpr unsigned kSnapshots = 1u << (kControlLines + 3);

// Snapshot: the control levels (bit per line in binding order), then three
// bits for IORD, IOWR and IORDY changing at the position.
constexpr unsigned SnapshotIndex(uint32_t levels, uint32_t changed) {
    return (levels & kControlMask) | ((changed >> kStrobeShift) & 7u) << kControlLines;
}

// A table entry, one per snapshot, holding the answer for every direction
// so far, so that the lookup does not wait for the last edge's answer: bits
// 2b..2b+1 the direction from here on when it was b, bits 8 + 3b'.. the
// action when it is b' now.
using EdgeEntry = uint32_t;
constexpr unsigned kDirections = 4;

constexpr BurstDirection NextBurst(EdgeEntry entry, BurstDirection burst) {
    return static_cast<BurstDirection>(entry >> (2 * static_cast<unsigned>(burst)) & 3u);
}
constexpr EdgeAction ActionOf(EdgeEntry entry, BurstDirection burst) {
    return static_cast<EdgeAction>(entry >> (8 + 3 * static_cast<unsigned>(burst)) & 7u);
}

EdgeEntry Classify(unsigned snapshot) {
    const uint32_t levels = snapshot & kControlMask;
    const uint32_t changed = (snapshot >> kControlLines) << kStrobeShift;
    EdgeEntry entry = 0;
    for (unsigned b = 0; b < kDirections; ++b) {
        const auto burst = static_cast<BurstDirection>(b);
        entry |= static_cast<unsigned>(FollowedBurst(levels, changed, burst)) << (2 * b);
        entry |= static_cast<unsigned>(Decide(levels, changed, burst)) << (8 + 3 * b);
    }
    return entry;
}

using ActionTable = std::array<EdgeEntry, kSnapshots>;

const ActionTable& EdgeActions() {
    static const ActionTable table = [] {
        ActionTable made{};
        for (unsigned i = 0; i < made.size(); ++i) made[i] = Classify(i);
        return made;
    }();
    return table;
}

// The cursor path: all lines followed forward together; the next visited
// position is the next strobe transition, so the three strobe lists are
// merged as they are walked. Visits the positions strictly inside the
// window, as BuildEdgeList gathers them, except a strobe's first transition
// where no other strobe changes: it changes no level, so no decoder could
// record anything there.
void DecodeFollowed(const ChannelBinding& binding, uint32_t start, uint32_t end) {
    if (start >= end) return;
    const ActionTable& actions = EdgeActions();
    LineFollower lines(binding);
    // Where a register or multiword DMA cycle looks past its strobe's fall:
    // to the pulse's end, the data there, DMARQ just before.
    const SignalAccess ahead(binding);
    TransferState& state = Transfer();
    // The table follows the burst's direction.
    BurstDirection burst = state.burstDirection;
    // A word inside a sector, after the first record: one data record, the
    // bulk of every burst, appended here. Everything else (and any record
    // that needs the lists to grow) takes the decoders' own paths.
    const uint32_t colourToCard = FieldColour(FdFieldDataWrite);
    const uint32_t colourToHost = FieldColour(FdFieldDataRead);
    RecordRun run(Records());
    int32_t wordsBefore = 0;  // the sector's words when `left` was counted
    int32_t leftBefore = 0;
    int32_t left = 0;  // words the loop may still append itself
    const auto countLeft = [&] {
        run.Reload();
        wordsBefore = state.wordCount;
        const bool inside = !state.startPending && state.wordCount > 0;
        left = leftBefore = inside ? std::min(kWordsPerSector - state.wordCount, run.Room()) : 0;
    };
    const auto handBack = [&] {
        run.Flush();
        state.wordCount = wordsBefore + (leftBefore - left);
    };
    countLeft();
    lines.AdvanceTo(start);
    for (;;) {
        const uint32_t p = lines.NextStrobe();  // above start, so never 0
        if (p >= end) break;
        // No strobe changes between the last visit and p: their levels now
        // are those at p - 1.
        const uint32_t before = lines.Levels();
        lines.AdvanceTo(p);
        const uint32_t now = lines.Levels();
        const EdgeEntry entry = actions[SnapshotIndex(now, before ^ now)];
        burst = NextBurst(entry, burst);
        const EdgeAction action = ActionOf(entry, burst);
        if (action == EdgeAction::None) continue;
        const uint32_t word = now >> kControlLines & 0xFFFFu;
        const bool toCard = action == EdgeAction::WordToCard;
        if ((toCard || action == EdgeAction::WordToHost) && left > 0) {
            run.Append(p, word, static_cast<uint16_t>(toCard ? FdFieldDataWrite : FdFieldDataRead),
                       toCard ? colourToCard : colourToHost);
            --left;
            continue;
        }
        handBack();
        TakeAction(action, ahead, p, now, word, end);
        countLeft();
    }
    handBack();
    state.burstDirection = burst;
}

}  // namespace

void SelectQueryPath(QueryPath path) noexcept { queryPath = path; }
QueryPath SelectedQueryPath() noexcept { return queryPath; }

ChannelBinding BindChannels(const FdChannelList& list, FdDecoderSettings& settings) {
    ChannelBinding binding{};
    const int32_t count = ListCount(&list);
    const int64_t d0 = settings.channel[FdChannelD0];
    for (int32_t i = 0; i < count; ++i) {
        const FdChannel* channel = list.channels[i];
        if (channel == nullptr) continue;
        for (int role = 0; role < kControlRoles; ++role) {
            if (settings.channel[role] == channel->number) binding[static_cast<size_t>(role)] = channel;
        }
        // Dn is the channel numbered D0 + n; computed wide so D0 near the
        // top of the range does not wrap around onto low numbers.
        const int64_t line = int64_t{channel->number} - d0;
        if (line >= 0 && line < kDataLines) {
            binding[static_cast<size_t>(Signal::D0) + static_cast<size_t>(line)] = channel;
        }
    }
    if (std::find(binding.begin(), binding.end(), nullptr) == binding.end()) return binding;

    // Some role is missing: bind by list position and remember the numbers,
    // so the settings, the next decode and the pin dialog show this binding.
    for (size_t role = 0; role < binding.size(); ++role) {
        const FdChannel* channel = list.channels[role];
        binding[role] = channel != nullptr ? channel : &absentChannel;
    }
    for (int field = 0; field < FdChannelFieldCount; ++field) {
        const FdChannel* channel = list.channels[field];
        if (channel != nullptr) settings.channel[field] = channel->number;
    }
    return binding;
}

void BuildEdgeList(const ChannelBinding& binding, uint32_t windowStart, uint32_t windowEnd,
                   std::vector<uint32_t>& edges) {
    edges.clear();
    if (windowStart >= windowEnd) return;
    for (const Signal strobe : {Signal::Iord, Signal::Iowr, Signal::Iordy})
        AppendTransitionsInside(*binding[static_cast<size_t>(strobe)], windowStart, windowEnd, edges);
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
}

bool DecodeCapture() {
    FdCapture* capture = CurrentCapture();
    return capture != nullptr && DecodeCapture(*capture);
}

bool DecodeCapture(FdCapture& capture) {
    TransferState& state = Transfer();
    state = TransferState{};

    uint32_t end = capture.endPosition;
    uint32_t start = CaptureStart(capture);
    ClearRecords();
    BeginDecodeColours();
    edgeList.clear();
    edgeList.shrink_to_fit();
    AppendFieldRecord(0, FdFieldUnknown, 1);

    if (capture.hasRange) {
        start = std::max(start, capture.rangeStart);
        end = capture.rangeEnd;
    }
    Window() = {start, end};

    if (ListCount(capture.channelList) < kBusRoleCount) return false;
    const ChannelBinding binding = BindChannels(*capture.channelList, LiveSettings());

    if (queryPath == QueryPath::Cursors) {
        StrobeRun runs[3];
        const Signal strobes[] = {Signal::Iord, Signal::Iowr, Signal::Iordy};
        bool sorted = true;
        for (int i = 0; i < 3; ++i)
            sorted = sorted && SortedRun(*binding[static_cast<size_t>(strobes[i])], start, end, runs[i]);
        // Lists out of order (a faulty host) take the sorting path; their
        // levels are unspecified either way.
        if (sorted) {
            // About one record per strobe transition in DMA bursts, fewer
            // in register cycles.
            int64_t transitions = 0;
            for (const StrobeRun& run : runs) transitions += run.end - run.next;
            ReserveRecords(transitions + transitions / 16 + 64);
            DecodeFollowed(binding, start, end);
            return true;
        }
    }
    BuildEdgeList(binding, start, end, edgeList);
    SignalAccess signals(binding, queryPath);
    for (const uint32_t p : edgeList) DecodeAt(signals, p);
    return true;
}

bool DecodeAndPublish(FdCapture& capture) noexcept {
    bool finished = true;
    try {
        DecodeCapture(capture);
    } catch (...) {
        finished = false;
    }
    RecordStore& store = Records();
    capture.positionList = &store.positions;
    capture.valueList = &store.values;
    capture.fieldIdList = &store.fieldIds;
    capture.colourList = &store.colours;
    return finished;
}

void ResetDecoder() noexcept {
    queryPath = QueryPath::Cursors;
    ClearRecords();
    Records().ReleaseSpares();
    Transfer() = TransferState{};
    Window() = DecodeWindow{};
    edgeList.clear();
    edgeList.shrink_to_fit();
}

}  // namespace fd
