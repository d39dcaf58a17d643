// ShowSettingsDialog under Wine, driven from inside the process through the
// entry table of the real plug-in: the refusal, the sheet's captions per
// language, colours chosen and stored, Cancel, Default, Help, and the colour
// button's paint.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/model/capture_image.h"
#include "tests/plugin/ui/win/ui_driver.h"
#include "tests/support/fresh_plugin.h"

namespace {

using fd::host::CaptureImage;
using fd::host::ChannelSpec;
using namespace fd::test::ui;

constexpr int kColourRead = 1023;  // first colour button
constexpr int kApply = 12321;      // "Default"
constexpr int kHelp = 9;

CaptureImage MakeCapture(int channels, int32_t language, std::string busName = "CF4.1") {
    std::vector<ChannelSpec> specs;
    for (int i = 0; i < channels; ++i) specs.push_back({"CH" + std::to_string(i), i, {0}});
    CaptureImage image(std::move(specs), 1000, std::move(busName));
    image.SetLanguage(language);
    return image;
}

class SettingsDialog : public ::testing::Test {
protected:
    fd::test::FreshPlugin plugin;
    const FdEntryTable& t = plugin.table();

    void Open(CaptureImage& capture) { t.SetCapture(0, capture.capture()); }

    FdDecoderSettings& Live() {
        int32_t size = 0;
        return *t.GetSettings(&size);
    }
    std::vector<uint8_t> Bytes() {
        std::vector<uint8_t> bytes(FD_SETTINGS_SIZE);
        t.CopySettings(bytes.data(), FD_SETTINGS_SIZE);
        return bytes;
    }
    std::vector<uint32_t> FieldColours() {
        std::vector<uint32_t> colours;
        for (int i = 0; i < t.GetFieldTypeCount(); ++i) {
            uint32_t colour = 0;
            t.GetFieldType(i, nullptr, &colour, nullptr, nullptr);
            colours.push_back(colour);
        }
        return colours;
    }
    uint32_t FieldColour(int32_t id) {
        for (int i = 0; i < t.GetFieldTypeCount(); ++i) {
            int32_t entryId = 0;
            uint32_t colour = 0;
            t.GetFieldType(i, &entryId, &colour, nullptr, nullptr);
            if (entryId == id) return colour;
        }
        return 0xFFFFFFFF;
    }
    void Show(const std::function<void(Driver&)>& script) {
        RunDriven(script, [this] { t.ShowSettingsDialog(); });
    }
};

HWND CurrentPage(HWND sheet) {
    return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
}

// Opens the chooser from the button, picks `colour` (0x00BBGGRR) and
// presses OK. Returns false when a step failed.
bool ChooseThroughChooser(Driver& d, HWND button, uint32_t colour, bool* sunkenWhileOpen = nullptr) {
    PostMouseClick(button);
    HWND chooser = d.WaitForChooser();
    if (chooser == nullptr) return false;
    if (sunkenWhileOpen != nullptr) {
        const Pixels p = Capture(button);
        *sunkenWhileOpen = p.at(0, p.height / 2) == 0x000000 && p.at(p.width - 1, p.height / 2) == 0xFFFFFF;
    }
    SetDlgItemInt(chooser, 706, colour & 0xFF, FALSE);
    SetDlgItemInt(chooser, 707, (colour >> 8) & 0xFF, FALSE);
    SetDlgItemInt(chooser, 708, (colour >> 16) & 0xFF, FALSE);
    PostClick(chooser, IDOK);
    return d.WaitGone(chooser);
}

// --- refusal -----------------------------------------------------------------

TEST_F(SettingsDialog, FewerThan26ChannelsRefusesInTheCapturesLanguageAndOpensNoSheet) {
    struct Case {
        int32_t language;
        const wchar_t *text, *title;
    };
    const Case cases[] = {
        {0, L"The subitem must be more than twenty-five of the protocol analyzer",
         L"DAVARIVA VUVODUDE VE4.1 SETUP:CF4.1"},
        {3, L"The subitem must be more than twenty-five of the protocol analyzer",
         L"DAVARIVA VUVODUDE VE4.1 SETUP:CF4.1"},
        {1, L"并行协定的子项必须大于25", L"并行协定CF4.1分析:CF4.1"},
        {2, L"並列協定的子項必須大於25", L"並列協定CF4.1分析:CF4.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        CaptureImage capture = MakeCapture(25, c.language);
        Open(capture);
        const std::vector<uint8_t> before = Bytes();
        std::wstring text, title;
        bool sheetSeen = false;
        Show([&](Driver& d) {
            HWND box = d.WaitForMessageBox();
            if (box == nullptr) return;
            text = ItemText(box, 0xFFFF);
            title = Text(box);
            for (HWND w : d.Windows()) sheetSeen = sheetSeen || Driver::IsSheet(w);
            EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
            EXPECT_EQ(GetDlgItem(box, IDCANCEL), nullptr);
            PostClick(box, IDOK);
        });
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(title, c.title);
        EXPECT_FALSE(sheetSeen);
        EXPECT_EQ(Bytes(), before);
    }
}

// --- captions ----------------------------------------------------------------

TEST_F(SettingsDialog, SheetAndButtonCaptionsFollowTheCapturesLanguage) {
    struct Case {
        int32_t language;
        const wchar_t *caption, *tab, *ok, *cancel, *defaults, *help;
    };
    const Case cases[] = {
        {0, L"DAVARIVA VUVODUDE VE4.1 SETUP:BUS-7", L"Configuration", L"OK", L"Cancel", L"Default", L"Help"},
        {1, L"并行协定CF4.1分析:BUS-7", L"设定", L"确定", L"取消", L"默认值", L"帮助"},
        {2, L"並列協定CF4.1分析:BUS-7", L"設定", L"確定", L"取消", L"預設值", L"說明"},
        {3, L"DAVARIVA VUVODUDE VE4.1 SETUP:BUS-7", L"Configuration", L"OK", L"Cancel", L"Default", L"Help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        CaptureImage capture = MakeCapture(26, c.language, "BUS-7");
        Open(capture);
        Show([&](Driver& d) {
            HWND sheet = d.WaitForSheet();
            ASSERT_NE(sheet, nullptr);
            EXPECT_EQ(Text(sheet), c.caption);
            EXPECT_EQ(TabText(sheet, 0), c.tab);
            EXPECT_EQ(ItemText(sheet, IDOK), c.ok);
            EXPECT_EQ(ItemText(sheet, IDCANCEL), c.cancel);
            EXPECT_EQ(ItemText(sheet, kApply), c.defaults);
            EXPECT_EQ(ItemText(sheet, kHelp), c.help);
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(sheet, kApply)));
            EXPECT_TRUE(IsWindowVisible(GetDlgItem(sheet, kHelp)));
            HWND page = CurrentPage(sheet);
            HWND mode = GetDlgItem(page, 14005);
            EXPECT_EQ(SendMessageW(mode, CB_GETCOUNT, 0, 0), 1);
            EXPECT_EQ(SendMessageW(mode, CB_GETCURSEL, 0, 0), 0);
            PostClick(sheet, IDCANCEL);
        });
    }
}

// --- storing -----------------------------------------------------------------

// OK saves however it is pressed: its button, or the property sheet's own
// message (PSM_PRESSBUTTON), which comctl32 handles without a WM_COMMAND.
TEST_F(SettingsDialog, AColourChosenAndOkReachesTheSettingsAndTheFieldTypes) {
    enum Press { kButton, kPressButtonMessage };
    for (const Press press : {kButton, kPressButtonMessage}) {
        SCOPED_TRACE(press);
        CaptureImage capture = MakeCapture(26, 0);
        Open(capture);
        std::vector<uint8_t> expected = Bytes();
        const uint32_t chosen = 0x123456;
        std::memcpy(&expected[52 + 4 * FdColourWrite], &chosen, 4);
        bool sunken = false;
        Show([&](Driver& d) {
            HWND sheet = d.WaitForSheet();
            ASSERT_NE(sheet, nullptr);
            HWND button = GetDlgItem(CurrentPage(sheet), 1024);  // WRITE
            ASSERT_TRUE(ChooseThroughChooser(d, button, chosen, &sunken));
            if (press == kButton)
                PostClick(sheet, IDOK);
            else
                PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        });
        EXPECT_TRUE(sunken) << "the button looks sunken while the chooser is open";
        EXPECT_EQ(Bytes(), expected);
        for (int32_t id : {4003, 4014, 4018}) EXPECT_EQ(FieldColour(id), chosen) << id;
        EXPECT_EQ(FieldColour(4002), 0xFD7D3Cu);
    }
}

TEST_F(SettingsDialog, OkWithoutChangesKeepsTheSettingsApartFromAnInvalidMode) {
    struct Case {
        int32_t mode, stored;
    };
    for (const Case c : {Case{0, 0}, Case{7, -1}}) {
        CaptureImage capture = MakeCapture(26, 0);
        Open(capture);
        Live().mode = c.mode;
        Live().channel[FdChannelA0] = 17;
        std::vector<uint8_t> expected = Bytes();
        std::memcpy(expected.data(), &c.stored, 4);
        Show([&](Driver& d) {
            HWND sheet = d.WaitForSheet();
            ASSERT_NE(sheet, nullptr);
            PostClick(sheet, IDOK);
        });
        EXPECT_EQ(Bytes(), expected) << c.mode;
    }
}

// --- discarding --------------------------------------------------------------

TEST_F(SettingsDialog, CancelEscapeAndCloseLeaveEverythingByteForByte) {
    enum Ending { kCancel, kEscape, kCloseBox };
    for (const Ending ending : {kCancel, kEscape, kCloseBox}) {
        SCOPED_TRACE(ending);
        CaptureImage capture = MakeCapture(26, 1);
        Open(capture);
        const std::vector<uint8_t> before = Bytes();
        const std::vector<uint32_t> fieldsBefore = FieldColours();
        Show([&](Driver& d) {
            HWND sheet = d.WaitForSheet();
            ASSERT_NE(sheet, nullptr);
            HWND button = GetDlgItem(CurrentPage(sheet), kColourRead);
            ASSERT_TRUE(ChooseThroughChooser(d, button, 0x00FF00));
            PostClick(sheet, kApply);  // Default, then discard as well
            switch (ending) {
                case kCancel:
                    PostClick(sheet, IDCANCEL);
                    break;
                case kEscape:  // the sheet's dialog loop turns it into Cancel
                    PostMessageW(GetDlgItem(CurrentPage(sheet), 14005), WM_KEYDOWN, VK_ESCAPE, 0);
                    break;
                case kCloseBox:
                    PostMessageW(sheet, WM_SYSCOMMAND, SC_CLOSE, 0);
                    break;
            }
        });
        EXPECT_EQ(Bytes(), before);
        EXPECT_EQ(FieldColours(), fieldsBefore);
    }
}

// Non-default colours, mode and channels the "Default" button must or must
// not touch.
void Customise(FdDecoderSettings& s) {
    s.mode = 5;
    for (int i = 0; i < FdColourCount; ++i) s.colour[i] = 0x010203u * static_cast<uint32_t>(i + 1);
    for (int i = 0; i < FdChannelFieldCount; ++i) s.channel[i] = 30 - i;
    s.customRadixDisplay = 1;
    s.dataRadix = 0;
}

TEST_F(SettingsDialog, DefaultThenCancelChangesNothing) {
    CaptureImage capture = MakeCapture(26, 0);
    Open(capture);
    Customise(Live());
    const std::vector<uint8_t> before = Bytes();
    Show([&](Driver& d) {
        HWND sheet = d.WaitForSheet();
        ASSERT_NE(sheet, nullptr);
        PostClick(sheet, kApply);
        PostClick(sheet, IDCANCEL);
    });
    EXPECT_EQ(Bytes(), before);
}

TEST_F(SettingsDialog, DefaultThenOkStoresModeZeroAndTheDefaultColoursOnly) {
    CaptureImage capture = MakeCapture(26, 2);
    Open(capture);
    Customise(Live());
    FdDecoderSettings expected = Live();
    expected.mode = 0;
    const uint32_t defaults[FdColourCount] = {0xFD7D3C, 0x5949E6, 0x9900CC, 0xB77B41, 0x5984F4,
                                              0x9F7FEF, 0x1D72F9, 0x33CC33, 0x868686, 0xE54E00,
                                              0xA0489C, 0x89CE8A, 0x2DBE73};
    std::memcpy(expected.colour, defaults, sizeof defaults);
    uint32_t shown = 0;
    Show([&](Driver& d) {
        HWND sheet = d.WaitForSheet();
        ASSERT_NE(sheet, nullptr);
        PostClick(sheet, kApply);
        // The page shows the defaults before anything is stored.
        for (int i = 0; i < 100 && shown != 0xFD7D3C; ++i, Sleep(20)) {
            const Pixels p = Capture(GetDlgItem(CurrentPage(sheet), kColourRead));
            shown = p.at(2, p.height - 3);
        }
        PostClick(sheet, IDOK);
    });
    EXPECT_EQ(shown, 0xFD7D3Cu);
    EXPECT_EQ(std::memcmp(&Live(), &expected, sizeof expected), 0);
    EXPECT_EQ(Live().mode, 0);
    EXPECT_EQ(Live().channel[FdChannelDmarq], 30);
    EXPECT_EQ(FieldColour(4002), 0xFD7D3Cu);
}

// --- help --------------------------------------------------------------------

TEST_F(SettingsDialog, HelpWithoutAHelpFileIsSilentAndTheSheetStaysOpen) {
    CaptureImage capture = MakeCapture(26, 0);
    Open(capture);
    bool stillOpen = false;
    size_t windowsBefore = 0, windowsAfter = 0;
    Show([&](Driver& d) {
        HWND sheet = d.WaitForSheet();
        ASSERT_NE(sheet, nullptr);
        windowsBefore = d.Windows().size();
        PostClick(sheet, kHelp);
        Sleep(500);
        stillOpen = IsWindow(sheet) && IsWindowEnabled(sheet);
        windowsAfter = d.Windows().size();
        PostClick(sheet, IDCANCEL);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(windowsAfter, windowsBefore);
}

// --- the colour button's clicks --------------------------------------------------

TEST_F(SettingsDialog, ABlackButtonOpensTheChooserAndCancelKeepsItBlack) {
    CaptureImage capture = MakeCapture(26, 0);
    Open(capture);
    Live().colour[FdColourData] = 0x000000;
    bool opened = false;
    Show([&](Driver& d) {
        HWND sheet = d.WaitForSheet();
        ASSERT_NE(sheet, nullptr);
        PostMouseClick(GetDlgItem(CurrentPage(sheet), 1022));  // DATA
        HWND chooser = d.WaitForChooser();
        ASSERT_NE(chooser, nullptr);
        opened = true;
        SetDlgItemInt(chooser, 706, 200, FALSE);
        PostClick(chooser, IDCANCEL);
        ASSERT_TRUE(d.WaitGone(chooser));
        PostClick(sheet, IDOK);
    });
    EXPECT_TRUE(opened);
    EXPECT_EQ(Live().colour[FdColourData], 0x000000u);
    EXPECT_EQ(FieldColour(4026), 0x000000u);
}

TEST_F(SettingsDialog, SpaceBarAndDisabledButtonsOpenNoChooser) {
    CaptureImage capture = MakeCapture(26, 0);
    Open(capture);
    bool chooserSeen = false;
    Show([&](Driver& d) {
        HWND sheet = d.WaitForSheet();
        ASSERT_NE(sheet, nullptr);
        HWND page = CurrentPage(sheet);
        HWND focused = GetDlgItem(page, kColourRead);
        PostMessageW(focused, WM_SETFOCUS, 0, 0);
        PostMessageW(focused, WM_KEYDOWN, VK_SPACE, 0);
        PostMessageW(focused, WM_KEYUP, VK_SPACE, 0);
        HWND disabled = GetDlgItem(page, 1024);
        EnableWindow(disabled, FALSE);
        PostMouseClick(disabled);
        chooserSeen = d.WaitFor(Driver::IsChooser, 600) != nullptr;
        PostClick(sheet, IDCANCEL);
    });
    EXPECT_FALSE(chooserSeen);
}

// --- the colour button's paint -------------------------------------------------

int Count(const Pixels& p, int x0, int x1, int y0, int y1, uint32_t colour) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += p.at(x, y) == colour;
    return n;
}

TEST_F(SettingsDialog, ColourButtonPaintsSwatchTailEdgesAndTheDisabledHatch) {
    CaptureImage capture = MakeCapture(26, 0);
    Open(capture);
    Pixels enabled, disabled;
    Show([&](Driver& d) {
        HWND sheet = d.WaitForSheet();
        ASSERT_NE(sheet, nullptr);
        HWND button = GetDlgItem(CurrentPage(sheet), kColourRead);
        enabled = Capture(button);
        EnableWindow(button, FALSE);
        disabled = Capture(button);
        PostClick(sheet, IDCANCEL);
    });
    ASSERT_GT(enabled.width, 8);
    ASSERT_GT(enabled.height, 8);
    const int w = enabled.width, h = enabled.height;
    const int split = w - w / 4;
    const int mid = h / 2;
    // Swatch up to split - 1, light-grey tail from split (below the "...").
    EXPECT_EQ(enabled.at(2, h - 3), 0xFD7D3Cu);
    EXPECT_EQ(enabled.at(split - 1, h - 3), 0xFD7D3Cu);
    EXPECT_EQ(enabled.at(split, h - 3), 0xC0C0C0u);
    EXPECT_EQ(enabled.at(w - 2, h - 3), 0xC0C0C0u);
    // Raised: white left and top, black right and bottom.
    EXPECT_EQ(enabled.at(0, mid), 0xFFFFFFu);
    EXPECT_EQ(enabled.at(w / 2, 0), 0xFFFFFFu);
    EXPECT_EQ(enabled.at(w - 1, mid), 0x000000u);
    EXPECT_EQ(enabled.at(w / 2, h - 1), 0x000000u);
    // Black "..." at the top of the tail.
    EXPECT_GT(Count(enabled, split, w - 1, 1, h / 2 + 2, 0x000000), 0);
    EXPECT_EQ(Count(enabled, 1, w - 1, 1, h - 1, 0xFF00FF), 0) << "every pixel painted";

    // Disabled: grey diagonal hatch over swatch and tail, both still visible
    // between the lines, sunken edges, grey "...".
    EXPECT_GT(Count(disabled, 1, split - 1, 1, h - 1, 0x808080), (split - 2) * (h - 2) / 8);
    EXPECT_GT(Count(disabled, 1, split - 1, 1, h - 1, 0xFD7D3C), (split - 2) * (h - 2) / 4);
    EXPECT_GT(Count(disabled, split + 1, w - 1, h / 2 + 2, h - 1, 0xC0C0C0), 0);
    EXPECT_EQ(disabled.at(0, mid), 0x000000u);
    EXPECT_EQ(disabled.at(w / 2, 0), 0x000000u);
    EXPECT_EQ(disabled.at(w - 1, mid), 0xFFFFFFu);
    EXPECT_EQ(disabled.at(w / 2, h - 1), 0xFFFFFFu);
    EXPECT_EQ(Count(disabled, split, w - 1, 1, h - 1, 0x000000), 0) << "no black text when disabled";
}

}  // namespace
