// CCFColorButton: paint, click and enable handling (see colour_button.h).
#include "plugin/ui/colour_button.h"

#include <commdlg.h>

namespace fd::ui {

WINUI_BEGIN_MESSAGE_MAP(CCFColorButton)
winui::OnMessage<CCFColorButton, &CCFColorButton::OnLButtonDown>(WM_LBUTTONDOWN),
    winui::OnMessage<CCFColorButton, &CCFColorButton::OnLButtonDown>(WM_LBUTTONDBLCLK),
    winui::OnMessage<CCFColorButton, &CCFColorButton::OnEnable>(WM_ENABLE),
    WINUI_END_MESSAGE_MAP(CCFColorButton, winui::CButton)

        void CCFColorButton::Redraw() {
    if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

namespace {

void Line(HDC dc, int x0, int y0, int x1, int y1) {
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

}  // namespace

void CCFColorButton::DrawItem(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    const RECT r = item.rcItem;
    const int split = ColourButtonSplit(r.left, r.right);
    const RECT swatch{r.left, r.top, split, r.bottom};
    RECT tail{split, r.top, r.right, r.bottom};

    HBRUSH swatchBrush = CreateSolidBrush(colour_);
    HBRUSH tailBrush = CreateSolidBrush(kColourTail);
    FillRect(dc, &swatch, swatchBrush);
    FillRect(dc, &tail, tailBrush);
    DeleteObject(swatchBrush);
    DeleteObject(tailBrush);

    HPEN black = CreatePen(PS_SOLID, 1, 0x000000);
    HPEN white = CreatePen(PS_SOLID, 1, kColourWhite);
    HGDIOBJ oldPen = SelectObject(dc, black);
    HGDIOBJ oldBrush = GetCurrentObject(dc, OBJ_BRUSH);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldText = GetTextColor(dc);

    // Right and bottom edges with one pen, left and top with the other.
    auto edges = [&](HPEN rightBottom, HPEN leftTop) {
        SelectObject(dc, rightBottom);
        Line(dc, r.right - 1, r.top, r.right - 1, r.bottom);
        Line(dc, r.left, r.bottom - 1, r.right, r.bottom - 1);
        SelectObject(dc, leftTop);
        Line(dc, r.left, r.top, r.left, r.bottom);
        Line(dc, r.left, r.top, r.right, r.top);
    };

    HBRUSH hatch = nullptr;
    if (enabled_ == 1) {
        edges(black, white);                     // raised
        if (pressed_ == 1) edges(white, black);  // sunken while the chooser is open
        SetTextColor(dc, 0x000000);
    } else {
        hatch = CreateHatchBrush(HS_DIAGCROSS, kColourHatch);
        SelectObject(dc, hatch);
        SelectObject(dc, GetStockObject(NULL_PEN));
        // A null pen leaves the right and bottom line out: extend by one.
        Rectangle(dc, r.left, r.top, r.right + 1, r.bottom + 1);
        edges(white, black);
        SetTextColor(dc, kColourHatch);
    }
    DrawTextW(dc, L"...", 3, &tail, DT_SINGLELINE | DT_CENTER | DT_TOP | DT_NOPREFIX);

    SetTextColor(dc, oldText);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    if (hatch != nullptr) DeleteObject(hatch);
    DeleteObject(black);
    DeleteObject(white);
}

bool CCFColorButton::OnLButtonDown(winui::Msg&) {
    if (!IsWindowEnabled()) return true;  // a disabled button ignores the mouse
    pressed_ = 1;
    Redraw();

    COLORREF custom[16];
    const auto colours = ChooserCustomColours(colour_);
    for (size_t i = 0; i < colours.size(); ++i) custom[i] = colours[i];

    CHOOSECOLORW chooser{};
    chooser.lStructSize = sizeof chooser;
    // Owned by the sheet, so the sheet cannot be closed (and this button
    // destroyed) while the chooser's loop is still running.
    chooser.hwndOwner = GetAncestor(hwnd_, GA_ROOT);
    chooser.rgbResult = colour_;
    chooser.lpCustColors = custom;
    chooser.Flags = ChooserPreselects(colour_) ? CC_RGBINIT : 0;
    if (ChooseColorW(&chooser)) colour_ = chooser.rgbResult & 0x00FFFFFF;

    pressed_ = 0;
    Redraw();
    return true;  // consumed: no focus, no click notification
}

bool CCFColorButton::OnEnable(winui::Msg& msg) {
    enabled_ = msg.wParam != 0 ? 1 : 0;
    Redraw();
    return false;  // the button's own handling runs too
}

}  // namespace fd::ui
