// Reader for IEEE 1364 value change dumps (.vcd) as logic-analyzer software
// (sigrok/PulseView), GTKWave and HDL simulators write them. Reached through
// ReadCapture; tests also call ReadVcdText on in-memory fixtures.
//
// Positions are the file's timestamps in its timescale units, minus the
// offset. Vectors are split into one signal per bit, named by the bit's
// index (D [15:0] gives D15 .. D0). z (a line nobody drives) keeps the
// line's last level, 0 before its first; x and the other unknown values
// read as 0. Both are counted. The values a signal has at the first
// timestamp (its $dumpvars values) are its starting level. endPosition is
// the file's last timestamp.
#pragma once

#include <string>
#include <string_view>

#include "host/formats/capture_reader.h"

namespace fd::host {

Waveform ReadVcd(const std::string& path, const CaptureReadOptions& options = {},
                 CaptureReadNotes* notes = nullptr);
// `name` stands for the file in error messages.
Waveform ReadVcdText(std::string_view text, const std::string& name,
                     const CaptureReadOptions& options = {}, CaptureReadNotes* notes = nullptr);

}  // namespace fd::host
