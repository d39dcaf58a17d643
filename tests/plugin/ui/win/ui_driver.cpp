// The in-process driver for modal dialogs (see ui_driver.h).
#include "tests/plugin/ui/win/ui_driver.h"

#include <commctrl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace fd::test::ui {

namespace {

constexpr int kStaticId = 0xFFFF;  // a message box's text
constexpr int kChooserRedEdit = 706;

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> Driver::Windows() const {
    std::vector<HWND> windows;
    EnumThreadWindows(uiThread_, Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

HWND Driver::WaitFor(const std::function<bool(HWND)>& match, int timeoutMs) const {
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        for (HWND window : Windows()) {
            if (IsWindowVisible(window) && match(window)) return window;
        }
        Sleep(20);
    }
    return nullptr;
}

bool Driver::IsSheet(HWND window) { return SendMessageW(window, PSM_GETTABCONTROL, 0, 0) != 0; }
bool Driver::IsChooser(HWND window) { return GetDlgItem(window, kChooserRedEdit) != nullptr; }
bool Driver::IsMessageBox(HWND window) {
    return GetDlgItem(window, kStaticId) != nullptr && !IsChooser(window) && !IsSheet(window);
}

HWND Driver::WaitForSheet() const { return WaitFor(IsSheet); }
HWND Driver::WaitForMessageBox() const { return WaitFor(IsMessageBox); }
HWND Driver::WaitForChooser() const { return WaitFor(IsChooser); }

bool Driver::WaitGone(HWND window, int timeoutMs) const {
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        if (!IsWindow(window)) return true;
        Sleep(20);
    }
    return false;
}

void RunDriven(const std::function<void(Driver&)>& script, const std::function<void()>& modalCall) {
    Driver driver(GetCurrentThreadId());
    std::atomic<bool> modalDone{false};

    std::mutex mutex;
    std::condition_variable finished;
    bool allDone = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!finished.wait_for(lock, std::chrono::seconds(30), [&] { return allDone; })) {
            std::fprintf(stdout, "watchdog: the dialog did not close within 30 s\n");
            ExitProcess(3);
        }
    });

    std::thread driverThread([&] {
        script(driver);
        // Close whatever the script left open (a failed expectation).
        while (!modalDone) {
            for (HWND window : driver.Windows()) {
                if (!IsWindowVisible(window)) continue;
                PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
            Sleep(100);
        }
    });

    modalCall();
    modalDone = true;
    driverThread.join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        allDone = true;
    }
    finished.notify_all();
    watchdog.join();
}

std::wstring Text(HWND window) {
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t buffer[512] = {};
    GetDlgItemTextW(dialog, id, buffer, 512);
    return buffer;
}

std::wstring TabText(HWND sheet, int index) {
    HWND tab = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
    wchar_t buffer[256] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = 256;
    SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

void PostClick(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PostMouseClick(HWND control) {
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

Pixels Capture(HWND control) {
    RECT client{};
    GetClientRect(control, &client);
    Pixels pixels;
    pixels.width = client.right;
    pixels.height = client.bottom;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, pixels.width, pixels.height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    HBRUSH magenta = CreateSolidBrush(0xFF00FF);  // shows what was not painted
    FillRect(memory, &client, magenta);
    DeleteObject(magenta);
    SendMessageW(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    for (int y = 0; y < pixels.height; ++y) {
        for (int x = 0; x < pixels.width; ++x) pixels.values.push_back(GetPixel(memory, x, y) & 0xFFFFFF);
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

}  // namespace fd::test::ui
