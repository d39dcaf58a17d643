// The plug-in's string table: every user-visible text in English (base id),
// Simplified Chinese (base + 1) and Traditional Chinese (base + 2), as UTF-8.
#pragma once

#include <cstdint>
#include <string>

namespace fd {

// Base ids of the table.
inline constexpr int kStrSheetCaption = 5;
inline constexpr int kStrDefault = 8;
inline constexpr int kStrTooFewChannels = 14;
inline constexpr int kStrOk = 35;
inline constexpr int kStrCancel = 38;
inline constexpr int kStrHelp = 41;
inline constexpr int kStrChannelsMustDiffer = 56;
inline constexpr int kStrChooseRightChannel = 59;

// Offset added to a base id for a capture language: 1 and 2 select the two
// Chinese texts, every other value English.
int LanguageOffset(int32_t language);

// The text with number `id`, or "" when the table has none.
std::string StringTableText(int id);

// The text for base `id` in the current capture's language (English before
// any capture has been given).
std::string LoadLocalizedString(int id);

}  // namespace fd
