// Bus timing for the synthesizer: the CF 4.1 mode tables live with the
// analysis library (host/analysis/mode_timing.h), which the timing checks
// share; the synthesizer turns them into sample counts.
#pragma once

#include "host/analysis/mode_timing.h"

namespace fd::sim {

using host::analysis::kMwdmaModes;
using host::analysis::kPioModes;
using host::analysis::kUdmaModes;
using host::analysis::MwdmaMode;
using host::analysis::MwdmaTiming;
using host::analysis::PioMode;
using host::analysis::PioTiming;
using host::analysis::UdmaMode;
using host::analysis::UdmaTiming;

}  // namespace fd::sim
