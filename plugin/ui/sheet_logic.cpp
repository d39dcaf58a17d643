// The configuration sheet's decisions (see sheet_logic.h).
#include "plugin/ui/sheet_logic.h"

#include <cstring>

#include "plugin/interface/settings.h"
#include "plugin/ui/resource_ids.h"

namespace fd::ui {

SheetPage PageOf(SheetStep step) {
    switch (step) {
        case SheetStep::kSaveSetupPage:
        case SheetStep::kStoreMode:
        case SheetStep::kRestoreSetupDefaults:
            return SheetPage::kSetup;
        case SheetStep::kSavePacketColours:
        case SheetStep::kSavePacketChecks:
        case SheetStep::kRestorePacketColours:
        case SheetStep::kCheckAllPacketItems:
            return SheetPage::kPacket;
        case SheetStep::kSaveDataFormat:
        case SheetStep::kRestoreDataFormat:
            return SheetPage::kDataFormat;
    }
    return SheetPage::kSetup;
}

std::vector<SheetStep> OkSteps(const std::array<bool, kSheetPageCount>& initialised) {
    std::vector<SheetStep> steps;
    if (initialised[static_cast<int>(SheetPage::kSetup)]) {
        steps.push_back(SheetStep::kSaveSetupPage);
        steps.push_back(SheetStep::kStoreMode);
    }
    if (initialised[static_cast<int>(SheetPage::kPacket)]) {
        steps.push_back(SheetStep::kSavePacketColours);
        steps.push_back(SheetStep::kSavePacketChecks);
    }
    if (initialised[static_cast<int>(SheetPage::kDataFormat)]) steps.push_back(SheetStep::kSaveDataFormat);
    return steps;
}

std::vector<SheetStep> DefaultSteps(int activePage) {
    switch (activePage) {
        case static_cast<int>(SheetPage::kSetup):
            return {SheetStep::kRestoreSetupDefaults};
        case static_cast<int>(SheetPage::kPacket):
            return {SheetStep::kRestorePacketColours, SheetStep::kCheckAllPacketItems};
        case static_cast<int>(SheetPage::kDataFormat):
            return {SheetStep::kRestoreDataFormat};
        default:
            return {};
    }
}

SheetTemplates TemplatesFor(int32_t language) {
    switch (language) {
        case FdLanguageSimplified:
            return {IDD_SETUP_SIMPLIFIED, IDD_PACKET_SIMPLIFIED, IDD_FORMAT_SIMPLIFIED, IDD_PINS_SIMPLIFIED};
        case FdLanguageTraditional:
            return {IDD_SETUP_TRADITIONAL, IDD_PACKET_TRADITIONAL, IDD_FORMAT_TRADITIONAL,
                    IDD_PINS_TRADITIONAL};
        default:
            return {IDD_SETUP_ENGLISH, IDD_PACKET_ENGLISH, IDD_FORMAT_ENGLISH, IDD_PINS_ENGLISH};
    }
}

int ModeSelection(int32_t mode) { return (mode >= 0 && mode < kModeEntryCount) ? mode : -1; }

std::array<uint32_t, FdColourCount> SetupDefaultColours() {
    std::array<uint32_t, FdColourCount> colours{};
    for (int i = 0; i < FdColourCount; ++i) colours[i] = DefaultColour(i);
    return colours;
}

std::array<uint32_t, FdColourCount> SettingsColours(const FdDecoderSettings& settings) {
    std::array<uint32_t, FdColourCount> colours{};
    for (int i = 0; i < FdColourCount; ++i) colours[i] = settings.colour[i];
    return colours;
}

void SaveSetupPage(FdDecoderSettings& live, const FdDecoderSettings& working,
                   const std::array<uint32_t, FdColourCount>& buttonColours) {
    if (&live != &working) std::memcpy(&live, &working, sizeof live);
    for (int i = 0; i < FdColourCount; ++i) live.colour[i] = buttonColours[i];
}

void StoreMode(FdDecoderSettings& live, int selectedIndex) { live.mode = selectedIndex; }

namespace {

// The text before the last backslash; without one (a bare drive such as
// "C:") the text stays: the climb ends there.
std::string_view Parent(std::string_view path) {
    const size_t cut = path.rfind('\\');
    return cut == std::string_view::npos ? path : path.substr(0, cut);
}

}  // namespace

std::string HelpFilePath(std::string_view executablePath, int32_t language) {
    if (executablePath.empty()) return {};
    const std::string_view twoUp = Parent(Parent(Parent(executablePath)));
    std::string path(twoUp);
    path += '\\';
    switch (language) {
        case FdLanguageSimplified:
            path += "//PlugInsA//Help//Si//";
            break;
        case FdLanguageTraditional:
            path += "//PlugInsA//Help//Tr//";
            break;
        default:
            path += "//PlugInsA//Help//Eng//";
            break;
    }
    path += "DIZeruve.viz";
    return path;
}

}  // namespace fd::ui
