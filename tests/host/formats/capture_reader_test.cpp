// ReadCapture's front: the options it passes to the CSV reader and the
// offset it applies to the formats that count samples.
#include "host/formats/capture_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "host/formats/sigrok_session.h"

namespace {

using namespace fd::host;
namespace fs = std::filesystem;

class CaptureReader : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("fd-cr-" + std::to_string(std::random_device{}()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const char* name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
};

TEST_F(CaptureReader, CsvOptionsReachTheReader) {
    const std::string path = Write("t.csv", "time,x,y\n0.0,1,0\n0.000004,0,1\n");
    CaptureReadOptions options;
    CaptureReadNotes guessed;  // no rate: the times' common step is the period, and a note says so
    const Waveform stepped = ReadCapture(path, options, &guessed);
    EXPECT_EQ(stepped.signals[1].changes, std::vector<uint32_t>{1});
    EXPECT_DOUBLE_EQ(stepped.secondsPerPosition, 4e-6);
    ASSERT_EQ(guessed.csvNotes.size(), 1u);
    EXPECT_NE(guessed.csvNotes[0].find("multiple of 4 us"), std::string::npos) << guessed.csvNotes[0];
    options.samplerate = 1000000;
    options.csvColumns = "3=IORD";
    CaptureReadNotes notes;
    const Waveform w = ReadCapture(path, options, &notes);
    EXPECT_EQ(notes.format, "CSV");
    ASSERT_EQ(w.signals.size(), 1u);
    EXPECT_EQ(w.signals[0].name, "IORD");
    EXPECT_EQ(w.signals[0].changes, std::vector<uint32_t>{4});
}

// As in a VCD: what lies before the offset only sets the starting levels.
TEST_F(CaptureReader, OffsetShiftsSampleCountedFormats) {
    Waveform w;
    w.endPosition = 20;
    w.signals = {{"A", 0, {3, 8, 10, 15}}, {"B", 1, {10}}, {"C", 0, {2}}};
    std::string csv = "sample,A,B,C\n";
    for (uint32_t p = 0; p < 20; ++p)
        csv += std::to_string(p) + "," + std::to_string(LevelAt(w.signals[0], p)) + "," +
               std::to_string(LevelAt(w.signals[1], p)) + "," + std::to_string(LevelAt(w.signals[2], p)) +
               "\n";
    const std::string sr = (dir / "t.sr").string();
    WriteSigrokSession(w, sr);
    CaptureReadOptions options;
    options.offset = 10;
    for (const std::string& path : {Write("t.csv", csv), sr}) {
        const Waveform r = ReadCapture(path, options);
        ASSERT_EQ(r.signals.size(), 3u) << path;
        EXPECT_EQ(r.endPosition, 10u) << path;
        EXPECT_EQ(r.signals[0].initialLevel, 1) << path;  // three changes up to 10
        EXPECT_EQ(r.signals[0].changes, std::vector<uint32_t>{5}) << path;
        EXPECT_EQ(r.signals[1].initialLevel, 0) << path;  // its change at 10 is the start
        EXPECT_TRUE(r.signals[1].changes.empty()) << path;
        EXPECT_EQ(r.signals[2].initialLevel, 1) << path;
    }
}

// sigrok-cli writes a session unless told -O vcd, whatever the file's name.
TEST_F(CaptureReader, ASessionIsReadByItsContentsNotItsName) {
    Waveform w;
    w.endPosition = 8;
    w.signals = {{"IORD", 1, {3}}};
    for (const char* name : {"session.vcd", "session.zip", "session"}) {
        const std::string path = (dir / name).string();
        WriteSigrokSession(w, path);
        CaptureReadNotes notes;
        const Waveform r = ReadCapture(path, {}, &notes);
        EXPECT_EQ(notes.format, "sigrok session") << name;
        ASSERT_EQ(r.signals.size(), 1u) << name;
        EXPECT_EQ(r.signals[0].changes, std::vector<uint32_t>{3}) << name;
    }
}

}  // namespace
