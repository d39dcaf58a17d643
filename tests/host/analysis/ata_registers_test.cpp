// Register bit names, opcode lookup and SET FEATURES transfer modes.
#include "host/analysis/ata_registers.h"

#include <gtest/gtest.h>

namespace {

using namespace fd::host::analysis;

TEST(RegisterBits, Breakdowns) {
    const struct {
        std::string (*describe)(uint8_t);
        uint8_t value;
        const char* text;
    } cases[] = {
        {DescribeStatus, 0x50, "0x50 DRDY DSC"},
        {DescribeStatus, 0x51, "0x51 DRDY DSC ERR"},
        {DescribeStatus, 0x58, "0x58 DRDY DSC DRQ"},
        {DescribeStatus, 0x80, "0x80 BSY"},
        {DescribeStatus, 0x00, "0x00"},
        {DescribeError, 0x04, "0x04 ABRT"},
        {DescribeError, 0x84, "0x84 BBK/ICRC ABRT"},
        {DescribeError, 0x10, "0x10 IDNF"},
        {DescribeDeviceHead, 0xE0, "0xE0 LBA DEV0 head 0"},
        {DescribeDeviceHead, 0xF5, "0xF5 LBA DEV1 head 5"},
        {DescribeDeviceHead, 0xA3, "0xA3 CHS DEV0 head 3"},
        {DescribeDeviceControl, 0x06, "0x06 SRST nIEN"},
        {DescribeDeviceControl, 0x02, "0x02 nIEN"},
        {DescribeDeviceControl, 0x08, "0x08"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.describe(c.value), c.text);
}

TEST(Commands, LookupAndFind) {
    EXPECT_STREQ(LookupCommand(0xEC).name, "IDENTIFY DEVICE");
    EXPECT_EQ(LookupCommand(0xEC).protocol, Protocol::PioIn);
    EXPECT_EQ(LookupCommand(0xC8).protocol, Protocol::Dma);
    EXPECT_EQ(LookupCommand(0x30).protocol, Protocol::PioOut);
    EXPECT_STREQ(LookupCommand(0x17).name, "RECALIBRATE");
    EXPECT_STREQ(LookupCommand(0x7A).name, "SEEK");
    EXPECT_EQ(LookupCommand(0x42).name, nullptr);
    EXPECT_EQ(LookupCommand(0x42).protocol, Protocol::Unknown);

    const struct {
        const char* text;
        int opcode;
    } finds[] = {
        {"read dma", 0xC8}, {"IDENTIFY DEVICE", 0xEC},
        {"0xca", 0xCA},     {"0XEF", 0xEF},
        {"200", 200},       {"256", -1},
        {"0x", -1},         {"no such command", -1},
        {"", -1},
    };
    for (const auto& f : finds) EXPECT_EQ(FindOpcode(f.text), f.opcode) << f.text;
}

TEST(Commands, TransferModes) {
    const struct {
        uint8_t sc;
        const char* mode;
    } cases[] = {
        {0x00, "PIO default"}, {0x0C, "PIO4"}, {0x0E, "PIO6"},  {0x0F, ""}, {0x22, "MWDMA2"},
        {0x24, "MWDMA4"},      {0x25, ""},     {0x45, "UDMA5"}, {0x80, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(TransferModeName(c.sc), c.mode) << int(c.sc);
}

TEST(Commands, SetFeaturesAndDiagnosticCodes) {
    EXPECT_EQ(SetFeaturesName(0x03, 0x44), "set transfer mode UDMA4");
    EXPECT_EQ(SetFeaturesName(0x03, 0x80), "set transfer mode (reserved 0x80)");
    EXPECT_EQ(SetFeaturesName(0x82, 0), "disable write cache");
    EXPECT_EQ(SetFeaturesName(0x77, 0), "subcommand 0x77");
    EXPECT_EQ(DiagnosticCodeName(0x01), "passed");
    EXPECT_EQ(DiagnosticCodeName(0x03), "failed (0x03)");
    EXPECT_EQ(DiagnosticCodeName(0x81), "passed; device 1 failed");
}

}  // namespace
