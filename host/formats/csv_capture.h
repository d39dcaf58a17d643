// CSV captures as logic-analyzer software exports them: a header row of
// signal names, a first column holding a sample number or a time, then one
// column per signal (0/1) or per bus word (hex, decimal, binary); one row
// per sample or one row per change (both are read the same way: a row gives
// the levels from its position on).
//
// Read as they are: comma, tab or semicolon delimiters (the latter two with
// a decimal comma in times); times in seconds ("Time [s]", "1.5e-6"), in a
// unit the header names ("nanoseconds", "Time [us]"), negative (before the
// trigger) or as ISO 8601 timestamps, the latter two counted from the first
// row; sigrok's time column in ticks of its own period; the sample rate
// from comment lines ("; Samplerate: 24 MHz", "; Sample rate: 100 MHz",
// "META samplerate: N"); a radix row under the header ("Radix - HEX,…", as
// FPGA logic-analyzer cores export); bus columns named "DD[15:0]" (or DD,
// DATA: 16 bits) split into bits; X, Z or an empty cell as no data (the
// level before continues).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "host/model/waveform.h"

namespace fd::host {

struct CsvReadOptions {
    // Turns a time column into sample numbers, and gives the sample period
    // of a file without one. 0: the file's own rate (a comment line), else
    // the step all its times are multiples of.
    uint64_t samplerate = 0;
    // Picks and renames columns when the header is not usable (column
    // numbers count from 1, which is the position column unless the file
    // has none); only the named columns are read:
    //   "2=IORD,3=IOWR"         column N is the 0/1 signal NAME (or IORD=2)
    //   "DMARQ,DMACK,-,CS1"     columns 2, 3, … in order; "-" skips one
    //   "DD=3:15..0"            column 3 holds a word whose bits 15..0 are
    //                           DD15..DD0 (bits LO..HI give NAME0 up)
    //   "IORD=2:16"             bit 16 of column 2's word is IORD
    //   "DD=3:15..0:dec"        the word's radix: hex (default), dec, bin, oct
    std::string columns;
};

// What the reader filled in or guessed without refusing the file; each is
// one line for the user.
struct CsvReadNotes {
    std::vector<std::string> notes;
    std::vector<std::string> warnings;
    uint64_t fileSamplerate = 0;  // the rate the file states; 0: none
};

// Positions are sample numbers (or steps of the times' common period when
// no rate is known); endPosition is one past the last row's.
// Throws CaptureFormatError naming the line and column.
Waveform ReadCsvCapture(const std::string& path, const CsvReadOptions& options = {},
                        CsvReadNotes* notes = nullptr);
Waveform ReadCsvCapture(std::istream& in, const std::string& name, const CsvReadOptions& options = {},
                        CsvReadNotes* notes = nullptr);

// Header "sample,NAME,…"; a row at 0 and at every change (perChange) or at
// every sample 0 .. endPosition-1.
void WriteCsvCapture(const Waveform& waveform, std::ostream& out, bool perChange = true);

}  // namespace fd::host
