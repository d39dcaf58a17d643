// CSV captures as logic-analyzer software exports them: a header row of
// signal names, a first column holding a sample number or a time in
// seconds, then one 0/1 column per signal; one row per sample or one row
// per change (both are read the same way: a row gives the levels from its
// position on).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "host/model/waveform.h"

namespace fd::host {

struct CsvReadOptions {
    // Turns a time column (seconds) into sample numbers; without it a time
    // column is refused.
    uint64_t samplerate = 0;
    // Picks and renames columns when the header is not usable:
    // "2=IORD,3=IOWR" (column numbers, 1 is the position column) or
    // "DMARQ,DMACK,-,CS1" (columns 2, 3, … in order; "-" skips one).
    // Only the named columns are read.
    std::string columns;
};

// Positions are sample numbers; endPosition is one past the last row's.
// Throws CaptureFormatError naming the line and column.
Waveform ReadCsvCapture(const std::string& path, const CsvReadOptions& options = {});
Waveform ReadCsvCapture(std::istream& in, const std::string& name, const CsvReadOptions& options = {});

// Header "sample,NAME,…"; a row at 0 and at every change (perChange) or at
// every sample 0 .. endPosition-1.
void WriteCsvCapture(const Waveform& waveform, std::ostream& out, bool perChange = true);

}  // namespace fd::host
