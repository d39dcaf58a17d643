// Whole ATA commands and ready-made bus scenarios on top of the Bus builder:
// SET FEATURES, IDENTIFY DEVICE by PIO, PIO sector reads and writes, READ and
// WRITE DMA in Ultra or multiword DMA, and the named scenarios of cfsim.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bus.h"

namespace fd::sim {

inline constexpr size_t kSectorWords = 256;

// ATA opcodes the scenarios use.
inline constexpr uint8_t kReadSectors = 0x20;
inline constexpr uint8_t kWriteSectors = 0x30;
inline constexpr uint8_t kReadDma = 0xC8;
inline constexpr uint8_t kWriteDma = 0xCA;
inline constexpr uint8_t kIdentifyDevice = 0xEC;
inline constexpr uint8_t kSetFeatures = 0xEF;
inline constexpr uint8_t kSetTransferMode = 0x03;  // SET FEATURES subcommand

// STATUS answers.
inline constexpr uint8_t kStatusReady = 0x50;     // DRDY | DSC
inline constexpr uint8_t kStatusDataReady = 0x58;  // DRDY | DSC | DRQ

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
};

// Each command writes its task file, the COMMAND register, polls STATUS
// (BSY, then DRQ for data commands) and moves its data.
void SetFeatures(Bus& bus, uint8_t feature, uint8_t count);
void IdentifyByPio(Bus& bus, std::span<const uint16_t> block);
void ReadSectorsPio(Bus& bus, uint32_t lba, std::span<const uint16_t> words);
void WriteSectorsPio(Bus& bus, uint32_t lba, std::span<const uint16_t> words);
void ReadDma(Bus& bus, uint32_t lba, std::span<const uint16_t> words, const DmaPlan& plan = {});
void WriteDma(Bus& bus, uint32_t lba, std::span<const uint16_t> words, const DmaPlan& plan = {});

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
// Throws std::invalid_argument for an unknown name.
void RunScenario(Bus& bus, std::string_view name, const ScenarioParams& params);

}  // namespace fd::sim
