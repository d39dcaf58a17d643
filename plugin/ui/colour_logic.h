// The colour button's decisions, free of Windows calls: where the swatch
// ends, which colours the system chooser offers as basic ones, and the
// custom colours it opens with. Used by CCFColorButton and unit-tested
// natively.
#pragma once

#include <array>
#include <cstdint>

namespace fd::ui {

// Colour values are 0x00BBGGRR.
inline constexpr uint32_t kColourButtonInitial = 0xFF8000;
inline constexpr uint32_t kColourTail = 0xC0C0C0;
inline constexpr uint32_t kColourHatch = 0x808080;
inline constexpr uint32_t kColourWhite = 0xFFFFFF;

// The 48 basic colours of the system chooser, six rows of eight.
extern const std::array<uint32_t, 48> kBasicColours;

bool IsBasicColour(uint32_t colour);

// The x where the swatch ends and the "..." tail begins.
int ColourButtonSplit(int left, int right);

// The chooser's sixteen custom colours: white, except that a colour the
// basic palette lacks goes first so the user finds it again.
std::array<uint32_t, 16> ChooserCustomColours(uint32_t colour);

// Black is not preselected: the chooser then opens without a selection.
inline bool ChooserPreselects(uint32_t colour) { return colour != 0; }

}  // namespace fd::ui
