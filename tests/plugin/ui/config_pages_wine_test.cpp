// The pin assignment dialog, the packet page and the data format page,
// driven for real under Wine through the plug-in's entry table: a driver
// thread clicks and selects while ShowSettingsDialog runs the sheet, and the
// test then looks at what the plug-in stored.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/model/capture_image.h"
#include "plugin/ui/data_format_rules.h"
#include "plugin/ui/packet_page_rows.h"
#include "plugin/ui/pin_assign_rules.h"
#include "tests/plugin/ui/dialog_driver.h"
#include "tests/support/fresh_plugin.h"

namespace {

using fd::host::CaptureImage;
using fd::host::ChannelSpec;
using fd::test::DialogDriver;
using Positions = std::array<int, fd::ui::kPinRoleCount>;

constexpr int kCustomSettings = 15001;
constexpr int kPacketPage = 1;
constexpr int kDataFormatPage = 2;
const std::wstring kMustDiffer = L"Channel must be different";
const std::wstring kChooseRight = L"Please  choose the right channel";

class ConfigPages : public ::testing::Test {
protected:
    fd::test::FreshPlugin plugin;
    const FdEntryTable& t = plugin.table();
    std::unique_ptr<CaptureImage> image;

    // A capture whose channel list holds `listCount` channels "CH<i>"
    // numbered firstNumber + i; `channelCount` overrides what it claims.
    void UseCapture(int listCount, int32_t language = 0, int channelCount = -1, int32_t firstNumber = 100) {
        std::vector<ChannelSpec> specs;
        for (int i = 0; i < listCount; ++i) specs.push_back({"CH" + std::to_string(i), firstNumber + i, {0}});
        image = std::make_unique<CaptureImage>(std::move(specs), 1000);
        image->SetLanguage(language);
        if (channelCount >= 0) image->SetChannelCount(channelCount);
        t.SetCapture(0, image->capture());
    }

    FdDecoderSettings& Live() {
        int32_t size = 0;
        return *t.GetSettings(&size);
    }
    std::array<int32_t, 11> LiveChannels() {
        std::array<int32_t, 11> channels{};
        std::copy(std::begin(Live().channel), std::end(Live().channel), channels.begin());
        return channels;
    }
    void SetLiveChannels(const std::array<int32_t, 11>& channels) {
        std::copy(channels.begin(), channels.end(), Live().channel);
    }

    // Opens the sheet and runs `script` against it.
    void WithSheet(const std::function<void(DialogDriver&, HWND)>& script) {
        fd::test::RunModal([this] { t.ShowSettingsDialog(); },
                           [&](DialogDriver& driver) {
                               HWND sheet = driver.Sheet();
                               if (sheet == nullptr) return ADD_FAILURE() << "the sheet did not open";
                               script(driver, sheet);
                           });
    }
};

// ---------------------------------------------------------------------------
// Pin assignment

// The pin dialog opened from the setup page's "Custom Settings".
HWND OpenPins(DialogDriver& driver, HWND sheet) {
    DialogDriver::PostClick(DialogDriver::Page(sheet), kCustomSettings);
    HWND pins = driver.PinDialog();
    EXPECT_NE(pins, nullptr) << "Custom Settings opened no pin assignment dialog";
    return pins;
}

void WaitClosed(HWND window) {
    for (int attempt = 0; attempt < 500 && IsWindow(window); ++attempt) Sleep(20);
    EXPECT_FALSE(IsWindow(window)) << "the dialog stayed open";
}

Positions Selected(HWND pins) {
    Positions positions{};
    for (int role = 0; role < fd::ui::kPinRoleCount; ++role)
        positions[static_cast<size_t>(role)] = DialogDriver::Selection(pins, fd::ui::kPinBoxIds[role]);
    return positions;
}

constexpr Positions kDefaultPositions = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::array<int32_t, 11> kDefaultChannels = {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::array<int32_t, 11> kFirstElevenNumbers = {100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110};

TEST_F(ConfigPages, PinDialogOpensOnTheDefaultPositionsWithEveryChannelListed) {
    UseCapture(26);
    WithSheet([](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(DialogDriver::Text(pins), L"Pin Assignment");
        // Default settings: DMARQ -1 matches nothing, so all roles start at
        // their defaults, DMARQ on the first channel.
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        EXPECT_EQ(DialogDriver::Selection(pins, fd::ui::kLastDataBoxId), 25);
        EXPECT_FALSE(DialogDriver::Enabled(pins, fd::ui::kLastDataBoxId));
        for (int id : fd::ui::kPinBoxIds) {
            EXPECT_TRUE(DialogDriver::Enabled(pins, id));
            ASSERT_EQ(DialogDriver::Count(pins, id), 26);
            for (int i = 0; i < 26; ++i) EXPECT_EQ(DialogDriver::ItemData(pins, id, i), 100 + i);
        }
        wchar_t name[32] = {};
        SendDlgItemMessageW(pins, fd::ui::kLastDataBoxId, CB_GETLBTEXT, 25, reinterpret_cast<LPARAM>(name));
        EXPECT_EQ(std::wstring(name), L"CH25");
        DialogDriver::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kDefaultChannels);  // Cancel in the pin dialog stored nothing
}

TEST_F(ConfigPages, PinOkRefusesUntilTheSixteenDataLinesFitAndTheSheetOkStores) {
    UseCapture(26);
    WithSheet([this](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        DialogDriver::Select(pins, IDC_PIN_D0, 11);
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D15), 25);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        EXPECT_EQ(driver.AnswerMessageBox(), kMustDiffer);
        EXPECT_TRUE(IsWindow(pins));
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D0), 11);  // the user's choice stays

        DialogDriver::Select(pins, IDC_PIN_D0, 19);
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D15), 25);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        EXPECT_EQ(driver.AnswerMessageBox(), kChooseRight);
        EXPECT_TRUE(IsWindow(pins));

        DialogDriver::Select(pins, IDC_PIN_D0, 10);
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D15), 25);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        EXPECT_FALSE(driver.MessageBoxShown());
        // Stored in the working copy only: the live settings wait for the sheet's OK.
        EXPECT_EQ(LiveChannels(), kDefaultChannels);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kFirstElevenNumbers);
}

TEST_F(ConfigPages, PinOkRefusesAChannelUsedTwice) {
    UseCapture(26);
    struct Case { int boxId, position; } cases[] = {
        {IDC_PIN_A1, 4},    // A0's channel
        {IDC_PIN_IORD, 10}, // D0
        {IDC_PIN_IORD, 17}, // inside the data run
        {IDC_PIN_DMARQ, 25} // D15
    };
    WithSheet([&](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        for (const Case& c : cases) {
            const int before = DialogDriver::Selection(pins, c.boxId);
            DialogDriver::Select(pins, c.boxId, c.position);
            DialogDriver::PostClick(pins, IDC_PIN_OK);
            EXPECT_EQ(driver.AnswerMessageBox(), kMustDiffer) << "box " << c.boxId << " at " << c.position;
            EXPECT_TRUE(IsWindow(pins));
            DialogDriver::Select(pins, c.boxId, before);
        }
        DialogDriver::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kDefaultChannels);
}

TEST_F(ConfigPages, PinDefaultChangesOnlyTheBoxesUntilOk) {
    UseCapture(26);
    // Every role on a channel of its own, D0 on the fifth entry.
    const Positions stored = {20, 21, 22, 23, 24, 25, 0, 1, 2, 3, 4};
    std::array<int32_t, 11> storedNumbers{};
    for (size_t role = 0; role < 11; ++role) storedNumbers[role] = 100 + stored[role];
    SetLiveChannels(storedNumbers);

    WithSheet([&](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), stored);
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D15), 19);
        DialogDriver::SendClick(pins, IDC_PIN_DEFAULT);
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D15), 25);
        DialogDriver::PostClick(pins, IDCANCEL);
        WaitClosed(pins);

        pins = OpenPins(driver, sheet);  // the working copy kept its numbers
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), stored);
        DialogDriver::PostClick(pins, IDC_PIN_DEFAULT);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);

        pins = OpenPins(driver, sheet);  // now it holds the defaults
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        DialogDriver::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        DialogDriver::PressCancel(sheet);
    });
    EXPECT_EQ(LiveChannels(), storedNumbers);  // the sheet's Cancel dropped it

    WithSheet([&](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), stored);  // the live numbers again, not the abandoned ones
        DialogDriver::PostClick(pins, IDC_PIN_DEFAULT);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kFirstElevenNumbers);
}

TEST_F(ConfigPages, PinDialogWalksOnlyTheChannelsTheListHolds) {
    // The capture claims 40 channels but its list holds 26.
    UseCapture(26, 0, 40);
    WithSheet([](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(DialogDriver::Count(pins, IDC_PIN_D0), 26);
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kFirstElevenNumbers);

    // The capture claims 26 but its list holds 20: the data lines cannot fit.
    UseCapture(20, 0, 26);
    WithSheet([](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(DialogDriver::Count(pins, IDC_PIN_D0), 20);
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D15), 19);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        EXPECT_EQ(driver.AnswerMessageBox(), kMustDiffer);
        DialogDriver::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        DialogDriver::PressCancel(sheet);
    });
}

TEST_F(ConfigPages, PinDialogHandlesAListLongerThanAHundredChannels) {
    UseCapture(130);
    WithSheet([](DialogDriver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        DialogDriver::Select(pins, IDC_PIN_D0, 110);
        EXPECT_EQ(DialogDriver::Selection(pins, IDC_PIN_D15), 125);
        DialogDriver::Select(pins, IDC_PIN_DMARQ, 129);
        DialogDriver::Select(pins, IDC_PIN_IORDY, 126);
        DialogDriver::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), (std::array<int32_t, 11>{229, 101, 102, 103, 104, 105, 106, 107, 108, 226, 210}));
}

TEST_F(ConfigPages, PinDialogSpeaksTheCapturesLanguage) {
    struct Case { int32_t language; const wchar_t* caption; const wchar_t* mustDiffer; const wchar_t* chooseRight; } cases[] = {
        {1, L"通道设定", L"信号通道不能一样", L"请选择合适的通道"},
        {2, L"通道設定", L"信號通道不能一樣", L"請選擇合適的通道"},
        {3, L"Pin Assignment", L"Channel must be different", L"Please  choose the right channel"},
    };
    for (const Case& c : cases) {
        UseCapture(26, c.language);
        WithSheet([&](DialogDriver& driver, HWND sheet) {
            HWND pins = OpenPins(driver, sheet);
            if (pins == nullptr) return;
            EXPECT_EQ(DialogDriver::Text(pins), c.caption);
            DialogDriver::Select(pins, IDC_PIN_D0, 11);
            DialogDriver::PostClick(pins, IDC_PIN_OK);
            EXPECT_EQ(driver.AnswerMessageBox(), c.mustDiffer);
            DialogDriver::Select(pins, IDC_PIN_D0, 19);
            DialogDriver::PostClick(pins, IDC_PIN_OK);
            EXPECT_EQ(driver.AnswerMessageBox(), c.chooseRight);
            DialogDriver::PostClick(pins, IDCANCEL);
            WaitClosed(pins);
            DialogDriver::PressCancel(sheet);
        });
    }
}

// ---------------------------------------------------------------------------
// Packet page

TEST_F(ConfigPages, ClearingDataOnThePacketPageHidesBothDataFields) {
    UseCapture(26);
    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kPacketPage);
        for (const fd::ui::PacketRow& row : fd::ui::kPacketRows) {
            EXPECT_EQ(DialogDriver::Check(page, row.checkBoxId), BST_CHECKED) << row.label;
            EXPECT_NE(GetDlgItem(page, row.colourButtonId), nullptr) << row.label;
        }
        DialogDriver::Click(page, IDC_CHECK_DATA);
        EXPECT_EQ(DialogDriver::Check(page, IDC_CHECK_DATA), BST_UNCHECKED);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(t.IsPacketItemShown(4026), 0);
    EXPECT_EQ(t.IsPacketItemShown(4032), 0);
    EXPECT_EQ(t.IsPacketItemShown(4002), 1);
    EXPECT_EQ(t.IsWriteItemShown(), 1);

    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kPacketPage);
        EXPECT_EQ(DialogDriver::Check(page, IDC_CHECK_DATA), BST_UNCHECKED);
        EXPECT_EQ(DialogDriver::Check(page, IDC_CHECK_WRITE), BST_CHECKED);
        DialogDriver::PressCancel(sheet);
    });
}

TEST_F(ConfigPages, OkWithoutShowingThePacketPageLeavesTheTable) {
    UseCapture(26);
    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kPacketPage);
        DialogDriver::Click(page, IDC_CHECK_WRITE);
        DialogDriver::PressOk(sheet);
    });
    ASSERT_EQ(t.IsWriteItemShown(), 0);
    WithSheet([](DialogDriver&, HWND sheet) { DialogDriver::PressOk(sheet); });
    EXPECT_EQ(t.IsWriteItemShown(), 0);
    EXPECT_EQ(t.IsPacketItemShown(4003), 0);
}

TEST_F(ConfigPages, PacketDefaultRestoresChecksAndColoursOnlyOnOk) {
    UseCapture(26);
    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kPacketPage);
        DialogDriver::Click(page, IDC_CHECK_DATA);
        DialogDriver::Click(page, IDC_CHECK_DESCRIBE);
        DialogDriver::PressOk(sheet);
    });
    ASSERT_EQ(t.IsPacketItemShown(4026), 0);

    WithSheet([](DialogDriver&, HWND sheet) {
        DialogDriver::ShowPage(sheet, kPacketPage);
        DialogDriver::PressDefault(sheet);
        DialogDriver::PressCancel(sheet);
    });
    EXPECT_EQ(t.IsPacketItemShown(4026), 0);

    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kPacketPage);
        DialogDriver::PressDefault(sheet);
        for (const fd::ui::PacketRow& row : fd::ui::kPacketRows)
            EXPECT_EQ(DialogDriver::Check(page, row.checkBoxId), BST_CHECKED) << row.label;
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(t.IsPacketItemShown(4026), 1);
    EXPECT_EQ(t.IsPacketItemShown(4032), 1);
    for (const auto& [id, colour] : {std::pair{4026, 0x33CC33}, {4002, 0xFD7D3C}, {4031, 0x2DBE73}}) {
        int32_t shown = -1;
        t.GetPacketItemColour(id, &shown);
        EXPECT_EQ(shown, colour) << id;
    }
}

// ---------------------------------------------------------------------------
// Data format page

TEST_F(ConfigPages, DataFormatActivateAndTwoIndependentRowsReachTheRadixSlots) {
    UseCapture(26);
    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kDataFormatPage);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_ACTIVATE), BST_UNCHECKED);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_TASK_HEX), BST_CHECKED);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_DATA_HEX), BST_CHECKED);
        for (int id : fd::ui::kRadixControlIds) EXPECT_FALSE(DialogDriver::Enabled(page, id)) << id;
        EXPECT_TRUE(DialogDriver::Enabled(page, IDC_FORMAT_ACTIVATE));

        DialogDriver::Click(page, IDC_FORMAT_ACTIVATE);
        for (int id : fd::ui::kRadixControlIds) EXPECT_TRUE(DialogDriver::Enabled(page, id)) << id;
        DialogDriver::Click(page, IDC_FORMAT_TASK_BINARY);
        DialogDriver::Click(page, IDC_FORMAT_DATA_ASCII);
        for (int radix = 0; radix < 4; ++radix) {
            EXPECT_EQ(DialogDriver::Check(page, fd::ui::kTaskFileRadioIds[radix]), radix == 0 ? 1 : 0);
            EXPECT_EQ(DialogDriver::Check(page, fd::ui::kDataRadioIds[radix]), radix == 3 ? 1 : 0);
        }
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(Live().customRadixDisplay, 1);
    EXPECT_EQ(Live().taskFileRadix, 0);
    EXPECT_EQ(Live().dataRadix, 3);

    FdRadixCounters counters{};
    t.CountRadixFields(&counters);
    EXPECT_EQ(counters.customRadixDisplay, 1);
    EXPECT_EQ(counters.count[0], 21);
    EXPECT_EQ(counters.count[3], 2);
    FdRadixLists lists{};
    t.FillRadixLists(&lists);
    EXPECT_EQ(lists.list[0].last - lists.list[0].first, 21);
    ASSERT_EQ(lists.list[3].last - lists.list[3].first, 2);
    EXPECT_EQ(lists.list[3].first[0], 4026);
    EXPECT_EQ(lists.list[2].last, lists.list[2].first);
    for (auto& list : lists.list) std::free(list.first);

    // Unchecking "Activate" keeps the chosen radices.
    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kDataFormatPage);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_ACTIVATE), BST_CHECKED);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_TASK_BINARY), BST_CHECKED);
        DialogDriver::Click(page, IDC_FORMAT_ACTIVATE);
        for (int id : fd::ui::kRadixControlIds) EXPECT_FALSE(DialogDriver::Enabled(page, id)) << id;
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(Live().customRadixDisplay, 0);
    EXPECT_EQ(Live().taskFileRadix, 0);
    EXPECT_EQ(Live().dataRadix, 3);
}

TEST_F(ConfigPages, DataFormatShowsAStrangeRadixAsHexadecimalAndWritesItBack) {
    UseCapture(26);
    Live().taskFileRadix = 7;
    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kDataFormatPage);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_TASK_HEX), BST_CHECKED);
        DialogDriver::Click(page, IDC_FORMAT_ACTIVATE);
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(Live().taskFileRadix, 7);
    EXPECT_EQ(Live().customRadixDisplay, 1);
}

TEST_F(ConfigPages, DataFormatDefaultResetsThePageAndOkStoresIt) {
    UseCapture(26);
    Live().customRadixDisplay = 1;
    Live().taskFileRadix = 0;
    Live().dataRadix = 3;
    WithSheet([](DialogDriver&, HWND sheet) { DialogDriver::PressOk(sheet); });  // page never shown
    EXPECT_EQ(Live().customRadixDisplay, 1);
    EXPECT_EQ(Live().dataRadix, 3);

    WithSheet([](DialogDriver&, HWND sheet) {
        HWND page = DialogDriver::ShowPage(sheet, kDataFormatPage);
        DialogDriver::PressDefault(sheet);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_ACTIVATE), BST_UNCHECKED);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_TASK_HEX), BST_CHECKED);
        EXPECT_EQ(DialogDriver::Check(page, IDC_FORMAT_DATA_HEX), BST_CHECKED);
        for (int id : fd::ui::kRadixControlIds) EXPECT_FALSE(DialogDriver::Enabled(page, id)) << id;
        DialogDriver::PressOk(sheet);
    });
    EXPECT_EQ(Live().customRadixDisplay, 0);
    EXPECT_EQ(Live().taskFileRadix, 2);
    EXPECT_EQ(Live().dataRadix, 2);
}

}  // namespace
