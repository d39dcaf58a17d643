// CCFSetup1: the configuration sheet's first page: the decoding mode, the
// thirteen record colours and the button that opens the pin assignment
// dialog. It edits the working copy of the settings; the sheet's OK saves it.
#pragma once

#include <array>
#include <cstdint>

#include "plugin/interface/host_abi.h"
#include "plugin/ui/colour_button.h"
#include "winui/winui.h"

namespace fd::ui {

class CCFSetup1 : public winui::CPropertyPage {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    CCFSetup1(UINT templateId, int32_t language);

    bool initialised() const { return initialised_; }

    // The sheet's OK: the working copy over the live settings, then the
    // buttons' colours; then the mode box's selection.
    void SaveSetupPage();
    bool StoreMode();
    // The sheet's "Default": mode entry 0 and the default colours, shown
    // only; nothing is stored until OK.
    void RestoreSetupDefaults();

    CCFColorButton& colourButton(int index) { return colourButtons_[static_cast<size_t>(index)]; }

protected:
    void DoDataExchange(winui::CDataExchange& dx) override;
    BOOL OnInitDialog() override;

private:
    bool OnPaint(winui::Msg& msg);
    void OnCustomSettings();

    std::array<uint32_t, FdColourCount> colours_{};
    bool initialised_ = false;
    winui::CComboBox modeBox_;
    winui::CButton customSettingsButton_;
    std::array<CCFColorButton, FdColourCount> colourButtons_;
    int32_t language_;
};

// The colour buttons' control ids, in the colour order of the settings.
extern const std::array<int, FdColourCount> kColourButtonIds;

}  // namespace fd::ui
