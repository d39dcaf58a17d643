#include "host/formats/saleae_binary.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <system_error>

#include "host/formats/format_error.h"
#include "host/formats/samplerate.h"

namespace fd::host {
namespace {

constexpr std::string_view kIdentifier = "<SALEAE>";
constexpr size_t kHeaderBytes = 16;         // identifier, version, type
constexpr size_t kV0DigitalBytes = 44;      // + initial state, begin, end, count
constexpr size_t kV1ChunkHeaderBytes = 36;  // initial state, rate, begin, end, count
constexpr uint64_t kNoRate = 0;
constexpr double kOnSample = 0.01;  // how far from a sample a time may lie, in samples, for a rate to fit it

uint32_t Le32(const unsigned char* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t Le64(const unsigned char* p) { return uint64_t{Le32(p)} | uint64_t{Le32(p + 4)} << 32; }
double LeDouble(const unsigned char* p) {
    const uint64_t bits = Le64(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string Byte(size_t offset) { return "byte " + std::to_string(offset); }

std::string Seconds(double seconds) {
    std::ostringstream text;
    text.precision(12);
    text << seconds << " s";
    return text.str();
}

// A stretch of one channel with data: version 0 files are one.
struct Chunk {
    uint32_t initialState = 0;
    double rate = 0;  // Hz; 0 in version 0
    double begin = 0, end = 0;
    size_t beginOffset = 0;  // where the begin time is written
    const unsigned char* times = nullptr;
    size_t timesOffset = 0;
    uint64_t count = 0;
    double Time(uint64_t i) const { return LeDouble(times + i * 8); }
};

struct Channel {
    const SaleaeChannelFile* file = nullptr;
    int version = 0;
    std::vector<Chunk> chunks;
};

class Parser {
public:
    explicit Parser(const SaleaeChannelFile& file)
        : file_(file),
          p_(reinterpret_cast<const unsigned char*>(file.bytes.data())),
          size_(file.bytes.size()) {}

    Channel Parse() {
        Channel channel;
        channel.file = &file_;
        if (size_ < kIdentifier.size() || file_.bytes.substr(0, kIdentifier.size()) != kIdentifier)
            Fail(0, "expected the identifier <SALEAE> of a Saleae Logic 2 binary export");
        Need(0, kHeaderBytes, "the header (identifier, version, type)");
        const uint32_t version = Le32(p_ + 8);
        const uint32_t type = Le32(p_ + 12);
        if (version > 1)
            Fail(8, "version " + std::to_string(version) + ", expected 0 or 1 (the versions Logic 2 writes)");
        if (type == 1)
            Fail(12,
                 "type 1, an analog channel: export the digital channels (digital_N.bin) with Logic 2's "
                 "File > Export Data > Binary");
        if (type != 0) Fail(12, "type " + std::to_string(type) + ", expected 0 (digital)");
        channel.version = static_cast<int>(version);
        size_t at = kHeaderBytes;
        if (version == 0) {
            Need(at, kV0DigitalBytes - kHeaderBytes,
                 "the digital header (initial state, begin and end time, count)");
            channel.chunks.push_back(ReadChunk(at, false));
        } else {
            Need(at, 8, "the number of chunks");
            const uint64_t chunks = Le64(p_ + at);
            at += 8;
            if (chunks > (size_ - at) / kV1ChunkHeaderBytes)
                Fail(16, std::to_string(chunks) + " chunks announced, more than the " +
                             std::to_string(size_) + " bytes of the file can hold (cut short?)");
            // Bounded by the file's size above, so it fits a size_t.
            for (size_t k = 0; k < static_cast<size_t>(chunks); ++k) {
                Need(at, kV1ChunkHeaderBytes, "chunk " + std::to_string(k) + "'s header");
                channel.chunks.push_back(ReadChunk(at, true));
                const Chunk& chunk = channel.chunks.back();
                if (k > 0 && chunk.begin < channel.chunks[k - 1].end)
                    Fail(chunk.beginOffset, "chunk " + std::to_string(k) + " begins at " +
                                                Seconds(chunk.begin) + ", before the chunk before it ends (" +
                                                Seconds(channel.chunks[k - 1].end) + ")");
            }
        }
        if (at != size_)
            Fail(at, std::to_string(size_ - at) +
                         " bytes after the last transition time, where the file should end");
        return channel;
    }

private:
    [[noreturn]] void Fail(size_t offset, const std::string& problem) const {
        throw CaptureFormatError(file_.name, Byte(offset), problem);
    }

    void Need(size_t at, size_t bytes, const std::string& what) const {
        if (size_ < at || size_ - at < bytes)
            Fail(size_, "the file ends inside " + what + " (" + std::to_string(at + bytes) +
                            " bytes expected, " + std::to_string(size_) + " found)");
    }

    Chunk ReadChunk(size_t& at, bool withRate) {
        Chunk chunk;
        const size_t stateAt = at;
        chunk.initialState = Le32(p_ + at);
        at += 4;
        if (chunk.initialState > 1)
            Fail(stateAt, "initial state " + std::to_string(chunk.initialState) + ", expected 0 or 1");
        if (withRate) {
            chunk.rate = LeDouble(p_ + at);
            if (!(chunk.rate >= 1 && chunk.rate <= 1e15))
                Fail(at, "sample rate " + std::to_string(chunk.rate) + ", expected samples per second");
            at += 8;
        }
        chunk.beginOffset = at;
        chunk.begin = LeDouble(p_ + at);
        chunk.end = LeDouble(p_ + at + 8);
        if (!std::isfinite(chunk.begin)) Fail(at, "the begin time is not a number");
        if (!std::isfinite(chunk.end) || chunk.end < chunk.begin)
            Fail(at + 8, "end time " + Seconds(chunk.end) + ", expected one from the begin time " +
                             Seconds(chunk.begin) + " on");
        at += 16;
        chunk.count = Le64(p_ + at);
        const size_t countAt = at;
        at += 8;
        if (chunk.count > (size_ - at) / 8)
            Fail(size_, "the file ends after " + std::to_string((size_ - at) / 8) + " of the " +
                            std::to_string(chunk.count) + " transition times announced at byte " +
                            std::to_string(countAt) + " (cut short?)");
        chunk.times = p_ + at;
        chunk.timesOffset = at;
        double before = chunk.begin;
        for (uint64_t i = 0; i < chunk.count; ++i, at += 8) {
            const double t = chunk.Time(i);
            if (!std::isfinite(t)) Fail(at, "a transition time that is not a number");
            if (t < before)
                Fail(at, "transition time " + Seconds(t) + ", before " +
                             (i == 0 ? "the begin time " : "the transition before it, at ") +
                             Seconds(before));
            if (t > chunk.end)
                Fail(at, "transition time " + Seconds(t) + ", after the end time " + Seconds(chunk.end));
            before = t;
        }
        return chunk;
    }

    const SaleaeChannelFile& file_;
    const unsigned char* p_;
    size_t size_;
};

// Whether every time lies within kOnSample of a sample at this rate.
bool RateFits(const std::vector<Channel>& channels, double base, double rate) {
    for (const Channel& channel : channels) {
        for (const Chunk& chunk : channel.chunks) {
            for (uint64_t i = 0; i < chunk.count; ++i) {
                const double samples = (chunk.Time(i) - base) * rate;
                if (std::fabs(samples - std::round(samples)) > kOnSample) return false;
            }
        }
    }
    return true;
}

// The rate whose period is the longest step every transition time (counted
// from the begin time) is a whole number of: the shortest distance between
// two of them, or a whole fraction of it. 0 when none fits.
uint64_t FinestSharedRate(const std::vector<Channel>& channels, double base, bool& noTransitions) {
    std::vector<double> times;
    for (const Channel& channel : channels)
        for (const Chunk& chunk : channel.chunks)
            for (uint64_t i = 0; i < chunk.count; ++i) times.push_back(chunk.Time(i) - base);
    noTransitions = times.empty();
    if (times.empty()) return 0;
    std::sort(times.begin(), times.end());
    double step = 0;
    double before = 0;
    for (double t : times) {
        const double d = t - before;
        if (d > 0 && (step == 0 || d < step)) step = d;
        before = t;
    }
    if (!(step > 0)) return 0;
    for (int parts = 1; parts <= 16; ++parts) {
        const double rate = std::round(parts / step);
        if (rate < 1 || rate > 1e12) break;
        if (RateFits(channels, base, rate)) return static_cast<uint64_t>(rate);
    }
    return 0;
}

// A signal's changes as 64-bit sample numbers, folded as they arrive: a
// change at position 0 sets the starting level; two in one sample cancel.
struct Changes {
    uint8_t initialLevel = 0;
    std::vector<uint64_t> at;
    uint64_t cancelled = 0;

    void Toggle(uint64_t position) {
        if (position == 0) {
            initialLevel ^= 1;
        } else if (!at.empty() && at.back() == position) {
            at.pop_back();
            ++cancelled;
        } else {
            at.push_back(position);
        }
    }
};

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// N of digital_N.bin (or of another prefix's files; any case), or -1.
long DigitalChannelNumber(const std::string& fileName, std::string_view prefix = "digital_") {
    const std::string lower = LowerCase(fileName);
    constexpr std::string_view kSuffix = ".bin";
    if (lower.size() <= prefix.size() + kSuffix.size() || lower.compare(0, prefix.size(), prefix) != 0 ||
        lower.compare(lower.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        return -1;
    const std::string digits = lower.substr(prefix.size(), lower.size() - prefix.size() - kSuffix.size());
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return -1;
    return std::stol(digits);
}

}  // namespace

bool IsSaleaeBinary(std::string_view bytes) {
    return bytes.size() >= kIdentifier.size() && bytes.substr(0, kIdentifier.size()) == kIdentifier;
}

std::string SaleaeSignalName(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    for (const char* extension : {".gz", ".zst", ".bin"}) {
        const std::string lower = LowerCase(name);
        const size_t length = std::strlen(extension);
        if (lower.size() > length && lower.compare(lower.size() - length, length, extension) == 0)
            name.resize(name.size() - length);
    }
    return name.empty() ? "digital" : name;
}

std::vector<std::string> SaleaeExportFiles(const std::string& path, size_t* analogFiles) {
    namespace fs = std::filesystem;
    std::error_code error;
    const bool folder = fs::is_directory(path, error);
    if (!folder && DigitalChannelNumber(fs::path(path).filename().string()) < 0) return {path};
    const fs::path dir = folder ? fs::path(path) : fs::path(path).parent_path();
    std::vector<std::pair<long, std::string>> found;
    for (fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, error), end; !error && it != end;
         it.increment(error)) {
        const long number = DigitalChannelNumber(it->path().filename().string());
        if (analogFiles != nullptr && DigitalChannelNumber(it->path().filename().string(), "analog_") >= 0)
            ++*analogFiles;
        if (number >= 0 && !fs::is_directory(it->path(), error))
            found.emplace_back(number, dir.empty() ? it->path().filename().string() : it->path().string());
    }
    if (error && found.empty())
        throw CaptureFormatError(path, "", "cannot list the folder: " + error.message());
    if (!folder && found.empty()) return {path};
    if (found.empty())
        throw CaptureFormatError(
            path, "",
            "a folder with no digital_N.bin file in it: expected a Saleae Logic 2 binary "
            "export (File > Export Data > Binary) or a capture file");
    std::sort(found.begin(), found.end());
    std::vector<std::string> files;
    for (auto& [number, file] : found) files.push_back(std::move(file));
    return files;
}

Waveform ReadSaleaeBinary(const std::vector<SaleaeChannelFile>& files, const SaleaeReadOptions& options,
                          SaleaeReadNotes* notes) {
    if (files.empty()) throw CaptureFormatError("Saleae binary export", "", "no channel file given");
    std::vector<Channel> channels;
    channels.reserve(files.size());
    for (const SaleaeChannelFile& file : files) channels.push_back(Parser(file).Parse());
    std::vector<std::string> said;

    // Position 0 is the first channel's begin time; the others must share
    // it and the end, within half a sample.
    const Channel& first = channels.front();
    const double base = first.chunks.empty() ? 0 : first.chunks.front().begin;

    uint64_t rate = options.samplerate;
    uint64_t fileRate = kNoRate;
    for (const Channel& channel : channels)
        if (!channel.chunks.empty() && fileRate == kNoRate)
            fileRate = static_cast<uint64_t>(std::llround(channel.chunks.front().rate));
    if (rate != 0) {
        if (fileRate != kNoRate && fileRate != rate)
            said.push_back("the files say " + FormatSamplerate(fileRate) + "; positions count samples at " +
                           FormatSamplerate(rate) + " (--samplerate)");
    } else if (fileRate != kNoRate) {
        rate = fileRate;
        for (size_t c = 0; c < channels.size() && said.empty(); ++c) {
            for (const Chunk& chunk : channels[c].chunks) {
                if (static_cast<uint64_t>(std::llround(chunk.rate)) != rate) {
                    said.push_back(files[c].name + " has a chunk sampled at " +
                                   FormatSamplerate(static_cast<uint64_t>(std::llround(chunk.rate))) +
                                   "; positions count samples at " + FormatSamplerate(rate) +
                                   ", the first chunk's rate");
                    break;
                }
            }
        }
    } else {
        bool noTransitions = false;
        rate = FinestSharedRate(channels, base, noTransitions);
        if (noTransitions) {
            rate = 1000000;
            said.push_back(
                "no sample rate in the files and no transition to find one from: positions count "
                "microseconds (give --samplerate)");
        } else if (rate == 0) {
            throw CaptureFormatError(
                files.front().name, "",
                "the transition times share no step of a whole number of hertz: give the "
                "capture's rate with --samplerate");
        } else {
            said.push_back(
                "no sample rate in the files (version 0): took " + FormatSamplerate(rate) +
                ", the finest step every transition time is a multiple of; give --samplerate to set it");
        }
    }
    const double samplesPerSecond = static_cast<double>(rate);
    // Far past 2^32 samples is refused below; saturating keeps the rounding defined.
    const auto position = [&](double t) -> uint64_t {
        const double samples = std::round((t - base) * samplesPerSecond);
        if (!(samples > 0)) return 0;
        return samples >= 0x1p62 ? uint64_t{1} << 62 : static_cast<uint64_t>(samples);
    };
    const double halfSample = 0.5 / samplesPerSecond;

    for (size_t c = 1; c < channels.size(); ++c) {
        const Channel& channel = channels[c];
        if (channel.chunks.empty() != first.chunks.empty()) {
            throw CaptureFormatError(files[c].name, Byte(16),
                                     std::string(channel.chunks.empty() ? "no chunk" : "chunks") +
                                         ", where " + files.front().name +
                                         (first.chunks.empty() ? " has none" : " has data") +
                                         ": the files come from different exports");
        }
        if (channel.chunks.empty()) continue;
        const Chunk& head = channel.chunks.front();
        const Chunk& tail = channel.chunks.back();
        if (std::fabs(head.begin - first.chunks.front().begin) > halfSample)
            throw CaptureFormatError(files[c].name, Byte(head.beginOffset),
                                     "begins at " + Seconds(head.begin) + ", where " + files.front().name +
                                         " begins at " + Seconds(first.chunks.front().begin) +
                                         ": the files come from different captures or exports (export every "
                                         "channel at once)");
        if (std::fabs(tail.end - first.chunks.back().end) > halfSample)
            throw CaptureFormatError(files[c].name, Byte(tail.beginOffset + 8),
                                     "ends at " + Seconds(tail.end) + ", where " + files.front().name +
                                         " ends at " + Seconds(first.chunks.back().end) +
                                         ": the files come from different captures or exports (export every "
                                         "channel at once)");
    }

    Waveform waveform;
    uint64_t end = 0;
    uint64_t cancelled = 0;
    std::vector<std::pair<uint64_t, uint64_t>> gaps;
    for (size_t c = 0; c < channels.size(); ++c) {
        const Channel& channel = channels[c];
        Changes changes;
        uint8_t level = 0;
        uint64_t before = 0;
        for (size_t k = 0; k < channel.chunks.size(); ++k) {
            const Chunk& chunk = channel.chunks[k];
            const uint64_t begin = position(chunk.begin);
            if (k == 0) {
                changes.initialLevel = static_cast<uint8_t>(chunk.initialState);
            } else {
                if (begin > before && c == 0) gaps.emplace_back(before, begin);
                if (chunk.initialState != level) changes.Toggle(begin);
            }
            level = static_cast<uint8_t>(chunk.initialState);
            for (uint64_t i = 0; i < chunk.count; ++i) {
                changes.Toggle(position(chunk.Time(i)));
                level ^= 1;
            }
            before = position(chunk.end);
        }
        end = std::max(end, before);
        cancelled += changes.cancelled;

        // The offset moves everything down; what lies before it only sets
        // the starting level.
        Signal signal;
        signal.name = files[c].signalName;
        signal.initialLevel = changes.initialLevel;
        size_t i = 0;
        for (; i < changes.at.size() && changes.at[i] <= options.offset; ++i) signal.initialLevel ^= 1;
        signal.changes.reserve(changes.at.size() - i + 2);
        for (; i < changes.at.size(); ++i) {
            const uint64_t shifted = changes.at[i] - options.offset;
            if (shifted > std::numeric_limits<uint32_t>::max()) {
                throw CaptureFormatError(
                    files[c].name, "",
                    "a transition at sample " + std::to_string(changes.at[i]) + " (at " +
                        FormatSamplerate(rate) +
                        "), past 2^32 - 1: give --offset to start later, or export a shorter span");
            }
            signal.changes.push_back(static_cast<uint32_t>(shifted));
        }
        if (!signal.changes.empty())
            end = std::max<uint64_t>(end, uint64_t{signal.changes.back()} + options.offset);
        waveform.signals.push_back(std::move(signal));
    }
    const uint64_t shiftedEnd = end <= options.offset ? 0 : end - options.offset;
    if (shiftedEnd > std::numeric_limits<uint32_t>::max())
        throw CaptureFormatError(
            files.front().name, "",
            "the capture lasts " + std::to_string(end) + " samples at " + FormatSamplerate(rate) +
                ", past 2^32 - 1: give --offset to start later, or export a shorter span");
    waveform.endPosition = static_cast<uint32_t>(shiftedEnd);
    waveform.secondsPerPosition = 1 / samplesPerSecond;

    if (!gaps.empty()) {
        std::string spans;
        for (size_t g = 0; g < gaps.size() && g < 4; ++g)
            spans += (g == 0 ? "" : ", ") + std::to_string(gaps[g].first) + " to " +
                     std::to_string(gaps[g].second);
        if (gaps.size() > 4) spans += ", ... (" + std::to_string(gaps.size()) + " in all)";
        said.push_back("no data from " + spans + " (gaps between the chunks): each line keeps its level");
    }
    if (cancelled > 0)
        said.push_back(std::to_string(cancelled) + " pulses shorter than a sample at " +
                       FormatSamplerate(rate) + " left out (both their transitions fall on one sample)");
    if (notes != nullptr) {
        notes->samplerate = rate;
        notes->notes = std::move(said);
    }
    return waveform;
}

}  // namespace fd::host
