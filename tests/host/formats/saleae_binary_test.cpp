// Saleae Logic 2 binary exports: both versions read to the same positions,
// times are rounded to samples at the files' rate, --samplerate or the step
// they share; chunks and their gaps; the files of one export found from a
// folder or one of them; and what is refused, with the file and byte.
#include "host/formats/saleae_binary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "host/formats/capture_reader.h"
#include "host/formats/capture_sniff.h"
#include "host/formats/format_error.h"
#include "tests/support/saleae_export.h"

namespace {

using namespace fd::host;
using fd::test::SaleaeChunk;
using fd::test::SaleaeV0;
using fd::test::SaleaeV1;
namespace fs = std::filesystem;

constexpr double kUs = 1e-6;

// A version 0 file: the level at the begin time, begin and end, the times.
std::string V0(uint32_t state, double begin, double end, std::vector<double> times) {
    return SaleaeV0({state, 0, begin, end, std::move(times)});
}

Waveform Read(const std::vector<std::string>& bytes, SaleaeReadOptions options = {},
              SaleaeReadNotes* notes = nullptr) {
    std::vector<SaleaeChannelFile> files;
    for (size_t i = 0; i < bytes.size(); ++i)
        files.push_back({"digital_" + std::to_string(i) + ".bin", "digital_" + std::to_string(i), bytes[i]});
    return ReadSaleaeBinary(files, options, notes);
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

TEST(SaleaeBinary, BothVersionsGiveTheSamePositions) {
    // Level 1 from the begin time, toggling at 3, 7 and 8 µs, ending at 10 µs.
    const SaleaeChunk chunk{1, 1e6, 0, 10 * kUs, {3 * kUs, 7 * kUs, 8 * kUs}};
    const struct {
        const char* label;
        std::string bytes;
        uint64_t samplerate;
        const char* note;  // a note that must be there, "" for none
    } cases[] = {
        {"version 1, its own rate", SaleaeV1({chunk}), 0, ""},
        {"version 0, --samplerate", SaleaeV0(chunk), 1000000, ""},
        {"version 0, the step the times share", SaleaeV0(chunk), 0, "took 1 MHz, the finest step"},
    };
    for (const auto& c : cases) {
        SaleaeReadNotes notes;
        const Waveform w = Read({c.bytes}, {c.samplerate, 0}, &notes);
        ASSERT_EQ(w.signals.size(), 1u) << c.label;
        EXPECT_EQ(w.signals[0].name, "digital_0") << c.label;
        EXPECT_EQ(w.signals[0].initialLevel, 1) << c.label;
        EXPECT_EQ(w.signals[0].changes, (std::vector<uint32_t>{3, 7, 8})) << c.label;
        EXPECT_EQ(w.endPosition, 10u) << c.label;
        EXPECT_DOUBLE_EQ(w.secondsPerPosition, 1e-6) << c.label;
        EXPECT_EQ(notes.samplerate, 1000000u) << c.label;
        if (*c.note == 0)
            EXPECT_TRUE(notes.notes.empty()) << c.label << ": " << Joined(notes.notes);
        else
            EXPECT_NE(Joined(notes.notes).find(c.note), std::string::npos)
                << c.label << ": " << Joined(notes.notes);
    }
}

TEST(SaleaeBinary, TimesGoToTheNearestSample) {
    // 1 MHz: 2.4 µs is sample 2, 2.6 µs sample 3; 5.5 µs rounds up; a
    // transition at the begin time sets the starting level; two that fall
    // in one sample cancel (a note); -2 µs begin counts from there.
    const double begin = -2 * kUs;
    SaleaeReadNotes notes;
    const Waveform w = Read({SaleaeV1({{0,
                                        1e6,
                                        begin,
                                        begin + 20 * kUs,
                                        {begin, begin + 2.4 * kUs, begin + 2.6 * kUs, begin + 5.5 * kUs,
                                         begin + 9.1 * kUs, begin + 9.2 * kUs}}})},
                            {}, &notes);
    EXPECT_EQ(w.signals[0].initialLevel, 1);
    EXPECT_EQ(w.signals[0].changes, (std::vector<uint32_t>{2, 3, 6}));
    EXPECT_EQ(w.endPosition, 20u);
    EXPECT_NE(Joined(notes.notes).find("1 pulses shorter than a sample at 1 MHz left out"), std::string::npos)
        << Joined(notes.notes);
}

TEST(SaleaeBinary, ChunksJoinAndTheirGapsKeepTheLevel) {
    // Chunk 1 ends high at 5 µs; chunk 2 opens low at 8 µs: a change there.
    SaleaeReadNotes notes;
    const Waveform w = Read(
        {SaleaeV1({{0, 1e6, 0, 5 * kUs, {2 * kUs}}, {0, 1e6, 8 * kUs, 12 * kUs, {10 * kUs}}})}, {}, &notes);
    EXPECT_EQ(w.signals[0].changes, (std::vector<uint32_t>{2, 8, 10}));
    EXPECT_EQ(w.endPosition, 12u);
    EXPECT_NE(Joined(notes.notes).find("no data from 5 to 8"), std::string::npos) << Joined(notes.notes);
}

TEST(SaleaeBinary, OffsetMovesPositionsDown) {
    const Waveform w = Read({V0(0, 0, 100 * kUs, {10 * kUs, 50 * kUs, 60 * kUs})}, {1000000, 20});
    EXPECT_EQ(w.signals[0].initialLevel, 1);  // the change at 10 lies before the offset
    EXPECT_EQ(w.signals[0].changes, (std::vector<uint32_t>{30, 40}));
    EXPECT_EQ(w.endPosition, 80u);
}

TEST(SaleaeBinary, RefusesWhatIsNotADigitalExport) {
    const std::string good = V0(0, 0, 10 * kUs, {1 * kUs, 2 * kUs});
    std::string badState = good;
    badState[16] = 2;
    const std::string descending = V0(0, 0, 10 * kUs, {3 * kUs, 2 * kUs});
    const struct {
        const char* label;
        std::string bytes;
        std::string expected;  // after "digital_0.bin: "
    } cases[] = {
        {"wrong identifier", "<SALEAF>" + good.substr(8), "byte 0: expected the identifier <SALEAE>"},
        {"cut in the header", good.substr(0, 30),
         "byte 30: the file ends inside the digital header (initial state, begin and end time, count) (44 "
         "bytes expected, 30 found)"},
        {"cut in the times", good.substr(0, good.size() - 3),
         "byte " + std::to_string(good.size() - 3) +
             ": the file ends after 1 of the 2 transition times announced at byte 36"},
        {"analog", fd::test::SaleaeHeader(0, 1) + std::string(40, '\0'),
         "byte 12: type 1, an analog channel"},
        {"other type", fd::test::SaleaeHeader(0, 7) + std::string(40, '\0'),
         "byte 12: type 7, expected 0 (digital)"},
        {"version 2", fd::test::SaleaeHeader(2, 0) + good.substr(16), "byte 8: version 2, expected 0 or 1"},
        {"initial state", badState, "byte 16: initial state 2, expected 0 or 1"},
        {"times going back", descending, "byte 52: transition time 2e-06 s, before the transition before it"},
        {"time past the end", V0(0, 0, 1 * kUs, {2 * kUs}),
         "byte 44: transition time 2e-06 s, after the end time"},
        {"bytes after the end", good + "xyz", "byte 60: 3 bytes after the last transition time"},
        {"no rate", SaleaeV1({{0, 0, 0, 1 * kUs, {}}}), "byte 28: sample rate 0"},
        {"chunks overlap", SaleaeV1({{0, 1e6, 0, 5 * kUs, {}}, {0, 1e6, 4 * kUs, 6 * kUs, {}}}),
         "byte 72: chunk 1 begins at 4e-06 s, before the chunk before it ends"},
    };
    for (const auto& c : cases) {
        try {
            Read({c.bytes}, {1000000, 0});
            ADD_FAILURE() << c.label << ": not refused";
        } catch (const CaptureFormatError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(std::string("digital_0.bin: ") + c.expected, 0), 0u)
                << c.label << ": " << e.what();
        }
    }
}

TEST(SaleaeBinary, ChannelsOfDifferentCapturesAreRefused) {
    const std::string first = V0(0, 0, 10 * kUs, {1 * kUs});
    const struct {
        const char* label;
        std::string second;
        const char* expected;
    } cases[] = {
        {"begin", V0(0, 2 * kUs, 10 * kUs, {3 * kUs}),
         "digital_1.bin: byte 20: begins at 2e-06 s, where digital_0.bin begins at 0 s"},
        {"end", V0(0, 0, 12 * kUs, {3 * kUs}),
         "digital_1.bin: byte 28: ends at 1.2e-05 s, where digital_0.bin ends at 1e-05 s"},
    };
    for (const auto& c : cases) {
        try {
            Read({first, c.second}, {1000000, 0});
            ADD_FAILURE() << c.label << ": not refused";
        } catch (const CaptureFormatError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.expected, 0), 0u) << c.label << ": " << e.what();
        }
    }
    // Within half a sample they are one capture.
    EXPECT_NO_THROW(Read({first, V0(0, 0.4 * kUs, 10.3 * kUs, {3 * kUs})}, {1000000, 0}));
}

TEST(SaleaeBinary, TimesOnNoCommonStepNeedARate) {
    try {
        Read({V0(0, 0, 1, {0.1, 0.1 * std::sqrt(2.0), 0.7 / 3})});
        ADD_FAILURE() << "not refused";
    } catch (const CaptureFormatError& e) {
        EXPECT_NE(std::string(e.what()).find("give the capture's rate with --samplerate"), std::string::npos)
            << e.what();
    }
}

class SaleaeExport : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("fd-saleae-" + std::to_string(std::random_device{}()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    }
    // Channel n toggles at sample n + 1 (1 MHz).
    void WriteChannels(std::initializer_list<int> numbers) {
        for (int n : numbers)
            Write("digital_" + std::to_string(n) + ".bin",
                  SaleaeV1({{0, 1e6, 0, 20 * kUs, {(n + 1) * kUs}}}));
    }
};

TEST_F(SaleaeExport, AFolderOrOneOfItsFilesReadsEveryChannelInOrder) {
    WriteChannels({0, 1, 2, 10});
    Write("analog_0.bin", fd::test::SaleaeHeader(0, 1));
    Write("notes.txt", "not a channel");
    for (const std::string& path : {dir.string(), (dir / "digital_2.bin").string()}) {
        CaptureReadNotes notes;
        const Waveform w = ReadCapture(path, {}, &notes);
        ASSERT_EQ(w.signals.size(), 4u) << path;
        const char* names[] = {"digital_0", "digital_1", "digital_2", "digital_10"};
        const uint32_t changes[] = {1, 2, 3, 11};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(w.signals[i].name, names[i]) << path;
            EXPECT_EQ(w.signals[i].changes, std::vector<uint32_t>{changes[i]}) << path;
        }
        EXPECT_EQ(notes.format, "Saleae binary export");
        EXPECT_NE(
            Joined(notes.formatNotes).find("read 4 channel files (digital_0.bin to digital_10.bin) from "),
            std::string::npos)
            << Joined(notes.formatNotes);
        EXPECT_NE(
            Joined(notes.formatNotes).find("1 analog channel files (analog_N.bin) beside them not read"),
            std::string::npos)
            << Joined(notes.formatNotes);
    }
}

TEST_F(SaleaeExport, AFileOfAnotherNameIsReadAlone) {
    WriteChannels({0, 1});
    const std::string path = Write("iord.bin", V0(1, 0, 20 * kUs, {4 * kUs}));
    CaptureReadOptions options;
    options.samplerate = 1000000;
    const Waveform w = ReadCapture(path, options);
    ASSERT_EQ(w.signals.size(), 1u);
    EXPECT_EQ(w.signals[0].name, "iord");
    EXPECT_EQ(SniffCapture(V0(1, 0, 1, {})).kind, CaptureKind::SaleaeBinary);
}

TEST_F(SaleaeExport, RefusesAFolderWithoutChannelsAndAChannelFileThatIsNone) {
    Write("analog_0.bin", fd::test::SaleaeHeader(0, 1));
    try {
        ReadCapture(dir.string());
        ADD_FAILURE() << "not refused";
    } catch (const CaptureFormatError& e) {
        EXPECT_NE(std::string(e.what()).find("a folder with no digital_N.bin file in it"), std::string::npos)
            << e.what();
    }
    WriteChannels({0});
    Write("digital_1.bin", "sample,IORD\n0,1\n");
    try {
        ReadCapture(dir.string());
        ADD_FAILURE() << "not refused";
    } catch (const CaptureFormatError& e) {
        EXPECT_EQ(std::string(e.what()), (dir / "digital_1.bin").string() +
                                             ": byte 0: expected the identifier <SALEAE> of a Saleae Logic 2 "
                                             "binary export, found 'sample,IORD'");
    }
}

}  // namespace
