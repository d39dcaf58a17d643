#include "host/pipeline/windowed_decode.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "host/model/capture_image.h"

namespace fd::host {

namespace {

// A window is based this many positions before its first visited one, so
// the plug-in sees the levels just before it (a strobe's edge, DMARQ the
// sample before a fall).
constexpr uint64_t kLeadIn = 2;
constexpr uint64_t kMaxPosition = std::numeric_limits<uint32_t>::max();

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

WindowedDecoder::WindowedDecoder(PluginHost& host, std::vector<Channel> channels, uint64_t start,
                                 uint64_t endLimit, int32_t language, const WindowedDecodeOptions& options,
                                 RecordSink sink)
    : host_(host),
      channels_(std::move(channels)),
      language_(language),
      options_(options),
      sink_(std::move(sink)),
      pending_(channels_.size()),
      levels_(channels_.size()),
      cursors_(kCutLines),
      windowStart_(start),
      endLimit_(endLimit) {
    for (size_t i = 0; i < channels_.size(); ++i) levels_[i] = channels_[i].initialLevel & 1;
}

namespace {
template <typename Lists>
void AppendChanges(std::vector<std::vector<uint64_t>>& pending, const Lists& changes) {
    for (size_t i = 0; i < pending.size() && i < changes.size(); ++i)
        pending[i].insert(pending[i].end(), changes[i].begin(), changes[i].end());
}
}  // namespace

void WindowedDecoder::Feed(const std::vector<std::vector<uint64_t>>& changes, uint64_t knownBefore) {
    AppendChanges(pending_, changes);
    LookForCuts(knownBefore);
}

void WindowedDecoder::Feed(std::span<const std::span<const uint32_t>> changes, uint64_t knownBefore) {
    AppendChanges(pending_, changes);
    LookForCuts(knownBefore);
}

bool WindowedDecoder::Usable(uint64_t position) {
    CutSnapshot snapshot;
    for (size_t line = 0; line < kCutLines; ++line) {
        const std::vector<uint64_t>& changes = pending_[line];
        size_t& next = cursors_[line];
        while (next < changes.size() && changes[next] <= position) ++next;
        snapshot.level[line] = static_cast<uint8_t>(levels_[line] ^ (next & 1));
        const bool moves = next > 0 && changes[next - 1] == position;
        if (line == kCutIord) snapshot.iordMoves = moves;
        if (line == kCutIordy) snapshot.iordyMoves = moves;
    }
    return IsCutPoint(snapshot);
}

uint64_t WindowedDecoder::TransitionsSinceWindow(uint64_t before) const {
    uint64_t transitions = 0;
    for (const std::vector<uint64_t>& changes : pending_) {
        const auto from = std::upper_bound(changes.begin(), changes.end(), windowStart_);
        transitions += static_cast<uint64_t>(std::lower_bound(from, changes.end(), before) - from);
    }
    return transitions;
}

void WindowedDecoder::LookForCuts(uint64_t knownBefore) {
    if (channels_.size() < kCutLines || !result_.note.empty()) return;
    const std::vector<uint64_t>& strobe = pending_[kCutIowr];
    knownBefore = std::min(knownBefore, endLimit_);
    for (; scanned_ < strobe.size() && strobe[scanned_] < knownBefore; ++scanned_) {
        const uint64_t p = strobe[scanned_];
        // A cut leaves the window before it at least one visited position.
        if (p <= windowStart_ + 1 || !Usable(p)) continue;
        const uint64_t first = windowStart_ + 1;
        if (p - first > options_.maxSpan && previousCut_ > first) {
            CutAt(previousCut_);
            if (!Usable(p)) continue;  // the cursors start again from the new base
        }
        const uint64_t transitions = TransitionsSinceWindow(p);
        if (p - (windowStart_ + 1) <= options_.maxSpan && transitions >= options_.windowTransitions) {
            CutAt(p);
            continue;
        }
        previousCut_ = p;
        if (transitions > options_.cutBound) {
            result_.note = "no cut point within " + std::to_string(options_.cutBound) +
                           " transitions; the capture is decoded whole";
            return;
        }
    }
    if (previousCut_ == 0 && TransitionsSinceWindow(knownBefore) > options_.cutBound)
        result_.note = "no cut point within " + std::to_string(options_.cutBound) +
                       " transitions; the capture is decoded whole";
}

void WindowedDecoder::CutAt(uint64_t cut) {
    DecodeWindowTo(cut, cut, cut);
    // The next window: based just before the cut, its first visited
    // position the cut. What lies up to the base is done with.
    const uint64_t base = cut - kLeadIn;
    for (size_t i = 0; i < pending_.size(); ++i) {
        std::vector<uint64_t>& changes = pending_[i];
        const auto done = std::upper_bound(changes.begin(), changes.end(), base);
        levels_[i] = static_cast<uint8_t>(levels_[i] ^ ((done - changes.begin()) & 1));
        if (i == kCutIowr) scanned_ -= static_cast<size_t>(done - changes.begin());
        changes.erase(changes.begin(), done);  // the capacity stays for the next window
    }
    std::fill(cursors_.begin(), cursors_.end(), 0);
    base_ = base;
    windowStart_ = cut - 1;
    previousCut_ = 0;
    firstWindow_ = false;
}

void WindowedDecoder::DecodeWindowTo(uint64_t end, uint64_t last, uint64_t endPosition) {
    // The plug-in's lists (level 1 before the first entry): a leading 0,
    // and a second one for a line low at the base; the changes follow,
    // all after the base.
    lists_.resize(channels_.size());
    std::vector<ChannelSpec> specs;
    specs.reserve(channels_.size());
    for (size_t i = 0; i < channels_.size(); ++i) {
        const std::vector<uint64_t>& changes = pending_[i];
        // Changes at the base itself (position 0 of the first window) only
        // set the starting level.
        const auto from = std::upper_bound(changes.begin(), changes.end(), base_);
        const auto to = std::upper_bound(from, changes.end(), std::max(last, base_));
        std::vector<uint32_t>& list = lists_[i];
        list.clear();
        list.push_back(0);
        if ((levels_[i] ^ ((from - changes.begin()) & 1)) == 0) list.push_back(0);
        for (auto it = from; it != to; ++it) list.push_back(static_cast<uint32_t>(*it - base_));
        specs.push_back({channels_[i].name, channels_[i].number, std::move(list)});
    }
    CaptureImage image(std::move(specs), static_cast<uint32_t>(std::min(
                                             endPosition - std::min(endPosition, base_), kMaxPosition)));
    DecodeWindow window;
    window.language = language_;
    window.hasStart = true;
    window.start = static_cast<uint32_t>(windowStart_ - base_);
    window.hasRange = true;
    window.rangeStart = window.start;
    window.rangeEnd = static_cast<uint32_t>(end - base_);
    const RecordList list = host_.Decode(image, window);
    records_.clear();
    for (size_t r = firstWindow_ ? 0 : 1; r < list.size(); ++r) {
        DecodedRecord record = list[r];
        record.position += base_;
        records_.push_back(record);
    }
    std::vector<ChannelSpec> returned = image.TakeChannels();
    for (size_t i = 0; i < returned.size(); ++i) lists_[i] = std::move(returned[i].positions);
    ++result_.windows;
    sink_(records_);
}

WindowedDecodeResult WindowedDecoder::Finish(uint64_t end, uint64_t endPosition) {
    endLimit_ = std::min(endLimit_, end);
    LookForCuts(end);
    end = std::max(end, windowStart_);
    if (end - base_ > kMaxPosition)
        throw std::runtime_error("no cut point in the " + std::to_string(end - base_) + " positions from " +
                                 std::to_string(base_) + ": more than a decode window can hold");
    DecodeWindowTo(end, base_ + kMaxPosition, endPosition);
    return result_;
}

WindowedDecodeResult DecodeInWindows(PluginHost& host, const std::vector<CaptureChannel>& channels,
                                     uint64_t endPosition, const DecodeWindow& window,
                                     const WindowedDecodeOptions& options, const RecordSink& sink) {
    uint64_t start = window.hasStart ? window.start : 0;
    uint64_t end = endPosition;
    if (window.hasRange) {
        start = std::max<uint64_t>(start, window.rangeStart);
        end = window.rangeEnd;
    }
    std::vector<WindowedDecoder::Channel> described;
    size_t total = 0;
    uint64_t last = 0;
    for (const CaptureChannel& channel : channels) {
        described.push_back({channel.name, channel.number, channel.signal.initialLevel});
        total += channel.signal.changes.size();
        if (!channel.signal.changes.empty()) last = std::max<uint64_t>(last, channel.signal.changes.back());
    }
    WindowedDecoder decoder(host, std::move(described), start, end, window.language, options, sink);
    // The changes go in by stretches of positions, a few window's worth of
    // transitions each on average.
    const uint64_t stretches = total / std::max<uint64_t>(1, options.windowTransitions) + 1;
    const uint64_t step = std::max<uint64_t>(1, (last + 1) / std::min<uint64_t>(stretches, 4096) + 1);
    std::vector<std::span<const uint32_t>> stretch(channels.size());
    std::vector<size_t> next(channels.size());
    for (uint64_t from = 0; from <= last; from += step) {
        const uint64_t to = from + step;
        for (size_t i = 0; i < channels.size(); ++i) {
            const std::vector<uint32_t>& changes = channels[i].signal.changes;
            const size_t first = next[i];
            while (next[i] < changes.size() && changes[next[i]] < to) ++next[i];
            stretch[i] = std::span<const uint32_t>(changes.data() + first, next[i] - first);
        }
        decoder.Feed(stretch, to);
    }
    return decoder.Finish(end, endPosition);
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
    for (size_t line = kCutIord; line < kCutLines && line < channels.size(); ++line)
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
