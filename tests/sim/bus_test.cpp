// The synthesizer's captures, read back through the plug-in's own level and
// edge queries: every transferred word sits on the bus where its receiver
// latches it (the last sample of a strobe pulse, an Ultra DMA strobe edge)
// with the control lines of its cycle, data is driven and released where a
// real card and host drive it, handshakes follow the ATA order, timing
// follows the mode tables, and the faults do what they say.
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
        for (int bit = 0; bit < 16; ++bit)
            value = static_cast<uint16_t>(value | (Level(kD0 + bit, at) << bit));
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

// Where the receiver takes the word: the last sample of the strobe pulse of
// a register or multiword DMA cycle, the strobe edge in Ultra DMA.
uint32_t LatchedAt(const Transfer& word) { return word.strobeEnd != 0 ? word.strobeEnd - 1 : word.position; }

// True when somebody drives the data lines at a position.
bool Driven(const Transcript& transcript, uint32_t at) {
    for (const Span& span : transcript.undriven) {
        if (at >= span.from && at < span.to) return false;
    }
    return true;
}

Options Ideal() {
    Options options;
    options.timing.ideal = true;
    return options;
}

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

TEST(Bus, RegisterCyclesPutAddressOnTheFallingStrobeAndDataWhereItIsLatched) {
    struct Case {
        Reg reg;
        int cs0, cs1, a;
    };
    const Case cases[] = {
        {Reg::Data, 0, 1, 0},         {Reg::Features, 0, 1, 1},    {Reg::SectorCount, 0, 1, 2},
        {Reg::SectorNumber, 0, 1, 3}, {Reg::CylinderLow, 0, 1, 4}, {Reg::CylinderHigh, 0, 1, 5},
        {Reg::CardHead, 0, 1, 6},     {Reg::Command, 0, 1, 7},     {Reg::DeviceControl, 1, 0, 6},
        {Reg::DriveAddress, 1, 0, 7},
    };
    for (const bool ideal : {false, true}) {
        SCOPED_TRACE(ideal ? "ideal bus" : "realistic bus");
        Bus bus(ideal ? Ideal() : Options{});
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
            const Transfer& word = phase.words[0];
            const uint32_t at = word.position;
            SCOPED_TRACE(testing::Message()
                         << "register " << static_cast<int>(c.reg) << (write ? " write" : " read"));
            EXPECT_EQ(probe.Edge(write ? kIowr : kIord, at), fd::kEdgeFalling);
            EXPECT_EQ(probe.Edge(write ? kIowr : kIord, word.strobeEnd), fd::kEdgeRising);
            EXPECT_EQ(probe.Level(write ? kIord : kIowr, at), 1);
            EXPECT_EQ(probe.StrobeEdges(at), 1);
            EXPECT_EQ(probe.Level(kCs0, at), c.cs0);
            EXPECT_EQ(probe.Level(kCs1, at), c.cs1);
            EXPECT_EQ(probe.Level(kA0, at) | probe.Level(kA1, at) << 1 | probe.Level(kA2, at) << 2, c.a);
            EXPECT_EQ(probe.Level(kDmack, at), 1);
            EXPECT_EQ(probe.Data(LatchedAt(word)), word.value);
            // The ideal bus has the data on the lines before the strobe falls;
            // a realistic card drives read data only inside the pulse.
            if (ideal || write) {
                EXPECT_EQ(probe.Data(at), word.value);
            } else {
                EXPECT_FALSE(Driven(bus.transcript(), at - 1));
            }
            // Both chip selects are released between cycles.
            EXPECT_EQ(probe.Level(kCs0, phase.end + 1) & probe.Level(kCs1, phase.end + 1), 1);
        }
        EXPECT_EQ(bus.transcript().undriven.empty(), ideal);
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
    for (bool ideal : {false, true}) {
        for (bool out : {false, true}) {
            for (Terminator terminator : {Terminator::Device, Terminator::Host}) {
                for (size_t count : {1u, 2u, 7u, 300u}) {
                    SCOPED_TRACE(testing::Message()
                                 << (ideal ? "ideal " : "realistic ") << (out ? "out" : "in")
                                 << " host-ended " << (terminator == Terminator::Host) << " words " << count);
                    Bus bus(ideal ? Ideal() : Options{});
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
}

TEST(Bus, UltraDmaBurstsOpenAndCloseInTheAtaOrder) {
    using L = Landmark;
    struct Case {
        bool ideal, out;
        Terminator terminator;
        std::vector<Landmark> closing;  // between the last word and DMACK- negation
    };
    const Case cases[] = {
        // The ideal bus (whose host negates STOP and asserts HDMARDY- on one
        // clock) closes every card-ended burst the same way.
        {true, false, Terminator::Device, {L::DmarqNegated, L::StopAsserted, L::ReceiverPaused}},
        {true, true, Terminator::Device, {L::DmarqNegated, L::StopAsserted, L::ReceiverPaused}},
        // The sender ends its burst: the card with DMARQ, the host with STOP.
        {false, false, Terminator::Device, {L::DmarqNegated, L::StopAsserted, L::ReceiverPaused}},
        {false, true, Terminator::Host, {L::StopAsserted, L::DmarqNegated, L::ReceiverPaused}},
        // The receiver ends it by dropping its ready line first.
        {false, false, Terminator::Host, {L::ReceiverPaused, L::StopAsserted, L::DmarqNegated}},
        {false, true, Terminator::Device, {L::ReceiverPaused, L::DmarqNegated, L::StopAsserted}},
    };
    for (const Case& c : cases) {
        for (double period : {1.0, 5.0, 40.0}) {
            for (int mode : {0, 4, 6}) {
                SCOPED_TRACE(testing::Message()
                             << (c.ideal ? "ideal " : "realistic ") << (c.out ? "out" : "in")
                             << " host-ended " << (c.terminator == Terminator::Host) << ", " << period
                             << " ns, mode " << mode);
                Options options = c.ideal ? Ideal() : Options{};
                options.samplePeriodNs = period;
                options.udmaMode = mode;
                Bus bus(options);
                UdmaBurst burst;
                burst.terminator = c.terminator;
                c.out ? bus.UdmaOut(Counting(4), burst) : bus.UdmaIn(Counting(4), burst);
                const Phase& phase = bus.transcript().phases[0];
                std::vector<Landmark> kinds;
                for (const Mark& mark : phase.marks) kinds.push_back(mark.kind);
                std::vector<Landmark> order = {L::DmarqAsserted, L::DmackAsserted, L::StopNegated,
                                               L::ReceiverReady};
                order.insert(order.end(), c.closing.begin(), c.closing.end());
                order.push_back(L::DmackNegated);
                EXPECT_EQ(kinds, order);
                if (c.ideal) continue;
                // Each step is an event of its own.
                for (size_t i = 1; i < phase.marks.size(); ++i) {
                    EXPECT_LT(phase.marks[i - 1].position, phase.marks[i].position) << i;
                }
                // The sender stops tSS after its last edge; a receiver that
                // ends the burst waits tRP before the next step.
                const UdmaTiming& t = UdmaMode(mode);
                const uint32_t last = phase.words.back().position;
                const bool senderEnds = (c.terminator == Terminator::Device) != c.out;
                if (senderEnds) {
                    EXPECT_GE(phase.marks[4].position - last, bus.Samples(t.tSs));
                } else {
                    EXPECT_GE(phase.marks[5].position - phase.marks[4].position, bus.Samples(t.tRp));
                }
            }
        }
    }
}

TEST(Bus, UltraDmaOpeningStepsReachTheLinesOneByOne) {
    for (bool out : {false, true}) {
        for (double period : {1.0, 2.5, 5.0, 40.0}) {
            for (int mode = 0; mode < kUdmaModes; ++mode) {
                SCOPED_TRACE(testing::Message()
                             << (out ? "out" : "in") << ", " << period << " ns, mode " << mode);
                Options options;
                options.samplePeriodNs = period;
                options.udmaMode = mode;
                Bus bus(options);
                bus.ReadRegister(Reg::Status, 0x58);
                const auto words = Counting(3, 0xBEEF);
                out ? bus.UdmaOut(words) : bus.UdmaIn(words);
                const Waveform waveform = bus.Finish();
                const Probe probe(waveform);
                const Transcript& transcript = bus.transcript();
                const Phase& phase = transcript.phases[1];
                const uint32_t dmack = FindMark(phase, Landmark::DmackAsserted)->position;
                const uint32_t stop = FindMark(phase, Landmark::StopNegated)->position;
                const uint32_t ready = FindMark(phase, Landmark::ReceiverReady)->position;
                const Transfer& first = phase.words[0];
                const UdmaTiming& t = UdmaMode(mode);
                EXPECT_LT(FindMark(phase, Landmark::DmarqAsserted)->position, dmack);
                EXPECT_GE(stop - dmack, bus.Samples(t.tEnv));
                EXPECT_GT(ready, stop);
                EXPECT_GT(first.position, ready);
                // Nobody drives DD until the sender starts; the host drives the
                // first word only after STOP is negated, the card only after
                // HDMARDY-, and it is set up before the first edge.
                EXPECT_FALSE(Driven(transcript, stop));
                EXPECT_GT(first.dataFrom, out ? stop : ready);
                EXPECT_FALSE(Driven(transcript, first.dataFrom - 1));
                EXPECT_GE((first.position - first.dataFrom) * period,
                          out ? t.tDvs : std::max(t.tDzfs, t.tDvs));
                // DSTROBE idles high, HSTROBE too, until the first edge.
                EXPECT_EQ(probe.Level(out ? kIord : kIordy, first.position - 1), 1);
                EXPECT_EQ(probe.Edge(out ? kIord : kIordy, first.position), fd::kEdgeFalling);

                // The host puts the CRC on DD (after the card let go of the
                // lines in a data-in burst) tCVS before DMACK- rises and holds
                // it tCVH.
                const Mark* up = FindMark(phase, Landmark::DmackNegated);
                const Transfer& last = phase.words.back();
                EXPECT_EQ(probe.Data(up->position), UdmaCrc(words));
                if (!out) {
                    EXPECT_FALSE(Driven(transcript, last.dataUntil));
                }
                uint32_t crcFrom = up->position;
                while (Driven(transcript, crcFrom - 1) && probe.Data(crcFrom - 1) == phase.crc) --crcFrom;
                EXPECT_GE((up->position - crcFrom) * period, t.tCvs);
                EXPECT_TRUE(Driven(transcript, up->position + bus.Samples(t.tCvh) - 1));
                EXPECT_FALSE(Driven(transcript, up->position + bus.Samples(t.tCvh)));
            }
        }
    }
}

TEST(Bus, TheIdealHostDrivesTheFirstDataOutWordWithDmack) {
    Bus bus(Ideal());
    bus.UdmaOut(Counting(3, 0xBEEF));
    const Phase& phase = bus.transcript().phases[0];
    EXPECT_EQ(FindMark(phase, Landmark::DmackAsserted)->bus, 0xBEEF);
    EXPECT_EQ(FindMark(phase, Landmark::StopNegated)->bus, 0xBEEF);
}

// The CRC folds every word in bit by bit from DD0 up. With all-zero data
// each step only shifts the register (feeding back its bit 15), so a burst
// of one 0000h word gives the seed shifted through 16 steps, E496h. A word
// whose only one is DD15 differs from that in the very last step alone, by
// the polynomial 1021h: F4B7h. Folded from DD15 down, 0001h would be the
// word that differs by 1021h.
TEST(Bus, UltraDmaCrcFoldsEachWordFromDd0Up) {
    struct Case {
        std::vector<uint16_t> words;
        uint16_t crc;
    };
    const Case cases[] = {
        {{}, 0x4ABA},
        {{0x0000}, 0xE496},
        {{0x8000}, 0xE496 ^ 0x1021},
        {{0x0001}, 0xFF0E},
        {{0xFFFF}, 0xF999},
        {{0x1234, 0xABCD}, 0x23FF},
        {{0x0001, 0x0002, 0x0003}, 0x286A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.words.size() << " words, crc " << std::hex << c.crc);
        EXPECT_EQ(UdmaCrc(c.words), c.crc);
        if (c.words.empty()) continue;
        for (bool out : {false, true}) {
            Bus bus;
            out ? bus.UdmaOut(c.words) : bus.UdmaIn(c.words);
            const Probe probe(bus.Finish());
            const Mark* up = FindMark(bus.transcript().phases[0], Landmark::DmackNegated);
            EXPECT_EQ(probe.Data(up->position), c.crc);
            EXPECT_EQ(probe.Data(up->position - 1), c.crc);
        }
    }
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
                        case PhaseKind::MwdmaOut:
                            EXPECT_GE(gap, bus.Samples(m.t0));
                            break;
                        default:
                            EXPECT_GE(gap, bus.Samples(p.t0));
                            break;
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
    for (bool ideal : {false, true}) {
        for (bool out : {false, true}) {
            SCOPED_TRACE(testing::Message() << (ideal ? "ideal " : "realistic ") << (out ? "out" : "in"));
            Bus bus(ideal ? Ideal() : Options{});
            const auto words = Counting(10);
            out ? bus.MwdmaOut(words) : bus.MwdmaIn(words);
            const Probe probe(bus.Finish());
            const Phase& phase = bus.transcript().phases[0];
            ASSERT_EQ(phase.words.size(), words.size());
            for (const Transfer& word : phase.words) {
                EXPECT_EQ(probe.Edge(out ? kIowr : kIord, word.position), fd::kEdgeFalling);
                // The other strobe keeps its level across the whole pulse.
                for (uint32_t at = word.position; at < word.strobeEnd; ++at) {
                    EXPECT_EQ(probe.Level(out ? kIord : kIowr, at), 1);
                }
                EXPECT_EQ(probe.Level(kDmarq, word.position - 1), 1);
                EXPECT_EQ(probe.Level(kDmack, word.position), 0);
                EXPECT_EQ(probe.Level(kCs0, word.position) & probe.Level(kCs1, word.position), 1);
                EXPECT_EQ(probe.Data(LatchedAt(word)), word.value);
            }
            EXPECT_EQ(probe.Level(kDmarq, phase.end + 1), 0);
            EXPECT_EQ(probe.Level(kDmack, phase.end + 1), 1);
        }
    }
}

// Read cycles of every kind at coarse and fine sample periods: the card's
// data is on the lines only inside the strobe pulse, from the latest moment
// CF 4.1 allows (or the access time asked for), always by the pulse's last
// sample, and the lines are let go a hold time after the strobe rises.
TEST(Bus, ReadDataIsDrivenOnlyInsideThePulse) {
    enum Kind { kRegister, kPio, kMultiword };
    for (double period : {1.0, 2.5, 5.0, 8.0, 40.0, 100.0}) {
        for (int mode : {0, 2, 4, 6}) {
            for (double access : {-1.0, 0.0, 1e6}) {
                SCOPED_TRACE(testing::Message() << period << " ns, mode " << mode << ", access " << access);
                Options options;
                options.samplePeriodNs = period;
                options.pioMode = mode;
                options.mwdmaMode = std::min(mode, kMwdmaModes - 1);
                options.timing.readAccessNs = access;
                Bus bus(options);
                bus.ReadRegister(Reg::Status, 0x58);
                bus.PioDataIn(Counting(3, 0x8001));
                bus.MwdmaIn(Counting(3, 0x4002));
                const Probe probe(bus.Finish());
                const Transcript& transcript = bus.transcript();
                const PioTiming& p = PioMode(mode);
                const MwdmaTiming& m = MwdmaMode(options.mwdmaMode);
                for (const Phase& phase : transcript.phases) {
                    const Kind kind = phase.kind == PhaseKind::RegisterRead ? kRegister
                                      : phase.kind == PhaseKind::PioDataIn  ? kPio
                                                                            : kMultiword;
                    const double latest = kind == kRegister ? p.t2Reg - p.t5
                                          : kind == kPio    ? p.t2Data - p.t5
                                                            : m.tD - m.tG;
                    const double hold = kind == kMultiword ? m.tF : p.t6;
                    for (const Transfer& word : phase.words) {
                        SCOPED_TRACE(testing::Message() << "kind " << kind << " @" << word.position);
                        ASSERT_GT(word.strobeEnd, word.position);
                        EXPECT_FALSE(Driven(transcript, word.position - 1));
                        EXPECT_GE(word.dataFrom, word.position);
                        EXPECT_LT(word.dataFrom, word.strobeEnd);
                        for (uint32_t at = word.dataFrom; at < word.strobeEnd; ++at) {
                            EXPECT_TRUE(Driven(transcript, at));
                            EXPECT_EQ(probe.Data(at), word.value);
                        }
                        const uint32_t delay = word.dataFrom - word.position;
                        const double wanted = access < 0 ? latest : access;
                        // No later than wanted, and no sample earlier than needed
                        // unless the pulse ends first.
                        EXPECT_LE(delay * period, wanted + 1e-9);
                        if (word.dataFrom + 1 < word.strobeEnd) {
                            EXPECT_GT((delay + 1) * period, wanted);
                        }
                        EXPECT_EQ(word.dataUntil, word.strobeEnd + bus.Samples(hold));
                        EXPECT_TRUE(Driven(transcript, word.dataUntil - 1));
                        EXPECT_FALSE(Driven(transcript, word.dataUntil));
                    }
                }
            }
        }
    }
}

TEST(Bus, WriteDataFollowsTheHostsChoice) {
    for (WriteData choice : {WriteData::Setup, WriteData::Strobe, WriteData::Late}) {
        for (double period : {1.0, 5.0, 8.0, 40.0}) {
            for (int mode : {0, 4, 6}) {
                SCOPED_TRACE(testing::Message() << "choice " << static_cast<int>(choice) << ", " << period
                                                << " ns, mode " << mode);
                Options options;
                options.samplePeriodNs = period;
                options.pioMode = mode;
                options.mwdmaMode = std::min(mode, kMwdmaModes - 1);
                options.timing.writeData = choice;
                Bus bus(options);
                bus.WriteRegister(Reg::Command, 0xCA);
                bus.PioDataOut(Counting(2, 0x8001));
                bus.MwdmaOut(Counting(3, 0x4002));
                const Probe probe(bus.Finish());
                const Transcript& transcript = bus.transcript();
                const PioTiming& p = PioMode(mode);
                const MwdmaTiming& m = MwdmaMode(options.mwdmaMode);
                for (const Phase& phase : transcript.phases) {
                    const bool multiword = phase.kind == PhaseKind::MwdmaOut;
                    const double setup = multiword ? m.tG : p.t3;
                    const double hold = multiword ? m.tH : p.t4;
                    for (size_t i = 0; i < phase.words.size(); ++i) {
                        const Transfer& word = phase.words[i];
                        SCOPED_TRACE(testing::Message() << "@" << word.position);
                        for (uint32_t at = word.dataFrom; at < word.strobeEnd; ++at) {
                            EXPECT_EQ(probe.Data(at), word.value);
                        }
                        switch (choice) {
                            case WriteData::Setup:
                                // With the address; the next multiword DMA word
                                // follows the previous one's hold.
                                EXPECT_LT(word.dataFrom, word.position);
                                if (!multiword) {
                                    EXPECT_EQ(word.dataFrom, word.position - bus.Samples(p.t1));
                                }
                                if (multiword && i > 0) {
                                    EXPECT_EQ(word.dataFrom,
                                              phase.words[i - 1].strobeEnd + bus.Samples(hold));
                                }
                                break;
                            case WriteData::Strobe:
                                EXPECT_EQ(word.dataFrom, word.position);
                                break;
                            case WriteData::Late:
                                EXPECT_GE(word.dataFrom, word.position);
                                if (word.dataFrom > word.position) {
                                    EXPECT_GE((word.strobeEnd - word.dataFrom) * period, setup - 1e-9);
                                    EXPECT_LT((word.strobeEnd - word.dataFrom - 1) * period, setup);
                                }
                                break;
                        }
                        // After its hold the host lets go, unless the next
                        // word takes the lines over right then.
                        const bool followed =
                            multiword && choice == WriteData::Setup && i + 1 < phase.words.size();
                        EXPECT_EQ(word.dataUntil, word.strobeEnd + bus.Samples(hold));
                        EXPECT_EQ(Driven(transcript, word.dataUntil), followed);
                    }
                }
            }
        }
    }
}

TEST(Bus, IordyWaitStatesStretchTheirPulses) {
    struct Case {
        double period;
        bool withStrobe;
        int pioMode;
    };
    const Case cases[] = {
        {1, false, 0}, {5, false, 4}, {5, true, 4}, {8, false, 3}, {40, false, 4}, {50, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.period << " ns, PIO" << c.pioMode << (c.withStrobe ? ", with strobe" : ""));
        Options options;
        options.samplePeriodNs = c.period;
        options.pioMode = c.pioMode;
        options.timing.iordyWaitNs = 300;
        options.timing.iordyEvery = 2;
        options.timing.iordyWithStrobe = c.withStrobe;
        Bus bus(options);
        bus.ReadRegister(Reg::Status, 0x58);
        bus.WriteRegister(Reg::SectorCount, 1);
        bus.PioDataIn(Counting(4, 0x8001));
        bus.PioDataOut(Counting(4, 0x4002));
        const Waveform waveform = bus.Finish();
        const Probe probe(waveform);
        const PioTiming& t = PioMode(c.pioMode);
        size_t cycle = 0;
        for (const Phase& phase : bus.transcript().phases) {
            const bool read = phase.kind == PhaseKind::RegisterRead || phase.kind == PhaseKind::PioDataIn;
            const double pulse = phase.reg == Reg::Data ? t.t2Data : t.t2Reg;
            for (const Transfer& word : phase.words) {
                ++cycle;
                SCOPED_TRACE(testing::Message() << "cycle " << cycle << " @" << word.position);
                const auto iordy = EdgesOf(waveform, kIordy, word.position, word.strobeEnd);
                EXPECT_EQ(probe.Data(LatchedAt(word)), word.value);
                if (cycle % 2 == 1) {
                    EXPECT_TRUE(iordy.empty());
                    EXPECT_EQ(word.waitFrom, 0u);
                    EXPECT_EQ(word.strobeEnd - word.position, bus.Samples(pulse));
                    continue;
                }
                // IORDY falls at most tA after the strobe (in its sample when
                // asked, or when a sample is longer than tA) and comes back
                // after the wait; the host ends the pulse only after that.
                ASSERT_EQ(iordy, (std::vector<uint32_t>{word.waitFrom, word.waitUntil}));
                EXPECT_LE((word.waitFrom - word.position) * c.period, t.tA);
                if (c.withStrobe || c.period > t.tA) {
                    EXPECT_EQ(word.waitFrom, word.position);
                } else {
                    EXPECT_GT((word.waitFrom - word.position + 1) * c.period, t.tA);
                }
                EXPECT_EQ(probe.Level(kIordy, word.waitFrom), 0);
                EXPECT_GE((word.waitUntil - word.waitFrom) * c.period, 300);
                EXPECT_GT(word.strobeEnd, word.waitUntil);
                EXPECT_GT(word.strobeEnd - word.position, bus.Samples(pulse));
                // Read data is valid tRD before IORDY returns.
                if (read) {
                    EXPECT_LE(word.dataFrom, word.waitUntil - bus.SamplesWithin(t.tRd));
                }
                // Outside DMA nothing else moves with the strobe.
                EXPECT_EQ(probe.Level(kDmack, word.position), 1);
            }
        }
        EXPECT_EQ(cycle, 10u);
    }

    Options noIordy;
    noIordy.pioMode = 5;
    noIordy.timing.iordyWaitNs = 100;
    EXPECT_THROW(Bus{noIordy}, std::invalid_argument);
    Options tooLong;
    tooLong.timing.iordyWaitNs = 1300;
    EXPECT_THROW(Bus{tooLong}, std::invalid_argument);
    tooLong.timing.ideal = true;  // the ideal bus has no wait states to refuse
    EXPECT_NO_THROW(Bus{tooLong});
}

TEST(Bus, MultiwordDmaDmarqDropsWithinTlOfTheLastStrobe) {
    for (bool out : {false, true}) {
        for (double period : {1.0, 5.0, 40.0}) {
            for (int mode = 0; mode < kMwdmaModes; ++mode) {
                for (int placement = 0; placement < 3; ++placement) {  // tL, with the strobe, ideal
                    SCOPED_TRACE(testing::Message() << (out ? "out" : "in") << ", " << period << " ns, mode "
                                                    << mode << ", placement " << placement);
                    Options options = placement == 2 ? Ideal() : Options{};
                    options.samplePeriodNs = period;
                    options.mwdmaMode = mode;
                    options.timing.dmarqWithStrobe = placement == 1;
                    Bus bus(options);
                    out ? bus.MwdmaOut(Counting(3)) : bus.MwdmaIn(Counting(3));
                    const Waveform waveform = bus.Finish();
                    const Phase& phase = bus.transcript().phases[0];
                    const Transfer& last = phase.words.back();
                    const auto dmarq = EdgesOf(waveform, kDmarq, phase.start, phase.end);
                    ASSERT_EQ(dmarq.size(), 2u);
                    const MwdmaTiming& t = MwdmaMode(mode);
                    const double tL = out ? t.tLW : t.tLR;
                    if (placement == 0) {
                        EXPECT_LE((dmarq[1] - last.position) * period, tL);
                        EXPECT_GT((dmarq[1] - last.position + 1) * period, tL);
                    } else {
                        EXPECT_EQ(dmarq[1], placement == 1 ? last.position : last.strobeEnd);
                    }
                    EXPECT_GT(FindMark(phase, Landmark::DmackNegated)->position,
                              std::max(dmarq[1], last.strobeEnd));
                }
            }
        }
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
    EXPECT_EQ(shape, (std::vector<std::pair<K, Reg>>{{K::RegisterWrite, Reg::CardHead},
                                                     {K::RegisterWrite, Reg::Features},
                                                     {K::RegisterWrite, Reg::SectorCount},
                                                     {K::RegisterWrite, Reg::SectorNumber},
                                                     {K::RegisterWrite, Reg::CylinderLow},
                                                     {K::RegisterWrite, Reg::CylinderHigh},
                                                     {K::RegisterWrite, Reg::Command},
                                                     {K::RegisterRead, Reg::Status},
                                                     {K::RegisterRead, Reg::Status},
                                                     {K::RegisterRead, Reg::Status},
                                                     {K::PioDataIn, Reg::Data},
                                                     {K::RegisterRead, Reg::AltStatus}}));
    EXPECT_EQ(statuses, (std::vector<uint16_t>{0x80, 0x80, 0x58, 0x50}));
    const Phase& data = bus.transcript().phases[10];
    ASSERT_EQ(data.words.size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(data.words[i].value, block[i]);
        EXPECT_EQ(probe.Data(LatchedAt(data.words[i])), block[i]);
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
            EXPECT_EQ(probe.Data(LatchedAt(word)), word.value);
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
    EXPECT_EQ(probe.Data(LatchedAt(read)), 0x50);
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
