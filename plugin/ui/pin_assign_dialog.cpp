// CCFPinAssign (see pin_assign_dialog.h) and the setup page's entry to it.
#include "plugin/ui/pin_assign_dialog.h"

#include <algorithm>

#include "plugin/interface/module_state.h"
#include "plugin/interface/settings.h"
#include "plugin/interface/strings.h"
#include "plugin/ui/pin_assign.h"

namespace fd::ui {

WINUI_BEGIN_MESSAGE_MAP(CCFPinAssign)
winui::OnCommand<CCFPinAssign, &CCFPinAssign::ValidateAndStore>(IDC_PIN_OK),
    winui::OnCommand<CCFPinAssign, &CCFPinAssign::OnDataChannelChange>(IDC_PIN_D0, CBN_SELCHANGE),
    winui::OnCommand<CCFPinAssign, &CCFPinAssign::OnDefault>(IDC_PIN_DEFAULT),
    WINUI_END_MESSAGE_MAP(CCFPinAssign, winui::CDialog)

        CCFPinAssign::CCFPinAssign(UINT templateId, HWND parent)
    : CDialog(templateId, parent) {}

void CCFPinAssign::DoDataExchange(winui::CDataExchange& dx) {
    for (int role = 0; role < kPinRoleCount; ++role)
        winui::DDX_Control(dx, kPinBoxIds[role], roleBoxes_[static_cast<size_t>(role)]);
    winui::DDX_Control(dx, kLastDataBoxId, lastDataBox_);
}

BOOL CCFPinAssign::OnInitDialog() {
    const FdDecoderSettings& working = WorkingSettings();
    std::copy(std::begin(working.channel), std::end(working.channel), storedNumbers_.begin());

    // Entries are appended in list order and never sorted, so an entry's
    // index is its channel's position in every box.
    const std::vector<PinChannel> channels = ListPinChannels(CurrentCapture());
    channelNumbers_.clear();
    for (const PinChannel& channel : channels) {
        const std::wstring name = winui::Widen(channel.name);
        for (int role = 0; role <= kPinRoleCount; ++role) {
            winui::CComboBox& box =
                role < kPinRoleCount ? roleBoxes_[static_cast<size_t>(role)] : lastDataBox_;
            const int index = box.AddString(name);
            if (index >= 0)
                box.Send(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(channel.number));
        }
        channelNumbers_.push_back(channel.number);
    }

    SelectPositions(InitialPinPositions(channelNumbers_, working.channel));
    lastDataBox_.EnableWindow(false);
    return TRUE;
}

void CCFPinAssign::SelectPositions(const PinPositions& positions) {
    for (int role : kPinSelectOrderBeforeLastData)
        roleBoxes_[static_cast<size_t>(role)].SetCurSel(positions[static_cast<size_t>(role)]);
    UpdateLastDataChannel();
    for (int role : kPinSelectOrderAfterLastData)
        roleBoxes_[static_cast<size_t>(role)].SetCurSel(positions[static_cast<size_t>(role)]);
}

void CCFPinAssign::UpdateLastDataChannel() {
    const winui::CComboBox& d0 = roleBoxes_[FdChannelD0];
    lastDataBox_.SetCurSel(LastDataPosition(d0.GetCurSel(), d0.GetCount()));
}

void CCFPinAssign::OnDefault() { SelectPositions(DefaultPinPositions()); }

void CCFPinAssign::ValidateAndStore() {
    PinPositions positions{};
    for (int role = 0; role < kPinRoleCount; ++role)
        positions[static_cast<size_t>(role)] = roleBoxes_[static_cast<size_t>(role)].GetCurSel();
    const PinVerdict verdict = ValidatePinChoice(positions, lastDataBox_.GetCurSel(), channelNumbers_);
    if (verdict.refusalId != 0) {
        // Owned by the dialog, which stays open with the user's selection,
        // and titled like it, so it speaks the dialog's language.
        MessageBoxW(hwnd_, winui::Widen(LoadLocalizedString(verdict.refusalId)).c_str(), GetText().c_str(),
                    MB_OK | MB_ICONWARNING);
        return;
    }
    std::copy(verdict.numbers.begin(), verdict.numbers.end(), WorkingSettings().channel);
    EndDialog(IDOK);
}

void RunPinAssignment(int templateId) {
    // The sheet in front owns the dialog, so it cannot be used meanwhile.
    CCFPinAssign dialog(static_cast<UINT>(templateId), GetActiveWindow());
    dialog.DoModal();
}

}  // namespace fd::ui
