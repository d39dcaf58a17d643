// IDENTIFY DEVICE words read back into fields.
#include "host/analysis/identify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace fd::host::analysis;

void PutString(std::vector<uint16_t>& w, size_t first, size_t count, const std::string& text) {
    std::string padded = text;
    padded.resize(count * 2, ' ');
    for (size_t i = 0; i < count; ++i) {
        w[first + i] = static_cast<uint16_t>((static_cast<uint8_t>(padded[2 * i]) << 8) |
                                             static_cast<uint8_t>(padded[2 * i + 1]));
    }
}

TEST(Identify, CompactFlashCard) {
    std::vector<uint16_t> w(256, 0);
    w[0] = 0x848A;
    w[1] = 980, w[3] = 16, w[6] = 63;
    w[7] = 0x000F, w[8] = 0x4240;
    PutString(w, 10, 10, "        SN0123456789");
    PutString(w, 23, 4, "FW1.02");
    PutString(w, 27, 20, "FLASHDECODE CF CARD 1GB");
    w[49] = 0x0300;
    w[51] = 0x0200;
    w[53] = 0x0007;
    w[60] = 0x4240, w[61] = 0x000F;
    w[63] = 0x0407;  // MWDMA0-2, MWDMA2 selected
    w[64] = 0x0003;
    w[88] = 0x101F;   // UDMA0-4, UDMA4 selected
    w[163] = 0x0009;  // PIO5, MWDMA3
    auto info = ParseIdentify(w);
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->cfSignature);
    EXPECT_EQ(info->model, "FLASHDECODE CF CARD 1GB");
    EXPECT_EQ(info->serial, "SN0123456789");
    EXPECT_EQ(info->firmware, "FW1.02");
    EXPECT_EQ(info->lbaSectors, 1000000u);
    EXPECT_EQ(info->cfSectors, 1000000u);
    EXPECT_EQ(info->capacityBytes(), 512000000u);
    EXPECT_TRUE(info->lbaSupported);
    EXPECT_TRUE(info->dmaSupported);
    EXPECT_EQ(info->pioModes, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(info->mwdmaModes, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(info->udmaModes, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(info->udmaSelected, 4);
    EXPECT_EQ(info->mwdmaSelected, 2);
    EXPECT_EQ(info->ModesText(), "PIO0-5 MWDMA0-3 UDMA0-4 (selected UDMA4)");
}

TEST(Identify, UdmaWordIgnoredWithoutValidityBitAndShortInput) {
    std::vector<uint16_t> w(256, 0);
    w[88] = 0x003F;
    auto info = ParseIdentify(w);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->cfSignature);
    EXPECT_TRUE(info->udmaModes.empty());
    EXPECT_EQ(info->pioModes, std::vector<int>{0});
    EXPECT_FALSE(ParseIdentify(std::vector<uint16_t>(255, 0)));
}

TEST(Identify, IntegrityWord) {
    std::vector<uint16_t> w(256, 0);
    w[0] = 0x848A;
    EXPECT_FALSE(ParseIdentify(w)->checksumValid.has_value());  // no A5h signature: no integrity word
    // A5h plus the bytes of word 0 (8Ah + 84h), and a checksum byte that
    // brings the sum to zero.
    const uint8_t sum = static_cast<uint8_t>(0xA5 + 0x8A + 0x84);
    w[255] = static_cast<uint16_t>((static_cast<uint8_t>(-sum) << 8) | 0xA5);
    EXPECT_EQ(ParseIdentify(w)->checksumValid, true);
    w[100] = 1;  // one bit flipped in transit
    EXPECT_EQ(ParseIdentify(w)->checksumValid, false);
}

}  // namespace
