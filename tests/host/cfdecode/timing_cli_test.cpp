// cfdecode --timing, --mode, --samplerate and --html as a user runs them, on
// captures the synthesizer writes: the report names the faults, the mode
// given is the one judged against, a capture counted in nanoseconds but
// sampled every 5 ns is judged at 5 ns, and the page is one file that
// reaches for nothing outside. Bad values end with one line and status 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "sim/bus.h"
#include "tests/host/cfdecode/run_cfdecode.h"
#include "tests/support/synthesized_vcd.h"

namespace {

using fd::test::ProgramResult;
using fd::test::RunCfdecode;
using fd::test::SynthesizedVcd;
using fd::test::TemporaryFile;

int LineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(CfdecodeTiming, BadValuesGetOneLineAndStatusTwo) {
    const TemporaryFile capture(".vcd", SynthesizedVcd("pio-read", {}));
    const std::string folder = std::filesystem::temp_directory_path().string();
    const struct {
        std::vector<std::string> arguments;
        std::string expected;
    } cases[] = {
#if defined(FD_HAVE_TIMELINE_PAGE)
        {{"--html", "/nonexistent-folder/page.html"},
         "--html /nonexistent-folder/page.html: cannot create the file"},
        {{"--html", folder}, "is a folder"},
#else
        {{"--html", folder}, "--html: this cfdecode was built without the timeline page"},
#endif
        {{"--html"}, "--html"},
        {{"--timing", "--mode", "udma9"},
         "--mode udma9: expected pio0 to pio6, mdma0 to mdma4 or udma0 to udma6"},
        {{"--timing", "--mode", "pio4,pio3"}, "--mode pio3: PIO4 was given for that family already"},
        {{"--timing", "--samplerate", "fast"}, "--samplerate fast: expected samples per second"},
        {{"--timing", "--samplerate", "0"}, "--samplerate 0: expected samples per second"},
        {{"--timing", "--samplerate", "-5M"}, "--samplerate -5M: expected samples per second"},
        {{"--timing", "--samplerate", "200X"}, "--samplerate 200X: expected samples per second"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {capture.path()};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProgramResult result = RunCfdecode(arguments);
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(LineCount(result.err), 1) << result.err;
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(CfdecodeTiming, ReportsFaultsAgainstTheModeInForce) {
    fd::sim::Options options;
    const TemporaryFile clean(".vcd", SynthesizedVcd("pio-read", options));
    ProgramResult result = RunCfdecode({clean.path(), "--timing", "--mode", "pio4"});
    ASSERT_EQ(result.status, 0) << result.err;
    // Nothing but a note: 5 ns samples cannot judge the 5 ns read data hold.
    EXPECT_EQ(result.out.rfind("note: PIO4 t6 (DIOR- data hold, at least 5 ns) cannot be judged", 0), 0u)
        << result.out;
    EXPECT_NE(result.out.find("\n0 timing warnings in "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("judged at a sample period of 5 ns"), std::string::npos) << result.out;

    // The same PIO4 cycles judged as PIO0: too fast for it.
    result = RunCfdecode({clean.path(), "--timing", "--mode", "pio0"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("PIO0 t0 (PIO cycle time): 120 ns, at least 600 ns"), std::string::npos)
        << result.out;

    options.faults.shortStrobeEvery = 10;
    const TemporaryFile faulty(".vcd", SynthesizedVcd("pio-read", options));
    result = RunCfdecode({faulty.path(), "--timing", "--mode", "pio4"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("PIO4 t2 (DIOR- active, 16-bit): 35 ns, at least 70 ns"), std::string::npos)
        << result.out;
}

TEST(CfdecodeTiming, FindingsAsJsonLines) {
    fd::sim::Options options;
    options.faults.shortStrobeEvery = 10;
    const TemporaryFile capture(".vcd", SynthesizedVcd("pio-read", options));
    const ProgramResult result =
        RunCfdecode({capture.path(), "--timing", "--mode", "pio4", "--format", "json"});
    ASSERT_EQ(result.status, 0) << result.err;
    // One object a line: each finding with its limit, then the notes; no summary line.
    EXPECT_EQ(result.out.rfind("{\"kind\":\"warning\",\"position\":", 0), 0u) << result.out;
    EXPECT_NE(result.out.find("\"parameter\":\"t2\",\"meaning\":\"DIOR- active, 16-bit\",\"mode\":\"PIO4\","
                              "\"measured_ns\":35.0,\"limit\":\"min\",\"allowed_ns\":70.0"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("{\"kind\":\"note\""), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("timing warnings in"), std::string::npos) << result.out;
}

TEST(CfdecodeTiming, JudgesAtTheSampleStepOrTheGivenRate) {
    // cfsim writes nanoseconds; its samples lie 5 ns apart, too far apart to
    // judge UDMA4 data setup, unless the user says the capture is finer.
    fd::sim::Options options;
    options.faults.lateDataEvery = 20;
    const TemporaryFile capture(".vcd", SynthesizedVcd("udma-read", options));
    ProgramResult result = RunCfdecode({capture.path(), "--timing", "--mode", "udma4"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(
                  "note: UDMA4 tDS (data setup before the strobe edge, at least 5 ns) cannot be judged: "
                  "the sample period is 5 ns, it needs 2.5 ns or less"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find(" tDS ("), result.out.find("note: UDMA4 tDS (") + 11) << result.out;

    // 1 GS/s instead: the late words (5 ns before their edge) are now judged,
    // and 5 ns is enough.
    result = RunCfdecode({capture.path(), "--timing", "--mode", "udma4", "--samplerate", "1G"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("cannot be judged"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("judged at a sample period of 1 ns"), std::string::npos) << result.out;
}

// --stats times every run, whatever it writes.
TEST(CfdecodeTiming, StatsAreGivenForEveryOutput) {
    const TemporaryFile capture(".vcd", SynthesizedVcd("pio-read", {}));
    const TemporaryFile page(".html");
    const std::vector<std::vector<std::string>> runs = {
        {},
        {"--view", "transactions"},
        {"--timing"},
#if defined(FD_HAVE_TIMELINE_PAGE)
        {"--html", page.path()},
        {"--timing", "--html", page.path()},
#endif
    };
    for (const std::vector<std::string>& run : runs) {
        std::vector<std::string> arguments = {capture.path(), "--stats", "--quiet"};
        arguments.insert(arguments.end(), run.begin(), run.end());
        SCOPED_TRACE(arguments.back());
        const ProgramResult result = RunCfdecode(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.err.find("cfdecode: decode "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("cfdecode: write "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("cfdecode: total "), std::string::npos) << result.err;
    }
}

#if defined(FD_HAVE_TIMELINE_PAGE)
TEST(CfdecodeTiming, HtmlPageIsOneSelfContainedFile) {
    fd::sim::Options options;
    options.faults.shortStrobeEvery = 50;
    const TemporaryFile capture(".vcd", SynthesizedVcd("mixed", options));
    const TemporaryFile page(".html");
    const ProgramResult result = RunCfdecode({capture.path(), "--html", page.path()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("transactions"), std::string::npos) << result.err;
    const std::string html = page.Read();
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(html.find("id=\"fd-data\""), std::string::npos);
    EXPECT_NE(html.find("\"SET FEATURES\""), std::string::npos);
    EXPECT_NE(html.find("\"UDMA4 tCYC\""), std::string::npos);
    for (const char* outside : {"http://", "https://", "<link", " src=", "@import"})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    // Two script elements, the data and the page, and nothing closes them early.
    size_t scripts = 0;
    for (size_t at = html.find("</script"); at != std::string::npos; at = html.find("</script", at + 1))
        ++scripts;
    EXPECT_EQ(scripts, 2u);

    // A capture that cannot be read leaves no half page behind.
    const TemporaryFile broken(".vcd", "$timescale 1ns $end\n#x\n");
    const std::string stale = page.path() + ".broken.html";
    const ProgramResult failed = RunCfdecode({broken.path(), "--html", stale});
    EXPECT_EQ(failed.status, 2);
    EXPECT_FALSE(std::filesystem::exists(stale));
}
#endif

}  // namespace
