// A scenario synthesized on cfsim's bus and written as a VCD, for the tests
// that run cfdecode on it.
#pragma once

#include <sstream>
#include <string>

#include "sim/bus.h"
#include "sim/scenarios.h"
#include "sim/vcd_writer.h"

namespace fd::test {

inline std::string SynthesizedVcd(const std::string& scenario, const fd::sim::Options& options) {
    fd::sim::Bus bus(options);
    fd::sim::RunScenario(bus, scenario, {});
    std::ostringstream out;
    fd::sim::WriteVcd(out, bus.Finish());
    return out.str();
}

}  // namespace fd::test
