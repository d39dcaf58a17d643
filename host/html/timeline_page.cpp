#include "host/html/timeline_page.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

#include "host/analysis/ata_registers.h"
#include "plugin/interface/host_abi.h"

namespace fd::host {
namespace {

using nlohmann::json;

// Positions and values as LEB128 varints, base64 coded: a million records
// cost a few megabytes and decode in the page in a blink.
class VarintWriter {
public:
    void Put(uint64_t value) {
        while (value >= 0x80) {
            bytes_.push_back(static_cast<uint8_t>(value | 0x80));
            value >>= 7;
        }
        bytes_.push_back(static_cast<uint8_t>(value));
    }
    void PutSigned(int64_t value) {
        Put((static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63));
    }
    void PutByte(uint8_t value) { bytes_.push_back(value); }
    std::string Base64() const {
        static constexpr char kAlphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text;
        text.reserve((bytes_.size() + 2) / 3 * 4);
        size_t i = 0;
        for (; i + 2 < bytes_.size(); i += 3) {
            const uint32_t n = (uint32_t{bytes_[i]} << 16) | (uint32_t{bytes_[i + 1]} << 8) | bytes_[i + 2];
            text += kAlphabet[(n >> 18) & 63];
            text += kAlphabet[(n >> 12) & 63];
            text += kAlphabet[(n >> 6) & 63];
            text += kAlphabet[n & 63];
        }
        if (i < bytes_.size()) {
            uint32_t n = uint32_t{bytes_[i]} << 16;
            if (i + 1 < bytes_.size()) n |= uint32_t{bytes_[i + 1]} << 8;
            text += kAlphabet[(n >> 18) & 63];
            text += kAlphabet[(n >> 12) & 63];
            text += i + 1 < bytes_.size() ? kAlphabet[(n >> 6) & 63] : '=';
            text += '=';
        }
        return text;
    }

private:
    std::vector<uint8_t> bytes_;
};

std::string Deltas(const std::vector<uint32_t>& positions) {
    VarintWriter writer;
    uint32_t last = 0;
    for (uint32_t position : positions) {
        writer.Put(position - last);
        last = position;
    }
    return writer.Base64();
}

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// Which lane a record kind goes to.
std::string LaneOf(uint16_t id) {
    switch (id) {
        case FdFieldPioRead:
        case FdFieldPioWrite:
        case FdFieldDmaRead:
        case FdFieldDmaWrite:
        case FdFieldDataRead:
        case FdFieldDataWrite:
            return "Data";
        case FdFieldCompose:
        case FdFieldReadBlock:
        case FdFieldWriteBlock:
        case FdFieldStart:
        case FdFieldUnknown:
            return "Markers";
        default:
            return id >= 4000 && id < 4100 ? "Task file" : "Markers";
    }
}

std::string Summary(const analysis::Transaction& t) {
    using analysis::Transaction;
    std::string text;
    if (t.kind == Transaction::Kind::Command) {
        text = Hex(t.opcode, 2);
        if (t.lba)
            text += " LBA " + std::to_string(t.lbaAddress);
        else
            text += " CHS " + std::to_string(t.cylinder) + "/" + std::to_string(t.head) + "/" +
                    std::to_string(t.sector);
        if (t.sectorCount != 0) text += " count " + std::to_string(t.sectorCount);
        if (!t.transferMode.empty()) text += " mode " + t.transferMode;
    }
    if (t.words > 0) {
        text += (text.empty() ? "" : ", ") + std::to_string(t.bytes()) + " bytes " +
                std::string(t.dataIn ? "in" : "out");
        if (t.dataPath != analysis::DataPath::None)
            text += " by " + std::string(analysis::DataPathName(t.dataPath));
    }
    if (t.status) text += ", status " + analysis::DescribeStatus(*t.status);
    if (t.error) text += ", error " + analysis::DescribeError(*t.error);
    size_t bad = 0;
    for (const analysis::UdmaBurstCrc& burst : t.bursts) {
        if (!burst.bad()) continue;
        text += ", burst " + std::to_string(&burst - t.bursts.data() + 1) + ": " + burst.Describe();
        ++bad;
    }
    if (bad == 0 && !t.bursts.empty())
        text += t.bursts.size() == 1 ? ", burst crc ok"
                                     : ", " + std::to_string(t.bursts.size()) + " bursts crc ok";
    if (t.glitchWords) text += ", " + std::to_string(t.glitchWords) + " words on strobe glitches";
    return text;
}

json Transactions(const std::vector<analysis::Transaction>& transactions) {
    json list = json::array();
    for (const analysis::Transaction& t : transactions) {
        std::string name = t.name;
        if (t.kind == analysis::Transaction::Kind::SoftwareReset) name = "SOFTWARE RESET";
        if (t.kind == analysis::Transaction::Kind::DataWithoutCommand) name = "DATA (no command seen)";
        list.push_back(json::array(
            {t.start, std::max(t.end, t.start), name, analysis::VerdictName(t.verdict), Summary(t)}));
    }
    return list;
}

json Timing(const analysis::TimingReport& report) {
    json parameters = json::array();
    std::map<std::string, size_t> index;
    VarintWriter positions;
    json list = json::array();
    uint32_t last = 0;
    using Limit = analysis::TimingWarning::Limit;
    for (const analysis::TimingWarning& w : report.warnings) {
        // A finding without a limit (a burst CRC) belongs to no mode.
        const std::string key =
            w.limit == Limit::None ? w.parameter : analysis::ModeName(w.mode) + " " + w.parameter;
        auto [at, added] = index.try_emplace(key, index.size());
        if (added) {
            const char* bound = w.limit == Limit::Minimum   ? "at least"
                                : w.limit == Limit::Maximum ? "at most"
                                                            : "";
            parameters.push_back(json::array({key, w.meaning, w.allowedNs, bound}));
        }
        positions.Put(w.position - last);
        last = w.position;
        if (w.limit == Limit::None)
            list.push_back(json::array({at->second, w.measuredNs, w.detail}));
        else
            list.push_back(json::array({at->second, w.measuredNs}));
    }
    json notes = json::array();
    for (const analysis::TimingNote& note : report.notes)
        notes.push_back(json::array({note.position, note.text}));
    return json{{"parameters", parameters},
                {"positions", positions.Base64()},
                {"list", list},
                {"notes", notes},
                {"cycles", report.cyclesChecked}};
}

}  // namespace

bool WriteTimelinePage(std::ostream& out, const TimelineInput& input) {
    json data;
    data["title"] = input.title;
    data["samplePeriodNs"] = input.samplePeriodNs;
    json signals = json::array();
    if (input.bus) {
        data["secondsPerPosition"] = input.bus->secondsPerPosition;
        data["endPosition"] = input.bus->endPosition;
        for (const Signal& signal : input.bus->signals) {
            signals.push_back({{"name", signal.name},
                               {"initial", signal.initialLevel},
                               {"count", signal.changes.size()},
                               {"changes", Deltas(signal.changes)}});
        }
    }
    data["signals"] = signals;
    // D15..D0 as one bus: every position where any data line changes, with
    // the word from there on.
    if (input.bus && input.bus->signals.size() >= 26) {
        const auto& lines = input.bus->signals;
        std::vector<uint32_t> changes;
        for (size_t bit = 0; bit < 16; ++bit)
            changes.insert(changes.end(), lines[10 + bit].changes.begin(), lines[10 + bit].changes.end());
        std::sort(changes.begin(), changes.end());
        changes.erase(std::unique(changes.begin(), changes.end()), changes.end());
        std::vector<size_t> cursor(16, 0);
        VarintWriter values;
        auto word = [&]() {
            uint32_t value = 0;
            for (size_t bit = 0; bit < 16; ++bit)
                value |= uint32_t((lines[10 + bit].initialLevel ^ (cursor[bit] & 1)) & 1) << bit;
            return value;
        };
        values.PutSigned(word());
        for (uint32_t position : changes) {
            for (size_t bit = 0; bit < 16; ++bit) {
                const auto& c = lines[10 + bit].changes;
                while (cursor[bit] < c.size() && c[cursor[bit]] <= position) ++cursor[bit];
            }
            values.PutSigned(word());
        }
        data["dataBus"] = {{"count", changes.size()},
                           {"positions", Deltas(changes)},
                           {"values", values.Base64()},
                           {"initialIncluded", true}};
    }

    json fields = json::array();
    std::map<uint16_t, uint8_t> fieldIndex;
    json fieldIds = json::array();
    for (const auto& [id, field] : input.fields) {
        const auto next = static_cast<uint8_t>(std::min<size_t>(fieldIndex.size(), 255));
        fieldIndex[id] = next;
        fieldIds.push_back(id);
        fields.push_back({{"id", id},
                          {"name", field.name},
                          {"colour", field.colour},
                          {"radix", field.radix},
                          {"width", field.width},
                          {"shown", field.shown},
                          {"lane", LaneOf(id)}});
    }
    VarintWriter positions, kinds, values;
    uint32_t last = 0;
    uint64_t kept = 0;
    for (const TimelineRecord& record : input.records) {
        const auto found = fieldIndex.find(record.fieldId);
        if (found == fieldIndex.end()) continue;
        positions.Put(record.position - last);
        last = record.position;
        kinds.PutByte(found->second);
        values.PutSigned(record.value);
        ++kept;
    }
    data["fields"] = fields;
    data["records"] = {{"count", kept},
                       {"positions", positions.Base64()},
                       {"kinds", kinds.Base64()},
                       {"values", values.Base64()}};
    data["transactions"] = Transactions(input.transactions);
    data["timing"] = Timing(input.timing);

    // Inside <script>, "</" could close the element early.
    std::string text = data.dump(-1, ' ', true, json::error_handler_t::replace);
    std::string safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<')
            safe += "\\u003c";
        else
            safe += text[i];
    }
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>";
    for (char c : input.title) {
        if (c == '<')
            out << "&lt;";
        else if (c == '&')
            out << "&amp;";
        else
            out << c;
    }
    out << " - flashdecode timeline</title>\n<meta name=\"viewport\" content=\"width=device-width\">\n"
        << "</head><body>\n<script id=\"fd-data\" type=\"application/json\">" << safe << "</script>\n<script>"
        << TimelineScript() << "</script>\n</body></html>\n";
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace fd::host
