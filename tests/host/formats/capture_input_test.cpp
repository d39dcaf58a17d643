// The input side of ReadCapture: gzip and zstd streams decompressed whole or
// refused when cut short or damaged, the content told apart whatever the
// file is called, and the formats no reader takes refused with what they are.
#include "host/formats/capture_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "host/formats/capture_reader.h"
#include "host/formats/capture_sniff.h"
#include "host/formats/csv_capture.h"
#include "host/formats/sigrok_session.h"
#include "tests/support/compressed_fixtures.h"

namespace {

using namespace fd::host;
using namespace fd::test;
namespace fs = std::filesystem;

// Compressible lines with some noise, large enough that one fed piece
// inflates past the buffer's room.
std::string Payload(size_t bytes) {
    std::mt19937 random(11);
    std::string text;
    while (text.size() < bytes)
        text += "#" + std::to_string(text.size()) + " " + std::to_string(random() % 4) + "!\n";
    return text;
}

std::string Compress(Compression compression, std::string_view data) {
    return compression == Compression::Gzip ? GzipBytes(data) : ZstdBytes(data);
}

// Feeds the stream in pieces of `piece` bytes (0: whole).
std::string Decompress(Compression compression, std::string_view stream, size_t piece = 0) {
    auto decompressor = Decompressor::Create(compression, "t");
    EXPECT_NE(decompressor, nullptr);
    GrowingBuffer out;
    if (piece == 0) piece = stream.size() + 1;
    for (size_t at = 0; at < stream.size(); at += piece) decompressor->Feed(stream.substr(at, piece), out);
    decompressor->Finish();
    return std::string(out.bytes());
}

std::string ErrorOf(Compression compression, std::string_view stream) {
    try {
        Decompress(compression, stream);
    } catch (const CaptureFormatError& e) {
        return e.what();
    }
    return "";
}

constexpr Compression kBoth[] = {Compression::Gzip, Compression::Zstd};

TEST(Decompressor, RestoresTheStreamInAnyPieces) {
    const std::string data = Payload(3 << 20);
    for (Compression c : kBoth) {
        const std::string stream = Compress(c, data);
        for (size_t piece : {size_t{0}, size_t{1}, size_t{4097}}) {
            if (piece == 1 && c == Compression::Gzip) continue;  // byte by byte: the smaller case below
            EXPECT_TRUE(Decompress(c, stream, piece) == data)
                << CompressionName(c) << " in pieces of " << piece;
        }
        const std::string small = Payload(5000);
        EXPECT_EQ(Decompress(c, Compress(c, small), 1), small) << CompressionName(c);
        // Members or frames one after another, as `cat a.gz b.gz` makes them.
        EXPECT_EQ(Decompress(c, Compress(c, small) + Compress(c, "tail\n")), small + "tail\n")
            << CompressionName(c);
        EXPECT_EQ(Decompress(c, Compress(c, "")), "") << CompressionName(c);
    }
    // gzip reads zero padding after the last member (tape and block devices).
    EXPECT_EQ(Decompress(Compression::Gzip, GzipBytes("x\n") + std::string(512, '\0')), "x\n");
}

TEST(Decompressor, RefusesAStreamCutShortAtTheOffsetItEnds) {
    const std::string data = Payload(200000);
    for (Compression c : kBoth) {
        const std::string stream = Compress(c, data);
        // Inside the header, the data, the last block, the trailer.
        for (size_t cut : {size_t{3}, stream.size() / 2, stream.size() - 9, stream.size() - 1}) {
            const std::string expected =
                "t: byte " + std::to_string(cut) + ": the " + CompressionName(c) + " stream is cut short";
            EXPECT_EQ(ErrorOf(c, stream.substr(0, cut)).rfind(expected, 0), 0u)
                << CompressionName(c) << " cut at " << cut << ": " << ErrorOf(c, stream.substr(0, cut));
        }
    }
}

TEST(Decompressor, RefusesDamagedDataAndTrailingBytes) {
    const std::string data = Payload(200000);
    for (Compression c : kBoth) {
        std::string stream = Compress(c, data);
        for (size_t i = stream.size() / 2; i < stream.size() / 2 + 16; ++i)
            stream[i] = static_cast<char>(stream[i] ^ 0x55);
        const std::string error = ErrorOf(c, stream);
        EXPECT_NE(error.find(std::string("the ") + CompressionName(c) + " data is corrupt"),
                  std::string::npos)
            << CompressionName(c) << ": " << error;
        EXPECT_EQ(error.rfind("t: byte ", 0), 0u) << error;
    }
    const std::string gzip = GzipBytes("x\n");
    EXPECT_EQ(
        ErrorOf(Compression::Gzip, gzip + "junk"),
        "t: byte " + std::to_string(gzip.size()) +
            ": expected another gzip member or the end of the file after the gzip stream, found other data");
    EXPECT_NE(ErrorOf(Compression::Zstd, ZstdBytes("x\n") + "junk").find("zstd data is corrupt"),
              std::string::npos);
}

const std::string kVcd =
    "$timescale 1 ns $end\n$scope module top $end\n$var wire 1 ! IORD $end\n$upscope $end\n$enddefinitions "
    "$end\n"
    "#0\n1!\n#5\n0!\n#9\n1!\n#12\n";
const std::string kCsv = "sample,IORD\n0,1\n5,0\n9,1\n11,1\n";  // ends one past its last row

TEST(SniffCapture, TellsTheKindFromTheFirstBytes) {
    const struct {
        const char* label;
        std::string bytes;
        CaptureKind kind;
    } cases[] = {
        {"VCD", kVcd, CaptureKind::Vcd},
        {"VCD after a byte order mark and blank lines", "\xEF\xBB\xBF\n\n  $date today $end\n",
         CaptureKind::Vcd},
        {"VCD opening with a comment", "$comment made by hand $end\n", CaptureKind::Vcd},
        {"CSV", kCsv, CaptureKind::Csv},
        {"CSV after sigrok's comment lines",
         "; CSV generated by libsigrok\n; Channels (2/2): A, B\nA;B\n1;0\n", CaptureKind::Csv},
        {"tab-separated", "sample\tIORD\n0\t1\n", CaptureKind::Csv},
        {"FST", FstHeader(), CaptureKind::Fst},
        {"FST written big-endian", FstHeader(true), CaptureKind::Fst},
        {"FST wrapped whole in gzip (vcd2fst -c)",
         std::string("\xFE\0\0\0\0\0\0\0\x10\0\0\0\0\0\0\0\x40", 17) + GzipBytes("inside"), CaptureKind::Fst},
        {"zero block of another length", std::string(400, '\0'), CaptureKind::Unknown},
        {"sigrok session", ZipBytes({{"version", "2"}, {"metadata", "[device 1]\n"}}),
         CaptureKind::SigrokSession},
        {"Saleae capture", ZipBytes({{"meta.json", "{}"}, {"digital-0.bin", "x"}}),
         CaptureKind::SaleaeCapture},
        {"DSView session", ZipBytes({{"header", "[version]\n"}, {"L-0/0", "x"}}), CaptureKind::DsviewSession},
        {"other zip", ZipBytes({{"readme.txt", "hello"}}), CaptureKind::OtherZip},
        {"damaged zip", "PK\x03\x04 and nothing of a zip", CaptureKind::ZipArchive},
        {"xz",
         std::string("\xFD"
                     "7zXZ\0\0\x04",
                     8),
         CaptureKind::Compressed},
        {"plain text", "hello world\nno fields here\n", CaptureKind::Text},
        {"binary",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0",
                     8),
         CaptureKind::Unknown},
        {"empty", "", CaptureKind::Empty},
    };
    for (const auto& c : cases) EXPECT_EQ(SniffCapture(c.bytes).kind, c.kind) << c.label;
}

class CaptureInputFile : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("fd-ci-" + std::to_string(std::random_device{}()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    }
    static std::string SessionBytes() {
        Waveform w;
        w.endPosition = 12;
        w.signals = {{"IORD", 1, {5, 9}}};
        TemporaryPath path(".sr");
        WriteSigrokSession(w, path.path);
        std::ifstream in(path.path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    struct TemporaryPath {
        explicit TemporaryPath(const char* suffix)
            : path((fs::temp_directory_path() / ("fd-ci-" + std::to_string(std::random_device{}()) + suffix))
                       .string()) {}
        ~TemporaryPath() { fs::remove(path); }
        std::string path;
    };
};

// Whatever the name, the content decides; where they disagree a note says
// what was read.
TEST_F(CaptureInputFile, TheContentDecidesAndTheNameIsAHint) {
    const std::string session = SessionBytes();
    const struct {
        const char* name;
        std::string bytes;
        const char* format;
        std::vector<std::string> guesses;
    } cases[] = {
        {"plain.vcd", kVcd, "VCD", {}},
        {"x.vcd.gz", GzipBytes(kVcd), "VCD", {}},
        {"capture", GzipBytes(kVcd), "VCD", {}},
        {"capture.bin", ZstdBytes(kVcd), "VCD", {}},
        {"x.csv.zst", ZstdBytes(kCsv), "CSV", {}},
        {"x.sr.gz", GzipBytes(session), "sigrok session", {}},
        {"x.csv.gz",
         GzipBytes(session),
         "sigrok session",
         {"named .csv but holds a sigrok session; read as a sigrok session"}},
        {"csv-rows.vcd", kCsv, "CSV", {"named .vcd but holds CSV rows; read as CSV"}},
        {"dump.csv", kVcd, "VCD", {"named .csv but holds a value change dump; read as VCD"}},
        {"plain.vcd.gz", kVcd, "VCD", {"named .gz but not gzip-compressed; read as it is"}},
    };
    for (const auto& c : cases) {
        CaptureReadNotes notes;
        const Waveform w = ReadCapture(Write(c.name, c.bytes), {}, &notes);
        EXPECT_EQ(notes.format, c.format) << c.name;
        EXPECT_EQ(notes.guesses, c.guesses) << c.name;
        ASSERT_EQ(w.signals.size(), 1u) << c.name;
        EXPECT_EQ(w.signals[0].name, "IORD") << c.name;
        EXPECT_EQ(w.signals[0].changes, (std::vector<uint32_t>{5, 9})) << c.name;
        EXPECT_EQ(w.endPosition, 12u) << c.name;
    }
}

TEST_F(CaptureInputFile, FormatsNoReaderTakesAreRefusedWithWhatToDo) {
    const struct {
        const char* name;
        std::string bytes;
        std::string expected;  // after "<path>: "
    } cases[] = {
        {"wave.fst", FstHeader(),
         "the file holds an FST waveform (GTKWave's compressed dump format), which cfdecode does not read: "
         "convert it "
         "to VCD with 'fst2vcd {dir}/wave.fst > {dir}/wave.vcd' (Debian's gtkwave package) or GTKWave's File "
         "> Export "
         "> Write VCD File As"},
        {"wave.vcd", FstHeader(), "the file holds an FST waveform"},  // the content wins over the name
        {"bus.sal", ZipBytes({{"meta.json", "{}"}, {"digital-0.bin", "x"}}),
         "the file holds a Saleae Logic 2 capture (.sal), which cfdecode does not read: in Logic 2 use File "
         "> Export "
         "Data and export the digital channels as Binary (then give cfdecode the folder) or CSV"},
        // A DSView session goes to its reader, which says what is missing.
        {"bus.dsl", ZipBytes({{"header", "[version]\n"}}),
         "member header: no [header] section: expected DSView's session header"},
        {"bus.zip", ZipBytes({{"a.txt", "1"}, {"b.txt", "2"}, {"c.txt", "3"}, {"d.txt", "4"}}),
         "the file holds a zip archive with no sigrok session in it (no metadata member; it holds a.txt, "
         "b.txt, c.txt "
         "and 1 more): expected a sigrok session (.sr), or export the capture as VCD or CSV"},
        {"bus.vcd.xz",
         std::string("\xFD"
                     "7zXZ\0\0\x04",
                     8),
         "the file holds an xz-compressed stream (decompress it first: xz -d FILE); cfdecode decompresses "
         "gzip and zstd only"},
        {"notes", "hello world\n",
         "unknown capture format: the file holds text starting with 'hello world'; expected a VCD file "
         "($date, "
         "$timescale, $scope or $var at the start), a sigrok session (.sr) or CSV rows"},
        {"program",
         std::string("\x7f"
                     "ELF\x02\x01\x01\0",
                     8),
         "unknown capture format: the file holds binary data starting with bytes 7f 45 4c 46 02 01 01 00; "
         "expected"},
        {"empty", "", "unknown capture format: the file is empty; expected"},
        {"empty.gz", GzipBytes(""), "unknown capture format: the file is empty; expected"},
        {"cut.vcd.gz", GzipBytes(kVcd).substr(0, 20), "byte 20: the gzip stream is cut short"},
    };
    try {
        ReadCapture(dir.string());
        ADD_FAILURE() << "a folder was read";
    } catch (const CaptureFormatError& e) {
        // A folder is read as a Saleae binary export; one without its files is refused.
        EXPECT_EQ(std::string(e.what()),
                  dir.string() +
                      ": a folder with no digital_N.bin file in it: expected a Saleae Logic 2 "
                      "binary export (File > Export Data > Binary) or a capture file");
    }
    for (const auto& c : cases) {
        const std::string path = Write(c.name, c.bytes);
        std::string expected = c.expected;
        for (size_t at; (at = expected.find("{dir}")) != std::string::npos;)
            expected.replace(at, 5, dir.string());
        try {
            ReadCapture(path);
            ADD_FAILURE() << c.name << " was read";
        } catch (const CaptureFormatError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(path + ": " + expected, 0), 0u)
                << c.name << ": " << e.what();
        }
    }
}

}  // namespace
