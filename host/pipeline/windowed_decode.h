// The capture decoded window by window through the plug-in's entry table:
// the window cutter's cut points split the decode window, each window is
// handed over rebased (SetCapture, Decode, the lists read in place,
// ClearResults before the next), and its records come back with the base
// added. The records are those of one decode of the whole capture.
#pragma once

#include <cstdint>
#include <functional>
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
    CutOptions cut;
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
