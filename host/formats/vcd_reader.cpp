#include "host/formats/vcd_reader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <unordered_map>
#include <vector>

#include "host/formats/mapped_file.h"
#include "host/model/two_jobs.h"

namespace fd::host {
namespace {

constexpr size_t kProgressStep = size_t{8} << 20;

// Token scanning is the reader's inner loop: one table load per byte.
constexpr std::array<bool, 256> kSpace = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : {' ', '\n', '\r', '\t', '\f', '\v'}) table[c] = true;
    return table;
}();
inline bool IsSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }

// Timestamps are the other common line: their digits are read eight at a
// time. The number of digits at the start of eight bytes (the first in the
// lowest byte): bytes below '0' or above '9' set their top bit in one of
// the two sums, and carries or borrows only run towards later bytes.
inline int DigitRun(uint64_t chunk) {
    const uint64_t other =
        ((chunk - 0x3030303030303030ULL) | (chunk + 0x4646464646464646ULL)) & 0x8080808080808080ULL;
    return other != 0 ? std::countr_zero(other) >> 3 : 8;
}
// The value of eight ASCII digits, the first in the lowest byte (zero
// bytes read as leading zeros).
inline uint64_t EightDigits(uint64_t chunk) {
    chunk = (chunk & 0x0F0F0F0F0F0F0F0FULL) * 2561 >> 8;
    chunk = (chunk & 0x00FF00FF00FF00FFULL) * 6553601 >> 16;
    return (chunk & 0x0000FFFF0000FFFFULL) * 42949672960001ULL >> 32;
}
inline uint64_t LoadEight(const char* at) {
    uint64_t chunk;
    std::memcpy(&chunk, at, sizeof chunk);
    if constexpr (std::endian::native == std::endian::big) chunk = __builtin_bswap64(chunk);
    return chunk;
}
// Reads up to sixteen digits at `at` (which must have sixteen bytes to
// read) into `value`; returns how many there were, or 17 for more.
inline int ReadDigits(const char* at, uint64_t& value) {
    static constexpr uint64_t kPowers[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
    uint64_t chunk = LoadEight(at);
    const int first = DigitRun(chunk);
    if (first < 8) {
        value = first == 0 ? 0 : EightDigits(chunk << (8 * (8 - first)));
        return first;
    }
    const uint64_t high = EightDigits(chunk);
    chunk = LoadEight(at + 8);
    const int second = DigitRun(chunk);
    if (second == 8) return 17;
    value = high * kPowers[second] + (second == 0 ? 0 : EightDigits(chunk << (8 * (8 - second))));
    return 8 + second;
}

// One $var: the signals of its bits stand at firstSignal .. firstSignal +
// width - 1, most significant (leftmost in a value) first.
struct Variable {
    uint32_t firstSignal = 0;
    uint32_t width = 0;
    bool ignored = false;  // real, string, event: values are skipped
};

struct TransparentHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// Identifier codes are short printable strings; the one- and two-character
// codes that almost every writer uses are looked up in flat tables.
class IdentifierTable {
public:
    IdentifierTable() : one_(kSpan, -1), two_(kSpan * kSpan, -1) {}

    // A one-character code; -1 when it is not one of them.
    int32_t FindOne(char code) const { return Printable(code) ? one_[Index(code)] : -1; }

    int32_t Find(std::string_view code) const {
        if (code.size() == 1 && Printable(code[0])) return one_[Index(code[0])];
        if (code.size() == 2 && Printable(code[0]) && Printable(code[1]))
            return two_[Index(code[0]) * kSpan + Index(code[1])];
        const auto found = others_.find(code);
        return found == others_.end() ? -1 : found->second;
    }
    void Add(std::string_view code, int32_t variable) {
        if (code.size() == 1 && Printable(code[0])) {
            one_[Index(code[0])] = variable;
        } else if (code.size() == 2 && Printable(code[0]) && Printable(code[1])) {
            two_[Index(code[0]) * kSpan + Index(code[1])] = variable;
        } else {
            others_.emplace(std::string(code), variable);
        }
    }

private:
    static constexpr size_t kSpan = 94;  // '!' .. '~'
    static bool Printable(char c) { return c >= '!' && c <= '~'; }
    static size_t Index(char c) { return static_cast<size_t>(c - '!'); }
    std::vector<int32_t> one_;
    std::vector<int32_t> two_;
    std::unordered_map<std::string, int32_t, TransparentHash, std::equal_to<>> others_;
};

// Room for `more` changes beyond those a signal has, in memory backed by
// huge pages where the system has them. Room reserved but never written is
// address space only: it costs no memory.
void Reserve(std::vector<uint32_t>& changes, uint64_t more) {
    changes.reserve(static_cast<size_t>(changes.size() + more));
    AdviseHugePages(changes.data(), changes.capacity() * sizeof(uint32_t));
}

// Joins a signal's changes from the second half of the file (see
// VcdParser::ReadChanges) to the first half's, and frees them. The second
// half did not know the level its signals had when it began, so it took
// the opposite of each one's first value; where the first half ended on
// that first value (`recount`), the toggle the second half counted at that
// first value is not one (or, when a later value at the same position took
// it back, one is missing). Both halves are ascending and the second starts
// at or after the first's end, so only the boundary can hold two toggles at
// one position, and those cancel.
void JoinChanges(std::vector<uint32_t>& changes, std::vector<uint32_t>& second, bool recount,
                 uint32_t firstPushed) {
    size_t skip = 0;
    if (recount) {
        if (!second.empty() && second.front() == firstPushed) {
            skip = 1;
        } else if (!changes.empty() && changes.back() == firstPushed) {
            changes.pop_back();
        } else {
            changes.push_back(firstPushed);
        }
    } else if (!second.empty() && !changes.empty() && second.front() == changes.back()) {
        changes.pop_back();
        skip = 1;
    }
    if (skip < second.size()) {
        if (changes.capacity() < changes.size() + (second.size() - skip))
            Reserve(changes, second.size() - skip);
        changes.insert(changes.end(), second.begin() + static_cast<ptrdiff_t>(skip), second.end());
    }
    std::vector<uint32_t>().swap(second);
}

// The second reader met a timestamp its step puts beyond 32 bits: whether
// the capture is too long depends on the first half's step too, so the
// first reader reads that half again alone.
struct StepOverflow {};

class VcdParser {
public:
    VcdParser(std::string_view text, const std::string& name, const CaptureReadOptions& options,
              MappedFile* file)
        : begin_(text.data()),
          p_(text.data()),
          end_(text.data() + text.size()),
          name_(name),
          options_(options),
          file_(file) {}

    // A reader of the changes from `split` on, a line "#time" after the
    // first timestamp, with the header `first` has read. It does not know
    // the levels its signals start at: see JoinChanges.
    VcdParser(const VcdParser& first, const char* split, uint64_t splitTime)
        : begin_(first.begin_),
          p_(split),
          end_(first.end_),
          stop_(first.end_),
          name_(first.name_),
          options_(first.options_),
          file_(first.file_),
          waveform_(first.waveform_),
          variables_(first.variables_),
          identifiers_(first.identifiers_),
          levels_(first.levels_.size(), kUnknownLevel),
          changes_(first.levels_.size()),
          firstPushed_(first.levels_.size(), 0),
          scalarSignal_(first.scalarSignal_),
          haveTime_(true),
          startingLevels_(false),
          firstTime_(first.firstTime_),
          lastTime_(splitTime),
          plainAfter_(first.plainAfter_),
          origin_(Offset(split)),
          done_(origin_) {}

    Waveform Parse(CaptureReadNotes* notes) {
        if (SkipSpace() == end_)
            Fail("empty file; expected a VCD header ($timescale, $var, $enddefinitions)");
        ParseHeader();
        std::unique_ptr<VcdParser> second = ReadChanges();
        waveform_.endPosition = haveTime_ ? Position(lastTime_) : 0;
        BuildChanges(second.get());
        for (const Signal& signal : waveform_.signals) {
            if (!signal.changes.empty() && signal.changes.back() > waveform_.endPosition)
                waveform_.endPosition = signal.changes.back();
        }
        if (dumpOff_) gaps_.emplace_back(offStart_, waveform_.endPosition);  // never dumped again
        FinishSteps();
        if (notes != nullptr) {
            notes->format = "VCD";
            notes->unknownValues = unknownValues_;
            notes->undrivenValues = undrivenValues_;
            notes->heldUnknowns = heldUnknowns_;
            notes->gaps = gaps_;
            notes->ignoredVariables = ignoredVariables_;
            notes->aliases = aliases_;
            if (!timescaleNote_.empty()) notes->formatNotes.push_back(timescaleNote_);
        }
        return std::move(waveform_);
    }

private:
    std::string timescaleNote_;  // what was assumed of a timescale without a number

    // ---- errors -----------------------------------------------------------

    [[noreturn]] void Fail(const std::string& problem) const { FailAt(p_, problem); }
    [[noreturn]] void FailAt(const char* at, const std::string& problem) const {
        const size_t line = 1 + static_cast<size_t>(std::count(begin_, std::min(at, end_), '\n'));
        throw CaptureFormatError(name_, "line " + std::to_string(line), problem);
    }

    // ---- tokens -----------------------------------------------------------

    const char* SkipSpace() {
        while (p_ != end_ && IsSpace(*p_)) ++p_;
        return p_;
    }
    // The next whitespace-delimited token; empty at the end of the text.
    std::string_view Token() {
        SkipSpace();
        const char* start = p_;
        while (p_ != end_ && !IsSpace(*p_)) ++p_;
        return {start, static_cast<size_t>(p_ - start)};
    }
    std::string_view Expect(const char* what) {
        const std::string_view token = Token();
        if (token.empty()) Fail(std::string("unexpected end of file; expected ") + what);
        return token;
    }
    // Collects the tokens up to $end, joined by single spaces.
    std::string UntilEnd(std::string_view keyword) {
        const char* start = p_;
        std::string text;
        for (;;) {
            const std::string_view token = Token();
            if (token.empty())
                FailAt(start, "unexpected end of file; " + std::string(keyword) + " has no $end");
            if (token == "$end") return text;
            if (!text.empty()) text += ' ';
            text.append(token);
        }
    }
    void SkipToEnd(std::string_view keyword) {
        const char* start = p_;
        for (;;) {
            const std::string_view token = Token();
            if (token.empty())
                FailAt(start, "unexpected end of file; " + std::string(keyword) + " has no $end");
            if (token == "$end") return;
        }
    }

    // ---- header -----------------------------------------------------------

    void ParseHeader() {
        for (;;) {
            SkipSpace();
            const char* at = p_;
            const std::string_view keyword = Token();
            if (keyword.empty()) Fail("unexpected end of file; expected $enddefinitions");
            if (keyword == "$var") {
                ParseVariable();
            } else if (keyword == "$scope") {
                Expect("a scope type");
                const std::string_view scope = Expect("a scope name");
                if (scope == "$end") FailAt(at, "$scope needs a type and a name");
                scopes_.emplace_back(scope);
                if (Expect("$end") != "$end") FailAt(at, "expected $end after the scope name");
            } else if (keyword == "$upscope") {
                if (!scopes_.empty()) scopes_.pop_back();
                if (Expect("$end") != "$end") FailAt(at, "expected $end after $upscope");
            } else if (keyword == "$timescale") {
                ParseTimescale(at, UntilEnd(keyword));
            } else if (keyword == "$enddefinitions") {
                SkipToEnd(keyword);
                break;
            } else if (keyword[0] == '$' && keyword != "$end") {
                SkipToEnd(keyword);  // $date, $version, $comment and writers' own sections
            } else {
                FailAt(at, "expected a header section ($var, $scope, $timescale, $enddefinitions), found '" +
                               std::string(keyword.substr(0, 40)) + "'");
            }
        }
        if (variables_.empty() || waveform_.signals.empty()) Fail("the header declares no signals ($var)");
        NameSignals();
        levels_.assign(waveform_.signals.size(), 0);
        changes_.resize(waveform_.signals.size());
    }

    void ParseTimescale(const char* at, const std::string& text) {
        std::string compact;
        for (char c : text)
            if (!IsSpace(c)) compact += c;
        size_t digits = 0;
        while (digits < compact.size() && compact[digits] >= '0' && compact[digits] <= '9') ++digits;
        const std::string number = compact.substr(0, digits);
        // Some writers give the number as "1.0": a fraction of zeros only.
        size_t unitStart = digits;
        bool fraction = false;
        if (unitStart < compact.size() && compact[unitStart] == '.') {
            ++unitStart;
            while (unitStart < compact.size() && compact[unitStart] >= '0' && compact[unitStart] <= '9') {
                if (compact[unitStart] != '0') fraction = true;
                ++unitStart;
            }
        }
        const std::string unit = compact.substr(unitStart);
        static const std::pair<const char*, double> kUnits[] = {{"s", 1.0},   {"ms", 1e-3},  {"us", 1e-6},
                                                                {"ns", 1e-9}, {"ps", 1e-12}, {"fs", 1e-15}};
        double scale = 0;
        for (const auto& [name, seconds] : kUnits)
            if (unit == name) scale = seconds;
        // The standard allows 1, 10 and 100; writers that know their sample
        // period write others ("41667 ps"), which mean just as much.
        uint64_t multiple = 0;
        const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), multiple);
        if (fraction && scale != 0) {
            FailAt(at, "timescale '" + text + "' is not a whole number of " + unit +
                           "; expected 1, 10 or 100 (as in 1 ns or 100 ps), or another whole number");
        }
        // A unit without a number ("ps") or with 0 ("0ps") has no length of
        // its own; writers that do so mean one unit, and the note says so.
        if (scale != 0 && !fraction && (number.empty() || (error == std::errc() && multiple == 0))) {
            multiple = 1;
            timescaleNote_ = "timescale '" + text + "' gives no number of units; read as 1 " + unit;
        } else if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
                   multiple == 0 || scale == 0) {
            FailAt(at, "expected a timescale such as 1 ns (a number and s, ms, us, ns, ps or fs), found '" +
                           text + "'");
        }
        waveform_.secondsPerPosition = static_cast<double>(multiple) * scale;
        timescale_ = std::to_string(multiple) + " " + unit;
    }

    void ParseVariable() {
        const char* at = p_;
        const std::string_view type = Expect("a variable type");
        const std::string_view sizeText = Expect("a variable size");
        const std::string_view code = Expect("an identifier code");
        std::string_view reference = Expect("a variable name");
        if (reference == "$end") FailAt(at, "$var needs a type, a size, an identifier code and a name");
        std::string index;  // what follows the name: "[15:0]", "(7 downto 0)"
        for (;;) {
            const std::string_view token = Expect("$end closing $var");
            if (token == "$end") break;
            if (!index.empty()) index += ' ';
            index.append(token);
        }
        // Extended VCD ($dumpports) gives a port's size as its range.
        uint32_t width = 0;
        BitRange sizeRange;
        if (!sizeText.empty() && sizeText[0] == '[') {
            if (ParseRange(sizeText, sizeRange)) width = sizeRange.Width();
        } else {
            const auto [end, error] =
                std::from_chars(sizeText.data(), sizeText.data() + sizeText.size(), width);
            if (error != std::errc() || end != sizeText.data() + sizeText.size()) width = 0;
        }
        if (width == 0 || width > 4096)
            FailAt(at, "expected a variable size from 1 to 4096 (or a port's range such as [15:0]), found '" +
                           std::string(sizeText.substr(0, 40)) + "'");

        // A Verilog escaped identifier keeps its backslash in the file
        // (Icarus writes "\-CS0"); the name is what follows it.
        if (reference.size() > 1 && reference[0] == '\\') reference.remove_prefix(1);
        const std::vector<std::string> names = BitNames(reference, index, width, sizeRange);

        if (const int32_t original = identifiers_.Find(code); original >= 0) {
            // Another name for a signal already declared (a port seen from
            // a submodule): one signal, known by every name.
            ++aliases_;
            const Variable& variable = variables_[static_cast<size_t>(original)];
            if (variable.ignored || variable.width != width) return;
            const std::string path = ScopePath();
            for (uint32_t bit = 0; bit < width; ++bit)
                aliasNames_.push_back({variable.firstSignal + bit, {names[bit], path, scopes_.size()}});
            return;
        }
        Variable variable;
        variable.width = width;
        variable.firstSignal = static_cast<uint32_t>(waveform_.signals.size());
        variable.ignored = type == "real" || type == "realtime" || type == "string" || type == "event";
        identifiers_.Add(code, static_cast<int32_t>(variables_.size()));
        variables_.push_back(variable);
        if (variable.ignored) {
            ++ignoredVariables_;
            return;
        }
        const std::string path = ScopePath();
        for (uint32_t bit = 0; bit < width; ++bit) {
            Signal signal;
            signal.name = names[bit];
            waveform_.signals.push_back(std::move(signal));
            declaredAt_.push_back({names[bit], path, scopes_.size()});
        }
    }

    // An index range: [15:0], [3], (15 downto 0), (0 to 7), (2).
    struct BitRange {
        long msb = 0, lsb = 0;
        bool valid = false;
        uint32_t Width() const { return static_cast<uint32_t>(std::labs(msb - lsb)) + 1; }
    };
    static std::string_view Trim(std::string_view text) {
        while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
        while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
        return text;
    }
    static bool ParseRange(std::string_view text, BitRange& range) {
        text = Trim(text);
        if (text.size() < 3) return false;
        const bool square = text.front() == '[' && text.back() == ']';
        if (!square && !(text.front() == '(' && text.back() == ')')) return false;
        const std::string inner(Trim(text.substr(1, text.size() - 2)));
        std::string lower(inner);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        // Where the first number ends and the second begins.
        size_t split = std::string::npos, next = 0;
        if (const size_t colon = inner.find(':'); colon != std::string::npos) {
            split = colon;
            next = colon + 1;
        } else if (!square) {
            for (const char* word : {" downto ", " to "}) {
                if (const size_t found = lower.find(word); found != std::string::npos) {
                    split = found;
                    next = found + std::strlen(word);
                    break;
                }
            }
        }
        long first = 0, second = 0;
        if (!ParseLong(Trim(std::string_view(inner).substr(0, split)), first)) return false;
        if (split == std::string::npos) {
            second = first;
        } else if (!ParseLong(Trim(std::string_view(inner).substr(next)), second)) {
            return false;
        }
        range = {first, second, true};
        return true;
    }

    // Whether `text` ends in a range of `width` bits after a name.
    static bool EndsInRange(const std::string& text, uint32_t width, BitRange& range) {
        const size_t open = text.find_last_of("[(");
        return open != std::string::npos && open > 0 &&
               ParseRange(std::string_view(text).substr(open), range) && range.Width() == width;
    }

    // The names of a variable's bits, most significant first: "D" with
    // [15:0] (written after the name, or as part of it, or as the port's
    // size) gives D15 .. D0, "dd(3)" gives dd3; a one-bit variable without
    // an index keeps its name.
    static std::vector<std::string> BitNames(std::string_view reference, const std::string& index,
                                             uint32_t width, const BitRange& sizeRange) {
        std::string base(reference);
        BitRange range;
        BitRange own;  // a range at the end of the name itself
        const size_t open = base.find_last_of("[(");
        const bool ownRange =
            open != std::string::npos && open > 0 && ParseRange(std::string_view(base).substr(open), own);
        if (!index.empty() && ParseRange(index, range) && range.Width() == width) {
            // Icarus writes the escaped name "\D[15:0]" of a vector as
            // "\D[15:0] [15:0]": the name's own range says the same.
            if (ownRange && own.msb == range.msb && own.lsb == range.lsb) base.resize(open);
        } else if (const std::string full = index.empty() ? base : base + " " + index;
                   EndsInRange(full, width, range)) {
            // "D[15:0]", "dd(0)", "dd(15 downto 0)": the range ends the name.
            base = full.substr(0, full.find_last_of("[("));
        } else {
            range = {};
            // Keep an index we cannot use as part of the name.
            for (char c : index)
                if (!IsSpace(c)) base += c;
        }
        if (!range.valid && sizeRange.valid && sizeRange.Width() == width) range = sizeRange;
        while (!base.empty() && IsSpace(base.back())) base.pop_back();
        std::vector<std::string> names;
        names.reserve(width);
        if (width == 1 && !range.valid) {
            names.push_back(base);
            return names;
        }
        const long msb = range.valid ? range.msb : static_cast<long>(width) - 1;
        const long lsb = range.valid ? range.lsb : 0;
        for (uint32_t bit = 0; bit < width; ++bit) {
            const long number = msb >= lsb ? msb - static_cast<long>(bit) : msb + static_cast<long>(bit);
            names.push_back(base + std::to_string(number));
        }
        return names;
    }

    static bool ParseLong(std::string_view text, long& value) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return !text.empty() && error == std::errc() && end == text.data() + text.size();
    }

    std::string ScopePath() const {
        std::string path;
        for (const std::string& scope : scopes_) path += scope + ".";
        return path;
    }

    // Leaf names are what users and the role mapping know; where two
    // signals share one, both get their scope path. A signal declared in
    // several scopes is shown by its name in the one nearest the top (the
    // first such), and known by the others too.
    void NameSignals() {
        for (auto& [signal, alias] : aliasNames_) {
            DeclaredName& shown = declaredAt_[signal];
            if (alias.depth < shown.depth) std::swap(shown, alias);
        }
        std::unordered_map<std::string, int> uses;
        for (const DeclaredName& declared : declaredAt_) ++uses[declared.leaf];
        for (size_t i = 0; i < waveform_.signals.size(); ++i) {
            const DeclaredName& declared = declaredAt_[i];
            waveform_.signals[i].name =
                uses[declared.leaf] > 1 ? declared.path + declared.leaf : declared.leaf;
        }
        for (const auto& [aliased, alias] : aliasNames_) {
            const uint32_t signal = aliased;  // a lambda cannot capture a structured binding before clang 16
            if (alias.leaf == declaredAt_[signal].leaf) continue;
            std::string name = uses.count(alias.leaf) != 0 ? alias.path + alias.leaf : alias.leaf;
            const auto known = std::find_if(
                waveform_.aliases.begin(), waveform_.aliases.end(),
                [&](const auto& entry) { return entry.first == signal && entry.second == name; });
            if (known == waveform_.aliases.end()) waveform_.aliases.emplace_back(signal, std::move(name));
        }
        std::vector<DeclaredName>().swap(declaredAt_);
        std::vector<std::pair<uint32_t, DeclaredName>>().swap(aliasNames_);
    }

    // ---- value changes ----------------------------------------------------

    // Reads the changes; a long run of them in two halves, one on another
    // thread, whose reader is returned for BuildChanges to join (null when
    // one reader read them all).
    std::unique_ptr<VcdParser> ReadChanges() {
        PrepareChanges();
        // The first timestamp (and so what sets the starting levels) must be
        // known before a second reader can start.
        const char* const sampleStart = p_;
        stop_ = p_ + std::min(kFirstStretch, static_cast<size_t>(end_ - p_) / 8);
        ParseChanges();
        stop_ = end_;
        const auto sampled = static_cast<size_t>(p_ - sampleStart);
        std::vector<uint64_t> sampledChanges(changes_.size());
        for (size_t i = 0; i < changes_.size(); ++i) sampledChanges[i] = changes_[i].size();
        ReserveAhead(sampledChanges, sampled, Offset(p_), Offset(end_));
        uint64_t splitTime = 0;
        const char* split =
            static_cast<size_t>(end_ - p_) > options_.splitAbove ? FindSplit(splitTime) : nullptr;
        if (split == nullptr) {
            ParseChanges();
            return nullptr;
        }
        auto second = std::make_unique<VcdParser>(*this, split, splitTime);
        std::atomic<bool> abandon{false};
        std::exception_ptr secondError;
        second->abandon_ = &abandon;
        bool secondOverflow = false;
        partner_ = second.get();
        stop_ = split;
        // The second half's error is weighed below, once it is known where
        // the first half ended.
        RunTwoJobs([&] { ParseChanges(); },
                   [&] {
                       try {
                           second->ReserveAhead(sampledChanges, sampled, Offset(split), Offset(end_));
                           second->ParseChanges();
                       } catch (const StepOverflow&) {
                           secondOverflow = true;
                       } catch (...) {
                           secondError = std::current_exception();
                       }
                   },
                   [&] { abandon = true; });
        partner_ = nullptr;
        stop_ = end_;
        if (p_ != split || inDumpSection_ || dumpOff_) {
            // The middle fell inside a section, a value spread over lines or
            // a stretch without data: the second half was read from the
            // wrong place or without knowing it. Read on alone.
            ParseChanges();
            return nullptr;
        }
        AcceptTimestamp(split, splitTime);  // as one reader would have
        if (counting_ || second->counting_ || secondOverflow) {
            // Counted in steps: the step of the whole divides what one
            // reader counts in, so where the second half's last timestamp
            // does not fit 32 bits of it, one reader may have refused the
            // capture in that half (or before its error): read it again
            // alone to say where.
            const uint64_t step = secondOverflow
                                      ? 0
                                      : std::gcd(counting_ ? step_ : StoredStep(),
                                                 second->counting_ ? second->step_ : second->StoredStep());
            if (step == 0 ||
                (second->lastTime_ - options_.offset) / step > std::numeric_limits<uint32_t>::max()) {
                ParseChanges();
                return nullptr;
            }
            if (!secondError) {
                if (!counting_) StartCounting();
                if (!second->counting_) second->StartCounting();
                Rescale(step);
                second->Rescale(step);
            }
        }
        if (secondError) std::rethrow_exception(secondError);
        unknownValues_ += second->unknownValues_;
        undrivenValues_ += second->undrivenValues_;
        heldUnknowns_ += second->heldUnknowns_;
        gaps_.insert(gaps_.end(), second->gaps_.begin(), second->gaps_.end());
        dumpOff_ = second->dumpOff_;
        offStart_ = second->offStart_;
        lastTime_ = second->lastTime_;
        return second;
    }

    // The start of a line "#time" shortly after the middle of what is left,
    // whose time is past the first timestamp (and the offset), so that the
    // values after it are changes; null when there is none.
    const char* FindSplit(uint64_t& splitTime) const {
        const char* q = p_ + (end_ - p_) / 2;
        const char* const limit = std::min(end_, q + kSplitSearch);
        while (q < limit) {
            q = static_cast<const char*>(std::memchr(q, '\n', static_cast<size_t>(limit - q)));
            if (q == nullptr) return nullptr;
            ++q;
            if (q == end_ || *q != '#') continue;
            uint64_t time = 0;
            const char* r = PlainTimestamp(q, time);
            if (r == nullptr || r == end_) continue;
            if (!haveTime_ || time <= firstTime_ || time <= options_.offset) continue;
            splitTime = time;
            return q;
        }
        return nullptr;
    }

    // Moves every signal's changes into the waveform, joined with the
    // second half's; the joins are shared out between two threads when
    // there are many changes, as filling fresh memory is dear.
    void BuildChanges(VcdParser* second) {
        const size_t count = waveform_.signals.size();
        auto build = [&](size_t i) {
            std::vector<uint32_t>& changes = changes_[i];
            if (second != nullptr && second->levels_[i] != kUnknownLevel) {
                std::vector<uint32_t>& other = second->changes_[i];
                const unsigned assumed = second->levels_[i] ^ static_cast<unsigned>(other.size() & 1);
                JoinChanges(changes, other, assumed != levels_[i], second->firstPushed_[i]);
            }
            // Two spare entries: the capture's transition list puts one or
            // two leading zeros in front, in place.
            if (changes.capacity() < changes.size() + 2) Reserve(changes, 2);
            waveform_.signals[i].changes = std::move(changes);
        };
        uint64_t moved = 0;
        if (second != nullptr)
            for (size_t i = 0; i < count; ++i) moved += second->changes_[i].size();
        if (moved < kBuildInTwoAbove) {
            for (size_t i = 0; i < count; ++i) build(i);
            return;
        }
        // The worker takes signals from the end until it holds about half.
        size_t from = count;
        uint64_t taken = 0;
        while (from > 0 && taken < moved / 2) taken += second->changes_[--from].size();
        RunTwoJobs(
            [&] {
                for (size_t i = 0; i < from; ++i) build(i);
            },
            [&] {
                for (size_t i = from; i < count; ++i) build(i);
            });
    }

    // Reserves room for what is left of the file from `from` to `to`, for
    // each signal as many changes as it had per byte in the stretch of
    // `sampled` bytes read first (`sampledChanges`), and a margin: a
    // workload that keeps its pace fills its vectors without ever moving
    // them.
    void ReserveAhead(const std::vector<uint64_t>& sampledChanges, size_t sampled, size_t from, size_t to) {
        if (sampled == 0) return;
        const double scale = static_cast<double>(to - from) / static_cast<double>(sampled);
        for (size_t i = 0; i < changes_.size(); ++i) {
            const auto expected = static_cast<uint64_t>(static_cast<double>(sampledChanges[i]) * scale * 1.2);
            Reserve(changes_[i], expected + 64);
        }
    }

    // The position of an accepted timestamp.
    uint32_t Position(uint64_t time) const {
        return time <= options_.offset ? 0 : static_cast<uint32_t>((time - options_.offset) / step_);
    }

    // ---- the time step ----------------------------------------------------
    //
    // Positions are the file's units while they fit 32 bits. From the first
    // timestamp that does not, they count steps of step_ units: the largest
    // that every position stored until then and every timestamp from then
    // on is a multiple of; a timestamp off the step makes it smaller, and
    // what was stored is scaled to the new one. At the end the step becomes
    // the largest every change, gap and the end are a multiple of.

    // The position of a timestamp `relative` units after the offset.
    uint32_t Steps(const char* at, uint64_t relative) {
        if (!counting_) {
            if (relative <= std::numeric_limits<uint32_t>::max()) return static_cast<uint32_t>(relative);
            StartCounting();
        }
        if (step_ == 0 || relative % step_ != 0) {
            const uint64_t step = std::gcd(step_, relative);
            if (relative / step > std::numeric_limits<uint32_t>::max()) Overflow(at, relative, step);
            Rescale(step);
        }
        const uint64_t steps = relative / step_;
        if (steps > std::numeric_limits<uint32_t>::max()) Overflow(at, relative, step_);
        return static_cast<uint32_t>(steps);
    }

    [[noreturn]] void Overflow(const char* at, uint64_t relative, uint64_t step) const {
        if (abandon_ != nullptr) throw StepOverflow{};
        const uint64_t time = relative + options_.offset;
        const uint64_t reach =
            step > std::numeric_limits<uint64_t>::max() / std::numeric_limits<uint32_t>::max()
                ? std::numeric_limits<uint64_t>::max()
                : step * std::numeric_limits<uint32_t>::max();
        FailAt(
            at,
            "timestamp #" + std::to_string(time) +
                " lies beyond 32 bits of positions: the capture is longer than 2^32 of its steps (it spans " +
                std::to_string(relative) + " in steps of " + std::to_string(step) + ", timescale " +
                timescale_ + "); cut it with --offset (at least " +
                std::to_string(options_.offset + (relative - std::min(relative, reach))) + ")");
    }

    // The largest step the positions stored so far are a multiple of (0
    // when there are none but 0).
    uint64_t StoredStep() const {
        uint64_t step = 0;
        auto take = [&step](uint32_t position) { step = std::gcd(step, uint64_t{position}); };
        for (const std::vector<uint32_t>& changes : changes_) {
            for (uint32_t position : changes) {
                take(position);
                if (step == 1) return 1;
            }
        }
        for (uint32_t position : firstPushed_) take(position);
        for (const auto& [from, to] : gaps_) {
            take(from);
            take(to);
        }
        if (dumpOff_) take(offStart_);
        return step;
    }

    // From positions in the file's units to steps.
    void StartCounting() {
        counting_ = true;
        const uint64_t step = StoredStep();
        if (step > 1) {
            const auto divisor = static_cast<uint32_t>(step);
            for (std::vector<uint32_t>& changes : changes_)
                for (uint32_t& position : changes) position /= divisor;
            for (uint32_t& position : firstPushed_) position /= divisor;
            for (auto& [from, to] : gaps_) {
                from /= divisor;
                to /= divisor;
            }
            offStart_ = dumpOff_ ? offStart_ / divisor : 0;
        }
        position_ = 0;  // the timestamp's own comes next
        step_ = 0;      // nothing is known yet when nothing was stored
        SetStep(step);
    }

    // Counts what was stored in steps of `step` (which divides step_).
    void Rescale(uint64_t step) {
        if (step_ == step) return;
        if (step_ != 0) {
            const auto factor =
                static_cast<uint32_t>(step_ / step);  // stored positions stay below 2^32 steps
            for (std::vector<uint32_t>& changes : changes_)
                for (uint32_t& position : changes) position *= factor;
            for (uint32_t& position : firstPushed_) position *= factor;
            for (auto& [from, to] : gaps_) {
                from *= factor;
                to *= factor;
            }
            position_ *= factor;
            offStart_ *= factor;
        }
        SetStep(step);
    }

    void SetStep(uint64_t step) {
        step_ = step;
        if (step == 0) {
            stepMask_ = std::numeric_limits<uint64_t>::max();  // every timestamp takes the checked path
            return;
        }
        // The common lines' exact division: by the power of two with a
        // shift, by the odd part with its inverse modulo 2^64 (a multiple of
        // it times the inverse is the quotient; anything else comes out
        // above UINT64_MAX / odd).
        stepShift_ = static_cast<unsigned>(std::countr_zero(step));
        stepMask_ = (uint64_t{1} << stepShift_) - 1;
        const uint64_t odd = step >> stepShift_;
        uint64_t inverse = odd;  // right to 3 bits; each step doubles them
        for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
        stepInverse_ = inverse;
        stepLimit_ = std::min<uint64_t>(std::numeric_limits<uint32_t>::max(),
                                        std::numeric_limits<uint64_t>::max() / odd);
    }

    // A capture counted in steps: the largest step every change, gap and
    // the end are a multiple of, which the sample period takes on. Both
    // readings of a file, in one pass or in two halves, end at the same.
    void FinishSteps() {
        if (!counting_) return;
        uint64_t more = waveform_.endPosition;
        for (const Signal& signal : waveform_.signals) {
            for (uint32_t position : signal.changes) {
                more = std::gcd(more, uint64_t{position});
                if (more == 1) break;
            }
            if (more == 1) break;
        }
        for (const auto& [from, to] : gaps_) more = std::gcd(more, std::gcd(uint64_t{from}, uint64_t{to}));
        if (more > 1) {
            const auto divisor = static_cast<uint32_t>(more);
            for (Signal& signal : waveform_.signals)
                for (uint32_t& position : signal.changes) position /= divisor;
            for (auto& [from, to] : gaps_) {
                from /= divisor;
                to /= divisor;
            }
            waveform_.endPosition /= divisor;
            step_ *= more;
        }
        if (step_ == 0) step_ = 1;
        waveform_.timeStep = step_;
        waveform_.secondsPerPosition *= static_cast<double>(step_);
    }

    // The lines nearly every change is written as, "#1234" and "1!" (a
    // one-bit variable with a one-character code), each followed by one
    // white-space character: consumed here in a tight loop up to `stop`,
    // until a line of another kind, which the general path then reads.
    void ScanCommonLines(const char* stop) {
        constexpr ptrdiff_t kLongestLine = 24;  // "#" and 19 digits and more: read freely before `limit`
        if (end_ - p_ <= kLongestLine) return;
        const char* const limit = std::min(stop, end_ - kLongestLine);
        const char* p = p_;
        while (p < limit) {
            const char c = *p;
            if (static_cast<unsigned char>(c - '0') < 2 && IsSpace(p[2])) {
                const int32_t signal = scalarSignal_[static_cast<unsigned char>(p[1])];
                if (signal < 0) break;
                SetLevel(static_cast<uint32_t>(signal), static_cast<uint8_t>(c - '0'));
                p += 3;
            } else if (c == '#') {
                uint64_t time = 0;
                const int digits = ReadDigits(p + 1, time);
                const char* q = p + 1 + digits;
                if (digits == 0 || digits > 16 || !IsSpace(*q)) break;
                const uint64_t relative = time - options_.offset;
                const uint64_t steps = (relative >> stepShift_) * stepInverse_;
                if (time >= lastTime_ && time > plainAfter_ && (relative & stepMask_) == 0 &&
                    steps <= stepLimit_) {
                    // Later than the first timestamp and the offset, on the
                    // step and within 32 bits of it: what AcceptTimestamp
                    // does for it.
                    lastTime_ = time;
                    startingLevels_ = false;
                    position_ = static_cast<uint32_t>(steps);
                } else {
                    AcceptTimestamp(p, time);
                }
                p = q + 1;
            } else {
                break;
            }
        }
        p_ = p;
    }

    void PrepareChanges() {
        // One-bit variables by their one-character code, for ScanCommonLines.
        scalarSignal_.fill(-1);
        for (int c = '!'; c <= '~'; ++c) {
            const int32_t index = identifiers_.FindOne(static_cast<char>(c));
            if (index < 0) continue;
            const Variable& variable = variables_[static_cast<size_t>(index)];
            if (variable.width == 1 && !variable.ignored)
                scalarSignal_[static_cast<size_t>(c)] = static_cast<int32_t>(variable.firstSignal);
        }
    }

    size_t Offset(const char* at) const { return static_cast<size_t>(at - begin_); }

    // Called every kProgressStep bytes: reports progress (the first reader
    // for both), releases the file behind and maps it ahead.
    void Step(size_t offset) {
        done_.store(offset, std::memory_order_relaxed);
        if (options_.progress && abandon_ == nullptr) {
            uint64_t done = offset;
            if (partner_ != nullptr)
                done += partner_->done_.load(std::memory_order_relaxed) - partner_->origin_;
            options_.progress(done, static_cast<uint64_t>(end_ - begin_));
        }
        if (file_ == nullptr) return;
        if (offset >= released_ + kReleaseStep) {
            file_->Release(released_, offset);
            released_ = offset;
        }
        if (offset + kReadAheadWindow / 2 >= readAhead_ && readAhead_ < Offset(stop_)) {
            const size_t from = std::max(readAhead_, offset);
            readAhead_ = std::min(Offset(stop_), from + kReadAheadWindow);
            file_->ReadAhead(from, readAhead_);
        }
    }

    // Reads changes up to the first line that starts at or after stop_;
    // at the end of the text, a section left open is an error.
    void ParseChanges() {
        released_ = readAhead_ = Offset(p_);
        size_t nextProgress = Offset(p_);
        for (;;) {
            SkipSpace();
            if (p_ >= stop_) break;
            if (Offset(p_) >= nextProgress) {
                if (abandon_ != nullptr && abandon_->load(std::memory_order_relaxed)) return;
                Step(Offset(p_));
                nextProgress = Offset(p_) + kProgressStep;
            }
            ScanCommonLines(begin_ + std::min(nextProgress, Offset(stop_)));
            if (p_ >= stop_) break;
            if (IsSpace(*p_)) continue;
            const char c = *p_;
            // The common lines first: "1!" (a one-bit value, a one-character
            // code) and "#1234".
            if ((c == '0' || c == '1') && end_ - p_ > 2 && IsSpace(p_[2])) {
                const int32_t index = identifiers_.FindOne(p_[1]);
                if (index >= 0) {
                    const Variable& variable = variables_[static_cast<size_t>(index)];
                    if (variable.width == 1 && !variable.ignored) {
                        SetLevel(variable.firstSignal, static_cast<uint8_t>(c - '0'));
                        p_ += 3;
                        continue;
                    }
                }
            }
            switch (c) {
                case '#':
                    ParseTimestamp();
                    break;
                case '0':
                case '1':
                case 'x':
                case 'X':
                case 'z':
                case 'Z': {
                    const char* at = p_++;
                    const std::string_view code = Token();
                    if (code.empty())
                        FailAt(at, "expected an identifier code after the value '" + std::string(1, c) + "'");
                    ApplyScalar(at, c, code);
                    break;
                }
                case 'b':
                case 'B': {
                    const char* at = p_++;
                    const std::string_view bits = Token();
                    const std::string_view code = Token();
                    if (bits.empty() || code.empty())
                        FailAt(at, "expected a binary value and an identifier code after 'b'");
                    ApplyVector(at, bits, code);
                    break;
                }
                case 'r':
                case 'R':
                case 's':
                case 'S': {
                    const char* at = p_++;
                    Token();
                    const std::string_view code = Token();
                    if (code.empty()) FailAt(at, "expected an identifier code after the value");
                    Lookup(at, code);  // real and string values are not kept, but the code must exist
                    break;
                }
                case '$': {
                    const char* at = p_;
                    const std::string_view keyword = Token();
                    if (keyword == "$dumpoff" || keyword == "$dumpportsoff") {
                        // The x values it lists say only that nothing is known
                        // until $dumpon: the lines keep their levels meanwhile.
                        SkipToEnd(keyword);
                        if (!dumpOff_) {
                            dumpOff_ = true;
                            offStart_ = position_;
                        }
                    } else if (keyword == "$dumpvars" || keyword == "$dumpall" || keyword == "$dumpon" ||
                               keyword == "$dumpports" || keyword == "$dumpportsall" ||
                               keyword == "$dumpportson") {
                        if (dumpOff_ && (keyword == "$dumpon" || keyword == "$dumpportson")) {
                            gaps_.emplace_back(offStart_, position_);
                            dumpOff_ = false;
                        }
                        inDumpSection_ = true;
                        dumpStart_ = at;
                    } else if (keyword == "$end") {
                        if (!inDumpSection_) FailAt(at, "$end without an open section");
                        inDumpSection_ = false;
                    } else if (keyword == "$vcdclose") {
                        // Extended VCD's last section: the time the dump ended.
                        const std::string text = UntilEnd(keyword);
                        uint64_t time = 0;
                        if (text.size() > 1 && text[0] == '#') {
                            const auto [end, error] =
                                std::from_chars(text.data() + 1, text.data() + text.size(), time);
                            if (error == std::errc() && end == text.data() + text.size() &&
                                (!haveTime_ || time >= lastTime_))
                                AcceptTimestamp(at, time);
                        }
                    } else {
                        SkipToEnd(keyword);  // $comment and writers' own sections
                    }
                    break;
                }
                case 'p': {
                    // Extended VCD: "pD 6 0 <3", a port's states and strengths.
                    const char* at = p_++;
                    const std::string_view states = Token();
                    const std::string_view strength0 = Token();
                    const std::string_view strength1 = Token();
                    const std::string_view code = Token();
                    if (code.empty() || !IsStrength(strength0) || !IsStrength(strength1))
                        FailAt(
                            at,
                            "expected a port state, two strengths (0 to 7) and an identifier code after 'p'");
                    ApplyPort(at, states, code);
                    break;
                }
                default:
                    Fail("expected a timestamp (#) or a value change (0, 1, x, z, b, r, p), found '" +
                         std::string(Token().substr(0, 40)) + "'");
            }
        }
        done_.store(Offset(p_), std::memory_order_relaxed);
        if (p_ == end_ && inDumpSection_)
            FailAt(dumpStart_, "unexpected end of file; this section has no $end (truncated file?)");
    }

    // A timestamp "#1234" at `at` of up to 18 digits (which cannot overflow
    // 64 bits) ended by white space or the end of the text: its time, and
    // the end of its digits; null for anything else (more digits, a stray
    // character), which the checked path reads.
    const char* PlainTimestamp(const char* at, uint64_t& time) const {
        const char* q = at + 1;
        time = 0;
        while (q != end_ && static_cast<unsigned char>(*q - '0') < 10 && q - at <= 19) {
            time = time * 10 + static_cast<unsigned>(*q - '0');
            ++q;
        }
        return q != at + 1 && q - at <= 19 && (q == end_ || IsSpace(*q)) ? q : nullptr;
    }

    void ParseTimestamp() {
        const char* at = p_;
        uint64_t fast = 0;
        if (const char* q = PlainTimestamp(at, fast)) {
            p_ = q;
            AcceptTimestamp(at, fast);
            return;
        }
        ++p_;
        const std::string_view digits = Token();
        uint64_t time = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), time);
        if (digits.empty() || error == std::errc::result_out_of_range) {
            if (!digits.empty() &&
                std::all_of(digits.begin(), digits.end(), [](char d) { return d >= '0' && d <= '9'; }))
                FailAt(at, "timestamp #" + std::string(digits) + " is too large");
            FailAt(at, "expected a timestamp after '#'");
        }
        if (error != std::errc() || end != digits.data() + digits.size())
            FailAt(at, "expected a timestamp after '#', found '#" + std::string(digits.substr(0, 40)) + "'");
        AcceptTimestamp(at, time);
    }

    void AcceptTimestamp(const char* at, uint64_t time) {
        if (haveTime_ && time < lastTime_)
            FailAt(at,
                   "timestamp #" + std::to_string(time) + " goes back from #" + std::to_string(lastTime_));
        const uint32_t position = time <= options_.offset ? 0 : Steps(at, time - options_.offset);
        if (!haveTime_) {
            haveTime_ = true;
            firstTime_ = time;
            plainAfter_ = std::max(firstTime_, options_.offset);
        }
        lastTime_ = time;
        // Values given at the first timestamp, or before the offset, are
        // where the signals start; only later ones are changes.
        startingLevels_ = time == firstTime_ || time <= options_.offset;
        position_ = position;
    }

    const Variable* Lookup(const char* at, std::string_view code) {
        const int32_t index = identifiers_.Find(code);
        if (index < 0)
            FailAt(at, "unknown identifier code '" + std::string(code.substr(0, 40)) +
                           "' (not declared by a $var)");
        const Variable& variable = variables_[static_cast<size_t>(index)];
        return variable.ignored ? nullptr : &variable;
    }

#if defined(__GNUC__)
    [[gnu::always_inline]]
#endif
    void
    SetLevel(uint32_t signalIndex, uint8_t level) {
        if (startingLevels_) {
            levels_[signalIndex] = level;
            waveform_.signals[signalIndex].initialLevel = level;
            return;
        }
        const uint8_t previous = levels_[signalIndex];
        if (previous == level) return;
        levels_[signalIndex] = level;
        if (previous == kUnknownLevel) [[unlikely]]
            firstPushed_[signalIndex] = position_;
        std::vector<uint32_t>& changes = changes_[signalIndex];
        // Two changes at one timestamp leave the level where it was.
        if (!changes.empty() && changes.back() == position_) {
            changes.pop_back();
        } else {
            changes.push_back(position_);
        }
    }

    // 0 or 1; kKeepLevel for a line nobody drives; kNotALevel for a
    // character that is no value at all.
    uint8_t BitLevel(char c) {
        switch (c) {
            case '0':
            case 'l':
            case 'L':
                return 0;
            case '1':
            case 'h':
            case 'H':
                return 1;
            case 'z':
            case 'Z':
                // A released line holds its charge, and a .sr or CSV capture of
                // the same bus shows its last level: reading it as 0 would make
                // the data appear to change at every release.
                ++undrivenValues_;
                return kKeepLevel;
            case 'x':
            case 'X':
            case 'u':
            case 'U':
            case 'w':
            case 'W':
            case '-':
                // Nine-valued logic from VHDL writers: the weak levels keep
                // their level (above), the unknown ones read as 0.
                ++unknownValues_;
                return 0;
            default:
                return kNotALevel;
        }
    }

    void ApplyScalar(const char* at, char value, std::string_view code) {
        const Variable* variable = Lookup(at, code);
        if (variable == nullptr) return;
        const uint8_t level = BitLevel(value);
        // A one-character value given to a vector sets its low bit; the
        // rest read as 0, or are left undriven by a z.
        const uint32_t last = variable->firstSignal + variable->width - 1;
        if (level == kKeepLevel) {
            undrivenValues_ += variable->width - 1;
            return;
        }
        for (uint32_t s = variable->firstSignal; s < last; ++s) SetLevel(s, 0);
        SetLevel(last, level);
    }

    void ApplyVector(const char* at, std::string_view bits, std::string_view code) {
        const Variable* variable = Lookup(at, code);
        if (variable == nullptr) return;
        const uint32_t width = variable->width;
        if (bits.size() > width) bits = bits.substr(bits.size() - width);  // keep the low bits
        const uint32_t pad = width - static_cast<uint32_t>(bits.size());
        // A short value is extended with 0, or with its x or z.
        const char lead = bits[0];
        const char extension = (lead == 'x' || lead == 'X' || lead == 'z' || lead == 'Z') ? lead : '0';
        const uint32_t first = variable->firstSignal;
        for (uint32_t bit = 0; bit < width; ++bit) {
            const char c = bit < pad ? extension : bits[bit - pad];
            uint8_t level = static_cast<uint8_t>(c - '0');
            if (level > 1) {
                level = BitLevel(c);
                if (level == kNotALevel)
                    FailAt(at, "expected binary digits (0, 1, x, z) after 'b', found 'b" +
                                   std::string(bits.substr(0, 40)) + "'");
                if (level == kKeepLevel) continue;
            }
            // Most bits of a bus keep their level from one value to the next.
            if (levels_[first + bit] == level && !startingLevels_) continue;
            SetLevel(first + bit, level);
        }
    }

    static bool IsStrength(std::string_view text) {
        return text.size() == 1 && text[0] >= '0' && text[0] <= '7';
    }

    // The level of an extended VCD port state: driven low or high, from
    // either side or both, is the line's level; three-state and unknown
    // states keep the last level (kKeepLevel), each counted.
    uint8_t PortLevel(char c) {
        switch (c) {
            case '0':
            case 'D':
            case 'd':
            case 'L':
            case 'l':
                return 0;
            case '1':
            case 'U':
            case 'u':
            case 'H':
            case 'h':
                return 1;
            case 'Z':
            case 'T':
            case 'F':
            case 'f':
                ++undrivenValues_;
                return kKeepLevel;
            case 'N':
            case 'X':
            case '?':
            case 'A':
            case 'a':
            case 'B':
            case 'b':
            case 'C':
            case 'c':
                ++heldUnknowns_;
                return kKeepLevel;
            default:
                return kNotALevel;
        }
    }

    void ApplyPort(const char* at, std::string_view states, std::string_view code) {
        const Variable* variable = Lookup(at, code);
        if (variable == nullptr) return;
        const uint32_t width = variable->width;
        if (states.size() > width) states = states.substr(states.size() - width);
        const uint32_t pad = width - static_cast<uint32_t>(states.size());
        for (uint32_t bit = 0; bit < width; ++bit) {
            // A short state is extended with its first state.
            const char c = bit < pad ? states[0] : states[bit - pad];
            const uint8_t level = PortLevel(c);
            if (level == kNotALevel) {
                FailAt(at,
                       "expected port states (0 1 D U L H d u l h, or Z T F f N X ? A a B b C c) after 'p', "
                       "found 'p" +
                           std::string(states.substr(0, 40)) + "'");
            }
            if (level == kKeepLevel) continue;
            if (levels_[variable->firstSignal + bit] == level && !startingLevels_) continue;
            SetLevel(variable->firstSignal + bit, level);
        }
    }

    static constexpr uint8_t kUnknownLevel = 2;  // the second half, before a signal's first value
    static constexpr uint8_t kKeepLevel = 3;     // see BitLevel
    static constexpr uint8_t kNotALevel = 4;
    static constexpr size_t kFirstStretch = size_t{1} << 20;
    static constexpr size_t kSplitSearch = size_t{4} << 20;
    static constexpr uint64_t kBuildInTwoAbove = uint64_t{1} << 22;
    static constexpr size_t kReleaseStep = size_t{64} << 20;
    static constexpr size_t kReadAheadWindow = size_t{32} << 20;

    const char* begin_;
    const char* p_;
    const char* end_;
    const char* stop_ = end_;  // ParseChanges stops at the first line from here
    const std::string& name_;
    const CaptureReadOptions& options_;
    MappedFile* file_;

    Waveform waveform_;
    std::vector<Variable> variables_;
    IdentifierTable identifiers_;
    std::vector<std::string> scopes_;
    // Per signal, while the header is read: its name, scope path and depth.
    struct DeclaredName {
        std::string leaf;
        std::string path;
        size_t depth = 0;
    };
    std::vector<DeclaredName> declaredAt_;
    std::vector<std::pair<uint32_t, DeclaredName>> aliasNames_;  // further names, by signal
    std::vector<uint8_t> levels_;                                // per signal, the current level
    std::vector<std::vector<uint32_t>> changes_;                 // per signal, while the changes are read
    std::vector<uint32_t> firstPushed_;        // second half: per signal, the position of its first value
    std::array<int32_t, 256> scalarSignal_{};  // see ScanCommonLines

    bool haveTime_ = false;
    bool startingLevels_ = true;  // before the first timestamp, values set starting levels
    uint64_t firstTime_ = 0;
    uint64_t lastTime_ = 0;
    // Timestamps above plainAfter_ on the step need no checks but going
    // back and 32 bits (see ScanCommonLines).
    uint64_t plainAfter_ = std::numeric_limits<uint64_t>::max();
    // The step positions count (see Steps; 0 while counting has begun with
    // nothing to go by) and its exact division for the common lines.
    bool counting_ = false;  // positions count steps, not the file's units
    uint64_t step_ = 1;
    unsigned stepShift_ = 0;
    uint64_t stepMask_ = 0;
    uint64_t stepInverse_ = 1;
    uint64_t stepLimit_ = std::numeric_limits<uint32_t>::max();
    std::string timescale_ = "not given";
    uint32_t position_ = 0;
    uint64_t unknownValues_ = 0;
    uint64_t undrivenValues_ = 0;
    uint32_t ignoredVariables_ = 0;
    uint32_t aliases_ = 0;
    uint64_t heldUnknowns_ = 0;
    bool inDumpSection_ = false;
    bool dumpOff_ = false;   // after a $dumpoff, until $dumpon
    uint32_t offStart_ = 0;  // where it began
    std::vector<std::pair<uint32_t, uint32_t>> gaps_;
    const char* dumpStart_ = nullptr;

    // Reading in two halves.
    size_t origin_ = 0;                     // where the second reader starts
    std::atomic<size_t> done_{0};           // offset reached, for the progress
    const VcdParser* partner_ = nullptr;    // the first reader's view of the second
    std::atomic<bool>* abandon_ = nullptr;  // the second reader: set when the first failed
    size_t released_ = 0;                   // file released up to here
    size_t readAhead_ = 0;                  // file mapped ahead up to here
};

}  // namespace

Waveform ReadVcdText(std::string_view text, const std::string& name, const CaptureReadOptions& options,
                     CaptureReadNotes* notes) {
    return VcdParser(text, name, options, nullptr).Parse(notes);
}

Waveform ReadVcd(const std::string& path, const CaptureReadOptions& options, CaptureReadNotes* notes) {
    MappedFile file(path);
    Waveform waveform = VcdParser(file.bytes(), path, options, &file).Parse(notes);
    if (options.progress) options.progress(file.bytes().size(), file.bytes().size());
    return waveform;
}

}  // namespace fd::host
