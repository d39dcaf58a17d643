#include "host/analysis/transactions.h"

#include <algorithm>
#include <cstdio>

#include "plugin/interface/host_abi.h"

namespace fd::host::analysis {
namespace {

// Field ids of the plug-in's records (FdFieldId), by their short names here.
enum FieldId : uint16_t {
    kPioRead = FdFieldPioRead,
    kPioWrite = FdFieldPioWrite,
    kErrorRegister = FdFieldErrorRegister,
    kFeatures = FdFieldFeatures,
    kSectorCount = FdFieldSectorCount,
    kSectorNo = FdFieldSectorNo,
    kCylinderLow = FdFieldCylinderLow,
    kCylinderHigh = FdFieldCylinderHigh,
    kCardHead = FdFieldSelectCardHead,
    kStatus = FdFieldStatus,
    kCommand = FdFieldCommand,
    kAltStatus = FdFieldAltStatusRead,
    kControlWrite = FdFieldControlWrite,
    kDmaRead = FdFieldDmaRead,
    kDmaWrite = FdFieldDmaWrite,
    kUdmaRead = FdFieldDataRead,
    kUdmaWrite = FdFieldDataWrite,
    kCompose = FdFieldCompose,
    kReadBlock = FdFieldReadBlock,
    kWriteBlock = FdFieldWriteBlock,
};

constexpr uint32_t kWordsPerSector = 256;
constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint8_t kSetTransferMode = 0x03;
constexpr uint8_t kSetFeatures = 0xEF;

uint8_t Byte(const Record& record) { return static_cast<uint8_t>(record.value & 0xFF); }

bool IsDataProtocol(Protocol protocol) {
    return protocol == Protocol::PioIn || protocol == Protocol::PioOut || protocol == Protocol::Dma;
}

// Commands that work on the sectors their address and count name.
bool AddressesSectors(uint8_t opcode) {
    switch (opcode) {
        case 0x20:
        case 0x21:
        case 0x22:
        case 0x23:
        case 0x30:
        case 0x31:
        case 0x32:
        case 0x33:
        case 0x38:
        case 0x3C:
        case 0x40:
        case 0x41:
        case 0x87:
        case 0xC0:
        case 0xC4:
        case 0xC5:
        case 0xC8:
        case 0xC9:
        case 0xCA:
        case 0xCB:
        case 0xCD:
            return true;
        default:
            return (opcode & 0xF0) == 0x70;  // SEEK
    }
}

}  // namespace

std::string_view VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "ok";
        case Verdict::Error:
            return "error";
        case Verdict::IcrcError:
            return "icrc error";
        case Verdict::Aborted:
            return "aborted";
        case Verdict::Reset:
            return "reset";
        case Verdict::Incomplete:
            break;
    }
    return "incomplete";
}

std::string_view DataPathName(DataPath path) {
    switch (path) {
        case DataPath::Pio:
            return "PIO";
        case DataPath::MultiwordDma:
            return "MWDMA";
        case DataPath::UltraDma:
            return "UDMA";
        case DataPath::None:
            break;
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

bool Transaction::TouchesLba(uint32_t first, uint32_t last) const {
    if (!lba || !addressed || kind != Kind::Command) return false;
    const uint64_t lastOwn = uint64_t{lbaAddress} + std::max<uint32_t>(sectorCount, 1) - 1;
    return lbaAddress <= last && lastOwn >= first;
}

void TransactionBuilder::Add(const Record& record) {
    switch (record.fieldId) {
        case kFeatures:
        case kSectorCount:
        case kSectorNo:
        case kCylinderLow:
        case kCylinderHigh:
        case kCardHead:
            TaskFileAccess(record);
            break;
        case kErrorRegister:
            // The ERROR read that follows a failed command (or a diagnostic)
            // belongs to it.
            if (awaitingError_ && !done_.empty()) {
                Transaction& last = done_.back();
                const bool diagnostic =
                    last.protocol == Protocol::Diagnostic || last.kind == Transaction::Kind::SoftwareReset;
                if (diagnostic && !last.diagnosticCode) last.diagnosticCode = Byte(record);
                if (!diagnostic && !last.error) last.error = Byte(record);
            }
            awaitingError_ = false;
            break;
        case kCommand:
            Command(record);
            break;
        case kStatus:
            StatusRead(record, false);
            break;
        case kAltStatus:
            StatusRead(record, true);
            break;
        case kControlWrite:
            DeviceControl(record);
            break;
        case kPioRead:
            DataWord(record, DataPath::Pio, true);
            break;
        case kPioWrite:
            DataWord(record, DataPath::Pio, false);
            break;
        case kDmaRead:
            DataWord(record, DataPath::MultiwordDma, true);
            break;
        case kDmaWrite:
            DataWord(record, DataPath::MultiwordDma, false);
            break;
        case kUdmaRead:
            DataWord(record, DataPath::UltraDma, true);
            break;
        case kUdmaWrite:
            DataWord(record, DataPath::UltraDma, false);
            break;
        case kCompose:
            if (Open()) current_->sectorAddresses.push_back(record.value);
            break;
        case kReadBlock:
        case kWriteBlock:
            if (Open()) ++current_->blocks;
            break;
        default:
            break;  // markers, START, the leading record, DRIVE ADDRESS
    }
}

void TransactionBuilder::TaskFileAccess(const Record& record) {
    const uint8_t value = Byte(record);
    switch (record.fieldId) {
        case kFeatures:
            registers_.features = value;
            break;
        case kSectorCount:
            registers_.sectorCount = value;
            break;
        case kSectorNo:
            registers_.sectorNumber = value;
            break;
        case kCylinderLow:
            registers_.cylinderLow = value;
            break;
        case kCylinderHigh:
            registers_.cylinderHigh = value;
            break;
        default:
            registers_.deviceHead = value;
            break;
    }
    if (!setupStart_) setupStart_ = record.position;
}

void TransactionBuilder::Command(const Record& record) {
    if (Open()) Close(UnfinishedVerdict(Verdict::Aborted), current_->end);
    // A host may write a command without polling after a reset; the reset
    // itself happened, unless SRST is still held.
    if (reset_) CloseReset(resetReleased_ ? Verdict::Ok : Verdict::Aborted);
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
    t.addressed = AddressesSectors(opcode);
    if (IsDataProtocol(info.protocol)) {
        t.expectedWords = (info.countFromSectorCount ? t.sectorCount : 1) * kWordsPerSector;
    }
    t.dataIn = info.protocol == Protocol::PioIn || opcode == 0xC8 || opcode == 0xC9;
    if (opcode == kSetFeatures) {
        t.subcommand = SetFeaturesName(r.features, r.sectorCount);
        if (r.features == kSetTransferMode) t.transferMode = TransferModeName(r.sectorCount);
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
    const uint8_t status = Byte(record);
    if (reset_ && resetReleased_) {
        reset_->end = record.position;
        if (status & kStatusBsy) return;
        reset_->status = status;
        const bool failed = (status & kStatusErr) != 0;
        CloseReset(failed ? Verdict::Error : Verdict::Ok);
        awaitingError_ = failed;
        return;
    }
    if (!Open()) return;  // idle polling
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
    const bool knownDirection = t.kind == Transaction::Kind::DataWithoutCommand || IsDataProtocol(t.protocol);
    if (knownDirection && in != t.dataIn) {
        ++t.ignoredWords;
        return;
    }
    if (t.dataPath == DataPath::None) t.dataPath = path;
    ++t.words;
    if (keepData_ || t.opcode == kIdentifyDevice)
        t.data.push_back(static_cast<uint16_t>(record.value & 0xFFFF));
    t.end = record.position;
}

void TransactionBuilder::DeviceControl(const Record& record) {
    const uint8_t value = Byte(record);
    if (value & kControlSrst) {
        if (reset_ && !resetReleased_) return;  // still held
        if (reset_) CloseReset(Verdict::Ok);    // a second reset before the card answered the first
        if (Open()) Close(UnfinishedVerdict(Verdict::Reset), current_->end);
        Transaction t;
        t.kind = Transaction::Kind::SoftwareReset;
        t.name = "SOFTWARE RESET";
        t.protocol = Protocol::NonData;
        t.start = t.end = t.commandPosition = record.position;
        reset_ = std::move(t);
        resetReleased_ = false;
        return;
    }
    if (reset_ && !resetReleased_) {
        reset_->end = record.position;
        resetReleased_ = true;
        // The card's task file after a reset: the diagnostic signature.
        registers_ = TaskFile{0, 1, 1, 0, 0, 0};
        setupStart_.reset();
    }
}

void TransactionBuilder::CloseReset(Verdict verdict) {
    reset_->verdict = verdict;
    done_.push_back(std::move(*reset_));
    reset_.reset();
    resetReleased_ = false;
}

void TransactionBuilder::Close(Verdict verdict, uint32_t end) {
    Transaction& t = *current_;
    t.verdict = verdict;
    t.end = std::max(t.end, end);
    if (t.kind == Transaction::Kind::Command && t.expectedWords > 0 && t.words != t.expectedWords &&
        !(verdict == Verdict::Error && t.words == 0)) {
        t.notes.push_back("moved " + std::to_string(t.words) + " of " + std::to_string(t.expectedWords) +
                          " words");
    }
    if (t.kind == Transaction::Kind::Command && !IsDataProtocol(t.protocol) &&
        t.protocol != Protocol::Unknown && t.words > 0) {
        t.notes.push_back("data words in a command without a data phase");
    }
    if (t.opcode == kIdentifyDevice && t.kind == Transaction::Kind::Command)
        t.identify = ParseIdentify(t.data);
    done_.push_back(std::move(*current_));
    current_.reset();
    setupStart_.reset();
}

std::vector<Transaction> TransactionBuilder::Finish() {
    if (Open()) Close(Verdict::Incomplete, current_->end);
    if (reset_) CloseReset(Verdict::Incomplete);
    std::stable_sort(done_.begin(), done_.end(),
                     [](const Transaction& a, const Transaction& b) { return a.start < b.start; });
    return std::move(done_);
}

std::vector<Transaction> AnalyzeRecords(const std::vector<Record>& records, bool keepData) {
    TransactionBuilder builder(keepData);
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
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%s%02x",
                                   i == 8 ? "  " : " ", b);
                ascii += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
            } else {
                n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), "%s  ",
                                   i == 8 ? "  " : " ");
            }
        }
        out += line;
        out += "  |" + ascii + "|\n";
    }
    return out;
}

}  // namespace fd::host::analysis
