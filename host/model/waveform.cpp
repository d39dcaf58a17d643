#include "host/model/waveform.h"

#include <algorithm>

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

int LevelAt(const Signal& signal, uint32_t position) {
    const auto toggles = std::upper_bound(signal.changes.begin(), signal.changes.end(), position) -
                         signal.changes.begin();
    return (signal.initialLevel ^ static_cast<int>(toggles & 1)) & 1;
}

}  // namespace fd::host
