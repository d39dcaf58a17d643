// Signal names to bus roles, --map overrides, and the channel list and
// settings numbers the plug-in is given, with and without missing roles.
#include "host/cfdecode/signal_map.h"

#include <gtest/gtest.h>

namespace {

using fd::host::ChannelPlan;
using fd::host::MappingError;
using fd::host::ParseRoleOverrides;
using fd::host::PlanChannels;
using fd::host::RoleForSignalName;
using fd::host::RoleName;
using fd::host::Signal;
using fd::host::Waveform;

int Role(const char* name) {
    for (int role = 0; role < fd::kBusRoleCount; ++role)
        if (RoleName(role) == name) return role;
    return -1;
}

TEST(RoleForSignalName, KnowsTheUsualNames) {
    const struct {
        const char* signal;
        const char* role;  // nullptr: no role
    } cases[] = {
        {"DMARQ", "DMARQ"},    {"dmarq", "DMARQ"},
        {"DMACK-", "DMACK"},   {"-DMACK", "DMACK"},
        {"dmack_n", "DMACK"},  {"CS1-", "CS1"},
        {"-CE2", "CS1"},       {"CS0#", "CS0"},
        {"-CE1", "CS0"},       {"DA0", "A0"},
        {"a1", "A1"},          {"DA2_N", "A2"},
        {"DIOR-", "IORD"},     {"-IORD", "IORD"},
        {"iord_b", "IORD"},    {"DIOR-:HDMARDY-:HSTROBE", "IORD"},
        {"DIOW-", "IOWR"},     {"DIOW-/STOP", "IOWR"},
        {"IORDY", "IORDY"},    {"IORDY:DDMARDY-:DSTROBE", "IORDY"},
        {"D0", "D0"},          {"DD15", "D15"},
        {"dd07", "D7"},        {"DATA12", "D12"},
        {"top.dut.DD3", "D3"}, {"INTRQ", nullptr},
        {"D16", nullptr},      {"DASP-", nullptr},
        {"CLK", nullptr},      {"", nullptr},
        {"-", nullptr},        {"DIOR-:DIOW-", nullptr},
    };
    for (const auto& c : cases) {
        const auto role = RoleForSignalName(c.signal);
        if (c.role == nullptr) {
            EXPECT_FALSE(role.has_value()) << c.signal << " -> " << RoleName(role.value_or(0));
        } else {
            ASSERT_TRUE(role.has_value()) << c.signal;
            EXPECT_EQ(RoleName(*role), c.role) << c.signal;
        }
    }
}

TEST(ParseRoleOverrides, ReadsListsAndRefusesWhatIsNotARole) {
    const auto overrides = ParseRoleOverrides({"IORD=ch7,iowr=ch8", "D0=bus[0]"});
    ASSERT_EQ(overrides.size(), 3u);
    EXPECT_EQ(overrides[0].role, Role("IORD"));
    EXPECT_EQ(overrides[0].signal, "ch7");
    EXPECT_EQ(overrides[1].role, Role("IOWR"));
    EXPECT_EQ(overrides[2].role, Role("D0"));
    EXPECT_EQ(overrides[2].signal, "bus[0]");

    for (const char* bad : {"IORD", "=ch1", "IORD=", "FOO=ch1", "D16=ch1"}) {
        try {
            ParseRoleOverrides({bad});
            ADD_FAILURE() << bad << " accepted";
        } catch (const MappingError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("--map ") + bad), std::string::npos) << e.what();
        }
    }
}

Waveform WithSignals(const std::vector<std::string>& names) {
    Waveform waveform;
    for (const std::string& name : names) waveform.signals.push_back({name, 0, {}});
    return waveform;
}

std::vector<std::string> FullBus() {
    std::vector<std::string> names = {"INTRQ", "DIOW-", "DIOR-", "IORDY", "DMACK-", "DMARQ",
                                      "CS0-",  "CS1-",  "DA2",   "DA1",   "DA0"};
    for (int bit = 15; bit >= 0; --bit) names.push_back("DD" + std::to_string(bit));
    return names;
}

TEST(PlanChannels, NumbersTheRolesInBindingOrderAndKeepsTheRest) {
    const Waveform waveform = WithSignals(FullBus());
    const ChannelPlan plan = PlanChannels(waveform, {});
    ASSERT_EQ(plan.channels.size(), 27u);
    for (int role = 0; role < fd::kBusRoleCount; ++role) {
        const auto& channel = plan.channels[static_cast<size_t>(role)];
        EXPECT_EQ(channel.number, role);
        ASSERT_GE(channel.signal, 0);
        EXPECT_EQ(RoleName(*RoleForSignalName(channel.name)), RoleName(role));
    }
    EXPECT_EQ(plan.channels[26].name, "INTRQ");
    EXPECT_EQ(plan.channels[26].number, 26);
    EXPECT_EQ(plan.settingsChannels, (std::array<int32_t, 11>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_TRUE(plan.missingRoles.empty());
    EXPECT_TRUE(plan.notes.empty());
}

TEST(PlanChannels, OverridesWinAndCanSwapSignals) {
    const Waveform waveform = WithSignals(FullBus());
    const ChannelPlan plan = PlanChannels(waveform, ParseRoleOverrides({"IORD=diow-,IOWR=DIOR-"}));
    EXPECT_EQ(plan.channels[static_cast<size_t>(Role("IORD"))].name, "DIOW-");
    EXPECT_EQ(plan.channels[static_cast<size_t>(Role("IOWR"))].name, "DIOR-");
    EXPECT_TRUE(plan.missingRoles.empty());

    try {
        PlanChannels(waveform, ParseRoleOverrides({"IORD=nothing"}));
        ADD_FAILURE() << "accepted a missing signal";
    } catch (const MappingError& e) {
        EXPECT_NE(std::string(e.what()).find("no signal named 'nothing'"), std::string::npos) << e.what();
    }
}

// A PIO capture without DMA lines, plus one signal with a name we do not
// know; INTRQ never stands in for a role.
std::vector<std::string> PioBusAndAProbe() {
    std::vector<std::string> names = FullBus();
    names.erase(std::find(names.begin(), names.end(), "DMARQ"));
    names.erase(std::find(names.begin(), names.end(), "DMACK-"));
    names.push_back("probe7");
    return names;
}

TEST(PlanChannels, MissingRolesHoldTheirIdleLevelAndUnnamedSignalsStayFurtherChannels) {
    const ChannelPlan plan = PlanChannels(WithSignals(PioBusAndAProbe()), {});
    EXPECT_EQ(plan.missingRoles, (std::vector<int>{Role("DMARQ"), Role("DMACK")}));
    EXPECT_EQ(plan.channels[0].signal, -1);
    EXPECT_EQ(plan.channels[0].idleLevel, 0);  // DMARQ idles low
    EXPECT_EQ(plan.channels[1].signal, -1);
    EXPECT_EQ(plan.channels[1].idleLevel, 1);  // DMACK- idles high
    ASSERT_EQ(plan.channels.size(), 28u);
    EXPECT_EQ(plan.channels[26].name, "INTRQ");
    EXPECT_EQ(plan.channels[27].name, "probe7");
    EXPECT_EQ(plan.settingsChannels[0], -1);
    EXPECT_EQ(plan.settingsChannels[1], -1);
    EXPECT_EQ(plan.settingsChannels[7], 7);
    ASSERT_EQ(plan.notes.size(), 1u);
    for (const char* part :
         {"DMARQ, DMACK", "DMARQ=idle low", "DMACK=idle high", "probe7", "--bind-by-position"})
        EXPECT_NE(plan.notes[0].find(part), std::string::npos) << part << ": " << plan.notes[0];
}

TEST(PlanChannels, BindByPositionGivesMissingRolesUnnamedSignalsThenIdleStandIns) {
    const ChannelPlan plan = PlanChannels(WithSignals(PioBusAndAProbe()), {}, true);
    EXPECT_EQ(plan.missingRoles, (std::vector<int>{Role("DMARQ"), Role("DMACK")}));
    EXPECT_EQ(plan.channels[0].name, "probe7");
    EXPECT_EQ(plan.channels[1].signal, -1);
    EXPECT_EQ(plan.channels[1].idleLevel, 1);
    EXPECT_EQ(plan.channels.size(), 27u);
    EXPECT_EQ(plan.channels[26].name, "INTRQ");
    // The missing roles' fields name no channel, so the plug-in binds by
    // list position; the rest name their channels.
    EXPECT_EQ(plan.settingsChannels[0], -1);
    EXPECT_EQ(plan.settingsChannels[1], -1);
    EXPECT_EQ(plan.settingsChannels[7], 7);
    ASSERT_FALSE(plan.notes.empty());
    EXPECT_NE(plan.notes.back().find("DMARQ, DMACK"), std::string::npos) << plan.notes.back();
    EXPECT_NE(plan.notes.back().find("DMARQ=probe7"), std::string::npos) << plan.notes.back();
    EXPECT_NE(plan.notes.back().find("DMACK=idle high"), std::string::npos) << plan.notes.back();
}

TEST(PlanChannels, UnnamedSignalsBindInFileOrderOnlyWhenAskedTo) {
    std::vector<std::string> names;
    for (int i = 0; i < 26; ++i) names.push_back("ch" + std::to_string(i));
    const ChannelPlan plan = PlanChannels(WithSignals(names), {}, true);
    ASSERT_EQ(plan.channels.size(), 26u);
    for (size_t i = 0; i < 26; ++i) EXPECT_EQ(plan.channels[i].name, names[i]);
    EXPECT_EQ(plan.missingRoles.size(), 26u);
    EXPECT_EQ(plan.settingsChannels[10], -1);
}

// An analyzer's default names say nothing about which line is which: the
// plan is refused, naming the signals and the ways to bind them, unless a
// control line is named or mapped.
TEST(PlanChannels, RefusesCapturesThatNameNoControlLine) {
    auto numbered = [](const std::string& prefix, int count) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) names.push_back(prefix + std::to_string(i));
        return names;
    };
    const struct {
        const char* label;
        std::vector<std::string> names;
    } cases[] = {
        {"Channel n", numbered("Channel ", 16)},
        {"sigrok's D0 .. D15", numbered("D", 16)},
        {"probes", numbered("probe", 8)},
        {"nets and a clock", {"n1", "n2", "CLK"}},
    };
    for (const auto& c : cases) {
        try {
            PlanChannels(WithSignals(c.names), {});
            ADD_FAILURE() << c.label << ": accepted";
        } catch (const MappingError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("no signal is named for a bus control line"), std::string::npos)
                << message;
            EXPECT_NE(message.find(c.names[0] + ", " + c.names[1]), std::string::npos) << message;
            EXPECT_NE(message.find("--map ROLE=SIGNAL"), std::string::npos) << message;
            EXPECT_NE(message.find("--bind-by-position"), std::string::npos) << message;
        }
        EXPECT_EQ(PlanChannels(WithSignals(c.names), {}, true).channels[0].name, c.names[0]) << c.label;
    }
    // One mapped control line is enough; the rest hold their idle level.
    const ChannelPlan mapped =
        PlanChannels(WithSignals(numbered("Channel ", 16)), ParseRoleOverrides({"IORD=channel 3"}));
    EXPECT_EQ(mapped.channels[static_cast<size_t>(Role("IORD"))].name, "Channel 3");
    EXPECT_EQ(mapped.channels[static_cast<size_t>(Role("D0"))].name, "(D0 idle)");
}

// A simulator's port declared in several scopes under one identifier code
// is one signal: bound by whichever of its names says the role, and
// mapped by any of them.
TEST(PlanChannels, AliasesBindAndMapByAnyName) {
    Waveform waveform = WithSignals(FullBus());
    for (Signal& signal : waveform.signals)
        if (signal.name == "DIOR-") signal.name = "tb.strobe_a";
    waveform.aliases = {{2, "tb.dut.dior_n"}, {2, "strobe"}};
    const ChannelPlan plan = PlanChannels(waveform, {});
    EXPECT_EQ(plan.channels[static_cast<size_t>(Role("IORD"))].name, "tb.strobe_a");
    EXPECT_TRUE(plan.missingRoles.empty());
    const ChannelPlan mapped = PlanChannels(waveform, ParseRoleOverrides({"IORD=STROBE"}));
    EXPECT_EQ(mapped.channels[static_cast<size_t>(Role("IORD"))].signal, 2);
}

TEST(PlanChannels, ASecondSignalForOneRoleIsKeptAsAFurtherChannel) {
    std::vector<std::string> names = FullBus();
    names.push_back("IORD");
    const ChannelPlan plan = PlanChannels(WithSignals(names), {});
    EXPECT_EQ(plan.channels[static_cast<size_t>(Role("IORD"))].name, "DIOR-");
    EXPECT_EQ(plan.channels.back().name, "IORD");
    ASSERT_EQ(plan.notes.size(), 1u);
    EXPECT_NE(plan.notes[0].find("both name IORD"), std::string::npos);

    // A module and its instance name every line twice: one line says so.
    std::vector<std::string> twice = FullBus();
    for (const std::string& name : FullBus()) twice.push_back("tb.dut." + name);
    const ChannelPlan doubled = PlanChannels(WithSignals(twice), {});
    ASSERT_EQ(doubled.notes.size(), 1u) << doubled.notes[0];
    EXPECT_NE(doubled.notes[0].find("26 signals name a role another signal already carries"),
              std::string::npos)
        << doubled.notes[0];
    EXPECT_NE(doubled.notes[0].find("tb.dut.DIOW- (IOWR, carried by DIOW-)"), std::string::npos)
        << doubled.notes[0];
}

}  // namespace
