// What the host asks, per field id, to present decoded records: shown flag,
// name, packet colour, id groups and radix lists. Also the packet item table,
// which the packet page edits.
#pragma once

#include <cstdint>

#include "plugin/interface/host_abi.h"

namespace fd {

struct PacketItem {
    bool shown;
    uint32_t colour;  // 0x00BBGGRR
};

inline constexpr int kPacketItemCount = 14;
inline constexpr int kPacketItemWrite = 1;

// Labels of the packet page rows, in item order.
extern const char* const kPacketItemLabels[kPacketItemCount];
extern const uint32_t kInitialPacketColours[kPacketItemCount];

PacketItem& PacketItemAt(int item);  // item 0..13
void ResetPacketItems();

// The packet item that answers for a field id, or -1.
int PacketItemForField(int16_t id);

bool IsPacketItemShown(int16_t id);
bool GetFieldName(int16_t id, char* buffer);  // buffer may be null
bool GetPacketItemColour(int16_t id, int32_t* colour);
bool IsDelimiterField(int16_t id);
bool IsUnknownField(int16_t id);
bool IsWriteItemShown();
int32_t IsDataField(int32_t id);
FdPacketDefinition* FillPacketDefinition(FdPacketDefinition* definition);
const char* GetModuleIdentifier();
FdRadixCounters* CountRadixFields(FdRadixCounters* counters, const FdDecoderSettings& settings);
FdRadixLists* FillRadixLists(FdRadixLists* lists, const FdDecoderSettings& settings);

// The two fixed id lists the radix slots file under the chosen radices.
inline constexpr int16_t kTaskFileIds[] = {4015, 4002, 4003, 4004, 4005, 4006, 4007, 4008, 4009, 4010, 4011,
                                           4012, 4013, 4014, 4015, 4017, 4018, 4019, 4020, 4025, 4031};
inline constexpr int16_t kDataIds[] = {4026, 4032};

}  // namespace fd
