// sigrok session files (.sr), as sigrok-cli and PulseView save them: a zip
// with a `version` member, an INI `metadata` member naming the probes, the
// sample rate and the unit size, and the logic samples in numbered chunks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/formats/samplerate.h"
#include "host/model/waveform.h"

namespace fd::host {

struct SigrokReadNotes {
    int analogChannels = 0;  // present in the file and ignored
    uint64_t samples = 0;
    uint64_t samplerate = 0;  // Hz; 0 when the file gives none
};

// Positions are sample numbers; endPosition is the number of samples. The
// samples are turned into toggle lists chunk by chunk, never held whole;
// two threads share the inflating, the chunks are converted in order.
// Samples of 1 to 8 bytes (up to 64 probes). Throws CaptureFormatError.
Waveform ReadSigrokSession(const std::string& path, SigrokReadNotes* notes = nullptr);
// The same from a session held in memory; `name` stands for the file in errors.
Waveform ReadSigrokSession(const void* data, size_t size, const std::string& name,
                           SigrokReadNotes* notes = nullptr);

// Writes the waveform's samples 0 .. endPosition-1 (at most 32 signals).
// samplerate in Hz (0: taken from secondsPerPosition, else 1 MHz).
void WriteSigrokSession(const Waveform& waveform, const std::string& path, uint64_t samplerate = 0);

}  // namespace fd::host
