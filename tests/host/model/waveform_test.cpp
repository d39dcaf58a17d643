// The toggle model of a signal and the plug-in's transition list must give
// the same level at every position.
#include "host/model/waveform.h"

#include <gtest/gtest.h>

#include "plugin/capture/capture_access.h"
#include "tests/support/owned_channel.h"

namespace {

TEST(ToTransitionList, LevelsAgreeWithTheToggleModel) {
    const fd::host::Signal signals[] = {
        {"high", 1, {}},   {"low", 0, {}},       {"h", 1, {5, 9, 10}}, {"l", 0, {5, 9, 10}},
        {"l0", 0, {0, 4}}, {"h0", 1, {0, 4, 6}}, {"edge", 0, {1}},     {"only0", 1, {0}},
    };
    for (const auto& signal : signals) {
        const fd::test::OwnedChannel owned(fd::host::ToTransitionList(signal));
        const FdChannel& channel = owned.channel;
        for (uint32_t at = 0; at < 16; ++at) {
            EXPECT_EQ(fd::Level(channel, at), fd::host::LevelAt(signal, at)) << signal.name << " @" << at;
        }
    }
}

// The in-place form (the readers' way, with spare room and without) must
// build the very list the copying form builds.
TEST(ToTransitionList, InPlaceGivesTheCopiedList) {
    const fd::host::Signal signals[] = {
        {"high", 1, {}},   {"low", 0, {}},       {"h", 1, {5, 9, 10}}, {"l", 0, {5, 9, 10}},
        {"l0", 0, {0, 4}}, {"h0", 1, {0, 4, 6}}, {"only0", 1, {0}},    {"zeros", 0, {0, 0, 3}},
    };
    for (const auto& signal : signals) {
        for (const size_t spare : {size_t{0}, size_t{2}}) {
            fd::host::Signal taken = signal;
            taken.changes.reserve(taken.changes.size() + spare);
            EXPECT_EQ(fd::host::ToTransitionList(std::move(taken)), fd::host::ToTransitionList(signal))
                << signal.name << " spare " << spare;
        }
    }
}

}  // namespace
