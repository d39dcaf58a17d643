#include "host/cfdecode/transaction_output.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

namespace fd::host {
namespace {

using analysis::Transaction;
using analysis::Verdict;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool ParseLba(std::string_view text, uint32_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return false;
    uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
    if (error != std::errc() || end != text.data() + text.size() || parsed > 0x0FFFFFFF) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool IsCommand(const Transaction& t) { return t.kind == Transaction::Kind::Command; }

std::string Hex2(uint8_t value) { return fmt::format("{:02X}", value); }

std::string ProtocolText(const Transaction& t) {
    if (t.dataPath == analysis::DataPath::None || t.dataPath == analysis::DataPath::Pio)
        return std::string(analysis::ProtocolName(t.protocol));
    return fmt::format("{} {}", analysis::DataPathName(t.dataPath), t.dataIn ? "in" : "out");
}

std::string AddressText(const Transaction& t) {
    if (!IsCommand(t) || !t.addressed) return "-";
    if (t.lba) return fmt::format("LBA {}", t.lbaAddress);
    return fmt::format("CHS {}/{}/{}", t.cylinder, t.head, t.sector);
}

// "burst: crc ok", "3 bursts: crc ok", "burst 2 of 3: crc mismatch: sent 0xB810, data gives 0x5E15"
std::vector<std::string> BurstParts(const Transaction& t) {
    std::vector<std::string> parts;
    const size_t n = t.bursts.size();
    for (size_t i = 0; i < n; ++i) {
        if (t.bursts[i].bad())
            parts.push_back(n == 1 ? "burst: " + t.bursts[i].Describe()
                                   : fmt::format("burst {} of {}: {}", i + 1, n, t.bursts[i].Describe()));
    }
    if (parts.empty() && n > 0)
        parts.push_back(n == 1 ? "burst: crc ok" : fmt::format("{} bursts: crc ok", n));
    return parts;
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

// Every burst's verdict in order: "crc ok; no crc word (data give 0x5E15)".
std::string BurstList(const Transaction& t) {
    std::vector<std::string> parts;
    for (const analysis::UdmaBurstCrc& b : t.bursts) parts.push_back(b.Describe());
    return Joined(parts, "; ");
}

std::vector<std::string> DetailParts(const Transaction& t) {
    std::vector<std::string> parts = BurstParts(t);
    if (t.glitchWords)
        parts.push_back(
            fmt::format("{} word{} on strobe glitches", t.glitchWords, t.glitchWords == 1 ? "" : "s"));
    if (!t.subcommand.empty()) parts.push_back(t.subcommand);
    if (t.diagnosticCode) parts.push_back("diagnostic " + analysis::DiagnosticCodeName(*t.diagnosticCode));
    if (t.protocol == analysis::Protocol::Unknown && IsCommand(t)) parts.push_back("unknown opcode");
    parts.insert(parts.end(), t.notes.begin(), t.notes.end());
    return parts;
}

std::string_view VerdictColour(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "\x1b[32m";
        case Verdict::Error:
        case Verdict::IcrcError:
            return "\x1b[1;31m";
        case Verdict::Aborted:
        case Verdict::Reset:
            return "\x1b[33m";
        case Verdict::Incomplete:
            break;
    }
    return "\x1b[35m";
}

std::vector<std::string> IdentifyLines(const analysis::IdentifyInfo& id) {
    std::vector<std::string> lines;
    lines.push_back("model      " + id.model);
    lines.push_back("serial     " + id.serial);
    lines.push_back("firmware   " + id.firmware);
    const uint64_t bytes = id.capacityBytes();
    lines.push_back(fmt::format("capacity   {} sectors, {} bytes ({:.2f} GB)",
                                id.lbaSectors ? id.lbaSectors : id.cfSectors, bytes,
                                static_cast<double>(bytes) / 1e9));
    lines.push_back(fmt::format("geometry   {} cylinders, {} heads, {} sectors per track", id.cylinders,
                                id.heads, id.sectorsPerTrack));
    std::string signature = id.cfSignature
                                ? "848Ah (CompactFlash)"
                                : fmt::format("{:04X}h (not CompactFlash)", id.generalConfiguration);
    if (id.checksumValid) signature += *id.checksumValid ? ", checksum ok" : ", checksum WRONG";
    lines.push_back("signature  " + signature);
    lines.push_back("modes      " + id.ModesText());
    return lines;
}

nlohmann::ordered_json IdentifyJson(const analysis::IdentifyInfo& id) {
    nlohmann::ordered_json j;
    j["model"] = id.model;
    j["serial"] = id.serial;
    j["firmware"] = id.firmware;
    j["cf_signature"] = id.cfSignature;
    j["lba_sectors"] = id.lbaSectors;
    j["cf_sectors"] = id.cfSectors;
    j["capacity_bytes"] = id.capacityBytes();
    j["cylinders"] = id.cylinders;
    j["heads"] = id.heads;
    j["sectors_per_track"] = id.sectorsPerTrack;
    j["lba_supported"] = id.lbaSupported;
    j["dma_supported"] = id.dmaSupported;
    j["pio_modes"] = id.pioModes;
    j["mwdma_modes"] = id.mwdmaModes;
    j["udma_modes"] = id.udmaModes;
    j["mwdma_selected"] =
        id.mwdmaSelected ? nlohmann::ordered_json(*id.mwdmaSelected) : nlohmann::ordered_json();
    j["udma_selected"] =
        id.udmaSelected ? nlohmann::ordered_json(*id.udmaSelected) : nlohmann::ordered_json();
    j["checksum_valid"] =
        id.checksumValid ? nlohmann::ordered_json(*id.checksumValid) : nlohmann::ordered_json();
    return j;
}

std::string_view KindName(Transaction::Kind kind) {
    switch (kind) {
        case Transaction::Kind::Command:
            return "command";
        case Transaction::Kind::SoftwareReset:
            return "software reset";
        case Transaction::Kind::DataWithoutCommand:
            break;
    }
    return "data without a command";
}

nlohmann::ordered_json TransactionJson(size_t number, const Transaction& t, uint64_t timeStep) {
    nlohmann::ordered_json j;
    j["number"] = number;
    j["kind"] = KindName(t.kind);
    j["start"] = t.start * timeStep;
    j["end"] = t.end * timeStep;
    if (IsCommand(t)) {
        j["command_position"] = t.commandPosition * timeStep;
        j["device"] = t.device;
        j["opcode"] = t.opcode;
    }
    j["name"] = t.name;
    j["protocol"] = analysis::ProtocolName(t.protocol);
    if (IsCommand(t)) {
        const analysis::TaskFile& r = t.taskFile;
        j["task_file"] = {{"features", r.features},
                          {"sector_count", r.sectorCount},
                          {"sector_number", r.sectorNumber},
                          {"cylinder_low", r.cylinderLow},
                          {"cylinder_high", r.cylinderHigh},
                          {"device_head", r.deviceHead},
                          {"device_head_bits", analysis::DescribeDeviceHead(r.deviceHead).substr(5)}};
        j["addressing"] = t.lba ? "lba" : "chs";
        if (t.lba)
            j["lba"] = t.lbaAddress;
        else
            j["chs"] = {{"cylinder", t.cylinder}, {"head", t.head}, {"sector", t.sector}};
        j["sector_count"] = t.sectorCount;
        j["addressed"] = t.addressed;
        j["features"] = t.taskFile.features;
    }
    if (t.dataPath != analysis::DataPath::None) {
        j["data_path"] = analysis::DataPathName(t.dataPath);
        j["direction"] = t.dataIn ? "in" : "out";
    }
    j["words"] = t.words;
    j["bytes"] = t.bytes();
    if (t.ignoredWords) j["ignored_words"] = t.ignoredWords;
    if (t.blocks) j["blocks"] = t.blocks;
    if (!t.sectorAddresses.empty()) {
        // COMPOSE carries CARD/HEAD in its top byte; the low 28 bits are the LBA.
        std::vector<uint32_t> lbas;
        for (int64_t value : t.sectorAddresses) lbas.push_back(static_cast<uint32_t>(value) & 0x0FFFFFFF);
        j["sector_addresses"] = lbas;
    }
    if (t.status) {
        j["status"] = *t.status;
        j["status_bits"] = analysis::StatusBitNames(*t.status);
    }
    if (t.error) {
        j["error"] = *t.error;
        j["error_bits"] = analysis::ErrorBitNames(*t.error);
    }
    if (!t.subcommand.empty()) j["subcommand"] = t.subcommand;
    if (!t.transferMode.empty()) j["transfer_mode"] = t.transferMode;
    if (t.diagnosticCode) {
        j["diagnostic_code"] = *t.diagnosticCode;
        j["diagnostic"] = analysis::DiagnosticCodeName(*t.diagnosticCode);
    }
    if (!t.bursts.empty()) {
        nlohmann::ordered_json bursts = nlohmann::ordered_json::array();
        for (const analysis::UdmaBurstCrc& b : t.bursts) {
            bursts.push_back({{"start", b.start * timeStep},
                              {"end", b.end * timeStep},
                              {"direction", b.in ? "in" : "out"},
                              {"words", b.words},
                              {"crc", b.result == analysis::UdmaBurstCrc::Result::Ok         ? "ok"
                                      : b.result == analysis::UdmaBurstCrc::Result::Mismatch ? "mismatch"
                                                                                             : "no crc word"},
                              {"crc_computed", b.computed},
                              {"crc_sent", b.sent},
                              {"text", b.Describe()}});
        }
        j["bursts"] = bursts;
    }
    if (t.glitchWords) j["glitch_words"] = t.glitchWords;
    j["verdict"] = analysis::VerdictName(t.verdict);
    if (!t.notes.empty()) j["notes"] = t.notes;
    if (t.identify) j["identify"] = IdentifyJson(*t.identify);
    return j;
}

enum Column {
    kNumber,
    kStart,
    kEnd,
    kDev,
    kOp,
    kName,
    kProtocol,
    kAddress,
    kCount,
    kBytes,
    kStatus,
    kError,
    kVerdict,
    kColumns
};
constexpr std::array<const char*, kColumns> kHeadings = {"#",       "start",    "end",     "dev",   "op",
                                                         "command", "protocol", "address", "count", "bytes",
                                                         "status",  "error",    "verdict"};
constexpr std::array<bool, kColumns> kRightAligned = {true,  true, true, false, false, false, false,
                                                      false, true, true, false, false, false};

using Row = std::array<std::string, kColumns>;

Row TextRow(size_t number, const Transaction& t, uint64_t timeStep) {
    const bool command = IsCommand(t);
    Row row;
    row[kNumber] = std::to_string(number);
    row[kStart] = std::to_string(t.start * timeStep);
    row[kEnd] = std::to_string(t.end * timeStep);
    row[kDev] = command ? std::to_string(t.device) : "-";
    row[kOp] = command ? Hex2(t.opcode) : "--";
    row[kName] = t.name;
    row[kProtocol] = ProtocolText(t);
    row[kAddress] = AddressText(t);
    row[kCount] = command && t.addressed ? std::to_string(t.sectorCount) : "-";
    row[kBytes] = std::to_string(t.bytes());
    row[kStatus] = t.status ? analysis::DescribeStatus(*t.status) : "-";
    row[kError] = t.error ? analysis::DescribeError(*t.error) : "-";
    row[kVerdict] = std::string(analysis::VerdictName(t.verdict));
    return row;
}

}  // namespace

TransactionFilter TransactionFilter::Parse(const std::vector<std::string>& commands, const std::string& lba,
                                           bool errorsOnly) {
    TransactionFilter filter;
    filter.errorsOnly_ = errorsOnly;
    for (const std::string& command : commands) {
        const bool number = !command.empty() && std::isdigit(static_cast<unsigned char>(command[0]));
        const int opcode = analysis::FindOpcode(command);
        if (opcode < 0 && Upper(command) != "SOFTWARE RESET") {
            throw ViewError("--command " + command +
                            (number ? ": expected an opcode from 0 to 0xFF"
                                    : ": no command of that name (try a name such as "
                                      "\"READ DMA\" or an opcode such as 0xC8)"));
        }
        if (number)
            filter.opcodes_.push_back(static_cast<uint8_t>(opcode));
        else
            filter.names_.push_back(Upper(command));
    }
    if (!lba.empty()) {
        const size_t colon = lba.find(':');
        uint32_t first = 0, last = 0;
        if (colon == std::string::npos || !ParseLba(std::string_view(lba).substr(0, colon), first) ||
            !ParseLba(std::string_view(lba).substr(colon + 1), last)) {
            throw ViewError("--lba " + lba +
                            ": expected FIRST:LAST, two sector addresses from 0 to 0xFFFFFFF");
        }
        if (first > last) throw ViewError("--lba " + lba + ": the first sector lies after the last");
        filter.lba_ = {first, last};
    }
    return filter;
}

bool TransactionFilter::Matches(const Transaction& t) const {
    if (errorsOnly_ && t.verdict == Verdict::Ok) return false;
    if (lba_ && !t.TouchesLba(lba_->first, lba_->second)) return false;
    if (opcodes_.empty() && names_.empty()) return true;
    if (IsCommand(t) && std::find(opcodes_.begin(), opcodes_.end(), t.opcode) != opcodes_.end()) return true;
    return std::find(names_.begin(), names_.end(), Upper(t.name)) != names_.end();
}

std::vector<analysis::Record> ToAnalysisRecords(const RecordList& records) {
    std::vector<analysis::Record> converted;
    converted.reserve(records.size());
    // The readers count 32-bit positions, so every record's fits.
    for (const DecodedRecord& r : records)
        converted.push_back({static_cast<uint32_t>(r.position), r.value, r.fieldId});
    return converted;
}

void ForEachAnalysisSlice(const RecordList& records,
                          const std::function<void(std::span<const analysis::Record>)>& use) {
    constexpr size_t kSlice = 4096;
    std::vector<analysis::Record> slice(std::min(kSlice, records.size()));
    for (size_t from = 0; from < records.size(); from += kSlice) {
        const size_t count = std::min(kSlice, records.size() - from);
        for (size_t i = 0; i < count; ++i) {
            const DecodedRecord r = records[from + i];
            slice[i] = {static_cast<uint32_t>(r.position), r.value, r.fieldId};
        }
        use(std::span<const analysis::Record>(slice.data(), count));
    }
}

std::vector<DecodedRecord> RecordsWithin(const RecordList& records,
                                         const std::vector<Transaction>& transactions,
                                         const TransactionFilter& filter) {
    // Spans in start order (the analysis sorts them so); records are in
    // position order, so one pass over both does.
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    for (const Transaction& t : transactions) {
        if (filter.Matches(t)) spans.emplace_back(t.start, t.end);
    }
    std::vector<DecodedRecord> chosen;
    size_t span = 0;
    for (const DecodedRecord& record : records) {
        while (span < spans.size() && spans[span].second < record.position) ++span;
        bool inside = false;
        for (size_t s = span; s < spans.size() && spans[s].first <= record.position; ++s) {
            if (spans[s].second >= record.position) {
                inside = true;
                break;
            }
        }
        if (inside) chosen.push_back(record);
    }
    return chosen;
}

bool WriteTransactions(std::FILE* out, const std::vector<Transaction>& transactions,
                       const TransactionFilter& filter, const TransactionViewOptions& options) {
    std::string text;
    auto flush = [&]() {
        if (text.empty()) return true;
        const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
        text.clear();
        return ok;
    };
    switch (options.format) {
        case OutputFormat::Json:
            for (size_t i = 0; i < transactions.size(); ++i) {
                if (!filter.Matches(transactions[i])) continue;
                text += TransactionJson(i + 1, transactions[i], options.timeStep).dump();
                text += '\n';
                if (text.size() > (1u << 16) && !flush()) return false;
            }
            break;
        case OutputFormat::Csv:
            text =
                "number,kind,start,end,device,opcode,name,protocol,data_path,direction,lba,cylinder,head,"
                "sector,"
                "sector_count,features,words,bytes,status,status_bits,error,error_bits,verdict,notes,bursts,"
                "glitch_words\n";
            for (size_t i = 0; i < transactions.size(); ++i) {
                const Transaction& t = transactions[i];
                if (!filter.Matches(t)) continue;
                const bool command = IsCommand(t);
                auto number = [&](auto value, bool present) {
                    return present ? fmt::format("{}", value) : std::string();
                };
                text += fmt::format(
                    "{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{},{}\n", i + 1,
                    CsvQuoted(std::string(KindName(t.kind))), t.start * options.timeStep,
                    t.end * options.timeStep, number(t.device, command), number(t.opcode, command),
                    CsvQuoted(t.name), CsvQuoted(std::string(analysis::ProtocolName(t.protocol))),
                    analysis::DataPathName(t.dataPath),
                    t.dataPath == analysis::DataPath::None ? ""
                    : t.dataIn                             ? "in"
                                                           : "out",
                    number(t.lbaAddress, command && t.lba), number(t.cylinder, command && !t.lba),
                    number(t.head, command && !t.lba), number(t.sector, command && !t.lba),
                    number(t.sectorCount, command), number(t.taskFile.features, command), t.words, t.bytes(),
                    number(t.status.value_or(0), t.status.has_value()),
                    t.status ? CsvQuoted(analysis::StatusBitNames(*t.status)) : "",
                    number(t.error.value_or(0), t.error.has_value()),
                    t.error ? CsvQuoted(analysis::ErrorBitNames(*t.error)) : "",
                    analysis::VerdictName(t.verdict), CsvQuoted(Joined(DetailParts(t), "; ")),
                    CsvQuoted(BurstList(t)), t.glitchWords);
                if (text.size() > (1u << 16) && !flush()) return false;
            }
            break;
        case OutputFormat::Text: {
            std::vector<std::pair<size_t, Row>> rows;
            std::array<size_t, kColumns> width{};
            for (size_t c = 0; c < kColumns; ++c) width[c] = std::string_view(kHeadings[c]).size();
            for (size_t i = 0; i < transactions.size(); ++i) {
                if (!filter.Matches(transactions[i])) continue;
                rows.emplace_back(i, TextRow(i + 1, transactions[i], options.timeStep));
                for (size_t c = 0; c < kColumns; ++c)
                    width[c] = std::max(width[c], rows.back().second[c].size());
            }
            auto cells = [&](const Row& row, const Transaction* t, const std::string& detail) {
                std::string line;
                for (size_t c = 0; c < kColumns; ++c) {
                    if (c > 0) line += "  ";
                    const bool paint = t != nullptr && options.colour && c == kVerdict;
                    if (paint) line += VerdictColour(t->verdict);
                    line += kRightAligned[c] ? fmt::format("{:>{}}", row[c], width[c]) : row[c];
                    if (paint) line += "\x1b[0m";
                    if (!kRightAligned[c] && (c + 1 < kColumns || !detail.empty()))
                        line.append(width[c] - row[c].size(), ' ');
                }
                if (!detail.empty()) line += "  " + detail;
                return line + '\n';
            };
            Row heading;
            for (size_t c = 0; c < kColumns; ++c) heading[c] = kHeadings[c];
            text += cells(heading, nullptr, "detail");
            for (const auto& [index, row] : rows) {
                const Transaction& t = transactions[index];
                text += cells(row, &t, Joined(DetailParts(t), "; "));
                if (t.identify) {
                    for (const std::string& identifyLine : IdentifyLines(*t.identify))
                        text += "      " + identifyLine + '\n';
                }
                if (options.hex && !t.data.empty()) {
                    const std::string hex = analysis::HexView(t.Payload());
                    size_t at = 0;
                    while (at < hex.size()) {
                        const size_t end = hex.find('\n', at);
                        text += "      " + hex.substr(at, end - at + 1);
                        at = end + 1;
                    }
                }
                if (text.size() > (1u << 16) && !flush()) return false;
            }
            break;
        }
    }
    return flush() && std::fflush(out) == 0;
}

std::string DumpFileName(size_t number, const Transaction& t) {
    std::string slug;
    for (char c : t.name) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            slug += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    if (IsCommand(t)) return fmt::format("{:04}-{:02x}-{}.bin", number, t.opcode, slug);
    return fmt::format("{:04}-{}.bin", number, slug);
}

size_t DumpPayloads(const std::string& directory, const std::vector<Transaction>& transactions,
                    const TransactionFilter& filter) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!std::filesystem::is_directory(directory))
        throw ViewError("--dump " + directory + ": cannot make a folder there");
    size_t written = 0;
    for (size_t i = 0; i < transactions.size(); ++i) {
        const Transaction& t = transactions[i];
        if (t.data.empty() || !filter.Matches(t)) continue;
        const std::filesystem::path path = std::filesystem::path(directory) / DumpFileName(i + 1, t);
        const std::vector<uint8_t> bytes = t.Payload();
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) throw std::runtime_error(path.string() + ": cannot write the payload");
        ++written;
    }
    return written;
}

}  // namespace fd::host
