// CLauncherDlg: the setup launcher's skinned, captionless start window
// (template 102) with its five picture buttons, and CLauncherApp, which runs
// it as the program's main window. The shell and the system queries go
// through LauncherServices so the Wine test can see what would be started
// without starting anything.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "setup/hover_bitmap_button.h"
#include "winui/winui.h"

namespace fd::setup {

struct LauncherServices {
    // Asks the shell to "open" a path (the installer or a help folder).
    std::function<void(HWND owner, const std::wstring& path)> shellOpen;
    // The system's default language id.
    std::function<uint16_t()> systemLanguage;
    // The full path of the launcher's own executable.
    std::function<std::wstring()> launcherPath;

    // The real ones: ShellExecute, GetSystemDefaultLangID, GetModuleFileName.
    static LauncherServices System();
};

class CLauncherDlg : public winui::CDialog {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    explicit CLauncherDlg(LauncherServices services = LauncherServices::System());
    ~CLauncherDlg() override;

    // Declared in the order the window's controls are described.
    CHoverBitmapButton minimiseButton;  // 1005
    CHoverBitmapButton closeButton;     // 1007
    CHoverBitmapButton installButton;   // 1000
    CHoverBitmapButton helpButton;      // 1003
    CHoverBitmapButton exitButton;      // 1002

protected:
    void DoDataExchange(winui::CDataExchange& dx) override;
    BOOL OnInitDialog() override;

private:
    bool OnSysCommand(winui::Msg& msg);
    bool OnPaint(winui::Msg& msg);
    bool OnEraseBackground(winui::Msg& msg);
    bool OnQueryDragIcon(winui::Msg& msg);
    bool OnLButtonDown(winui::Msg& msg);
    bool OnMouseMove(winui::Msg& msg);
    void OnInstall();
    void OnHelpFolder();
    void OnExit();
    void OnMinimise();

    std::array<CHoverBitmapButton*, 5> Buttons() {
        return {&minimiseButton, &closeButton, &installButton, &helpButton, &exitButton};
    }

    LauncherServices services_;
    HICON icon_;
    HICON smallIcon_;
};

// The application object: runs the launcher dialog as the main window; the
// program ends when it closes.
class CLauncherApp {
public:
    // Always false: there is no message loop after the dialog.
    bool InitInstance();
};

}  // namespace fd::setup
