// render_ui LANGUAGE [SECONDS [VIEW]]: opens the configuration sheet of the
// built plug-in for a capture in that language (0 English, 1 Simplified, 2
// Traditional), brings VIEW to the front (setup, packet or format: a page of
// the sheet; pins: the pin assignment dialog over it), prints "READY x y
// width height" (that window's screen rectangle) once it is shown, holds it
// open, then cancels it. Used by scripts/render-ui to take screenshots under
// Xvfb.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/loader/plugin_library.h"
#include "host/model/capture_image.h"
#include "tests/plugin/ui/win/ui_driver.h"

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) {
        std::fprintf(stderr, "usage: render_ui LANGUAGE [SECONDS [setup|packet|format|pins]]\n");
        return 2;
    }
    const int32_t language = std::atoi(argv[1]);
    const int hold = argc > 2 ? std::atoi(argv[2]) : 4;
    const std::string view = argc > 3 ? argv[3] : "setup";
    const int page = view == "packet" ? 1 : view == "format" ? 2 : 0;
    try {
        fd::host::PluginLibrary plugin(fd::host::PluginLibrary::DefaultPath());
        std::vector<fd::host::ChannelSpec> channels;
        for (int i = 0; i < 26; ++i) channels.push_back({"CH" + std::to_string(i), i, {0}});
        fd::host::CaptureImage capture(std::move(channels), 1000);
        capture.SetLanguage(language);
        plugin.table().SetCapture(0, capture.capture());
        bool shown = false;
        fd::test::ui::RunDriven(
            [&](fd::test::ui::Driver& d) {
                HWND sheet = d.WaitForSheet();
                if (sheet == nullptr) return;
                HWND front = sheet;
                SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(page), 0);
                if (view == "pins") {
                    HWND setup = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
                    fd::test::ui::PostClick(setup, 15001);  // "Custom Settings"
                    front = d.WaitFor([](HWND w) { return GetDlgItem(w, 15036) != nullptr; });
                    if (front == nullptr) return;
                }
                Sleep(front == sheet ? 300 : 1500);  // let it paint (a dialog over the sheet takes longer)
                RECT r{};
                GetWindowRect(front, &r);
                std::printf("READY %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
                shown = true;
                Sleep(static_cast<DWORD>(hold) * 1000);
                if (front != sheet) {
                    fd::test::ui::PostClick(front, IDCANCEL);
                    d.WaitGone(front);
                }
                fd::test::ui::PostClick(sheet, IDCANCEL);
            },
            [&] { plugin.table().ShowSettingsDialog(); });
        return shown ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "render_ui: %s\n", e.what());
        return 1;
    }
}
