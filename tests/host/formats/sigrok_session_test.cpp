// sigrok session files: round trip through our writer, and the broken files
// a reader meets (each refused with a message naming file and place).
#include "host/formats/sigrok_session.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

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
};

Waveform Sample() {
    Waveform w;
    w.endPosition = 5000;
    w.secondsPerPosition = 1e-8;
    for (int i = 0; i < 26; ++i) {
        Signal s{"S" + std::to_string(i), static_cast<uint8_t>(i % 2), {}};
        for (uint32_t p = static_cast<uint32_t>(3 + i); p < 5000; p += static_cast<uint32_t>(17 + i * 7)) s.changes.push_back(p);
        w.signals.push_back(s);
    }
    return w;
}

std::string Metadata(const std::string& extra) {
    return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\ntotal probes=2\n"
           "samplerate=1 MHz\nprobe1=A\nprobe2=B\n" + extra;
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
    for (int i = 0; i < 26; ++i) w.signals.push_back({"S" + std::to_string(i), static_cast<uint8_t>(i % 2), {}});
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

TEST_F(SigrokSession, DisabledProbeKeepsItsBitAndUnitSizesUpToFour) {
    // probe2 has no name: bit 1 is skipped, probe3 is bit 2.
    std::string data;
    for (int s = 0; s < 8; ++s) data.push_back(static_cast<char>(s & 0x07));
    const auto path = MakeZip("gap.sr", {{"version", "2"},
        {"metadata", "[device 1]\ntotal probes=3\nprobe1=X\nprobe3=Z\nunitsize=1\nsamplerate=24 MHz\n"},
        {"logic-1-1", data.substr(0, 4)}, {"logic-1-2", data.substr(4)}});
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

TEST_F(SigrokSession, BrokenFilesAreRefusedWithPlace) {
    {
        std::ofstream(File("junk.sr")) << "this is not a zip archive at all";
    }
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
        {MakeZip("probes.sr", {{"metadata", "[device 1]\ntotal probes=9\nunitsize=1\nprobe1=A\n"}, {"logic-1-1", "\0"}}),
         "do not fit"},
        {MakeZip("gap.sr", {{"metadata", Metadata("unitsize=1\n")}, {"logic-1-1", "\0"}, {"logic-1-3", "\0"}}),
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
    const struct { const char* text; uint64_t hz; } cases[] = {
        {"1 MHz", 1000000}, {"24 MHz", 24000000}, {"2.5 MHz", 2500000}, {"1 GHz", 1000000000},
        {"500 kHz", 500000}, {"100 Hz", 100}, {"12000000", 12000000}, {"fast", 0}, {"3 parsecs", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseSamplerate(c.text), c.hz) << c.text;
    EXPECT_EQ(FormatSamplerate(100000000), "100 MHz");
    EXPECT_EQ(FormatSamplerate(1500), "1500 Hz");
}

}  // namespace
