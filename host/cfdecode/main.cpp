// cfdecode: the reference host. Loads the flashdecode plug-in as a logic
// analyzer host does, reads a capture file, hands it to the plug-in and
// prints or exports the records it decodes. Data goes to stdout, every
// diagnostic to stderr; bad input ends with one line and exit status 2.
#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>

#include "host/analysis/timing_check.h"
#include "host/analysis/udma_crc.h"
#include "host/cfdecode/plugin_host.h"
#include "host/cfdecode/record_output.h"
#include "host/cfdecode/signal_map.h"
#include "host/cfdecode/strobe_checks.h"
#include "host/cfdecode/timing_output.h"
#include "host/cfdecode/transaction_output.h"
#include "host/formats/capture_input.h"
#include "host/formats/capture_reader.h"
#include "host/formats/samplerate.h"
#if defined(FD_HAVE_TIMELINE_PAGE)
#include "host/html/timeline_page.h"
#endif
#include "host/model/capture_image.h"
#include "host/model/two_jobs.h"
#include "host/pipeline/windowed_decode.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

using namespace fd::host;

constexpr int kBadInput = 2;
constexpr int kFailure = 1;

// A refusal of the user's input: printed as one line, exit status 2.
struct BadInput {
    std::string message;
};

// A position in the file's units: up to 64 bits, as a capture counted in
// steps reaches beyond 2^32 of them.
bool ParsePosition(const std::string& text, uint64_t& value) {
    if (text.empty()) return false;
    size_t used = 0;
    unsigned long long parsed = 0;
    try {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        if (!std::isdigit(static_cast<unsigned char>(text[hex ? 2 : 0]))) return false;
        parsed = std::stoull(text, &used, hex ? 16 : 10);
    } catch (const std::exception&) {
        return false;
    }
    if (used != text.size()) return false;
    value = parsed;
    return true;
}

// "5 ns", "1 fs": a time for the notes.
std::string TimeText(double seconds) {
    static const std::pair<double, const char*> kUnits[] = {
        {1, "s"}, {1e-3, "ms"}, {1e-6, "us"}, {1e-9, "ns"}, {1e-12, "ps"}};
    for (const auto& [scale, unit] : kUnits)
        if (seconds >= scale * 0.9999995) return fmt::format("{:.6g} {}", seconds / scale, unit);
    return fmt::format("{:.6g} fs", seconds * 1e15);
}

// The decode window as typed, in the file's units.
struct WindowTimes {
    bool hasStart = false;
    uint64_t start = 0;
    bool hasRange = false;
    uint64_t rangeStart = 0;
    uint64_t rangeEnd = 0;
};

// The window in positions of `step` file units. Times between two steps:
// a start moves to the next step and an end to the one before, so that the
// window holds exactly the positions between the times typed (every change
// of the capture lies on a step).
void ToPositions(const WindowTimes& times, uint64_t step, const std::string& rangeText,
                 const std::string& startText, DecodeWindow& window) {
    constexpr uint64_t kMax = 0xFFFFFFFFull;
    const std::string reach =
        step == 1 ? "0 to 4294967295"
        : step > std::numeric_limits<uint64_t>::max() / kMax
            ? "2^32 steps of " + std::to_string(step)
            : "0 to " + std::to_string(kMax * step) + " (2^32 steps of " + std::to_string(step) + ")";
    auto up = [step](uint64_t time) { return time / step + (time % step != 0 ? 1 : 0); };
    if (times.hasRange) {
        if (times.rangeEnd / step > kMax)
            throw BadInput{"--range " + rangeText + ": expected START:END, two positions from " + reach};
        window.hasRange = true;
        window.rangeStart = static_cast<uint32_t>(up(times.rangeStart));
        window.rangeEnd = static_cast<uint32_t>(times.rangeEnd / step);
        if (window.rangeStart > window.rangeEnd) {
            throw BadInput{"--range " + rangeText +
                           ": holds no position of the capture, whose times are multiples of " +
                           std::to_string(step)};
        }
    }
    if (times.hasStart) {
        if (up(times.start) > kMax)
            throw BadInput{"--start " + startText + ": expected a position from " + reach};
        window.hasStart = true;
        window.start = static_cast<uint32_t>(up(times.start));
    }
}

std::array<uint8_t, FD_SETTINGS_SIZE> ReadSettingsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BadInput{path + ": cannot open the settings file"};
    std::array<uint8_t, FD_SETTINGS_SIZE> record{};
    in.read(reinterpret_cast<char*>(record.data()), record.size());
    const auto got = in.gcount();
    in.peek();
    if (got != FD_SETTINGS_SIZE || !in.eof()) {
        throw BadInput{
            path + ": expected a decoder settings record of 440 bytes" +
            (got < FD_SETTINGS_SIZE ? ", found " + std::to_string(got) + " bytes" : ", the file is longer") +
            " (--reset-settings starts from the defaults)"};
    }
    return record;
}

void WriteSettingsFile(const std::string& path, const std::array<uint8_t, FD_SETTINGS_SIZE>& record) {
    // Written beside the target and renamed over it, so an interrupted run
    // never leaves half a record.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(record.data()), record.size());
        if (!out) throw std::runtime_error(path + ": cannot write the settings file");
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        throw std::runtime_error(path + ": cannot write the settings file");
    }
}

// A bar on stderr, shown only when reading takes more than a second and
// stderr is a terminal.
class ProgressBar {
public:
    ProgressBar(std::string label, bool enabled) : label_(std::move(label)), enabled_(enabled) {}
    ~ProgressBar() { Finish(); }
    void Update(uint64_t done, uint64_t total) {
        if (!enabled_ || total == 0) return;
        const auto elapsed = std::chrono::steady_clock::now() - started_;
        if (elapsed < std::chrono::seconds(1)) return;
        const int percent = static_cast<int>(done * 100 / total);
        if (percent == lastPercent_) return;
        lastPercent_ = percent;
        const int filled = percent * 30 / 100;
        std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(),
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(30 - filled), ' ').c_str(), percent);
        std::fflush(stderr);
        shown_ = true;
    }
    void Finish() {
        if (shown_) std::fprintf(stderr, "\r\x1b[K");
        shown_ = false;
    }

private:
    std::string label_;
    bool enabled_;
    bool shown_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

// --stats: how long each step took, on stderr when the run ends.
class StepClock {
public:
    explicit StepClock(bool on) : on_(on) {}
    void Mark(const char* step) {
        if (!on_) return;
        const auto now = std::chrono::steady_clock::now();
        steps_.emplace_back(step, std::chrono::duration<double>(now - last_).count());
        last_ = now;
    }
    void Print(uint64_t changes, size_t records) const {
        if (!on_) return;
        double total = 0;
        for (const auto& [step, seconds] : steps_) {
            std::fprintf(stderr, "cfdecode: %-10s %8.3f s\n", step, seconds);
            total += seconds;
        }
        std::fprintf(stderr, "cfdecode: %-10s %8.3f s (%llu value changes, %zu records)\n", "total", total,
                     static_cast<unsigned long long>(changes), records);
    }

private:
    bool on_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
    std::vector<std::pair<const char*, double>> steps_;
};

struct Options {
    std::string capture;
    std::string plugin;
    std::string settings;
    bool resetSettings = false;
    std::vector<std::string> maps;
    bool bindByPosition = false;
    std::string format = "text";
    std::string colour = "auto";
    bool all = false;
    std::string range;
    std::string start;
    std::string language = "en";
    uint64_t offset = 0;
    std::string samplerate;
    std::string csvColumns;
    bool quiet = false;
    bool stats = false;
    // Timing and the timeline page.
    std::string html;
    bool timing = false;
    std::vector<std::string> modes;
    std::string view = "records";
    std::vector<std::string> commands;
    std::string lba;
    bool errors = false;
    std::string dump;
    bool hex = false;
};

// The page being written: removed again unless it was written whole.
struct PageFile {
    std::string path;
    std::ofstream out;
    bool complete = false;
    ~PageFile() {
        if (complete) return;
        out.close();
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

// The timing checks and the timeline page: what the user asked for, checked
// before anything is read.
struct TimingRequest {
    analysis::TimingOptions options;
    double secondsPerPosition = 0;  // from --samplerate; 0 keeps the capture's
    std::unique_ptr<PageFile> html;
};

TimingRequest CheckTimingOptions(const Options& options, uint64_t samplerate) {
    TimingRequest request;
    for (const std::string& text : options.modes) {
        const auto mode = analysis::ParseMode(text);
        if (!mode)
            throw BadInput{"--mode " + text + ": expected pio0 to pio6, mdma0 to mdma4 or udma0 to udma6"};
        auto& slot = mode->family == analysis::ModeFamily::Pio     ? request.options.pio
                     : mode->family == analysis::ModeFamily::Mwdma ? request.options.mwdma
                                                                   : request.options.udma;
        if (slot && !(*slot == *mode))
            throw BadInput{"--mode " + text + ": " + analysis::ModeName(*slot) +
                           " was given for that family already"};
        slot = mode;
    }
    if (samplerate != 0) request.secondsPerPosition = 1 / static_cast<double>(samplerate);
    if (!options.html.empty()) {
#if !defined(FD_HAVE_TIMELINE_PAGE)
        throw BadInput{
            "--html: this cfdecode was built without the timeline page (Node.js or the page's npm "
            "packages were missing when it was configured: run scripts/install-deps and configure "
            "again)"};
#endif
        if (std::filesystem::is_directory(options.html))
            throw BadInput{"--html " + options.html + ": is a folder; give the page's file name"};
        request.html = std::make_unique<PageFile>();
        request.html->out.open(options.html, std::ios::binary | std::ios::trunc);
        if (!request.html->out) {
            request.html->complete = true;  // nothing of ours to remove
            throw BadInput{"--html " + options.html + ": cannot create the file"};
        }
        request.html->path = options.html;
    }
    return request;
}

// The 26 bus roles as the plug-in is given them (the roles come first in
// the capture's channels): the timing checks read their changes in place.
analysis::BusSignals BusLines(const std::vector<CaptureChannel>& channels) {
    analysis::BusSignals lines{};
    for (size_t role = 0; role < lines.size() && role < channels.size(); ++role)
        lines[role] = &channels[role].signal;
    return lines;
}

// The bus roles named for the page, their changes taken from the channels
// once the checks are done.
Waveform BusWaveform(std::vector<CaptureChannel>& channels, const Waveform& waveform) {
    Waveform bus;
    bus.endPosition = waveform.endPosition;
    bus.secondsPerPosition = waveform.secondsPerPosition;
    for (int role = 0; role < fd::kBusRoleCount && role < static_cast<int>(channels.size()); ++role) {
        Signal& signal = channels[static_cast<size_t>(role)].signal;
        bus.signals.push_back({RoleName(role), signal.initialLevel, std::move(signal.changes)});
    }
    return bus;
}

// The largest step every change of the bus is a multiple of: 1 for a
// capture counted in samples. Asked of every change of a long capture, so
// divisibility by the step found so far is one multiplication (a number
// divides by 2^k * m, m odd, when its low k bits are 0 and the rest times
// m's inverse modulo 2^32 stays within 2^32 / m); gcd only when it fails.
uint32_t TimeStep(const analysis::BusSignals& bus) {
    uint32_t step = 0, shift = 0, inverse = 1, limit = 0xFFFFFFFFu;
    auto divides = [&](uint32_t value) {
        return (value & ((1u << shift) - 1)) == 0 && (value >> shift) * inverse <= limit;
    };
    for (const Signal* signal : bus) {
        if (!signal) continue;
        for (uint32_t position : signal->changes) {
            if (step != 0 && divides(position)) continue;
            step = std::gcd(step, position);
            if (step == 1) return 1;
            if (step == 0) continue;
            shift = static_cast<uint32_t>(std::countr_zero(step));
            const uint32_t odd = step >> shift;
            inverse = odd;  // Newton's iteration: each step doubles the bits that are right
            for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
            limit = 0xFFFFFFFFu / odd;
        }
    }
    return step == 0 ? 1 : step;
}

// The records or the transactions view, with the filters and the payload
// dump. Returns false when writing stdout failed.
// What the bus itself shows beyond the records: the timing findings and
// each Ultra DMA burst's CRC.
struct BusChecks {
    bool done = false;
    analysis::TimingReport report;
    std::vector<analysis::UdmaBurstCrc> bursts;

    void Attach(std::vector<analysis::Transaction>& transactions) const {
        if (!done) return;
        analysis::AttachBursts(transactions, bursts);
        analysis::CountGlitchWords(transactions, report);
    }
};

bool WriteViews(const Options& options, const RecordList& records,
                const std::map<uint16_t, FieldPresentation>& fields, const TransactionFilter& filter,
                uint64_t timeStep, const BusChecks& checks) {
    const OutputFormat format = options.format == "csv"    ? OutputFormat::Csv
                                : options.format == "json" ? OutputFormat::Json
                                                           : OutputFormat::Text;
    const bool colour = options.colour == "always" || (options.colour == "auto" && isatty(fileno(stdout)));
    const bool transactionsView = options.view == "transactions";
    std::vector<analysis::Transaction> transactions;
    if (transactionsView || !filter.empty() || !options.dump.empty()) {
        const bool keepData = !options.dump.empty() || options.hex;
        transactions = analysis::AnalyzeRecords(ToAnalysisRecords(records), keepData);
        checks.Attach(transactions);
    }
    if (!options.dump.empty()) {
        const size_t files = DumpPayloads(options.dump, transactions, filter);
        if (!options.quiet)
            std::fprintf(stderr, "cfdecode: %zu payload file%s in %s\n", files, files == 1 ? "" : "s",
                         options.dump.c_str());
    }
    if (transactionsView)
        return WriteTransactions(stdout, transactions, filter, {format, colour, options.hex, timeStep});
    OutputOptions output;
    output.format = format;
    output.all = options.all;
    output.colour = colour;
    output.timeStep = timeStep;
    if (filter.empty()) return WriteRecords(stdout, records, fields, output);
    return WriteRecords(stdout, RecordsWithin(records, transactions, filter), fields, output);
}

int Run(const Options& options) {
    // Everything the user typed is checked before anything is read.
    const std::vector<RoleOverride> overrides = [&] {
        try {
            return ParseRoleOverrides(options.maps);
        } catch (const MappingError& e) {
            throw BadInput{e.what()};
        }
    }();
    // In the file's units; made positions once the capture's step is known.
    DecodeWindow window;
    WindowTimes times;
    if (!options.range.empty()) {
        const size_t colon = options.range.find(':');
        if (colon == std::string::npos || !ParsePosition(options.range.substr(0, colon), times.rangeStart) ||
            !ParsePosition(options.range.substr(colon + 1), times.rangeEnd)) {
            throw BadInput{"--range " + options.range +
                           ": expected START:END, two positions from 0 to 4294967295"};
        }
        if (times.rangeStart > times.rangeEnd)
            throw BadInput{"--range " + options.range + ": the start lies after the end"};
        times.hasRange = true;
    }
    if (!options.start.empty()) {
        if (!ParsePosition(options.start, times.start))
            throw BadInput{"--start " + options.start + ": expected a position from 0 to 4294967295"};
        times.hasStart = true;
    }
    const TransactionFilter filter = [&] {
        try {
            return TransactionFilter::Parse(options.commands, options.lba, options.errors);
        } catch (const ViewError& e) {
            throw BadInput{e.what()};
        }
    }();
    if (options.hex && options.view != "transactions")
        throw BadInput{"--hex shows the payload under each command: use it with --view transactions"};
    if (!options.dump.empty() && std::filesystem::exists(options.dump) &&
        !std::filesystem::is_directory(options.dump))
        throw BadInput{"--dump " + options.dump + ": not a folder"};
    window.language = options.language == "zh-CN"   ? FdLanguageSimplified
                      : options.language == "zh-TW" ? FdLanguageTraditional
                                                    : FdLanguageEnglish;
    const uint64_t samplerate = options.samplerate.empty() ? 0 : ParseSamplerate(options.samplerate);
    if (!options.samplerate.empty() && samplerate == 0)
        throw BadInput{"--samplerate " + options.samplerate +
                       ": expected samples per second, such as 24MHz, 200M or 100000000"};
    TimingRequest timing = CheckTimingOptions(options, samplerate);
    std::optional<std::array<uint8_t, FD_SETTINGS_SIZE>> stored;
    if (!options.settings.empty() && !options.resetSettings && std::filesystem::exists(options.settings))
        stored = ReadSettingsFile(options.settings);

    const std::string pluginPath = options.plugin.empty() ? PluginLibrary::DefaultPath() : options.plugin;
    PluginHost host = [&]() -> PluginHost {
        try {
            return PluginHost(pluginPath);
        } catch (const std::runtime_error& e) {
            throw BadInput{std::string(e.what())};
        }
    }();
    if (stored) host.WriteSettings(*stored);
    if (options.resetSettings) host.ResetSettings();

    StepClock clock(options.stats);
    const std::string captureName = CaptureDisplayName(options.capture);
    CaptureReadNotes notes;
    Waveform waveform;
    {
        ProgressBar bar("reading " + (options.capture == "-"
                                          ? captureName
                                          : std::filesystem::path(options.capture).filename().string()),
                        !options.quiet && isatty(fileno(stderr)));
        CaptureReadOptions readOptions;
        readOptions.offset = options.offset;
        readOptions.samplerate = samplerate;
        readOptions.csvColumns = options.csvColumns;
        readOptions.progress = [&bar](uint64_t done, uint64_t total) { bar.Update(done, total); };
        try {
            waveform = ReadCapture(options.capture, readOptions, &notes);
        } catch (const CaptureFormatError& e) {
            throw BadInput{e.what()};
        }
    }
    clock.Mark("read");
    const uint64_t step = waveform.timeStep;
    ToPositions(times, step, options.range, options.start, window);
    if (!options.quiet && step != 1) {
        const double unit = waveform.secondsPerPosition / static_cast<double>(step);
        std::fprintf(
            stderr,
            "cfdecode: note: %s: every change falls on a multiple of %s (%llu steps of %s); positions count "
            "those steps and outputs give the file's times\n",
            captureName.c_str(), TimeText(waveform.secondsPerPosition).c_str(),
            static_cast<unsigned long long>(step), TimeText(unit).c_str());
    }
    uint64_t changes = 0;
    for (const Signal& signal : waveform.signals) changes += signal.changes.size();
    if (!options.quiet)
        for (const std::string& guess : notes.guesses)
            std::fprintf(stderr, "cfdecode: note: %s: %s\n", captureName.c_str(), guess.c_str());
    if (!options.quiet && notes.unknownValues > 0) {
        std::fprintf(stderr, "cfdecode: warning: %s: %llu x values (unknown levels) read as 0\n",
                     captureName.c_str(), static_cast<unsigned long long>(notes.unknownValues));
    }
    if (!options.quiet && notes.undrivenValues > 0) {
        std::fprintf(stderr, "cfdecode: note: %s: %llu z values (undriven lines) keep their last level\n",
                     captureName.c_str(), static_cast<unsigned long long>(notes.undrivenValues));
    }
    if (!options.quiet && notes.heldUnknowns > 0) {
        std::fprintf(
            stderr,
            "cfdecode: warning: %s: %llu unknown port states (N, X, ?, A, B, C ...) keep their last level\n",
            options.capture.c_str(), static_cast<unsigned long long>(notes.heldUnknowns));
    }
    if (!options.quiet && !notes.gaps.empty()) {
        std::string spans;
        for (size_t i = 0; i < notes.gaps.size() && i < 4; ++i)
            spans += (i == 0 ? "" : ", ") + std::to_string(notes.gaps[i].first * step) + " to " +
                     std::to_string(notes.gaps[i].second * step);
        if (notes.gaps.size() > 4) spans += ", ... (" + std::to_string(notes.gaps.size()) + " in all)";
        std::fprintf(
            stderr,
            "cfdecode: note: %s: no data from %s ($dumpoff until $dumpon): each line keeps its level\n",
            options.capture.c_str(), spans.c_str());
    }
    if (!options.quiet) {
        for (const std::string& line : notes.csvWarnings)
            std::fprintf(stderr, "cfdecode: warning: %s: %s\n", options.capture.c_str(), line.c_str());
        for (const std::string& line : notes.csvNotes)
            std::fprintf(stderr, "cfdecode: note: %s: %s\n", options.capture.c_str(), line.c_str());
        for (const std::string& line : notes.formatNotes)
            std::fprintf(stderr, "cfdecode: note: %s: %s\n", captureName.c_str(), line.c_str());
    }
    if (!options.quiet && notes.analogChannels > 0) {
        std::fprintf(stderr, "cfdecode: note: %s: %u analog channels ignored\n", captureName.c_str(),
                     notes.analogChannels);
    }

    const ChannelPlan plan = [&] {
        try {
            return PlanChannels(waveform, overrides, options.bindByPosition);
        } catch (const MappingError& e) {
            throw BadInput{captureName + ": " + e.what()};
        }
    }();
    if (!options.quiet)
        for (const std::string& note : plan.notes)
            std::fprintf(stderr, "cfdecode: warning: %s\n", note.c_str());

    if (timing.secondsPerPosition > 0 && !(waveform.secondsPerPosition > 0))
        waveform.secondsPerPosition = timing.secondsPerPosition;
    const bool judging = options.timing || timing.html;
    // The transactions view shows the bursts' CRC and the glitch words: it reads the bus too.
    const bool checking = judging || options.view == "transactions";

    // Read before the image takes the signals over; said once the records
    // show which cycles they concern.
    const StrobeFacts strobes =
        options.quiet ? StrobeFacts{}
                      : GatherStrobeFacts(waveform, plan, DecodeBounds(window, waveform.endPosition));
    host.SetChannelNumbers(plan.settingsChannels);
    // The signals' changes are taken over, so the capture is held once.
    std::vector<CaptureChannel> channels = CaptureChannels(waveform, plan);
    clock.Mark("capture");
    // What the checks need of the bus alone (its step, the DMACK- envelopes)
    // is found on the other core while the plug-in decodes.
    const analysis::BusSignals lines = BusLines(channels);
    uint32_t busStep = 1;
    std::vector<analysis::DmackEnvelope> envelopes;
    WindowedDecodeResult windows;
    RecordList records;
    RunTwoJobs(
        [&] {
            records = RecordList(DecodeInWindows(host, channels, waveform.endPosition, window, {}, &windows));
        },
        [&] {
            if (!checking) return;
            busStep = TimeStep(lines);
            envelopes = analysis::FindDmackEnvelopes(lines);
        },
        [] {}, WithoutThread::RunAfter);
    clock.Mark("decode");
    if (!options.quiet && !windows.note.empty())
        std::fprintf(stderr, "cfdecode: note: %s: %s\n", captureName.c_str(), windows.note.c_str());
    if (!options.quiet) {
        for (const std::string& line : StrobeWarnings(strobes, records, step))
            std::fprintf(stderr, "cfdecode: warning: %s: %s\n", captureName.c_str(), line.c_str());
    }
    // The capture's transitions are not needed any more, but for the bus
    // lines the checks read.
    if (checking)
        channels.resize(std::min<size_t>(channels.size(), fd::kBusRoleCount));
    else
        std::vector<CaptureChannel>().swap(channels);
    const auto fields = host.Presentation(records);
    clock.Mark("fields");

    BusChecks checks;
    if (checking) {
        // Positions are in the file's time unit; the samples may lie further
        // apart (a VCD in nanoseconds of a 200 MS/s capture): the resolution
        // is the given sample rate, else the step all times are multiples of.
        timing.options.nsPerPosition = waveform.secondsPerPosition * 1e9;
        timing.options.samplePeriodNs = options.samplerate.empty()
                                            ? static_cast<double>(busStep) * timing.options.nsPerPosition
                                            : timing.secondsPerPosition * 1e9;
        // A CRC word read with a data line missing would seem wrong: not checked (a note says so).
        const bool wholeBus = std::none_of(plan.missingRoles.begin(), plan.missingRoles.end(), [](int role) {
            return role >= fd::kD0 && role < fd::kBusRoleCount;
        });
        // The bursts' CRC on the other core, beside the timing checks.
        // Both read the plug-in's records a slice at a time.
        RunTwoJobs(
            [&] {
                analysis::TimingChecker checker(lines, timing.options);
                ForEachAnalysisSlice(records,
                                     [&](std::span<const analysis::Record> slice) { checker.Add(slice); });
                checks.report = checker.Finish();
            },
            [&] {
                if (!wholeBus) return;
                analysis::BurstCrcChecker checker(envelopes);
                ForEachAnalysisSlice(records,
                                     [&](std::span<const analysis::Record> slice) { checker.Add(slice); });
                checks.bursts = checker.Finish();
            },
            [] {}, WithoutThread::RunAfter);

        analysis::AddBurstFindings(checks.report, checks.bursts);
        NoteMissingLines(checks.report, plan);
        checks.done = true;
        clock.Mark("checks");
    }
    if (judging) {
        analysis::TimingReport& report = checks.report;
        const OutputFormat timingFormat = options.format == "csv"    ? OutputFormat::Csv
                                          : options.format == "json" ? OutputFormat::Json
                                                                     : OutputFormat::Text;
        if (options.timing && !WriteTimingReport(stdout, report,
                                                 {timingFormat, waveform.secondsPerPosition, step,
                                                  timing.options.samplePeriodNs})) {
            std::fprintf(stderr, "cfdecode: cannot write the output\n");
            return kFailure;
        }
#if defined(FD_HAVE_TIMELINE_PAGE)
        if (timing.html) {
            TimelineInput page;
            page.title = options.capture == "-" ? captureName
                                                : std::filesystem::path(options.capture).filename().string();
            const Waveform bus = BusWaveform(channels, waveform);
            page.bus = &bus;
            page.samplePeriodNs = timing.options.samplePeriodNs;
            page.records.reserve(records.size());
            for (const DecodedRecord& r : records) {
                // The readers count 32-bit positions, so every record's fits.
                page.records.push_back({static_cast<uint32_t>(r.position), r.value, r.fieldId});
                if (!page.fields.count(r.fieldId)) {
                    const FieldPresentation& f = fields.at(r.fieldId);
                    page.fields[r.fieldId] = {f.name, ColourHex(r.colour), f.radix, f.width, f.shown};
                }
            }
            page.transactions = analysis::AnalyzeRecords(ToAnalysisRecords(records), false);
            checks.Attach(page.transactions);
            const size_t warnings = report.warnings.size();
            page.timing = std::move(report);
            if (!WriteTimelinePage(timing.html->out, page))
                throw std::runtime_error(options.html + ": cannot write the page");
            timing.html->out.close();
            if (!timing.html->out) throw std::runtime_error(options.html + ": cannot write the page");
            timing.html->complete = true;
            if (!options.quiet) {
                std::fprintf(stderr,
                             "cfdecode: wrote %s: %zu records, %zu transactions, %zu timing warnings\n",
                             options.html.c_str(), page.records.size(), page.transactions.size(), warnings);
                for (const analysis::TimingNote& note : page.timing.notes)
                    std::fprintf(stderr, "cfdecode: timing: %s\n", note.text.c_str());
            }
        }
#endif
        clock.Mark("write");
        clock.Print(changes, records.size());
        if (!options.settings.empty()) WriteSettingsFile(options.settings, host.ReadSettings());
        return 0;
    }

    const bool written = [&] {
        try {
            return WriteViews(options, records, fields, filter, step, checks);
        } catch (const ViewError& e) {
            throw BadInput{e.what()};
        }
    }();
    clock.Mark("write");
    clock.Print(changes, records.size());

    if (!options.settings.empty()) WriteSettingsFile(options.settings, host.ReadSettings());
    if (!written) {
        std::fprintf(stderr, "cfdecode: cannot write the output\n");
        return kFailure;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{
        "Decodes the CompactFlash True IDE bus traffic in a logic-analyzer capture with the flashdecode\n"
        "plug-in, loaded exactly as a host application loads it, and prints the decoded records or the\n"
        "ATA commands they make up (--view transactions).\n\n"
        "Signals are matched to the bus roles by name (DMARQ, DMACK-, CS0-/-CE1, CS1-/-CE2, A0-A2/DA0-DA2,\n"
        "IORD-/DIOR-, IOWR-/DIOW-, IORDY, D0-D15/DD0-DD15; any case, with or without -, #, _n); vectors\n"
        "such as D[15:0] are split into bits. A role no signal is named for holds its idle level; a capture\n"
        "that names no control line (Channel 0, D0, probe0 ...) is refused: name the roles with --map, or\n"
        "bind them in list order with --bind-by-position. Positions are the capture's timestamps in its\n"
        "own units (VCD) or sample numbers (.sr, .dsl, CSV, Saleae binary). A VCD whose timestamps pass\n"
        "2^32 (a 1 fs dump) is counted in its step, the largest its changes and end are multiples of (a "
        "note\n"
        "says it); outputs, --range and --start stay in the file's own times, a time between steps moving\n"
        "inward.\n\n"
        "VCD as simulators write it is read as it is: Verilog escaped names (\\-CS0, \\CS1#, \\D[15:0]),\n"
        "VHDL bit names (dd(3), dd(15 downto 0)), one signal declared in several scopes (known by each "
        "name),\n"
        "$dumpoff ... $dumpon (no data between: the levels hold, said on stderr), extended VCD ($dumpports:\n"
        "port states such as D, U, L, H; Z, T and the unknown states keep the last level) and timescales\n"
        "such as 1ns, 10 ps or 1.0 ns.\n",
        "cfdecode"};
    app.add_option(
           "capture", options.capture,
           "Capture: a value change dump (VCD), a sigrok session (.sr), a DSView session (.dsl), CSV rows\n"
           "or a Saleae Logic 2 binary export (its folder, or one digital_N.bin: the digital_N.bin beside "
           "it\n"
           "are read with it), told apart by their content; gzip (.gz) and zstd (.zst) compressed as well;\n"
           "- reads standard input")
        ->required()
        ->type_name("FILE");
    app.add_option("--plugin", options.plugin,
                   "Plug-in library to load (default: the one built beside cfdecode)")
        ->type_name("PATH");
    app.add_option("--settings", options.settings,
                   "440-byte decoder settings record: read before decoding if it exists, written back after")
        ->type_name("FILE");
    app.add_flag("--reset-settings", options.resetSettings, "Start from the plug-in's default settings");
    app.add_option("--map", options.maps,
                   "Carry a role on the named signal; a list, or repeated: --map IORD=ch7,IOWR=ch8")
        ->type_name("ROLE=SIGNAL")
        ->allow_extra_args(false)  // one value per --map, so the capture after it stays the capture
        ->take_all();
    app.add_flag(
        "--bind-by-position", options.bindByPosition,
        "Give the roles no signal is named for to the signals whose names mean nothing, in list order\n"
        "(DMARQ first, as the plug-in binds a capture without names). Without it such roles hold their\n"
        "idle level, and a capture that names no control line at all is refused");
    app.add_option("--format", options.format,
                   "Output: text (an aligned table), csv or json (one object per line)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"text", "csv", "json"}));
    app.add_option("--color,--colour", options.colour,
                   "Colour the text table: auto (when stdout is a terminal), always, never")
        ->type_name("WHEN")
        ->check(CLI::IsMember({"auto", "always", "never"}));
    app.add_flag("--all", options.all, "Text: also print the kinds the plug-in does not show (markers)");
    app.add_flag("--stats", options.stats,
                 "Print on stderr how long reading, building the capture, decoding and writing took");
    app.add_option("--range", options.range, "Decode only between these positions")->type_name("START:END");
    app.add_option("--start", options.start, "The capture's start position: decode after it")
        ->type_name("POSITION");
    app.add_option(
           "--offset", options.offset,
           "Subtract this from every timestamp, before the time step is found (for captures longer than\n"
           "2^32 of their steps)")
        ->type_name("N");
    app.add_option("--language", options.language, "The capture's language: en, zh-CN or zh-TW")
        ->type_name("LANGUAGE")
        ->check(CLI::IsMember({"en", "zh-CN", "zh-TW"}));
    app.add_option(
           "--view", options.view,
           "records (default): every decoded record, one a line; transactions: one line per ATA command")
        ->type_name("VIEW")
        ->check(CLI::IsMember({"records", "transactions"}));
    app.add_option(
           "--command", options.commands,
           "Only these commands: a name (\"READ DMA\", any case) or an opcode (0xC8); repeat for more")
        ->type_name("NAME|OPCODE")
        ->allow_extra_args(false)
        ->take_all();
    app.add_option("--lba", options.lba, "Only commands on a sector from FIRST to LAST (LBA addressing)")
        ->type_name("FIRST:LAST");
    app.add_flag("--errors", options.errors,
                 "Only commands that did not end ok (error, aborted, reset, incomplete)");
    app.add_option("--dump", options.dump,
                   "Write each chosen command's data to DIR, a file per command, bytes in bus order")
        ->type_name("DIR");
    app.add_flag("--hex", options.hex,
                 "Transactions view, text: a hex view of each command's data under its line");
    app.add_option(
           "--csv-columns", options.csvColumns,
           "CSV: read only these columns, under these names: 3=IORD,4=IOWR (column 1 holds the position),\n"
           "or names in column order from column 2, - skipping one: DMARQ,DMACK,-,CS1; a column holding a\n"
           "word: DD=3:15..0 (its bits 15..0 are DD15..DD0), IORD=2:16 (bit 16 is IORD), with the radix\n"
           "after it (DD=3:15..0:dec; hex, dec, bin, oct; default: the radix row's, else hex)")
        ->type_name("LIST");
    app.add_flag("-q,--quiet", options.quiet, "No warnings, notes or progress bar on stderr");
    app.add_option("--html", options.html,
                   "Write a self-contained timeline page (waveform, records, transactions, timing warnings) "
                   "instead of printing the records")
        ->type_name("FILE");
    app.add_flag(
        "--timing", options.timing,
        "Print the timing check instead of the records: one line per finding (a limit broken, a strobe "
        "glitch, a bad Ultra DMA burst CRC); with --format csv or json a row or object each");
    app.add_option(
           "--mode", options.modes,
           "Transfer modes in force from the capture's start, until a SET FEATURES in it selects another: "
           "pio0-6, mdma0-4, udma0-6; a list or repeated (--mode pio4,udma5)")
        ->type_name("MODE")
        ->delimiter(',')
        ->allow_extra_args(false);
    app.add_option(
           "--samplerate", options.samplerate,
           "Samples per second (100000000, 200M, 24MHz): turns a CSV time column or a Saleae binary "
           "export's times into sample numbers, "
           "gives the timing checks the sample period of a capture that does not say it, or corrects it "
           "(a CSV whose comment lines state another rate: a warning, and this one is used)")
        ->type_name("RATE");
    app.footer(
        "\nInputs: a file, a named pipe, or - for standard input (gunzip -c x.vcd.gz | cfdecode -). gzip and "
        "zstd\n"
        "streams are decompressed as they are read, known by their first bytes whatever the name. The format "
        "is\n"
        "told by the content: a VCD opens with a $keyword ($date, $version, $timescale, $scope, $var, "
        "$comment),\n"
        "a sigrok session is a zip archive with a metadata member, CSV is text rows; the file name is only "
        "a\n"
        "hint, and where it says otherwise a note says what was read. A DSView session is a zip with a "
        "header\n"
        "member; its probe names bind as any names. Refused, with what to do instead: FST (fst2vcd FILE.fst "
        ">\n"
        "FILE.vcd, from gtkwave), Saleae Logic 2 .sal (File > Export Data, Binary or CSV), other zip "
        "archives,\n"
        "xz, bzip2 and other compressors, a compressed stream cut short (the byte offset where it ends), "
        "and\n"
        "anything else (its first bytes are shown).\n"
        "\nSaleae Logic 2 binary exports (File > Export Data > Binary, versions 0 and 1): give the folder, "
        "or\n"
        "one of its digital_N.bin files, and every digital_N.bin in that folder is read (analog files are "
        "not);\n"
        "channel N is the signal digital_N, so bind the roles with --map IORD=digital_7,... (or\n"
        "--bind-by-position). Position 0 is the begin time; each time is rounded to the nearest sample at "
        "the\n"
        "rate the files give (version 1), else --samplerate, else the finest step every time is a multiple\n"
        "of (a note says which). Gaps between version 1 chunks keep the levels (a note names them).\n"
        "\nRecords view: position, kind, value and, for STATUS, ALT STATUS, ERROR, CARD/HEAD, DEVICE "
        "CONTROL\n"
        "and COMMAND, what the value means (\"DRDY DSC\", \"LBA DEV0 head 0\", \"READ DMA\"). Columns of csv "
        "and\n"
        "json: position, field_id, name, value (signed 64-bit), colour (#RRGGBB); json adds \"detail\".\n"
        "Transactions view: start and end, device, opcode and command, protocol, address, sector count,\n"
        "bytes moved, final STATUS and ERROR, and the verdict: ok, error (STATUS with ERR or DF), icrc "
        "error\n"
        "(an Ultra DMA burst's CRC word wrong or missing: the card reports ICRC; the detail gives each\n"
        "burst's CRC verdict and the words that fell on strobe glitches), aborted\n"
        "(a new command came first), reset (a software reset came first) or incomplete (the capture ended\n"
        "or began inside it). IDENTIFY DEVICE shows the card's model, serial, firmware, capacity and modes.\n"
        "--command, --lba and --errors choose transactions; in the records view they keep the records that\n"
        "lie within the chosen transactions.\n"
        "\nSampling: a register, PIO or multiword DMA cycle is recorded where its strobe falls, with the "
        "control\n"
        "lines there (DMARQ of multiword DMA just before) and its data from the last sample before the "
        "strobe\n"
        "rises, where the receiver latches them; Ultra DMA words at each edge of the sender's strobe, which "
        "the\n"
        "burst's opening names (the receiver's ready line, HDMARDY- or DDMARDY-, carries no word). Outside "
        "DMA,\n"
        "IORDY is the wait line. VCD z (an undriven line) keeps its last level; x reads as 0.\n"
        "Warnings on stderr say what the decode had to assume or could not see: x and z values, roles no "
        "signal\n"
        "is named for, $dumpoff spans, a strobe still asserted at the end of the decode window (its data "
        "taken at the last\n"
        "sample) or already at its start, both strobes changing in one sample. --quiet leaves them out.\n"
        "\nCSV captures: a header row of names (sigrok's channel list where it only says logic), comma, tab "
        "or\n"
        "semicolon between values (a decimal comma then allowed). The first column counts samples or time:\n"
        "seconds (Time [s], 1.5e-6), a unit the header names (nanoseconds, Time [us]), negative times or "
        "ISO\n"
        "8601 timestamps (counted from the first row), sigrok's ticks of its period. The rate: "
        "--samplerate,\n"
        "else a comment line (; Samplerate: 24 MHz, ; Sample rate: 100 MHz, META samplerate), else the step\n"
        "every time is a multiple of (a note says so). A radix row under the header (Radix - HEX,...) and\n"
        "bus columns (DD[15:0], DD, DATA; hex unless a radix row or --csv-columns says otherwise) are split\n"
        "into bits. X, Z or an empty cell is no data: the line keeps its level (counted in a note).\n"
        "\nTiming (--timing, --html): every register, multiword DMA cycle and Ultra DMA strobe edge is "
        "measured\n"
        "and compared with the CF mode tables: PIO t0 t1 t2 t2i t9, data setup and hold t3 t4 (DIOW-) t5 t6 "
        "(DIOR-),\n"
        "IORDY wait states tA tB tRD; MWDMA t0 tD tKR tKW, data tG tH tF; UDMA tCYC t2CYC tDS tDH. Setup "
        "runs "
        "from the\n"
        "last change of any DD line to the strobe's negation, hold to the first change after it. A strobe "
        "pulse\n"
        "shorter than any mode allows (20 ns PIO and MWDMA, 13 ns UDMA) is one glitch finding, and its "
        "records "
        "get\n"
        "no other check. Each Ultra DMA burst's CRC (seed 4ABAh, x^16+x^12+x^5+1, DD0 first) is compared "
        "with "
        "the\n"
        "word on DD as DMACK- rises: a mismatch or no word is a CRC finding, and the command's verdict is "
        "icrc "
        "error.\n"
        "--format csv or json: one row or object per finding and note.\n"
        "A change seen at sample n happened within the sample before it, so an interval of n samples is\n"
        "reported only when n + 1 samples still fall short of a minimum (n - 1 still exceed a maximum), and "
        "a\n"
        "limit shorter than two sample periods is not judged: the report says it cannot be. A line the "
        "capture\n"
        "lacks holds its idle level, so nothing is found on it: the report notes the checks it leaves "
        "undone\n"
        "(no DMACK-: no CRC; no IORDY: no wait states; a data line missing: no CRC). The mode in force is "
        "the "
        "last\n"
        "SET FEATURES transfer mode seen, before it --mode, else the fastest mode of the family (noted in "
        "the "
        "report).\n"
        "Exit status: 0 decoded, 2 bad input (file, option), 1 other failure.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "cfdecode: %s (see cfdecode --help)\n", e.what());
        return kBadInput;
    }
    try {
        return Run(options);
    } catch (const BadInput& e) {
        std::fprintf(stderr, "cfdecode: %s\n", e.message.c_str());
        return kBadInput;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "cfdecode: out of memory\n");
        return kFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cfdecode: %s\n", e.what());
        return kFailure;
    }
}
