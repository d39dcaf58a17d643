// What breaks a bus, found by cfdecode as a user runs it: each fault the
// synthesizer can put on the bus (a bad or missing Ultra DMA CRC word, late
// read data, write data released early, IORDY held past tB, ringing
// strobes) decodes, through the plug-in, to exactly its findings at the
// positions the synthesizer's transcript names, and a clean capture of every
// scenario to none. The transactions view gives the bursts' CRC verdicts,
// the icrc error verdict and the words that fell on glitches.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "sim/bus.h"
#include "sim/scenarios.h"
#include "sim/vcd_writer.h"
#include "tests/host/cfdecode/run_cfdecode.h"

namespace {

using fd::sim::Landmark;
using fd::sim::Phase;
using fd::sim::PhaseKind;
using fd::sim::Transfer;
using fd::test::ProgramResult;
using fd::test::RunCfdecode;
using fd::test::TemporaryFile;

using Findings = std::set<std::pair<uint64_t, std::string>>;

struct Synthesized {
    std::string vcd;
    fd::sim::Transcript transcript;
};

Synthesized Synthesize(const std::string& scenario, const fd::sim::Options& options) {
    fd::sim::Bus bus(options);
    fd::sim::RunScenario(bus, scenario, {});
    std::ostringstream out;
    const fd::host::Waveform waveform = bus.Finish();
    fd::sim::WriteVcd(out, waveform, fd::sim::VcdOptionsFor(bus.transcript(), waveform));
    return {out.str(), bus.transcript()};
}

// cfdecode --timing --format csv: the (position, parameter) of every warning row.
Findings Decoded(const std::string& path, double periodNs) {
    const ProgramResult result =
        RunCfdecode({path, "--timing", "--format", "csv", "--mode", "pio4,mdma2,udma4", "--samplerate",
                     std::to_string(static_cast<long long>(1e9 / periodNs))});
    EXPECT_EQ(result.status, 0) << result.err;
    Findings found;
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "kind,position,time_ns,mode,parameter,meaning,measured_ns,limit,allowed_ns,detail");
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream row(line);
        for (std::string field; fields.size() < 5 && std::getline(row, field, ',');) fields.push_back(field);
        if (fields.size() == 5 && fields[0] == "warning") found.insert({std::stoull(fields[1]), fields[4]});
    }
    return found;
}

bool IsUdma(PhaseKind kind) { return kind == PhaseKind::UdmaIn || kind == PhaseKind::UdmaOut; }
bool IsMwdma(PhaseKind kind) { return kind == PhaseKind::MwdmaIn || kind == PhaseKind::MwdmaOut; }

uint32_t DmackNegation(const Phase& phase) {
    for (const fd::sim::Mark& mark : phase.marks)
        if (mark.kind == Landmark::DmackNegated) return mark.position;
    ADD_FAILURE() << "a burst without its DMACK- negation";
    return 0;
}

// Each word the fault hit gives one finding; `parameter` picks its name.
using Expect = std::function<void(const Phase&, const Transfer&, Findings&)>;

TEST(BusFaults, EachFaultDecodesToExactlyItsFindings) {
    struct Case {
        const char* name;
        const char* scenario;
        double period;
        std::function<void(fd::sim::Options&)> fault;
        Expect expect;
    };
    const Expect crc = [](const Phase& phase, const Transfer& word, Findings& out) {
        if (IsUdma(phase.kind) && &word == &phase.words.back()) out.insert({DmackNegation(phase), "CRC"});
    };
    const Expect lateRead = [](const Phase& phase, const Transfer& word, Findings& out) {
        if (word.lateData) out.insert({word.position, IsMwdma(phase.kind) ? "tG" : "t5"});
    };
    const Expect earlyRelease = [](const Phase& phase, const Transfer& word, Findings& out) {
        if (word.earlyData) out.insert({word.position, IsMwdma(phase.kind) ? "tH" : "t4"});
    };
    const Expect ringing = [](const Phase& phase, const Transfer& word, Findings& out) {
        if (!word.ringing) return;
        out.insert({word.ringingAt, "glitch"});
        // The card latches the extra Ultra DMA words too: the burst's CRC fails.
        if (IsUdma(phase.kind)) out.insert({DmackNegation(phase), "CRC"});
    };
    const Case cases[] = {
        {"wrong CRC word, data in", "udma-read", 5,
         [](fd::sim::Options& o) { o.faults.crcWord = fd::sim::Faults::CrcWord::Wrong; }, crc},
        {"no CRC word, data out", "udma-write", 5,
         [](fd::sim::Options& o) { o.faults.crcWord = fd::sim::Faults::CrcWord::Missing; }, crc},
        {"no CRC word, paused bursts", "udma-pause", 1,
         [](fd::sim::Options& o) { o.faults.crcWord = fd::sim::Faults::CrcWord::Missing; }, crc},
        {"late PIO read data", "pio-read", 1,
         [](fd::sim::Options& o) {
             o.faults.lateReadEvery = 7;
             o.faults.dataMarginNs = 2;
         },
         lateRead},
        {"late multiword DMA read data", "mdma", 1,
         [](fd::sim::Options& o) {
             o.faults.lateReadEvery = 5;
             o.faults.dataMarginNs = 3;
         },
         lateRead},
        {"PIO write data released early", "pio-write", 1,
         [](fd::sim::Options& o) {
             o.faults.earlyReleaseEvery = 5;
             o.faults.dataMarginNs = 2;
         },
         earlyRelease},
        {"multiword DMA write data released early", "mdma", 5,
         [](fd::sim::Options& o) { o.faults.earlyReleaseEvery = 6; }, earlyRelease},
        {"IORDY held past tB", "pio-read", 5,
         [](fd::sim::Options& o) {
             o.faults.iordyPastTbNs = 250;
             o.timing.iordyEvery = 9;
         },
         [](const Phase&, const Transfer& word, Findings& out) {
             if (word.waitUntil != 0) out.insert({word.position, "tB"});
         }},
        {"ringing PIO strobes", "pio-read", 1, [](fd::sim::Options& o) { o.faults.ringingEvery = 37; },
         ringing},
        {"ringing PIO strobes, 5 ns samples", "pio-write", 5,
         [](fd::sim::Options& o) {
             o.faults.ringingEvery = 41;
             o.faults.ringingNs = 5;
         },
         ringing},
        {"ringing multiword DMA strobes", "mdma", 1, [](fd::sim::Options& o) { o.faults.ringingEvery = 29; },
         ringing},
        {"ringing Ultra DMA strobes", "udma-read", 1,
         [](fd::sim::Options& o) { o.faults.ringingEvery = 301; }, ringing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fd::sim::Options options;
        options.samplePeriodNs = c.period;
        c.fault(options);
        const Synthesized capture = Synthesize(c.scenario, options);
        Findings inSamples, expected;
        for (const Phase& phase : capture.transcript.phases)
            for (const Transfer& word : phase.words) c.expect(phase, word, inSamples);
        // The VCD counts nanoseconds.
        for (const auto& [position, parameter] : inSamples)
            expected.insert({static_cast<uint64_t>(static_cast<double>(position) * c.period), parameter});
        ASSERT_FALSE(expected.empty());
        const TemporaryFile file(".vcd", capture.vcd);
        EXPECT_EQ(Decoded(file.path(), c.period), expected);
    }
}

TEST(BusFaults, CleanCapturesOfEveryScenarioGiveNoFinding) {
    for (const fd::sim::ScenarioInfo& scenario : fd::sim::Scenarios()) {
        if (scenario.name == "bench") continue;  // the same cycles as udma-read and udma-write, many more
        for (const double period : {1.0, 5.0}) {
            SCOPED_TRACE(std::string(scenario.name) + " at " + std::to_string(period) + " ns");
            fd::sim::Options options;
            options.samplePeriodNs = period;
            options.timing.iordyWaitNs = 300;  // wait states within tB on every fifth cycle
            options.timing.iordyEvery = 5;
            const TemporaryFile file(".vcd", Synthesize(std::string(scenario.name), options).vcd);
            EXPECT_EQ(Decoded(file.path(), period), Findings{});
            const ProgramResult view =
                RunCfdecode({file.path(), "--view", "transactions", "--format", "json"});
            EXPECT_EQ(view.out.find("icrc error"), std::string::npos) << view.out;
            EXPECT_EQ(view.out.find("glitch_words"), std::string::npos) << view.out;
        }
    }
}

TEST(BusFaults, TransactionsViewShowsBurstsAndGlitchWords) {
    fd::sim::Options options;
    options.faults.crcWord = fd::sim::Faults::CrcWord::Wrong;
    const Synthesized bad = Synthesize("udma-pause", options);
    const TemporaryFile badFile(".vcd", bad.vcd);
    ProgramResult result = RunCfdecode({badFile.path(), "--view", "transactions", "--format", "json"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    std::vector<nlohmann::json> commands;
    for (std::string line; std::getline(lines, line);) commands.push_back(nlohmann::json::parse(line));
    std::vector<const Phase*> bursts;
    for (const Phase& phase : bad.transcript.phases)
        if (IsUdma(phase.kind)) bursts.push_back(&phase);
    size_t seen = 0;
    for (const nlohmann::json& command : commands) {
        if (!command.contains("bursts")) continue;
        // The card answers each command that carried a bad burst with ICRC.
        EXPECT_EQ(command["verdict"], "icrc error");
        EXPECT_EQ(command["error_bits"], "BBK/ICRC ABRT");
        for (const nlohmann::json& burst : command["bursts"]) {
            ASSERT_LT(seen, bursts.size());
            const Phase& phase = *bursts[seen++];
            EXPECT_EQ(burst["end"], DmackNegation(phase) * 5);  // 5 ns samples, a VCD in ns
            EXPECT_EQ(burst["words"], phase.words.size());
            EXPECT_EQ(burst["crc"], "mismatch");
            EXPECT_EQ(burst["crc_computed"], phase.crc);
            EXPECT_EQ(burst["crc_sent"], phase.crcSent);
        }
    }
    EXPECT_EQ(seen, bursts.size());

    // Text: the verdict, and what each burst's CRC came to.
    result = RunCfdecode({badFile.path(), "--view", "transactions", "--color", "never", "--command", "0xC8"});
    char expected[96];
    std::snprintf(expected, sizeof expected, ": crc mismatch: sent 0x%04X, data gives 0x%04X",
                  bursts[0]->crcSent, bursts[0]->crc);
    EXPECT_NE(result.out.find("icrc error  burst"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(expected), std::string::npos) << result.out;

    // A PIO read whose strobes ring: one extra word per ringing edge.
    fd::sim::Options ringing;
    ringing.samplePeriodNs = 1;
    ringing.faults.ringingEvery = 37;
    const Synthesized rung = Synthesize("pio-read", ringing);
    uint64_t ringingEdges = 0;
    for (const Phase& phase : rung.transcript.phases)
        for (const Transfer& word : phase.words) ringingEdges += word.ringing ? 1 : 0;
    const TemporaryFile rungFile(".vcd", rung.vcd);
    result =
        RunCfdecode({rungFile.path(), "--view", "transactions", "--format", "json", "--samplerate", "1G"});
    uint64_t glitchWords = 0;
    std::istringstream rows(result.out);
    for (std::string line; std::getline(rows, line);)
        glitchWords += nlohmann::json::parse(line).value("glitch_words", uint64_t{0});
    EXPECT_GT(ringingEdges, 0u);
    EXPECT_EQ(glitchWords, ringingEdges);
}

}  // namespace
