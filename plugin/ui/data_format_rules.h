// The Data Format page's state and decisions (CRuleCustizePage) as plain
// functions: what the page starts from, what each click changes, which radio
// button shows a choice, which controls "Activate" enables, and what OK and
// "Default" write. The page only wires these to its controls.
#pragma once

#include <cstdint>

#include "plugin/interface/host_abi.h"
#include "plugin/ui/page_control_ids.h"

namespace fd::ui {

inline constexpr int kActivateId = IDC_FORMAT_ACTIVATE;
// Radio buttons of each row in radix order: Binary, Decimal, Hexadecimal, ASCII.
inline constexpr int kTaskFileRadioIds[4] = {IDC_FORMAT_TASK_BINARY, IDC_FORMAT_TASK_DECIMAL,
                                             IDC_FORMAT_TASK_HEX, IDC_FORMAT_TASK_ASCII};
inline constexpr int kDataRadioIds[4] = {IDC_FORMAT_DATA_BINARY, IDC_FORMAT_DATA_DECIMAL, IDC_FORMAT_DATA_HEX,
                                         IDC_FORMAT_DATA_ASCII};
// Exactly the controls "Activate" enables and disables; the check box itself
// stays enabled.
inline constexpr int kRadixControlIds[10] = {
    IDC_FORMAT_DATA_LABEL, IDC_FORMAT_DATA_BINARY, IDC_FORMAT_DATA_DECIMAL, IDC_FORMAT_DATA_HEX,
    IDC_FORMAT_DATA_ASCII, IDC_FORMAT_TASK_LABEL,  IDC_FORMAT_TASK_BINARY,  IDC_FORMAT_TASK_DECIMAL,
    IDC_FORMAT_TASK_HEX,   IDC_FORMAT_TASK_ASCII};

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
