// Builds a capture in the host's layout, owning every object it points to,
// so the plug-in can read it in place. Used by the reference host and by
// tests that drive the plug-in through its entry table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/model/waveform.h"
#include "plugin/interface/host_abi.h"

namespace fd::host {

struct ChannelSpec {
    std::string name;
    int32_t number = 0;
    std::vector<uint32_t> positions;  // the plug-in's transition list
};

class CaptureImage {
public:
    CaptureImage(std::vector<ChannelSpec> channels, uint32_t endPosition, std::string busName = "CF4.1");
    // Channels numbered 0.. in waveform order, transition lists from the
    // toggle model.
    static CaptureImage FromWaveform(const Waveform& waveform, std::string busName = "CF4.1");

    CaptureImage(const CaptureImage&) = delete;
    CaptureImage& operator=(const CaptureImage&) = delete;
    CaptureImage(CaptureImage&&) = default;

    FdCapture* capture() { return capture_.get(); }
    const FdCapture* capture() const { return capture_.get(); }
    size_t channelCount() const { return specs_.size(); }
    const ChannelSpec& spec(size_t index) const { return specs_[index]; }

    void SetStart(uint32_t position);
    void SetRange(uint32_t start, uint32_t end);
    void SetLanguage(int32_t language) { capture_->language = language; }
    // Frees every channel's transition list (the channels then have none),
    // once a decode is done with them.
    void ReleaseTransitions();
    // The channels back, their transition lists with them (to be filled
    // again for the next capture); the capture then has no channels' lists.
    std::vector<ChannelSpec> TakeChannels();
    // Overrides channelCount without changing the list (hosts may differ).
    void SetChannelCount(int32_t count) { capture_->channelCount = count; }

private:
    std::vector<ChannelSpec> specs_;
    std::unique_ptr<std::string> busName_;  // stable address across moves
    std::vector<FdTransitionList> transitions_;
    std::vector<FdChannel> channels_;
    std::vector<FdChannel*> channelPointers_;
    std::unique_ptr<FdChannelList> list_;
    std::unique_ptr<FdCapture> capture_;
};

}  // namespace fd::host
