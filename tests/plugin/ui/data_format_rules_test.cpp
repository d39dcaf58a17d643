// The Data Format page's state: loading, clicks, the shown radio button, and
// what OK and "Default" leave in the settings.
#include "plugin/ui/data_format_rules.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "plugin/interface/settings.h"

namespace {

FdDecoderSettings Defaults() {
    FdDecoderSettings s{};
    fd::SetDefaults(s);
    return s;
}

TEST(DataFormat, DefaultsOpenInactiveWithHexadecimalInBothRows) {
    const fd::ui::DataFormatState state = fd::ui::LoadDataFormat(Defaults());
    EXPECT_FALSE(state.active);
    EXPECT_EQ(fd::ui::ShownRadix(state.taskFileChoice), FdRadixHexadecimal);
    EXPECT_EQ(fd::ui::ShownRadix(state.dataChoice), FdRadixHexadecimal);
    const fd::ui::DataFormatState restored = fd::ui::RestoredDataFormat();
    EXPECT_EQ(restored.active, state.active);
    EXPECT_EQ(restored.taskFileChoice, state.taskFileChoice);
    EXPECT_EQ(restored.dataChoice, state.dataChoice);
}

TEST(DataFormat, AChoiceOutsideZeroToThreeShowsHexadecimalAndIsWrittenBack) {
    struct Case {
        int16_t choice;
        int shown;
    } cases[] = {
        {0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 2}, {7, 2}, {-1, 2}, {INT16_MIN, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(fd::ui::ShownRadix(c.choice), c.shown) << c.choice;

    FdDecoderSettings settings = Defaults();
    settings.taskFileRadix = 7;
    settings.customRadixDisplay = 5;  // any non-zero value is on
    const fd::ui::DataFormatState state = fd::ui::LoadDataFormat(settings);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(state.taskFileChoice, 7);
    FdDecoderSettings saved = Defaults();
    fd::ui::SaveDataFormat(state, true, saved);
    EXPECT_EQ(saved.taskFileRadix, 7);
    EXPECT_EQ(saved.customRadixDisplay, 1);
}

TEST(DataFormat, ARadioButtonChangesOnlyItsOwnRow) {
    fd::ui::DataFormatState state = fd::ui::LoadDataFormat(Defaults());
    for (int16_t radix = 0; radix < 4; ++radix) {
        EXPECT_EQ(fd::ui::ApplyDataFormatClick(state, fd::ui::kDataRadioIds[radix]),
                  fd::ui::DataFormatChange::Data);
        EXPECT_EQ(state.dataChoice, radix);
        EXPECT_EQ(state.taskFileChoice, FdRadixHexadecimal);
    }
    for (int16_t radix = 0; radix < 4; ++radix) {
        EXPECT_EQ(fd::ui::ApplyDataFormatClick(state, fd::ui::kTaskFileRadioIds[radix]),
                  fd::ui::DataFormatChange::TaskFile);
        EXPECT_EQ(state.taskFileChoice, radix);
        EXPECT_EQ(state.dataChoice, FdRadixAscii);
    }
    EXPECT_FALSE(state.active);
    EXPECT_EQ(fd::ui::ApplyDataFormatClick(state, fd::ui::kActivateId), fd::ui::DataFormatChange::Active);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(fd::ui::ApplyDataFormatClick(state, fd::ui::kActivateId), fd::ui::DataFormatChange::Active);
    EXPECT_FALSE(state.active);
    EXPECT_EQ(fd::ui::ApplyDataFormatClick(state, 1013), fd::ui::DataFormatChange::None);  // a row label
    EXPECT_EQ(state.taskFileChoice, FdRadixAscii);
}

TEST(DataFormat, SaveKeepsTheRadicesWhetherOrNotActive) {
    fd::ui::DataFormatState state = fd::ui::LoadDataFormat(Defaults());
    fd::ui::ApplyDataFormatClick(state, fd::ui::kActivateId);
    fd::ui::ApplyDataFormatClick(state, fd::ui::kTaskFileRadioIds[FdRadixBinary]);
    fd::ui::ApplyDataFormatClick(state, fd::ui::kDataRadioIds[FdRadixAscii]);

    FdDecoderSettings settings = Defaults();
    fd::ui::SaveDataFormat(state, true, settings);
    EXPECT_EQ(settings.customRadixDisplay, 1);
    EXPECT_EQ(settings.taskFileRadix, 0);
    EXPECT_EQ(settings.dataRadix, 3);

    fd::ui::SaveDataFormat(state, false, settings);  // "Activate" unchecked again
    EXPECT_EQ(settings.customRadixDisplay, 0);
    EXPECT_EQ(settings.taskFileRadix, 0);
    EXPECT_EQ(settings.dataRadix, 3);
    EXPECT_EQ(settings.reserved434, 2);  // the neighbours are not written
    EXPECT_EQ(settings.reserved438, 2);
}

TEST(DataFormat, ActivateEnablesTheTwoRowsAndTheirLabelsButNotItself) {
    EXPECT_EQ(std::ranges::count(fd::ui::kRadixControlIds, fd::ui::kActivateId), 0);
    for (int id : fd::ui::kTaskFileRadioIds) EXPECT_EQ(std::ranges::count(fd::ui::kRadixControlIds, id), 1);
    for (int id : fd::ui::kDataRadioIds) EXPECT_EQ(std::ranges::count(fd::ui::kRadixControlIds, id), 1);
    EXPECT_EQ(std::ranges::count(fd::ui::kRadixControlIds, 1012), 1);
    EXPECT_EQ(std::ranges::count(fd::ui::kRadixControlIds, 1013), 1);
}

}  // namespace
