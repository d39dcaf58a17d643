// libFuzzer target: a capture's signals, turned into the plug-in's
// transition lists, read back the same level at every position through the
// plug-in's own level query.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "host/model/waveform.h"
#include "plugin/capture/capture_access.h"
#include "tests/support/owned_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fd::host::Signal signal;
    signal.initialLevel = data[0] & 1;
    std::set<uint32_t> changes;
    for (size_t i = 1; i + 1 < size; i += 2)
        changes.insert(static_cast<uint32_t>(data[i] | (data[i + 1] << 8)) % 4096);
    signal.changes.assign(changes.begin(), changes.end());
    const fd::test::OwnedChannel owned(fd::host::ToTransitionList(signal));
    const FdChannel& channel = owned.channel;
    for (uint32_t at = 0; at < 4100; ++at) {
        if (fd::Level(channel, at) != fd::host::LevelAt(signal, at)) std::abort();
        // An edge is reported exactly where the level changes.
        const int edge = fd::EdgeKind(channel, at);
        const bool changed = at > 0 && fd::host::LevelAt(signal, at) != fd::host::LevelAt(signal, at - 1);
        if ((edge != fd::kEdgeNone) != changed) std::abort();
    }
    return 0;
}
