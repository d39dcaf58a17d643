// The launcher's picture button; the hoverState rules live in
// launcher_logic.cpp, this class only follows the mouse and paints.
#include "setup/hover_bitmap_button.h"

#include "setup/resource.h"

namespace fd::setup {

using winui::Msg;
using winui::OnMessage;

// Every handler returns false: the button's own handling runs afterwards, so
// a press released over the button still produces its click.
WINUI_BEGIN_MESSAGE_MAP(CHoverBitmapButton)
OnMessage<CHoverBitmapButton, &CHoverBitmapButton::OnMouseMove>(WM_MOUSEMOVE),
    OnMessage<CHoverBitmapButton, &CHoverBitmapButton::OnLButtonDown>(WM_LBUTTONDOWN),
    OnMessage<CHoverBitmapButton, &CHoverBitmapButton::OnLButtonDown>(WM_LBUTTONDBLCLK),
    OnMessage<CHoverBitmapButton, &CHoverBitmapButton::OnLButtonUp>(WM_LBUTTONUP),
    OnMessage<CHoverBitmapButton, &CHoverBitmapButton::OnSetCursor>(WM_SETCURSOR),
    WINUI_END_MESSAGE_MAP(CHoverBitmapButton, winui::CBitmapButton)

        HCURSOR LauncherCursor() {
    static const HCURSOR cursor = [] {
        HCURSOR own = static_cast<HCURSOR>(LoadImageW(
            winui::ResourceInstance(), MAKEINTRESOURCEW(IDC_POINTER), IMAGE_CURSOR, 0, 0, LR_DEFAULTSIZE));
        return own != nullptr ? own : LoadCursorW(nullptr, MAKEINTRESOURCEW(32649));  // IDC_HAND
    }();
    return cursor;
}

CHoverBitmapButton::~CHoverBitmapButton() = default;

void CHoverBitmapButton::Apply(HoverChange change, bool erase) {
    hoverState = change.state;
    if (change.repaint && hwnd_ != nullptr) Invalidate(erase);
}

bool CHoverBitmapButton::OnMouseMove(Msg&) {
    SetCursor(LauncherCursor());
    Apply(fd::setup::OnButtonMouseMove(hoverState), true);
    return false;
}

bool CHoverBitmapButton::OnLButtonDown(Msg&) {
    SetCursor(LauncherCursor());
    Apply(OnButtonPressed(hoverState), true);
    return false;
}

bool CHoverBitmapButton::OnLButtonUp(Msg&) {
    SetCursor(LauncherCursor());
    Apply(OnButtonReleased(hoverState), true);
    return false;
}

// Without this the class cursor (the arrow) would flash back on every move.
bool CHoverBitmapButton::OnSetCursor(Msg& msg) {
    if (LOWORD(msg.lParam) != HTCLIENT) return false;
    SetCursor(LauncherCursor());
    msg.result = TRUE;
    return true;
}

void CHoverBitmapButton::OnBackgroundMouseMove() {
    // Repainted without erasing: the picture covers the whole button.
    Apply(fd::setup::OnBackgroundMouseMove(hoverState), false);
}

void CHoverBitmapButton::DrawItem(const DRAWITEMSTRUCT& item) {
    Picture which = kNormal;
    switch (PictureFor(hoverState)) {
        case ButtonPicture::Focused:
            which = kFocused;
            break;
        case ButtonPicture::Selected:
            which = kSelected;
            break;
        case ButtonPicture::Normal:
            which = kNormal;
            break;
    }
    HBITMAP bitmap = GetBitmap(which);
    if (bitmap == nullptr) bitmap = GetBitmap(kNormal);
    if (bitmap == nullptr) return;
    DrawBitmap(item, bitmap);
    FillBeyondBitmap(item, bitmap);
}

// Where the dialog font makes a button larger than its picture (Wine's
// dialog units are wider than Windows'), the rest of the button takes the
// colour of the picture's top-right pixel, the skin behind the button, instead
// of showing the system's button face.
void CHoverBitmapButton::FillBeyondBitmap(const DRAWITEMSTRUCT& item, HBITMAP bitmap) {
    BITMAP info{};
    GetObjectW(bitmap, sizeof info, &info);
    const RECT& r = item.rcItem;
    if (r.right - r.left <= info.bmWidth && r.bottom - r.top <= info.bmHeight) return;
    HDC memory = CreateCompatibleDC(item.hDC);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    COLORREF skin = GetPixel(memory, info.bmWidth - 1, 0);
    SelectObject(memory, previous);
    DeleteDC(memory);
    HBRUSH brush = CreateSolidBrush(skin);
    RECT right{r.left + info.bmWidth, r.top, r.right, r.bottom};
    RECT below{r.left, r.top + info.bmHeight, r.left + info.bmWidth, r.bottom};
    if (right.left < right.right) FillRect(item.hDC, &right, brush);
    if (below.top < below.bottom) FillRect(item.hDC, &below, brush);
    DeleteObject(brush);
}

}  // namespace fd::setup
