#include "host/analysis/transactions.h"

#include <algorithm>
#include <cstdio>

namespace fd::host::analysis {
namespace {

// Field ids of the plug-in's records.
enum FieldId : uint16_t {
    kPioRead = 4002,
    kPioWrite = 4003,
    kErrorRegister = 4004,
    kFeatures = 4005,
    kSectorCount = 4006,
    kSectorNo = 4007,
    kCylinderLow = 4008,
    kCylinderHigh = 4009,
    kCardHead = 4010,
    kStatus = 4011,
    kCommand = 4012,
    kAltStatus = 4013,
    kControlWrite = 4014,
    kDmaRead = 4017,
    kDmaWrite = 4018,
    kUdmaRead = 4026,
    kUdmaWrite = 4032,
    kCompose = 3036,
};

constexpr uint32_t kWordsPerSector = 256;
constexpr uint8_t kSetTransferMode = 0x03;
constexpr uint8_t kSetFeatures = 0xEF;

uint8_t Byte(const Record& record) { return static_cast<uint8_t>(record.value & 0xFF); }

bool IsDataProtocol(Protocol protocol) {
    return protocol == Protocol::PioIn || protocol == Protocol::PioOut || protocol == Protocol::Dma;
}

}  // namespace

std::string_view VerdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Ok: return "ok";
    case Verdict::Error: return "error";
    case Verdict::Aborted: return "aborted";
    case Verdict::Reset: return "reset";
    case Verdict::Incomplete: break;
    }
    return "incomplete";
}

std::string_view DataPathName(DataPath path) {
    switch (path) {
    case DataPath::Pio: return "PIO";
    case DataPath::MultiwordDma: return "MWDMA";
    case DataPath::UltraDma: return "UDMA";
    case DataPath::None: break;
    }
    return "";
}

std::vector<uint8_t> Transaction::Payload() const {
    std::vector<uint8_t> bytes;
    bytes.reserve(data.size() * 2);
    for (uint16_t word : data) {
        bytes.push_back(static_cast<uint8_t>(word & 0xFF));
        bytes.push_back(static_cast<uint8_t>(word >> 8));
    }
    return bytes;
}

void TransactionBuilder::Add(const Record& record) {
    switch (record.fieldId) {
    case kFeatures:
    case kSectorCount:
    case kSectorNo:
    case kCylinderLow:
    case kCylinderHigh:
    case kCardHead: TaskFileAccess(record); break;
    case kErrorRegister:
        // The ERROR read that follows a failed command (or a diagnostic)
        // belongs to it.
        if (awaitingError_ && !done_.empty() && !done_.back().error) done_.back().error = Byte(record);
        awaitingError_ = false;
        break;
    case kCommand: Command(record); break;
    case kStatus: StatusRead(record, false); break;
    case kAltStatus: StatusRead(record, true); break;
    case kControlWrite: DeviceControl(record); break;
    case kPioRead: DataWord(record, DataPath::Pio, true); break;
    case kPioWrite: DataWord(record, DataPath::Pio, false); break;
    case kDmaRead: DataWord(record, DataPath::MultiwordDma, true); break;
    case kDmaWrite: DataWord(record, DataPath::MultiwordDma, false); break;
    case kUdmaRead: DataWord(record, DataPath::UltraDma, true); break;
    case kUdmaWrite: DataWord(record, DataPath::UltraDma, false); break;
    case kCompose:
        if (Open()) current_->sectorAddresses.push_back(record.value);
        break;
    default: break;  // markers, START, the leading record, DRIVE ADDRESS
    }
}

void TransactionBuilder::TaskFileAccess(const Record& record) {
    const uint8_t value = Byte(record);
    switch (record.fieldId) {
    case kFeatures: registers_.features = value; break;
    case kSectorCount: registers_.sectorCount = value; break;
    case kSectorNo: registers_.sectorNumber = value; break;
    case kCylinderLow: registers_.cylinderLow = value; break;
    case kCylinderHigh: registers_.cylinderHigh = value; break;
    default: registers_.deviceHead = value; break;
    }
    if (!setupStart_) setupStart_ = record.position;
}

void TransactionBuilder::Command(const Record& record) {
    if (Open()) Close(Verdict::Aborted, current_->end);
    const uint8_t opcode = Byte(record);
    const CommandInfo info = LookupCommand(opcode);
    Transaction t;
    t.kind = Transaction::Kind::Command;
    t.start = setupStart_.value_or(record.position);
    t.end = record.position;
    t.commandPosition = record.position;
    t.opcode = opcode;
    if (info.name != nullptr) {
        t.name = info.name;
    } else {
        char name[24];
        std::snprintf(name, sizeof name, "COMMAND 0x%02X", opcode);
        t.name = name;
    }
    t.protocol = info.protocol;
    t.taskFile = registers_;
    const TaskFile& r = registers_;
    t.device = (r.deviceHead & kDeviceHeadDev) ? 1 : 0;
    t.lba = (r.deviceHead & kDeviceHeadLba) != 0;
    t.lbaAddress = (static_cast<uint32_t>(r.deviceHead & 0x0F) << 24) |
                   (static_cast<uint32_t>(r.cylinderHigh) << 16) |
                   (static_cast<uint32_t>(r.cylinderLow) << 8) | r.sectorNumber;
    t.cylinder = (static_cast<uint32_t>(r.cylinderHigh) << 8) | r.cylinderLow;
    t.head = r.deviceHead & 0x0Fu;
    t.sector = r.sectorNumber;
    t.sectorCount = r.sectorCount == 0 ? 256 : r.sectorCount;
    if (IsDataProtocol(info.protocol)) {
        t.expectedWords = (info.countFromSectorCount ? t.sectorCount : 1) * kWordsPerSector;
    }
    t.dataIn = info.protocol == Protocol::PioIn || opcode == 0xC8 || opcode == 0xC9;
    if (opcode == kSetFeatures && r.features == kSetTransferMode) {
        t.transferMode = TransferModeName(r.sectorCount);
    }
    current_ = std::move(t);
    setupStart_.reset();
    awaitingError_ = false;
}

bool TransactionBuilder::DataComplete() const {
    const Transaction& t = *current_;
    if (t.kind == Transaction::Kind::DataWithoutCommand) return true;
    if (!IsDataProtocol(t.protocol)) return true;
    return t.words >= t.expectedWords;
}

void TransactionBuilder::StatusRead(const Record& record, bool /*alternate*/) {
    if (!Open()) return;  // idle polling
    const uint8_t status = Byte(record);
    current_->end = record.position;
    if (status & kStatusBsy) return;  // nothing else is valid while busy
    if (status & (kStatusErr | kStatusDf)) {
        current_->status = status;
        const bool unknownStart = current_->kind == Transaction::Kind::DataWithoutCommand;
        Close(unknownStart ? Verdict::Incomplete : Verdict::Error, record.position);
        awaitingError_ = true;
        return;
    }
    if (status & kStatusDrq) return;  // a data block is on its way
    // Idle and no error: the end, unless the data the command promised has
    // not all moved yet (a status read too early is not a completion).
    if (!DataComplete()) return;
    current_->status = status;
    const bool diagnostic = current_->protocol == Protocol::Diagnostic;
    const bool unknownStart = current_->kind == Transaction::Kind::DataWithoutCommand;
    Close(unknownStart ? Verdict::Incomplete : Verdict::Ok, record.position);
    awaitingError_ = diagnostic;  // a diagnostic leaves its result in ERROR
}

void TransactionBuilder::DataWord(const Record& record, DataPath path, bool in) {
    if (!Open()) {
        // The capture began inside a data phase (or the command was missed).
        Transaction t;
        t.kind = Transaction::Kind::DataWithoutCommand;
        t.name = "(data without a command)";
        t.start = t.end = record.position;
        t.protocol = path == DataPath::Pio ? (in ? Protocol::PioIn : Protocol::PioOut) : Protocol::Dma;
        t.dataIn = in;
        current_ = std::move(t);
    }
    Transaction& t = *current_;
    if (t.dataPath == DataPath::None) t.dataPath = path;
    ++t.words;
    t.data.push_back(static_cast<uint16_t>(record.value & 0xFFFF));
    t.end = record.position;
}

void TransactionBuilder::DeviceControl(const Record& record) {
    const uint8_t value = Byte(record);
    if (value & kControlSrst) {
        if (reset_) return;  // still held
        if (Open()) Close(Verdict::Reset, current_->end);
        Transaction t;
        t.kind = Transaction::Kind::SoftwareReset;
        t.name = "SOFTWARE RESET";
        t.protocol = Protocol::NonData;
        t.start = t.end = t.commandPosition = record.position;
        reset_ = std::move(t);
        return;
    }
    if (reset_) {
        reset_->end = record.position;
        reset_->verdict = Verdict::Ok;
        done_.push_back(std::move(*reset_));
        reset_.reset();
    }
}

void TransactionBuilder::Close(Verdict verdict, uint32_t end) {
    current_->verdict = verdict;
    current_->end = std::max(current_->end, end);
    done_.push_back(std::move(*current_));
    current_.reset();
    setupStart_.reset();
}

std::vector<Transaction> TransactionBuilder::Finish() {
    if (Open()) Close(Verdict::Incomplete, current_->end);
    if (reset_) {
        reset_->verdict = Verdict::Incomplete;
        done_.push_back(std::move(*reset_));
        reset_.reset();
    }
    std::stable_sort(done_.begin(), done_.end(),
                     [](const Transaction& a, const Transaction& b) { return a.start < b.start; });
    return std::move(done_);
}

std::vector<Transaction> AnalyzeRecords(const std::vector<Record>& records) {
    TransactionBuilder builder;
    for (const Record& record : records) builder.Add(record);
    return builder.Finish();
}

std::string HexView(const std::vector<uint8_t>& bytes) {
    std::string out;
    char line[96];
    for (size_t offset = 0; offset < bytes.size(); offset += 16) {
        int n = std::snprintf(line, sizeof line, "%08zx ", offset);
        std::string ascii;
        for (size_t i = 0; i < 16; ++i) {
            if (offset + i < bytes.size()) {
                const uint8_t b = bytes[offset + i];
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%s%02x", i == 8 ? "  " : " ", b);
                ascii += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
            } else {
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%s  ", i == 8 ? "  " : " ");
            }
        }
        out += line;
        out += "  |" + ascii + "|\n";
    }
    return out;
}

}  // namespace fd::host::analysis
