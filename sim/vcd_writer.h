// Writes a waveform as an IEEE 1364 value change dump: one 1-bit wire per
// signal in one scope, initial values under $dumpvars, then a #time block
// for every position where some signal changes, listing only those signals.
// Streams as it goes. Used by cfsim and the reference host's exporters.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "host/model/waveform.h"

namespace fd::sim {

struct VcdOptions {
    std::string module = "cf";
    std::string version = "flashdecode cfsim";
};

// The largest VCD time unit (1, 10 or 100 of s, ms, us, ns, ps, fs) that
// divides the sample period, as "1 ns" and the number of units per sample.
// An unknown period (0) is written as 1 ns per sample.
struct VcdTimescale {
    std::string text;
    double unitsPerSample;
};
VcdTimescale ChooseTimescale(double secondsPerPosition);

// Identifier code of the n-th variable: printable ASCII from '!', base 94.
std::string VcdIdentifier(size_t index);

// A zero-width glitch (two changes at one position) is written as both
// values under the same #time, in order. Throws std::ios_base::failure when
// the stream fails.
void WriteVcd(std::ostream& out, const host::Waveform& waveform, const VcdOptions& options = {});

}  // namespace fd::sim
