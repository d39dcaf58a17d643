// The dialog driver of the Wine UI tests (see dialog_driver.h).
#include "tests/plugin/ui/dialog_driver.h"

#include <gtest/gtest.h>

#include <vector>

namespace fd::test {
namespace {

std::vector<HWND> ThreadWindows(DWORD thread) {
    std::vector<HWND> windows;
    EnumThreadWindows(
        thread,
        [](HWND hwnd, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

bool IsMessageBox(HWND hwnd) { return IsWindowVisible(hwnd) && GetDlgItem(hwnd, 0xFFFF) != nullptr; }

DWORD WINAPI Watchdog(LPVOID) {
    Sleep(60000);
    fprintf(stderr, "watchdog: the UI did not close\n");
    ExitProcess(3);
}

}  // namespace

HWND DialogDriver::WaitFor(const std::function<bool(HWND)>& match) const {
    for (int attempt = 0; attempt < 500; ++attempt) {
        for (HWND hwnd : ThreadWindows(uiThread_))
            if (match(hwnd)) return hwnd;
        Sleep(20);
    }
    return nullptr;
}

HWND DialogDriver::Sheet() const {
    return WaitFor([](HWND hwnd) { return IsWindowVisible(hwnd) && SendMessageW(hwnd, PSM_GETTABCONTROL, 0, 0) != 0; });
}

HWND DialogDriver::Page(HWND sheet) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

HWND DialogDriver::ShowPage(HWND sheet, int index) {
    SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    return Page(sheet);
}

HWND DialogDriver::PinDialog() const {
    return WaitFor([](HWND hwnd) { return IsWindowVisible(hwnd) && GetDlgItem(hwnd, 15036) != nullptr; });
}

std::wstring DialogDriver::AnswerMessageBox() const {
    HWND box = WaitFor(IsMessageBox);
    if (box == nullptr) return L"(no message box)";
    const std::wstring text = Text(GetDlgItem(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    // Wait until it is gone, so the next action reaches its owner.
    for (int attempt = 0; attempt < 500 && IsWindow(box); ++attempt) Sleep(20);
    return text;
}

bool DialogDriver::MessageBoxShown() const {
    for (HWND hwnd : ThreadWindows(uiThread_))
        if (IsMessageBox(hwnd)) return true;
    return false;
}

void DialogDriver::PostClick(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void DialogDriver::SendClick(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void DialogDriver::Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void DialogDriver::Select(HWND dialog, int comboId, int index) {
    HWND combo = GetDlgItem(dialog, comboId);
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

int DialogDriver::Selection(HWND dialog, int comboId) {
    return static_cast<int>(SendDlgItemMessageW(dialog, comboId, CB_GETCURSEL, 0, 0));
}
int DialogDriver::Count(HWND dialog, int comboId) {
    return static_cast<int>(SendDlgItemMessageW(dialog, comboId, CB_GETCOUNT, 0, 0));
}
LRESULT DialogDriver::ItemData(HWND dialog, int comboId, int index) {
    return SendDlgItemMessageW(dialog, comboId, CB_GETITEMDATA, static_cast<WPARAM>(index), 0);
}
int DialogDriver::Check(HWND dialog, int id) { return static_cast<int>(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0)); }
bool DialogDriver::Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

std::wstring DialogDriver::Text(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

void RunModal(const std::function<void()>& open, const std::function<void(DialogDriver&)>& script) {
    static const HANDLE watchdog = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    (void)watchdog;
    DialogDriver driver(GetCurrentThreadId());
    std::atomic<bool> closed{false};
    std::thread thread([&] {
        script(driver);
        // Close whatever the script left open, innermost first: a message
        // box, then the pin dialog, then the sheet.
        while (!closed) {
            std::vector<HWND> windows = ThreadWindows(driver.uiThread());
            for (HWND hwnd : windows)
                if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
            Sleep(50);
        }
    });
    open();
    closed = true;
    thread.join();
}

}  // namespace fd::test
