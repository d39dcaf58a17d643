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
using fd::host::Waveform;

int Role(const char* name) {
    for (int role = 0; role < fd::host::kRoleCount; ++role)
        if (RoleName(role) == name) return role;
    return -1;
}

TEST(RoleForSignalName, KnowsTheUsualNames) {
    const struct {
        const char* signal;
        const char* role;  // nullptr: no role
    } cases[] = {
        {"DMARQ", "DMARQ"},   {"dmarq", "DMARQ"},     {"DMACK-", "DMACK"},   {"-DMACK", "DMACK"},
        {"dmack_n", "DMACK"}, {"CS1-", "CS1"},        {"-CE2", "CS1"},       {"CS0#", "CS0"},
        {"-CE1", "CS0"},      {"DA0", "A0"},          {"a1", "A1"},          {"DA2_N", "A2"},
        {"DIOR-", "IORD"},    {"-IORD", "IORD"},      {"iord_b", "IORD"},    {"DIOR-:HDMARDY-:HSTROBE", "IORD"},
        {"DIOW-", "IOWR"},    {"DIOW-/STOP", "IOWR"}, {"IORDY", "IORDY"},    {"IORDY:DDMARDY-:DSTROBE", "IORDY"},
        {"D0", "D0"},         {"DD15", "D15"},        {"dd07", "D7"},        {"DATA12", "D12"},
        {"top.dut.DD3", "D3"}, {"INTRQ", nullptr},    {"D16", nullptr},      {"DASP-", nullptr},
        {"CLK", nullptr},     {"", nullptr},          {"-", nullptr},        {"DIOR-:DIOW-", nullptr},
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
    std::vector<std::string> names = {"INTRQ", "DIOW-", "DIOR-", "IORDY", "DMACK-", "DMARQ", "CS0-", "CS1-", "DA2", "DA1", "DA0"};
    for (int bit = 15; bit >= 0; --bit) names.push_back("DD" + std::to_string(bit));
    return names;
}

TEST(PlanChannels, NumbersTheRolesInBindingOrderAndKeepsTheRest) {
    const Waveform waveform = WithSignals(FullBus());
    const ChannelPlan plan = PlanChannels(waveform, {});
    ASSERT_EQ(plan.channels.size(), 27u);
    for (int role = 0; role < fd::host::kRoleCount; ++role) {
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

TEST(PlanChannels, MissingRolesTakeUnnamedSignalsThenIdleStandIns) {
    // A PIO capture without DMA lines, plus one signal with a name we do
    // not know; INTRQ never stands in for a role.
    std::vector<std::string> names = FullBus();
    names.erase(std::find(names.begin(), names.end(), "DMARQ"));
    names.erase(std::find(names.begin(), names.end(), "DMACK-"));
    names.push_back("probe7");
    const ChannelPlan plan = PlanChannels(WithSignals(names), {});
    EXPECT_EQ(plan.missingRoles, (std::vector<int>{Role("DMARQ"), Role("DMACK")}));
    EXPECT_EQ(plan.channels[0].name, "probe7");
    EXPECT_EQ(plan.channels[1].signal, -1);
    EXPECT_EQ(plan.channels[1].idleLevel, 1);  // DMACK- idles high
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

TEST(PlanChannels, UnnamedSignalsBindInFileOrder) {
    std::vector<std::string> names;
    for (int i = 0; i < 26; ++i) names.push_back("ch" + std::to_string(i));
    const ChannelPlan plan = PlanChannels(WithSignals(names), {});
    ASSERT_EQ(plan.channels.size(), 26u);
    for (size_t i = 0; i < 26; ++i) EXPECT_EQ(plan.channels[i].name, names[i]);
    EXPECT_EQ(plan.missingRoles.size(), 26u);
    EXPECT_EQ(plan.settingsChannels[10], -1);
}

TEST(PlanChannels, ASecondSignalForOneRoleIsKeptAsAFurtherChannel) {
    std::vector<std::string> names = FullBus();
    names.push_back("IORD");
    const ChannelPlan plan = PlanChannels(WithSignals(names), {});
    EXPECT_EQ(plan.channels[static_cast<size_t>(Role("IORD"))].name, "DIOR-");
    EXPECT_EQ(plan.channels.back().name, "IORD");
    ASSERT_EQ(plan.notes.size(), 1u);
    EXPECT_NE(plan.notes[0].find("both name IORD"), std::string::npos);
}

}  // namespace
