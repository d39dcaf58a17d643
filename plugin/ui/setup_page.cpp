// CCFSetup1 (see setup_page.h).
#include "plugin/ui/setup_page.h"

#include "plugin/interface/settings.h"
#include "plugin/ui/pin_assign.h"
#include "plugin/ui/resource_ids.h"
#include "plugin/ui/sheet_logic.h"

namespace fd::ui {

const std::array<int, FdColourCount> kColourButtonIds = {
    IDC_COLOUR_READ,         IDC_COLOUR_WRITE,     IDC_COLOUR_ERROR_REGISTER, IDC_COLOUR_FEATURES,
    IDC_COLOUR_STATUS,       IDC_COLOUR_COMMAND,   IDC_COLOUR_ADDRESS,        IDC_COLOUR_DATA,
    IDC_COLOUR_SECTOR_COUNT, IDC_COLOUR_SECTOR_NO, IDC_COLOUR_CYLINDER_LOW,   IDC_COLOUR_CYLINDER_HIGH,
    IDC_COLOUR_CARD_HEAD,
};

WINUI_BEGIN_MESSAGE_MAP(CCFSetup1)
winui::OnMessage<CCFSetup1, &CCFSetup1::OnPaint>(WM_PAINT),
    winui::OnCommand<CCFSetup1, &CCFSetup1::OnCustomSettings>(IDC_CUSTOM_SETTINGS),
    WINUI_END_MESSAGE_MAP(CCFSetup1, winui::CPropertyPage)

        CCFSetup1::CCFSetup1(UINT templateId, int32_t language)
    : CPropertyPage(templateId, /*hasHelp=*/true), language_(language) {}

void CCFSetup1::DoDataExchange(winui::CDataExchange& dx) {
    winui::DDX_Control(dx, IDC_MODE_BOX, modeBox_);
    winui::DDX_Control(dx, IDC_CUSTOM_SETTINGS, customSettingsButton_);
    for (int i = 0; i < FdColourCount; ++i) winui::DDX_Control(dx, kColourButtonIds[i], colourButtons_[i]);
}

BOOL CCFSetup1::OnInitDialog() {
    const FdDecoderSettings& live = LiveSettings();
    WorkingSettings() = live;
    colours_ = SettingsColours(live);
    modeBox_.AddString(L"True IDE Mode");
    modeBox_.SetCurSel(ModeSelection(live.mode));
    for (int i = 0; i < FdColourCount; ++i) colourButtons_[i].SetColor(colours_[i]);
    initialised_ = true;
    return TRUE;
}

bool CCFSetup1::OnPaint(winui::Msg&) {
    PAINTSTRUCT paint;  // the page draws nothing of its own
    BeginPaint(hwnd_, &paint);
    EndPaint(hwnd_, &paint);
    return true;
}

void CCFSetup1::OnCustomSettings() { RunPinAssignment(TemplatesFor(language_).pinAssignment); }

void CCFSetup1::SaveSetupPage() {
    std::array<uint32_t, FdColourCount> colours{};
    for (int i = 0; i < FdColourCount; ++i) colours[i] = colourButtons_[i].GetColor();
    ui::SaveSetupPage(LiveSettings(), WorkingSettings(), colours);
}

bool CCFSetup1::StoreMode() {
    ui::StoreMode(LiveSettings(), modeBox_.GetCurSel());
    return true;
}

void CCFSetup1::RestoreSetupDefaults() {
    modeBox_.SetCurSel(kSetupDefaultMode);
    const auto defaults = SetupDefaultColours();
    for (int i = 0; i < FdColourCount; ++i) {
        colourButtons_[i].SetColor(defaults[i]);
        colourButtons_[i].Redraw();
    }
}

}  // namespace fd::ui
