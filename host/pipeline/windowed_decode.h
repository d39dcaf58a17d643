// The capture decoded window by window through the plug-in's entry table:
// the window cutter's cut points split the decode window, each window is
// handed over rebased (SetCapture, Decode, the lists read in place,
// ClearResults before the next), and its records come back with the base
// added. The records are those of one decode of the whole capture.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "host/cfdecode/plugin_host.h"
#include "host/cfdecode/signal_map.h"
#include "host/model/waveform.h"
#include "host/pipeline/window_cutter.h"

namespace fd::host {

// One channel of the capture as the plug-in is given it.
struct CaptureChannel {
    std::string name;
    int32_t number = 0;
    Signal signal;  // the signal's own name is not used
};

// The plan's channels, the waveform's signals taken over (copied for a
// signal that carries more than one role), stand-ins at their idle level.
std::vector<CaptureChannel> CaptureChannels(Waveform& waveform, const ChannelPlan& plan);

struct WindowedDecodeOptions {
    // A window is closed at the first cut point after this many transitions
    // (all channels together) since the window began.
    uint64_t windowTransitions = uint64_t{1} << 20;
    // No window spans more positions than this: the plug-in counts them in
    // 32 bits.
    uint64_t maxSpan = (uint64_t{1} << 32) - 16;
    // A stretch of more transitions than this without a cut point makes
    // the capture decoded whole, as one window.
    uint64_t cutBound = uint64_t{64} << 20;
};

struct WindowedDecodeResult {
    size_t windows = 0;
    std::string note;  // why the capture was decoded whole; empty otherwise
};

// The records of one window: its records, positions already the capture's.
using RecordSink = std::function<void(const std::vector<DecodedRecord>& records)>;

// Hands a capture to the plug-in window by window as its changes come:
// the changes since the last cut are held (in buffers reused from window
// to window), each cut point found closes a window once it holds enough
// transitions, and the window's records go to the sink. Positions are
// 64-bit; each window is rebased to fit the plug-in's 32 bits.
class WindowedDecoder {
public:
    struct Channel {
        std::string name;
        int32_t number = 0;
        uint8_t initialLevel = 0;
    };
    // Visited positions lie after `start` and, when the end is known ahead
    // (a range), before `endLimit`; `language` is the capture's.
    WindowedDecoder(PluginHost& host, std::vector<Channel> channels, uint64_t start, uint64_t endLimit,
                    int32_t language, const WindowedDecodeOptions& options, RecordSink sink);

    // Each channel's changes from where the last call left off, ascending;
    // all changes before `knownBefore` have now come.
    void Feed(const std::vector<std::vector<uint64_t>>& changes, uint64_t knownBefore);
    // The same from 32-bit positions (a capture read whole).
    void Feed(std::span<const std::span<const uint32_t>> changes, uint64_t knownBefore);
    // Decodes the rest up to `end` (exclusive); `endPosition` is the
    // capture's last position. Throws std::runtime_error when what is left
    // spans more positions than a window can.
    WindowedDecodeResult Finish(uint64_t end, uint64_t endPosition);

private:
    bool Usable(uint64_t position);
    uint64_t TransitionsSinceWindow(uint64_t before) const;
    void CutAt(uint64_t cut);
    void DecodeWindowTo(uint64_t end, uint64_t last, uint64_t endPosition);
    void LookForCuts(uint64_t knownBefore);

    PluginHost& host_;
    std::vector<Channel> channels_;
    int32_t language_;
    WindowedDecodeOptions options_;
    RecordSink sink_;
    std::vector<std::vector<uint64_t>> pending_;  // changes after base_
    std::vector<uint8_t> levels_;                 // each channel's level at base_
    std::vector<size_t> cursors_;                 // the cut rule's lines, into pending_
    uint64_t base_ = 0;
    uint64_t windowStart_ = 0;  // visited positions of this window lie after it
    uint64_t endLimit_ = 0;
    size_t scanned_ = 0;        // DIOW- changes in pending_ looked at
    uint64_t previousCut_ = 0;  // the last usable cut point not taken; 0: none
    bool firstWindow_ = true;
    std::vector<DecodedRecord> records_;
    std::vector<std::vector<uint32_t>> lists_;  // the window's transition lists, refilled for each
    WindowedDecodeResult result_;
};

// Decodes `channels` (the roles first, in binding order) between the
// bounds of `window` in windows, giving each window's records to `sink` in
// order; the leading record comes once, first.
WindowedDecodeResult DecodeInWindows(PluginHost& host, const std::vector<CaptureChannel>& channels,
                                     uint64_t endPosition, const DecodeWindow& window,
                                     const WindowedDecodeOptions& options, const RecordSink& sink);

// The same, all records gathered.
std::vector<DecodedRecord> DecodeInWindows(PluginHost& host, const std::vector<CaptureChannel>& channels,
                                           uint64_t endPosition, const DecodeWindow& window,
                                           const WindowedDecodeOptions& options,
                                           WindowedDecodeResult* result = nullptr);

// The whole capture in one Decode, as a host without windows hands it over.
std::vector<DecodedRecord> DecodeWhole(PluginHost& host, const std::vector<CaptureChannel>& channels,
                                       uint64_t endPosition, const DecodeWindow& window);

}  // namespace fd::host
