// cfsim --format: the same scenario written as VCD, sigrok session and CSV
// reads back as the same signals, the format follows the file's extension
// unless named, and a session cannot go to standard output.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "host/formats/capture_reader.h"
#include "host/formats/csv_capture.h"
#include "host/formats/sigrok_session.h"
#include "tests/host/cfdecode/run_cfdecode.h"

namespace {

using namespace fd::host;
using fd::test::TemporaryFile;

struct CfsimRun {
    int status = -1;
    std::string out, err;
};

CfsimRun Cfsim(const std::string& arguments) {
    TemporaryFile errors(".err");
    CfsimRun run;
    std::FILE* pipe = popen((std::string(FD_CFSIM_PATH) + " " + arguments + " 2>" + errors.path()).c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = errors.Read();
    return run;
}

// Positions in sample numbers, whatever the file counts in.
void ExpectSameSignals(const Waveform& samples, const Waveform& other, uint32_t scale, const std::string& label) {
    ASSERT_EQ(other.signals.size(), samples.signals.size()) << label;
    for (size_t i = 0; i < samples.signals.size(); ++i) {
        EXPECT_EQ(other.signals[i].name, samples.signals[i].name) << label;
        EXPECT_EQ(other.signals[i].initialLevel, samples.signals[i].initialLevel) << label << " " << i;
        std::vector<uint32_t> scaled;
        for (uint32_t change : samples.signals[i].changes) scaled.push_back(change * scale);
        EXPECT_EQ(other.signals[i].changes, scaled) << label << " " << samples.signals[i].name;
    }
}

TEST(CfsimFormat, EveryFormatHoldsTheSameCapture) {
    // The ideal bus always drives the data lines; on the realistic one a VCD
    // shows undriven lines as z where the samples keep the last level.
    const std::string scenario = "pio-read --sectors 1 --seed 4 --sample-period 5 --ideal-timing";
    TemporaryFile vcd(".vcd"), sr(".sr"), csv(".csv"), named(".dat");
    ASSERT_EQ(Cfsim(scenario + " -o " + vcd.path()).status, 0);
    ASSERT_EQ(Cfsim(scenario + " -o " + sr.path()).status, 0);
    ASSERT_EQ(Cfsim(scenario + " -o " + csv.path()).status, 0);
    ASSERT_EQ(Cfsim(scenario + " --format sr -o " + named.path()).status, 0);
    const CfsimRun toStdout = Cfsim(scenario + " --format csv");
    ASSERT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, csv.Read());

    SigrokReadNotes notes;
    const Waveform session = ReadSigrokSession(sr.path(), &notes);
    EXPECT_EQ(notes.samplerate, 200000000u);  // from --sample-period
    EXPECT_GT(session.signals[0].changes.size() + session.signals[7].changes.size(), 10u);
    ExpectSameSignals(session, ReadCsvCapture(csv.path()), 1, "csv");
    ExpectSameSignals(session, ReadSigrokSession(named.path()), 1, "--format sr");
    ExpectSameSignals(session, ReadCapture(vcd.path()), 5, "vcd");  // the VCD counts ns
    EXPECT_EQ(ReadCsvCapture(csv.path()).endPosition, session.endPosition);
}

TEST(CfsimFormat, ASessionCannotGoToStandardOutput) {
    const CfsimRun run = Cfsim("pio-read --format sr");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot go to standard output; name a file with -o"), std::string::npos) << run.err;
    EXPECT_NE(Cfsim("pio-read --format bin").status, 0);
}

}  // namespace
