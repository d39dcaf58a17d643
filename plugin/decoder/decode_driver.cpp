#include "plugin/decoder/decode_driver.h"

#include <algorithm>

#include "plugin/capture/capture_access.h"
#include "plugin/decoder/decode_state.h"
#include "plugin/decoder/dma_word_decoder.h"
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

// Positions inside a window never reach the top of the range (the window
// end is exclusive), so the top marks an exhausted run.
constexpr uint32_t kExhausted = 0xFFFFFFFFu;

inline uint32_t Head(const StrobeRun& run) { return run.next != run.end ? *run.next : kExhausted; }
inline void Pass(StrobeRun& run, uint32_t position) {
    while (run.next != run.end && *run.next == position) ++run.next;
}

// Two strobes changing at one sample make no cycle either decoder can
// trust.
inline void DecodeAt(SignalAccess& signals, uint32_t p) {
    signals.Visit(p);
    const int strobeEdges = (signals.EdgeKind(Signal::Iord, p) != kEdgeNone) +
                            (signals.EdgeKind(Signal::Iowr, p) != kEdgeNone) +
                            (signals.EdgeKind(Signal::Iordy, p) != kEdgeNone);
    if (strobeEdges >= 2) return;
    DecodeDmaWord(signals, p);
    DecodeRegisterCycle(signals, p);
}

// The cursor path: the three sorted strobe lists merged while they are
// walked, so the visited positions need no list of their own.
void DecodeMerged(const ChannelBinding& binding, uint32_t start, uint32_t end, StrobeRun (&runs)[3]) {
    SignalAccess signals(binding, QueryPath::Cursors);
    if (start >= end) return;
    for (;;) {
        const uint32_t p = std::min({Head(runs[0]), Head(runs[1]), Head(runs[2])});
        if (p == kExhausted) return;
        for (StrobeRun& run : runs) Pass(run, p);
        DecodeAt(signals, p);
    }
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
    AppendFieldRecord(0, kFieldUnknown, 1);

    if (capture.hasRange) {
        start = std::max(start, capture.rangeStart);
        end = capture.rangeEnd;
    }
    Window() = {start, end};

    if (ListCount(capture.channelList) < kBoundSignals) return false;
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
            DecodeMerged(binding, start, end, runs);
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
    Transfer() = TransferState{};
    Window() = DecodeWindow{};
    edgeList.clear();
    edgeList.shrink_to_fit();
}

}  // namespace fd
