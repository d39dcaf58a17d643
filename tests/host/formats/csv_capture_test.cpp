// CSV captures: per-sample and per-change rows, time columns, column
// picking, and the malformed files a reader meets.
#include "host/formats/csv_capture.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host/formats/format_error.h"

namespace {

using namespace fd::host;

Waveform Read(const std::string& text, const CsvReadOptions& options = {}) {
    std::istringstream in(text);
    return ReadCsvCapture(in, "t.csv", options);
}

TEST(CsvCapture, PerSampleAndPerChangeGiveTheSameSignals) {
    const Waveform perSample = Read("sample,A,B\n0,1,0\n1,1,0\n2,0,0\n3,0,1\n4,0,1\n5,1,1\n");
    const Waveform perChange = Read("Sample,A,B\n0,1,0\n2,0,0\n3,0,1\n5,1,1\n");
    for (const Waveform* w : {&perSample, &perChange}) {
        ASSERT_EQ(w->signals.size(), 2u);
        EXPECT_EQ(w->signals[0].name, "A");
        EXPECT_EQ(w->signals[0].initialLevel, 1);
        EXPECT_EQ(w->signals[0].changes, (std::vector<uint32_t>{2, 5}));
        EXPECT_EQ(w->signals[1].changes, (std::vector<uint32_t>{3}));
        EXPECT_EQ(w->endPosition, 6u);
    }
}

TEST(CsvCapture, TimeColumnNeedsASamplerate) {
    const std::string text = "; exported\nTime [s],A\n0.000000,0\n0.000002,1\n3e-6,0\n";
    try {
        Read(text);
        FAIL();
    } catch (const CaptureFormatError& e) {
        EXPECT_STREQ(e.what(), "t.csv: line 3: the first column is a time in seconds; give --samplerate to turn it into sample numbers");
    }
    CsvReadOptions options;
    options.samplerate = 1000000;
    const Waveform w = Read(text, options);
    EXPECT_EQ(w.signals[0].changes, (std::vector<uint32_t>{2, 3}));
    EXPECT_DOUBLE_EQ(w.secondsPerPosition, 1e-6);
}

TEST(CsvCapture, ColumnsOptionPicksAndRenames) {
    CsvReadOptions byNumber;
    byNumber.columns = "3=IORD,2=IOWR";
    Waveform w = Read("t,x,y,z\n0,0,1,0\n4,1,1,0\n", byNumber);
    ASSERT_EQ(w.signals.size(), 2u);
    EXPECT_EQ(w.signals[0].name, "IORD");
    EXPECT_EQ(w.signals[0].initialLevel, 1);
    EXPECT_EQ(w.signals[1].changes, std::vector<uint32_t>{4});

    CsvReadOptions inOrder;  // a file without a header row
    inOrder.columns = "A,-,C";
    w = Read("0,1,0,1\n7,0,0,1\n", inOrder);
    ASSERT_EQ(w.signals.size(), 2u);
    EXPECT_EQ(w.signals[1].name, "C");
    EXPECT_EQ(w.signals[0].changes, std::vector<uint32_t>{7});
}

TEST(CsvCapture, MalformedInputNamesLineAndColumn) {
    const struct {
        const char* text;
        const char* columns;
        const char* message;
    } cases[] = {
        {"sample,A,B\n0,1\n", "", "t.csv: line 2: expected 3 columns, found 2"},
        {"sample,A\n0,1\n1,2\n", "", "t.csv: line 3, column 2: expected 0 or 1, found '2'"},
        {"sample,A\n5,1\n3,0\n", "", "t.csv: line 3: position 3 goes back before 5"},
        {"sample,A\n-1,1\n", "", "t.csv: line 2, column 1: expected a sample number, found '-1'"},
        {"sample,A\n4294967296,1\n", "", "t.csv: line 2: sample number beyond 2^32; positions are 32-bit"},
        {"0,1\n1,0\n", "", "t.csv: line 1: no header row; name the columns with --csv-columns"},
        {"sample,A\n", "", "t.csv: no data rows"},
        {"", "", "t.csv: no header row and no data"},
        {"sample,A\n0,1\n", "9=X", "t.csv: --csv-columns: column 9 does not exist; rows have 2"},
        {"sample,A\n0,1\n", "1=X", "t.csv: --csv-columns: expected N=NAME with N from 2 (column 1 holds the position), found '1=X'"},
    };
    for (const auto& c : cases) {
        CsvReadOptions options;
        options.columns = c.columns;
        try {
            Read(c.text, options);
            ADD_FAILURE() << c.text << " was accepted";
        } catch (const CaptureFormatError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(CsvCapture, WriterRoundTrips) {
    Waveform w;
    w.endPosition = 100;
    w.signals = {{"A", 1, {10, 20, 21}}, {"B", 0, {20, 99}}, {"C", 0, {}}};
    for (bool perChange : {true, false}) {
        std::stringstream text;
        WriteCsvCapture(w, text, perChange);
        const Waveform r = ReadCsvCapture(text, "w.csv");
        EXPECT_EQ(r.endPosition, 100u);
        for (size_t i = 0; i < w.signals.size(); ++i) {
            EXPECT_EQ(r.signals[i].initialLevel, w.signals[i].initialLevel);
            EXPECT_EQ(r.signals[i].changes, w.signals[i].changes) << perChange << i;
        }
    }
}

}  // namespace
