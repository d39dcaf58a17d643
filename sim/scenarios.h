// Whole ATA commands and ready-made bus scenarios on top of the Bus builder:
// SET FEATURES, IDENTIFY DEVICE by PIO, PIO sector reads and writes, READ and
// WRITE DMA in Ultra or multiword DMA, and the named scenarios of cfsim.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/analysis/transactions.h"
#include "sim/bus.h"

namespace fd::sim {

inline constexpr size_t kSectorWords = 256;

// ATA opcodes the scenarios use.
inline constexpr uint8_t kReadSectors = 0x20;
inline constexpr uint8_t kReadVerifySectors = 0x40;
inline constexpr uint8_t kFlushCache = 0xE7;
inline constexpr uint8_t kWriteSectors = 0x30;
inline constexpr uint8_t kReadDma = 0xC8;
inline constexpr uint8_t kWriteDma = 0xCA;
inline constexpr uint8_t kIdentifyDevice = 0xEC;
inline constexpr uint8_t kSetFeatures = 0xEF;
inline constexpr uint8_t kSetTransferMode = 0x03;  // SET FEATURES subcommand

// STATUS answers.
inline constexpr uint8_t kStatusReady = 0x50;        // DRDY | DSC
inline constexpr uint8_t kStatusDataReady = 0x58;    // DRDY | DSC | DRQ
inline constexpr uint8_t kStatusError = 0x51;        // DRDY | DSC | ERR
inline constexpr uint8_t kErrorAbort = 0x04;         // ABRT
inline constexpr uint8_t kErrorIdNotFound = 0x10;    // IDNF
inline constexpr uint8_t kErrorInterfaceCrc = 0x80;  // ICRC (BBK on older cards)

// How a command ended on the bus: the verdict a decode of the capture must
// reach (ok: STATUS without ERR read at the end; error: STATUS with ERR, then
// ERROR read; aborted: a new COMMAND before it completed; reset: SRST before
// it completed; incomplete: the capture ends inside it).
using Verdict = host::analysis::Verdict;

// What one command (or software reset) put on the bus: what a decode of the
// capture must find again.
struct IssuedCommand {
    bool softwareReset = false;
    uint8_t opcode = 0;
    TaskFile taskFile;
    std::vector<uint16_t> data;  // the words of its data phase, in bus order
    Verdict outcome = Verdict::Ok;
    std::optional<uint8_t> status;  // the final STATUS read
    std::optional<uint8_t> error;   // the ERROR read after ERR
};

struct IdentifyInfo {
    std::string model = "FLASHDECODE SIMULATED CF 4.1";
    std::string serial = "SIM0000000001";
    std::string firmware = "SIM 1.0";
    uint32_t sectors = 3'915'776;  // about 2 GB
    int udmaSelected = 4;          // -1: none selected
    int mwdmaSelected = -1;
};

// A 256-word IDENTIFY DEVICE block as a CF 4.1 card returns it (848Ah
// signature, strings two characters per word with the first in bits 15:8,
// word 255 integrity checksum).
std::vector<uint16_t> IdentifyData(const IdentifyInfo& info = {});

// `count` sectors of seeded random words.
std::vector<uint16_t> RandomSectors(Bus& bus, size_t count);

enum class DmaKind { Ultra, Multiword };

struct DmaPlan {
    DmaKind kind = DmaKind::Ultra;
    size_t burstWords = 0;  // words per burst (per DMARQ envelope); 0 = one burst
    Terminator terminator = Terminator::Device;
    std::vector<size_t> pauseAfter{};  // Ultra DMA: each burst's sender pauses after these word indexes
};

// Each command writes its task file, the COMMAND register, polls STATUS
// (BSY, then DRQ for data commands) and moves its data.
IssuedCommand SetFeatures(Bus& bus, uint8_t feature, uint8_t count);
IssuedCommand IdentifyByPio(Bus& bus, std::span<const uint16_t> block);
IssuedCommand ReadSectorsPio(Bus& bus, uint32_t lba, std::span<const uint16_t> words);
IssuedCommand WriteSectorsPio(Bus& bus, uint32_t lba, std::span<const uint16_t> words);
IssuedCommand ReadDma(Bus& bus, uint32_t lba, std::span<const uint16_t> words, const DmaPlan& plan = {});
IssuedCommand WriteDma(Bus& bus, uint32_t lba, std::span<const uint16_t> words, const DmaPlan& plan = {});
// A command without data: BSY, then `status`, and when it has ERR the
// ERROR register read back as `error`.
IssuedCommand NonData(Bus& bus, uint8_t opcode, const TaskFile& taskFile, uint8_t status = kStatusReady,
                      uint8_t error = 0);
// SRST set and cleared through DEVICE CONTROL, then STATUS polled until
// the card is ready.
IssuedCommand SoftwareReset(Bus& bus);

// The named scenarios of cfsim.
struct ScenarioParams {
    uint32_t sectors = 3;
    uint32_t lba = 0x2A10;
    size_t burstWords = 0;
    uint64_t edges = 1'000'000;  // bench: strobe edges to reach, about
};

struct ScenarioInfo {
    std::string_view name;
    std::string_view description;
};

std::span<const ScenarioInfo> Scenarios();
// Returns the commands in the order they were issued. Throws
// std::invalid_argument for an unknown name.
std::vector<IssuedCommand> RunScenario(Bus& bus, std::string_view name, const ScenarioParams& params);

}  // namespace fd::sim
