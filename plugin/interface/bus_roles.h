// The 26 bus roles, once: their names in the plug-in's binding order (the
// order it binds a capture's channels in, and the order the settings'
// channel numbers follow up to D0), the other names a capture may give a
// control line, and the level each role idles at on the wire. The decoder's
// binding, cfdecode's signal map and stand-ins, the synthesizer and the
// test fixtures all read them here.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fd {

struct BusRole {
    std::string_view name;
    // Upper case, without an active-low mark: the True IDE name, the ATA
    // names (DIOR-, DA0 ...), the Ultra DMA names of the shared pins and the
    // CF card-side names (-CE1, -CE2). Data lines are named by number
    // (D0, DD0, DATA0) instead.
    std::array<std::string_view, 4> aliases;
    // Strobes, chip selects and DMACK are asserted low, so they idle high, as
    // does IORDY (ready); DMARQ and the address and data lines idle low.
    uint8_t idleLevel;
};

inline constexpr int kBusRoleCount = 26;
inline constexpr int kControlRoleCount = 10;  // DMARQ .. IORDY; D0 .. D15 follow
inline constexpr int kDataRoleCount = kBusRoleCount - kControlRoleCount;

// A role's place in the binding order, which is also its index in kBusRoles
// below; D1 .. D15 follow D0.
enum BusRoleIndex : int { kDmarq, kDmack, kCs1, kCs0, kA0, kA1, kA2, kIord, kIowr, kIordy, kD0 };
static_assert(kD0 == kControlRoleCount);

inline constexpr std::array<BusRole, kBusRoleCount> kBusRoles = {{
    {"DMARQ", {"DMARQ", "DRQ", "DMAREQ"}, 0},
    {"DMACK", {"DMACK", "DACK"}, 1},
    {"CS1", {"CS1", "CE2", "CS3FX"}, 1},
    {"CS0", {"CS0", "CE1", "CS1FX"}, 1},
    {"A0", {"A0", "DA0"}, 0},
    {"A1", {"A1", "DA1"}, 0},
    {"A2", {"A2", "DA2"}, 0},
    {"IORD", {"IORD", "DIOR", "HDMARDY", "HSTROBE"}, 1},
    {"IOWR", {"IOWR", "DIOW", "STOP"}, 1},
    {"IORDY", {"IORDY", "DDMARDY", "DSTROBE"}, 1},
    {"D0", {}, 0},
    {"D1", {}, 0},
    {"D2", {}, 0},
    {"D3", {}, 0},
    {"D4", {}, 0},
    {"D5", {}, 0},
    {"D6", {}, 0},
    {"D7", {}, 0},
    {"D8", {}, 0},
    {"D9", {}, 0},
    {"D10", {}, 0},
    {"D11", {}, 0},
    {"D12", {}, 0},
    {"D13", {}, 0},
    {"D14", {}, 0},
    {"D15", {}, 0},
}};
static_assert(kBusRoles[kDmack].name == "DMACK" && kBusRoles[kIord].name == "IORD" &&
              kBusRoles[kIordy].name == "IORDY" && kBusRoles[kD0].name == "D0");

}  // namespace fd
