#include "host/model/waveform.h"

#include <algorithm>
#include <cstddef>

namespace fd::host {

std::vector<uint32_t> ToTransitionList(const Signal& signal) {
    std::vector<uint32_t> list;
    list.reserve(signal.changes.size() + 2);
    list.push_back(0);
    if (signal.initialLevel == 0) list.push_back(0);
    for (uint32_t change : signal.changes) {
        // A change at position 0 only sets the starting level.
        if (change == 0) {
            list.resize(signal.initialLevel == 0 ? 1 : 2, 0);
            continue;
        }
        list.push_back(change);
    }
    return list;
}

std::vector<uint32_t> ToTransitionList(Signal&& signal) {
    std::vector<uint32_t> list = std::move(signal.changes);
    signal.changes.clear();
    // Changes at position 0 only set the starting level, all of them as one
    // (as the copying form reads them).
    const size_t atZero = static_cast<size_t>(
        std::find_if(list.begin(), list.end(), [](uint32_t p) { return p != 0; }) - list.begin());
    const int level = (signal.initialLevel != 0 ? 1 : 0) ^ (atZero > 0 ? 1 : 0);
    const size_t leading = level == 1 ? 1 : 2;
    if (leading > atZero) {
        list.insert(list.begin(), leading - atZero, 0);
    } else if (leading < atZero) {
        list.erase(list.begin(), list.begin() + static_cast<ptrdiff_t>(atZero - leading));
    }
    return list;
}

int LevelAt(const Signal& signal, uint32_t position) {
    const auto toggles =
        std::upper_bound(signal.changes.begin(), signal.changes.end(), position) - signal.changes.begin();
    return (signal.initialLevel ^ static_cast<int>(toggles & 1)) & 1;
}

}  // namespace fd::host
