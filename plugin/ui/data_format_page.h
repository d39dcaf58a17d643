// CRuleCustizePage: the configuration sheet's data format page. "Activate"
// switches the host's custom radix display on and enables the two radio rows
// (TASK FILE and DATA), which choose a radix each, independently. The sheet's
// OK saves the page into the live settings when it was shown. The decisions
// are in data_format_rules.h.
#pragma once

#include "plugin/ui/data_format_rules.h"
#include "plugin/ui/resource_ids.h"
#include "winui/winui.h"

namespace fd::ui {

class CRuleCustizePage : public winui::CPropertyPage {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    // Without a template id: the English one.
    explicit CRuleCustizePage(UINT templateId = IDD_FORMAT_ENGLISH);

    bool initialised() const { return initialised_; }

    // The sheet's OK: always succeeds.
    bool SaveDataFormat();
    // The sheet's "Default": inactive, Hexadecimal in both rows, shown only.
    void RestoreDataFormat();

protected:
    BOOL OnInitDialog() override;

private:
    template <int ControlId>
    void OnClick() {
        Click(ControlId);
    }
    void Click(int controlId);
    void ShowChoice(const int (&radioIds)[4], int16_t choice);
    void EnableRadixControls(bool enable);

    bool initialised_ = false;
    DataFormatState state_{};
};

}  // namespace fd::ui
