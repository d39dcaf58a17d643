#include "host/formats/dsview_session.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "host/formats/format_error.h"
#include "host/formats/samplerate.h"
#include "host/formats/session_archive.h"

namespace fd::host {
namespace {

constexpr size_t kHeaderLimit = 1 << 20;  // a header is a few hundred bytes
constexpr int kLogicMode = 0;             // DSView's device mode of a logic analyzer

bool ParseCount(const std::string& text, uint64_t& value) {
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0' && errno == 0;
}

class SessionReader {
public:
    SessionReader(zip_t* zip, const std::string& name) : zip_(zip), name_(name) {}

    Waveform Read(DsviewReadNotes* notes) {
        const std::string text = ReadHeader();
        const IniText ini = ParseIni(text);
        const auto section = ini.sections.find("header");
        if (section == ini.sections.end())
            Fail("member header", "no [header] section: expected DSView's session header");
        const auto& header = section->second;
        const auto value = [&](const char* key) {
            const auto it = header.find(key);
            return it == header.end() ? std::string() : it->second;
        };
        const auto where = [&](const char* key) {
            const auto it = ini.lines.find(std::string("header/") + key);
            return "member header, line " + std::to_string(it == ini.lines.end() ? 0 : it->second);
        };

        uint64_t version = 0;
        const auto versions = ini.sections.find("version");
        if (versions != ini.sections.end() && versions->second.count("version") != 0)
            ParseCount(versions->second.at("version"), version);
        if (version < 2)
            Fail("member header", "session format version " + std::to_string(version) +
                                      ", whose samples lie in one data member: expected version 2 or later "
                                      "(L-N/block members); "
                                      "open the file in a current DSView and save it again");
        uint64_t mode = kLogicMode;
        if (!value("device mode").empty() && (!ParseCount(value("device mode"), mode) || mode != kLogicMode))
            Fail(where("device mode"),
                 "device mode " + value("device mode") +
                     ", an oscilloscope or data acquisition session: cfdecode reads logic "
                     "analyzer sessions (device mode 0)");
        uint64_t samples = 0, blocks = 0, probesTotal = 0;
        if (!ParseCount(value("total samples"), samples))
            Fail(header.count("total samples") ? where("total samples") : "member header",
                 "expected total samples = a whole number");
        if (samples > std::numeric_limits<uint32_t>::max())
            Fail(where("total samples"),
                 std::to_string(samples) + " samples, past 2^32 - 1: save a shorter span of the capture");
        if (!ParseCount(value("total blocks"), blocks) || (samples > 0 && blocks == 0) || blocks > 1000000)
            Fail(header.count("total blocks") ? where("total blocks") : "member header",
                 "expected total blocks = the number of sample blocks of each probe");
        const bool probeCount = ParseCount(value("total probes"), probesTotal);
        const uint64_t rate = value("samplerate").empty() ? 0 : ParseSamplerate(value("samplerate"));
        if (!value("samplerate").empty() && rate == 0)
            Fail(where("samplerate"),
                 "samplerate " + value("samplerate") + ", expected a rate such as 100 MHz");

        // probeN = name, N the channel's index.
        std::map<uint64_t, std::string> probes;
        for (const auto& [key, name] : header) {
            uint64_t index = 0;
            if (key.size() > 5 && key.compare(0, 5, "probe") == 0 && ParseCount(key.substr(5), index) &&
                index < 1024)
                probes[index] = name;
        }
        if (probes.empty()) Fail("member header", "no probeN = name line: the session has no logic channel");
        if (probeCount && probesTotal != probes.size())
            Fail(where("total probes"), "total probes = " + std::to_string(probesTotal) + ", but " +
                                            std::to_string(probes.size()) + " probes are named");

        Waveform waveform;
        waveform.endPosition = static_cast<uint32_t>(samples);
        waveform.secondsPerPosition = rate == 0 ? 0 : 1 / static_cast<double>(rate);
        for (const auto& [index, probeName] : probes)
            waveform.signals.push_back(
                ReadProbe(index, probeName.empty() ? std::to_string(index) : probeName, samples, blocks));
        if (notes != nullptr) {
            notes->samples = samples;
            notes->samplerate = rate;
        }
        return waveform;
    }

private:
    [[noreturn]] void Fail(const std::string& place, const std::string& problem) const {
        throw CaptureFormatError(name_, place, problem);
    }

    std::string ReadHeader() {
        std::string out;
        if (!ReadMember("header", out, kHeaderLimit))
            Fail("", "a zip archive without a header member: expected a DSView session (.dsl)");
        return out;
    }

    // A member whole; false when there is none.
    bool ReadMember(const std::string& member, std::string& out, uint64_t limit) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat(zip_, member.c_str(), 0, &stat) != 0) return false;
        if ((stat.valid & ZIP_STAT_SIZE) == 0 || stat.size > limit)
            Fail("member " + member, "holds more than the header's total samples leave room for (" +
                                         std::to_string(limit) + " bytes)");
        ZipFilePtr file(zip_fopen(zip_, member.c_str(), 0));
        if (!file) Fail("member " + member, std::string("cannot be opened: ") + zip_strerror(zip_));
        out.resize(stat.size);
        zip_uint64_t done = 0;
        while (done < stat.size) {
            const zip_int64_t got = zip_fread(file.get(), out.data() + done, stat.size - done);
            if (got <= 0)
                Fail("member " + member + ", byte " + std::to_string(done),
                     "is corrupt or cut short (its checksum or compressed data is wrong)");
            done += static_cast<zip_uint64_t>(got);
        }
        return true;
    }

    Signal ReadProbe(uint64_t index, const std::string& name, uint64_t samples, uint64_t blocks) {
        Signal signal;
        signal.name = name;
        uint64_t position = 0;  // of the block's first sample
        uint8_t level = 0;
        std::string data;
        std::string last;
        for (uint64_t b = 0; b < blocks && position < samples; ++b) {
            const std::string member = "L-" + std::to_string(index) + "/" + std::to_string(b);
            // A block holds at most the samples still to come, in whole 64-bit words.
            const uint64_t room = (samples - position + 63) / 64 * 8;
            if (!ReadMember(member, data, room)) {
                Fail("member " + member, "is missing: probe" + std::to_string(index) + " has " +
                                             std::to_string(b) + " of the " + std::to_string(blocks) +
                                             " blocks the header announces");
            }
            if (data.empty()) Fail("member " + member, "is empty: expected the probe's samples, a bit each");
            const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
            const uint64_t count = std::min<uint64_t>(uint64_t{data.size()} * 8, samples - position);
            if (position == 0) {
                level = bytes[0] & 1;
                signal.initialLevel = level;
            }
            for (uint64_t i = 0; i < count;) {
                const unsigned char byte = bytes[i / 8];
                if (i % 8 == 0 && count - i >= 8 && byte == (level ? 0xFF : 0x00)) {
                    i += 8;
                    continue;
                }
                const uint8_t bit = (byte >> (i % 8)) & 1;
                if (bit != level) {
                    signal.changes.push_back(static_cast<uint32_t>(position + i));
                    level = bit;
                }
                ++i;
            }
            position += count;
            last = member;
        }
        if (position < samples)
            Fail(last.empty() ? "member header" : "member " + last,
                 "probe" + std::to_string(index) + "'s blocks hold " + std::to_string(position) +
                     " samples, where the header says total samples = " + std::to_string(samples));
        signal.changes.reserve(signal.changes.size() + 2);
        return signal;
    }

    zip_t* zip_;
    std::string name_;
};

}  // namespace

Waveform ReadDsviewSession(const void* data, size_t size, const std::string& name, DsviewReadNotes* notes) {
    zip_error_t error;
    zip_error_init(&error);
    const ZipPtr zip = OpenZipFromMemory(data, size, &error);
    if (!zip) {
        const int code = zip_error_code_zip(&error);
        const std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        if (code == ZIP_ER_INCONS || code == ZIP_ER_CRC || code == ZIP_ER_EOF || code == ZIP_ER_NOZIP)
            throw CaptureFormatError(name, "", "the zip archive is damaged or cut short: " + text);
        throw CaptureFormatError(name, "", "not a DSView session (zip archive): " + text);
    }
    zip_error_fini(&error);
    return SessionReader(zip.get(), name).Read(notes);
}

}  // namespace fd::host
