// sigrok session files: round trip through our writer, and the broken files
// a reader meets (each refused with a message naming file and place).
#include "host/formats/sigrok_session.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "host/formats/format_error.h"

namespace {

using namespace fd::host;
namespace fs = std::filesystem;

class SigrokSession : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("fd-sr-" + std::to_string(std::random_device{}()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string File(const char* name) { return (dir / name).string(); }

    // A session built member by member, for the broken cases.
    std::string MakeZip(const char* name, const std::vector<std::pair<std::string, std::string>>& members) {
        const std::string path = File(name);
        int error = 0;
        zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        EXPECT_NE(zip, nullptr);
        for (const auto& [member, data] : members) {
            zip_source_t* source = zip_source_buffer(zip, data.data(), data.size(), 0);
            zip_file_add(zip, member.c_str(), source, ZIP_FL_OVERWRITE);
        }
        EXPECT_EQ(zip_close(zip), 0);
        return path;
    }

    // A session of `unit`-byte samples cut into members of the given
    // lengths (in samples); logic-1-N is kept uncompressed when N is in
    // `stored`.
    std::string MakeSession(const char* name, const std::string& metadata, const std::string& samples,
                            size_t unit, const std::vector<size_t>& lengths,
                            const std::set<size_t>& stored = {}) {
        const std::string path = File(name);
        int error = 0;
        zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        EXPECT_NE(zip, nullptr);
        std::vector<std::string> members = {"2", metadata};
        size_t at = 0;
        for (size_t length : lengths) {
            members.push_back(samples.substr(at, length * unit));
            at += length * unit;
        }
        EXPECT_EQ(at, samples.size());
        for (size_t i = 0; i < members.size(); ++i) {
            const std::string member = i == 0   ? "version"
                                       : i == 1 ? "metadata"
                                                : "logic-1-" + std::to_string(i - 1);
            zip_source_t* source = zip_source_buffer(zip, members[i].data(), members[i].size(), 0);
            const zip_int64_t index = zip_file_add(zip, member.c_str(), source, ZIP_FL_OVERWRITE);
            EXPECT_GE(index, 0);
            if (i >= 2 && stored.count(i - 1) != 0)
                zip_set_file_compression(zip, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
        }
        EXPECT_EQ(zip_close(zip), 0);
        return path;
    }
};

Waveform Sample() {
    Waveform w;
    w.endPosition = 5000;
    w.secondsPerPosition = 1e-8;
    for (int i = 0; i < 26; ++i) {
        Signal s{"S" + std::to_string(i), static_cast<uint8_t>(i % 2), {}};
        for (uint32_t p = static_cast<uint32_t>(3 + i); p < 5000; p += static_cast<uint32_t>(17 + i * 7))
            s.changes.push_back(p);
        w.signals.push_back(s);
    }
    return w;
}

std::string Metadata(const std::string& extra) {
    return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\ntotal probes=2\n"
           "samplerate=1 MHz\nprobe1=A\nprobe2=B\n" +
           extra;
}

TEST_F(SigrokSession, RoundTrip) {
    const Waveform w = Sample();
    WriteSigrokSession(w, File("a.sr"));
    SigrokReadNotes notes;
    const Waveform r = ReadSigrokSession(File("a.sr"), &notes);
    EXPECT_EQ(notes.samplerate, 100000000u);
    EXPECT_EQ(notes.samples, 5000u);
    EXPECT_EQ(r.endPosition, w.endPosition);
    EXPECT_DOUBLE_EQ(r.secondsPerPosition, 1e-8);
    ASSERT_EQ(r.signals.size(), w.signals.size());
    for (size_t i = 0; i < w.signals.size(); ++i) {
        EXPECT_EQ(r.signals[i].name, w.signals[i].name);
        EXPECT_EQ(r.signals[i].initialLevel, w.signals[i].initialLevel) << i;
        EXPECT_EQ(r.signals[i].changes, w.signals[i].changes) << i;
    }
}

// Chunks of 4 MiB: changes on both sides of each chunk boundary, and a
// zero-width glitch (two changes at one sample, which cancel).
TEST_F(SigrokSession, RoundTripAcrossChunks) {
    constexpr uint32_t kPerChunk = (4u << 20) / 4;  // 26 signals: 4-byte samples
    Waveform w;
    w.endPosition = 3 * kPerChunk + 17;
    for (int i = 0; i < 26; ++i)
        w.signals.push_back({"S" + std::to_string(i), static_cast<uint8_t>(i % 2), {}});
    w.signals[0].changes = {kPerChunk - 1, kPerChunk, 2 * kPerChunk + 1, 3 * kPerChunk};
    w.signals[25].changes = {1, kPerChunk + 1, 3 * kPerChunk + 16};
    w.signals[7].changes = {5, 2 * kPerChunk};
    Waveform glitchy = w;
    glitchy.signals[7].changes = {5, 9, 9, 2 * kPerChunk};
    WriteSigrokSession(glitchy, File("chunks.sr"));
    int error = 0;
    zip_t* zip = zip_open(File("chunks.sr").c_str(), ZIP_RDONLY, &error);
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(zip_name_locate(zip, "logic-1-4", 0), 5);  // version, metadata, four chunks
    zip_discard(zip);
    const Waveform r = ReadSigrokSession(File("chunks.sr"));
    EXPECT_EQ(r.endPosition, w.endPosition);
    for (size_t i = 0; i < w.signals.size(); ++i) {
        EXPECT_EQ(r.signals[i].initialLevel, w.signals[i].initialLevel) << i;
        EXPECT_EQ(r.signals[i].changes, w.signals[i].changes) << i;
    }
}

TEST_F(SigrokSession, DisabledProbeKeepsItsBit) {
    // probe2 has no name: bit 1 is skipped, probe3 is bit 2.
    std::string data;
    for (int s = 0; s < 8; ++s) data.push_back(static_cast<char>(s & 0x07));
    const auto path = MakeZip(
        "gap.sr",
        {{"version", "2"},
         {"metadata", "[device 1]\ntotal probes=3\nprobe1=X\nprobe3=Z\nunitsize=1\nsamplerate=24 MHz\n"},
         {"logic-1-1", data.substr(0, 4)},
         {"logic-1-2", data.substr(4)}});
    const Waveform r = ReadSigrokSession(path);
    ASSERT_EQ(r.signals.size(), 2u);
    EXPECT_EQ(r.signals[0].changes, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(r.signals[1].changes, (std::vector<uint32_t>{4}));
    EXPECT_EQ(r.endPosition, 8u);

    std::string wide(8, '\0');  // two samples of unitsize 4, probe 32 toggling
    wide[7] = static_cast<char>(0x80);
    std::string meta = "[device 1]\ntotal probes=32\nunitsize=4\nprobe32=TOP\n";
    const Waveform r4 = ReadSigrokSession(MakeZip("u4.sr", {{"metadata", meta}, {"logic-1-1", wide}}));
    ASSERT_EQ(r4.signals.size(), 1u);
    EXPECT_EQ(r4.signals[0].changes, std::vector<uint32_t>{1});
}

// What the reader must make of raw samples: each named probe's level at
// sample 0 and every sample where its bit differs from the sample before.
Waveform Expected(const std::string& samples, size_t unit, int totalProbes, const std::set<int>& disabled) {
    Waveform w;
    const size_t count = samples.size() / unit;
    w.endPosition = static_cast<uint32_t>(count);
    auto value = [&](size_t i) {
        uint64_t v = 0;
        for (size_t b = 0; b < unit; ++b)
            v |= uint64_t{static_cast<uint8_t>(samples[i * unit + b])} << (8 * b);
        return v;
    };
    for (int probe = 1; probe <= totalProbes; ++probe) {
        if (disabled.count(probe) != 0) continue;
        Signal s{"P" + std::to_string(probe), 0, {}};
        const int bit = probe - 1;
        if (count > 0) s.initialLevel = static_cast<uint8_t>((value(0) >> bit) & 1);
        for (size_t i = 1; i < count; ++i) {
            if (((value(i) ^ value(i - 1)) >> bit) & 1) s.changes.push_back(static_cast<uint32_t>(i));
        }
        w.signals.push_back(s);
    }
    return w;
}

std::string SessionMetadata(size_t unit, int totalProbes, const std::set<int>& disabled) {
    std::string text =
        "[device 1]\ncapturefile=logic-1\nsamplerate=50 MHz\nunitsize=" + std::to_string(unit) +
        "\ntotal probes=" + std::to_string(totalProbes) + "\n";
    for (int probe = 1; probe <= totalProbes; ++probe) {
        if (disabled.count(probe) == 0)
            text += "probe" + std::to_string(probe) + "=P" + std::to_string(probe) + "\n";
    }
    return text;
}

// Samples as a capture has them: quiet stretches, single bits changing,
// many at once, and a bit toggling on every sample for a while (words of
// the planes with every bit set). Every member after the first starts with
// a change in some bits, and others may fall inside quiet runs.
std::string MakeSamples(size_t count, size_t unit, const std::vector<size_t>& lengths, uint64_t seed) {
    std::mt19937_64 random(seed);
    const uint64_t mask = unit == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * unit)) - 1;
    std::set<size_t> starts;  // members 2, 4, …: the others start wherever the samples are
    size_t at = 0;
    for (size_t m = 0; m < lengths.size(); ++m) {
        if (m % 2 == 1) starts.insert(at);
        at += lengths[m];
    }
    std::string samples;
    samples.reserve(count * unit);
    uint64_t value = random() & mask;
    size_t quiet = 0, clock = 0;
    for (size_t i = 0; i < count; ++i) {
        if (starts.count(i) != 0) {
            value ^= (random() | 1) & mask;
        } else if (clock > 0) {
            value ^= uint64_t{1} << (random() % 2 == 0 ? 0 : 8 * unit - 1);
            --clock;
        } else if (quiet > 0) {
            --quiet;
        } else {
            switch (random() % 6) {
                case 0:
                    quiet = random() % 400;
                    break;
                case 1:
                    clock = 64 + random() % 200;
                    break;
                case 2:
                    value ^= (random() & random()) & mask;
                    break;
                default:
                    value ^= uint64_t{1} << (random() % (8 * unit));
                    break;
            }
        }
        for (size_t b = 0; b < unit; ++b) samples.push_back(static_cast<char>(value >> (8 * b)));
    }
    return samples;
}

// Every unit size, members of odd lengths (one sample; lengths around the
// reader's 2048-sample window), stored and deflated members, probes that
// are not enabled, and the high half of 5- to 8-byte samples. The result
// must match the plain model sample for sample.
TEST_F(SigrokSession, SamplesBecomeChangesAcrossMembers) {
    const struct {
        size_t unit;
        int probes;
        std::set<int> disabled;
        std::vector<size_t> lengths;
        std::set<size_t> stored;
    } cases[] = {
        {1, 8, {}, {3000, 1, 4097, 2048, 2047, 64}, {2}},
        {2, 12, {3, 9}, {2048, 2048, 2049, 1, 1, 5000}, {}},
        {3, 20, {1}, {7000, 333}, {1}},
        {4, 32, {}, {1, 1, 1, 9000, 2048, 6143, 4096}, {5}},
        {4, 26, {7, 8, 26}, {20000}, {}},
        {5, 34, {2, 33}, {4000, 4001}, {}},
        {8, 64, {}, {2048, 3000, 1}, {2}},
        {8,
         64,
         [] {
             std::set<int> lowOff;
             for (int p = 1; p <= 32; ++p) lowOff.insert(p);
             return lowOff;
         }(),
         {1500, 1500},
         {}},
    };
    uint64_t seed = 1;
    for (const auto& c : cases) {
        size_t count = 0;
        for (size_t length : c.lengths) count += length;
        const std::string samples = MakeSamples(count, c.unit, c.lengths, seed++);
        const std::string path = MakeSession("many.sr", SessionMetadata(c.unit, c.probes, c.disabled),
                                             samples, c.unit, c.lengths, c.stored);
        const Waveform expected = Expected(samples, c.unit, c.probes, c.disabled);
        SigrokReadNotes notes;
        const Waveform read = ReadSigrokSession(path, &notes);
        SCOPED_TRACE("unitsize " + std::to_string(c.unit) + ", " + std::to_string(c.lengths.size()) +
                     " members");
        EXPECT_EQ(notes.samples, count);
        EXPECT_EQ(read.endPosition, expected.endPosition);
        ASSERT_EQ(read.signals.size(), expected.signals.size());
        for (size_t i = 0; i < expected.signals.size(); ++i) {
            EXPECT_EQ(read.signals[i].name, expected.signals[i].name);
            EXPECT_EQ(read.signals[i].initialLevel, expected.signals[i].initialLevel)
                << expected.signals[i].name;
            EXPECT_EQ(read.signals[i].changes, expected.signals[i].changes) << expected.signals[i].name;
            EXPECT_GE(read.signals[i].changes.capacity(),
                      read.signals[i].changes.size() + 2);  // room for ToTransitionList
        }
        // The same bytes from memory.
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Waveform fromMemory = ReadSigrokSession(bytes.data(), bytes.size(), "many.sr");
        ASSERT_EQ(fromMemory.signals.size(), expected.signals.size());
        for (size_t i = 0; i < expected.signals.size(); ++i)
            EXPECT_EQ(fromMemory.signals[i].changes, expected.signals[i].changes) << expected.signals[i].name;
    }
}

// A member too large to be read whole is read a block at a time; its
// changes join those of the members around it in order.
TEST_F(SigrokSession, LargeMemberIsReadInBlocks) {
    const std::vector<size_t> lengths = {1000, (17u << 20) + 5, 1000};
    size_t count = 0;
    for (size_t length : lengths) count += length;
    // Toggles on both sides of each member boundary and of the block
    // boundary inside the large member.
    const size_t toggles[] = {999,          1000,     1001, 1000 + (16u << 20) - 1, 1000 + (16u << 20),
                              count - 1000, count - 1};
    std::string samples(count, '\0');
    char level = 0;
    for (size_t i = 0, next = 0; i < count; ++i) {
        if (next < std::size(toggles) && toggles[next] == i) {
            level = static_cast<char>(level ^ 0x05);
            ++next;
        }
        samples[i] = level;
    }
    const Waveform read =
        ReadSigrokSession(MakeSession("large.sr", SessionMetadata(1, 3, {2}), samples, 1, lengths));
    const std::vector<uint32_t> expected(std::begin(toggles), std::end(toggles));
    ASSERT_EQ(read.signals.size(), 2u);
    EXPECT_EQ(read.signals[0].changes, expected);
    EXPECT_EQ(read.signals[1].changes, expected);
    EXPECT_EQ(read.endPosition, count);
}

// A damaged member is refused by name, whichever thread reads it and
// however many members around it are sound.
TEST_F(SigrokSession, DamagedMemberIsNamed) {
    const std::vector<size_t> lengths(8, 5000);
    const std::string samples = MakeSamples(40000, 1, lengths, 99);
    for (const bool store : {true, false}) {
        const std::string path = MakeSession("damaged.sr", SessionMetadata(1, 8, {}), samples, 1, lengths,
                                             store ? std::set<size_t>{5} : std::set<size_t>{});
        // Flip a byte in the middle of logic-1-5's data.
        int error = 0;
        zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
        ASSERT_NE(zip, nullptr);
        zip_stat_t stat;
        ASSERT_EQ(zip_stat(zip, "logic-1-5", 0, &stat), 0);
        zip_discard(zip);
        std::string bytes;
        {
            std::ifstream in(path, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        const std::string member = samples.substr(4 * 5000, 5000);
        size_t at = std::string::npos;
        if (store) {
            at = bytes.find(member) + 2500;
        } else {
            // The member's name first appears in its local header, which
            // its deflated data follows.
            at = bytes.find("logic-1-5") + 9 + static_cast<size_t>(stat.comp_size) / 2;
        }
        ASSERT_LT(at, bytes.size());
        bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
        { std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes; }
        try {
            ReadSigrokSession(path);
            ADD_FAILURE() << "a damaged member was accepted";
        } catch (const CaptureFormatError& e) {
            EXPECT_NE(std::string(e.what()).find("member logic-1-5"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("corrupt"), std::string::npos) << e.what();
        }
    }
}

// A compressed size in the directory far beyond what the data can take is
// not believed (nothing that large is set aside; the fuzz corpus holds the
// case that found it): the member is read as its deflated stream says.
TEST_F(SigrokSession, ImplausibleCompressedSizeIsNotBelieved) {
    const std::vector<size_t> lengths = {3000, 3000};
    const std::string samples = MakeSamples(6000, 1, lengths, 7);
    const std::string path = MakeSession("claims.sr", SessionMetadata(1, 8, {}), samples, 1, lengths);
    std::string bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The central directory entry of logic-1-1: compressed size at offset
    // 20, the name at 46.
    const std::string name = "logic-1-1";
    size_t entry = std::string::npos;
    for (size_t at = bytes.find("PK\x01\x02"); at != std::string::npos;
         at = bytes.find("PK\x01\x02", at + 1)) {
        if (bytes.compare(at + 46, name.size(), name) == 0) entry = at;
    }
    ASSERT_NE(entry, std::string::npos);
    const char huge[4] = {0, 0, 0, static_cast<char>(0xFB)};
    bytes.replace(entry + 20, 4, huge, 4);
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes; }
    const Waveform expected = Expected(samples, 1, 8, {});
    const Waveform read = ReadSigrokSession(path);
    ASSERT_EQ(read.signals.size(), expected.signals.size());
    for (size_t i = 0; i < expected.signals.size(); ++i)
        EXPECT_EQ(read.signals[i].changes, expected.signals[i].changes);
}

TEST_F(SigrokSession, BrokenFilesAreRefusedWithPlace) {
    { std::ofstream(File("junk.sr")) << "this is not a zip archive at all"; }
    const struct {
        std::string path;
        const char* expected;
    } cases[] = {
        {File("missing.sr"), "cannot open"},
        {File("junk.sr"), "not a sigrok session"},
        {MakeZip("nometa.sr", {{"version", "2"}, {"logic-1-1", "\x01"}}), "no metadata"},
        {MakeZip("unit.sr", {{"metadata", Metadata("unitsize=2\n")}, {"logic-1-1", std::string(3, '\0')}}),
         "not a multiple of unitsize"},
        {MakeZip("unit9.sr", {{"metadata", Metadata("unitsize=9\n")}, {"logic-1-1", std::string(9, '\0')}}),
         "unitsize 9 is not supported"},
        {MakeZip("probes.sr",
                 {{"metadata", "[device 1]\ntotal probes=9\nunitsize=1\nprobe1=A\n"}, {"logic-1-1", "\0"}}),
         "do not fit"},
        {MakeZip("gap.sr",
                 {{"metadata", Metadata("unitsize=1\n")}, {"logic-1-1", "\0"}, {"logic-1-3", "\0"}}),
         "logic-1-2 is missing"},
        {MakeZip("nodata.sr", {{"metadata", Metadata("unitsize=1\n")}}), "no logic data"},
        {MakeZip("version.sr", {{"version", "3"}, {"metadata", Metadata("")}}), "format 3"},
    };
    for (const auto& c : cases) {
        try {
            ReadSigrokSession(c.path);
            ADD_FAILURE() << c.path << " was accepted";
        } catch (const CaptureFormatError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(c.path, 0), 0u) << e.what();
        }
    }
}

TEST_F(SigrokSession, TruncatedArchiveIsRefused) {
    WriteSigrokSession(Sample(), File("full.sr"));
    const auto size = fs::file_size(File("full.sr"));
    fs::copy_file(File("full.sr"), File("cut.sr"));
    fs::resize_file(File("cut.sr"), size / 2);
    EXPECT_THROW(ReadSigrokSession(File("cut.sr")), CaptureFormatError);
}

TEST(Samplerate, ParseAndFormat) {
    const struct {
        const char* text;
        uint64_t hz;
    } cases[] = {
        {"1 MHz", 1000000},     {"24 MHz", 24000000}, {"2.5 MHz", 2500000},
        {"1 GHz", 1000000000},  {"500 kHz", 500000},  {"100 Hz", 100},
        {"12000000", 12000000}, {"fast", 0},          {"3 parsecs", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseSamplerate(c.text), c.hz) << c.text;
    EXPECT_EQ(FormatSamplerate(100000000), "100 MHz");
    EXPECT_EQ(FormatSamplerate(1500), "1500 Hz");
}

}  // namespace
