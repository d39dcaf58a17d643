#include "host/pipeline/windowed_decode.h"

#include <algorithm>
#include <limits>

#include "host/model/capture_image.h"

namespace fd::host {

namespace {

// A window is based this many positions before its first visited one, so
// the plug-in sees the levels just before it (a strobe's edge, DMARQ the
// sample before a fall).
constexpr uint64_t kLeadIn = 2;
constexpr uint64_t kMaxPosition = std::numeric_limits<uint32_t>::max();

struct Bounds {
    uint64_t start = 0;  // visited positions lie strictly between start and end
    uint64_t end = 0;
};

Bounds WholeBounds(uint64_t endPosition, const DecodeWindow& window) {
    Bounds bounds{window.hasStart ? window.start : 0, endPosition};
    if (window.hasRange) {
        bounds.start = std::max<uint64_t>(bounds.start, window.rangeStart);
        bounds.end = window.rangeEnd;
    }
    return bounds;
}

// The channels from `base` on, rebased: each level at `base` becomes the
// starting level, the changes after it up to `last` follow.
CaptureImage WindowImage(const std::vector<CaptureChannel>& channels, uint64_t base, uint64_t last,
                         uint64_t endPosition) {
    std::vector<ChannelSpec> specs;
    specs.reserve(channels.size());
    for (const CaptureChannel& channel : channels) {
        const std::vector<uint32_t>& changes = channel.signal.changes;
        const auto from = std::upper_bound(changes.begin(), changes.end(), base);
        const auto to = std::upper_bound(from, changes.end(), last);
        Signal rebased;
        rebased.initialLevel =
            static_cast<uint8_t>(channel.signal.initialLevel ^ ((from - changes.begin()) & 1));
        rebased.changes.reserve(static_cast<size_t>(to - from) + 2);
        for (auto it = from; it != to; ++it) rebased.changes.push_back(static_cast<uint32_t>(*it - base));
        specs.push_back({channel.name, channel.number, ToTransitionList(std::move(rebased))});
    }
    return CaptureImage(std::move(specs), static_cast<uint32_t>(std::min(
                                              endPosition - std::min(endPosition, base), kMaxPosition)));
}

}  // namespace

std::vector<CaptureChannel> CaptureChannels(Waveform& waveform, const ChannelPlan& plan) {
    std::vector<CaptureChannel> channels;
    channels.reserve(plan.channels.size());
    std::vector<size_t> usesLeft(waveform.signals.size());
    for (const PlannedChannel& channel : plan.channels)
        if (channel.signal >= 0) ++usesLeft[static_cast<size_t>(channel.signal)];
    for (const PlannedChannel& channel : plan.channels) {
        CaptureChannel made{channel.name, channel.number, {}};
        if (channel.signal >= 0) {
            Signal& source = waveform.signals[static_cast<size_t>(channel.signal)];
            const bool last = --usesLeft[static_cast<size_t>(channel.signal)] == 0;
            made.signal.initialLevel = source.initialLevel;
            made.signal.changes = last ? std::move(source.changes) : source.changes;
        } else {
            made.signal.initialLevel = channel.idleLevel;
        }
        channels.push_back(std::move(made));
    }
    return channels;
}

WindowedDecodeResult DecodeInWindows(PluginHost& host, const std::vector<CaptureChannel>& channels,
                                     uint64_t endPosition, const DecodeWindow& window,
                                     const WindowedDecodeOptions& options, const RecordSink& sink) {
    WindowedDecodeResult result;
    const Bounds whole = WholeBounds(endPosition, window);
    std::vector<uint64_t> cuts;
    if (whole.end > whole.start + 1) {
        std::vector<const Signal*> all;
        all.reserve(channels.size());
        for (const CaptureChannel& channel : channels) all.push_back(&channel.signal);
        cuts = FindCuts(all, whole.start + 1, whole.end, options.cut);
        uint64_t from = whole.start + 1;
        for (size_t i = 0; i <= cuts.size(); ++i) {
            const uint64_t to = i < cuts.size() ? cuts[i] : whole.end;
            if (TransitionsBetween(all, from, to) > options.cutBound) {
                result.note = "no cut point within " + std::to_string(options.cutBound) +
                              " transitions; the capture is decoded whole";
                cuts.clear();
                break;
            }
            from = to;
        }
    }

    std::vector<DecodedRecord> records;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const uint64_t start = i == 0 ? whole.start : cuts[i - 1] - 1;
        const uint64_t end = i < cuts.size() ? cuts[i] : whole.end;
        const uint64_t base = i == 0 ? 0 : cuts[i - 1] - kLeadIn;
        // The last window keeps the capture's tail, as a whole decode does.
        const uint64_t last = i < cuts.size() ? end : base + kMaxPosition;
        CaptureImage image = WindowImage(channels, base, last, i < cuts.size() ? end : endPosition);
        DecodeWindow rebased;
        rebased.language = window.language;
        rebased.hasStart = true;
        rebased.start = static_cast<uint32_t>(start - base);
        rebased.hasRange = true;
        rebased.rangeStart = rebased.start;
        rebased.rangeEnd = static_cast<uint32_t>(end - base);
        if (i == 0 && cuts.empty()) rebased = window;  // one window: the capture as given
        const RecordList list = host.Decode(image, rebased);
        records.clear();
        records.reserve(list.size());
        for (size_t r = i == 0 ? 0 : 1; r < list.size(); ++r) {
            DecodedRecord record = list[r];
            record.position = static_cast<uint32_t>(record.position + base);
            records.push_back(record);
        }
        ++result.windows;
        sink(records);
    }
    return result;
}

std::vector<DecodedRecord> DecodeInWindows(PluginHost& host, const std::vector<CaptureChannel>& channels,
                                           uint64_t endPosition, const DecodeWindow& window,
                                           const WindowedDecodeOptions& options,
                                           WindowedDecodeResult* result) {
    // About one record per strobe transition (the plug-in reserves the
    // same); room never written stays unmapped, and the records are not
    // copied as they grow.
    std::vector<DecodedRecord> all;
    uint64_t strobeTransitions = 0;
    for (size_t line = 7; line < kCutLines && line < channels.size(); ++line)
        strobeTransitions += channels[line].signal.changes.size();
    all.reserve(static_cast<size_t>(strobeTransitions + strobeTransitions / 16 + 64));
    const WindowedDecodeResult done = DecodeInWindows(
        host, channels, endPosition, window, options, [&](const std::vector<DecodedRecord>& records) {
            all.insert(all.end(), records.begin(), records.end());
        });
    if (result != nullptr) *result = done;
    return all;
}

std::vector<DecodedRecord> DecodeWhole(PluginHost& host, const std::vector<CaptureChannel>& channels,
                                       uint64_t endPosition, const DecodeWindow& window) {
    std::vector<ChannelSpec> specs;
    for (const CaptureChannel& channel : channels)
        specs.push_back({channel.name, channel.number, ToTransitionList(channel.signal)});
    CaptureImage image(std::move(specs), static_cast<uint32_t>(endPosition));
    const RecordList list = host.Decode(image, window);
    std::vector<DecodedRecord> records;
    records.reserve(list.size());
    for (const DecodedRecord& record : list) records.push_back(record);
    return records;
}

}  // namespace fd::host
