// cfdecode: the reference host. Loads the flashdecode plug-in as a logic
// analyzer host does, reads a capture file, hands it to the plug-in and
// prints or exports the records it decodes. Data goes to stdout, every
// diagnostic to stderr; bad input ends with one line and exit status 2.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "host/cfdecode/plugin_host.h"
#include "host/cfdecode/record_output.h"
#include "host/cfdecode/signal_map.h"
#include "host/formats/capture_reader.h"
#include "host/model/capture_image.h"

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

bool ParsePosition(const std::string& text, uint32_t& value) {
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
    if (used != text.size() || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

std::array<uint8_t, FD_SETTINGS_SIZE> ReadSettingsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BadInput{path + ": cannot open the settings file"};
    std::array<uint8_t, FD_SETTINGS_SIZE> record{};
    in.read(reinterpret_cast<char*>(record.data()), record.size());
    const auto got = in.gcount();
    in.peek();
    if (got != FD_SETTINGS_SIZE || !in.eof()) {
        throw BadInput{path + ": expected a decoder settings record of 440 bytes" +
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
        std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(static_cast<size_t>(filled), '#').c_str(),
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

// Each signal's changes become its transition list in place, so the
// capture is held once, not twice.
CaptureImage BuildImage(Waveform& waveform, const ChannelPlan& plan) {
    std::vector<ChannelSpec> specs;
    specs.reserve(plan.channels.size());
    // A signal carrying two roles is copied for all but its last.
    std::vector<size_t> usesLeft(waveform.signals.size());
    for (const PlannedChannel& channel : plan.channels)
        if (channel.signal >= 0) ++usesLeft[static_cast<size_t>(channel.signal)];
    for (const PlannedChannel& channel : plan.channels) {
        Signal signal;
        if (channel.signal >= 0) {
            Signal& source = waveform.signals[static_cast<size_t>(channel.signal)];
            const bool last = --usesLeft[static_cast<size_t>(channel.signal)] == 0;
            specs.push_back({channel.name, channel.number,
                             last ? ToTransitionList(std::move(source)) : ToTransitionList(source)});
        } else {
            signal.initialLevel = channel.idleLevel;
            specs.push_back({channel.name, channel.number, ToTransitionList(signal)});
        }
    }
    return CaptureImage(std::move(specs), waveform.endPosition);
}

struct Options {
    std::string capture;
    std::string plugin;
    std::string settings;
    bool resetSettings = false;
    std::vector<std::string> maps;
    std::string format = "text";
    std::string colour = "auto";
    bool all = false;
    std::string range;
    std::string start;
    std::string language = "en";
    uint64_t offset = 0;
    bool quiet = false;
};

int Run(const Options& options) {
    // Everything the user typed is checked before anything is read.
    const std::vector<RoleOverride> overrides = [&] {
        try {
            return ParseRoleOverrides(options.maps);
        } catch (const MappingError& e) {
            throw BadInput{e.what()};
        }
    }();
    DecodeWindow window;
    if (!options.range.empty()) {
        const size_t colon = options.range.find(':');
        if (colon == std::string::npos || !ParsePosition(options.range.substr(0, colon), window.rangeStart) ||
            !ParsePosition(options.range.substr(colon + 1), window.rangeEnd)) {
            throw BadInput{"--range " + options.range + ": expected START:END, two positions from 0 to 4294967295"};
        }
        if (window.rangeStart > window.rangeEnd)
            throw BadInput{"--range " + options.range + ": the start lies after the end"};
        window.hasRange = true;
    }
    if (!options.start.empty()) {
        if (!ParsePosition(options.start, window.start))
            throw BadInput{"--start " + options.start + ": expected a position from 0 to 4294967295"};
        window.hasStart = true;
    }
    window.language = options.language == "zh-CN" ? FdLanguageSimplified
                      : options.language == "zh-TW" ? FdLanguageTraditional
                                                    : FdLanguageEnglish;
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

    CaptureReadNotes notes;
    Waveform waveform;
    {
        ProgressBar bar("reading " + std::filesystem::path(options.capture).filename().string(),
                        !options.quiet && isatty(fileno(stderr)));
        CaptureReadOptions readOptions;
        readOptions.offset = options.offset;
        readOptions.progress = [&bar](uint64_t done, uint64_t total) { bar.Update(done, total); };
        try {
            waveform = ReadCapture(options.capture, readOptions, &notes);
        } catch (const CaptureFormatError& e) {
            throw BadInput{e.what()};
        }
    }
    if (!options.quiet && notes.unknownValues > 0) {
        std::fprintf(stderr, "cfdecode: warning: %s: %llu x or z values read as 0\n", options.capture.c_str(),
                     static_cast<unsigned long long>(notes.unknownValues));
    }

    const ChannelPlan plan = [&] {
        try {
            return PlanChannels(waveform, overrides);
        } catch (const MappingError& e) {
            throw BadInput{options.capture + ": " + e.what()};
        }
    }();
    if (!options.quiet)
        for (const std::string& note : plan.notes) std::fprintf(stderr, "cfdecode: warning: %s\n", note.c_str());

    host.SetChannelNumbers(plan.settingsChannels);
    CaptureImage image = BuildImage(waveform, plan);
    const RecordList records = host.Decode(image, window);
    // The records are the plug-in's own lists; the capture's transitions
    // are not needed any more.
    image.ReleaseTransitions();
    const auto fields = host.Presentation(records);

    OutputOptions output;
    output.format = options.format == "csv" ? OutputFormat::Csv : options.format == "json" ? OutputFormat::Json : OutputFormat::Text;
    output.all = options.all;
    output.colour = options.colour == "always" || (options.colour == "auto" && isatty(fileno(stdout)));
    const bool written = WriteRecords(stdout, records, fields, output);

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
        "plug-in, loaded exactly as a host application loads it, and prints the decoded records.\n\n"
        "Signals are matched to the bus roles by name (DMARQ, DMACK-, CS0-/-CE1, CS1-/-CE2, A0-A2/DA0-DA2,\n"
        "IORD-/DIOR-, IOWR-/DIOW-, IORDY, D0-D15/DD0-DD15; any case, with or without -, #, _n); vectors\n"
        "such as D[15:0] are split into bits. Positions are the capture's timestamps in its own units.\n",
        "cfdecode"};
    app.add_option("capture", options.capture, "Capture file: a value change dump (.vcd)")->required()->type_name("FILE");
    app.add_option("--plugin", options.plugin, "Plug-in library to load (default: the one built beside cfdecode)")
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
    app.add_option("--format", options.format, "Output: text (an aligned table), csv or json (one object per line)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"text", "csv", "json"}));
    app.add_option("--color,--colour", options.colour, "Colour the text table: auto (when stdout is a terminal), always, never")
        ->type_name("WHEN")
        ->check(CLI::IsMember({"auto", "always", "never"}));
    app.add_flag("--all", options.all, "Text: also print the kinds the plug-in does not show (markers)");
    app.add_option("--range", options.range, "Decode only between these positions")->type_name("START:END");
    app.add_option("--start", options.start, "The capture's start position: decode after it")->type_name("POSITION");
    app.add_option("--offset", options.offset,
                   "Subtract this from every timestamp (for captures whose times pass 2^32)")
        ->type_name("N");
    app.add_option("--language", options.language, "The capture's language: en, zh-CN or zh-TW")
        ->type_name("LANGUAGE")
        ->check(CLI::IsMember({"en", "zh-CN", "zh-TW"}));
    app.add_flag("-q,--quiet", options.quiet, "No warnings and no progress bar on stderr");
    app.footer(
        "\nOutput columns (csv, json): position, field_id, name, value (signed 64-bit), colour (#RRGGBB).\n"
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
