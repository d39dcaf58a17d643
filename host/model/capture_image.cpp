#include "host/model/capture_image.h"

namespace fd::host {

CaptureImage::CaptureImage(std::vector<ChannelSpec> channels, uint32_t endPosition, std::string busName)
    : specs_(std::move(channels)),
      busName_(std::make_unique<std::string>(std::move(busName))),
      list_(std::make_unique<FdChannelList>()),
      capture_(std::make_unique<FdCapture>()) {
    transitions_.resize(specs_.size());
    channels_.resize(specs_.size());
    for (size_t i = 0; i < specs_.size(); ++i) {
        transitions_[i] = FdTransitionList{};
        transitions_[i].positions = specs_[i].positions.data();
        transitions_[i].count = static_cast<int32_t>(specs_[i].positions.size());
        channels_[i] = FdChannel{};
        channels_[i].name = specs_[i].name.c_str();
        channels_[i].number = specs_[i].number;
        channels_[i].transitions = &transitions_[i];
    }
    for (FdChannel& channel : channels_) channelPointers_.push_back(&channel);
    *list_ = FdChannelList{};
    list_->channels = channelPointers_.data();
    list_->count = static_cast<int32_t>(channelPointers_.size());
    *capture_ = FdCapture{};
    capture_->channelList = list_.get();
    capture_->channelCount = list_->count;
    capture_->busName.text = busName_->c_str();
    capture_->endPosition = endPosition;
}

CaptureImage CaptureImage::FromWaveform(const Waveform& waveform, std::string busName) {
    std::vector<ChannelSpec> specs;
    specs.reserve(waveform.signals.size());
    int32_t number = 0;
    for (const Signal& signal : waveform.signals) {
        specs.push_back({signal.name, number++, ToTransitionList(signal)});
    }
    return CaptureImage(std::move(specs), waveform.endPosition, std::move(busName));
}

void CaptureImage::ReleaseTransitions() {
    for (size_t i = 0; i < specs_.size(); ++i) {
        transitions_[i].positions = nullptr;
        transitions_[i].count = 0;
        std::vector<uint32_t>().swap(specs_[i].positions);
    }
}

std::vector<ChannelSpec> CaptureImage::TakeChannels() {
    for (FdTransitionList& list : transitions_) list = FdTransitionList{};
    return std::move(specs_);
}

void CaptureImage::SetStart(uint32_t position) {
    capture_->hasStartPosition = 1;
    capture_->startPosition = position;
}

void CaptureImage::SetRange(uint32_t start, uint32_t end) {
    capture_->hasRange = 1;
    capture_->rangeStart = start;
    capture_->rangeEnd = end;
}

}  // namespace fd::host
