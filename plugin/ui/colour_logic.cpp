// The colour button's decisions (see colour_logic.h).
#include "plugin/ui/colour_logic.h"

#include <algorithm>

namespace fd::ui {

const std::array<uint32_t, 48> kBasicColours = {
    0x8080FF, 0x80FFFF, 0x80FF80, 0x80FF00, 0xFFFF80, 0xFF8000, 0xC080FF, 0xFF80FF, 0x0000FF, 0x00FFFF,
    0x00FF80, 0x40FF00, 0xFFFF00, 0xC08000, 0xC08080, 0xFF00FF, 0x404080, 0x4080FF, 0x00FF00, 0x808000,
    0x804000, 0xFF8080, 0x400080, 0x8000FF, 0x000080, 0x0080FF, 0x008000, 0x408000, 0xFF0000, 0xA00000,
    0x800080, 0xFF0080, 0x000040, 0x004080, 0x004000, 0x404000, 0x800000, 0x400000, 0x400040, 0x800040,
    0x000000, 0x008080, 0x408080, 0x808080, 0x808040, 0xC0C0C0, 0x400040, 0xFFFFFF,
};

bool IsBasicColour(uint32_t colour) {
    return std::find(kBasicColours.begin(), kBasicColours.end(), colour) != kBasicColours.end();
}

int ColourButtonSplit(int left, int right) { return right - (right - left) / 4; }

std::array<uint32_t, 16> ChooserCustomColours(uint32_t colour) {
    std::array<uint32_t, 16> custom;
    custom.fill(kColourWhite);
    if (!IsBasicColour(colour)) custom[0] = colour;
    return custom;
}

}  // namespace fd::ui
