// CRuleCustizePage (see data_format_page.h).
#include "plugin/ui/data_format_page.h"

#include "plugin/interface/settings.h"

namespace fd::ui {

WINUI_BEGIN_MESSAGE_MAP(CRuleCustizePage)
winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_TASK_BINARY>>(
    IDC_FORMAT_TASK_BINARY),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_TASK_DECIMAL>>(
        IDC_FORMAT_TASK_DECIMAL),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_TASK_HEX>>(IDC_FORMAT_TASK_HEX),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_TASK_ASCII>>(
        IDC_FORMAT_TASK_ASCII),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_DATA_BINARY>>(
        IDC_FORMAT_DATA_BINARY),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_DATA_DECIMAL>>(
        IDC_FORMAT_DATA_DECIMAL),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_DATA_HEX>>(IDC_FORMAT_DATA_HEX),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_DATA_ASCII>>(
        IDC_FORMAT_DATA_ASCII),
    winui::OnCommand<CRuleCustizePage, &CRuleCustizePage::OnClick<IDC_FORMAT_ACTIVATE>>(IDC_FORMAT_ACTIVATE),
    WINUI_END_MESSAGE_MAP(CRuleCustizePage, winui::CPropertyPage)

        CRuleCustizePage::CRuleCustizePage(UINT templateId)
    : CPropertyPage(templateId, /*hasHelp=*/true) {}

BOOL CRuleCustizePage::OnInitDialog() {
    initialised_ = true;
    state_ = LoadDataFormat(LiveSettings());
    CheckDlgButton(hwnd_, kActivateId, state_.active ? BST_CHECKED : BST_UNCHECKED);
    ShowChoice(kTaskFileRadioIds, state_.taskFileChoice);
    ShowChoice(kDataRadioIds, state_.dataChoice);
    EnableRadixControls(state_.active);
    return TRUE;
}

void CRuleCustizePage::Click(int controlId) {
    switch (ApplyDataFormatClick(state_, controlId)) {
        case DataFormatChange::TaskFile:
            ShowChoice(kTaskFileRadioIds, state_.taskFileChoice);
            break;
        case DataFormatChange::Data:
            ShowChoice(kDataRadioIds, state_.dataChoice);
            break;
        case DataFormatChange::Active:
            EnableRadixControls(state_.active);
            break;
        case DataFormatChange::None:
            break;
    }
}

void CRuleCustizePage::ShowChoice(const int (&radioIds)[4], int16_t choice) {
    const int shown = ShownRadix(choice);
    for (int radix = 0; radix < 4; ++radix)
        CheckDlgButton(hwnd_, radioIds[radix], radix == shown ? BST_CHECKED : BST_UNCHECKED);
}

void CRuleCustizePage::EnableRadixControls(bool enable) {
    for (int id : kRadixControlIds) ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE);
}

bool CRuleCustizePage::SaveDataFormat() {
    state_.active = IsDlgButtonChecked(hwnd_, kActivateId) == BST_CHECKED;
    ui::SaveDataFormat(state_, state_.active, LiveSettings());
    return true;
}

void CRuleCustizePage::RestoreDataFormat() {
    state_ = RestoredDataFormat();
    CheckDlgButton(hwnd_, kActivateId, BST_UNCHECKED);
    ShowChoice(kTaskFileRadioIds, state_.taskFileChoice);
    ShowChoice(kDataRadioIds, state_.dataChoice);
    EnableRadixControls(false);
}

}  // namespace fd::ui
