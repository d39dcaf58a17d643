#include "host/formats/csv_capture.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <istream>
#include <limits>
#include <numeric>
#include <optional>
#include <ostream>
#include <vector>

#include "host/formats/format_error.h"
#include "host/formats/samplerate.h"

namespace fd::host {
namespace {

constexpr size_t kMaxLine = 1 << 20;  // a CSV row of a few hundred signals is far shorter
constexpr int64_t kFemtoPerSecond = 1000000000000000;
constexpr uint64_t kMaxPosition = 0xFFFFFFFFull;

std::string_view TrimView(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r\"");
    if (begin == std::string_view::npos) return text.substr(text.size());
    return text.substr(begin, text.find_last_not_of(" \t\r\"") - begin + 1);
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

// The data rows' fields, as views into the line: no allocation per field.
void SplitFieldViews(std::string_view line, char delimiter, std::vector<std::string_view>& fields) {
    fields.clear();
    size_t start = 0;
    for (;;) {
        const size_t end = line.find(delimiter, start);
        fields.push_back(TrimView(
            line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
}

std::vector<std::string> SplitFields(std::string_view line, char delimiter) {
    std::vector<std::string_view> views;
    SplitFieldViews(line, delimiter, views);
    return std::vector<std::string>(views.begin(), views.end());
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The delimiter of the first row that is not a comment: a tab wherever
// there is one, a semicolon where there are more of them than commas (as
// spreadsheets in decimal-comma locales write), else a comma.
char DetectDelimiter(std::string_view line) {
    size_t commas = 0, semicolons = 0, tabs = 0;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        commas += c == ',';
        semicolons += c == ';';
        tabs += c == '\t';
    }
    if (tabs > 0) return '\t';
    return semicolons > commas ? ';' : ',';
}

// --- Exact times ----------------------------------------------------------

uint64_t Pow10(int n) {
    uint64_t p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

// A decimal number ("-1.25e-6"; "0,000001" where the delimiter leaves the
// comma free) in a unit of 10^unitExponent femtoseconds (15: seconds, 6:
// nanoseconds), as a whole number of femtoseconds: exactly, rounded half
// up below a femtosecond. false when it is no number or out of range.
bool ParseDecimal(std::string_view text, int unitExponent, bool decimalComma, int64_t& femto) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    uint64_t mantissa = 0;
    int exponent = 0;
    int digits = 0;
    int firstDropped = -1;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            ++digits;
            if (mantissa < 100000000000000000ull) {
                mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
                if (point) --exponent;
            } else {
                if (firstDropped < 0) firstDropped = c - '0';
                if (!point) ++exponent;
            }
        } else if ((c == '.' || (decimalComma && c == ',')) && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) negativeExponent = text[i++] == '-';
        if (i == text.size()) return false;
        int value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            value = std::min(value * 10 + (text[i] - '0'), 1000);
        exponent += negativeExponent ? -value : value;
    }
    if (i != text.size()) return false;
    if (firstDropped >= 5) ++mantissa;
    const int scale = exponent + unitExponent;
    uint64_t magnitude = 0;
    if (mantissa == 0) {
        magnitude = 0;
    } else if (scale >= 0) {
        if (scale > 18) return false;
        const uint64_t factor = Pow10(scale);
        if (mantissa > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) / factor) return false;
        magnitude = mantissa * factor;
    } else if (scale >= -19) {
        const uint64_t divisor = Pow10(-scale);
        magnitude = mantissa / divisor;
        if (mantissa % divisor >= divisor - mantissa % divisor) ++magnitude;  // half up
    }
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    femto = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool LooksLikeIso8601(std::string_view text) {
    return text.size() >= 19 && std::isdigit(static_cast<unsigned char>(text[0])) && text[4] == '-' &&
           text[7] == '-' && (text[10] == 'T' || text[10] == 't' || text[10] == ' ') && text[13] == ':';
}

// "2024-03-01T12:00:00.000000125Z", "… 12:00:00,5+01:00": whole seconds
// since 1970 (UTC) and the fraction in femtoseconds.
bool ParseIso8601(std::string_view text, int64_t& seconds, int64_t& femto) {
    if (!LooksLikeIso8601(text)) return false;
    const auto number = [&](size_t at, size_t n, int& out) {
        if (at + n > text.size() || !AllDigits(text.substr(at, n))) return false;
        out = 0;
        for (size_t k = 0; k < n; ++k) out = out * 10 + (text[at + k] - '0');
        return true;
    };
    int year, month, day, hour, minute, second;
    if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day) || !number(11, 2, hour) ||
        !number(14, 2, minute) || text[16] != ':' || !number(17, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    size_t i = 19;
    femto = 0;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        ++i;
        int64_t place = kFemtoPerSecond / 10;
        const size_t start = i;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            femto += (text[i] - '0') * place;
            place /= 10;
        }
        if (i == start) return false;
    }
    int offsetMinutes = 0;
    if (i < text.size() && (text[i] == 'Z' || text[i] == 'z')) {
        ++i;
    } else if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        const int sign = text[i] == '-' ? -1 : 1;
        int oh, om = 0;
        if (!number(i + 1, 2, oh)) return false;
        i += 3;
        if (i < text.size() && text[i] == ':') ++i;
        if (i < text.size()) {
            if (!number(i, 2, om)) return false;
            i += 2;
        }
        offsetMinutes = sign * (oh * 60 + om);
    }
    if (i != text.size()) return false;
    seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
              hour * 3600 + minute * 60 + second - offsetMinutes * 60;
    return true;
}

// a * b / c rounded to nearest, exactly; UINT64_MAX when it does not fit.
uint64_t MulDivRound(uint64_t a, uint64_t b, uint64_t c) {
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 Wide;
    const Wide q = (static_cast<Wide>(a) * b + c / 2) / c;
    return q > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(q);
#else
    const uint64_t aLow = a & 0xFFFFFFFFu, aHigh = a >> 32, bLow = b & 0xFFFFFFFFu, bHigh = b >> 32;
    const uint64_t ll = aLow * bLow, lh = aLow * bHigh, hl = aHigh * bLow, hh = aHigh * bHigh;
    const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    uint64_t low = (ll & 0xFFFFFFFFu) | (mid << 32);
    uint64_t high = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
    low += c / 2;
    if (low < c / 2) ++high;
    if (high >= c) return UINT64_MAX;
    uint64_t q = 0, r = high;
    for (int bit = 63; bit >= 0; --bit) {
        const bool carry = (r >> 63) != 0;
        r = (r << 1) | ((low >> bit) & 1);
        q <<= 1;
        if (carry || r >= c) {
            r -= c;
            q |= 1;
        }
    }
    return q;
#endif
}

// "5 ns", "41.666 ns", "1.5 us": a step in femtoseconds, exactly.
std::string FormatFemto(uint64_t femto) {
    static const struct {
        uint64_t scale;
        const char* unit;
    } kUnits[] = {{1000000000000000ull, "s"}, {1000000000000ull, "ms"}, {1000000000ull, "us"},
                  {1000000ull, "ns"},         {1000ull, "ps"},          {1, "fs"}};
    for (const auto& u : kUnits) {
        if (femto < u.scale && u.scale != 1) continue;
        std::string text = std::to_string(femto / u.scale);
        if (const uint64_t rest = femto % u.scale; rest != 0) {
            std::string fraction = std::to_string(rest);
            fraction.insert(0, std::to_string(u.scale).size() - 1 - fraction.size(), '0');
            fraction.erase(fraction.find_last_not_of('0') + 1);
            text += "." + fraction;
        }
        return text + " " + u.unit;
    }
    return "0 s";
}

// The unit a header names for its time column, as a power of ten of
// femtoseconds (15: seconds); nullopt when it names no time. The words are
// read apart from what joins them: "Time [us]", "time_ns", "Time(s)",
// "nanoseconds" (sigrok); "Time" or "timestamp" alone are seconds.
std::optional<int> TimeUnitOfHeader(const std::string& lower) {
    static const struct {
        const char* word;
        int exponent;
        bool alone;  // names a time without a "time" beside it
    } kUnits[] = {{"s", 15, false},         {"sec", 15, false},        {"secs", 15, false},
                  {"second", 15, true},     {"seconds", 15, true},     {"ms", 12, false},
                  {"msec", 12, false},      {"millisecond", 12, true}, {"milliseconds", 12, true},
                  {"us", 9, false},         {"\xC2\xB5s", 9, false},   {"\xCE\xBCs", 9, false},
                  {"usec", 9, false},       {"microsecond", 9, true},  {"microseconds", 9, true},
                  {"ns", 6, false},         {"nsec", 6, false},        {"nanosecond", 6, true},
                  {"nanoseconds", 6, true}, {"ps", 3, false},          {"picosecond", 3, true},
                  {"picoseconds", 3, true}, {"fs", 0, false},          {"femtoseconds", 0, true},
                  {"attoseconds", -3, true}};
    bool time = false;
    std::optional<int> unit;
    bool alone = false;
    for (size_t i = 0; i < lower.size();) {
        const auto letter = [&](size_t k) {
            const auto c = static_cast<unsigned char>(lower[k]);
            return (c >= 'a' && c <= 'z') || c >= 0x80;
        };
        if (!letter(i)) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < lower.size() && letter(end)) ++end;
        const std::string_view word = std::string_view(lower).substr(i, end - i);
        i = end;
        if (StartsWith(word, "time")) time = true;
        if (StartsWith(word, "sample")) return std::nullopt;
        for (const auto& u : kUnits) {
            if (word == u.word && !unit) {
                unit = u.exponent;
                alone = u.alone;
            }
        }
    }
    if (unit && (time || alone)) return unit;
    if (time) return 15;
    return std::nullopt;
}

// --- Columns ----------------------------------------------------------------

enum class Radix { Level, Hex, Dec, Bin, Oct, Signed };

const char* RadixName(Radix radix) {
    switch (radix) {
        case Radix::Hex:
            return "hexadecimal";
        case Radix::Dec:
            return "decimal";
        case Radix::Signed:
            return "signed decimal";
        case Radix::Bin:
            return "binary";
        case Radix::Oct:
            return "octal";
        case Radix::Level:
            break;
    }
    return "0 or 1";
}

// A radix row's word ("Radix - HEX", "UNSIGNED", "BIN") or nullopt.
std::optional<Radix> RadixWord(std::string_view field) {
    std::string word = Lower(field);
    if (StartsWith(word, "radix")) {
        word = Trim(std::string_view(word).substr(5));
        if (!word.empty() && (word[0] == '-' || word[0] == ':' || word[0] == '='))
            word = Trim(std::string_view(word).substr(1));
    }
    if (word == "hex" || word == "hexadecimal") return Radix::Hex;
    if (word == "dec" || word == "decimal" || word == "unsigned" || word == "unsigned decimal")
        return Radix::Dec;
    if (word == "signed" || word == "signed decimal") return Radix::Signed;
    if (word == "bin" || word == "binary") return Radix::Bin;
    if (word == "oct" || word == "octal") return Radix::Oct;
    return std::nullopt;
}

// "DD[15:0]", "DD [15:0]": the bus's name and bit range.
bool ParseBusName(const std::string& label, std::string& base, int& high, int& low) {
    const size_t open = label.rfind('[');
    if (open == std::string::npos || label.back() != ']') return false;
    const std::string inside = label.substr(open + 1, label.size() - open - 2);
    const size_t colon = inside.find(':');
    if (colon == std::string::npos || colon > 2 || inside.size() - colon - 1 > 2 ||
        !AllDigits(inside.substr(0, colon)) || !AllDigits(inside.substr(colon + 1)))
        return false;
    high = std::atoi(inside.substr(0, colon).c_str());
    low = std::atoi(inside.substr(colon + 1).c_str());
    base = Trim(label.substr(0, open));
    return !base.empty() && high < 64 && low < 64;
}

struct Output {
    size_t signal;
    unsigned bit;  // of the column's word
};

// One field of each row and the signals it feeds.
struct FieldReader {
    size_t field = 0;
    Radix radix = Radix::Level;
    bool radixGiven = false;  // by a radix row or the columns option
    unsigned width = 0;       // bits the value may use; 0: up to 64
    std::string label;        // for messages
    std::vector<Output> outputs;
    bool unprefixed = false;  // a value read as hex without saying so
};

// Parses a word in the column's radix; false when it is none.
bool ParseWord(std::string_view v, Radix radix, unsigned width, uint64_t& value) {
    if (radix == Radix::Hex) {
        if (StartsWith(v, "0x") || StartsWith(v, "0X"))
            v.remove_prefix(2);
        else if (!v.empty() && (v.back() == 'h' || v.back() == 'H'))
            v.remove_suffix(1);
    } else if (radix == Radix::Bin) {
        if (StartsWith(v, "0b") || StartsWith(v, "0B")) v.remove_prefix(2);
    }
    bool negative = false;
    if (radix == Radix::Signed && !v.empty() && (v[0] == '-' || v[0] == '+')) {
        negative = v[0] == '-';
        v.remove_prefix(1);
    }
    const unsigned base = radix == Radix::Hex ? 16 : radix == Radix::Bin ? 2 : radix == Radix::Oct ? 8 : 10;
    if (v.empty()) return false;
    value = 0;
    for (const char c : v) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c == '_')
            continue;
        else
            return false;
        if (digit >= base || value > (UINT64_MAX - digit) / base) return false;
        value = value * base + digit;
    }
    const uint64_t mask = width == 0 || width >= 64 ? UINT64_MAX : (uint64_t{1} << width) - 1;
    if (negative) {
        if (width == 0 || width >= 64 || value > (mask >> 1) + 1) return false;
        value = (~value + 1) & mask;
    }
    return value <= mask;
}

// "0", "0.000", "-0": a zero in any form a time column writes.
bool IsZero(std::string_view v) {
    return v.find('0') != std::string_view::npos && v.find_first_not_of("0.,+-") == std::string_view::npos;
}

// No data: an empty cell, X (unknown) or Z (undriven), for a word in any
// of its digits.
bool IsGap(std::string_view v) { return v.empty() || v.find_first_not_of("xXzZ") == std::string_view::npos; }
bool HasUnknownDigit(std::string_view v) {
    if (StartsWith(v, "0x") || StartsWith(v, "0X")) v.remove_prefix(2);
    return v.find_first_of("xXzZ") != std::string_view::npos;
}

// What a header row's field may be in a data row: a number, a timestamp or
// no data. Anything else makes the row a header.
bool IsDataLike(const std::string& field, bool decimalComma) {
    if (IsGap(field) || LooksLikeIso8601(field)) return true;
    int64_t ignored;
    return ParseDecimal(field, 0, decimalComma, ignored) || AllDigits(field);
}

// What sigrok's CSV output says about itself before the rows: its comment
// lines name the channels ("; Channels (3/3): A, B, C"), and the rate
// ("; Samplerate: 24 MHz"; sigrok-cli 0.7.2 a "META samplerate: N" line
// before the label row).
struct Preamble {
    bool sigrok = false;
    std::vector<std::string> channels;
    uint64_t samplerate = 0;
    long samplerateLine = 0;
};

// A comment naming the rate: "Samplerate: 24 MHz", "Sample rate: 100 MHz"
// (DSView), "Sampling rate = 1 GHz".
uint64_t RateOfComment(const std::string& text) {
    const std::string lower = Lower(text);
    for (const char* key : {"samplerate", "sample rate", "sampling rate"}) {
        const size_t at = lower.find(key);
        if (at == std::string::npos) continue;
        size_t i = at + std::string_view(key).size();
        while (i < lower.size() && lower[i] == ' ') ++i;
        if (i < lower.size() && (lower[i] == ':' || lower[i] == '='))
            return ParseSamplerate(text.substr(i + 1));
    }
    return 0;
}

// true when the line was a comment (or sigrok's META line) and is consumed.
bool TakeComment(const std::string& trimmed, long lineNumber, Preamble& preamble) {
    if (StartsWith(trimmed, "META ")) {
        preamble.sigrok = true;
        const std::string key = "META samplerate:";
        if (StartsWith(trimmed, key)) {
            const uint64_t rate = std::strtoull(trimmed.c_str() + key.size(), nullptr, 10);
            preamble.samplerate = rate <= 1000000000000000ull ? rate : 0;  // as ParseSamplerate: up to 1 PHz
            preamble.samplerateLine = lineNumber;
        }
        return true;
    }
    if (trimmed[0] != ';' && trimmed[0] != '#') return false;
    if (trimmed.find("generated by libsigrok") != std::string::npos) preamble.sigrok = true;
    const size_t channels = trimmed.find("Channels (");
    const size_t colon = channels == std::string::npos ? channels : trimmed.find("):", channels);
    if (colon != std::string::npos) preamble.channels = SplitFields(trimmed.substr(colon + 2), ',');
    if (const uint64_t rate = RateOfComment(trimmed.substr(1)); rate != 0) {
        preamble.samplerate = rate;
        preamble.samplerateLine = lineNumber;
    }
    return true;
}

bool IsUnitLabel(const std::string& field) {
    const std::string lower = Lower(field);
    return lower == "logic" || lower == "samples";
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
        if (line.size() >= kMaxLine)
            throw CaptureFormatError(name, "line " + std::to_string(lineNumber), "line is longer than 1 MiB");
        line.push_back(static_cast<char>(c));
    }
    return any;
}

// One entry of the columns option.
struct ColumnSpec {
    size_t field;
    std::string name;
    bool word = false;
    int high = 0, low = 0;  // bits of the word
    std::optional<Radix> radix = std::nullopt;

    ColumnSpec(size_t f, std::string n) : field(f), name(std::move(n)) {}
};

std::optional<Radix> RadixOfOption(const std::string& word) {
    const std::string lower = Lower(word);
    if (lower == "hex") return Radix::Hex;
    if (lower == "dec") return Radix::Dec;
    if (lower == "bin") return Radix::Bin;
    if (lower == "oct") return Radix::Oct;
    return std::nullopt;
}

// firstSignal: the field of the first signal column (1 after a position
// column, 0 in files without one); numbers in the option count from 1.
std::vector<ColumnSpec> ColumnsFromOption(const std::string& spec, const std::string& name,
                                          size_t firstSignal) {
    std::vector<ColumnSpec> columns;
    size_t next = firstSignal;
    const std::string from = firstSignal == 0 ? "from 1" : "from 2 (column 1 holds the position)";
    for (const std::string& entry : SplitFields(spec, ',')) {
        const size_t eq = entry.find('=');
        if (eq == std::string::npos) {
            if (entry != "-" && !entry.empty()) columns.emplace_back(next, entry);
            ++next;
            continue;
        }
        const std::string left = Trim(entry.substr(0, eq));
        const std::string right = Trim(entry.substr(eq + 1));
        const auto columnNumber = [&](const std::string& text) -> std::optional<size_t> {
            if (!AllDigits(text) || text.size() > 6) return std::nullopt;
            const size_t column = std::stoul(text);
            if (column < firstSignal + 1) return std::nullopt;
            return column - 1;
        };
        if (AllDigits(left)) {  // N=NAME
            const auto column = columnNumber(left);
            if (!column || right.empty())
                throw CaptureFormatError(name, "--csv-columns",
                                         "expected N=NAME with N " + from + ", found '" + entry + "'");
            columns.emplace_back(*column, right);
            continue;
        }
        // NAME=N, NAME=N:BIT, NAME=N:HIGH..LOW, each with :RADIX after it.
        const std::string expected =
            "expected NAME=N, NAME=N:BIT or NAME=N:HIGH..LOW[:hex|dec|bin|oct] with N " + from +
            " and bits 0 to 63, found '" + entry + "'";
        std::vector<std::string> parts;
        for (size_t start = 0;;) {
            const size_t colon = right.find(':', start);
            parts.push_back(
                Trim(right.substr(start, colon == std::string::npos ? std::string::npos : colon - start)));
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
        const auto column = columnNumber(parts[0]);
        if (left.empty() || !column || parts.size() > 3)
            throw CaptureFormatError(name, "--csv-columns", expected);
        ColumnSpec c{*column, left};
        if (parts.size() >= 2) {
            const std::string& bits = parts[1];
            const size_t dots = bits.find("..");
            const std::string high = dots == std::string::npos ? bits : bits.substr(0, dots);
            const std::string low = dots == std::string::npos ? bits : bits.substr(dots + 2);
            if (!AllDigits(high) || !AllDigits(low) || high.size() > 2 || low.size() > 2)
                throw CaptureFormatError(name, "--csv-columns", expected);
            c.word = true;
            c.high = std::stoi(high);
            c.low = std::stoi(low);
            if (c.high > 63 || c.low > 63) throw CaptureFormatError(name, "--csv-columns", expected);
            if (dots == std::string::npos) c.high = c.low = -1 - c.low;  // one bit, named NAME itself
        }
        if (parts.size() == 3) {
            c.radix = RadixOfOption(parts[2]);
            if (!c.radix) throw CaptureFormatError(name, "--csv-columns", expected);
        }
        columns.push_back(c);
    }
    if (columns.empty()) throw CaptureFormatError(name, "--csv-columns", "names no column");
    return columns;
}

// How the position column counts.
enum class Clock {
    Rows,         // no position column: consecutive samples
    Samples,      // sample numbers
    Seconds,      // a time in the header's unit
    Iso,          // ISO 8601 timestamps
    SigrokTicks,  // sigrok's time column: ticks of its truncated period, from one period
};

}  // namespace

Waveform ReadCsvCapture(const std::string& path, const CsvReadOptions& options, CsvReadNotes* notes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CaptureFormatError(path, "", "cannot open the file");
    return ReadCsvCapture(in, path, options, notes);
}

Waveform ReadCsvCapture(std::istream& in, const std::string& name, const CsvReadOptions& options,
                        CsvReadNotes* notes) {
    CsvReadNotes localNotes;
    CsvReadNotes& said = notes != nullptr ? *notes : localNotes;
    std::string line;
    long lineNumber = 0;
    std::vector<std::string> header;
    std::string pendingRow;  // the first data row, read while looking for the header or a radix row
    Preamble preamble;
    char delimiter = ',';
    // The first line that is not a comment: a header, or already data.
    while (ReadLine(in, line, name, ++lineNumber)) {
        // Spreadsheet programs start a UTF-8 file with a byte order mark.
        if (lineNumber == 1 && StartsWith(line, "\xEF\xBB\xBF")) line.erase(0, 3);
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || TakeComment(trimmed, lineNumber, preamble)) continue;
        delimiter = DetectDelimiter(line);
        std::vector<std::string> fields = SplitFields(line, delimiter);
        if (std::all_of(fields.begin(), fields.end(),
                        [&](const std::string& f) { return IsDataLike(f, delimiter != ','); })) {
            pendingRow = line;
        } else {
            header = std::move(fields);
        }
        break;
    }
    const bool decimalComma = delimiter != ',';
    const long headerLine = lineNumber;
    if (header.empty() && pendingRow.empty()) throw CaptureFormatError(name, "", "no header row and no data");
    // A trailing delimiter on the header names no column.
    if (header.size() > 1 && header.back().empty()) header.pop_back();

    // A radix row under the header: the form each column's values take.
    std::vector<std::optional<Radix>> radixes;
    if (!header.empty()) {
        while (ReadLine(in, line, name, ++lineNumber)) {
            const std::string trimmed = Trim(line);
            if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
            std::vector<std::string> fields = SplitFields(line, delimiter);
            bool all = true;
            for (const std::string& f : fields) all = all && (RadixWord(f).has_value() || f.empty());
            if (all && RadixWord(fields[0])) {
                for (const std::string& f : fields) radixes.push_back(RadixWord(f));
            } else {
                pendingRow = line;
            }
            break;
        }
    }
    const size_t width = header.empty() ? SplitFields(pendingRow, delimiter).size() : header.size();
    const auto radixOf = [&](size_t field) -> std::optional<Radix> {
        return field < radixes.size() ? radixes[field] : std::nullopt;
    };

    // sigrok writes no position column unless asked for its time column;
    // its channel list tells which it is.
    const bool positionless =
        preamble.sigrok && !preamble.channels.empty() && width == preamble.channels.size();
    const size_t firstSignal = positionless ? 0 : 1;
    if (width < firstSignal + 1)
        throw CaptureFormatError(name, "line " + std::to_string(headerLine),
                                 "expected a position column and at least one signal column");

    Waveform waveform;
    std::vector<FieldReader> readers;
    std::vector<std::string> skipped;
    const auto readerFor = [&](size_t field, const std::string& label) -> FieldReader& {
        for (FieldReader& r : readers)
            if (r.field == field) return r;
        FieldReader r;
        r.field = field;
        r.label = label;
        readers.push_back(r);
        return readers.back();
    };
    const auto addSignal = [&](const std::string& signalName) {
        waveform.signals.push_back({signalName, 0, {}});
        return waveform.signals.size() - 1;
    };
    // A word column's radix: the option's, the radix row's, else hex.
    const auto setWordRadix = [&](FieldReader& r, std::optional<Radix> given) {
        const std::optional<Radix> radix = given ? given : radixOf(r.field);
        if (r.radix != Radix::Level && r.radixGiven && radix && *radix != r.radix)
            throw CaptureFormatError(name, "--csv-columns",
                                     "column " + std::to_string(r.field + 1) + " is given two radixes");
        if (r.radix != Radix::Level && r.radixGiven) return;
        r.radix = radix.value_or(Radix::Hex);
        r.radixGiven = radix.has_value();
    };
    if (!options.columns.empty()) {
        for (const ColumnSpec& c : ColumnsFromOption(options.columns, name, firstSignal)) {
            if (c.field >= width)
                throw CaptureFormatError(name, "--csv-columns",
                                         "column " + std::to_string(c.field + 1) +
                                             " does not exist; rows have " + std::to_string(width));
            const std::string label =
                c.field < header.size() ? header[c.field] : "column " + std::to_string(c.field + 1);
            FieldReader& r = readerFor(c.field, label);
            if (!c.word) {
                if (r.radix != Radix::Level)
                    throw CaptureFormatError(
                        name, "--csv-columns",
                        "column " + std::to_string(c.field + 1) + " is named both as a word and as one line");
                r.outputs.push_back({addSignal(c.name), 0});
                continue;
            }
            if (r.radix == Radix::Level && !r.outputs.empty())
                throw CaptureFormatError(
                    name, "--csv-columns",
                    "column " + std::to_string(c.field + 1) + " is named both as a word and as one line");
            setWordRadix(r, c.radix);
            if (c.high < 0) {
                r.outputs.push_back({addSignal(c.name), static_cast<unsigned>(-1 - c.high)});
                continue;
            }
            const int step = c.high >= c.low ? -1 : 1;
            const int count = std::abs(c.high - c.low) + 1;
            for (int k = 0; k < count; ++k)  // NAME(count-1) first, as a VCD lists a vector's bits
                r.outputs.push_back({addSignal(c.name + std::to_string(count - 1 - k)),
                                     static_cast<unsigned>(c.high + step * k)});
        }
    } else if (header.empty()) {
        throw CaptureFormatError(name, "line " + std::to_string(headerLine),
                                 "no header row; name the columns with --csv-columns");
    } else {
        // A label row of units ("logic", as sigrok writes by default) names
        // no signal; sigrok's channel list does.
        const bool unitLabels =
            std::all_of(header.begin() + static_cast<long>(firstSignal), header.end(), IsUnitLabel);
        const bool namesFromPreamble = unitLabels && preamble.channels.size() == width - firstSignal;
        if (unitLabels && !namesFromPreamble)
            throw CaptureFormatError(name, "line " + std::to_string(headerLine),
                                     "the header row names no signal; name the columns with --csv-columns");
        for (size_t i = firstSignal; i < width; ++i) {
            const std::string label = namesFromPreamble   ? preamble.channels[i - firstSignal]
                                      : header[i].empty() ? "column" + std::to_string(i + 1)
                                                          : header[i];
            // Logic-analyzer cores number the samples twice.
            if (Lower(label) == "sample in window") {
                skipped.push_back("column " + std::to_string(i + 1) + " (" + label + ")");
                continue;
            }
            std::string base;
            int high = 0, low = 0;
            const std::string upper = Lower(label);
            const bool bus = ParseBusName(label, base, high, low);
            if (!bus && upper != "dd" && upper != "data") {
                readerFor(i, label).outputs.push_back({addSignal(label), 0});
                continue;
            }
            if (!bus) {
                base = label;
                high = 15;
                low = 0;
            }
            FieldReader& r = readerFor(i, label);
            setWordRadix(r, std::nullopt);
            const int lo = std::min(high, low), hi = std::max(high, low);
            r.width = static_cast<unsigned>(hi - lo + 1);
            for (int bit = hi; bit >= lo; --bit)
                r.outputs.push_back({addSignal(base + std::to_string(bit)), static_cast<unsigned>(bit - lo)});
        }
    }
    // The rate: the one given, else the file's; a clash is said, and the
    // given one holds (it is how a wrong rate in a file is corrected).
    said.fileSamplerate = preamble.samplerate;
    if (options.samplerate != 0 && preamble.samplerate != 0 && options.samplerate != preamble.samplerate) {
        said.warnings.push_back("--samplerate " + FormatSamplerate(options.samplerate) +
                                " differs from the file's " + FormatSamplerate(preamble.samplerate) +
                                " (line " + std::to_string(preamble.samplerateLine) + "); " +
                                FormatSamplerate(options.samplerate) + " is used");
    }
    const uint64_t samplerate = options.samplerate != 0 ? options.samplerate : preamble.samplerate;

    // The position column: its header says what it counts, else the first
    // value's form does.
    const std::string firstName = header.empty() || positionless ? std::string() : Lower(header[0]);
    const std::optional<int> headerUnit = firstName.empty() ? std::nullopt : TimeUnitOfHeader(firstName);
    const bool sampleHeader = !headerUnit && firstName.find("sample") != std::string::npos;
    Clock clock = positionless ? Clock::Rows : Clock::Samples;
    int unitExponent = 15;
    uint64_t sigrokPeriod = 0;  // SigrokTicks: sigrok's period in its header's unit
    bool decided = positionless;
    // libsigrok 0.5 writes 0 in every row of its time column; its rows are
    // then consecutive samples.
    bool zeroTimes = preamble.sigrok && !positionless;
    const auto decide = [&](std::string_view first) {
        decided = true;
        if (LooksLikeIso8601(first)) {
            clock = Clock::Iso;
            return;
        }
        // sigrok's own time column: integers from one period on, in the
        // unit its rate calls for (the period truncated to that unit).
        static const char* const kSigrokUnits[] = {"time",        "milliseconds", "microseconds",
                                                   "nanoseconds", "picoseconds",  "femtoseconds",
                                                   "attoseconds"};
        const bool sigrokLabel = std::any_of(std::begin(kSigrokUnits), std::end(kSigrokUnits),
                                             [&](const char* unit) { return firstName == unit; });
        const bool sigrokTime =
            preamble.sigrok && preamble.samplerate != 0 && sigrokLabel && AllDigits(first) && !IsZero(first);
        if (sigrokTime) {
            uint64_t unitsPerSecond = 1;
            while (unitsPerSecond < preamble.samplerate) unitsPerSecond *= 1000;
            sigrokPeriod = unitsPerSecond / preamble.samplerate;
            if (sigrokPeriod != 0) {
                clock = Clock::SigrokTicks;
                return;
            }
        }
        if (headerUnit) {
            clock = Clock::Seconds;
            unitExponent = *headerUnit;
        } else if (!sampleHeader && (first.find_first_of(".eE") != std::string_view::npos ||
                                     (decimalComma && first.find(',') != std::string_view::npos))) {
            clock = Clock::Seconds;
        }
    };

    // Times without a rate are placed in femtoseconds and divided by their
    // common step at the end.
    bool deferred = false;
    int64_t firstTime = 0;  // the first row's time (fs); Iso: its whole seconds
    int64_t firstFraction = 0;
    int64_t shift = 0;  // subtracted from every time, so the first row is at 0
    int64_t lastTime = 0;
    uint64_t stepGcd = 0;
    std::string lastFirst;

    std::vector<uint8_t> level(waveform.signals.size(), 0);
    std::vector<std::vector<uint64_t>> deferredChanges;
    bool haveRow = false;
    uint64_t lastPosition = 0;
    uint64_t rowIndex = 0;
    uint64_t gapValues = 0, gapRows = 0;
    long firstGapLine = 0, lastGapLine = 0;

    // Built only for a message: most rows need none.
    const auto place = [&lineNumber] { return "line " + std::to_string(lineNumber); };
    const auto toPosition = [&](uint64_t t) -> uint64_t {
        if (static_cast<uint64_t>(kFemtoPerSecond) % samplerate == 0) {
            const uint64_t period = static_cast<uint64_t>(kFemtoPerSecond) / samplerate;
            return t / period + (t % period >= period - t % period ? 1 : 0);
        }
        return MulDivRound(t, samplerate, static_cast<uint64_t>(kFemtoPerSecond));
    };
    const auto takeTime = [&](std::string_view first) -> uint64_t {
        int64_t time = 0;
        if (clock == Clock::Iso) {
            int64_t seconds = 0, fraction = 0;
            if (!ParseIso8601(first, seconds, fraction))
                throw CaptureFormatError(
                    name, place() + ", column 1",
                    "expected an ISO 8601 time such as 2024-03-01T12:00:00.000000125Z, found '" +
                        std::string(first) + "'");
            if (!haveRow) {
                firstTime = seconds;
                firstFraction = fraction;
            }
            const int64_t whole = seconds - firstTime;
            if (whole > 9000 || whole < -9000)
                throw CaptureFormatError(name, place() + ", column 1",
                                         "more than 9000 s after the first row's time; times are read to the "
                                         "femtosecond within 2.5 hours");
            time = whole * kFemtoPerSecond + fraction - firstFraction;
        } else if (!ParseDecimal(first, unitExponent, decimalComma, time)) {
            throw CaptureFormatError(name, place() + ", column 1",
                                     "expected a time in " +
                                         std::string(unitExponent == 15 ? "seconds" : "the header's unit") +
                                         ", found '" + std::string(first) + "'");
        }
        if (!haveRow) {
            shift = time < 0 ? time : 0;
            if (time < 0)
                said.notes.push_back("the times start before 0 (at " + std::string(first) +
                                     ", before the trigger); the first row is taken as position 0");
            if (clock == Clock::Iso)
                said.notes.push_back("ISO 8601 times: positions count from the first row's, " +
                                     std::string(first));
        } else if (time < lastTime) {
            throw CaptureFormatError(name, place(),
                                     "time " + std::string(first) + " goes back before " + lastFirst);
        }
        lastTime = time;
        lastFirst.assign(first);
        // Never below the first row's time; as unsigned, the difference
        // cannot overflow.
        const uint64_t relative = static_cast<uint64_t>(time) - static_cast<uint64_t>(shift);
        if (deferred) {
            stepGcd = std::gcd(stepGcd, relative);
            return relative;
        }
        const uint64_t position = toPosition(relative);
        if (position > kMaxPosition)
            throw CaptureFormatError(name, place(), "position beyond 2^32 samples; positions are 32-bit");
        return position;
    };

    auto takeRow = [&](std::vector<std::string_view>& fields) {
        if (fields.size() == width + 1 && fields.back().empty()) fields.pop_back();  // a trailing delimiter
        if (fields.size() != width)
            throw CaptureFormatError(
                name, place(),
                "expected " + std::to_string(width) + " columns, found " + std::to_string(fields.size()));
        uint64_t position = rowIndex;
        if (!positionless) {
            const std::string_view first = fields[0];
            if (!decided) {
                decide(first);
                deferred = (clock == Clock::Seconds || clock == Clock::Iso) && samplerate == 0;
                if (deferred) deferredChanges.resize(waveform.signals.size());
            }
            bool byRow = false;
            if (zeroTimes) {
                if (IsZero(first))
                    byRow = true;
                else if (rowIndex > 1)
                    throw CaptureFormatError(
                        name, place(),
                        "the time column is 0 up to here and then not; the rows cannot be placed");
                else
                    zeroTimes = false;
            }
            if (byRow) {
                position = rowIndex;
            } else if (clock == Clock::Seconds || clock == Clock::Iso) {
                position = takeTime(first);
            } else if (clock == Clock::SigrokTicks) {
                if (!AllDigits(first) || first.size() > 19)
                    throw CaptureFormatError(name, place() + ", column 1",
                                             "expected sigrok's time in whole units of its header, found '" +
                                                 std::string(first) + "'");
                const uint64_t ticks = std::stoull(std::string(first));
                const uint64_t sample = (ticks + sigrokPeriod / 2) / sigrokPeriod;
                position = sample == 0 ? 0 : sample - 1;
                if (position > kMaxPosition)
                    throw CaptureFormatError(name, place(),
                                             "position beyond 2^32 samples; positions are 32-bit");
            } else {
                if (!AllDigits(first) || first.size() > 20)
                    throw CaptureFormatError(name, place() + ", column 1",
                                             "expected a sample number, found '" + std::string(first) + "'");
                const unsigned long long value = std::strtoull(std::string(first).c_str(), nullptr, 10);
                if (value > kMaxPosition)
                    throw CaptureFormatError(name, place(),
                                             "sample number beyond 2^32; positions are 32-bit");
                position = value;
            }
        }
        if (!deferred && position > kMaxPosition)
            throw CaptureFormatError(name, place(), "more than 2^32 rows; positions are 32-bit");
        if (haveRow && position < lastPosition)
            throw CaptureFormatError(
                name, place(),
                "position " + std::to_string(position) + " goes back before " + std::to_string(lastPosition));
        bool gapInRow = false;
        const auto apply = [&](size_t i, uint8_t bit) {
            Signal& signal = waveform.signals[i];
            if (deferred) {
                auto& changes = deferredChanges[i];
                if (!haveRow) {
                    signal.initialLevel = position == 0 ? bit : 0;
                    if (position != 0 && bit) changes.push_back(position);
                } else if (bit != level[i]) {
                    if (position == 0)
                        signal.initialLevel = bit;
                    else if (!changes.empty() && changes.back() == position)
                        changes.pop_back();
                    else
                        changes.push_back(position);
                }
            } else if (!haveRow) {
                signal.initialLevel = position == 0 ? bit : 0;
                if (position != 0 && bit) signal.changes.push_back(static_cast<uint32_t>(position));
            } else if (bit != level[i]) {
                // Two rows at one position: the later one wins.
                if (position == 0)
                    signal.initialLevel = bit;
                else if (!signal.changes.empty() && signal.changes.back() == position)
                    signal.changes.pop_back();
                else
                    signal.changes.push_back(static_cast<uint32_t>(position));
            }
            level[i] = bit;
        };
        for (FieldReader& r : readers) {
            const std::string_view v = fields[r.field];
            if (r.radix == Radix::Level && (v == "0" || v == "1")) {
                apply(r.outputs[0].signal, v == "1" ? 1 : 0);
                continue;
            }
            if (IsGap(v) || (r.radix != Radix::Level && HasUnknownDigit(v))) {
                // No data: every line keeps its level (0 before its first).
                gapInRow = true;
                ++gapValues;
                if (!haveRow)
                    for (const Output& o : r.outputs) apply(o.signal, 0);
                continue;
            }
            if (r.radix == Radix::Level)
                throw CaptureFormatError(name, place() + ", column " + std::to_string(r.field + 1),
                                         "expected 0 or 1, found '" + std::string(v) + "'" +
                                             (v.size() > 1 ? "; name the bits of a column of words with "
                                                             "--csv-columns NAME=N:HIGH..LOW"
                                                           : ""));
            uint64_t value = 0;
            if (!ParseWord(v, r.radix, r.width, value)) {
                const std::string what = std::string("a") + (r.radix == Radix::Oct ? "n " : " ") +
                                         RadixName(r.radix) + " value" +
                                         (r.width != 0 ? " of " + std::to_string(r.width) + " bits" : "");
                throw CaptureFormatError(name, place() + ", column " + std::to_string(r.field + 1),
                                         "expected " + what + ", found '" + std::string(v) + "'");
            }
            if (r.radix == Radix::Hex && !r.radixGiven && !StartsWith(v, "0x") && !StartsWith(v, "0X"))
                r.unprefixed = true;
            for (const Output& o : r.outputs) apply(o.signal, static_cast<uint8_t>((value >> o.bit) & 1));
        }
        if (gapInRow) {
            ++gapRows;
            if (firstGapLine == 0) firstGapLine = lineNumber;
            lastGapLine = lineNumber;
        }
        haveRow = true;
        lastPosition = position;
        ++rowIndex;
    };

    std::vector<std::string_view> fields;
    if (!pendingRow.empty()) {
        SplitFieldViews(pendingRow, delimiter, fields);
        takeRow(fields);
    }
    while (ReadLine(in, line, name, ++lineNumber)) {
        const std::string_view trimmed = TrimView(line);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
        SplitFieldViews(line, delimiter, fields);
        takeRow(fields);
    }
    if (!haveRow) throw CaptureFormatError(name, "", "no data rows");

    if (deferred) {
        // No rate: the times' common step is the sample period.
        const uint64_t step = zeroTimes || stepGcd == 0 ? 1 : stepGcd;
        if (!zeroTimes && stepGcd != 0) {
            if (step < 1000)
                throw CaptureFormatError(name, "",
                                         "the times share no step of 1 ps or more (written rounded?); give "
                                         "the sample rate with --samplerate");
            if (lastPosition / step > kMaxPosition)
                throw CaptureFormatError(name, "",
                                         "the capture spans more than 2^32 steps of " + FormatFemto(step) +
                                             "; positions are 32-bit");
            std::string rate =
                kFemtoPerSecond % static_cast<int64_t>(step) == 0
                    ? " (" + FormatSamplerate(static_cast<uint64_t>(kFemtoPerSecond) / step) + ")"
                    : "";
            said.notes.push_back(
                "no sample rate in the file and no --samplerate: every time is a multiple of " +
                FormatFemto(step) + ", taken as the sample period" + rate);
            waveform.secondsPerPosition = static_cast<double>(step) / static_cast<double>(kFemtoPerSecond);
        }
        for (size_t i = 0; i < waveform.signals.size(); ++i) {
            auto& changes = waveform.signals[i].changes;
            changes.reserve(deferredChanges[i].size());
            for (uint64_t t : deferredChanges[i]) changes.push_back(static_cast<uint32_t>(t / step));
            std::vector<uint64_t>().swap(deferredChanges[i]);
        }
        lastPosition /= step;
    } else if (samplerate != 0) {
        waveform.secondsPerPosition = 1.0 / static_cast<double>(samplerate);
    }
    waveform.endPosition = static_cast<uint32_t>(std::min<uint64_t>(lastPosition + 1, kMaxPosition));

    if (gapValues != 0) {
        const auto count = [](uint64_t n, const char* one, const char* many) {
            return std::to_string(n) + " " + (n == 1 ? one : many);
        };
        said.notes.push_back(count(gapValues, "cell", "cells") + " in " + count(gapRows, "row", "rows") +
                             " had no data (X, Z or empty; lines " + std::to_string(firstGapLine) + " to " +
                             std::to_string(lastGapLine) +
                             "): each line keeps its level from before (0 before its first)");
    }
    for (const FieldReader& r : readers) {
        if (r.unprefixed)
            said.notes.push_back("column " + std::to_string(r.field + 1) + " (" + r.label +
                                 ") has no radix row: its words are read as hexadecimal (name another with "
                                 "--csv-columns NAME=" +
                                 std::to_string(r.field + 1) + ":HIGH..LOW:dec)");
    }
    if (!skipped.empty()) {
        std::string list;
        for (const std::string& s : skipped) list += (list.empty() ? "" : ", ") + s;
        said.notes.push_back(list + ": a sample index, not read");
    }
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
    if (perChange && waveform.endPosition > 1 && lastWritten + 1 < waveform.endPosition)
        row(waveform.endPosition - 1);
}

}  // namespace fd::host
