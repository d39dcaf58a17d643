// Which capture signal carries which bus role, and the channel list the
// plug-in is given for it. cfdecode builds the plan; the tests check the
// name rules, the stand-ins and the refusal to guess.
//
// The host numbers the channels: the 26 roles take numbers 0 to 25 in the
// plug-in's binding order (so D0 + n is Dn), further signals follow.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/model/waveform.h"
#include "plugin/interface/bus_roles.h"

namespace fd::host {

// "DMARQ", ..., "IORDY", "D0", ..., "D15": the binding order.
std::string RoleName(int role);
// The role a signal name stands for, by the usual ATA and CF names, any
// case, with or without an active-low mark ("DIOR-", "-CE1", "IORD#",
// "dmack_n"); nullopt when it names none.
std::optional<int> RoleForSignalName(std::string_view name);

class MappingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "IORD=ch3,IOWR=ch4" (also repeated options); throws MappingError for an
// entry that is not ROLE=SIGNAL or names no role.
struct RoleOverride {
    int role = 0;
    std::string signal;
};
std::vector<RoleOverride> ParseRoleOverrides(const std::vector<std::string>& options);

struct PlannedChannel {
    std::string name;
    int32_t number = 0;
    int signal = -1;        // index into the waveform's signals; -1 for an idle stand-in
    uint8_t idleLevel = 0;  // the stand-in's constant level
};

struct ChannelPlan {
    std::vector<PlannedChannel> channels;  // in list order; number == index
    // The eleven channel fields of the decoder settings: DMARQ .. IORDY,
    // then D0. A role without a signal gets -1, which makes the plug-in
    // bind by list position.
    std::array<int32_t, 11> settingsChannels{};
    std::vector<int> missingRoles;   // roles no signal is named for
    std::vector<std::string> notes;  // one line each, for stderr
};

// A role no signal is named for holds its idle level on a stand-in
// channel; with `bindByPosition` it takes the next signal whose name means
// nothing (the plug-in's own positional binding). Throws MappingError when
// an override names a signal the capture lacks, and, unless
// `bindByPosition`, when no signal is named for any control line: such
// names (an analyzer's "Channel 0" or "D0" defaults) cannot be bound.
ChannelPlan PlanChannels(const Waveform& waveform, const std::vector<RoleOverride>& overrides,
                         bool bindByPosition = false);

}  // namespace fd::host
