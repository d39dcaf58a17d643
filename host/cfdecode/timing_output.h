// cfdecode --timing: the timing report as text (one line per finding, the
// notes, a summary), CSV (one row per finding or note) or JSON lines.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/analysis/timing_check.h"
#include "host/cfdecode/record_output.h"
#include "host/cfdecode/signal_map.h"

namespace fd::host {

struct TimingOutputOptions {
    OutputFormat format = OutputFormat::Text;
    double secondsPerPosition = 0;  // for the times column
    uint64_t timeStep = 1;          // positions are printed times this: the file's units
    double samplePeriodNs = 0;      // the resolution the report was judged at
};

// The checks a missing line leaves undone, as notes of the report: a role
// no signal carries holds its idle level, so nothing is ever found there.
void NoteMissingLines(analysis::TimingReport& report, const ChannelPlan& plan);

// Returns false when writing failed.
bool WriteTimingReport(std::FILE* out, const analysis::TimingReport& report,
                       const TimingOutputOptions& options);

}  // namespace fd::host
