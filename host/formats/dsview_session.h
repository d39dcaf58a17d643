// DSView sessions (.dsl), as DSView saves a logic capture: a zip with an INI
// `header` member ([version], and [header] with total samples, samplerate,
// total probes, total blocks and probeN = name for each channel N kept) and
// each channel's samples in blocks L-N/0, L-N/1, … one bit per sample, the
// first sample in the lowest bit. Needs libzip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/model/waveform.h"

namespace fd::host {

struct DsviewReadNotes {
    uint64_t samples = 0;
    uint64_t samplerate = 0;  // Hz; 0 when the header gives none
};

// Positions are sample numbers; endPosition is the number of samples;
// signals are named as the probes, in channel order. `name` stands for the
// file in errors. Throws CaptureFormatError.
Waveform ReadDsviewSession(const void* data, size_t size, const std::string& name,
                           DsviewReadNotes* notes = nullptr);

}  // namespace fd::host
