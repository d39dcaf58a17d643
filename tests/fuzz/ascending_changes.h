// What every reader's fuzz target requires of a capture it read: each
// signal's changes strictly ascend from position 1 and stay inside the
// capture (before its end, or up to it where a reader may put a change at
// the last position). Aborts, for libFuzzer to keep the input, otherwise.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "host/model/waveform.h"

namespace fd::fuzz {

enum class LastChange { BeforeEnd, AtEndAllowed };

inline void RequireAscendingChanges(const fd::host::Waveform& w, LastChange last) {
    for (const auto& s : w.signals) {
        for (size_t i = 0; i < s.changes.size(); ++i) {
            const bool outside =
                last == LastChange::BeforeEnd ? s.changes[i] >= w.endPosition : s.changes[i] > w.endPosition;
            if (s.changes[i] == 0 || outside) std::abort();
            if (i > 0 && s.changes[i] <= s.changes[i - 1]) std::abort();
        }
    }
}

}  // namespace fd::fuzz
