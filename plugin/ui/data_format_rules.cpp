// The Data Format page's decisions; see data_format_rules.h.
#include "plugin/ui/data_format_rules.h"

namespace fd::ui {

DataFormatState LoadDataFormat(const FdDecoderSettings& settings) {
    return {settings.customRadixDisplay != 0, settings.taskFileRadix, settings.dataRadix};
}

DataFormatState RestoredDataFormat() { return {false, FdRadixHexadecimal, FdRadixHexadecimal}; }

int ShownRadix(int16_t choice) {
    return choice >= FdRadixBinary && choice <= FdRadixAscii ? int{choice} : int{FdRadixHexadecimal};
}

DataFormatChange ApplyDataFormatClick(DataFormatState& state, int controlId) {
    for (int16_t radix = 0; radix < 4; ++radix) {
        if (controlId == kTaskFileRadioIds[radix]) {
            state.taskFileChoice = radix;
            return DataFormatChange::TaskFile;
        }
        if (controlId == kDataRadioIds[radix]) {
            state.dataChoice = radix;
            return DataFormatChange::Data;
        }
    }
    if (controlId == kActivateId) {
        state.active = !state.active;
        return DataFormatChange::Active;
    }
    return DataFormatChange::None;
}

void SaveDataFormat(const DataFormatState& state, bool activateChecked, FdDecoderSettings& settings) {
    settings.taskFileRadix = state.taskFileChoice;
    settings.dataRadix = state.dataChoice;
    settings.customRadixDisplay = activateChecked ? 1 : 0;
}

}  // namespace fd::ui
