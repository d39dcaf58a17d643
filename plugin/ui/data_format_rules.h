// The Data Format page's state and decisions (CRuleCustizePage) as plain
// functions: what the page starts from, what each click changes, which radio
// button shows a choice, which controls "Activate" enables, and what OK and
// "Default" write. The page only wires these to its controls.
#pragma once

#include <cstdint>

#include "plugin/interface/host_abi.h"

namespace fd::ui {

inline constexpr int kActivateId = 10002;
// Radio buttons of each row in radix order: Binary, Decimal, Hexadecimal, ASCII.
inline constexpr int kTaskFileRadioIds[4] = {10011, 10012, 10013, 10014};
inline constexpr int kDataRadioIds[4] = {10007, 10008, 10009, 10010};
// Exactly the controls "Activate" enables and disables; the check box itself
// stays enabled.
inline constexpr int kRadixControlIds[10] = {1013,  10007, 10008, 10009, 10010,
                                             1012,  10011, 10012, 10013, 10014};

struct DataFormatState {
    bool active;
    int16_t taskFileChoice;  // radix 0..3; other stored values are kept as they are
    int16_t dataChoice;
};

// The page's state from the settings' three radix members.
DataFormatState LoadDataFormat(const FdDecoderSettings& settings);

// Custom display off, both rows Hexadecimal: the settings' defaults.
DataFormatState RestoredDataFormat();

// The radix a row shows for a choice: the choice itself, or Hexadecimal for a
// value outside 0..3 (the choice itself stays, so saving writes it back).
int ShownRadix(int16_t choice);

// Which row a click changed, so the page knows what to redraw.
enum class DataFormatChange { None, TaskFile, Data, Active };

// A click on one of the page's controls: a radio button sets its own row's
// choice only; "Activate" toggles active.
DataFormatChange ApplyDataFormatClick(DataFormatState& state, int controlId);

// OK: the radices are saved whether or not the custom display is on;
// `activateChecked` is the check box as it stands.
void SaveDataFormat(const DataFormatState& state, bool activateChecked, FdDecoderSettings& settings);

}  // namespace fd::ui
