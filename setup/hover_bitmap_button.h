// CHoverBitmapButton: the launcher's picture button. It shows its normal
// bitmap while idle, its focused bitmap while the mouse is over it and its
// selected bitmap while it is held down (hoverState 3, 1, 2), and shows the
// launcher's pointer cursor over itself. Used by CLauncherDlg.
#pragma once

#include "setup/launcher_logic.h"
#include "winui/winui.h"

namespace fd::setup {

class CHoverBitmapButton : public winui::CBitmapButton {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    ~CHoverBitmapButton() override;

    // The owner-draw paint: the bitmap for hoverState, unscaled at the item
    // rectangle's top-left corner, clipped to it.
    void DrawItem(const DRAWITEMSTRUCT& item) override;

    // The dialog calls this when the mouse moves over its own surface.
    void OnBackgroundMouseMove();

    int32_t hoverState = kHoverIdle;

private:
    bool OnMouseMove(winui::Msg& msg);
    bool OnLButtonDown(winui::Msg& msg);
    bool OnLButtonUp(winui::Msg& msg);
    bool OnSetCursor(winui::Msg& msg);
    void Apply(HoverChange change, bool erase);
    static void FillBeyondBitmap(const DRAWITEMSTRUCT& item, HBITMAP bitmap);
};

// The launcher's pointer (cursor resource 137), loaded once.
HCURSOR LauncherCursor();

}  // namespace fd::setup
