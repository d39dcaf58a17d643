// The setup launcher's window under Wine: no title bar at the template's
// size, hover / pressed / idle pictures checked by pixels, the paths the
// install and help buttons hand to the shell (through injected services, so
// nothing is started), the About entry, minimise, and the ways it ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "setup/launcher_dlg.h"
#include "setup/resource.h"

namespace fd::setup {
namespace {

struct Shell {
    std::vector<std::wstring> opened;
    uint16_t language = kLangEnglishUs;
};

LauncherServices FakeServices(Shell& shell, std::wstring launcher = L"C:\\pkg\\setup.exe") {
    LauncherServices s;
    s.shellOpen = [&shell](HWND, const std::wstring& path) { shell.opened.push_back(path); };
    s.systemLanguage = [&shell] { return shell.language; };
    s.launcherPath = [launcher] { return launcher; };
    return s;
}

// ---- running the dialog with a driver thread -------------------------------

struct DriveContext {
    DWORD uiThread;
    const std::function<void(HWND)>* drive;
};

HWND FindThreadWindow(DWORD thread, const std::wstring& text) {
    struct Search {
        const std::wstring* text;
        HWND found;
    } search{&text, nullptr};
    EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            wchar_t title[128] = {};
            GetWindowTextW(hwnd, title, 128);
            if (IsWindowVisible(hwnd) && *s->text == title) {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForThreadWindow(DWORD thread, const std::wstring& text) {
    for (int i = 0; i < 500; ++i) {
        if (HWND hwnd = FindThreadWindow(thread, text)) return hwnd;
        Sleep(20);
    }
    return nullptr;
}

DWORD WINAPI DriverThread(LPVOID parameter) {
    auto* context = static_cast<DriveContext*>(parameter);
    HWND dialog = WaitForThreadWindow(context->uiThread, kWindowText);
    if (dialog == nullptr) {
        ADD_FAILURE() << "the launcher window did not appear";
        return 1;
    }
    // Let the window settle: mouse and activation messages that the server
    // generates when a window appears must not overtake the test's own.
    Sleep(300);
    SendMessageW(dialog, WM_NULL, 0, 0);
    (*context->drive)(dialog);
    return 0;
}

DWORD WINAPI WatchdogThread(LPVOID) {
    Sleep(30000);
    ExitProcess(3);
}

// Runs `run` (which shows the launcher modally) here while `drive` works on
// the launcher's window from a second thread; `drive` must end the dialog.
template <class Run>
auto RunWithDriver(Run run, const std::function<void(HWND)>& drive) {
    static HANDLE watchdog = CreateThread(nullptr, 0, WatchdogThread, nullptr, 0, nullptr);
    (void)watchdog;
    // The real pointer rests in the screen's corner, away from the centred
    // window: the only mouse messages the launcher sees are the test's own.
    SetCursorPos(0, 0);
    DriveContext context{GetCurrentThreadId(), &drive};
    HANDLE driver = CreateThread(nullptr, 0, DriverThread, &context, 0, nullptr);
    auto result = run();
    WaitForSingleObject(driver, 10000);
    CloseHandle(driver);
    return result;
}

INT_PTR RunLauncher(CLauncherDlg& dialog, const std::function<void(HWND)>& drive) {
    return RunWithDriver([&] { return dialog.DoModal(); }, drive);
}

// Clicks a button that does not end the dialog: the press and the release
// are sent, so the driver knows both have been handled when Send returns.
void Press(HWND button) { SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4)); }
void Release(HWND button) { SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(4, 4)); }
// Clicks a button that ends the dialog: posted, never sent.
void PostClick(HWND button) {
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}
void PostEscape(HWND dialog) { PostMessageW(GetDlgItem(dialog, IDC_INSTALL), WM_KEYDOWN, VK_ESCAPE, 0); }

int XOf(LPARAM lp) { return static_cast<short>(LOWORD(lp)); }
int YOf(LPARAM lp) { return static_cast<short>(HIWORD(lp)); }

// ---- which picture a button shows ------------------------------------------

struct ButtonCase {
    const char* name;
    int control;
    std::array<int, 3> bitmaps;  // idle, hover, pressed
};
const ButtonCase kButtons[] = {
    {"install", IDC_INSTALL, {IDB_INSTALL_IDLE, IDB_INSTALL_HOVER, IDB_INSTALL_PRESSED}},
    {"help", IDC_HELP_FOLDER, {IDB_HELP_IDLE, IDB_HELP_HOVER, IDB_HELP_PRESSED}},
    {"exit", IDC_EXIT, {IDB_EXIT_IDLE, IDB_EXIT_HOVER, IDB_EXIT_PRESSED}},
    {"minimise", IDC_MINIMISE, {IDB_MINIMISE_IDLE, IDB_MINIMISE_HOVER, IDB_MINIMISE_PRESSED}},
    {"close", IDC_CLOSE, {IDB_CLOSE_IDLE, IDB_CLOSE_HOVER, IDB_CLOSE_PRESSED}},
};
enum Shown { kIdle = 0, kHover = 1, kPressed = 2, kUnknown = -1 };

// Paints the button into a memory DC (WM_PRINTCLIENT makes the dialog draw
// it) and returns which of its three pictures matches the painted pixels.
Shown ShownPicture(HWND dialog, const ButtonCase& button) {
    HWND control = GetDlgItem(dialog, button.control);
    RECT rect;
    GetClientRect(control, &rect);
    HDC screen = GetDC(nullptr);
    HDC painted = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, rect.right, rect.bottom);
    HGDIOBJ oldCanvas = SelectObject(painted, canvas);
    SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(painted), PRF_CLIENT);

    Shown best = kUnknown;
    for (int look = 0; look < 3; ++look) {
        auto picture =
            static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(button.bitmaps[look]),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        BITMAP info{};
        GetObjectW(picture, sizeof info, &info);
        HDC reference = CreateCompatibleDC(screen);
        HGDIOBJ oldPicture = SelectObject(reference, picture);
        int width = std::min<int>(rect.right, info.bmWidth),
            height = std::min<int>(rect.bottom, info.bmHeight);
        int same = 0, total = 0;
        for (int y = 0; y < height; y += 2)
            for (int x = 0; x < width; x += 2, ++total)
                if (GetPixel(painted, x, y) == GetPixel(reference, x, y)) ++same;
        SelectObject(reference, oldPicture);
        DeleteDC(reference);
        DeleteObject(picture);
        if (total > 0 && same * 100 >= total * 98) best = static_cast<Shown>(look);
    }
    SelectObject(painted, oldCanvas);
    DeleteObject(canvas);
    DeleteDC(painted);
    ReleaseDC(nullptr, screen);
    return best;
}

void ExpectAllIdle(HWND dialog, const char* when) {
    for (const ButtonCase& b : kButtons) EXPECT_EQ(ShownPicture(dialog, b), kIdle) << b.name << ", " << when;
}

// ---- the tests ---------------------------------------------------------------

TEST(LauncherWindow, OpensWithoutTitleBarAtTheTemplateSize) {
    Shell shell;
    CLauncherDlg dialog(FakeServices(shell));
    INT_PTR result = RunLauncher(dialog, [](HWND dlg) {
        LONG_PTR style = GetWindowLongPtrW(dlg, GWL_STYLE);
        EXPECT_EQ(style & WS_CAPTION, 0) << "no title bar, no border";
        EXPECT_NE(style & WS_MINIMIZEBOX, 0);
        EXPECT_NE(style & WS_SYSMENU, 0);

        RECT expected{0, 0, LAUNCHER_WIDTH_DLU, LAUNCHER_HEIGHT_DLU};
        MapDialogRect(dlg, &expected);
        RECT client, window;
        GetClientRect(dlg, &client);
        GetWindowRect(dlg, &window);
        EXPECT_EQ(client.right, expected.right);
        EXPECT_EQ(client.bottom, expected.bottom);
        EXPECT_EQ(window.right - window.left, client.right) << "the whole window is client area";
        EXPECT_EQ(window.bottom - window.top, client.bottom);

        EXPECT_NE(SendMessageW(dlg, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(SendMessageW(dlg, WM_GETICON, ICON_SMALL, 0), 0);

        wchar_t entry[64] = {};
        GetMenuStringW(GetSystemMenu(dlg, FALSE), IDM_ABOUTBOX, entry, 64, MF_BYCOMMAND);
        EXPECT_STREQ(entry, L"&About Setup...");

        // The version line, white, at (390, 70) on the background.
        HDC dc = GetDC(dlg);
        int white = 0;
        for (int y = 70; y < 88; ++y)
            for (int x = 390; x < 600; ++x)
                if (GetPixel(dc, x, y) == RGB(255, 255, 255)) ++white;
        ReleaseDC(dlg, dc);
        EXPECT_GT(white, 100) << "version line painted in white";

        PostEscape(dlg);
    });
    EXPECT_EQ(result, IDCANCEL) << "Escape ends the launcher";
    EXPECT_TRUE(shell.opened.empty());
}

TEST(LauncherWindow, ButtonsFollowTheMouse) {
    Shell shell;
    CLauncherDlg dialog(FakeServices(shell));
    INT_PTR result = RunLauncher(dialog, [&](HWND dlg) {
        ExpectAllIdle(dlg, "at start");
        for (const ButtonCase& b : kButtons) {
            HWND control = GetDlgItem(dlg, b.control);
            SendMessageW(control, WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
            EXPECT_EQ(ShownPicture(dlg, b), kHover) << b.name << " under the mouse";
            for (const ButtonCase& other : kButtons) {
                if (other.control != b.control) {
                    EXPECT_EQ(ShownPicture(dlg, other), kIdle) << other.name;
                }
            }
            // Onto the background: everything idle again.
            SendMessageW(dlg, WM_MOUSEMOVE, 0, MAKELPARAM(8, 300));
            ExpectAllIdle(dlg, "after moving onto the background");
        }
        // Pressed until released, then hover.
        for (int control : {IDC_INSTALL, IDC_HELP_FOLDER}) {
            const ButtonCase& b = control == IDC_INSTALL ? kButtons[0] : kButtons[1];
            HWND button = GetDlgItem(dlg, control);
            SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
            Press(button);
            EXPECT_EQ(ShownPicture(dlg, b), kPressed) << b.name << " held down";
            SendMessageW(button, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(6, 6));
            EXPECT_EQ(ShownPicture(dlg, b), kPressed) << b.name << " held down while moving";
            Release(button);
            EXPECT_EQ(ShownPicture(dlg, b), kHover) << b.name << " released";
        }
        // Leaving a button straight out of the window keeps its hover picture
        // until the mouse next crosses the background.
        SendMessageW(dlg, WM_MOUSEMOVE, 0, MAKELPARAM(8, 300));
        SendMessageW(GetDlgItem(dlg, IDC_EXIT), WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
        EXPECT_EQ(ShownPicture(dlg, kButtons[2]), kHover);
        EXPECT_EQ(dialog.exitButton.hoverState, kHoverOver);
        PostClick(GetDlgItem(dlg, IDC_CLOSE));
    });
    EXPECT_EQ(result, IDOK) << "the close button ends the launcher";
}

TEST(LauncherWindow, InstallAndHelpHandTheirPathsToTheShell) {
    Shell shell;
    CLauncherDlg dialog(FakeServices(shell));
    struct Case {
        uint16_t language;
        const wchar_t* folder;
    };
    const Case cases[] = {
        {0x0409, L"C:\\pkg\\HELP\\EN\\"},
        {0x0804, L"C:\\pkg\\HELP\\SI\\"},
        {0x0404, L"C:\\pkg\\HELP\\TR\\"},
        {0x0411, L"C:\\pkg\\"},
    };
    INT_PTR result = RunLauncher(dialog, [&](HWND dlg) {
        HWND install = GetDlgItem(dlg, IDC_INSTALL), help = GetDlgItem(dlg, IDC_HELP_FOLDER);
        Press(install);
        Release(install);
        ASSERT_EQ(shell.opened.size(), 1u);
        EXPECT_EQ(shell.opened.back(), L"C:\\pkg\\english\\setup.exe");
        for (const Case& c : cases) {
            shell.language = c.language;
            Press(help);
            Release(help);
            EXPECT_EQ(shell.opened.back(), c.folder) << "language " << c.language;
        }
        EXPECT_TRUE(IsWindowVisible(dlg)) << "the launcher stays open";
        PostClick(GetDlgItem(dlg, IDC_EXIT));
    });
    EXPECT_EQ(result, IDOK) << "the exit button ends the launcher";
    EXPECT_EQ(shell.opened.size(), 1u + std::size(cases));
}

TEST(LauncherWindow, MinimiseAndAboutBox) {
    Shell shell;
    CLauncherDlg dialog(FakeServices(shell));
    INT_PTR result = RunLauncher(dialog, [&](HWND dlg) {
        // The button's mouse handling is covered above; this is its command.
        SendMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDC_MINIMISE, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_MINIMISE)));
        for (int i = 0; i < 300 && !IsIconic(dlg); ++i) Sleep(10);
        EXPECT_TRUE(IsIconic(dlg));
        SendMessageW(dlg, WM_SYSCOMMAND, SC_RESTORE, 0);
        for (int i = 0; i < 300 && IsIconic(dlg); ++i) Sleep(10);
        EXPECT_FALSE(IsIconic(dlg));

        PostMessageW(dlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
        HWND about = WaitForThreadWindow(GetWindowThreadProcessId(dlg, nullptr), L"About");
        ASSERT_NE(about, nullptr) << "the About box opens from the system menu";
        HWND text = FindWindowExW(about, nullptr, L"Static", L"Vuziv Izezazer I2.0");
        EXPECT_NE(text, nullptr);
        PostMessageW(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        for (int i = 0; i < 200 && IsWindow(about); ++i) Sleep(10);
        EXPECT_FALSE(IsWindow(about));

        PostEscape(dlg);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(shell.opened.empty());
}

// Pressing the background turns into a press on the (absent) caption, which
// moves the window. The hook records and swallows that message, so no move
// loop starts waiting for a real mouse.
struct CaptionPress {
    static inline std::vector<MSG> seen;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        auto* msg = reinterpret_cast<MSG*>(lParam);
        if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_NCLBUTTONDOWN) {
            seen.push_back(*msg);
            msg->message = WM_NULL;
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

TEST(LauncherWindow, DraggingTheBackgroundMovesTheWindow) {
    Shell shell;
    CLauncherDlg dialog(FakeServices(shell));
    CaptionPress::seen.clear();
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, CaptionPress::Hook, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    POINT expected{};
    INT_PTR result = RunLauncher(dialog, [&](HWND dlg) {
        expected = {40, 300};
        ClientToScreen(dlg, &expected);
        SendMessageW(dlg, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 300));
        SendMessageW(dlg, WM_LBUTTONUP, 0, MAKELPARAM(40, 300));
        // A press on a button is the button's own.
        Press(GetDlgItem(dlg, IDC_HELP_FOLDER));
        Release(GetDlgItem(dlg, IDC_HELP_FOLDER));
        SendMessageW(dlg, WM_NULL, 0, 0);
        PostEscape(dlg);
    });
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(CaptionPress::seen.size(), 1u);
    EXPECT_EQ(CaptionPress::seen[0].wParam, static_cast<WPARAM>(HTCAPTION));
    EXPECT_EQ(XOf(CaptionPress::seen[0].lParam), expected.x) << "screen coordinates";
    EXPECT_EQ(YOf(CaptionPress::seen[0].lParam), expected.y);
}

TEST(LauncherApp, EscapeEndsTheProgram) {
    CLauncherApp app;
    bool keepRunning = RunWithDriver([&] { return app.InitInstance(); }, [](HWND dlg) { PostEscape(dlg); });
    EXPECT_FALSE(keepRunning) << "no message loop of its own after the dialog";
}

TEST(LauncherServicesTest, SystemServicesNameThisProgram) {
    LauncherServices system = LauncherServices::System();
    std::wstring path = system.launcherPath();
    ASSERT_GE(path.size(), 4u);
    EXPECT_EQ(path.substr(path.size() - 4), L".exe");
    EXPECT_NE(path.find(L'\\'), std::wstring::npos);
    EXPECT_EQ(system.systemLanguage(), GetSystemDefaultLangID());
}

}  // namespace
}  // namespace fd::setup
