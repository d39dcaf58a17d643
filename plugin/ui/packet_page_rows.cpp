// The packet page's moves between its rows and the packet item table; see
// packet_page_rows.h.
#include "plugin/ui/packet_page_rows.h"

namespace fd::ui {

void LoadPacketItems(PacketPageValues& values) {
    for (size_t row = 0; row < values.colour.size(); ++row) {
        const PacketItem& item = PacketItemAt(kPacketRows[row].item);
        values.colour[row] = item.colour;
        values.check[row] = item.shown ? 1 : 0;
    }
}

void SavePacketColours(const PacketPageValues& values) {
    for (size_t row = 0; row < values.colour.size(); ++row)
        PacketItemAt(kPacketRows[row].item).colour = values.colour[row];
}

void SavePacketChecks(const PacketPageValues& values) {
    for (size_t row = 0; row < values.check.size(); ++row)
        PacketItemAt(kPacketRows[row].item).shown = values.check[row] != 0;
}

void RestorePacketColours(PacketPageValues& values) {
    for (size_t row = 0; row < values.colour.size(); ++row)
        values.colour[row] = kPacketItemDefaults[kPacketRows[row].item].colour;
}

void CheckAllPacketItems(PacketPageValues& values) { values.check.fill(1); }

}  // namespace fd::ui
