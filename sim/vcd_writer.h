// Writes a waveform as an IEEE 1364 value change dump: one 1-bit wire per
// signal in one scope, initial values under $dumpvars, then a #time block
// for every position where some signal changes, listing only those signals.
// Signals may be undriven for stretches (a bus nobody drives), written as z.
// Streams as it goes. Used by cfsim and the reference host's exporters.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/model/waveform.h"
#include "sim/bus.h"

namespace fd::sim {

// Positions from `from` up to, not including, `to`.
struct VcdSpan {
    uint32_t from;
    uint32_t to;
};

struct VcdOptions {
    std::string module = "cf";
    std::string version = "flashdecode cfsim";
    // Per signal (indexed like the waveform's signals; missing or empty: always
    // driven), ascending stretches without a driver: z from `from` on, the
    // signal's level again at `to` (a `to` past the end is never reached).
    // The waveform's own changes inside a stretch are not written.
    std::vector<std::vector<VcdSpan>> undriven;
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

// Options for a capture the Bus made: its data lines undriven where the
// transcript says nobody drove them.
VcdOptions VcdOptionsFor(const Transcript& transcript, const host::Waveform& waveform);

// A zero-width glitch (two changes at one position) is written as both
// values under the same #time, in order. Throws std::ios_base::failure when
// the stream fails.
void WriteVcd(std::ostream& out, const host::Waveform& waveform, const VcdOptions& options = {});

}  // namespace fd::sim
