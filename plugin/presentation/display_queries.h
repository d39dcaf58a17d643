// What the host asks, per field id, to present decoded records: shown flag,
// name, packet colour, id groups and radix lists. Also the packet item table,
// which the packet page edits.
#pragma once

#include <cstdint>

#include "plugin/interface/host_abi.h"
#include "plugin/presentation/field_table.h"

namespace fd {

struct PacketItem {
    bool shown;
    uint32_t colour;  // 0x00BBGGRR
};

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
// DRIVE ADDRESS leads and comes again in its place.
inline constexpr int16_t kTaskFileIds[] = {
    FdFieldDriveAddress, FdFieldPioRead,  FdFieldPioWrite,      FdFieldErrorRegister, FdFieldFeatures,
    FdFieldSectorCount,  FdFieldSectorNo, FdFieldCylinderLow,   FdFieldCylinderHigh,  FdFieldSelectCardHead,
    FdFieldStatus,       FdFieldCommand,  FdFieldAltStatusRead, FdFieldControlWrite,  FdFieldDriveAddress,
    FdFieldDmaRead,      FdFieldDmaWrite, FdFieldRead,          FdFieldWrite,         FdFieldAddress,
    FdFieldCardHead};
inline constexpr int16_t kDataIds[] = {FdFieldDataRead, FdFieldDataWrite};

}  // namespace fd
