// The decisions of the pin assignment dialog (CCFPinAssign) as plain
// functions: which channels the boxes list, where each role starts, where the
// D15 box follows D0, and whether a choice may be stored. The dialog only
// wires these to its twelve drop-down boxes; the tests call them directly.
//
// Inside the dialog a channel is named by its position in the capture's
// channel list: every box holds the same entries in list order, never sorted.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "plugin/interface/host_abi.h"
#include "plugin/ui/page_control_ids.h"

namespace fd::ui {

// The eleven stored roles, in the order of the settings' channel fields
// (FdChannelField): DMARQ .. IORDY, then D0.
inline constexpr int kPinRoleCount = FdChannelFieldCount;
inline constexpr int kDataLineCount = 16;

// Drop-down box of each role, in role order, and the display-only D15 box.
inline constexpr int kPinBoxIds[kPinRoleCount] = {IDC_PIN_DMARQ, IDC_PIN_DMACK, IDC_PIN_CS1, IDC_PIN_CS0,
                                                  IDC_PIN_A0,    IDC_PIN_A1,    IDC_PIN_A2,  IDC_PIN_IORD,
                                                  IDC_PIN_IOWR,  IDC_PIN_IORDY, IDC_PIN_D0};
inline constexpr int kLastDataBoxId = IDC_PIN_D15;

// The order in which the dialog selects the roles: D0 before the D15 box
// follows it, the chip selects and addresses after.
inline constexpr int kPinSelectOrderBeforeLastData[] = {FdChannelIowr,  FdChannelIordy, FdChannelIord,
                                                        FdChannelDmarq, FdChannelDmack, FdChannelD0};
inline constexpr int kPinSelectOrderAfterLastData[] = {FdChannelCs1, FdChannelCs0, FdChannelA2, FdChannelA1,
                                                       FdChannelA0};

using PinPositions = std::array<int, kPinRoleCount>;  // list position per role, -1 none

// One entry of the boxes: the name shown and the number kept as item data.
struct PinChannel {
    std::string name;
    int32_t number;
};

// The channels the boxes list. The walk covers the capture's channelCount but
// never more entries than its channel list holds, and stops at a missing
// channel, so entry i is always list position i.
std::vector<PinChannel> ListPinChannels(const FdCapture* capture);

// DMARQ on the first channel of the list, DMACK on the second ... D0 on the
// eleventh (and so D15 on the twenty-sixth).
PinPositions DefaultPinPositions();

// Where each role starts: the position of the channel whose number the
// settings hold for it; when a number occurs twice, the later channel. If the
// list is empty or any role is not found, every role starts at its default.
PinPositions InitialPinPositions(std::span<const int32_t> channelNumbers,
                                 const int32_t (&storedNumbers)[kPinRoleCount]);

// The entry the D15 box shows for D0 at `d0Position` (-1: none) in boxes of
// `entryCount` entries: fifteen further on, or the last entry when the list
// ends sooner.
int LastDataPosition(int d0Position, int entryCount);

// What OK decides: a string-table id to refuse with, or the eleven channel
// numbers to store in role order.
struct PinVerdict {
    int refusalId;  // 0 when accepted, else kStrChooseRightChannel or kStrChannelsMustDiffer
    std::array<int32_t, kPinRoleCount> numbers;
};

// `lastDataPosition` is the D15 box's selection; `itemData` the number behind
// each entry. Refuses with "Please  choose the right channel" when fewer than
// eight positions run from D0 to D15 or a role has no channel, and with
// "Channel must be different" when two roles or a role and a data line share
// a position, or the sixteen data lines do not fit in the list.
PinVerdict ValidatePinChoice(const PinPositions& positions, int lastDataPosition,
                             std::span<const int32_t> itemData);

}  // namespace fd::ui
