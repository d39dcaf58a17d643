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

// Rebuilt by every decode; kept until the next one.
std::vector<uint32_t> edgeList;

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

}  // namespace

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
    // Each strobe's positions are normally ascending already: merge the three
    // runs, and sort only when the host handed an unsorted list.
    size_t runStart[4] = {};
    bool sorted = true;
    const Signal strobes[] = {Signal::Iord, Signal::Iowr, Signal::Iordy};
    for (int i = 0; i < 3; ++i) {
        runStart[i] = edges.size();
        AppendTransitionsInside(*binding[static_cast<size_t>(strobes[i])], windowStart, windowEnd, edges);
        sorted = sorted && std::is_sorted(edges.begin() + static_cast<ptrdiff_t>(runStart[i]), edges.end());
    }
    runStart[3] = edges.size();
    const auto at = [&edges](size_t index) { return edges.begin() + static_cast<ptrdiff_t>(index); };
    if (sorted) {
        std::inplace_merge(at(0), at(runStart[1]), at(runStart[2]));
        std::inplace_merge(at(0), at(runStart[2]), at(runStart[3]));
    } else {
        std::sort(edges.begin(), edges.end());
    }
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
    BuildEdgeList(binding, start, end, edgeList);

    const SignalAccess signals(binding);
    for (const uint32_t p : edgeList) {
        // Two strobes changing at one sample make no cycle either decoder
        // can trust.
        const int strobeEdges = (signals.EdgeKind(Signal::Iord, p) != kEdgeNone) +
                                (signals.EdgeKind(Signal::Iowr, p) != kEdgeNone) +
                                (signals.EdgeKind(Signal::Iordy, p) != kEdgeNone);
        if (strobeEdges >= 2) continue;
        DecodeDmaWord(signals, p);
        DecodeRegisterCycle(signals, p);
    }
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
    ClearRecords();
    Transfer() = TransferState{};
    Window() = DecodeWindow{};
    edgeList.clear();
    edgeList.shrink_to_fit();
}

}  // namespace fd
