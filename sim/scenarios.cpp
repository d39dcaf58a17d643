#include "sim/scenarios.h"

#include <algorithm>
#include <stdexcept>

namespace fd::sim {
namespace {

constexpr double kCommandSettleNs = 400;  // a class 1 command sets BSY within 400 ns
constexpr double kCardLatencyNs = 1000;   // the card reads or writes its flash

// ATA strings: two characters per word, the first in bits 15:8.
void PutString(std::vector<uint16_t>& block, size_t firstWord, size_t words, std::string text,
               bool rightJustified) {
    const size_t chars = words * 2;
    text.resize(std::min(text.size(), chars));
    if (rightJustified)
        text.insert(0, chars - text.size(), ' ');
    else
        text.append(chars - text.size(), ' ');
    for (size_t i = 0; i < words; ++i) {
        block[firstWord + i] = static_cast<uint16_t>((static_cast<uint8_t>(text[2 * i]) << 8) |
                                                     static_cast<uint8_t>(text[2 * i + 1]));
    }
}

void CheckWholeSectors(std::span<const uint16_t> words) {
    if (words.empty() || words.size() % kSectorWords != 0) {
        throw std::invalid_argument("a sector transfer needs a whole number of 256-word sectors");
    }
    if (words.size() / kSectorWords > 256)
        throw std::invalid_argument("one command moves at most 256 sectors");
}

uint8_t CountRegister(std::span<const uint16_t> words) {
    return static_cast<uint8_t>(words.size() / kSectorWords);  // 256 sectors are written as 0
}

void DmaData(Bus& bus, std::span<const uint16_t> words, const DmaPlan& plan, bool write) {
    const size_t burst = plan.burstWords == 0 ? words.size() : plan.burstWords;
    for (size_t at = 0; at < words.size(); at += burst) {
        const auto part = words.subspan(at, std::min(burst, words.size() - at));
        if (plan.kind == DmaKind::Multiword) {
            write ? bus.MwdmaOut(part) : bus.MwdmaIn(part);
        } else {
            UdmaBurst shape;
            shape.terminator = plan.terminator;
            shape.pauseAfter = plan.pauseAfter;
            write ? bus.UdmaOut(part, shape) : bus.UdmaIn(part, shape);
        }
        bus.Idle(kCardLatencyNs / 4);
    }
}

IssuedCommand Issue(Bus& bus, uint8_t opcode, const TaskFile& file) {
    bus.WriteTaskFile(file);
    bus.Command(opcode);
    bus.Idle(kCommandSettleNs);
    IssuedCommand command;
    command.opcode = opcode;
    command.taskFile = file;
    return command;
}

// Starts a DMA command: task file, COMMAND, the card asks for data.
IssuedCommand StartDma(Bus& bus, uint8_t opcode, uint32_t lba, uint8_t count) {
    IssuedCommand command = Issue(bus, opcode, LbaTaskFile(lba, count));
    bus.PollStatus(1, kStatusDataReady, false);
    bus.Idle(kCardLatencyNs);
    return command;
}

IssuedCommand Dma(Bus& bus, uint8_t opcode, uint32_t lba, std::span<const uint16_t> words,
                  const DmaPlan& plan) {
    CheckWholeSectors(words);
    IssuedCommand command = StartDma(bus, opcode, lba, CountRegister(words));
    DmaData(bus, words, plan, opcode == kWriteDma);
    command.data.assign(words.begin(), words.end());
    if (plan.kind == DmaKind::Ultra && bus.options().faults.crcWord != Faults::CrcWord::Right) {
        // The card checked the burst CRC and found it wrong: an interface CRC error.
        bus.PollStatus(0, kStatusError);
        bus.Idle(kCommandSettleNs);
        bus.ReadRegister(Reg::Error, kErrorInterfaceCrc | kErrorAbort);
        command.status = kStatusError;
        command.error = kErrorInterfaceCrc | kErrorAbort;
        command.outcome = Verdict::Error;
        return command;
    }
    bus.PollStatus(0, kStatusReady);
    command.status = kStatusReady;
    return command;
}

TaskFile DeviceZero() {
    TaskFile file;
    file.deviceHead = 0xA0;
    return file;
}

}  // namespace

std::vector<uint16_t> IdentifyData(const IdentifyInfo& info) {
    std::vector<uint16_t> block(kSectorWords, 0);
    constexpr uint32_t kHeads = 16, kSectorsPerTrack = 63;
    const uint32_t cylinders = std::min<uint32_t>(info.sectors / (kHeads * kSectorsPerTrack), 16383);
    const uint32_t chsSectors = cylinders * kHeads * kSectorsPerTrack;
    block[0] = 0x848A;  // CompactFlash signature
    block[1] = static_cast<uint16_t>(cylinders);
    block[3] = kHeads;
    block[6] = kSectorsPerTrack;
    block[7] = static_cast<uint16_t>(info.sectors >> 16);
    block[8] = static_cast<uint16_t>(info.sectors);
    PutString(block, 10, 10, info.serial, true);
    block[22] = 4;  // ECC bytes of READ/WRITE LONG
    PutString(block, 23, 4, info.firmware, false);
    PutString(block, 27, 20, info.model, false);
    block[47] = 0x8001;
    block[49] = 0x0B00;  // IORDY, LBA, DMA
    block[51] = 0x0200;
    block[53] = 0x0007;
    block[54] = block[1];
    block[55] = block[3];
    block[56] = block[6];
    block[57] = static_cast<uint16_t>(chsSectors);
    block[58] = static_cast<uint16_t>(chsSectors >> 16);
    block[59] = 0x0101;
    block[60] = static_cast<uint16_t>(info.sectors);
    block[61] = static_cast<uint16_t>(info.sectors >> 16);
    block[63] = 0x0007;
    if (info.mwdmaSelected >= 0 && info.mwdmaSelected <= 2)
        block[63] |= static_cast<uint16_t>(0x100 << info.mwdmaSelected);
    block[64] = 0x0003;
    block[65] = block[66] = block[67] = block[68] = 120;
    block[82] = 0x7020;
    block[83] = 0x5004;  // CFA feature set, FLUSH CACHE
    block[84] = 0x4000;
    block[85] = 0x7020;
    block[86] = 0x1004;
    block[87] = 0x4000;
    block[88] = 0x007F;
    if (info.udmaSelected >= 0 && info.udmaSelected <= 6)
        block[88] |= static_cast<uint16_t>(0x100 << info.udmaSelected);
    block[160] = 0x8100;
    block[163] = 0x0012;  // PIO 6 and multiword DMA 4
    // Integrity word: signature A5h, and a checksum byte that makes all 512
    // bytes sum to zero.
    uint8_t sum = 0xA5;
    for (size_t i = 0; i < 255; ++i) sum = static_cast<uint8_t>(sum + (block[i] & 0xFF) + (block[i] >> 8));
    block[255] = static_cast<uint16_t>((static_cast<uint8_t>(-sum) << 8) | 0xA5);
    return block;
}

std::vector<uint16_t> RandomSectors(Bus& bus, size_t count) {
    std::vector<uint16_t> words(count * kSectorWords);
    for (uint16_t& word : words) word = static_cast<uint16_t>(bus.random()() >> 16);
    return words;
}

IssuedCommand SetFeatures(Bus& bus, uint8_t feature, uint8_t count) {
    TaskFile file = DeviceZero();
    file.features = feature;
    file.sectorCount = count;
    return NonData(bus, kSetFeatures, file);
}

IssuedCommand NonData(Bus& bus, uint8_t opcode, const TaskFile& file, uint8_t status, uint8_t error) {
    IssuedCommand command = Issue(bus, opcode, file);
    bus.PollStatus(1, status);
    command.status = status;
    if (status & 0x01) {
        bus.Idle(kCommandSettleNs);
        bus.ReadRegister(Reg::Error, error);
        command.error = error;
        command.outcome = Verdict::Error;
    }
    return command;
}

IssuedCommand SoftwareReset(Bus& bus) {
    IssuedCommand reset;
    reset.softwareReset = true;
    bus.WriteRegister(Reg::DeviceControl, 0x0C);  // SRST, with the obsolete bit 3 hosts set
    bus.Idle(5000);                               // SRST is held at least 5 us
    bus.WriteRegister(Reg::DeviceControl, 0x08);
    bus.Idle(2000);
    bus.PollStatus(2, kStatusReady, false);
    return reset;
}

IssuedCommand IdentifyByPio(Bus& bus, std::span<const uint16_t> block) {
    if (block.size() != kSectorWords) throw std::invalid_argument("IDENTIFY DEVICE returns 256 words");
    IssuedCommand command = Issue(bus, kIdentifyDevice, DeviceZero());
    bus.PollStatus(2, kStatusDataReady);
    bus.PioDataIn(block);
    bus.ReadRegister(Reg::AltStatus, kStatusReady);
    command.data.assign(block.begin(), block.end());
    command.status = kStatusReady;
    return command;
}

IssuedCommand ReadSectorsPio(Bus& bus, uint32_t lba, std::span<const uint16_t> words) {
    CheckWholeSectors(words);
    IssuedCommand command = Issue(bus, kReadSectors, LbaTaskFile(lba, CountRegister(words)));
    for (size_t at = 0; at < words.size(); at += kSectorWords) {
        bus.PollStatus(at == 0 ? 2 : 1, kStatusDataReady);
        bus.PioDataIn(words.subspan(at, kSectorWords));
    }
    bus.ReadRegister(Reg::AltStatus, kStatusReady);
    command.data.assign(words.begin(), words.end());
    command.status = kStatusReady;
    return command;
}

IssuedCommand WriteSectorsPio(Bus& bus, uint32_t lba, std::span<const uint16_t> words) {
    CheckWholeSectors(words);
    IssuedCommand command = Issue(bus, kWriteSectors, LbaTaskFile(lba, CountRegister(words)));
    // The first block is asked for without an interrupt.
    bus.PollStatus(1, kStatusDataReady, false);
    for (size_t at = 0; at < words.size(); at += kSectorWords) {
        bus.PioDataOut(words.subspan(at, kSectorWords));
        bus.Idle(kCardLatencyNs);
        const bool last = at + kSectorWords == words.size();
        bus.PollStatus(1, last ? kStatusReady : kStatusDataReady);
    }
    command.data.assign(words.begin(), words.end());
    command.status = kStatusReady;
    return command;
}

IssuedCommand ReadDma(Bus& bus, uint32_t lba, std::span<const uint16_t> words, const DmaPlan& plan) {
    return Dma(bus, kReadDma, lba, words, plan);
}

IssuedCommand WriteDma(Bus& bus, uint32_t lba, std::span<const uint16_t> words, const DmaPlan& plan) {
    return Dma(bus, kWriteDma, lba, words, plan);
}

namespace {

constexpr ScenarioInfo kScenarios[] = {
    {"identify", "IDENTIFY DEVICE read by PIO (256 data words)"},
    {"set-features", "SET FEATURES: select the Ultra DMA mode of --udma-mode"},
    {"pio-read", "READ SECTORS of --sectors sectors by PIO"},
    {"pio-write", "WRITE SECTORS of --sectors sectors by PIO"},
    {"udma-read", "READ DMA of --sectors sectors in Ultra DMA (card to host)"},
    {"udma-write", "WRITE DMA of --sectors sectors in Ultra DMA (host to card)"},
    {"mdma", "READ DMA then WRITE DMA of --sectors sectors each in multiword DMA"},
    {"bench",
     "Benchmark workload of about --edges strobe edges: READ DMA and WRITE DMA of 16 sectors "
     "each in one Ultra DMA burst with pauses, task-file writes and STATUS reads"},
    {"mixed",
     "SET FEATURES, IDENTIFY, READ DMA and WRITE DMA in Ultra DMA, a PIO read, "
     "then READ DMA in multiword DMA"},
    {"non-data", "SET FEATURES, FLUSH CACHE and READ VERIFY SECTORS of --sectors sectors"},
    {"errors",
     "SET FEATURES with a subcommand the card refuses (ERR, ABRT), then READ SECTORS "
     "beyond the card's end (ERR, IDNF)"},
    {"new-command",
     "READ SECTORS of --sectors sectors given up half-way through its first sector "
     "for an IDENTIFY DEVICE"},
    {"soft-reset",
     "READ DMA of --sectors sectors in Ultra DMA stopped by a software reset, "
     "then FLUSH CACHE"},
    {"udma-pause",
     "READ DMA and WRITE DMA of --sectors sectors in Ultra DMA bursts that pause "
     "and resume (the host ends the read's bursts)"},
    {"truncated", "WRITE SECTORS of --sectors sectors, the capture ending in its data phase"},
    {"verdicts",
     "one command of each verdict: FLUSH CACHE (ok), SET FEATURES (error, ABRT), "
     "READ SECTORS (aborted by IDENTIFY), READ DMA (reset), WRITE DMA without its "
     "final STATUS (incomplete)"},
};

constexpr uint8_t kRefusedFeature = 0x77;

IssuedCommand AbortedPioRead(Bus& bus, uint32_t lba, const std::vector<uint16_t>& words) {
    IssuedCommand command = Issue(bus, kReadSectors, LbaTaskFile(lba, CountRegister(words)));
    bus.PollStatus(2, kStatusDataReady);
    const std::span<const uint16_t> half = std::span(words).first(kSectorWords / 2);
    bus.PioDataIn(half);
    bus.Idle(kCardLatencyNs);
    command.data.assign(half.begin(), half.end());
    command.outcome = Verdict::Aborted;
    return command;
}

IssuedCommand ResetDmaRead(Bus& bus, uint32_t lba, const std::vector<uint16_t>& words) {
    IssuedCommand command = StartDma(bus, kReadDma, lba, CountRegister(words));
    const std::span<const uint16_t> part = std::span(words).first(words.size() / 2 + 1);
    bus.UdmaIn(part);
    bus.Idle(kCardLatencyNs);
    command.data.assign(part.begin(), part.end());
    command.outcome = Verdict::Reset;
    return command;
}

// Strobe edges the phases from `first` on put on the bus (IORD, IOWR, IORDY).
uint64_t StrobeEdges(const Transcript& transcript, size_t first) {
    uint64_t edges = 0;
    for (size_t i = first; i < transcript.phases.size(); ++i) {
        const Phase& phase = transcript.phases[i];
        switch (phase.kind) {
            case PhaseKind::RegisterRead:
            case PhaseKind::RegisterWrite:
                edges += 2;
                break;
            case PhaseKind::UdmaIn:
            case PhaseKind::UdmaOut:
                edges += phase.words.size() + 4;
                break;
            default:
                edges += 2 * phase.words.size();
                break;
        }
    }
    return edges;
}

// The benchmark workload: whole DMA commands until `edges` strobe edges.
// 4096-word bursts that pause every 512 words, as a card whose buffer
// drains; fixed sizes keep the cost per edge the same at every length.
std::vector<IssuedCommand> BenchWorkload(Bus& bus, const ScenarioParams& params) {
    std::vector<IssuedCommand> issued;
    constexpr size_t kCommandSectors = 16;
    UdmaBurst burst;
    for (size_t word = 511; word + 1 < kCommandSectors * kSectorWords; word += 512)
        burst.pauseAfter.push_back(word);
    uint64_t edges = 0;
    uint32_t lba = params.lba;
    for (uint64_t command = 0; edges < params.edges; ++command) {
        const size_t first = bus.transcript().phases.size();
        const bool write = command % 2 == 1;
        const std::vector<uint16_t> words = RandomSectors(bus, kCommandSectors);
        IssuedCommand issuedCommand =
            Issue(bus, write ? kWriteDma : kReadDma, LbaTaskFile(lba & 0x0FFFFFFF, kCommandSectors));
        bus.PollStatus(1, kStatusDataReady, false);
        write ? bus.UdmaOut(words, burst) : bus.UdmaIn(words, burst);
        bus.Idle(kCardLatencyNs / 4);
        bus.PollStatus(0, kStatusReady);
        lba += kCommandSectors;
        edges += StrobeEdges(bus.transcript(), first);
        issuedCommand.data = words;
        issuedCommand.status = kStatusReady;
        issued.push_back(std::move(issuedCommand));
    }
    return issued;
}

}  // namespace

std::span<const ScenarioInfo> Scenarios() { return kScenarios; }

std::vector<IssuedCommand> RunScenario(Bus& bus, std::string_view name, const ScenarioParams& params) {
    if (params.sectors == 0 || params.sectors > 256) {
        throw std::invalid_argument("--sectors must be between 1 and 256");
    }
    const Options& options = bus.options();
    DmaPlan ultra{DmaKind::Ultra, params.burstWords};
    DmaPlan multiword{DmaKind::Multiword, params.burstWords};
    IdentifyInfo info;
    info.udmaSelected = options.udmaMode;
    const auto udmaMode = static_cast<uint8_t>(0x40 | options.udmaMode);
    const uint32_t lba = params.lba;
    const uint32_t n = params.sectors;
    std::vector<IssuedCommand> issued;
    auto add = [&issued](IssuedCommand command) { issued.push_back(std::move(command)); };
    if (name == "identify") {
        add(IdentifyByPio(bus, IdentifyData(info)));
    } else if (name == "set-features") {
        add(SetFeatures(bus, kSetTransferMode, udmaMode));
    } else if (name == "pio-read") {
        add(ReadSectorsPio(bus, lba, RandomSectors(bus, n)));
    } else if (name == "pio-write") {
        add(WriteSectorsPio(bus, lba, RandomSectors(bus, n)));
    } else if (name == "udma-read") {
        add(ReadDma(bus, lba, RandomSectors(bus, n), ultra));
    } else if (name == "udma-write") {
        add(WriteDma(bus, lba, RandomSectors(bus, n), ultra));
    } else if (name == "mdma") {
        add(ReadDma(bus, lba, RandomSectors(bus, n), multiword));
        add(WriteDma(bus, lba, RandomSectors(bus, n), multiword));
    } else if (name == "bench") {
        issued = BenchWorkload(bus, params);
    } else if (name == "mixed") {
        add(SetFeatures(bus, kSetTransferMode, udmaMode));
        add(IdentifyByPio(bus, IdentifyData(info)));
        add(ReadDma(bus, lba, RandomSectors(bus, n), ultra));
        add(WriteDma(bus, lba + n, RandomSectors(bus, n), ultra));
        add(ReadSectorsPio(bus, lba, RandomSectors(bus, 1)));
        add(SetFeatures(bus, kSetTransferMode, static_cast<uint8_t>(0x20 | options.mwdmaMode)));
        add(ReadDma(bus, lba, RandomSectors(bus, 1), multiword));
    } else if (name == "non-data") {
        add(SetFeatures(bus, kSetTransferMode, udmaMode));
        add(NonData(bus, kFlushCache, LbaTaskFile(0, 0)));
        add(NonData(bus, kReadVerifySectors, LbaTaskFile(lba, static_cast<uint8_t>(n))));
    } else if (name == "errors") {
        TaskFile refused;
        refused.features = kRefusedFeature;
        refused.deviceHead = 0xA0;
        add(NonData(bus, kSetFeatures, refused, kStatusError, kErrorAbort));
        add(NonData(bus, kReadSectors, LbaTaskFile(0x0FFFFFF0, static_cast<uint8_t>(n)), kStatusError,
                    kErrorIdNotFound));
    } else if (name == "new-command") {
        add(AbortedPioRead(bus, lba, RandomSectors(bus, n)));
        add(IdentifyByPio(bus, IdentifyData(info)));
    } else if (name == "soft-reset") {
        add(ResetDmaRead(bus, lba, RandomSectors(bus, n)));
        add(SoftwareReset(bus));
        add(NonData(bus, kFlushCache, LbaTaskFile(0, 0)));
    } else if (name == "udma-pause") {
        DmaPlan paused{DmaKind::Ultra, params.burstWords, Terminator::Host, {20, 100}};
        add(ReadDma(bus, lba, RandomSectors(bus, n), paused));
        paused.terminator = Terminator::Device;
        add(WriteDma(bus, lba + n, RandomSectors(bus, n), paused));
    } else if (name == "truncated") {
        const auto words = RandomSectors(bus, n);
        IssuedCommand command = Issue(bus, kWriteSectors, LbaTaskFile(lba, static_cast<uint8_t>(n)));
        bus.PollStatus(1, kStatusDataReady, false);
        const std::span<const uint16_t> part = std::span(words).first(words.size() - 56);
        bus.PioDataOut(part);
        command.data.assign(part.begin(), part.end());
        command.outcome = Verdict::Incomplete;
        add(std::move(command));
    } else if (name == "verdicts") {
        add(NonData(bus, kFlushCache, LbaTaskFile(0, 0)));
        TaskFile refused;
        refused.features = kRefusedFeature;
        refused.deviceHead = 0xA0;
        add(NonData(bus, kSetFeatures, refused, kStatusError, kErrorAbort));
        add(AbortedPioRead(bus, lba, RandomSectors(bus, n)));
        add(IdentifyByPio(bus, IdentifyData(info)));
        add(ResetDmaRead(bus, lba, RandomSectors(bus, n)));
        add(SoftwareReset(bus));
        const auto words = RandomSectors(bus, n);
        IssuedCommand last = StartDma(bus, kWriteDma, lba, static_cast<uint8_t>(n));
        DmaData(bus, words, ultra, true);
        last.data = words;
        last.outcome = Verdict::Incomplete;
        add(std::move(last));
    } else {
        throw std::invalid_argument("unknown scenario \"" + std::string(name) + "\"");
    }
    return issued;
}

}  // namespace fd::sim
