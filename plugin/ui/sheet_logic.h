// The configuration sheet's decisions, free of Windows calls: which template
// each language uses, which pages OK saves and in what order, what "Default"
// resets, what the setup page saves, and where the help file lies. The Win32
// classes (CCFSheet, CCFSetup1) only wire these to controls; the tests run
// them natively.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/interface/host_abi.h"

namespace fd::ui {

// The sheet's pages, in the order they are added.
enum class SheetPage { kSetup = 0, kPacket = 1, kDataFormat = 2 };
inline constexpr int kSheetPageCount = 3;

// One operation the sheet runs on a page.
enum class SheetStep {
    kSaveSetupPage,
    kStoreMode,
    kSavePacketColours,
    kSavePacketChecks,
    kSaveDataFormat,
    kRestoreSetupDefaults,
    kRestorePacketColours,
    kCheckAllPacketItems,
    kRestoreDataFormat,
};

// Which page each step belongs to.
SheetPage PageOf(SheetStep step);

// What OK saves: only pages that were initialised, setup first (it copies
// the whole working copy over the live record), the data-format page last
// so its fields survive that copy.
std::vector<SheetStep> OkSteps(const std::array<bool, kSheetPageCount>& initialised);

// What "Default" resets for the page in front (index; anything else: none).
std::vector<SheetStep> DefaultSteps(int activePage);

// Dialog templates of one language (1 Simplified, 2 Traditional, else
// English).
struct SheetTemplates {
    int setup;
    int packet;
    int dataFormat;
    int pinAssignment;
};
SheetTemplates TemplatesFor(int32_t language);

// The mode list holds one entry, "True IDE Mode".
inline constexpr int kModeEntryCount = 1;
// The entry a stored mode selects: -1 (none) when it is no valid index.
int ModeSelection(int32_t mode);

// The setup page's colours and mode selection after "Default".
inline constexpr int kSetupDefaultMode = 0;
std::array<uint32_t, FdColourCount> SetupDefaultColours();

// The colours the setup page starts from.
std::array<uint32_t, FdColourCount> SettingsColours(const FdDecoderSettings& settings);

// SaveSetupPage: the whole working copy over the live record, then the
// colour buttons' colours into its colour block.
void SaveSetupPage(FdDecoderSettings& live, const FdDecoderSettings& working,
                   const std::array<uint32_t, FdColourCount>& buttonColours);
// StoreMode: the mode box's selected index (-1 when none) into `mode`.
void StoreMode(FdDecoderSettings& live, int selectedIndex);

// The help file for a host executable path and language: two directory
// levels above the executable's directory, then the language's help folder.
// The climb stops at the drive, so a shallow path never turns into a
// network path. An empty executable path gives "" (nothing to open).
std::string HelpFilePath(std::string_view executablePath, int32_t language);

}  // namespace fd::ui
