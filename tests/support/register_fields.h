// The field id the decoding rules give a register cycle of the synthesizer,
// for tests that turn a synthesizer transcript into the records expected.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/bus.h"

namespace fd::test {

// Field id of a register cycle, or nothing for a combination no rule takes.
inline std::optional<uint16_t> RegisterField(fd::sim::Reg reg, bool write) {
    switch (reg) {
        case fd::sim::Reg::Data:
            return write ? 4003 : 4002;
        case fd::sim::Reg::Features:
            return write ? 4005 : 4004;
        case fd::sim::Reg::SectorCount:
            return 4006;
        case fd::sim::Reg::SectorNumber:
            return 4007;
        case fd::sim::Reg::CylinderLow:
            return 4008;
        case fd::sim::Reg::CylinderHigh:
            return 4009;
        case fd::sim::Reg::CardHead:
            return 4010;
        case fd::sim::Reg::Command:
            return write ? 4012 : 4011;
        case fd::sim::Reg::AltStatus:
            return write ? 4014 : 4013;
        case fd::sim::Reg::DriveAddress:
            return write ? std::nullopt : std::optional<uint16_t>(4015);
    }
    return std::nullopt;
}

}  // namespace fd::test
