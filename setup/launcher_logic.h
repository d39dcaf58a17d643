// The setup launcher's decisions as plain functions: where the installer and
// the help folders lie beside the launcher, and how a picture button's
// hoverState follows the mouse. The Win32 launcher (CLauncherDlg,
// CHoverBitmapButton) only wires these to its window; the unit tests in
// tests/setup call them directly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fd::setup {

// Texts the launcher shows or hands to the shell.
inline constexpr const wchar_t* kWindowText = L"Davariva Vuvodude VE4.1";
inline constexpr const wchar_t* kVersionLine = L"Davariva Vuvodude VE4.1_V1.00.00";
inline constexpr const wchar_t* kInstallerName = L"english\\setup.exe";
inline constexpr const wchar_t* kShellVerb = L"open";

// Where the version line is painted on the background, in client pixels.
inline constexpr int kVersionLineX = 390;
inline constexpr int kVersionLineY = 70;

// System default language ids that have their own help folder.
inline constexpr uint16_t kLangChineseTaiwan = 0x0404;
inline constexpr uint16_t kLangEnglishUs = 0x0409;
inline constexpr uint16_t kLangChinesePrc = 0x0804;

// hoverState values of a picture button.
enum HoverState : int32_t {
    kHoverOver = 1,     // the mouse is over the button
    kHoverPressed = 2,  // the button is held down
    kHoverIdle = 3,
};

// The launcher's folder from its own full path: everything up to and including
// the last backslash; empty when there is none.
std::wstring LauncherFolder(std::wstring_view launcherPath);

// The package installer beside the launcher: <folder>english\setup.exe.
std::wstring InstallerPath(std::wstring_view launcherPath);

// The help folder for a system default language id: HELP\EN\, HELP\SI\ or
// HELP\TR\ (empty for any other language, which leaves the launcher's folder).
std::wstring_view HelpSubfolder(uint16_t languageId);
std::wstring HelpFolderPath(std::wstring_view launcherPath, uint16_t languageId);

// What a mouse event does to one button's hoverState.
struct HoverChange {
    int32_t state;
    bool repaint;  // the button must be redrawn
};
HoverChange OnButtonMouseMove(int32_t state);      // mouse moves over the button
HoverChange OnButtonPressed(int32_t state);        // left button down or double-click on it
HoverChange OnButtonReleased(int32_t state);       // left button up on it
HoverChange OnBackgroundMouseMove(int32_t state);  // mouse moves over the dialog's own surface

// Which of the button's bitmaps a hoverState shows.
enum class ButtonPicture { Normal, Selected, Focused };
ButtonPicture PictureFor(int32_t state);

}  // namespace fd::setup
