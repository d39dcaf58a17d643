// CCFPackage2: the configuration sheet's packet page. A check box and a
// colour button per packet item, in the row order of packet_page_rows.h; the
// sheet's OK saves them into the packet item table, but only when the page
// was shown during that run of the sheet.
#pragma once

#include <array>

#include "plugin/ui/colour_button.h"
#include "plugin/ui/packet_page_rows.h"
#include "plugin/ui/resource_ids.h"
#include "winui/winui.h"

namespace fd::ui {

class CCFPackage2 : public winui::CPropertyPage {
public:
    // Without a template id: the English one.
    explicit CCFPackage2(UINT templateId = IDD_PACKET_ENGLISH);

    bool initialised() const { return initialised_; }

    // The sheet's OK, in this order.
    void SavePacketColours();
    void SavePacketChecks();
    // The sheet's "Default", in this order; the table changes only on OK.
    void RestorePacketColours();
    void CheckAllPacketItems();

    CCFColorButton& colourButton(int row) { return colourButtons_[static_cast<size_t>(row)]; }

protected:
    void DoDataExchange(winui::CDataExchange& dx) override;
    BOOL OnInitDialog() override;

private:
    void LoadPacketItems();

    std::array<CCFColorButton, kPacketItemCount> colourButtons_;
    PacketPageValues values_;  // the check states are the check boxes' exchange targets
    bool initialised_ = false;
};

}  // namespace fd::ui
