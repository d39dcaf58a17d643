// The common front of the capture readers: ReadCapture takes a file, a pipe
// or standard input ("-"), decompresses gzip and zstd streams, picks the
// reader by the content (the file name is only a hint), refuses the formats
// it does not read with a line saying what to convert them with, and gives
// back a Waveform. cfdecode and the tests read captures through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/formats/format_error.h"
#include "host/model/waveform.h"

namespace fd::host {

struct CaptureReadOptions {
    // Subtracted from every timestamp; what lies before it only sets the
    // starting levels. Lets a capture whose times run past 32 bits be read.
    uint64_t offset = 0;
    // Called now and then with bytes read and the file's size.
    std::function<void(uint64_t done, uint64_t total)> progress;
    // CSV: turns a time column into sample numbers; Saleae binary export:
    // the rate its times are counted in (Hz; 0: none given).
    uint64_t samplerate = 0;
    // CSV: picks and renames columns (see CsvReadOptions::columns).
    std::string csvColumns;
    // VCD: value changes longer than this are read by two threads, each
    // taking half of them (tests lower it to split small fixtures).
    size_t splitAbove = size_t{1} << 20;
};

// What a reader noticed without refusing the file.
struct CaptureReadNotes {
    std::string format;           // "VCD", "sigrok session", "CSV", "Saleae binary export", "DSView session"
    uint64_t unknownValues = 0;   // x and the other unknown bits, read as 0
    uint64_t undrivenValues = 0;  // z bits, which keep the line's last level
    uint64_t heldUnknowns = 0;    // extended VCD: unknown port states, which keep the last level
    // VCD: the spans from a $dumpoff to the next $dumpon (or the end), where
    // the file has no data and every line keeps its level.
    std::vector<std::pair<uint32_t, uint32_t>> gaps;
    uint32_t ignoredVariables = 0;  // real, string and event variables
    uint32_t aliases = 0;           // variables sharing another's identifier code
    uint32_t analogChannels = 0;    // sigrok session: analog channels, not read
    // What was assumed about the file, one note each: its name and its
    // content disagreed ("named .vcd but holds a sigrok session; read as
    // a sigrok session").
    std::vector<std::string> guesses;
    // CSV: what the reader filled in or guessed (gaps, the step taken as the
    // sample period, …) and what contradicts itself (a rate clash); a line each.
    std::vector<std::string> csvNotes;
    std::vector<std::string> csvWarnings;
    // Saleae binary exports: the files read, the rate taken and how (from
    // the files, --samplerate, or the step the times share), gaps between
    // chunks, pulses shorter than a sample; a line each.
    std::vector<std::string> formatNotes;
};

// path "-" reads standard input. Throws CaptureFormatError naming the file,
// the line or byte offset and what was expected.
Waveform ReadCapture(const std::string& path, const CaptureReadOptions& options = {},
                     CaptureReadNotes* notes = nullptr);

}  // namespace fd::host
