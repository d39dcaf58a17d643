// CCFPackage2 (see packet_page.h).
#include "plugin/ui/packet_page.h"

namespace fd::ui {

CCFPackage2::CCFPackage2(UINT templateId) : CPropertyPage(templateId, /*hasHelp=*/true) {}

void CCFPackage2::DoDataExchange(winui::CDataExchange& dx) {
    for (size_t row = 0; row < kPacketItemCount; ++row) {
        winui::DDX_Check(dx, kPacketRows[row].checkBoxId, values_.check[row]);
        winui::DDX_Control(dx, kPacketRows[row].colourButtonId, colourButtons_[row]);
    }
}

BOOL CCFPackage2::OnInitDialog() {
    LoadPacketItems();
    initialised_ = true;
    return TRUE;
}

void CCFPackage2::LoadPacketItems() {
    ui::LoadPacketItems(values_);
    for (size_t row = 0; row < kPacketItemCount; ++row) colourButtons_[row].SetColor(values_.colour[row]);
    UpdateData(false);
}

void CCFPackage2::SavePacketColours() {
    for (size_t row = 0; row < kPacketItemCount; ++row) values_.colour[row] = colourButtons_[row].GetColor();
    ui::SavePacketColours(values_);
}

void CCFPackage2::SavePacketChecks() {
    UpdateData(true);
    ui::SavePacketChecks(values_);
}

void CCFPackage2::RestorePacketColours() {
    ui::RestorePacketColours(values_);
    for (size_t row = 0; row < kPacketItemCount; ++row) {
        colourButtons_[row].SetColor(values_.colour[row]);
        colourButtons_[row].Redraw();
    }
}

void CCFPackage2::CheckAllPacketItems() {
    ui::CheckAllPacketItems(values_);
    UpdateData(false);
}

}  // namespace fd::ui
