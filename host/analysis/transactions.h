// Turns the plug-in's record stream (position, value, field id, in order)
// into ATA command transactions: the task-file set-up, the COMMAND write,
// the data phase and the completion, each with an honest verdict. No I/O and
// no knowledge of capture formats; views and exporters read the result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/analysis/ata_registers.h"
#include "host/analysis/identify.h"

namespace fd::host::analysis {

// One decoded record as the plug-in's lists give it.
struct Record {
    uint32_t position = 0;
    int64_t value = 0;
    uint16_t fieldId = 0;
};

enum class Verdict {
    Ok,     // completed, STATUS without ERR
    Error,  // completed, STATUS with ERR (or DF)
    // An Ultra DMA burst of it carried a CRC word that does not match its
    // data, or none: the card reports an interface CRC error (ICRC), whatever
    // the capture shows of its end.
    IcrcError,
    Aborted,     // a new COMMAND came before completion
    Reset,       // a software reset came before completion
    Incomplete,  // the capture ended (or began) inside it
};
// "ok", "error", "icrc error", "aborted", "reset", "incomplete"
std::string_view VerdictName(Verdict verdict);

enum class DataPath { None, Pio, MultiwordDma, UltraDma };
std::string_view DataPathName(DataPath path);

struct TaskFile {
    uint8_t features = 0;
    uint8_t sectorCount = 0;
    uint8_t sectorNumber = 0;
    uint8_t cylinderLow = 0;
    uint8_t cylinderHigh = 0;
    uint8_t deviceHead = 0;
};

// One Ultra DMA burst (a DMACK- envelope) and its CRC check.
struct UdmaBurstCrc {
    enum class Result { Ok, Mismatch, NoWord };
    uint32_t start = 0;  // DMACK- asserted
    uint32_t end = 0;    // DMACK- negated: the CRC word is on DD
    bool in = false;     // device to host
    uint64_t words = 0;
    uint16_t computed = 0;  // the CRC of the words the burst carried
    uint16_t sent = 0;      // the word on DD at the negation
    Result result = Result::Ok;
    bool bad() const { return result != Result::Ok; }
    // "crc ok", "crc mismatch: sent 0xB810, data gives 0x5E15", "no crc word"
    std::string Describe() const;
};

struct Transaction {
    enum class Kind { Command, SoftwareReset, DataWithoutCommand };
    Kind kind = Kind::Command;
    uint32_t start = 0;  // first task-file access of the set-up, or the COMMAND write
    uint32_t end = 0;    // completing STATUS read (or the last record seen)
    uint32_t commandPosition = 0;
    uint8_t opcode = 0;
    std::string name;
    Protocol protocol = Protocol::Unknown;
    TaskFile taskFile;  // as the registers stood at the COMMAND write
    int device = 0;     // DEV bit
    bool lba = false;
    uint32_t lbaAddress = 0;                      // LBA28 when lba
    uint32_t cylinder = 0, head = 0, sector = 0;  // CHS when !lba
    uint32_t sectorCount = 0;                     // 0 in the register means 256
    bool addressed = false;      // the command works on the sectors the address and count name
    uint32_t expectedWords = 0;  // for data commands with a known length, else 0
    DataPath dataPath = DataPath::None;
    bool dataIn = false;  // device to host
    uint64_t words = 0;
    // Strobe edges the decoder reports as words but which carry no data of
    // this command: words against the command's direction (the host's
    // HDMARDY- edges pausing a data-in burst, PIO writes in a PIO read).
    uint64_t ignoredWords = 0;
    std::vector<uint16_t> data;             // words in bus order (kept when asked for, and for IDENTIFY)
    std::vector<int64_t> sectorAddresses;   // COMPOSE values seen in the data phase
    std::optional<uint8_t> status;          // final STATUS
    std::optional<uint8_t> error;           // ERROR read after ERR
    std::string transferMode;               // SET FEATURES 03h: the mode it selects
    std::string subcommand;                 // SET FEATURES: what its FEATURES value asks for
    std::optional<uint8_t> diagnosticCode;  // a diagnostic's (or reset's) result, read from ERROR
    uint32_t blocks = 0;                    // Ultra DMA block markers (a sector starting) seen
    std::optional<IdentifyInfo> identify;   // IDENTIFY DEVICE with all 256 words
    std::vector<std::string> notes;         // what was odd about it ("moved 300 of 256 words")
    std::vector<UdmaBurstCrc> bursts;       // its Ultra DMA bursts, when the bus was checked
    uint64_t glitchWords = 0;               // words recorded at strobe glitches, when the bus was checked
    Verdict verdict = Verdict::Incomplete;

    uint64_t bytes() const { return words * 2; }
    // Does it work on a sector of [first, last] (LBA addressing only)?
    bool TouchesLba(uint32_t first, uint32_t last) const;
    // Words as bytes, little-endian as on the bus (D7:0 first).
    std::vector<uint8_t> Payload() const;
};

// Feed records in order, then Finish(); transactions come out in the order
// their commands were written.
class TransactionBuilder {
public:
    // keepData false keeps only the count of words moved (and IDENTIFY
    // data), for long captures whose payload nobody looks at.
    explicit TransactionBuilder(bool keepData = true) : keepData_(keepData) {}
    void Add(const Record& record);
    std::vector<Transaction> Finish();

    const std::vector<Transaction>& done() const { return done_; }

private:
    void TaskFileAccess(const Record& record);
    void Command(const Record& record);
    void StatusRead(const Record& record, bool alternate);
    void DataWord(const Record& record, DataPath path, bool in);
    void DeviceControl(const Record& record);
    void CloseReset(Verdict verdict);
    void Close(Verdict verdict, uint32_t end);
    bool Open() const { return current_.has_value(); }
    // How the open transaction ends when something cuts it short: data
    // whose command the capture missed stays incomplete.
    Verdict UnfinishedVerdict(Verdict cut) const {
        return current_->kind == Transaction::Kind::DataWithoutCommand ? Verdict::Incomplete : cut;
    }
    bool DataComplete() const;

    TaskFile registers_;
    std::optional<uint32_t> setupStart_;
    std::optional<Transaction> current_;
    std::optional<Transaction> reset_;
    bool resetReleased_ = false;  // SRST cleared; the card's first ready STATUS completes it
    std::vector<Transaction> done_;
    bool awaitingError_ = false;  // the last closed command ended with ERR
    bool keepData_ = true;
};

std::vector<Transaction> AnalyzeRecords(const std::vector<Record>& records, bool keepData = true);

// Hex dump of a byte payload: offset, 16 bytes, ASCII column.
std::string HexView(const std::vector<uint8_t>& bytes);

}  // namespace fd::host::analysis
