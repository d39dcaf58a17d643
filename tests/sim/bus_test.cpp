// The synthesizer's captures, read back through the plug-in's own level and
// edge queries: every transferred word sits on the bus at its strobe edge
// with the control lines of its cycle, timing follows the mode tables, and
// the faults do what they say.
#include "sim/bus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "host/model/capture_image.h"
#include "plugin/capture/capture_access.h"
#include "sim/scenarios.h"
#include "sim/timing.h"

namespace {

using fd::host::CaptureImage;
using fd::host::Waveform;
using namespace fd::sim;

// The capture as the plug-in reads it.
class Probe {
public:
    explicit Probe(const Waveform& waveform) : image_(CaptureImage::FromWaveform(waveform)) {}
    const FdChannel& Channel(int line) const { return *image_.capture()->channelList->channels[line]; }
    int Level(int line, uint32_t at) const { return fd::Level(Channel(line), at); }
    int Edge(int line, uint32_t at) const { return fd::EdgeKind(Channel(line), at); }
    uint16_t Data(uint32_t at) const {
        uint16_t value = 0;
        for (int bit = 0; bit < 16; ++bit) value = static_cast<uint16_t>(value | (Level(kD0 + bit, at) << bit));
        return value;
    }
    int StrobeEdges(uint32_t at) const {
        int edges = 0;
        for (int line : {kIord, kIowr, kIordy}) edges += Edge(line, at) != fd::kEdgeNone;
        return edges;
    }

private:
    CaptureImage image_;
};

std::vector<uint16_t> Counting(size_t count, uint16_t first = 0x1000) {
    std::vector<uint16_t> words(count);
    for (size_t i = 0; i < count; ++i) words[i] = static_cast<uint16_t>(first + i * 0x0101);
    return words;
}

std::vector<const Phase*> PhasesOf(const Transcript& transcript, PhaseKind kind) {
    std::vector<const Phase*> found;
    for (const Phase& phase : transcript.phases) {
        if (phase.kind == kind) found.push_back(&phase);
    }
    return found;
}

const Mark* FindMark(const Phase& phase, Landmark kind) {
    for (const Mark& mark : phase.marks) {
        if (mark.kind == kind) return &mark;
    }
    return nullptr;
}

// Edges of one line between two positions (inclusive).
std::vector<uint32_t> EdgesOf(const Waveform& waveform, int line, uint32_t from, uint32_t to) {
    std::vector<uint32_t> edges;
    for (uint32_t at : waveform.signals[static_cast<size_t>(line)].changes) {
        if (at >= from && at <= to) edges.push_back(at);
    }
    return edges;
}

TEST(Bus, SignalsInBindingOrderWithIdleLevels) {
    Bus bus;
    const Waveform waveform = bus.Finish();
    const char* names[] = {"DMARQ", "DMACK", "CS1", "CS0", "A0", "A1", "A2", "IORD", "IOWR", "IORDY"};
    ASSERT_EQ(waveform.signals.size(), 26u);
    for (int line = 0; line < 10; ++line) EXPECT_EQ(waveform.signals[line].name, names[line]);
    for (int bit = 0; bit < 16; ++bit) EXPECT_EQ(waveform.signals[kD0 + bit].name, "D" + std::to_string(bit));
    const Probe probe(waveform);
    for (int line : {kDmack, kCs1, kCs0, kIord, kIowr, kIordy}) EXPECT_EQ(probe.Level(line, 0), 1) << line;
    EXPECT_EQ(probe.Level(kDmarq, 0), 0);
    EXPECT_DOUBLE_EQ(waveform.secondsPerPosition, 5e-9);

    Options withIntrq;
    withIntrq.intrq = true;
    Bus second(withIntrq);
    EXPECT_EQ(second.Finish().signals.back().name, "INTRQ");
}

TEST(Bus, RegisterCyclesPutAddressAndDataOnTheFallingStrobe) {
    struct Case {
        Reg reg;
        int cs0, cs1, a;
    };
    const Case cases[] = {
        {Reg::Data, 0, 1, 0},        {Reg::Features, 0, 1, 1},     {Reg::SectorCount, 0, 1, 2},
        {Reg::SectorNumber, 0, 1, 3}, {Reg::CylinderLow, 0, 1, 4},  {Reg::CylinderHigh, 0, 1, 5},
        {Reg::CardHead, 0, 1, 6},    {Reg::Command, 0, 1, 7},      {Reg::DeviceControl, 1, 0, 6},
        {Reg::DriveAddress, 1, 0, 7},
    };
    Bus bus;
    uint16_t value = 0x0011;
    for (const Case& c : cases) {
        bus.WriteRegister(c.reg, value);
        bus.ReadRegister(c.reg, static_cast<uint16_t>(value + 1));
        value = static_cast<uint16_t>(value + 0x22);
    }
    const Waveform waveform = bus.Finish();
    const Probe probe(waveform);
    const auto& phases = bus.transcript().phases;
    ASSERT_EQ(phases.size(), 2 * std::size(cases));
    for (size_t i = 0; i < phases.size(); ++i) {
        const Case& c = cases[i / 2];
        const Phase& phase = phases[i];
        const bool write = phase.kind == PhaseKind::RegisterWrite;
        ASSERT_EQ(phase.words.size(), 1u);
        const uint32_t at = phase.words[0].position;
        SCOPED_TRACE(testing::Message() << "register " << static_cast<int>(c.reg) << (write ? " write" : " read"));
        EXPECT_EQ(probe.Edge(write ? kIowr : kIord, at), fd::kEdgeFalling);
        EXPECT_EQ(probe.Level(write ? kIord : kIowr, at), 1);
        EXPECT_EQ(probe.StrobeEdges(at), 1);
        EXPECT_EQ(probe.Level(kCs0, at), c.cs0);
        EXPECT_EQ(probe.Level(kCs1, at), c.cs1);
        EXPECT_EQ(probe.Level(kA0, at) | probe.Level(kA1, at) << 1 | probe.Level(kA2, at) << 2, c.a);
        EXPECT_EQ(probe.Level(kDmack, at), 1);
        EXPECT_EQ(probe.Data(at), phase.words[0].value);
        // Both chip selects are released between cycles.
        EXPECT_EQ(probe.Level(kCs0, phase.end + 1) & probe.Level(kCs1, phase.end + 1), 1);
    }
}

// Every Ultra DMA word: its own strobe edge, the burst's control levels, and
// data that was already stable a sample before the edge.
void ExpectUdmaWords(const Probe& probe, const Phase& phase) {
    const bool out = phase.kind == PhaseKind::UdmaOut;
    const int strobe = out ? kIord : kIordy;
    const int ready = out ? kIordy : kIord;
    for (size_t i = 0; i < phase.words.size(); ++i) {
        const Transfer& word = phase.words[i];
        const uint32_t at = word.position;
        SCOPED_TRACE(testing::Message() << "word " << i << " @" << at);
        EXPECT_EQ(probe.Edge(strobe, at), word.rising ? fd::kEdgeRising : fd::kEdgeFalling);
        EXPECT_EQ(word.rising, i % 2 == 1);  // the strobe starts high: the first edge falls
        EXPECT_EQ(probe.StrobeEdges(at), 1);
        EXPECT_EQ(probe.Level(kDmarq, at), 1);
        EXPECT_EQ(probe.Level(kDmack, at), 0);
        EXPECT_EQ(probe.Level(kCs0, at), 1);
        EXPECT_EQ(probe.Level(kCs1, at), 1);
        EXPECT_EQ(probe.Level(kIowr, at), 0);
        EXPECT_EQ(probe.Level(ready, at), 0);
        EXPECT_EQ(probe.Data(at), word.value);
        EXPECT_EQ(probe.Data(at - 1), word.value);
    }
}

TEST(Bus, UltraDmaBurstsCarryAWordOnEveryStrobeEdge) {
    for (bool out : {false, true}) {
        for (Terminator terminator : {Terminator::Device, Terminator::Host}) {
            for (size_t count : {1u, 2u, 7u, 300u}) {
                SCOPED_TRACE(testing::Message() << (out ? "out" : "in") << " host-ended "
                                                << (terminator == Terminator::Host) << " words " << count);
                Bus bus;
                const auto words = Counting(count);
                UdmaBurst burst;
                burst.terminator = terminator;
                out ? bus.UdmaOut(words, burst) : bus.UdmaIn(words, burst);
                const Waveform waveform = bus.Finish();
                const Probe probe(waveform);
                const Phase& phase = bus.transcript().phases.at(0);
                ASSERT_EQ(phase.words.size(), count);
                ExpectUdmaWords(probe, phase);
                for (size_t i = 0; i < count; ++i) EXPECT_EQ(phase.words[i].value, words[i]);

                // The strobe returns high at the end (without data when the
                // last word fell); the CRC is on the bus as DMACK is released.
                const int strobe = out ? kIord : kIordy;
                EXPECT_EQ(FindMark(phase, Landmark::FinalStrobe) != nullptr, count % 2 == 1);
                const Mark* released = FindMark(phase, Landmark::DmackNegated);
                ASSERT_NE(released, nullptr);
                EXPECT_EQ(released->bus, UdmaCrc(words));
                EXPECT_EQ(probe.Data(released->position), phase.crc);
                for (int line : {kDmack, kCs0, kCs1, kIord, kIowr, kIordy}) {
                    EXPECT_EQ(probe.Level(line, phase.end + 1), 1) << line;
                }
                EXPECT_EQ(probe.Level(kDmarq, phase.end + 1), 0);
                // The strobe changes only for words and the final edge.
                const auto edges = EdgesOf(waveform, strobe, phase.start, phase.end);
                EXPECT_EQ(edges.size(), count + count % 2);
            }
        }
    }
}

TEST(Bus, UltraDmaTerminationOrder) {
    auto order = [](bool out, Terminator terminator) {
        Bus bus;
        UdmaBurst burst;
        burst.terminator = terminator;
        const auto words = Counting(4);
        out ? bus.UdmaOut(words, burst) : bus.UdmaIn(words, burst);
        std::vector<Landmark> kinds;
        for (const Mark& mark : bus.transcript().phases[0].marks) kinds.push_back(mark.kind);
        return kinds;
    };
    using L = Landmark;
    // Data-in: the host negates STOP and asserts HDMARDY- on one clock.
    EXPECT_EQ(order(false, Terminator::Device),
              (std::vector{L::DmarqAsserted, L::DmackAsserted, L::StopNegated, L::ReceiverReady,
                           L::DmarqNegated, L::StopAsserted, L::ReceiverPaused, L::DmackNegated}));
    // A host ending a data-in burst drops HDMARDY- a ready-to-pause time
    // before STOP.
    EXPECT_EQ(order(false, Terminator::Host),
              (std::vector{L::DmarqAsserted, L::DmackAsserted, L::StopNegated, L::ReceiverReady,
                           L::ReceiverPaused, L::StopAsserted, L::DmarqNegated, L::DmackNegated}));
    EXPECT_EQ(order(true, Terminator::Host),
              (std::vector{L::DmarqAsserted, L::DmackAsserted, L::StopNegated, L::ReceiverReady,
                           L::StopAsserted, L::DmarqNegated, L::ReceiverPaused, L::DmackNegated}));

    Bus bus;
    UdmaBurst burst;
    burst.terminator = Terminator::Host;
    bus.UdmaIn(Counting(4), burst);
    const Phase& phase = bus.transcript().phases[0];
    const uint32_t gap = FindMark(phase, L::StopAsserted)->position - FindMark(phase, L::ReceiverPaused)->position;
    EXPECT_GE(gap, bus.Samples(UdmaMode(bus.options().udmaMode).tRp));
}

TEST(Bus, UltraDmaDataOutDrivesTheFirstWordWithDmack) {
    Bus bus;
    bus.UdmaOut(Counting(3, 0xBEEF));
    const Phase& phase = bus.transcript().phases[0];
    EXPECT_EQ(FindMark(phase, Landmark::DmackAsserted)->bus, 0xBEEF);
    EXPECT_EQ(FindMark(phase, Landmark::StopNegated)->bus, 0xBEEF);
}

TEST(Bus, StrobePhasesFollowTheModeTables) {
    for (double period : {1.0, 2.5, 5.0, 8.0}) {
        for (int mode = 0; mode < kUdmaModes; ++mode) {
            Options options;
            options.samplePeriodNs = period;
            options.udmaMode = mode;
            options.pioMode = std::min(mode, kPioModes - 1);
            options.mwdmaMode = std::min(mode, kMwdmaModes - 1);
            SCOPED_TRACE(testing::Message() << period << " ns/sample, mode " << mode);
            Bus bus(options);
            bus.UdmaIn(Counting(40));
            bus.UdmaOut(Counting(40));
            bus.MwdmaIn(Counting(5));
            bus.MwdmaOut(Counting(5));
            bus.WriteRegister(Reg::SectorCount, 1);
            bus.PioDataIn(Counting(3));
            bus.Finish();
            const UdmaTiming& u = UdmaMode(mode);
            const MwdmaTiming& m = MwdmaMode(options.mwdmaMode);
            const PioTiming& p = PioMode(options.pioMode);
            const uint32_t minEdge = std::max<uint32_t>(bus.Samples(u.tCyc), 2);
            for (const Phase& phase : bus.transcript().phases) {
                const auto& w = phase.words;
                for (size_t i = 1; i < w.size(); ++i) {
                    const uint32_t gap = w[i].position - w[i - 1].position;
                    switch (phase.kind) {
                    case PhaseKind::UdmaIn:
                    case PhaseKind::UdmaOut:
                        EXPECT_GE(gap, minEdge);
                        EXPECT_GE(gap, bus.Samples(u.halfCycle));
                        break;
                    case PhaseKind::MwdmaIn:
                    case PhaseKind::MwdmaOut: EXPECT_GE(gap, bus.Samples(m.t0)); break;
                    default: EXPECT_GE(gap, bus.Samples(p.t0)); break;
                    }
                }
            }
            // Strobe pulses: every low phase of IORD/IOWR in a register or
            // multiword DMA cycle lasts at least the table's pulse width.
            Bus pulses(options);
            pulses.MwdmaIn(Counting(2));
            pulses.WriteRegister(Reg::Command, 0x20);
            pulses.PioDataOut(Counting(2));
            const Waveform waveform = pulses.Finish();
            const auto& iord = waveform.signals[kIord].changes;
            ASSERT_EQ(iord.size(), 4u);
            for (size_t i = 0; i < 4; i += 2) EXPECT_GE(iord[i + 1] - iord[i], pulses.Samples(m.tD));
            const auto& iowr = waveform.signals[kIowr].changes;
            ASSERT_EQ(iowr.size(), 6u);
            EXPECT_GE(iowr[1] - iowr[0], pulses.Samples(p.t2Reg));
            EXPECT_GE(iowr[3] - iowr[2], pulses.Samples(p.t2Data));
            EXPECT_GE(iowr[4] - iowr[3], pulses.Samples(p.t2i));
        }
    }
}

TEST(Bus, SenderPausesStretchOneGap) {
    Bus bus;
    UdmaBurst burst;
    burst.pauseAfter = {2};
    burst.pauseNs = 500;
    bus.UdmaIn(Counting(6), burst);
    const auto& w = bus.transcript().phases[0].words;
    const uint32_t half = w[1].position - w[0].position;
    EXPECT_EQ(w[3].position - w[2].position, half + bus.Samples(500));
    EXPECT_EQ(w[5].position - w[4].position, half);
}

TEST(Bus, MultiwordDmaCyclesKeepDmarqAndDmackAcrossTheBlock) {
    for (bool out : {false, true}) {
        Bus bus;
        const auto words = Counting(10);
        out ? bus.MwdmaOut(words) : bus.MwdmaIn(words);
        const Probe probe(bus.Finish());
        const Phase& phase = bus.transcript().phases[0];
        ASSERT_EQ(phase.words.size(), words.size());
        for (const Transfer& word : phase.words) {
            EXPECT_EQ(probe.Edge(out ? kIowr : kIord, word.position), fd::kEdgeFalling);
            EXPECT_EQ(probe.Level(out ? kIord : kIowr, word.position), 1);
            EXPECT_EQ(probe.Level(kDmarq, word.position), 1);
            EXPECT_EQ(probe.Level(kDmack, word.position), 0);
            EXPECT_EQ(probe.Level(kCs0, word.position) & probe.Level(kCs1, word.position), 1);
            EXPECT_EQ(probe.Data(word.position), word.value);
        }
        EXPECT_EQ(probe.Level(kDmarq, phase.end + 1), 0);
        EXPECT_EQ(probe.Level(kDmack, phase.end + 1), 1);
    }
}

TEST(Bus, WholeCommandPollsBusyThenDataReady) {
    Options options;
    options.intrq = true;
    Bus bus(options);
    const auto block = IdentifyData();
    IdentifyByPio(bus, block);
    const Waveform waveform = bus.Finish();
    const Probe probe(waveform);
    std::vector<std::pair<PhaseKind, Reg>> shape;
    std::vector<uint16_t> statuses;
    for (const Phase& phase : bus.transcript().phases) {
        shape.emplace_back(phase.kind, phase.reg);
        if (phase.kind == PhaseKind::RegisterRead) statuses.push_back(phase.words[0].value);
    }
    using K = PhaseKind;
    EXPECT_EQ(shape, (std::vector<std::pair<K, Reg>>{
                         {K::RegisterWrite, Reg::CardHead}, {K::RegisterWrite, Reg::Features},
                         {K::RegisterWrite, Reg::SectorCount}, {K::RegisterWrite, Reg::SectorNumber},
                         {K::RegisterWrite, Reg::CylinderLow}, {K::RegisterWrite, Reg::CylinderHigh},
                         {K::RegisterWrite, Reg::Command}, {K::RegisterRead, Reg::Status},
                         {K::RegisterRead, Reg::Status}, {K::RegisterRead, Reg::Status},
                         {K::PioDataIn, Reg::Data}, {K::RegisterRead, Reg::AltStatus}}));
    EXPECT_EQ(statuses, (std::vector<uint16_t>{0x80, 0x80, 0x58, 0x50}));
    const Phase& data = bus.transcript().phases[10];
    ASSERT_EQ(data.words.size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(data.words[i].value, block[i]);
        EXPECT_EQ(probe.Data(data.words[i].position), block[i]);
    }
    // INTRQ rises before the STATUS read that returns DRQ and drops with it.
    const auto& phases = bus.transcript().phases;
    const uint32_t drqRead = phases[9].words[0].position;
    EXPECT_EQ(probe.Level(kIntrq, drqRead - 2), 1);
    EXPECT_EQ(probe.Level(kIntrq, phases[9].end + 1), 0);
    EXPECT_EQ(probe.Level(kIntrq, phases[7].words[0].position), 0);
}

TEST(Bus, IdentifyBlockLooksLikeACompactFlashCard) {
    IdentifyInfo info;
    info.model = "MODEL X";
    info.serial = "12345";
    info.udmaSelected = 5;
    const auto block = IdentifyData(info);
    ASSERT_EQ(block.size(), 256u);
    EXPECT_EQ(block[0], 0x848A);
    EXPECT_EQ(block[27], ('M' << 8) | 'O');
    EXPECT_EQ(block[30], ('X' << 8) | ' ');
    EXPECT_EQ(block[19], ('4' << 8) | '5');  // serial right-justified
    EXPECT_EQ(block[10], 0x2020);
    EXPECT_EQ(static_cast<uint32_t>(block[61]) << 16 | block[60], info.sectors);
    EXPECT_EQ(static_cast<uint32_t>(block[7]) << 16 | block[8], info.sectors);
    EXPECT_EQ(block[88], 0x207F);
    EXPECT_TRUE(block[83] & 0x0004);  // CFA feature set
    uint8_t sum = 0;
    for (uint16_t word : block) sum = static_cast<uint8_t>(sum + (word & 0xFF) + (word >> 8));
    EXPECT_EQ(block[255] & 0xFF, 0xA5);
    EXPECT_EQ(sum, 0);
}

TEST(Bus, SameSeedSameCaptureOtherSeedOtherData) {
    auto make = [](uint32_t seed) {
        Options options;
        options.seed = seed;
        options.faults.glitchCount = 5;
        Bus bus(options);
        RunScenario(bus, "mixed", {});
        return bus.Finish();
    };
    const Waveform a = make(3), b = make(3), c = make(4);
    ASSERT_EQ(a.signals.size(), b.signals.size());
    for (size_t i = 0; i < a.signals.size(); ++i) EXPECT_EQ(a.signals[i].changes, b.signals[i].changes) << i;
    EXPECT_EQ(a.endPosition, b.endPosition);
    EXPECT_NE(a.signals[kD0].changes, c.signals[kD0].changes);
}

TEST(Bus, EveryScenarioRuns) {
    for (const ScenarioInfo& scenario : Scenarios()) {
        Bus bus;
        ScenarioParams params;
        params.sectors = 2;
        params.burstWords = 100;
        EXPECT_NO_THROW(RunScenario(bus, scenario.name, params)) << scenario.name;
        EXPECT_FALSE(bus.transcript().phases.empty()) << scenario.name;
        const Waveform waveform = bus.Finish();
        EXPECT_GT(waveform.endPosition, bus.Now());
    }
}

TEST(Bus, DmaCommandsSplitIntoBursts) {
    Bus bus;
    const auto words = RandomSectors(bus, 3);
    ReadDma(bus, 0x12345, words, {DmaKind::Ultra, 300, Terminator::Host});
    const auto bursts = PhasesOf(bus.transcript(), PhaseKind::UdmaIn);
    ASSERT_EQ(bursts.size(), 3u);
    EXPECT_EQ(bursts[0]->words.size(), 300u);
    EXPECT_EQ(bursts[2]->words.size(), 168u);
    EXPECT_EQ(bursts[1]->words[0].value, words[300]);
    EXPECT_EQ(bursts[2]->terminator, Terminator::Host);
}

TEST(Bus, RefusesWhatCannotBeOnTheBus) {
    Bus bus;
    EXPECT_THROW(bus.UdmaIn({}), std::invalid_argument);
    EXPECT_THROW(bus.MwdmaOut({}), std::invalid_argument);
    EXPECT_THROW(ReadDma(bus, 0, Counting(100)), std::invalid_argument);
    EXPECT_THROW(RunScenario(bus, "nonsense", {}), std::invalid_argument);
    Options badMode;
    badMode.udmaMode = 7;
    EXPECT_THROW(Bus{badMode}, std::out_of_range);
    Options badSignal;
    badSignal.faults.startLow = {"NOPE"};
    Bus named(badSignal);
    EXPECT_THROW(named.Finish(), std::invalid_argument);
    bus.Finish();
    EXPECT_THROW(bus.WriteRegister(Reg::Command, 0), std::logic_error);

    // Positions are 32-bit: a capture that would not fit is refused, not wrapped.
    Options fine;
    fine.samplePeriodNs = 0.001;
    Bus tooLong(fine);
    EXPECT_THROW(ReadSectorsPio(tooLong, 0, std::vector<uint16_t>(256 * 200)), std::length_error);
    EXPECT_THROW(tooLong.Idle(1e12), std::length_error);
}

// --- Faults -----------------------------------------------------------------

TEST(Faults, SimultaneousStrobesHitEveryNthDmaWord) {
    Options options;
    options.faults.simultaneousEvery = 3;
    Bus bus(options);
    bus.UdmaIn(Counting(7));
    bus.UdmaOut(Counting(7));
    bus.MwdmaIn(Counting(4));
    const Waveform waveform = bus.Finish();
    const Probe probe(waveform);
    size_t index = 0;
    for (const Phase& phase : bus.transcript().phases) {
        for (const Transfer& word : phase.words) {
            ++index;
            SCOPED_TRACE(testing::Message() << "DMA word " << index);
            EXPECT_EQ(word.simultaneous, index % 3 == 0);
            EXPECT_EQ(probe.StrobeEdges(word.position), word.simultaneous ? 2 : 1);
            if (!word.simultaneous) continue;
            // The second strobe is back a sample later (multiword DMA: at the
            // end of the pulse) and the word itself is still on the bus.
            EXPECT_EQ(probe.Data(word.position), word.value);
            if (phase.kind != PhaseKind::MwdmaIn) {
                EXPECT_EQ(probe.StrobeEdges(word.position + 1), 1);
            }
        }
    }
    EXPECT_EQ(index, 18u);
}

TEST(Faults, ZeroWidthGlitchesLeaveEveryLevelAlone) {
    auto make = [](uint32_t glitches, uint32_t width) {
        Options options;
        options.seed = 9;
        options.faults.glitchCount = glitches;
        options.faults.glitchWidth = width;
        Bus bus(options);
        RunScenario(bus, "udma-read", {});
        const Waveform waveform = bus.Finish();
        return std::pair{waveform, bus.transcript().glitches};
    };
    const auto [clean, none] = make(0, 0);
    const auto [glitched, glitches] = make(20, 0);
    ASSERT_EQ(glitches.size(), 20u);
    EXPECT_TRUE(none.empty());
    const Probe a(clean), b(glitched);
    for (const Glitch& glitch : glitches) {
        EXPECT_TRUE(glitch.line == kIord || glitch.line == kIowr || glitch.line == kIordy);
        const auto& changes = glitched.signals[static_cast<size_t>(glitch.line)].changes;
        EXPECT_EQ(std::count(changes.begin(), changes.end(), glitch.position), 2);
        for (uint32_t at = glitch.position - 2; at <= glitch.position + 2; ++at) {
            EXPECT_EQ(b.Level(glitch.line, at), a.Level(glitch.line, at));
        }
        EXPECT_EQ(b.Edge(glitch.line, glitch.position), fd::kEdgeNone);
    }

    const auto [wide, wideGlitches] = make(4, 3);
    const Probe c(wide);
    for (const Glitch& glitch : wideGlitches) {
        EXPECT_NE(c.Level(glitch.line, glitch.position), a.Level(glitch.line, glitch.position));
        EXPECT_NE(c.Level(glitch.line, glitch.position + 2), a.Level(glitch.line, glitch.position + 2));
        EXPECT_EQ(c.Level(glitch.line, glitch.position + 3), a.Level(glitch.line, glitch.position + 3));
    }
}

TEST(Faults, StartLowSignalsRiseBeforeTheFirstCycle) {
    Options options;
    options.faults.startLow = {"IORD", "CS0", "DMARQ"};
    Bus bus(options);
    bus.ReadRegister(Reg::Status, 0x50);
    const Waveform waveform = bus.Finish();
    const uint32_t rise = bus.transcript().startLowUntil;
    ASSERT_GT(rise, 0u);
    ASSERT_LT(rise, bus.transcript().phases[0].start);
    const Probe probe(waveform);
    for (int line : {kIord, kCs0}) {
        EXPECT_EQ(waveform.signals[line].initialLevel, 0);
        EXPECT_EQ(probe.Level(line, 0), 0);
        EXPECT_EQ(probe.Level(line, rise - 1), 0);
        EXPECT_EQ(probe.Edge(line, rise), fd::kEdgeRising);
    }
    EXPECT_EQ(waveform.signals[kDmarq].changes.size(), 0u);  // idles low already
    const Transfer& read = bus.transcript().phases[0].words[0];
    EXPECT_EQ(probe.Edge(kIord, read.position), fd::kEdgeFalling);
    EXPECT_EQ(probe.Data(read.position), 0x50);
}

TEST(Faults, ExplicitGlitchLandsWhereAsked) {
    Bus bus;
    bus.Idle(100);
    bus.AddGlitch(kIowr, 50, 0);
    bus.AddGlitch(kD0 + 3, 60, 2);
    const Waveform waveform = bus.Finish();
    EXPECT_EQ(waveform.signals[kIowr].changes, (std::vector<uint32_t>{50, 50}));
    EXPECT_EQ(waveform.signals[kD0 + 3].changes, (std::vector<uint32_t>{60, 62}));
}

}  // namespace
