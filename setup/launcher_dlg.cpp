// The setup launcher's window: skin painting, dragging by the background,
// the system menu's About entry and the five buttons. The decisions (paths,
// hoverState) are plain functions in launcher_logic.cpp.
#include "setup/launcher_dlg.h"

#include <shellapi.h>

#include <vector>

#include "setup/resource.h"

namespace fd::setup {

using winui::Msg;
using winui::OnCommand;
using winui::OnMessage;

LauncherServices LauncherServices::System() {
    LauncherServices s;
    s.shellOpen = [](HWND owner, const std::wstring& path) {
        // The shell reports a missing installer or folder itself, if at all.
        ShellExecuteW(owner, kShellVerb, path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
    s.systemLanguage = [] { return static_cast<uint16_t>(GetSystemDefaultLangID()); };
    s.launcherPath = [] {
        // Grow the buffer until the whole path fits: a package unpacked deep
        // inside a profile folder can be longer than MAX_PATH.
        std::vector<wchar_t> buffer(MAX_PATH);
        for (;;) {
            DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
            if (n == 0) return std::wstring();
            if (n < buffer.size()) return std::wstring(buffer.data(), n);
            if (buffer.size() >= 32768) return std::wstring();
            buffer.resize(buffer.size() * 2);
        }
    };
    return s;
}

WINUI_BEGIN_MESSAGE_MAP(CLauncherDlg)
OnMessage<CLauncherDlg, &CLauncherDlg::OnSysCommand>(WM_SYSCOMMAND),
    OnMessage<CLauncherDlg, &CLauncherDlg::OnPaint>(WM_PAINT),
    OnMessage<CLauncherDlg, &CLauncherDlg::OnEraseBackground>(WM_ERASEBKGND),
    OnMessage<CLauncherDlg, &CLauncherDlg::OnQueryDragIcon>(WM_QUERYDRAGICON),
    OnMessage<CLauncherDlg, &CLauncherDlg::OnLButtonDown>(WM_LBUTTONDOWN),
    OnMessage<CLauncherDlg, &CLauncherDlg::OnMouseMove>(WM_MOUSEMOVE),
    OnCommand<CLauncherDlg, &CLauncherDlg::OnInstall>(IDC_INSTALL),
    OnCommand<CLauncherDlg, &CLauncherDlg::OnHelpFolder>(IDC_HELP_FOLDER),
    OnCommand<CLauncherDlg, &CLauncherDlg::OnExit>(IDC_EXIT),
    OnCommand<CLauncherDlg, &CLauncherDlg::OnExit>(IDC_CLOSE),
    OnCommand<CLauncherDlg, &CLauncherDlg::OnMinimise>(IDC_MINIMISE),
    WINUI_END_MESSAGE_MAP(CLauncherDlg, winui::CDialog)

        CLauncherDlg::CLauncherDlg(LauncherServices services)
    : CDialog(IDD_LAUNCHER), services_(std::move(services)) {
    icon_ =
        static_cast<HICON>(LoadImageW(winui::ResourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ =
        static_cast<HICON>(LoadImageW(winui::ResourceInstance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

CLauncherDlg::~CLauncherDlg() {
    if (icon_ != nullptr) DestroyIcon(icon_);
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void CLauncherDlg::DoDataExchange(winui::CDataExchange& dx) {
    winui::DDX_Control(dx, IDC_MINIMISE, minimiseButton);
    winui::DDX_Control(dx, IDC_CLOSE, closeButton);
    winui::DDX_Control(dx, IDC_INSTALL, installButton);
    winui::DDX_Control(dx, IDC_HELP_FOLDER, helpButton);
    winui::DDX_Control(dx, IDC_EXIT, exitButton);
}

BOOL CLauncherDlg::OnInitDialog() {
    HMENU systemMenu = GetSystemMenu(hwnd_, FALSE);
    wchar_t about[64] = {};
    if (systemMenu != nullptr && LoadStringW(winui::ResourceInstance(), IDS_ABOUTBOX, about, 64) > 0) {
        AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
    }

    // No title bar, but still a window that can be minimised. The window is
    // then sized so that its client area keeps the template's size: the
    // buttons and the background were laid out for it.
    LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    style = (style & ~static_cast<LONG_PTR>(WS_CAPTION)) | WS_MINIMIZEBOX;
    SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
    RECT frame{0, 0, LAUNCHER_WIDTH_DLU, LAUNCHER_HEIGHT_DLU};
    MapDialogRect(hwnd_, &frame);
    AdjustWindowRectEx(&frame, static_cast<DWORD>(style), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
    SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);

    SetText(kWindowText);
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_ ? smallIcon_ : icon_));

    installButton.LoadBitmaps(IDB_INSTALL_IDLE, IDB_INSTALL_PRESSED, IDB_INSTALL_HOVER);
    helpButton.LoadBitmaps(IDB_HELP_IDLE, IDB_HELP_PRESSED, IDB_HELP_HOVER);
    exitButton.LoadBitmaps(IDB_EXIT_IDLE, IDB_EXIT_PRESSED, IDB_EXIT_HOVER);
    minimiseButton.LoadBitmaps(IDB_MINIMISE_IDLE, IDB_MINIMISE_PRESSED, IDB_MINIMISE_HOVER);
    closeButton.LoadBitmaps(IDB_CLOSE_IDLE, IDB_CLOSE_PRESSED, IDB_CLOSE_HOVER);
    return TRUE;
}

bool CLauncherDlg::OnSysCommand(Msg& msg) {
    if ((msg.wParam & 0xFFF0) != IDM_ABOUTBOX) return false;
    winui::CDialog about(IDD_ABOUTBOX, hwnd_);
    about.DoModal();
    return true;
}

// The background picture covers the whole client area; erasing first would
// only make it flicker.
bool CLauncherDlg::OnEraseBackground(Msg& msg) {
    if (IsIconic(hwnd_)) return false;
    msg.result = TRUE;
    return true;
}

bool CLauncherDlg::OnQueryDragIcon(Msg& msg) {
    msg.result = reinterpret_cast<LRESULT>(icon_);
    return true;
}

bool CLauncherDlg::OnPaint(Msg&) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    RECT client;
    GetClientRect(hwnd_, &client);
    if (IsIconic(hwnd_)) {
        SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
        int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, icon_);
    } else {
        HBITMAP background = static_cast<HBITMAP>(
            LoadImageW(winui::ResourceInstance(), MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, 0));
        if (background != nullptr) {
            BITMAP info{};
            GetObjectW(background, sizeof info, &info);
            HDC memory = CreateCompatibleDC(dc);
            HGDIOBJ previous = SelectObject(memory, background);
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, nullptr);
            StretchBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, info.bmWidth, info.bmHeight,
                       SRCCOPY);
            SelectObject(memory, previous);
            DeleteDC(memory);
            DeleteObject(background);
        }
        COLORREF oldColour = SetTextColor(dc, RGB(255, 255, 255));
        int oldMode = SetBkMode(dc, TRANSPARENT);
        TextOutW(dc, kVersionLineX, kVersionLineY, kVersionLine, static_cast<int>(wcslen(kVersionLine)));
        SetBkMode(dc, oldMode);
        SetTextColor(dc, oldColour);
    }
    EndPaint(hwnd_, &ps);
    return true;
}

// A press on the background moves the window, as a press on a caption would.
bool CLauncherDlg::OnLButtonDown(Msg& msg) {
    POINT pt{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
    ClientToScreen(hwnd_, &pt);  // non-client messages carry screen coordinates
    PostMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
    return false;
}

bool CLauncherDlg::OnMouseMove(Msg&) {
    for (CHoverBitmapButton* button : Buttons()) button->OnBackgroundMouseMove();
    return false;
}

void CLauncherDlg::OnInstall() { services_.shellOpen(hwnd_, InstallerPath(services_.launcherPath())); }

void CLauncherDlg::OnHelpFolder() {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
    services_.shellOpen(hwnd_, HelpFolderPath(services_.launcherPath(), services_.systemLanguage()));
    SetCursor(previous);
}

void CLauncherDlg::OnExit() { EndDialog(IDOK); }

void CLauncherDlg::OnMinimise() { ShowWindow(hwnd_, SW_MINIMIZE); }

bool CLauncherApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CLauncherDlg dialog;
    dialog.DoModal();
    return false;
}

}  // namespace fd::setup
