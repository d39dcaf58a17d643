// CCFColorButton: the owner-drawn colour swatch of the configuration pages.
// It paints its colour with a grey "..." tail, opens the system colour
// chooser on a left click, and keeps the colour until its page saves it.
// Used by the setup page (and the packet page).
#pragma once

#include <cstdint>

#include "plugin/ui/colour_logic.h"
#include "winui/winui.h"

namespace fd::ui {

class CCFColorButton : public winui::CButton {
    WINUI_DECLARE_MESSAGE_MAP()

public:
    // Stores the colour without repainting (callers Redraw visible buttons).
    bool SetColor(uint32_t colour) {
        colour_ = colour;
        return true;
    }
    uint32_t GetColor() const { return colour_; }
    // Repaints the whole button without erasing its background.
    void Redraw();

    void DrawItem(const DRAWITEMSTRUCT& item) override;

    int enabled() const { return enabled_; }
    int pressed() const { return pressed_; }

private:
    bool OnLButtonDown(winui::Msg& msg);
    bool OnEnable(winui::Msg& msg);

    uint32_t colour_ = kColourButtonInitial;
    int enabled_ = 1;
    int pressed_ = 0;  // 1 while the chooser is open
};

}  // namespace fd::ui
