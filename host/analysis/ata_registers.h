// ATA task-file facts for CompactFlash in True IDE mode: command opcodes with
// their names and protocols, and the bit names of the status, error,
// device/head and device-control registers. Plain tables, used by the
// transaction analysis and by every view that shows a register value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fd::host::analysis {

enum class Protocol {
    NonData,
    PioIn,
    PioOut,
    Dma,
    Diagnostic,
    Unknown,
};

std::string_view ProtocolName(Protocol protocol);  // "non-data", "PIO in", …

struct CommandInfo {
    uint8_t opcode;
    const char* name;
    Protocol protocol;
    // Sectors a data command moves: from SECTOR COUNT (0 = 256), or one
    // sector whatever the count says.
    bool countFromSectorCount;
};

// The command with this opcode; unknown opcodes give a "COMMAND 0xNN" entry
// with protocol Unknown.
CommandInfo LookupCommand(uint8_t opcode);
// The opcode for a name ("READ DMA", case-insensitive) or a number ("0xC8",
// "200"); -1 when neither.
int FindOpcode(std::string_view nameOrNumber);

inline constexpr uint8_t kStatusBsy = 0x80;
inline constexpr uint8_t kStatusDrdy = 0x40;
inline constexpr uint8_t kStatusDf = 0x20;
inline constexpr uint8_t kStatusDsc = 0x10;
inline constexpr uint8_t kStatusDrq = 0x08;
inline constexpr uint8_t kStatusCorr = 0x04;
inline constexpr uint8_t kStatusErr = 0x01;

inline constexpr uint8_t kErrorAbrt = 0x04;

inline constexpr uint8_t kDeviceHeadLba = 0x40;
inline constexpr uint8_t kDeviceHeadDev = 0x10;

inline constexpr uint8_t kControlSrst = 0x04;
inline constexpr uint8_t kControlNien = 0x02;

// "0x50 DRDY DSC", "0x51 DRDY DSC ERR", "0x80 BSY".
std::string DescribeStatus(uint8_t value);
std::string StatusBitNames(uint8_t value);  // "DRDY DSC" (no value)
// "0x04 ABRT".
std::string DescribeError(uint8_t value);
std::string ErrorBitNames(uint8_t value);
// "0xE0 LBA DEV0 head 0", "0xA3 CHS DEV0 head 3".
std::string DescribeDeviceHead(uint8_t value);
// "0x06 SRST nIEN".
std::string DescribeDeviceControl(uint8_t value);

// SET FEATURES 03h: the transfer mode a SECTOR COUNT value selects
// ("PIO4", "MWDMA2", "UDMA5", "PIO default"), or "" for a reserved value.
std::string TransferModeName(uint8_t sectorCount);
// What a SET FEATURES subcommand does ("enable write cache", "set transfer
// mode UDMA4"); "subcommand 0xNN" for one the table lacks.
std::string SetFeaturesName(uint8_t features, uint8_t sectorCount);
// The code a diagnostic or reset leaves in ERROR: "passed", "failed (0x03)",
// with "; device 1 failed" when bit 7 says so.
std::string DiagnosticCodeName(uint8_t code);

}  // namespace fd::host::analysis
