// The setup launcher's plain decisions; see launcher_logic.h.
#include "setup/launcher_logic.h"

namespace fd::setup {

std::wstring LauncherFolder(std::wstring_view launcherPath) {
    size_t cut = launcherPath.rfind(L'\\');
    return cut == std::wstring_view::npos ? std::wstring() : std::wstring(launcherPath.substr(0, cut + 1));
}

std::wstring InstallerPath(std::wstring_view launcherPath) {
    return LauncherFolder(launcherPath) + kInstallerName;
}

std::wstring_view HelpSubfolder(uint16_t languageId) {
    switch (languageId) {
        case kLangChineseTaiwan:
            return L"HELP\\TR\\";
        case kLangEnglishUs:
            return L"HELP\\EN\\";
        case kLangChinesePrc:
            return L"HELP\\SI\\";
        default:
            return {};
    }
}

std::wstring HelpFolderPath(std::wstring_view launcherPath, uint16_t languageId) {
    return LauncherFolder(launcherPath) + std::wstring(HelpSubfolder(languageId));
}

HoverChange OnButtonMouseMove(int32_t state) {
    if (state == kHoverOver || state == kHoverPressed) return {state, false};
    return {kHoverOver, true};
}

HoverChange OnButtonPressed(int32_t) { return {kHoverPressed, true}; }

HoverChange OnButtonReleased(int32_t) { return {kHoverOver, true}; }

HoverChange OnBackgroundMouseMove(int32_t state) {
    if (state == kHoverIdle) return {state, false};
    return {kHoverIdle, true};
}

ButtonPicture PictureFor(int32_t state) {
    switch (state) {
        case kHoverOver:
            return ButtonPicture::Focused;
        case kHoverPressed:
            return ButtonPicture::Selected;
        default:
            return ButtonPicture::Normal;
    }
}

}  // namespace fd::setup
