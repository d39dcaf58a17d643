// Drives the plug-in's modal dialogs from inside the test process: the test
// thread makes the blocking entry call (it is the UI thread), a driver
// thread finds the windows it expects and posts clicks to them, a watchdog
// ends the process if anything hangs. Whatever the script leaves open is
// closed afterwards, so a failed expectation never hangs the test.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fd::test::ui {

class Driver {
public:
    explicit Driver(DWORD uiThread) : uiThread_(uiThread) {}

    // Top-level windows of the UI thread.
    std::vector<HWND> Windows() const;
    // Waits (up to 10 s) for a visible window that `match` accepts; null on
    // timeout.
    HWND WaitFor(const std::function<bool(HWND)>& match, int timeoutMs = 10000) const;
    HWND WaitForSheet() const;
    HWND WaitForMessageBox() const;
    HWND WaitForChooser() const;
    // Waits until `window` is gone; false on timeout.
    bool WaitGone(HWND window, int timeoutMs = 10000) const;

    static bool IsSheet(HWND window);
    static bool IsMessageBox(HWND window);
    static bool IsChooser(HWND window);

    DWORD uiThread() const { return uiThread_; }

private:
    DWORD uiThread_;
};

// Runs `script` on a driver thread while `modalCall` runs on this thread.
void RunDriven(const std::function<void(Driver&)>& script, const std::function<void()>& modalCall);

// Text of a window / of a dialog item.
std::wstring Text(HWND window);
std::wstring ItemText(HWND dialog, int id);
// Caption of a tab of a property sheet.
std::wstring TabText(HWND sheet, int index);

// Posted clicks (never sent: they may open or close something modal).
void PostClick(HWND dialog, int id);
void PostMouseClick(HWND control);

// The control's client area as drawn through WM_PRINTCLIENT, row by row,
// as 0x00BBGGRR values.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> values;
    uint32_t at(int x, int y) const { return values[static_cast<size_t>(y * width + x)]; }
};
Pixels Capture(HWND control);

}  // namespace fd::test::ui
