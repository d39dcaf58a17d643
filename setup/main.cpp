// The setup launcher's entry point: the application object runs the
// launcher dialog; the program ends when it closes.
#include <windows.h>

#include "setup/launcher_dlg.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    fd::setup::CLauncherApp app;
    app.InitInstance();
    return 0;
}
