// Random captures for the decoder's randomized tests: noise on every line
// (simultaneous strobes, zero-width glitches, equal neighbouring positions),
// scripted bus traffic with long bursts and stray line changes, channel
// numberings that take either binding path, and window points around the
// traffic. Used by the test against the reference decoder and by the
// differential test of the two query paths.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "host/model/capture_image.h"

namespace fd::test {

using Rng = std::mt19937_64;

int64_t Uniform(Rng& rng, int64_t low, int64_t high);
bool Chance(Rng& rng, double p);
uint32_t Clamp32(int64_t v);

struct Scenario {
    std::vector<std::vector<uint32_t>> lines;  // the 26 bus lines in binding order
    uint32_t first = 0, last = 0;              // span of the traffic
};

// Random transition lists on every line.
Scenario NoiseScenario(Rng& rng);
// Scripted traffic: register cycles, bursts (some past a sector), stray
// line changes and strobes changing together.
Scenario ScriptScenario(Rng& rng);

struct Numbering {
    std::vector<host::ChannelSpec> specs;
    std::array<int32_t, 11> fields;
};

// Numbers the 26 lines (plus spare channels) and picks the settings' channel
// fields, so that binding by number succeeds or fails in varied ways.
Numbering Number(Rng& rng, const Scenario& s);

uint32_t RandomWindowPoint(Rng& rng, const Scenario& s);

}  // namespace fd::test
