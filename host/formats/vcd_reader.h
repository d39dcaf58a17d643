// Reader for IEEE 1364 value change dumps (.vcd) as logic-analyzer software
// (sigrok/PulseView), GTKWave and HDL simulators write them. Reached through
// ReadCapture; tests also call ReadVcdText on in-memory fixtures.
//
// Positions are the file's timestamps in its timescale units, minus the
// offset. A capture longer than 32 bits of them is counted in the largest
// step every change, $dumpoff gap and the end are a multiple of (Waveform::
// timeStep; secondsPerPosition is that step); one longer than 2^32 steps
// is refused. Vectors are split into one signal per bit, named by the bit's
// index (D [15:0] gives D15 .. D0). z (a line nobody drives) keeps the
// line's last level, 0 before its first; x and the other unknown values
// read as 0. Both are counted. The values a signal has at the first
// timestamp (its $dumpvars values) are its starting level. endPosition is
// the file's last timestamp.
//
// Simulators' dialects are read as they are written: Verilog escaped names
// lose their backslash (\D[15:0] is the vector D), VHDL bit selects and
// ranges (dd(3), dd(15 downto 0)) name bits as [n] does, a code declared in
// several scopes is one signal (Waveform::aliases holds its other names),
// $dumpoff .. $dumpon is a stretch without data where every line keeps its
// level (CaptureReadNotes::gaps), and extended VCD ($dumpports, $var port)
// reads each port state as the level it stands for; its three-state and
// unknown states keep the last level. Timescales may write the number as
// 1.0; a fraction that is not whole is refused.
#pragma once

#include <string>
#include <string_view>

#include "host/formats/capture_reader.h"

namespace fd::host {

Waveform ReadVcd(const std::string& path, const CaptureReadOptions& options = {},
                 CaptureReadNotes* notes = nullptr);
// `name` stands for the file in error messages.
Waveform ReadVcdText(std::string_view text, const std::string& name, const CaptureReadOptions& options = {},
                     CaptureReadNotes* notes = nullptr);

}  // namespace fd::host
