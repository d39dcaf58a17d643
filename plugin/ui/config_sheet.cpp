// CCFSheet (see config_sheet.h).
#include "plugin/ui/config_sheet.h"

#include "plugin/interface/strings.h"
#include "plugin/ui/resource_ids.h"

namespace fd::ui {

WINUI_BEGIN_MESSAGE_MAP(CCFSheet)
winui::OnCommand<CCFSheet, &CCFSheet::OnOK>(IDOK),
    winui::OnMessage<CCFSheet, &CCFSheet::OnPressButton>(PSM_PRESSBUTTON),
    winui::OnCommand<CCFSheet, &CCFSheet::OnDefault>(IDC_SHEET_APPLY),
    winui::OnCommand<CCFSheet, &CCFSheet::OnHelp>(IDC_SHEET_HELP),
    WINUI_END_MESSAGE_MAP(CCFSheet, winui::CPropertySheet)

        CCFSheet::CCFSheet(std::wstring caption, HWND parent, UINT selectPage, int32_t language)
    : CPropertySheet(std::move(caption), parent, selectPage), language_(language) {
    // No help flag of the sheet's own: the pages announce help.
    sheetFlags() &= ~static_cast<DWORD>(PSH_HASHELP);
    const SheetTemplates templates = TemplatesFor(language);
    setupPage_ = std::make_unique<CCFSetup1>(static_cast<UINT>(templates.setup), language);
    packetPage_ = std::make_unique<CCFPackage2>(static_cast<UINT>(templates.packet));
    dataFormatPage_ = std::make_unique<CRuleCustizePage>(static_cast<UINT>(templates.dataFormat));
    AddPage(setupPage_.get());
    AddPage(packetPage_.get());
    AddPage(dataFormatPage_.get());
}

CCFSheet::~CCFSheet() = default;

namespace {

void SetCaption(HWND sheet, int control, int stringId) {
    SetDlgItemTextW(sheet, control, winui::Widen(LoadLocalizedString(stringId)).c_str());
}

}  // namespace

BOOL CCFSheet::OnInitDialog() {
    SetCaption(hwnd_, IDOK, kStrOk);
    SetCaption(hwnd_, IDCANCEL, kStrCancel);
    SetCaption(hwnd_, IDC_SHEET_HELP, kStrHelp);
    // "Default" stands where Apply stood, enabled for the life of the sheet.
    SetCaption(hwnd_, IDC_SHEET_APPLY, kStrDefault);
    ::EnableWindow(GetDlgItem(IDC_SHEET_APPLY), TRUE);
    return TRUE;
}

bool CCFSheet::PageInitialised(SheetPage page) const {
    switch (page) {
        case SheetPage::kSetup:
            return setupPage_->initialised();
        case SheetPage::kPacket:
            return packetPage_->initialised();
        case SheetPage::kDataFormat:
            return dataFormatPage_->initialised();
    }
    return false;
}

void CCFSheet::Run(SheetStep step) {
    switch (step) {
        case SheetStep::kSaveSetupPage:
            setupPage_->SaveSetupPage();
            break;
        case SheetStep::kStoreMode:
            setupPage_->StoreMode();
            break;
        case SheetStep::kRestoreSetupDefaults:
            setupPage_->RestoreSetupDefaults();
            break;
        case SheetStep::kSavePacketColours:
            packetPage_->SavePacketColours();
            break;
        case SheetStep::kSavePacketChecks:
            packetPage_->SavePacketChecks();
            break;
        case SheetStep::kRestorePacketColours:
            packetPage_->RestorePacketColours();
            break;
        case SheetStep::kCheckAllPacketItems:
            packetPage_->CheckAllPacketItems();
            break;
        case SheetStep::kSaveDataFormat:
            dataFormatPage_->SaveDataFormat();
            break;
        case SheetStep::kRestoreDataFormat:
            dataFormatPage_->RestoreDataFormat();
            break;
    }
}

void CCFSheet::OnOK() {
    const std::array<bool, kSheetPageCount> initialised = {PageInitialised(SheetPage::kSetup),
                                                           PageInitialised(SheetPage::kPacket),
                                                           PageInitialised(SheetPage::kDataFormat)};
    for (SheetStep step : OkSteps(initialised)) Run(step);
    EndSheet(IDOK);
}

// comctl32 takes PSM_PRESSBUTTON's OK straight to its own OK path, past the
// WM_COMMAND above: run ours, which saves and then takes that path.
bool CCFSheet::OnPressButton(winui::Msg& msg) {
    if (msg.wParam != PSBTN_OK) return false;
    OnOK();
    msg.result = TRUE;
    return true;
}

void CCFSheet::OnDefault() {
    winui::CPropertyPage* page = GetActivePage();
    if (page == nullptr) return;
    page->UpdateData(true);
    for (SheetStep step : DefaultSteps(GetActiveIndex())) Run(step);
}

void CCFSheet::OnHelp() {
    char executable[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, executable, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;  // failed or truncated: no sensible path
    const std::string path = HelpFilePath(executable, language_);
    if (!path.empty()) OpenHelpFile(hwnd_, path);
}

void OpenHelpFile(HWND caller, const std::string& path) {
    using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
    static HtmlHelpFn htmlHelp = [] {
        HMODULE viewer = LoadLibraryW(L"hhctrl.ocx");
        return viewer ? reinterpret_cast<HtmlHelpFn>(
                            reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpA")))
                      : nullptr;
    }();
    if (htmlHelp != nullptr) htmlHelp(caller, path.c_str(), 0 /* display topic */, 0);
}

}  // namespace fd::ui
