// winui: our small Win32 dialog layer, shared by the plug-in's configuration
// sheet and the setup launcher. Classes carry the names of the dialog classes
// they stand in for: CWnd, CDialog, CPropertyPage, CPropertySheet, CButton,
// CComboBox, CBitmapButton.
//
// How to use it:
//   class CMyDlg : public winui::CDialog {
//       WINUI_DECLARE_MESSAGE_MAP()
//   public:
//       CMyDlg() : CDialog(IDD_MY) {}
//   protected:
//       void DoDataExchange(winui::CDataExchange& dx) override {
//           winui::DDX_Control(dx, IDC_PICTURE, picture_);   // attach once
//       }
//       BOOL OnInitDialog() override { ...; return TRUE; }
//       void OnPicture() { ... }
//       winui::CBitmapButton picture_;
//   };
//   // in the .cpp: a static table, chained to the base class's map
//   WINUI_BEGIN_MESSAGE_MAP(CMyDlg)
//       winui::OnCommand<CMyDlg, &CMyDlg::OnPicture>(IDC_PICTURE),
//       winui::OnMessage<CMyDlg, &CMyDlg::OnPaint>(WM_PAINT),
//   WINUI_END_MESSAGE_MAP(CMyDlg, winui::CDialog)
//
// - Dialogs pass `this` through DialogBoxParam, pages through the page's
//   lParam; both keep it in DWLP_USER. The sheet is subclassed from its
//   PSCB_INITIALIZED callback; its OnInitDialog runs when the framework's
//   WM_INITDIALOG has returned (a thread hook for the time of creation). Attached controls are subclassed so
//   their own message maps see mouse and enable messages.
// - A message handler returns true when it handled the message and leaves its
//   result in Msg::result; the layer returns it the way the dialog manager
//   wants (DWLP_MSGRESULT or directly).
// - WM_DRAWITEM reaches the attached control's DrawItem (owner-drawn buttons).
// - Every resource comes from the module this layer is linked into (the
//   plug-in DLL or the launcher), never from the host's executable.
// - Handlers run under a catch-all: no exception crosses a window procedure.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace winui {

// The Apply button of a property sheet; neither header set defines it.
inline constexpr int kIdApplyNow = 0x3021;

// UTF-8 <-> UTF-16 for the W functions.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The module this layer is linked into: where templates, strings and
// bitmaps are loaded from.
HINSTANCE ResourceInstance();

struct Msg {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
};

class CWnd;
using Handler = bool (*)(CWnd& target, Msg& msg);

// One entry of a message map: `message`, and for WM_COMMAND and WM_NOTIFY
// also the control id and notification code it answers.
struct MsgMapEntry {
    UINT message;
    UINT id;
    UINT code;
    Handler handler;
};

struct MessageMap {
    const MessageMap* base;
    const MsgMapEntry* entries;
    size_t count;

    constexpr MessageMap(const MessageMap* baseMap, const MsgMapEntry* first, size_t n)
        : base(baseMap), entries(first), count(n) {}
    template <size_t N>
    constexpr MessageMap(const MessageMap* baseMap, const MsgMapEntry (&table)[N])
        : base(baseMap), entries(table), count(N) {}
};

// Adapters that make a map entry from a member function, type-checked.
template <class T, void (T::*F)()>
bool CallCommand(CWnd& target, Msg&) {
    (static_cast<T&>(target).*F)();
    return true;
}
template <class T, bool (T::*F)(Msg&)>
bool CallMessage(CWnd& target, Msg& msg) {
    return (static_cast<T&>(target).*F)(msg);
}

// Click (or other `code`) of control `id`: `void T::F()`.
template <class T, void (T::*F)()>
constexpr MsgMapEntry OnCommand(UINT id, UINT code = BN_CLICKED) {
    return {WM_COMMAND, id, code, &CallCommand<T, F>};
}
// Any message: `bool T::F(Msg&)`, true when handled.
template <class T, bool (T::*F)(Msg&)>
constexpr MsgMapEntry OnMessage(UINT message) {
    return {message, 0, 0, &CallMessage<T, F>};
}
// A WM_NOTIFY `code` from control `id`: `bool T::F(Msg&)`.
template <class T, bool (T::*F)(Msg&)>
constexpr MsgMapEntry OnNotify(UINT id, UINT code) {
    return {WM_NOTIFY, id, code, &CallMessage<T, F>};
}

// In a class: declares its message map (public GetMessageMap and messageMap,
// a private table of entries).
#define WINUI_DECLARE_MESSAGE_MAP()                                                   \
public:                                                                               \
    const ::winui::MessageMap* GetMessageMap() const override { return &messageMap; } \
    static const ::winui::MessageMap messageMap;                                      \
                                                                                      \
private:                                                                              \
    static const ::winui::MsgMapEntry messageEntries[];

// In the .cpp: the entries (class scope, so private handlers may be named),
// then the map chained to the base class's.
#define WINUI_BEGIN_MESSAGE_MAP(Class) const ::winui::MsgMapEntry Class::messageEntries[] = {
#define WINUI_END_MESSAGE_MAP(Class, Base) \
    }                                      \
    ;                                      \
    const ::winui::MessageMap Class::messageMap{&Base::messageMap, Class::messageEntries};

class CDataExchange;
class CDialog;

// A window this layer knows: a dialog, a page, a sheet or an attached
// control.
class CWnd {
public:
    CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    virtual ~CWnd();

    HWND GetSafeHwnd() const { return hwnd_; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(hwnd_, id); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(hwnd_); }

    // (Not SetWindowText/SendMessage: those names are macros in windows.h.)
    void SetText(std::wstring_view text);
    std::wstring GetText() const;
    void Invalidate(bool erase = true);
    bool EnableWindow(bool enable = true);
    bool IsWindowEnabled() const;
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    virtual const MessageMap* GetMessageMap() const { return &messageMap; }
    static const MessageMap messageMap;

    // Looks `msg` up in this window's map chain and runs the first match.
    bool Dispatch(Msg& msg);

    // Attaches this object to an existing control and subclasses it, so its
    // own message map runs; a control is attached once.
    void Attach(HWND hwnd);
    void Detach();

protected:
    // What an attached control does with a message its map does not handle.
    virtual LRESULT DefaultProc(Msg& msg);

    HWND hwnd_ = nullptr;

private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR idSubclass, DWORD_PTR refData);
    bool subclassed_ = false;

    friend class CPropertySheet;
};

// A push button. Owner-drawn buttons override DrawItem.
class CButton : public CWnd {
public:
    virtual void DrawItem(const DRAWITEMSTRUCT& item);
    int GetCheck() const;
    void SetCheck(int check);
};

// A picture button holding up to four bitmaps: normal, selected (pressed),
// focused and disabled. The template control must be BS_OWNERDRAW.
class CBitmapButton : public CButton {
public:
    ~CBitmapButton() override;
    // Ids of bitmap resources; 0 leaves that state without its own picture.
    bool LoadBitmaps(UINT normal, UINT selected = 0, UINT focused = 0, UINT disabled = 0);
    // Resizes the control to the normal bitmap.
    void SizeToContent();
    void DrawItem(const DRAWITEMSTRUCT& item) override;

    enum Picture { kNormal, kSelected, kFocused, kDisabled };
    HBITMAP GetBitmap(Picture which) const { return bitmaps_[which]; }
    // The bitmap an item state shows (falls back to normal).
    HBITMAP BitmapForState(UINT itemState) const;
    // Copies `bitmap` unscaled to the item rectangle's top-left, clipped.
    static void DrawBitmap(const DRAWITEMSTRUCT& item, HBITMAP bitmap);

private:
    void Release();
    HBITMAP bitmaps_[4] = {};
};

// A drop-down list.
class CComboBox : public CWnd {
public:
    int AddString(std::wstring_view text);
    int GetCount() const;
    int GetCurSel() const;  // CB_ERR (-1) when nothing is selected
    int SetCurSel(int index);
    void ResetContent();
};

// The data-exchange step: the loading direction attaches controls (and
// pushes member values into controls), the saving direction pulls values.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}
    bool saving() const { return save_; }
    CDialog& dialog() const { return dialog_; }

private:
    CDialog& dialog_;
    bool save_;
};

// Attaches `control` to the dialog's control `id` (once) and records it for
// owner-draw dispatch.
void DDX_Control(CDataExchange& dx, int id, CWnd& control);
// A check box <-> 0/1/2.
void DDX_Check(CDataExchange& dx, int id, int& value);

// A modal dialog from a template of ResourceInstance().
class CDialog : public CWnd {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    explicit CDialog(UINT templateId, HWND parent = nullptr) : templateId_(templateId), parent_(parent) {}
    ~CDialog() override;

    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    // Runs the data exchange: false loads, true saves.
    bool UpdateData(bool saveAndValidate = true);

    // Remembers an attached control (DDX_Control does this).
    void AddControl(CWnd& control);
    UINT templateId() const { return templateId_; }

protected:
    virtual void DoDataExchange(CDataExchange&) {}
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    // The dialog procedure shared with property pages once `self` is known.
    static INT_PTR HandleDialogMessage(CDialog* self, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool OnDrawItem(Msg& msg);
    void CallOK() { OnOK(); }
    void CallCancel() { OnCancel(); }

    UINT templateId_;
    HWND parent_;
    std::vector<CWnd*> controls_;
};

// A page of a property sheet.
class CPropertyPage : public CDialog {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    explicit CPropertyPage(UINT templateId, bool hasHelp = false) : CDialog(templateId), hasHelp_(hasHelp) {}

    // The page description the sheet hands to PropertySheet.
    PROPSHEETPAGEW PageDescription();
    bool HasHelp() const { return hasHelp_; }
    void SetHasHelp(bool hasHelp) { hasHelp_ = hasHelp; }

protected:
    virtual BOOL OnSetActive() { return TRUE; }
    virtual BOOL OnKillActive() { return TRUE; }

private:
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool OnPageNotify(Msg& msg);

    bool hasHelp_;
};

// A modal property sheet. Pages are added in order and owned by the caller.
class CPropertySheet : public CWnd {
public:
    CPropertySheet(std::wstring caption, HWND parent = nullptr, UINT startPage = 0)
        : caption_(std::move(caption)), parent_(parent), startPage_(startPage) {}

    void AddPage(CPropertyPage* page) { pages_.push_back(page); }
    int GetPageCount() const { return static_cast<int>(pages_.size()); }
    CPropertyPage* GetPage(int index) const { return pages_[static_cast<size_t>(index)]; }
    // The page in front, or null / -1 before the sheet is shown.
    CPropertyPage* GetActivePage() const;
    int GetActiveIndex() const;

    // IDOK when the sheet's own OK ended it (EndSheet(IDOK)), else IDCANCEL.
    INT_PTR DoModal();
    // Ends the modal run with `result` through the framework's own handling
    // of that button (IDOK: its OK path, anything else: Cancel). Call it from
    // a handler of the sheet's own messages (its message map).
    void EndSheet(INT_PTR result);

    const std::wstring& caption() const { return caption_; }
    DWORD& sheetFlags() { return flags_; }

protected:
    // Runs after the framework's own initialisation (first page created),
    // before the sheet is shown.
    virtual BOOL OnInitDialog() { return TRUE; }

private:
    static int CALLBACK SheetCallback(HWND hwnd, UINT message, LPARAM lParam);
    static LRESULT CALLBACK InitHook(int code, WPARAM wParam, LPARAM lParam);

    std::wstring caption_;
    HWND parent_;
    UINT startPage_;
    DWORD flags_ = 0;
    std::vector<CPropertyPage*> pages_;
    INT_PTR result_ = IDCANCEL;
};

}  // namespace winui
