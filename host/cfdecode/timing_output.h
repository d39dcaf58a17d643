// cfdecode --timing: the timing report as text (one line per finding, the
// notes, a summary), CSV (one row per finding or note) or JSON lines.
#pragma once

#include <cstdint>
#include <cstdio>

#include "host/analysis/timing_check.h"
#include "host/cfdecode/record_output.h"

namespace fd::host {

struct TimingOutputOptions {
    OutputFormat format = OutputFormat::Text;
    double secondsPerPosition = 0;  // for the times column
    uint64_t timeStep = 1;          // positions are printed times this: the file's units
    double samplePeriodNs = 0;      // the resolution the report was judged at
};

// Returns false when writing failed.
bool WriteTimingReport(std::FILE* out, const analysis::TimingReport& report,
                       const TimingOutputOptions& options);

}  // namespace fd::host
