// The configuration sheet's decisions: OK's save order, what "Default"
// resets, templates by language, what the setup page saves, the help path.
#include <gtest/gtest.h>

#include <cstring>

#include "plugin/interface/settings.h"
#include "plugin/ui/sheet_logic.h"

namespace {

using namespace fd::ui;
using S = SheetStep;

TEST(OkSteps, SavesOnlyInitialisedPagesSetupFirstDataFormatLast) {
    struct Case {
        std::array<bool, 3> initialised;
        std::vector<S> steps;
    };
    const Case cases[] = {
        {{true, false, false}, {S::kSaveSetupPage, S::kStoreMode}},
        {{true, true, false},
         {S::kSaveSetupPage, S::kStoreMode, S::kSavePacketColours, S::kSavePacketChecks}},
        {{true, false, true}, {S::kSaveSetupPage, S::kStoreMode, S::kSaveDataFormat}},
        {{true, true, true},
         {S::kSaveSetupPage, S::kStoreMode, S::kSavePacketColours, S::kSavePacketChecks, S::kSaveDataFormat}},
        {{false, false, false}, {}},
        {{false, true, true}, {S::kSavePacketColours, S::kSavePacketChecks, S::kSaveDataFormat}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OkSteps(c.initialised), c.steps)
            << c.initialised[0] << c.initialised[1] << c.initialised[2];
    }
}

TEST(DefaultSteps, ResetOnlyThePageInFront) {
    EXPECT_EQ(DefaultSteps(0), std::vector<S>{S::kRestoreSetupDefaults});
    EXPECT_EQ(DefaultSteps(1), (std::vector<S>{S::kRestorePacketColours, S::kCheckAllPacketItems}));
    EXPECT_EQ(DefaultSteps(2), std::vector<S>{S::kRestoreDataFormat});
    EXPECT_TRUE(DefaultSteps(-1).empty());
    EXPECT_TRUE(DefaultSteps(3).empty());
    for (int page = 0; page < 3; ++page) {
        for (S step : DefaultSteps(page)) EXPECT_EQ(static_cast<int>(PageOf(step)), page);
    }
}

TEST(TemplatesFor, LanguageChoosesTheTemplateSet) {
    struct Case {
        int32_t language;
        int setup, packet, format, pins;
    };
    for (const Case c : {Case{0, 1000, 1008, 1100, 15003}, Case{1, 1004, 1006, 1101, 15004},
                         Case{2, 1002, 1003, 1102, 15006}, Case{3, 1000, 1008, 1100, 15003},
                         Case{-1, 1000, 1008, 1100, 15003}}) {
        const SheetTemplates t = TemplatesFor(c.language);
        EXPECT_EQ(t.setup, c.setup) << c.language;
        EXPECT_EQ(t.packet, c.packet) << c.language;
        EXPECT_EQ(t.dataFormat, c.format) << c.language;
        EXPECT_EQ(t.pinAssignment, c.pins) << c.language;
    }
}

TEST(ModeSelection, OnlyZeroSelectsAnEntry) {
    EXPECT_EQ(ModeSelection(0), 0);
    EXPECT_EQ(ModeSelection(1), -1);
    EXPECT_EQ(ModeSelection(-1), -1);
    EXPECT_EQ(ModeSelection(7), -1);
}

FdDecoderSettings Filled(uint8_t byte) {
    FdDecoderSettings s;
    std::memset(&s, byte, sizeof s);
    return s;
}

TEST(SaveSetupPage, CopiesTheWorkingCopyThenTheButtonColours) {
    FdDecoderSettings live = Filled(0x11);
    FdDecoderSettings working = Filled(0x22);
    working.channel[FdChannelA0] = 42;
    std::array<uint32_t, FdColourCount> buttons{};
    for (int i = 0; i < FdColourCount; ++i) buttons[i] = 0x100 + static_cast<uint32_t>(i);

    SaveSetupPage(live, working, buttons);
    FdDecoderSettings expected = working;
    for (int i = 0; i < FdColourCount; ++i) expected.colour[i] = buttons[i];
    EXPECT_EQ(std::memcmp(&live, &expected, sizeof live), 0);
    EXPECT_EQ(live.channel[FdChannelA0], 42);

    StoreMode(live, -1);
    EXPECT_EQ(live.mode, -1);
}

TEST(SetupDefaults, AreTheSettingsDefaults) {
    FdDecoderSettings defaults = Filled(0);
    fd::SetDefaults(defaults);
    EXPECT_EQ(SetupDefaultColours(), SettingsColours(defaults));
    EXPECT_EQ(SetupDefaultColours()[FdColourRead], 0xFD7D3Cu);
    EXPECT_EQ(SetupDefaultColours()[FdColourCardHead], 0x2DBE73u);
    EXPECT_EQ(kSetupDefaultMode, defaults.mode);
}

TEST(HelpFilePath, TwoLevelsAboveTheExecutablesFolderInTheLanguagesFolder) {
    struct Case {
        const char* exe;
        int32_t language;
        const char* path;
    };
    const Case cases[] = {
        {R"(C:\A\B\C\host.exe)", 0, R"(C:\A\//PlugInsA//Help//Eng//DIZeruve.viz)"},
        {R"(C:\A\B\C\host.exe)", 1, R"(C:\A\//PlugInsA//Help//Si//DIZeruve.viz)"},
        {R"(C:\A\B\C\host.exe)", 2, R"(C:\A\//PlugInsA//Help//Tr//DIZeruve.viz)"},
        {R"(C:\A\B\C\host.exe)", 3, R"(C:\A\//PlugInsA//Help//Eng//DIZeruve.viz)"},
        {R"(D:\Program Files\Vendor\Analyzer\bin\la.exe)", 0,
         R"(D:\Program Files\Vendor\//PlugInsA//Help//Eng//DIZeruve.viz)"},
        {R"(C:\A\B\host.exe)", 0, R"(C:\//PlugInsA//Help//Eng//DIZeruve.viz)"},
        // Too shallow for two levels: the climb stops at the drive instead
        // of yielding "//PlugInsA/..." (a network path).
        {R"(C:\A\host.exe)", 0, R"(C:\//PlugInsA//Help//Eng//DIZeruve.viz)"},
        {R"(C:\host.exe)", 2, R"(C:\//PlugInsA//Help//Tr//DIZeruve.viz)"},
        {"", 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(HelpFilePath(c.exe, c.language), c.path) << c.exe;
}

}  // namespace
