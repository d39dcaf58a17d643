// DSView logic sessions (.dsl): probe names, bits lowest first across
// blocks, the sample rate; and what is refused, with the member and line.
#include "host/formats/dsview_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/formats/capture_reader.h"
#include "host/formats/format_error.h"
#include "tests/support/dsview_export.h"

namespace {

using namespace fd::host;
using fd::test::DslHeader;
using fd::test::ZipBytes;

using Members = std::vector<std::pair<std::string, std::string>>;

Waveform ReadBytes(const std::string& bytes, DsviewReadNotes* notes = nullptr) {
    return ReadDsviewSession(bytes.data(), bytes.size(), "bus.dsl", notes);
}

TEST(DsviewSession, ReadsProbesAcrossBlocks) {
    // 20 samples in blocks of one byte: probe 0 (IORD-) 1 1 0 0 0 0 0 0 | 0 0 0 1 1 1 1 1 | 1 1 1 0
    // (bits lowest first); probe 3 (CS0-, the only other kept) low throughout.
    const std::string header =
        "[version]\nversion = 2\n[header]\ndevice mode = 0\ntotal samples = 20\ntotal probes = 2\n"
        "total blocks = 3\nsamplerate = 100 MHz\nprobe0 = IORD-\nprobe3 = CS0-\n";
    const std::string low(1, '\0');
    DsviewReadNotes notes;
    const Waveform w = ReadBytes(ZipBytes({{"header", header},
                                           {"L-0/0", "\x03"},
                                           {"L-0/1", "\xF8"},
                                           {"L-0/2", "\x07"},
                                           {"L-3/0", low},
                                           {"L-3/1", low},
                                           {"L-3/2", low}}),
                                 &notes);
    ASSERT_EQ(w.signals.size(), 2u);
    EXPECT_EQ(w.signals[0].name, "IORD-");
    EXPECT_EQ(w.signals[0].initialLevel, 1);
    EXPECT_EQ(w.signals[0].changes, (std::vector<uint32_t>{2, 11, 19}));
    EXPECT_EQ(w.signals[1].name, "CS0-");
    EXPECT_TRUE(w.signals[1].changes.empty());
    EXPECT_EQ(w.endPosition, 20u);
    EXPECT_DOUBLE_EQ(w.secondsPerPosition, 1e-8);
    EXPECT_EQ(notes.samplerate, 100000000u);
}

TEST(DsviewSession, ReadCaptureTellsItByItsContent) {
    const std::string bytes = ZipBytes({{"header", DslHeader({"DIOR-"}, 8, 1, "1 MHz")}, {"L-0/0", "\xF0"}});
    fd::host::Waveform w;
    CaptureReadNotes notes;
    const std::string path = ::testing::TempDir() + "/dsview-content.bin";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    w = ReadCapture(path, {}, &notes);
    std::remove(path.c_str());
    EXPECT_EQ(notes.format, "DSView session");
    ASSERT_EQ(w.signals.size(), 1u);
    EXPECT_EQ(w.signals[0].name, "DIOR-");
    EXPECT_EQ(w.signals[0].changes, std::vector<uint32_t>{4});
}

TEST(DsviewSession, RefusesWhatItCannotRead) {
    const std::string header = DslHeader({"IORD", "IOWR"}, 16, 2, "1 MHz");
    const auto with = [&](const std::string& from, const std::string& to) {
        std::string changed = header;
        changed.replace(changed.find(from), from.size(), to);
        return changed;
    };
    const std::string one(1, '\x0F');
    const Members blocks{{"L-0/0", one}, {"L-0/1", one}, {"L-1/0", one}, {"L-1/1", one}};
    const auto session = [&](const std::string& h, Members m) {
        m.insert(m.begin(), {"header", h});
        return ZipBytes(m);
    };
    const struct {
        const char* label;
        std::string bytes;
        const char* expected;  // after "bus.dsl: "
    } cases[] = {
        {"no header member", ZipBytes(blocks), "a zip archive without a header member"},
        {"version 1", session(with("version = 2", "version = 1"), blocks),
         "member header: session format version 1, whose samples lie in one data member"},
        {"oscilloscope", session(with("device mode = 0", "device mode = 1"), blocks),
         "member header, line 5: device mode 1, an oscilloscope or data acquisition session"},
        {"no sample count", session(with("total samples = 16", "total samples = many"), blocks),
         "member header, line 7: expected total samples = a whole number"},
        {"probe count", session(with("total probes = 2", "total probes = 3"), blocks),
         "member header, line 8: total probes = 3, but 2 probes are named"},
        {"a block missing", session(header, {blocks[0], blocks[1], blocks[2]}),
         "member L-1/1: is missing: probe1 has 1 of the 2 blocks the header announces"},
        {"fewer samples than announced", session(with("total samples = 16", "total samples = 24"), blocks),
         "member L-0/1: probe0's blocks hold 16 samples, where the header says total samples = 24"},
        {"a bad rate", session(with("samplerate = 1 MHz", "samplerate = fast"), blocks),
         "member header, line 10: samplerate fast, expected a rate such as 100 MHz"},
        {"cut short", session(header, blocks).substr(0, 100), "the zip archive is damaged or cut short"},
    };
    for (const auto& c : cases) {
        try {
            ReadBytes(c.bytes);
            ADD_FAILURE() << c.label << ": not refused";
        } catch (const CaptureFormatError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(std::string("bus.dsl: ") + c.expected, 0), 0u)
                << c.label << ": " << e.what();
        }
    }
}

}  // namespace
