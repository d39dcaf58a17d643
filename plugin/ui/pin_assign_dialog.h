// CCFPinAssign: the modal pin assignment dialog behind the setup page's
// "Custom Settings". Twelve drop-down boxes list the capture's channels in
// list order (the channel number as item data); OK stores the eleven roles'
// channel numbers in the working copy of the settings, or refuses and stays
// open. The decisions are in pin_assign_rules.h.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "plugin/ui/pin_assign_rules.h"
#include "winui/winui.h"

namespace fd::ui {

class CCFPinAssign : public winui::CDialog {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    CCFPinAssign(UINT templateId, HWND parent);

protected:
    void DoDataExchange(winui::CDataExchange& dx) override;
    BOOL OnInitDialog() override;
    // Enter and a stray IDOK end the dialog only through validation too.
    void OnOK() override { ValidateAndStore(); }

private:
    void ValidateAndStore();
    void UpdateLastDataChannel();
    void OnDataChannelChange() { UpdateLastDataChannel(); }
    void OnDefault();
    void SelectPositions(const PinPositions& positions);

    std::array<winui::CComboBox, kPinRoleCount> roleBoxes_;  // in role order
    winui::CComboBox lastDataBox_;                           // D15, display only
    std::array<int32_t, kPinRoleCount> storedNumbers_{};     // the working copy's, at initialisation
    std::vector<int32_t> channelNumbers_;                    // item data of every box, in list order
};

}  // namespace fd::ui
