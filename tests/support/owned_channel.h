// A channel in the host's layout that owns its transition list, for tests
// that ask the plug-in's level and edge queries about hand-made positions.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/interface/host_abi.h"

namespace fd::test {

struct OwnedChannel {
    explicit OwnedChannel(std::vector<uint32_t> p) : positions(std::move(p)) {
        list.positions = positions.data();
        list.count = static_cast<int32_t>(positions.size());
        channel.transitions = &list;
    }
    OwnedChannel(const OwnedChannel&) = delete;
    OwnedChannel& operator=(const OwnedChannel&) = delete;

    std::vector<uint32_t> positions;
    FdTransitionList list{};
    FdChannel channel{};
};

}  // namespace fd::test
