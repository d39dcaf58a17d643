// Drives the plug-in's modal configuration UI from a second thread of the
// test process, the way a user would: it waits for windows of the UI thread,
// posts clicks and selections, reads controls, and answers message boxes.
// Anything that may open or close something modal is posted, never sent;
// everything else is sent, so it has run when the call returns (a sent
// message overtakes posted ones, so posting and then sending would not wait).
// Windows only; the tests run under Wine.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace fd::test {

class DialogDriver {
public:
    explicit DialogDriver(DWORD uiThread) : uiThread_(uiThread) {}
    DWORD uiThread() const { return uiThread_; }

    // The first top-level window of the UI thread that `match` accepts,
    // waiting up to 10 s; null when none came.
    HWND WaitFor(const std::function<bool(HWND)>& match) const;

    HWND Sheet() const;                    // the property sheet
    static HWND Page(HWND sheet);                // the page in front
    static HWND ShowPage(HWND sheet, int index);  // brings page `index` to the front
    HWND PinDialog() const;                // the pin assignment dialog
    // The next message box's text; answers it with OK.
    std::wstring AnswerMessageBox() const;
    // True while a message box is up (checked once, no waiting).
    bool MessageBoxShown() const;

    // A button's click notification to its dialog: posted for buttons that
    // open or close something modal, sent for the others.
    static void PostClick(HWND dialog, int id);
    static void SendClick(HWND dialog, int id);
    // BM_CLICK on the control itself (check boxes toggle, radios select).
    static void Click(HWND dialog, int id);
    static void Select(HWND dialog, int comboId, int index);  // and CBN_SELCHANGE
    static int Selection(HWND dialog, int comboId);
    static int Count(HWND dialog, int comboId);
    static LRESULT ItemData(HWND dialog, int comboId, int index);
    static int Check(HWND dialog, int id);
    static bool Enabled(HWND dialog, int id);
    static std::wstring Text(HWND window);

    // The sheet's own buttons, as clicks.
    static void PressOk(HWND sheet) { PostClick(sheet, IDOK); }
    static void PressCancel(HWND sheet) { PostClick(sheet, IDCANCEL); }
    static void PressDefault(HWND sheet) { SendClick(sheet, 0x3021); }

private:
    DWORD uiThread_;
};

// Runs `script` on a driver thread while this thread calls `open` (which
// runs the modal UI and returns when it closes). Whatever the script leaves
// open is closed afterwards, so a failed script cannot hang the test; a
// watchdog ends the process after 60 s.
void RunModal(const std::function<void()>& open, const std::function<void(DialogDriver&)>& script);

}  // namespace fd::test
