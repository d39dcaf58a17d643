#include "plugin/decoder/signal_access.h"

namespace fd {

uint32_t SignalAccess::DataBits(uint32_t position, int lines) const {
    uint32_t value = 0;
    for (int n = 0; n < lines; ++n) {
        const FdChannel& line = *binding_[static_cast<size_t>(Signal::D0) + static_cast<size_t>(n)];
        value |= static_cast<uint32_t>(fd::Level(line, position)) << n;
    }
    return value;
}

int SignalAccess::CycleCode(uint32_t position) const {
    return Level(Signal::A0, position) | Level(Signal::A1, position) << 1 |
           Level(Signal::A2, position) << 2 | Level(Signal::Cs0, position) << 3 |
           Level(Signal::Cs1, position) << 4 | Level(Signal::Dmack, position) << 5;
}

bool SignalAccess::InDmaBurst(uint32_t position) const {
    return Level(Signal::Cs0, position) == 1 && Level(Signal::Cs1, position) == 1 &&
           Level(Signal::Dmack, position) == 0 && Level(Signal::Dmarq, position) == 1;
}

}  // namespace fd
