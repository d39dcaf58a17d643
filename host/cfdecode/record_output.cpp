#include "host/cfdecode/record_output.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <semaphore>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/analysis/ata_registers.h"
#include "host/model/two_jobs.h"
#include "plugin/interface/host_abi.h"

namespace fd::host {
namespace {

constexpr uint16_t kComposeId = FdFieldCompose;
constexpr size_t kFlushSize = 1 << 16;

const FieldPresentation& Lookup(const std::map<uint16_t, FieldPresentation>& fields, uint16_t id) {
    static const FieldPresentation kNone{};
    const auto found = fields.find(id);
    return found != fields.end() ? found->second : kNone;
}

class Sink {
public:
    explicit Sink(std::FILE* out) : out_(out) {}
    fmt::memory_buffer& buffer() { return buffer_; }
    bool Flush(bool force) {
        if (!force && buffer_.size() < kFlushSize) return ok_;
        if (ok_ && buffer_.size() > 0 &&
            std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
            ok_ = false;
        buffer_.clear();
        if (force && ok_ && std::fflush(out_) != 0) ok_ = false;
        return ok_;
    }

    // Writes `text` after what the buffer holds, and empties it.
    bool Write(fmt::memory_buffer& text) {
        Flush(true);
        if (ok_ && text.size() > 0 && std::fwrite(text.data(), 1, text.size(), out_) != text.size())
            ok_ = false;
        text.clear();
        return ok_;
    }

private:
    std::FILE* out_;
    fmt::memory_buffer buffer_;
    bool ok_ = true;
};

// CSV lines of records, made with what each kind and colour reads as made
// once (",id,name," and ",#RRGGBB\n") and the numbers with to_chars. One per
// thread: nothing is shared but the fields.
class CsvLines {
public:
    CsvLines(const std::map<uint16_t, FieldPresentation>& fields, uint64_t timeStep)
        : fields_(fields), middleOf_(65536, -1), timeStep_(timeStep) {}

    fmt::memory_buffer& text() { return text_; }

    void Append(const RecordList& records, size_t from, size_t to) {
        if (from == to) return;
        uint32_t shownColour = records[from].colour;
        std::string colourText = ColourEnd(shownColour);
        for (size_t i = from; i < to; ++i) {
            const DecodedRecord record = records[i];
            char number[24];
            const char* numberEnd =
                std::to_chars(number, number + sizeof number, record.position * timeStep_).ptr;
            text_.append(number, numberEnd);
            const std::string& kind = Middle(record.fieldId);
            text_.append(kind.data(), kind.data() + kind.size());
            numberEnd = std::to_chars(number, number + sizeof number, record.value).ptr;
            text_.append(number, numberEnd);
            if (record.colour != shownColour) {
                shownColour = record.colour;
                colourText = ColourEnd(shownColour);
            }
            text_.append(colourText.data(), colourText.data() + colourText.size());
        }
    }

private:
    static std::string ColourEnd(uint32_t colour) {
        std::string text(1, ',');
        text += ColourHex(colour);
        text += '\n';
        return text;
    }

    const std::string& Middle(uint16_t id) {
        int32_t& index = middleOf_[id];
        if (index < 0) {
            index = static_cast<int32_t>(middles_.size());
            middles_.push_back(fmt::format(",{},{},", id, CsvQuoted(Lookup(fields_, id).name)));
        }
        return middles_[static_cast<size_t>(index)];
    }

    const std::map<uint16_t, FieldPresentation>& fields_;
    std::vector<int32_t> middleOf_;
    uint64_t timeStep_;
    std::vector<std::string> middles_;
    fmt::memory_buffer text_;
};

}  // namespace

std::string CsvQuoted(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string RegisterDetail(uint16_t fieldId, int64_t value) {
    namespace a = analysis;
    const auto byte = static_cast<uint8_t>(value & 0xFF);
    switch (fieldId) {
        case 4004:
            return a::ErrorBitNames(byte);
        case 4010:
        case 4031:
            return a::DescribeDeviceHead(byte).substr(5);  // without the "0xNN " the value column shows
        case 4011:
        case 4013:
            return a::StatusBitNames(byte);
        case 4012: {
            const a::CommandInfo info = a::LookupCommand(byte);
            return info.name != nullptr ? info.name : "";
        }
        case 4014: {
            const std::string text = a::DescribeDeviceControl(byte);
            return text.size() > 5 ? text.substr(5) : "";
        }
        default:
            return "";
    }
}

std::string ColourHex(uint32_t colour) {
    return fmt::format("#{:02X}{:02X}{:02X}", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

std::string FormatValue(int64_t value, uint16_t fieldId, const FieldPresentation& field) {
    int width = field.width;
    if (width == 0) {
        // Markers carry a constant; only the composed sector address is
        // worth showing, as the 32-bit address it is.
        if (fieldId != kComposeId) return "";
        width = 32;
    }
    const uint64_t mask = width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
    const uint64_t bits = static_cast<uint64_t>(value) & mask;
    switch (field.radix) {
        case FdRadixBinary:
            return fmt::format("{:0{}b}", bits, width);
        case FdRadixDecimal:
            return fmt::format("{}", bits);
        case FdRadixAscii: {
            // Bytes in bus order: D0-D7 first.
            std::string text = "'";
            for (int byte = 0; byte < width / 8; ++byte) {
                const auto c = static_cast<char>((bits >> (8 * byte)) & 0xFF);
                text += (c >= 0x20 && c < 0x7F) ? c : '.';
            }
            return text + "'";
        }
        default:
            return fmt::format("0x{:0{}X}", bits, (width + 3) / 4);
    }
}

bool WriteRecords(std::FILE* out, const RecordList& records,
                  const std::map<uint16_t, FieldPresentation>& fields, const OutputOptions& options) {
    Sink sink(out);
    auto& buffer = sink.buffer();
    switch (options.format) {
        case OutputFormat::Csv: {
            fmt::format_to(std::back_inserter(buffer), "position,field_id,name,value,colour\n");
            if (!sink.Flush(true)) return false;
            // Millions of lines: blocks of them are made on two threads, into
            // two buffers used over and over (small enough to stay in the
            // cache), while the finished ones are written, in order.
            constexpr size_t kBlock = size_t{1} << 14;
            CsvLines first(fields, options.timeStep), second(fields, options.timeStep);
            if (records.size() < 4 * kBlock) {
                for (size_t from = 0; from < records.size(); from += kBlock) {
                    first.Append(records, from, std::min(records.size(), from + kBlock));
                    if (!sink.Write(first.text())) return false;
                }
                return sink.Flush(true);
            }
            // start: a block to make, or stop (both when the first job fails
            // with a block handed over).
            std::counting_semaphore<2> start{0};
            std::binary_semaphore finished{0};
            size_t secondFrom = 0, secondTo = 0;
            bool stop = false, secondFailed = false;
            const auto stopSecond = [&] {
                stop = true;
                start.release();
            };
            bool written = true;
            RunTwoJobs(
                [&] {
                    for (size_t from = 0; from < records.size() && written; from += 2 * kBlock) {
                        const size_t middle = std::min(records.size(), from + kBlock);
                        secondFrom = middle;
                        secondTo = std::min(records.size(), middle + kBlock);
                        start.release();
                        first.Append(records, from, middle);
                        written = sink.Write(first.text());
                        finished.acquire();
                        if (secondFailed) break;  // its error comes after the join
                        written = written && sink.Write(second.text());
                    }
                    stopSecond();
                },
                [&] {
                    for (;;) {
                        start.acquire();
                        if (stop) return;
                        try {
                            second.Append(records, secondFrom, secondTo);
                        } catch (...) {
                            secondFailed = true;
                            finished.release();
                            throw;
                        }
                        finished.release();
                    }
                },
                stopSecond);
            return written && sink.Flush(true);
        }
        case OutputFormat::Json: {
            std::map<uint16_t, std::string> names;
            for (const auto& [id, field] : fields) names.emplace(id, nlohmann::json(field.name).dump());
            for (const DecodedRecord& record : records) {
                auto name = names.find(record.fieldId);
                if (name == names.end())
                    name = names
                               .emplace(record.fieldId,
                                        nlohmann::json(Lookup(fields, record.fieldId).name).dump())
                               .first;
                fmt::format_to(std::back_inserter(buffer),
                               "{{\"position\":{},\"field_id\":{},\"name\":{},\"value\":{},\"colour\":\"{}\"",
                               record.position * options.timeStep, record.fieldId, name->second, record.value,
                               ColourHex(record.colour));
                // Detail texts are plain ASCII names, safe to write unescaped.
                const std::string detail = RegisterDetail(record.fieldId, record.value);
                if (!detail.empty()) fmt::format_to(std::back_inserter(buffer), ",\"detail\":\"{}\"", detail);
                buffer.append(std::string_view("}\n"));
                if (!sink.Flush(false)) return false;
            }
            break;
        }
        case OutputFormat::Text: {
            uint64_t widest = 0;
            for (const DecodedRecord& record : records)
                widest = std::max(widest, record.position * options.timeStep);
            const size_t positionWidth = std::max<size_t>(8, fmt::formatted_size("{}", widest));
            fmt::format_to(std::back_inserter(buffer), "{:>{}}  {:<16}  {}\n", "position", positionWidth,
                           "kind", "value");
            for (const DecodedRecord& record : records) {
                const FieldPresentation& field = Lookup(fields, record.fieldId);
                if (!field.shown && !options.all) continue;
                const std::string value = FormatValue(record.value, record.fieldId, field);
                const bool paint = options.colour && record.colour != 0;
                if (paint) {
                    fmt::format_to(std::back_inserter(buffer), "\x1b[38;2;{};{};{}m", record.colour & 0xFF,
                                   (record.colour >> 8) & 0xFF, (record.colour >> 16) & 0xFF);
                }
                if (value.empty()) {
                    fmt::format_to(std::back_inserter(buffer), "{:>{}}  {}",
                                   record.position * options.timeStep, positionWidth, field.name);
                } else {
                    fmt::format_to(std::back_inserter(buffer), "{:>{}}  {:<16}  {}",
                                   record.position * options.timeStep, positionWidth, field.name, value);
                    const std::string detail = RegisterDetail(record.fieldId, record.value);
                    if (!detail.empty()) fmt::format_to(std::back_inserter(buffer), "  {}", detail);
                }
                if (paint) fmt::format_to(std::back_inserter(buffer), "\x1b[0m");
                buffer.push_back('\n');
                if (!sink.Flush(false)) return false;
            }
            break;
        }
    }
    return sink.Flush(true);
}

}  // namespace fd::host
