// Saleae Logic 2 binary exports (File > Export Data > Binary): one file per
// digital channel, digital_0.bin, digital_1.bin, … Each opens with the
// identifier <SALEAE>, a version and a type (0 digital, 1 analog). Version 0
// holds the level at the begin time, the begin and end times and the
// transition times, seconds as doubles; version 1 holds chunks of that (a
// gap between two chunks has no data), each with its sample rate. All
// little-endian. No library is needed: built on every target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/model/waveform.h"

namespace fd::host {

// One channel's file as it was read.
struct SaleaeChannelFile {
    std::string name;        // the file, as messages name it
    std::string signalName;  // digital_7, from the file name
    std::string_view bytes;
};

struct SaleaeReadOptions {
    // Hz; 0: the files' own rate (version 1), else the finest step every
    // transition time is a multiple of.
    uint64_t samplerate = 0;
    // Samples subtracted from every position; what lies before only sets
    // the starting levels.
    uint64_t offset = 0;
};

struct SaleaeReadNotes {
    uint64_t samplerate = 0;  // Hz, the one positions count in
    // What was assumed (the rate taken, gaps between chunks, transitions
    // closer than a sample): a line each.
    std::vector<std::string> notes;
};

// Position 0 is the channels' begin time; a time becomes the sample nearest
// to it (round to nearest, ties away from zero), so times written from
// sample numbers come back as those numbers. Signals in the order given.
// Throws CaptureFormatError naming the file, the byte offset and what was
// expected there.
Waveform ReadSaleaeBinary(const std::vector<SaleaeChannelFile>& files, const SaleaeReadOptions& options = {},
                          SaleaeReadNotes* notes = nullptr);

// The files of the export that `path` names: a folder's digital_N.bin files,
// or, for one of them, it and the digital_N.bin files beside it; any other
// file alone. In channel order. Throws CaptureFormatError for a folder
// holding none. analogFiles: how many analog_N.bin lie beside them, not read.
std::vector<std::string> SaleaeExportFiles(const std::string& path, size_t* analogFiles = nullptr);

// digital_7 for .../digital_7.bin (the name without folder and extensions).
std::string SaleaeSignalName(const std::string& path);

// Whether the bytes open with the export's identifier.
bool IsSaleaeBinary(std::string_view bytes);

}  // namespace fd::host
