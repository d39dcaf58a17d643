// CCFSheet: the modal configuration sheet that ShowSettingsDialog opens. It
// owns its pages (added in order: setup, then packet and data format), saves
// every initialised page on OK (its button, Enter, or PSM_PRESSBUTTON from
// anyone who presses it through the sheet), resets the page in front on "Default" (the
// Apply button's place) and opens the help file on Help.
#pragma once

#include <memory>
#include <string>

#include "plugin/ui/data_format_page.h"
#include "plugin/ui/packet_page.h"
#include "plugin/ui/setup_page.h"
#include "plugin/ui/sheet_logic.h"
#include "winui/winui.h"

namespace fd::ui {

class CCFSheet : public winui::CPropertySheet {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    CCFSheet(std::wstring caption, HWND parent, UINT selectPage, int32_t language);
    ~CCFSheet() override;

protected:
    BOOL OnInitDialog() override;

private:
    void OnOK();
    bool OnPressButton(winui::Msg& msg);
    void OnDefault();
    void OnHelp();

    bool PageInitialised(SheetPage page) const;
    void Run(SheetStep step);

    std::unique_ptr<CCFSetup1> setupPage_;
    std::unique_ptr<CCFPackage2> packetPage_;
    std::unique_ptr<CRuleCustizePage> dataFormatPage_;
    int32_t language_;
};

// Opens `path` with HTML Help (hhctrl.ocx, loaded on first use); a missing
// file or viewer stays silent.
void OpenHelpFile(HWND caller, const std::string& path);

}  // namespace fd::ui
