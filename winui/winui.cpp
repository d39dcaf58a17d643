// winui: the dialog layer's window procedures, message dispatch, data
// exchange and the standard controls. See winui.h for how to use it.
#include "winui/winui.h"

#include <algorithm>
#include <iterator>

namespace winui {

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, result.data(), length);
    return result;
}

std::string Narrow(std::wstring_view utf16) {
    if (utf16.empty()) return {};
    const int size = static_cast<int>(utf16.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, result.data(), length, nullptr, nullptr);
    return result;
}

HINSTANCE ResourceInstance() {
    static const HINSTANCE instance = [] {
        HMODULE module = nullptr;
        GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ResourceInstance), &module);
        return module;
    }();
    return instance;
}

// ---------------------------------------------------------------------------
// CWnd

const MessageMap CWnd::messageMap{nullptr, nullptr, 0};

CWnd::~CWnd() { Detach(); }

void CWnd::SetText(std::wstring_view text) { SetWindowTextW(hwnd_, std::wstring(text).c_str()); }

std::wstring CWnd::GetText() const {
    const int length = GetWindowTextLengthW(hwnd_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd_, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

void CWnd::Invalidate(bool erase) { InvalidateRect(hwnd_, nullptr, erase ? TRUE : FALSE); }
bool CWnd::EnableWindow(bool enable) { return ::EnableWindow(hwnd_, enable ? TRUE : FALSE) != 0; }
bool CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(hwnd_) != 0; }
LRESULT CWnd::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
    return SendMessageW(hwnd_, message, wParam, lParam);
}

bool CWnd::Dispatch(Msg& msg) {
    UINT id = 0;
    UINT code = 0;
    if (msg.message == WM_COMMAND) {
        id = LOWORD(msg.wParam);
        code = HIWORD(msg.wParam);
    } else if (msg.message == WM_NOTIFY && msg.lParam != 0) {
        const auto* header = reinterpret_cast<const NMHDR*>(msg.lParam);
        id = static_cast<UINT>(header->idFrom);
        code = header->code;
    }
    const bool keyed = msg.message == WM_COMMAND || msg.message == WM_NOTIFY;
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (size_t i = 0; i < map->count; ++i) {
            const MsgMapEntry& entry = map->entries[i];
            if (entry.message != msg.message) continue;
            if (keyed && (entry.id != id || entry.code != code)) continue;
            try {
                if (entry.handler(*this, msg)) return true;
            } catch (...) {
                return true;  // nothing may unwind through the window procedure
            }
        }
    }
    return false;
}

void CWnd::Attach(HWND hwnd) {
    if (hwnd_ != nullptr || hwnd == nullptr) return;
    hwnd_ = hwnd;
    subclassed_ = SetWindowSubclass(hwnd, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

void CWnd::Detach() {
    if (subclassed_ && hwnd_ != nullptr) RemoveWindowSubclass(hwnd_, SubclassProc, 0);
    subclassed_ = false;
    hwnd_ = nullptr;
}

LRESULT CWnd::DefaultProc(Msg& msg) { return DefSubclassProc(hwnd_, msg.message, msg.wParam, msg.lParam); }

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR refData) {
    auto* self = reinterpret_cast<CWnd*>(refData);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, 0);
        self->subclassed_ = false;
        self->hwnd_ = nullptr;
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    Msg msg{message, wParam, lParam};
    if (self->Dispatch(msg)) return msg.result;
    try {
        return self->DefaultProc(msg);
    } catch (...) {
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Buttons and combo boxes

void CButton::DrawItem(const DRAWITEMSTRUCT&) {}
int CButton::GetCheck() const { return static_cast<int>(Send(BM_GETCHECK)); }
void CButton::SetCheck(int check) { Send(BM_SETCHECK, static_cast<WPARAM>(check)); }

CBitmapButton::~CBitmapButton() { Release(); }

void CBitmapButton::Release() {
    for (HBITMAP& bitmap : bitmaps_) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        bitmap = nullptr;
    }
}

bool CBitmapButton::LoadBitmaps(UINT normal, UINT selected, UINT focused, UINT disabled) {
    Release();
    const UINT ids[4] = {normal, selected, focused, disabled};
    for (int i = 0; i < 4; ++i) {
        if (ids[i] == 0) continue;
        bitmaps_[i] = static_cast<HBITMAP>(LoadImageW(ResourceInstance(), MAKEINTRESOURCEW(ids[i]),
                                                      IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    }
    return bitmaps_[kNormal] != nullptr;
}

void CBitmapButton::SizeToContent() {
    BITMAP info{};
    if (hwnd_ == nullptr || bitmaps_[kNormal] == nullptr) return;
    GetObjectW(bitmaps_[kNormal], sizeof info, &info);
    SetWindowPos(hwnd_, nullptr, 0, 0, info.bmWidth, info.bmHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HBITMAP CBitmapButton::BitmapForState(UINT itemState) const {
    if ((itemState & ODS_SELECTED) && bitmaps_[kSelected]) return bitmaps_[kSelected];
    if ((itemState & ODS_FOCUS) && bitmaps_[kFocused]) return bitmaps_[kFocused];
    if ((itemState & ODS_DISABLED) && bitmaps_[kDisabled]) return bitmaps_[kDisabled];
    return bitmaps_[kNormal];
}

void CBitmapButton::DrawBitmap(const DRAWITEMSTRUCT& item, HBITMAP bitmap) {
    if (bitmap == nullptr) return;
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    HDC memory = CreateCompatibleDC(item.hDC);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const RECT& r = item.rcItem;
    BitBlt(item.hDC, r.left, r.top, std::min<LONG>(r.right - r.left, info.bmWidth),
           std::min<LONG>(r.bottom - r.top, info.bmHeight), memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void CBitmapButton::DrawItem(const DRAWITEMSTRUCT& item) { DrawBitmap(item, BitmapForState(item.itemState)); }

int CComboBox::AddString(std::wstring_view text) {
    const std::wstring copy(text);
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(copy.c_str())));
}
int CComboBox::GetCount() const { return static_cast<int>(Send(CB_GETCOUNT)); }
int CComboBox::GetCurSel() const { return static_cast<int>(Send(CB_GETCURSEL)); }
int CComboBox::SetCurSel(int index) {
    return static_cast<int>(Send(CB_SETCURSEL, static_cast<WPARAM>(index)));
}
void CComboBox::ResetContent() { Send(CB_RESETCONTENT); }

// ---------------------------------------------------------------------------
// Data exchange

void DDX_Control(CDataExchange& dx, int id, CWnd& control) {
    if (control.GetSafeHwnd() != nullptr) return;
    HWND item = dx.dialog().GetDlgItem(id);
    if (item == nullptr) return;
    control.Attach(item);
    dx.dialog().AddControl(control);
}

void DDX_Check(CDataExchange& dx, int id, int& value) {
    HWND item = dx.dialog().GetDlgItem(id);
    if (item == nullptr) return;
    if (dx.saving()) {
        value = static_cast<int>(SendMessageW(item, BM_GETCHECK, 0, 0));
    } else {
        SendMessageW(item, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    }
}

// ---------------------------------------------------------------------------
// CDialog

WINUI_BEGIN_MESSAGE_MAP(CDialog)
OnCommand<CDialog, &CDialog::CallOK>(IDOK), OnCommand<CDialog, &CDialog::CallCancel>(IDCANCEL),
    OnMessage<CDialog, &CDialog::OnDrawItem>(WM_DRAWITEM),
    WINUI_END_MESSAGE_MAP(CDialog, CWnd)

        CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    return DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(templateId_), parent_, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) { ::EndDialog(hwnd_, result); }

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    try {
        DoDataExchange(dx);
    } catch (...) {
        return false;
    }
    return true;
}

void CDialog::AddControl(CWnd& control) {
    if (std::find(controls_.begin(), controls_.end(), &control) == controls_.end())
        controls_.push_back(&control);
}

bool CDialog::OnDrawItem(Msg& msg) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(msg.lParam);
    if (item == nullptr || item->CtlType != ODT_BUTTON) return false;
    for (CWnd* control : controls_) {
        if (control->GetSafeHwnd() != item->hwndItem) continue;
        auto* button = dynamic_cast<CButton*>(control);
        if (button == nullptr) return false;
        button->DrawItem(*item);
        msg.result = TRUE;
        return true;
    }
    return false;
}

namespace {

// Messages whose result a dialog procedure returns itself instead of
// through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
            return true;
        default:
            return false;
    }
}

}  // namespace

INT_PTR CDialog::HandleDialogMessage(CDialog* self, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        self->hwnd_ = hwnd;
        try {
            CDataExchange dx(*self, false);
            self->DoDataExchange(dx);
            return self->OnInitDialog();
        } catch (...) {
            return TRUE;
        }
    }
    Msg msg{message, wParam, lParam};
    const bool handled = self->Dispatch(msg);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    if (!handled) return FALSE;
    if (ReturnsDirectly(message)) return static_cast<INT_PTR>(msg.result);
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, msg.result);
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (self == nullptr) return FALSE;  // messages before WM_INITDIALOG
    return HandleDialogMessage(self, hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// CPropertyPage

WINUI_BEGIN_MESSAGE_MAP(CPropertyPage)
OnNotify<CPropertyPage, &CPropertyPage::OnPageNotify>(0, static_cast<UINT>(PSN_SETACTIVE)),
    OnNotify<CPropertyPage, &CPropertyPage::OnPageNotify>(0, static_cast<UINT>(PSN_KILLACTIVE)),
    WINUI_END_MESSAGE_MAP(CPropertyPage, CDialog)

        PROPSHEETPAGEW CPropertyPage::PageDescription() {
    PROPSHEETPAGEW page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DEFAULT | (hasHelp_ ? PSP_HASHELP : 0);
    page.hInstance = ResourceInstance();
    page.pszTemplate = MAKEINTRESOURCEW(templateId());
    page.pfnDlgProc = PageProc;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return page;
}

bool CPropertyPage::OnPageNotify(Msg& msg) {
    const auto* header = reinterpret_cast<const NMHDR*>(msg.lParam);
    if (header->hwndFrom != GetParent(hwnd_)) return false;  // only the page's own sheet
    if (header->code == static_cast<UINT>(PSN_SETACTIVE)) {
        msg.result = OnSetActive() ? 0 : -1;
    } else {
        msg.result = OnKillActive() ? FALSE : TRUE;
    }
    return true;
}

INT_PTR CALLBACK CPropertyPage::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        // lParam is the sheet's own copy of the page description.
        const auto* page = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        self = reinterpret_cast<CPropertyPage*>(page->lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    return HandleDialogMessage(self, hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// CPropertySheet

namespace {
thread_local CPropertySheet* t_sheetBeingCreated = nullptr;
thread_local HHOOK t_initHook = nullptr;

void Unhook() {
    if (t_initHook != nullptr) UnhookWindowsHookEx(t_initHook);
    t_initHook = nullptr;
}
}  // namespace

int CALLBACK CPropertySheet::SheetCallback(HWND hwnd, UINT message, LPARAM) {
    // The sheet window exists: subclass it now, so it sees its buttons.
    if (message == PSCB_INITIALIZED && t_sheetBeingCreated != nullptr) t_sheetBeingCreated->Attach(hwnd);
    return 0;
}

// The sheet's own initialisation runs once the framework has finished its
// WM_INITDIALOG (which creates the first page and resets the buttons),
// before the sheet is shown.
LRESULT CALLBACK CPropertySheet::InitHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    CPropertySheet* self = t_sheetBeingCreated;
    if (code == HC_ACTION && call->message == WM_INITDIALOG && self != nullptr && self->hwnd_ != nullptr &&
        call->hwnd == self->hwnd_) {
        t_sheetBeingCreated = nullptr;
        const LRESULT next = CallNextHookEx(t_initHook, code, wParam, lParam);
        Unhook();
        try {
            self->OnInitDialog();
        } catch (...) {
        }
        return next;
    }
    return CallNextHookEx(t_initHook, code, wParam, lParam);
}

INT_PTR CPropertySheet::DoModal() {
    std::vector<PROPSHEETPAGEW> pages;
    pages.reserve(pages_.size());
    for (CPropertyPage* page : pages_) pages.push_back(page->PageDescription());

    PROPSHEETHEADERW header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_USECALLBACK | flags_;
    header.hwndParent = parent_;
    header.hInstance = ResourceInstance();
    header.pszCaption = caption_.c_str();
    header.nPages = static_cast<UINT>(pages.size());
    header.nStartPage = startPage_;
    header.ppsp = pages.data();
    header.pfnCallback = SheetCallback;

    result_ = IDCANCEL;
    t_sheetBeingCreated = this;
    t_initHook = SetWindowsHookExW(WH_CALLWNDPROCRET, InitHook, nullptr, GetCurrentThreadId());
    PropertySheetW(&header);
    Unhook();
    t_sheetBeingCreated = nullptr;
    return result_;
}

void CPropertySheet::EndSheet(INT_PTR result) {
    if (hwnd_ == nullptr) return;
    if (result == IDOK) {
        result_ = IDOK;
        // The framework's OK path ends the modal loop on every comctl32.
        DefSubclassProc(hwnd_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(IDOK)));
    } else {
        PropSheet_PressButton(hwnd_, PSBTN_CANCEL);
    }
}

CPropertyPage* CPropertySheet::GetActivePage() const {
    const int index = GetActiveIndex();
    return index < 0 ? nullptr : pages_[static_cast<size_t>(index)];
}

int CPropertySheet::GetActiveIndex() const {
    if (hwnd_ == nullptr) return -1;
    HWND current = PropSheet_GetCurrentPageHwnd(hwnd_);
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (current != nullptr && pages_[i]->GetSafeHwnd() == current) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace winui
