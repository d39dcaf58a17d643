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
    const fd::DataFormatState state = fd::LoadDataFormat(Defaults());
    EXPECT_FALSE(state.active);
    EXPECT_EQ(fd::ShownRadix(state.taskFileChoice), FdRadixHexadecimal);
    EXPECT_EQ(fd::ShownRadix(state.dataChoice), FdRadixHexadecimal);
    const fd::DataFormatState restored = fd::RestoredDataFormat();
    EXPECT_EQ(restored.active, state.active);
    EXPECT_EQ(restored.taskFileChoice, state.taskFileChoice);
    EXPECT_EQ(restored.dataChoice, state.dataChoice);
}

TEST(DataFormat, AChoiceOutsideZeroToThreeShowsHexadecimalAndIsWrittenBack) {
    struct Case { int16_t choice; int shown; } cases[] = {
        {0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 2}, {7, 2}, {-1, 2}, {INT16_MIN, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(fd::ShownRadix(c.choice), c.shown) << c.choice;

    FdDecoderSettings settings = Defaults();
    settings.taskFileRadix = 7;
    settings.customRadixDisplay = 5;  // any non-zero value is on
    const fd::DataFormatState state = fd::LoadDataFormat(settings);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(state.taskFileChoice, 7);
    FdDecoderSettings saved = Defaults();
    fd::SaveDataFormat(state, true, saved);
    EXPECT_EQ(saved.taskFileRadix, 7);
    EXPECT_EQ(saved.customRadixDisplay, 1);
}

TEST(DataFormat, ARadioButtonChangesOnlyItsOwnRow) {
    fd::DataFormatState state = fd::LoadDataFormat(Defaults());
    for (int16_t radix = 0; radix < 4; ++radix) {
        EXPECT_EQ(fd::ApplyDataFormatClick(state, fd::kDataRadioIds[radix]), fd::DataFormatChange::Data);
        EXPECT_EQ(state.dataChoice, radix);
        EXPECT_EQ(state.taskFileChoice, FdRadixHexadecimal);
    }
    for (int16_t radix = 0; radix < 4; ++radix) {
        EXPECT_EQ(fd::ApplyDataFormatClick(state, fd::kTaskFileRadioIds[radix]), fd::DataFormatChange::TaskFile);
        EXPECT_EQ(state.taskFileChoice, radix);
        EXPECT_EQ(state.dataChoice, FdRadixAscii);
    }
    EXPECT_FALSE(state.active);
    EXPECT_EQ(fd::ApplyDataFormatClick(state, fd::kActivateId), fd::DataFormatChange::Active);
    EXPECT_TRUE(state.active);
    EXPECT_EQ(fd::ApplyDataFormatClick(state, fd::kActivateId), fd::DataFormatChange::Active);
    EXPECT_FALSE(state.active);
    EXPECT_EQ(fd::ApplyDataFormatClick(state, 1013), fd::DataFormatChange::None);  // a row label
    EXPECT_EQ(state.taskFileChoice, FdRadixAscii);
}

TEST(DataFormat, SaveKeepsTheRadicesWhetherOrNotActive) {
    fd::DataFormatState state = fd::LoadDataFormat(Defaults());
    fd::ApplyDataFormatClick(state, fd::kActivateId);
    fd::ApplyDataFormatClick(state, fd::kTaskFileRadioIds[FdRadixBinary]);
    fd::ApplyDataFormatClick(state, fd::kDataRadioIds[FdRadixAscii]);

    FdDecoderSettings settings = Defaults();
    fd::SaveDataFormat(state, true, settings);
    EXPECT_EQ(settings.customRadixDisplay, 1);
    EXPECT_EQ(settings.taskFileRadix, 0);
    EXPECT_EQ(settings.dataRadix, 3);

    fd::SaveDataFormat(state, false, settings);  // "Activate" unchecked again
    EXPECT_EQ(settings.customRadixDisplay, 0);
    EXPECT_EQ(settings.taskFileRadix, 0);
    EXPECT_EQ(settings.dataRadix, 3);
    EXPECT_EQ(settings.reserved434, 2);  // the neighbours are not written
    EXPECT_EQ(settings.reserved438, 2);
}

TEST(DataFormat, ActivateEnablesTheTwoRowsAndTheirLabelsButNotItself) {
    EXPECT_EQ(std::ranges::count(fd::kRadixControlIds, fd::kActivateId), 0);
    for (int id : fd::kTaskFileRadioIds) EXPECT_EQ(std::ranges::count(fd::kRadixControlIds, id), 1);
    for (int id : fd::kDataRadioIds) EXPECT_EQ(std::ranges::count(fd::kRadixControlIds, id), 1);
    EXPECT_EQ(std::ranges::count(fd::kRadixControlIds, 1012), 1);
    EXPECT_EQ(std::ranges::count(fd::kRadixControlIds, 1013), 1);
}

}  // namespace
