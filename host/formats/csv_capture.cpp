#include "host/formats/csv_capture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <istream>
#include <ostream>
#include <vector>

#include "host/formats/format_error.h"

namespace fd::host {
namespace {

constexpr size_t kMaxLine = 1 << 20;  // a CSV row of a few hundred signals is far shorter

std::string Trim(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r\"");
    if (begin == std::string_view::npos) return {};
    const size_t end = text.find_last_not_of(" \t\r\"");
    return std::string(text.substr(begin, end - begin + 1));
}

std::string_view TrimView(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r\"");
    if (begin == std::string_view::npos) return text.substr(text.size());
    return text.substr(begin, text.find_last_not_of(" \t\r\"") - begin + 1);
}

// The data rows' fields, as views into the line: no allocation per field.
void SplitFieldViews(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        fields.push_back(TrimView(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        fields.push_back(Trim(std::string_view(line).substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return fields;
}

bool IsNumber(const std::string& text) {
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return *end == '\0';
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Reads one line into `line`; false at the end. Refuses absurdly long lines
// instead of growing without bound.
bool ReadLine(std::istream& in, std::string& line, const std::string& name, long lineNumber) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    int c;
    bool any = false;
    while ((c = buffer->sbumpc()) != std::char_traits<char>::eof()) {
        any = true;
        if (c == '\n') return true;
        if (line.size() >= kMaxLine) throw CaptureFormatError(name, "line " + std::to_string(lineNumber), "line is longer than 1 MiB");
        line.push_back(static_cast<char>(c));
    }
    return any;
}

struct Column {
    size_t field;  // 0-based field index in a row
    std::string name;
};

// firstSignal: the field of the first signal column (1 after a position
// column, 0 in files without one); numbers in the option count from 1.
std::vector<Column> ColumnsFromOption(const std::string& spec, const std::string& name, size_t firstSignal) {
    std::vector<Column> columns;
    size_t next = firstSignal;
    for (const std::string& entry : SplitFields(spec)) {
        const size_t eq = entry.find('=');
        if (eq == std::string::npos) {
            if (entry != "-" && !entry.empty()) columns.push_back({next, entry});
            ++next;
            continue;
        }
        const std::string number = Trim(entry.substr(0, eq));
        const std::string label = Trim(entry.substr(eq + 1));
        char* end = nullptr;
        const long column = std::strtol(number.c_str(), &end, 10);
        if (number.empty() || *end != '\0' || column < static_cast<long>(firstSignal) + 1 || label.empty()) {
            throw CaptureFormatError(name, "--csv-columns",
                                     firstSignal == 0 ? "expected N=NAME with N from 1, found '" + entry + "'"
                                                      : "expected N=NAME with N from 2 (column 1 holds the position), found '" + entry + "'");
        }
        columns.push_back({static_cast<size_t>(column - 1), label});
    }
    if (columns.empty()) throw CaptureFormatError(name, "--csv-columns", "names no column");
    return columns;
}

// What sigrok's CSV output says about itself before the rows: its comment
// lines name the channels ("; Channels (3/3): A, B, C"), and sigrok-cli puts
// a "META samplerate: N" line before the label row.
struct SigrokPreamble {
    bool present = false;
    std::vector<std::string> channels;
    uint64_t samplerate = 0;
};

// true when the line was sigrok's and is consumed.
bool TakeSigrokLine(const std::string& trimmed, SigrokPreamble& preamble) {
    if (trimmed.rfind("META ", 0) == 0) {
        preamble.present = true;
        const std::string key = "META samplerate:";
        if (trimmed.rfind(key, 0) == 0) preamble.samplerate = std::strtoull(trimmed.c_str() + key.size(), nullptr, 10);
        return true;
    }
    if (trimmed[0] != ';') return false;
    if (trimmed.find("generated by libsigrok") != std::string::npos) preamble.present = true;
    const size_t channels = trimmed.find("Channels (");
    const size_t colon = trimmed.find("):", channels);
    if (channels != std::string::npos && colon != std::string::npos) {
        preamble.present = true;
        preamble.channels = SplitFields(trimmed.substr(colon + 2));
    }
    return true;
}

bool IsUnitLabel(const std::string& field) {
    const std::string lower = Lower(field);
    return lower == "logic" || lower == "samples";
}

}  // namespace

Waveform ReadCsvCapture(const std::string& path, const CsvReadOptions& options) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CaptureFormatError(path, "", "cannot open the file");
    return ReadCsvCapture(in, path, options);
}

Waveform ReadCsvCapture(std::istream& in, const std::string& name, const CsvReadOptions& options) {
    std::string line;
    long lineNumber = 0;
    std::vector<std::string> header;
    std::vector<std::string> firstRow;
    std::string firstRowLine;
    SigrokPreamble sigrok;
    // The first line that is not a comment: a header, or already data.
    while (ReadLine(in, line, name, ++lineNumber)) {
        // Spreadsheet programs start a UTF-8 file with a byte order mark.
        if (lineNumber == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#' || TakeSigrokLine(trimmed, sigrok)) continue;
        std::vector<std::string> fields = SplitFields(line);
        const bool numeric = std::all_of(fields.begin(), fields.end(), IsNumber);
        if (numeric) {
            firstRow = std::move(fields);
            firstRowLine = line;
        } else {
            header = std::move(fields);
        }
        break;
    }
    const long headerLine = lineNumber;
    if (header.empty() && firstRow.empty()) throw CaptureFormatError(name, "", "no header row and no data");
    const size_t width = header.empty() ? firstRow.size() : header.size();

    // sigrok writes no position column unless asked for its time column;
    // its channel list tells which it is.
    const bool positionless = sigrok.present && !sigrok.channels.empty() && width == sigrok.channels.size();
    const size_t firstSignal = positionless ? 0 : 1;
    if (width < firstSignal + 1)
        throw CaptureFormatError(name, "line " + std::to_string(headerLine), "expected a position column and at least one signal column");

    std::vector<Column> columns;
    if (!options.columns.empty()) {
        columns = ColumnsFromOption(options.columns, name, firstSignal);
        for (const Column& c : columns) {
            if (c.field >= width)
                throw CaptureFormatError(name, "--csv-columns", "column " + std::to_string(c.field + 1) + " does not exist; rows have " + std::to_string(width));
        }
    } else if (header.empty()) {
        throw CaptureFormatError(name, "line " + std::to_string(headerLine), "no header row; name the columns with --csv-columns");
    } else {
        // A label row of units ("logic", as sigrok writes by default) names
        // no signal; sigrok's channel list does.
        const bool unitLabels = std::all_of(header.begin() + static_cast<long>(firstSignal), header.end(), IsUnitLabel);
        const bool namesFromPreamble = unitLabels && sigrok.channels.size() == width - firstSignal;
        if (unitLabels && !namesFromPreamble)
            throw CaptureFormatError(name, "line " + std::to_string(headerLine), "the header row names no signal; name the columns with --csv-columns");
        for (size_t i = firstSignal; i < width; ++i) {
            const std::string& label = namesFromPreamble ? sigrok.channels[i - firstSignal] : header[i];
            columns.push_back({i, label.empty() ? "column" + std::to_string(i + 1) : label});
        }
    }
    const uint64_t samplerate = options.samplerate != 0 ? options.samplerate : sigrok.samplerate;

    // The position column: a sample number, or a time in seconds.
    const std::string firstName = header.empty() || positionless ? std::string() : Lower(header[0]);
    bool timeColumn = firstName.find("time") != std::string::npos || firstName.find("(s)") != std::string::npos ||
                      firstName.find("[s]") != std::string::npos;
    // A column named neither way is decided by the first value's form.
    bool decided = positionless || (!header.empty() && (timeColumn || firstName.find("sample") != std::string::npos));
    // libsigrok 0.5 writes 0 in every row of its time column; its rows are
    // then consecutive samples.
    bool zeroTimes = sigrok.present && !positionless;

    Waveform waveform;
    for (const Column& c : columns) waveform.signals.push_back({c.name, 0, {}});
    std::vector<uint8_t> level(columns.size(), 0);
    bool haveRow = false;
    uint64_t lastPosition = 0;
    uint64_t rowIndex = 0;

    // Built only for a message: most rows need none.
    const auto place = [&lineNumber] { return "line " + std::to_string(lineNumber); };
    auto takeRow = [&](const std::vector<std::string_view>& fields) {
        if (fields.size() != width)
            throw CaptureFormatError(name, place(), "expected " + std::to_string(width) + " columns, found " + std::to_string(fields.size()));
        uint64_t position = rowIndex;
        if (!positionless) {
            const std::string first(fields[0]);
            if (!decided) {
                timeColumn = first.find_first_of(".eE") != std::string::npos;
                decided = true;
            }
            if (timeColumn) {
                if (samplerate == 0)
                    throw CaptureFormatError(name, place(), "the first column is a time in seconds; give --samplerate to turn it into sample numbers");
                char* end = nullptr;
                const double seconds = std::strtod(first.c_str(), &end);
                if (first.empty() || *end != '\0' || !(seconds >= 0) || !std::isfinite(seconds))
                    throw CaptureFormatError(name, place() + ", column 1", "expected a time in seconds, found '" + first + "'");
                const double sample = std::round(seconds * static_cast<double>(samplerate));
                if (sample > 4294967295.0) throw CaptureFormatError(name, place(), "position beyond 2^32 samples; positions are 32-bit");
                position = static_cast<uint64_t>(sample);
            } else {
                char* end = nullptr;
                const unsigned long long value = std::strtoull(first.c_str(), &end, 10);
                if (first.empty() || *end != '\0' || first[0] == '-')
                    throw CaptureFormatError(name, place() + ", column 1", "expected a sample number, found '" + first + "'");
                if (value > 0xFFFFFFFFull) throw CaptureFormatError(name, place(), "sample number beyond 2^32; positions are 32-bit");
                position = value;
            }
            if (zeroTimes) {
                if (position == 0) position = rowIndex;
                else if (rowIndex > 1) throw CaptureFormatError(name, place(), "the time column is 0 up to here and then not; the rows cannot be placed");
                else zeroTimes = false;
            }
        }
        if (position > 0xFFFFFFFFull) throw CaptureFormatError(name, place(), "more than 2^32 rows; positions are 32-bit");
        if (haveRow && position < lastPosition)
            throw CaptureFormatError(name, place(), "position " + std::to_string(position) + " goes back before " + std::to_string(lastPosition));
        for (size_t i = 0; i < columns.size(); ++i) {
            const std::string_view v = fields[columns[i].field];
            if (v != "0" && v != "1")
                throw CaptureFormatError(name, place() + ", column " + std::to_string(columns[i].field + 1), "expected 0 or 1, found '" + std::string(v) + "'");
            const uint8_t bit = v == "1" ? 1 : 0;
            Signal& signal = waveform.signals[i];
            if (!haveRow) {
                signal.initialLevel = position == 0 ? bit : 0;
                if (position != 0 && bit) signal.changes.push_back(static_cast<uint32_t>(position));
            } else if (bit != level[i]) {
                // Two rows at one position: the later one wins.
                if (position == 0) signal.initialLevel = bit;
                else if (!signal.changes.empty() && signal.changes.back() == position) signal.changes.pop_back();
                else signal.changes.push_back(static_cast<uint32_t>(position));
            }
            level[i] = bit;
        }
        haveRow = true;
        lastPosition = position;
        ++rowIndex;
    };

    std::vector<std::string_view> fields;
    if (!firstRow.empty()) {
        SplitFieldViews(firstRowLine, fields);
        takeRow(fields);
    }
    while (ReadLine(in, line, name, ++lineNumber)) {
        const std::string_view trimmed = TrimView(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
        SplitFieldViews(line, fields);
        takeRow(fields);
    }
    if (!haveRow) throw CaptureFormatError(name, "", "no data rows");
    waveform.endPosition = static_cast<uint32_t>(std::min<uint64_t>(lastPosition + 1, 0xFFFFFFFFull));
    if (samplerate != 0) waveform.secondsPerPosition = 1.0 / static_cast<double>(samplerate);
    return waveform;
}

void WriteCsvCapture(const Waveform& waveform, std::ostream& out, bool perChange) {
    out << "sample";
    for (const Signal& s : waveform.signals) out << ',' << s.name;
    out << '\n';
    std::vector<size_t> cursor(waveform.signals.size(), 0);
    std::vector<char> level(waveform.signals.size());
    for (size_t i = 0; i < level.size(); ++i) level[i] = waveform.signals[i].initialLevel ? '1' : '0';
    uint64_t lastWritten = 0;
    auto row = [&](uint64_t position) {
        lastWritten = position;
        out << position;
        for (char c : level) out << ',' << c;
        out << '\n';
    };
    uint64_t position = 0;
    while (position < std::max<uint64_t>(waveform.endPosition, 1)) {
        // Apply every change at this position, then find the next one.
        uint64_t next = UINT64_MAX;
        for (size_t i = 0; i < waveform.signals.size(); ++i) {
            const auto& changes = waveform.signals[i].changes;
            while (cursor[i] < changes.size() && changes[cursor[i]] <= position) {
                level[i] = level[i] == '1' ? '0' : '1';
                ++cursor[i];
            }
            if (cursor[i] < changes.size()) next = std::min<uint64_t>(next, changes[cursor[i]]);
        }
        row(position);
        position = perChange ? next : position + 1;
    }
    // A row on the last sample keeps the capture's length through a round trip.
    if (perChange && waveform.endPosition > 1 && lastWritten + 1 < waveform.endPosition) row(waveform.endPosition - 1);
}

}  // namespace fd::host
