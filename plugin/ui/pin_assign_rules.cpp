// The pin assignment dialog's decisions; see pin_assign_rules.h.
#include "plugin/ui/pin_assign_rules.h"

#include <algorithm>

#include "plugin/interface/strings.h"

namespace fd::ui {

std::vector<PinChannel> ListPinChannels(const FdCapture* capture) {
    std::vector<PinChannel> channels;
    if (capture == nullptr || capture->channelList == nullptr || capture->channelList->channels == nullptr)
        return channels;
    // The host's channelCount and its list's own count can disagree; walking
    // past the list's end would read storage that is not there.
    const int32_t n = std::min(capture->channelCount, capture->channelList->count);
    for (int32_t i = 0; i < n; ++i) {
        const FdChannel* channel = capture->channelList->channels[i];
        if (channel == nullptr) break;
        channels.push_back({channel->name != nullptr ? channel->name : "", channel->number});
    }
    return channels;
}

PinPositions DefaultPinPositions() {
    PinPositions positions{};
    for (int role = 0; role < kPinRoleCount; ++role) positions[static_cast<size_t>(role)] = role;
    return positions;
}

PinPositions InitialPinPositions(std::span<const int32_t> channelNumbers,
                                 const int32_t (&storedNumbers)[kPinRoleCount]) {
    PinPositions positions;
    positions.fill(-1);
    for (size_t i = 0; i < channelNumbers.size(); ++i)
        for (int role = 0; role < kPinRoleCount; ++role)
            if (storedNumbers[role] == channelNumbers[i])
                positions[static_cast<size_t>(role)] = static_cast<int>(i);
    // One missing role resets all of them: a partial assignment from another
    // capture would mix old and default channels.
    if (std::ranges::find(positions, -1) != positions.end()) return DefaultPinPositions();
    return positions;
}

int LastDataPosition(int d0Position, int entryCount) {
    const int last = d0Position + (kDataLineCount - 1);
    return last > entryCount - 1 ? entryCount - 1 : last;
}

PinVerdict ValidatePinChoice(const PinPositions& positions, int lastDataPosition,
                             std::span<const int32_t> itemData) {
    PinVerdict verdict{};
    const int d0 = positions[FdChannelD0];
    if (d0 + 7 > lastDataPosition) {
        verdict.refusalId = kStrChooseRightChannel;
        return verdict;
    }
    const int entryCount = static_cast<int>(itemData.size());
    const auto inList = [entryCount](int position) { return position >= 0 && position < entryCount; };
    if (!std::ranges::all_of(positions, inList)) {
        verdict.refusalId = kStrChooseRightChannel;
        return verdict;
    }

    // One counter per entry of the list, however long the list is. A data
    // line beyond the list's end counts as shared: the D15 box then shows the
    // last entry, which already lies inside the run.
    std::vector<int> tally(static_cast<size_t>(entryCount), 0);
    bool shared = false;
    const auto mark = [&](int position) {
        if (!inList(position) || ++tally[static_cast<size_t>(position)] > 1) shared = true;
    };
    for (int role = 0; role < kPinRoleCount; ++role)
        if (role != FdChannelD0) mark(positions[static_cast<size_t>(role)]);
    for (int line = 0; line < kDataLineCount - 1; ++line) mark(d0 + line);
    mark(lastDataPosition);
    if (shared) {
        verdict.refusalId = kStrChannelsMustDiffer;
        return verdict;
    }

    for (int role = 0; role < kPinRoleCount; ++role)
        verdict.numbers[static_cast<size_t>(role)] =
            itemData[static_cast<size_t>(positions[static_cast<size_t>(role)])];
    return verdict;
}

}  // namespace fd::ui
