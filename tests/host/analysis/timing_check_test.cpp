// Timing checks on synthesized captures: clean captures give no warning,
// each timing fault the synthesizer can put in is reported at the cycles it
// hit with the right parameter, measured and allowed value, a capture
// sampled too slowly says it cannot judge, and the mode in force follows
// SET FEATURES and the modes given. The records are made from the
// synthesizer's transcript by the decoding rules, so no plug-in is loaded.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>

#include "host/analysis/timing_check.h"
#include "host/analysis/udma_crc.h"
#include "sim/bus.h"
#include "sim/scenarios.h"
#include "tests/support/register_fields.h"

namespace {

using namespace fd::host::analysis;
using fd::host::Waveform;
using fd::sim::Bus;
using fd::sim::PhaseKind;

struct Capture {
    Waveform waveform;
    fd::sim::Transcript transcript;
    std::vector<Record> records;
    BusSignals bus{};
};

Capture Synthesize(fd::sim::Options options, const std::function<void(Bus&)>& activity) {
    Bus bus(options);
    activity(bus);
    Capture capture;
    capture.waveform = bus.Finish();
    capture.transcript = bus.transcript();
    for (const fd::sim::Phase& phase : capture.transcript.phases) {
        for (const fd::sim::Transfer& word : phase.words) {
            std::optional<uint16_t> id;
            switch (phase.kind) {
                case PhaseKind::RegisterRead:
                case PhaseKind::PioDataIn:
                    id = fd::test::RegisterField(phase.reg, false);
                    break;
                case PhaseKind::RegisterWrite:
                case PhaseKind::PioDataOut:
                    id = fd::test::RegisterField(phase.reg, true);
                    break;
                case PhaseKind::MwdmaIn:
                    id = 4017;
                    break;
                case PhaseKind::MwdmaOut:
                    id = 4018;
                    break;
                case PhaseKind::UdmaIn:
                    id = 4026;
                    break;
                case PhaseKind::UdmaOut:
                    id = 4032;
                    break;
            }
            if (id) capture.records.push_back({word.position, word.value, *id});  // no rule, no record
        }
    }
    for (int role = 0; role < fd::kBusRoleCount; ++role)
        capture.bus[static_cast<size_t>(role)] = &capture.waveform.signals[static_cast<size_t>(role)];
    return capture;
}

Capture Scenario(const std::string& name, fd::sim::Options options, uint32_t sectors = 1) {
    return Synthesize(options, [&](Bus& bus) {
        fd::sim::ScenarioParams params;
        params.sectors = sectors;
        fd::sim::RunScenario(bus, name, params);
    });
}

TimingOptions Judging(const fd::sim::Options& options) {
    TimingOptions timing;
    timing.samplePeriodNs = options.samplePeriodNs;
    timing.pio = TransferMode{ModeFamily::Pio, options.pioMode};
    timing.mwdma = TransferMode{ModeFamily::Mwdma, options.mwdmaMode};
    timing.udma = TransferMode{ModeFamily::Udma, options.udmaMode};
    return timing;
}

bool HasNote(const TimingReport& report, TimingNote::Kind kind, const std::string& part) {
    return std::any_of(report.notes.begin(), report.notes.end(), [&](const TimingNote& note) {
        return note.kind == kind && note.text.find(part) != std::string::npos;
    });
}

std::string Warnings(const TimingReport& report) {
    std::string text;
    for (const TimingWarning& w : report.warnings)
        text += "@" + std::to_string(w.position) + " " + w.Describe() + "\n";
    return text;
}

TEST(TimingCheck, CleanCapturesGiveNoWarning) {
    for (const char* scenario : {"pio-read", "pio-write", "mdma", "udma-read", "udma-write", "mixed"}) {
        for (double period : {5.0, 1.0}) {
            for (int pio : {0, 4, 6}) {
                fd::sim::Options options;
                options.samplePeriodNs = period;
                options.pioMode = pio;
                options.mwdmaMode = pio % 5;
                options.udmaMode = pio;
                const Capture capture = Scenario(scenario, options);
                const TimingReport report = CheckTiming(capture.records, capture.bus, Judging(options));
                SCOPED_TRACE(std::string(scenario) + " period " + std::to_string(period) + " mode " +
                             std::to_string(pio));
                EXPECT_TRUE(report.warnings.empty()) << Warnings(report);
                EXPECT_EQ(report.cyclesChecked, capture.records.size());
            }
        }
    }
}

TEST(TimingCheck, UltraDmaStopIsNoMultiwordCycle) {
    // The plug-in records a DMA WRITE where STOP (IOWR) falls at the start of
    // an Ultra DMA data-out burst; it is not judged as multiword DMA.
    fd::sim::Options options;
    Capture capture = Scenario("udma-write", options);
    for (const auto& phase : capture.transcript.phases) {
        for (const auto& mark : phase.marks) {
            if (mark.kind == fd::sim::Landmark::StopNegated)
                capture.records.push_back({mark.position, mark.bus, 4018});
        }
    }
    std::sort(capture.records.begin(), capture.records.end(),
              [](const Record& a, const Record& b) { return a.position < b.position; });
    TimingOptions timing = Judging(options);
    timing.mwdma.reset();
    const TimingReport report = CheckTiming(capture.records, capture.bus, timing);
    EXPECT_TRUE(report.warnings.empty()) << Warnings(report);
    EXPECT_FALSE(HasNote(report, TimingNote::Kind::ModeAssumed, "multiword"));
    EXPECT_LT(report.cyclesChecked, capture.records.size());
}

// Which parameter a cut strobe breaks, by the kind of cycle it hit.
std::string ShortStrobeParameter(PhaseKind kind) {
    switch (kind) {
        case PhaseKind::MwdmaIn:
        case PhaseKind::MwdmaOut:
            return "tD";
        case PhaseKind::UdmaIn:
        case PhaseKind::UdmaOut:
            return "tCYC";
        default:
            return "t2";
    }
}

TEST(TimingCheck, EachFaultIsReportedAtTheCyclesItHit) {
    struct Case {
        const char* name;
        const char* scenario;
        double period;
        std::function<void(fd::sim::Faults&)> fault;
        std::function<bool(const fd::sim::Transfer&)> hit;
        // The parameter a hit breaks; empty: by ShortStrobeParameter.
        std::string parameter;
        // Parameters a hit may break besides (a cut Ultra DMA phase also
        // shortens the two-cycle time of its edge and the next; a cut read
        // strobe leaves the card's data less setup before it rises).
        std::set<std::string> alsoAllowed;
    };
    const auto shortHit = [](const fd::sim::Transfer& t) { return t.shortStrobe; };
    const Case cases[] = {
        {"short PIO strobes",
         "pio-read",
         5,
         [](fd::sim::Faults& f) { f.shortStrobeEvery = 7; },
         shortHit,
         "",
         {"t5"}},
        {"short PIO write strobes",
         "pio-write",
         5,
         [](fd::sim::Faults& f) { f.shortStrobeEvery = 5; },
         shortHit,
         "",
         {}},
        {"short multiword DMA strobes",
         "mdma",
         5,
         [](fd::sim::Faults& f) { f.shortStrobeEvery = 5; },
         shortHit,
         "",
         {"tG", "t5"}},
        {"short Ultra DMA phases",
         "udma-read",
         5,
         [](fd::sim::Faults& f) { f.shortStrobeEvery = 9; },
         shortHit,
         "",
         {"t2CYC", "t5"}},
        {"late Ultra DMA data in",
         "udma-read",
         1,
         [](fd::sim::Faults& f) { f.lateDataEvery = 10; },
         [](const fd::sim::Transfer& t) { return t.lateData; },
         "tDS",
         {}},
        {"late Ultra DMA data out",
         "udma-write",
         1,
         [](fd::sim::Faults& f) { f.lateDataEvery = 13; },
         [](const fd::sim::Transfer& t) { return t.lateData; },
         "tDS",
         {}},
        {"early Ultra DMA data",
         "udma-write",
         1,
         [](fd::sim::Faults& f) { f.earlyDataEvery = 10; },
         [](const fd::sim::Transfer& t) { return t.earlyData; },
         "tDH",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fd::sim::Options options;
        options.samplePeriodNs = c.period;
        c.fault(options.faults);
        const Capture capture = Scenario(c.scenario, options);
        const TimingReport report = CheckTiming(capture.records, capture.bus, Judging(options));

        std::set<std::pair<uint32_t, std::string>> expected;
        std::set<uint32_t> hits;
        std::vector<uint32_t> edges;  // every recorded position, for "the next edge"
        for (const auto& phase : capture.transcript.phases) {
            for (const auto& word : phase.words) {
                edges.push_back(word.position);
                if (!c.hit(word)) continue;
                expected.insert(
                    {word.position, c.parameter.empty() ? ShortStrobeParameter(phase.kind) : c.parameter});
                hits.insert(word.position);
            }
        }
        ASSERT_FALSE(expected.empty());
        std::set<std::pair<uint32_t, std::string>> primary;
        for (const TimingWarning& w : report.warnings) {
            EXPECT_LT(w.measuredNs, w.allowedNs) << w.Describe();
            if (c.alsoAllowed.count(w.parameter)) {
                // At a hit edge or the one after it.
                const auto at = std::lower_bound(edges.begin(), edges.end(), w.position);
                ASSERT_NE(at, edges.begin());
                EXPECT_TRUE(hits.count(w.position) || hits.count(*(at - 1)))
                    << w.Describe() << " @" << w.position;
            } else {
                primary.insert({w.position, w.parameter});
            }
        }
        EXPECT_EQ(primary, expected) << Warnings(report);
    }
}

TEST(TimingCheck, WarningsCarryTheMeasuredAndAllowedValues) {
    struct Case {
        const char* scenario;
        double period;
        std::function<void(fd::sim::Faults&)> fault;
        std::string parameter;
        double measured, allowed;
        std::string mode;
    };
    const Case cases[] = {
        // PIO4 DATA read: t2 70 ns is 14 samples of 5 ns, half of it 7.
        {"pio-read", 5, [](fd::sim::Faults& f) { f.shortStrobeEvery = 30; }, "t2", 35, 70, "PIO4"},
        // MWDMA2 tD 70 ns, cut to 40 %: 5 samples.
        {"mdma", 5,
         [](fd::sim::Faults& f) {
             f.shortStrobeEvery = 40;
             f.shortStrobePercent = 40;
         },
         "tD", 25, 70, "MWDMA2"},
        // UDMA4 phase 30 ns (6 samples), half of it: 3 samples.
        {"udma-write", 5, [](fd::sim::Faults& f) { f.shortStrobeEvery = 40; }, "tCYC", 15, 25, "UDMA4"},
        {"udma-read", 1,
         [](fd::sim::Faults& f) {
             f.lateDataEvery = 40;
             f.dataMarginNs = 2;
         },
         "tDS", 2, 5, "UDMA4"},
        {"udma-read", 0.5, [](fd::sim::Faults& f) { f.earlyDataEvery = 40; }, "tDH", 1, 5, "UDMA4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameter);
        fd::sim::Options options;
        options.samplePeriodNs = c.period;
        c.fault(options.faults);
        const Capture capture = Scenario(c.scenario, options);
        const TimingReport report = CheckTiming(capture.records, capture.bus, Judging(options));
        const auto found =
            std::find_if(report.warnings.begin(), report.warnings.end(), [&](const TimingWarning& w) {
                return w.parameter == c.parameter && w.meaning.find("16-bit") != 0;
            });
        ASSERT_NE(found, report.warnings.end()) << Warnings(report);
        EXPECT_DOUBLE_EQ(found->measuredNs, c.measured);
        EXPECT_DOUBLE_EQ(found->allowedNs, c.allowed);
        EXPECT_EQ(ModeName(found->mode), c.mode);
        EXPECT_NE(found->Describe().find(c.mode + " " + c.parameter), std::string::npos);
    }
}

TEST(TimingCheck, UndersampledCaptureSaysItCannotJudge) {
    // 200 MS/s: a 5 ns sample period cannot judge the 5 ns data setup and
    // hold of UDMA4, however late the data comes.
    fd::sim::Options options;
    options.samplePeriodNs = 5;
    options.faults.lateDataEvery = 10;
    const Capture capture = Scenario("udma-read", options);
    const TimingReport report = CheckTiming(capture.records, capture.bus, Judging(options));
    for (const TimingWarning& w : report.warnings) EXPECT_NE(w.parameter, "tDS") << w.Describe();
    EXPECT_TRUE(HasNote(report, TimingNote::Kind::CannotJudge, "UDMA4 tDS"));
    EXPECT_TRUE(HasNote(report, TimingNote::Kind::CannotJudge, "UDMA4 tDH"));
    EXPECT_TRUE(HasNote(report, TimingNote::Kind::CannotJudge, "2.5 ns or less"));
    // The strobe-to-strobe time spans several samples and is judged.
    EXPECT_FALSE(HasNote(report, TimingNote::Kind::CannotJudge, "tCYC"));

    TimingOptions unknown = Judging(options);
    unknown.samplePeriodNs = 0;
    const TimingReport blind = CheckTiming(capture.records, capture.bus, unknown);
    EXPECT_TRUE(blind.warnings.empty());
    EXPECT_TRUE(HasNote(blind, TimingNote::Kind::PeriodUnknown, "sample period is unknown"));
}

TEST(TimingCheck, ModeInForceFollowsSetFeaturesAfterTheGivenMode) {
    fd::sim::Options options;  // the bus runs PIO4 cycles
    const auto pioRead = [](Bus& bus) {
        fd::sim::ScenarioParams params;
        fd::sim::RunScenario(bus, "pio-read", params);
    };
    const Capture plain = Synthesize(options, pioRead);

    TimingOptions timing;
    timing.samplePeriodNs = options.samplePeriodNs;
    // No mode known: judged against PIO6 and noted; PIO4 cycles pass.
    TimingReport report = CheckTiming(plain.records, plain.bus, timing);
    EXPECT_TRUE(report.warnings.empty()) << Warnings(report);
    EXPECT_TRUE(HasNote(report, TimingNote::Kind::ModeAssumed, "PIO6"));

    // Given PIO0: the PIO4 cycles are too fast for it.
    timing.pio = TransferMode{ModeFamily::Pio, 0};
    report = CheckTiming(plain.records, plain.bus, timing);
    ASSERT_FALSE(report.warnings.empty());
    EXPECT_TRUE(std::all_of(report.warnings.begin(), report.warnings.end(),
                            [](const TimingWarning& w) { return ModeName(w.mode) == "PIO0"; }));
    EXPECT_FALSE(HasNote(report, TimingNote::Kind::ModeAssumed, "PIO"));

    // SET FEATURES to PIO4 in the capture takes over from its COMMAND write.
    uint32_t command = 0;
    const Capture selected = Synthesize(options, [&](Bus& bus) {
        fd::sim::TaskFile file;
        file.deviceHead = 0xE0;
        file.features = 0x03;
        file.sectorCount = 0x0C;
        bus.WriteTaskFile(file);
        command = bus.Now();
        bus.Command(0xEF);
        bus.PollStatus(0, 0x50);
        pioRead(bus);
    });
    report = CheckTiming(selected.records, selected.bus, timing);
    ASSERT_FALSE(report.warnings.empty());  // the set-up itself ran under PIO0
    for (const TimingWarning& w : report.warnings) {
        EXPECT_LE(w.position, command + 20) << w.Describe();
        EXPECT_EQ(ModeName(w.mode), "PIO0");
    }
}

// cfdecode feeds the checks and the burst CRCs a slice of records at a
// time: any slicing gives the report and the bursts of one pass.
TEST(TimingCheck, SlicedRecordsGiveTheReportOfOnePass) {
    const auto text = [](const TimingReport& report) {
        std::string all = Warnings(report) + std::to_string(report.cyclesChecked) + "\n";
        for (const TimingNote& note : report.notes)
            all += std::to_string(note.position) + " " + std::to_string(note.cycles) + " " + note.text + "\n";
        for (uint32_t word : report.glitchWords) all += std::to_string(word) + " ";
        return all;
    };
    const auto bursts = [](const std::vector<UdmaBurstCrc>& list) {
        std::string all;
        for (const UdmaBurstCrc& b : list)
            all += std::to_string(b.start) + "-" + std::to_string(b.end) + " " + b.Describe() + "\n";
        return all;
    };
    for (const double period : {1.0, 5.0}) {
        fd::sim::Options options;
        options.samplePeriodNs = period;
        options.faults.ringingEvery = 5;
        options.faults.glitchCount = 6;
        options.faults.crcWord = fd::sim::Faults::CrcWord::Wrong;
        const Capture capture = Synthesize(options, [](Bus& bus) {
            fd::sim::ScenarioParams params;
            params.sectors = 2;
            params.burstWords = 100;
            for (const char* name : {"pio-read", "udma-read", "udma-write", "mdma"})
                fd::sim::RunScenario(bus, name, params);
        });
        TimingOptions timing;
        timing.samplePeriodNs = period;
        const std::string whole = text(CheckTiming(capture.records, capture.bus, timing));
        const auto envelopes = FindDmackEnvelopes(capture.bus);
        const std::string wholeBursts = bursts(CheckBurstCrcs(capture.records, envelopes));
        ASSERT_NE(whole.find("glitch"), std::string::npos);
        ASSERT_NE(wholeBursts.find("mismatch"), std::string::npos);
        for (const size_t slice : {size_t{1}, size_t{3}, size_t{64}}) {
            SCOPED_TRACE("period " + std::to_string(period) + ", slices of " + std::to_string(slice));
            TimingChecker checker(capture.bus, timing);
            BurstCrcChecker crcs(envelopes);
            const std::span<const Record> records(capture.records);
            for (size_t from = 0; from < records.size(); from += slice) {
                const auto part = records.subspan(from, std::min(slice, records.size() - from));
                checker.Add(part);
                crcs.Add(part);
            }
            EXPECT_EQ(text(checker.Finish()), whole);
            EXPECT_EQ(bursts(crcs.Finish()), wholeBursts);
        }
    }
}

TEST(ModeTiming, NamesAndSetFeaturesValues) {
    struct Case {
        const char* text;
        std::optional<TransferMode> mode;
    };
    const Case parsed[] = {
        {"pio4", TransferMode{ModeFamily::Pio, 4}},
        {"PIO6", TransferMode{ModeFamily::Pio, 6}},
        {"mdma2", TransferMode{ModeFamily::Mwdma, 2}},
        {"mwdma4", TransferMode{ModeFamily::Mwdma, 4}},
        {"udma5", TransferMode{ModeFamily::Udma, 5}},
        {"UDMA0", TransferMode{ModeFamily::Udma, 0}},
        {"pio7", std::nullopt},
        {"mdma5", std::nullopt},
        {"udma7", std::nullopt},
        {"udma", std::nullopt},
        {"udma55", std::nullopt},
        {"", std::nullopt},
        {"sdma1", std::nullopt},
    };
    for (const Case& c : parsed) EXPECT_EQ(ParseMode(c.text), c.mode) << c.text;
    EXPECT_EQ(ModeName({ModeFamily::Mwdma, 2}), "MWDMA2");

    const std::pair<uint8_t, std::optional<TransferMode>> features[] = {
        {0x00, TransferMode{ModeFamily::Pio, 0}},
        {0x01, TransferMode{ModeFamily::Pio, 0}},
        {0x0C, TransferMode{ModeFamily::Pio, 4}},
        {0x0E, TransferMode{ModeFamily::Pio, 6}},
        {0x0F, std::nullopt},
        {0x12, std::nullopt},  // single-word DMA: no table
        {0x22, TransferMode{ModeFamily::Mwdma, 2}},
        {0x25, std::nullopt},
        {0x45, TransferMode{ModeFamily::Udma, 5}},
        {0x47, std::nullopt},
        {0x80, std::nullopt},
    };
    for (const auto& [value, mode] : features) EXPECT_EQ(ModeFromSetFeatures(value), mode) << int(value);
    EXPECT_THROW(UdmaMode(7), std::out_of_range);
}

}  // namespace
