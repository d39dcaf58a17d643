// The decoder settings: the live record the decoder and the host use, and the
// working copy the configuration sheet edits while it is open. Both are
// module-level and start at their defaults when the library loads.
#pragma once

#include "plugin/interface/host_abi.h"
#include "plugin/presentation/field_table.h"

namespace fd {

FdDecoderSettings& LiveSettings();
FdDecoderSettings& WorkingSettings();

// Copies the thirteen colours of the live settings into the field-type table:
// colour N into the field types of packet item N.
void ApplySettingsColors();

// The default colours, in the order of FdColourIndex (0x00BBGGRR): those of
// the packet items of the same number.
constexpr uint32_t DefaultColour(int index) { return kPacketItemDefaults[index].colour; }

// Default channel numbers: DMARQ -1, DMACK..IORDY 1..9, D0 10.
inline constexpr int32_t kDefaultChannels[FdChannelFieldCount] = {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// Writes every field that has a default; reserved areas keep their bytes.
constexpr void SetDefaults(FdDecoderSettings& s) {
    s.mode = 0;
    s.reservedFlag = 0;
    for (int i = 0; i < FdChannelFieldCount; ++i) s.channel[i] = kDefaultChannels[i];
    for (int i = 0; i < FdColourCount; ++i) s.colour[i] = DefaultColour(i);
    s.customRadixDisplay = 0;
    s.taskFileRadix = FdRadixHexadecimal;
    s.reserved434 = 2;
    s.dataRadix = FdRadixHexadecimal;
    s.reserved438 = 2;
}

}  // namespace fd
