#include "host/formats/sigrok_session.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "host/formats/format_error.h"

namespace fd::host {
namespace {

constexpr size_t kReadBlock = 1 << 20;
constexpr size_t kWriteChunk = 4 << 20;   // bytes per logic chunk, as sigrok writes them
constexpr size_t kMetadataLimit = 1 << 20;  // a metadata member is a few hundred bytes

struct ZipCloser {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct FileCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;
using ZipFilePtr = std::unique_ptr<zip_file_t, FileCloser>;

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

std::string ZipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// Reads a small member whole; false when the archive has no such member.
bool ReadSmallMember(zip_t* zip, const std::string& path, const char* name, std::string& out) {
    zip_stat_t stat;
    if (zip_stat(zip, name, 0, &stat) != 0) return false;
    if (stat.size > kMetadataLimit) throw CaptureFormatError(path, std::string("member ") + name, "is too large");
    ZipFilePtr file(zip_fopen(zip, name, 0));
    if (!file) throw CaptureFormatError(path, std::string("member ") + name, "cannot be opened");
    out.resize(stat.size);
    const zip_int64_t got = zip_fread(file.get(), out.data(), stat.size);
    if (got < 0 || static_cast<zip_uint64_t>(got) != stat.size)
        throw CaptureFormatError(path, std::string("member ") + name, "is corrupt or cut short");
    return true;
}

using IniSection = std::map<std::string, std::string>;

// sections by name; keys lower-cased.
std::map<std::string, IniSection> ParseIni(const std::string& text) {
    std::map<std::string, IniSection> sections;
    std::string section;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = Trim(line.substr(0, eq));
        std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
        sections[section][key] = Trim(line.substr(eq + 1));
    }
    return sections;
}

bool ParseCount(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0';
}

}  // namespace

namespace {

Waveform ReadSession(ZipPtr zip, const std::string& path, SigrokReadNotes* notes);

}  // namespace

Waveform ReadSigrokSession(const std::string& path, SigrokReadNotes* notes) {
    int code = 0;
    ZipPtr zip(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!zip) {
        if (code == ZIP_ER_NOENT || code == ZIP_ER_OPEN) throw CaptureFormatError(path, "", "cannot open the file");
        if (code == ZIP_ER_INCONS || code == ZIP_ER_CRC || code == ZIP_ER_EOF)
            throw CaptureFormatError(path, "", "the zip archive is damaged or cut short: " + ZipErrorText(code));
        throw CaptureFormatError(path, "", "not a sigrok session (zip archive): " + ZipErrorText(code));
    }
    return ReadSession(std::move(zip), path, notes);
}

Waveform ReadSigrokSession(const void* data, size_t size, const std::string& name, SigrokReadNotes* notes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    if (source == nullptr) throw CaptureFormatError(name, "", "cannot read: " + std::string(zip_error_strerror(&error)));
    ZipPtr zip(zip_open_from_source(source, ZIP_RDONLY, &error));
    if (!zip) {
        zip_source_free(source);
        const int code = zip_error_code_zip(&error);
        std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        if (code == ZIP_ER_INCONS || code == ZIP_ER_CRC || code == ZIP_ER_EOF)
            throw CaptureFormatError(name, "", "the zip archive is damaged or cut short: " + text);
        throw CaptureFormatError(name, "", "not a sigrok session (zip archive): " + text);
    }
    zip_error_fini(&error);
    return ReadSession(std::move(zip), name, notes);
}

namespace {

Waveform ReadSession(ZipPtr zip, const std::string& path, SigrokReadNotes* notes) {
    std::string version, metadataText;
    if (!ReadSmallMember(zip.get(), path, "metadata", metadataText))
        throw CaptureFormatError(path, "", "no metadata member; not a sigrok session");
    if (ReadSmallMember(zip.get(), path, "version", version) && Trim(version) != "2" && Trim(version) != "1")
        throw CaptureFormatError(path, "member version", "session format " + Trim(version) + " is not supported");

    const auto sections = ParseIni(metadataText);
    const auto device = sections.find("device 1");
    if (device == sections.end()) throw CaptureFormatError(path, "member metadata", "no [device 1] section");
    const IniSection& meta = device->second;
    auto get = [&](const char* key) {
        auto it = meta.find(key);
        return it == meta.end() ? std::string() : it->second;
    };

    long long unitSize = 1, totalProbes = 0, totalAnalog = 0;
    if (!get("unitsize").empty() && !ParseCount(get("unitsize"), unitSize))
        throw CaptureFormatError(path, "member metadata", "unitsize is not a number");
    if (unitSize < 1 || unitSize > 4)
        throw CaptureFormatError(path, "member metadata", "unitsize " + std::to_string(unitSize) + " is not supported (1 to 4 bytes)");
    if (!ParseCount(get("total probes"), totalProbes) || totalProbes < 0)
        throw CaptureFormatError(path, "member metadata", "expected a number for 'total probes'");
    if (totalProbes > unitSize * 8)
        throw CaptureFormatError(path, "member metadata", std::to_string(totalProbes) + " probes do not fit in unitsize " + std::to_string(unitSize));
    if (!get("total analog").empty()) ParseCount(get("total analog"), totalAnalog);
    const uint64_t samplerate = get("samplerate").empty() ? 0 : ParseSamplerate(get("samplerate"));
    std::string captureFile = get("capturefile");
    if (captureFile.empty()) captureFile = "logic-1";

    Waveform waveform;
    std::array<int, 32> signalOfBit;
    signalOfBit.fill(-1);
    uint32_t mask = 0;
    for (long long probe = 1; probe <= totalProbes; ++probe) {
        const std::string name = get(("probe" + std::to_string(probe)).c_str());
        if (name.empty()) continue;  // a disabled probe keeps its bit but has no name
        signalOfBit[static_cast<size_t>(probe - 1)] = static_cast<int>(waveform.signals.size());
        mask |= 1u << (probe - 1);
        waveform.signals.push_back({name, 0, {}});
    }
    if (waveform.signals.empty()) throw CaptureFormatError(path, "member metadata", "names no logic probe");
    if (samplerate != 0) waveform.secondsPerPosition = 1.0 / static_cast<double>(samplerate);

    // Chunks: <capturefile>-1, -2, … in numeric order, or one <capturefile>.
    std::map<long long, zip_uint64_t> chunks;
    const zip_int64_t entries = zip_get_num_entries(zip.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* name = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), 0);
        if (name == nullptr) continue;
        const std::string member = name;
        long long number = 0;
        if (member == captureFile) chunks[0] = static_cast<zip_uint64_t>(i);
        else if (member.rfind(captureFile + "-", 0) == 0 && ParseCount(member.substr(captureFile.size() + 1), number) && number > 0)
            chunks[number] = static_cast<zip_uint64_t>(i);
    }
    if (chunks.empty()) throw CaptureFormatError(path, "", "no logic data member '" + captureFile + "-1'");
    if (chunks.count(0) && chunks.size() > 1) chunks.erase(0);
    long long expected = chunks.begin()->first == 0 ? 0 : 1;
    for (const auto& [number, index] : chunks) {
        if (number != expected) throw CaptureFormatError(path, "", "logic chunk " + captureFile + "-" + std::to_string(expected) + " is missing");
        ++expected;
    }

    const size_t unit = static_cast<size_t>(unitSize);
    uint64_t sample = 0;
    uint32_t previous = 0;
    std::vector<uint8_t> block(kReadBlock - kReadBlock % unit);
    for (const auto& [number, index] : chunks) {
        const std::string member = zip_get_name(zip.get(), index, 0);
        zip_stat_t stat;
        if (zip_stat_index(zip.get(), index, 0, &stat) != 0)
            throw CaptureFormatError(path, "member " + member, "cannot be read");
        if (stat.size % unit != 0)
            throw CaptureFormatError(path, "member " + member, "size " + std::to_string(stat.size) +
                                     " is not a multiple of unitsize " + std::to_string(unit));
        ZipFilePtr file(zip_fopen_index(zip.get(), index, 0));
        if (!file) throw CaptureFormatError(path, "member " + member, "cannot be opened");
        zip_uint64_t left = stat.size;
        while (left > 0) {
            const zip_uint64_t want = std::min<zip_uint64_t>(left, block.size());
            const zip_int64_t got = zip_fread(file.get(), block.data(), want);
            if (got < 0 || static_cast<zip_uint64_t>(got) != want)
                throw CaptureFormatError(path, "member " + member + ", byte " + std::to_string(stat.size - left),
                                         "data is corrupt or cut short");
            left -= want;
            const size_t units = static_cast<size_t>(want) / unit;
            if (sample + units > 0xFFFFFFFFull)
                throw CaptureFormatError(path, "member " + member, "more than 2^32 samples; positions are 32-bit");
            const uint8_t* p = block.data();
            for (size_t u = 0; u < units; ++u, p += unit) {
                uint32_t value = 0;
                std::memcpy(&value, p, unit);  // little-endian host
                value &= mask;
                if (sample == 0) {
                    for (int bit = 0; bit < 32; ++bit) {
                        if (signalOfBit[static_cast<size_t>(bit)] >= 0)
                            waveform.signals[static_cast<size_t>(signalOfBit[static_cast<size_t>(bit)])].initialLevel =
                                static_cast<uint8_t>((value >> bit) & 1);
                    }
                } else {
                    for (uint32_t diff = value ^ previous; diff != 0; diff &= diff - 1) {
                        const int bit = __builtin_ctz(diff);
                        waveform.signals[static_cast<size_t>(signalOfBit[static_cast<size_t>(bit)])].changes.push_back(
                            static_cast<uint32_t>(sample));
                    }
                }
                previous = value;
                ++sample;
            }
        }
    }
    waveform.endPosition = static_cast<uint32_t>(sample);
    if (notes != nullptr) {
        notes->analogChannels = static_cast<int>(totalAnalog);
        notes->samples = sample;
        notes->samplerate = samplerate;
    }
    return waveform;
}

}  // namespace

namespace {

// One logic chunk as a libzip source: its samples are made as libzip reads
// them. Opening again starts over, so libzip may read a chunk twice.
struct ChunkSource {
    const std::vector<std::pair<uint32_t, uint32_t>>* events;
    size_t unit;
    uint64_t first;  // sample number of the chunk's first sample
    uint64_t count;
    uint32_t firstValue;  // levels at `first`, changes there applied
    size_t firstEvent;    // first event after `first`
    // Read state.
    uint64_t done = 0;
    uint32_t value = 0;
    size_t event = 0;

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto& chunk = *static_cast<ChunkSource*>(user);
        switch (command) {
        case ZIP_SOURCE_OPEN:
            chunk.done = 0;
            chunk.value = chunk.firstValue;
            chunk.event = chunk.firstEvent;
            return 0;
        case ZIP_SOURCE_READ: {
            auto* out = static_cast<uint8_t*>(data);
            const uint64_t samples = std::min<uint64_t>(length / chunk.unit, chunk.count - chunk.done);
            const auto& list = *chunk.events;
            for (uint64_t i = 0; i < samples; ++i, ++chunk.done) {
                const uint64_t position = chunk.first + chunk.done;
                while (chunk.event < list.size() && list[chunk.event].first <= position) chunk.value ^= list[chunk.event++].second;
                std::memcpy(out + i * chunk.unit, &chunk.value, chunk.unit);  // little-endian host
            }
            return static_cast<zip_int64_t>(samples * chunk.unit);
        }
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_STAT: {
            if (length < sizeof(zip_stat_t)) return -1;
            auto* stat = static_cast<zip_stat_t*>(data);
            zip_stat_init(stat);
            stat->size = chunk.count * chunk.unit;
            stat->mtime = std::time(nullptr);
            stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                                  ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            return -1;
        }
    }
};

}  // namespace

void WriteSigrokSession(const Waveform& waveform, const std::string& path, uint64_t samplerate) {
    if (waveform.signals.size() > 32) throw std::runtime_error(path + ": a sigrok session holds at most 32 logic probes here");
    if (samplerate == 0 && waveform.secondsPerPosition > 0)
        samplerate = static_cast<uint64_t>(std::llround(1.0 / waveform.secondsPerPosition));
    if (samplerate == 0) samplerate = 1000000;
    const size_t unit = std::max<size_t>(1, (waveform.signals.size() + 7) / 8);

    std::string metadata = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n";
    metadata += "total probes=" + std::to_string(waveform.signals.size()) + "\n";
    metadata += "samplerate=" + FormatSamplerate(samplerate) + "\ntotal analog=0\n";
    for (size_t i = 0; i < waveform.signals.size(); ++i)
        metadata += "probe" + std::to_string(i + 1) + "=" + waveform.signals[i].name + "\n";
    metadata += "unitsize=" + std::to_string(unit) + "\n";

    // Every change of every signal, in position order, as (position, bit).
    std::vector<std::pair<uint32_t, uint32_t>> events;
    uint32_t value = 0;
    for (size_t i = 0; i < waveform.signals.size(); ++i) {
        const Signal& s = waveform.signals[i];
        if (s.initialLevel) value |= 1u << i;
        for (uint32_t change : s.changes) events.emplace_back(change, 1u << i);
    }
    std::sort(events.begin(), events.end());

    // Each chunk knows its samples' first value and first event, and makes
    // its bytes only while the archive is written, so the samples are never
    // held whole.
    const uint64_t samplesPerChunk = kWriteChunk / unit;
    std::vector<ChunkSource> chunks;
    size_t next = 0;
    for (uint64_t first = 0; first < waveform.endPosition; first += samplesPerChunk) {
        while (next < events.size() && events[next].first <= first) value ^= events[next++].second;
        chunks.push_back({&events, unit, first, std::min<uint64_t>(samplesPerChunk, waveform.endPosition - first), value, next});
    }

    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (zip == nullptr) throw std::runtime_error(path + ": cannot create: " + ZipErrorText(code));
    auto add = [&](const std::string& name, const void* data, size_t size) {
        zip_source_t* source = zip_source_buffer(zip, data, size, 0);
        if (source == nullptr || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            if (source) zip_source_free(source);
            std::string error = zip_strerror(zip);
            zip_discard(zip);
            throw std::runtime_error(path + ": cannot write member " + name + ": " + error);
        }
    };
    static const char kVersion[] = "2";
    add("version", kVersion, 1);
    add("metadata", metadata.data(), metadata.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        const std::string name = "logic-1-" + std::to_string(i + 1);
        zip_source_t* source = zip_source_function(zip, ChunkSource::Callback, &chunks[i]);
        if (source == nullptr || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            if (source) zip_source_free(source);
            std::string error = zip_strerror(zip);
            zip_discard(zip);
            throw std::runtime_error(path + ": cannot write member " + name + ": " + error);
        }
    }
    if (zip_close(zip) != 0) {
        std::string error = zip_strerror(zip);
        zip_discard(zip);
        throw std::runtime_error(path + ": cannot write: " + error);
    }
}

}  // namespace fd::host
