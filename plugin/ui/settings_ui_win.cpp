// The configuration user interface on Windows: the refusal message box and
// the modal configuration sheet, in the capture's language.
#include <windows.h>

#include <commctrl.h>

#include "plugin/interface/module_state.h"
#include "plugin/interface/strings.h"
#include "plugin/ui/config_sheet.h"
#include "plugin/ui/settings_ui.h"
#include "winui/winui.h"

namespace fd {

// The refusal stands in for the sheet, so it carries the sheet's caption.
void ShowRefusal(const std::string& text) {
    std::string title = LoadLocalizedString(kStrSheetCaption);
    const FdCapture* capture = CurrentCapture();
    if (capture != nullptr && capture->busName.text != nullptr) title += capture->busName.text;
    MessageBoxW(nullptr, winui::Widen(text).c_str(), winui::Widen(title).c_str(), MB_OK | MB_ICONWARNING);
}

bool RunConfigurationSheet(const std::string& caption) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    const FdCapture* capture = CurrentCapture();
    const int32_t language = capture != nullptr ? capture->language : FdLanguageEnglish;
    ui::CCFSheet sheet(winui::Widen(caption), nullptr, 0, language);
    return sheet.DoModal() == IDOK;
}

}  // namespace fd
