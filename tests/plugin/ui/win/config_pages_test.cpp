// The pin assignment dialog, the packet page and the data format page,
// driven for real under Wine through the plug-in's entry table: a driver
// thread clicks and selects while ShowSettingsDialog runs the sheet, and the
// test then looks at what the plug-in stored.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/model/capture_image.h"
#include "plugin/ui/data_format_rules.h"
#include "plugin/ui/packet_page_rows.h"
#include "plugin/ui/pin_assign_rules.h"
#include "tests/plugin/ui/win/ui_driver.h"
#include "tests/support/fresh_plugin.h"

namespace {

using fd::host::CaptureImage;
using fd::host::ChannelSpec;
using fd::test::ui::Driver;
using Positions = std::array<int, fd::ui::kPinRoleCount>;

// Actions and reads on top of the shared driver. Clicks that may open or
// close something modal are posted (ui::PostClick); everything else is sent,
// so it has run when the call returns (a sent message overtakes posted ones).
struct Controls {
    static HWND Page(HWND sheet) {
        return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    }
    static HWND ShowPage(HWND sheet, int index) {
        SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
        return Page(sheet);
    }
    static void PostClick(HWND dialog, int id) { fd::test::ui::PostClick(dialog, id); }
    static void SendClick(HWND dialog, int id) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    // BM_CLICK on the control itself: check boxes toggle, radio buttons select.
    static void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
    static void Select(HWND dialog, int comboId, int index) {
        HWND combo = GetDlgItem(dialog, comboId);
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    }
    static int Selection(HWND dialog, int comboId) {
        return static_cast<int>(SendDlgItemMessageW(dialog, comboId, CB_GETCURSEL, 0, 0));
    }
    static int Count(HWND dialog, int comboId) {
        return static_cast<int>(SendDlgItemMessageW(dialog, comboId, CB_GETCOUNT, 0, 0));
    }
    static LRESULT ItemData(HWND dialog, int comboId, int index) {
        return SendDlgItemMessageW(dialog, comboId, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    }
    static int Check(HWND dialog, int id) {
        return static_cast<int>(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0));
    }
    static bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    static std::wstring Text(HWND window) { return fd::test::ui::Text(window); }
    static void PressOk(HWND sheet) { PostClick(sheet, IDOK); }
    static void PressCancel(HWND sheet) { PostClick(sheet, IDCANCEL); }
    static void PressDefault(HWND sheet) { SendClick(sheet, 0x3021); }
};

// The next message box's text, answered with OK; waits until it is gone so
// the next action reaches its owner.
std::wstring AnswerMessageBox(Driver& driver, std::wstring* title = nullptr) {
    HWND box = driver.WaitForMessageBox();
    if (box == nullptr) return L"(no message box)";
    const std::wstring text = fd::test::ui::ItemText(box, 0xFFFF);
    if (title != nullptr) *title = fd::test::ui::Text(box);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    driver.WaitGone(box);
    return text;
}

bool MessageBoxShown(const Driver& driver) {
    for (HWND window : driver.Windows())
        if (IsWindowVisible(window) && Driver::IsMessageBox(window)) return true;
    return false;
}

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
    void WithSheet(const std::function<void(Driver&, HWND)>& script) {
        fd::test::ui::RunDriven(
            [&](Driver& driver) {
                HWND sheet = driver.WaitForSheet();
                if (sheet == nullptr) return ADD_FAILURE() << "the sheet did not open";
                script(driver, sheet);
            },
            [this] { t.ShowSettingsDialog(); });
    }
};

// ---------------------------------------------------------------------------
// Pin assignment

// The pin dialog opened from the setup page's "Custom Settings".
HWND OpenPins(Driver& driver, HWND sheet) {
    Controls::PostClick(Controls::Page(sheet), kCustomSettings);
    HWND pins = driver.WaitFor([](HWND window) { return GetDlgItem(window, IDC_PIN_D0) != nullptr; });
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
        positions[static_cast<size_t>(role)] = Controls::Selection(pins, fd::ui::kPinBoxIds[role]);
    return positions;
}

constexpr Positions kDefaultPositions = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::array<int32_t, 11> kDefaultChannels = {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::array<int32_t, 11> kFirstElevenNumbers = {100, 101, 102, 103, 104, 105,
                                                         106, 107, 108, 109, 110};

TEST_F(ConfigPages, PinDialogOpensOnTheDefaultPositionsWithEveryChannelListed) {
    UseCapture(26);
    WithSheet([](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(Controls::Text(pins), L"Pin Assignment");
        // Default settings: DMARQ -1 matches nothing, so all roles start at
        // their defaults, DMARQ on the first channel.
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        EXPECT_EQ(Controls::Selection(pins, fd::ui::kLastDataBoxId), 25);
        EXPECT_FALSE(Controls::Enabled(pins, fd::ui::kLastDataBoxId));
        for (int id : fd::ui::kPinBoxIds) {
            EXPECT_TRUE(Controls::Enabled(pins, id));
            ASSERT_EQ(Controls::Count(pins, id), 26);
            for (int i = 0; i < 26; ++i) EXPECT_EQ(Controls::ItemData(pins, id, i), 100 + i);
        }
        wchar_t name[32] = {};
        SendDlgItemMessageW(pins, fd::ui::kLastDataBoxId, CB_GETLBTEXT, 25, reinterpret_cast<LPARAM>(name));
        EXPECT_EQ(std::wstring(name), L"CH25");
        Controls::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kDefaultChannels);  // Cancel in the pin dialog stored nothing
}

TEST_F(ConfigPages, PinOkRefusesUntilTheSixteenDataLinesFitAndTheSheetOkStores) {
    UseCapture(26);
    WithSheet([this](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        Controls::Select(pins, IDC_PIN_D0, 11);
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D15), 25);
        Controls::PostClick(pins, IDC_PIN_OK);
        EXPECT_EQ(AnswerMessageBox(driver), kMustDiffer);
        EXPECT_TRUE(IsWindow(pins));
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D0), 11);  // the user's choice stays
        Controls::PostClick(pins, IDOK);  // Enter without a default button: validated too
        EXPECT_EQ(AnswerMessageBox(driver), kMustDiffer);
        EXPECT_TRUE(IsWindow(pins));

        Controls::Select(pins, IDC_PIN_D0, 19);
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D15), 25);
        Controls::PostClick(pins, IDC_PIN_OK);
        EXPECT_EQ(AnswerMessageBox(driver), kChooseRight);
        EXPECT_TRUE(IsWindow(pins));

        Controls::Select(pins, IDC_PIN_D0, 10);
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D15), 25);
        Controls::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        EXPECT_FALSE(MessageBoxShown(driver));
        // Stored in the working copy only: the live settings wait for the sheet's OK.
        EXPECT_EQ(LiveChannels(), kDefaultChannels);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kFirstElevenNumbers);
}

TEST_F(ConfigPages, ThePinChoiceIsWhatTheNextDecodeBindsBy) {
    UseCapture(26);
    WithSheet([](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        Controls::Select(pins, IDC_PIN_DMARQ, 25);
        Controls::Select(pins, IDC_PIN_D0, 0);
        Controls::Select(pins, IDC_PIN_DMACK, 16);
        Controls::Select(pins, IDC_PIN_CS1, 17);
        Controls::Select(pins, IDC_PIN_CS0, 18);
        Controls::Select(pins, IDC_PIN_A0, 19);
        Controls::Select(pins, IDC_PIN_A1, 20);
        Controls::Select(pins, IDC_PIN_A2, 21);
        Controls::Select(pins, IDC_PIN_IORD, 22);
        Controls::Select(pins, IDC_PIN_IOWR, 23);
        Controls::Select(pins, IDC_PIN_IORDY, 24);
        Controls::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        Controls::PressOk(sheet);
    });
    const std::array<int32_t, 11> chosen = {125, 116, 117, 118, 119, 120, 121, 122, 123, 124, 100};
    EXPECT_EQ(LiveChannels(), chosen);
    // Every number names a channel of the capture, so the decode binds by
    // them and has nothing to write back.
    t.Decode();
    EXPECT_EQ(LiveChannels(), chosen);
}

TEST_F(ConfigPages, PinOkRefusesAChannelUsedTwice) {
    UseCapture(26);
    struct Case {
        int boxId, position;
    } cases[] = {
        {IDC_PIN_A1, 4},     // A0's channel
        {IDC_PIN_IORD, 10},  // D0
        {IDC_PIN_IORD, 17},  // inside the data run
        {IDC_PIN_DMARQ, 25}  // D15
    };
    WithSheet([&](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        for (const Case& c : cases) {
            const int before = Controls::Selection(pins, c.boxId);
            Controls::Select(pins, c.boxId, c.position);
            Controls::PostClick(pins, IDC_PIN_OK);
            EXPECT_EQ(AnswerMessageBox(driver), kMustDiffer) << "box " << c.boxId << " at " << c.position;
            EXPECT_TRUE(IsWindow(pins));
            Controls::Select(pins, c.boxId, before);
        }
        Controls::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        Controls::PressOk(sheet);
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

    WithSheet([&](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), stored);
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D15), 19);
        Controls::SendClick(pins, IDC_PIN_DEFAULT);
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D15), 25);
        Controls::PostClick(pins, IDCANCEL);
        WaitClosed(pins);

        pins = OpenPins(driver, sheet);  // the working copy kept its numbers
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), stored);
        Controls::PostClick(pins, IDC_PIN_DEFAULT);
        Controls::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);

        pins = OpenPins(driver, sheet);  // now it holds the defaults
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        Controls::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        Controls::PressCancel(sheet);
    });
    EXPECT_EQ(LiveChannels(), storedNumbers);  // the sheet's Cancel dropped it

    WithSheet([&](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(Selected(pins), stored);  // the live numbers again, not the abandoned ones
        Controls::PostClick(pins, IDC_PIN_DEFAULT);
        Controls::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kFirstElevenNumbers);
}

TEST_F(ConfigPages, PinDialogWalksOnlyTheChannelsTheListHolds) {
    // The capture claims 40 channels but its list holds 26.
    UseCapture(26, 0, 40);
    WithSheet([](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(Controls::Count(pins, IDC_PIN_D0), 26);
        EXPECT_EQ(Selected(pins), kDefaultPositions);
        Controls::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(), kFirstElevenNumbers);

    // The capture claims 26 but its list holds 20: the data lines cannot fit.
    UseCapture(20, 0, 26);
    WithSheet([](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        EXPECT_EQ(Controls::Count(pins, IDC_PIN_D0), 20);
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D15), 19);
        Controls::PostClick(pins, IDC_PIN_OK);
        EXPECT_EQ(AnswerMessageBox(driver), kMustDiffer);
        Controls::PostClick(pins, IDCANCEL);
        WaitClosed(pins);
        Controls::PressCancel(sheet);
    });
}

TEST_F(ConfigPages, PinDialogHandlesAListLongerThanAHundredChannels) {
    UseCapture(130);
    WithSheet([](Driver& driver, HWND sheet) {
        HWND pins = OpenPins(driver, sheet);
        if (pins == nullptr) return;
        Controls::Select(pins, IDC_PIN_D0, 110);
        EXPECT_EQ(Controls::Selection(pins, IDC_PIN_D15), 125);
        Controls::Select(pins, IDC_PIN_DMARQ, 129);
        Controls::Select(pins, IDC_PIN_IORDY, 126);
        Controls::PostClick(pins, IDC_PIN_OK);
        WaitClosed(pins);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(LiveChannels(),
              (std::array<int32_t, 11>{229, 101, 102, 103, 104, 105, 106, 107, 108, 226, 210}));
}

TEST_F(ConfigPages, PinDialogSpeaksTheCapturesLanguage) {
    struct Case {
        int32_t language;
        const wchar_t* caption;
        const wchar_t* mustDiffer;
        const wchar_t* chooseRight;
    } cases[] = {
        {1, L"通道设定", L"信号通道不能一样", L"请选择合适的通道"},
        {2, L"通道設定", L"信號通道不能一樣", L"請選擇合適的通道"},
        {3, L"Pin Assignment", L"Channel must be different", L"Please  choose the right channel"},
    };
    for (const Case& c : cases) {
        UseCapture(26, c.language);
        WithSheet([&](Driver& driver, HWND sheet) {
            HWND pins = OpenPins(driver, sheet);
            if (pins == nullptr) return;
            EXPECT_EQ(Controls::Text(pins), c.caption);
            Controls::Select(pins, IDC_PIN_D0, 11);
            Controls::PostClick(pins, IDC_PIN_OK);
            std::wstring title;
            EXPECT_EQ(AnswerMessageBox(driver, &title), c.mustDiffer);
            EXPECT_EQ(title, c.caption);
            Controls::Select(pins, IDC_PIN_D0, 19);
            Controls::PostClick(pins, IDC_PIN_OK);
            EXPECT_EQ(AnswerMessageBox(driver), c.chooseRight);
            Controls::PostClick(pins, IDCANCEL);
            WaitClosed(pins);
            Controls::PressCancel(sheet);
        });
    }
}

// ---------------------------------------------------------------------------
// Packet page

TEST_F(ConfigPages, ClearingDataOnThePacketPageHidesBothDataFields) {
    UseCapture(26);
    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kPacketPage);
        for (const fd::ui::PacketRow& row : fd::ui::kPacketRows) {
            EXPECT_EQ(Controls::Check(page, row.checkBoxId), BST_CHECKED) << fd::ui::RowLabel(row);
            EXPECT_NE(GetDlgItem(page, row.colourButtonId), nullptr) << fd::ui::RowLabel(row);
        }
        Controls::Click(page, IDC_CHECK_DATA);
        EXPECT_EQ(Controls::Check(page, IDC_CHECK_DATA), BST_UNCHECKED);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(t.IsPacketItemShown(4026), 0);
    EXPECT_EQ(t.IsPacketItemShown(4032), 0);
    EXPECT_EQ(t.IsPacketItemShown(4002), 1);
    EXPECT_EQ(t.IsWriteItemShown(), 1);

    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kPacketPage);
        EXPECT_EQ(Controls::Check(page, IDC_CHECK_DATA), BST_UNCHECKED);
        EXPECT_EQ(Controls::Check(page, IDC_CHECK_WRITE), BST_CHECKED);
        Controls::PressCancel(sheet);
    });
}

TEST_F(ConfigPages, OkWithoutShowingThePacketPageLeavesTheTable) {
    UseCapture(26);
    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kPacketPage);
        Controls::Click(page, IDC_CHECK_WRITE);
        Controls::PressOk(sheet);
    });
    ASSERT_EQ(t.IsWriteItemShown(), 0);
    WithSheet([](Driver&, HWND sheet) { Controls::PressOk(sheet); });
    EXPECT_EQ(t.IsWriteItemShown(), 0);
    EXPECT_EQ(t.IsPacketItemShown(4003), 0);
}

TEST_F(ConfigPages, PacketDefaultRestoresChecksAndColoursOnlyOnOk) {
    UseCapture(26);
    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kPacketPage);
        Controls::Click(page, IDC_CHECK_DATA);
        Controls::Click(page, IDC_CHECK_DESCRIBE);
        Controls::PressOk(sheet);
    });
    ASSERT_EQ(t.IsPacketItemShown(4026), 0);

    WithSheet([](Driver&, HWND sheet) {
        Controls::ShowPage(sheet, kPacketPage);
        Controls::PressDefault(sheet);
        Controls::PressCancel(sheet);
    });
    EXPECT_EQ(t.IsPacketItemShown(4026), 0);

    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kPacketPage);
        Controls::PressDefault(sheet);
        for (const fd::ui::PacketRow& row : fd::ui::kPacketRows)
            EXPECT_EQ(Controls::Check(page, row.checkBoxId), BST_CHECKED) << fd::ui::RowLabel(row);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(t.IsPacketItemShown(4026), 1);
    EXPECT_EQ(t.IsPacketItemShown(4032), 1);
    for (const auto& [id, colour] : {std::pair{4026, 0x33CC33}, {4002, 0xFD7D3C}, {4031, 0x2DBE73}}) {
        int32_t shown = -1;
        t.GetPacketItemColour(id, &shown);
        EXPECT_EQ(shown, colour) << id;
    }
}

// Opens the chooser from a colour button, picks `colour` and presses OK.
bool Choose(Driver& driver, HWND button, uint32_t colour) {
    fd::test::ui::PostMouseClick(button);
    HWND chooser = driver.WaitForChooser();
    if (chooser == nullptr) return false;
    SetDlgItemInt(chooser, 706, colour & 0xFF, FALSE);
    SetDlgItemInt(chooser, 707, (colour >> 8) & 0xFF, FALSE);
    SetDlgItemInt(chooser, 708, (colour >> 16) & 0xFF, FALSE);
    fd::test::ui::PostClick(chooser, IDOK);
    return driver.WaitGone(chooser);
}

uint32_t Swatch(HWND button) {
    const fd::test::ui::Pixels pixels = fd::test::ui::Capture(button);
    return pixels.at(pixels.width / 4, pixels.height / 2);
}

TEST_F(ConfigPages, PacketColoursChosenAreStoredShownAgainAndRestoredByDefault) {
    UseCapture(26);
    WithSheet([](Driver& driver, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kPacketPage);
        EXPECT_EQ(Swatch(GetDlgItem(page, IDC_BUTTON_DATA)), 0x33CC33u);
        EXPECT_TRUE(Choose(driver, GetDlgItem(page, IDC_BUTTON_DATA), 0x123456));
        EXPECT_TRUE(Choose(driver, GetDlgItem(page, IDC_BUTTON_DESCRIBE), 0x0000FF));
        Controls::PressOk(sheet);
    });
    for (int32_t id : {4026, 4032}) {
        int32_t colour = 0;
        t.GetPacketItemColour(id, &colour);
        EXPECT_EQ(colour, 0x123456) << id;
    }

    // DESCRIBE has no query of its own: the page shows it again.
    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kPacketPage);
        EXPECT_EQ(Swatch(GetDlgItem(page, IDC_BUTTON_DATA)), 0x123456u);
        EXPECT_EQ(Swatch(GetDlgItem(page, IDC_BUTTON_DESCRIBE)), 0x0000FFu);
        Controls::PressDefault(sheet);
        EXPECT_EQ(Swatch(GetDlgItem(page, IDC_BUTTON_DESCRIBE)), 0xFF0505u);
        Controls::PressOk(sheet);
    });
    int32_t colour = 0;
    t.GetPacketItemColour(4026, &colour);
    EXPECT_EQ(colour, 0x33CC33);
}

// ---------------------------------------------------------------------------
// Data format page

TEST_F(ConfigPages, DataFormatActivateAndTwoIndependentRowsReachTheRadixSlots) {
    UseCapture(26);
    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kDataFormatPage);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_ACTIVATE), BST_UNCHECKED);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_TASK_HEX), BST_CHECKED);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_DATA_HEX), BST_CHECKED);
        for (int id : fd::ui::kRadixControlIds) EXPECT_FALSE(Controls::Enabled(page, id)) << id;
        EXPECT_TRUE(Controls::Enabled(page, IDC_FORMAT_ACTIVATE));

        Controls::Click(page, IDC_FORMAT_ACTIVATE);
        for (int id : fd::ui::kRadixControlIds) EXPECT_TRUE(Controls::Enabled(page, id)) << id;
        Controls::Click(page, IDC_FORMAT_TASK_BINARY);
        Controls::Click(page, IDC_FORMAT_DATA_ASCII);
        for (int radix = 0; radix < 4; ++radix) {
            EXPECT_EQ(Controls::Check(page, fd::ui::kTaskFileRadioIds[radix]), radix == 0 ? 1 : 0);
            EXPECT_EQ(Controls::Check(page, fd::ui::kDataRadioIds[radix]), radix == 3 ? 1 : 0);
        }
        Controls::PressOk(sheet);
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
    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kDataFormatPage);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_ACTIVATE), BST_CHECKED);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_TASK_BINARY), BST_CHECKED);
        Controls::Click(page, IDC_FORMAT_ACTIVATE);
        for (int id : fd::ui::kRadixControlIds) EXPECT_FALSE(Controls::Enabled(page, id)) << id;
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(Live().customRadixDisplay, 0);
    EXPECT_EQ(Live().taskFileRadix, 0);
    EXPECT_EQ(Live().dataRadix, 3);
}

TEST_F(ConfigPages, DataFormatShowsAStrangeRadixAsHexadecimalAndWritesItBack) {
    UseCapture(26);
    Live().taskFileRadix = 7;
    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kDataFormatPage);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_TASK_HEX), BST_CHECKED);
        Controls::Click(page, IDC_FORMAT_ACTIVATE);
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(Live().taskFileRadix, 7);
    EXPECT_EQ(Live().customRadixDisplay, 1);
}

TEST_F(ConfigPages, DataFormatDefaultResetsThePageAndOkStoresIt) {
    UseCapture(26);
    Live().customRadixDisplay = 1;
    Live().taskFileRadix = 0;
    Live().dataRadix = 3;
    WithSheet([](Driver&, HWND sheet) { Controls::PressOk(sheet); });  // page never shown
    EXPECT_EQ(Live().customRadixDisplay, 1);
    EXPECT_EQ(Live().dataRadix, 3);

    WithSheet([](Driver&, HWND sheet) {
        HWND page = Controls::ShowPage(sheet, kDataFormatPage);
        Controls::PressDefault(sheet);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_ACTIVATE), BST_UNCHECKED);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_TASK_HEX), BST_CHECKED);
        EXPECT_EQ(Controls::Check(page, IDC_FORMAT_DATA_HEX), BST_CHECKED);
        for (int id : fd::ui::kRadixControlIds) EXPECT_FALSE(Controls::Enabled(page, id)) << id;
        Controls::PressOk(sheet);
    });
    EXPECT_EQ(Live().customRadixDisplay, 0);
    EXPECT_EQ(Live().taskFileRadix, 2);
    EXPECT_EQ(Live().dataRadix, 2);
}

}  // namespace
