// A capture as the reference host and the synthesizer see it: named one-bit
// signals, each an initial level and the ascending positions where it
// toggles. File readers produce it, the synthesizer produces it, writers and
// the capture image consume it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fd::host {

struct Signal {
    std::string name;
    uint8_t initialLevel = 0;       // level at position 0, before any change
    std::vector<uint32_t> changes;  // strictly ascending positions where the level toggles
};

struct Waveform {
    std::vector<Signal> signals;
    uint32_t endPosition = 0;       // last position of the capture
    double secondsPerPosition = 0;  // sample period; 0 when unknown
    // The file's time units per position: 1 but for a VCD too long for 32
    // bits of its timestamps, whose positions count the step every one of
    // them is a multiple of (a 1 fs dump of a bus sampled every 5 ns counts
    // 5000000 fs steps). Outputs multiply positions by it to give the
    // file's times.
    uint64_t timeStep = 1;
    // Other names the capture gives a signal (a simulator's port seen from
    // a submodule): the signal's index and the name. Role matching and
    // --map know them as well as the signal's own name.
    std::vector<std::pair<size_t, std::string>> aliases;
};

// The plug-in's transition list for a signal. The plug-in reads level 1
// before and from the first listed position, so a signal that starts high
// gets a leading 0, and one that starts low two leading 0s (the second one
// makes it read 0 from position 0 on).
std::vector<uint32_t> ToTransitionList(const Signal& signal);
// The same list built in the signal's own storage (no copy when it has room
// for two more entries, as the readers leave); the signal's changes are
// taken.
std::vector<uint32_t> ToTransitionList(Signal&& signal);

// Level of a signal at a position under the toggle model (for tests).
int LevelAt(const Signal& signal, uint32_t position);

}  // namespace fd::host
