// Synthesized captures decoded by the plug-in through its entry table, in
// memory and written as VCD, sigrok session and CSV files. The expected
// records come from the synthesizer's transcript (what it put on the bus)
// and the decoding rules: register and multiword DMA cycles at the falling
// strobe with the data of the pulse's last sample, Ultra DMA words on both
// edges counted into 256-word sectors, block markers, COMPOSE at each new
// sector, START before the first record unless a CARD/HEAD cycle comes
// first. Nothing here runs decoder code.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "host/formats/capture_reader.h"
#include "host/formats/csv_capture.h"
#if defined(FD_HAVE_SESSIONS)
#include "host/formats/sigrok_session.h"
#endif
#include "host/model/capture_image.h"
#include "sim/bus.h"
#include "sim/scenarios.h"
#include "sim/vcd_writer.h"
#include "tests/support/fresh_plugin.h"
#include "tests/support/register_fields.h"

namespace {

using fd::host::CaptureImage;
using fd::host::Waveform;
using namespace fd::sim;

struct Record {
    uint32_t position;
    uint64_t value;
    uint16_t id;
    uint32_t colour;
    bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
    return out << "{@" << r.position << " id " << r.id << " value 0x" << std::hex << r.value << " colour 0x"
               << r.colour << std::dec << "}";
}

// Record colours with the default settings applied by SetCapture.
uint32_t Colour(uint16_t id) {
    static const std::map<uint16_t, uint32_t> colours = {
        {1, 0x333333},    {4002, 0xFD7D3C}, {4003, 0x5949E6}, {4004, 0x9900CC}, {4005, 0xB77B41},
        {4006, 0x868686}, {4007, 0xE54E00}, {4008, 0xA0489C}, {4009, 0x89CE8A}, {4010, 0x2DBE73},
        {4011, 0x5984F4}, {4012, 0x9F7FEF}, {4013, 0xFD7D3C}, {4014, 0x5949E6}, {4015, 0x1D72F9},
        {4017, 0xFD7D3C}, {4018, 0x5949E6}, {4026, 0x33CC33}, {4032, 0x33CC33},
    };
    const auto found = colours.find(id);
    return found == colours.end() ? 0 : found->second;  // COMPOSE, markers and START are black
}

constexpr uint16_t kCompose = 3036, kReadBlock = 3100, kWriteBlock = 3101, kStart = 3306;
constexpr uint16_t kDataRead = 4026, kDataWrite = 4032, kDmaRead = 4017, kDmaWrite = 4018;

// What the decoding rules make of the transcript.
class Expectation {
public:
    // `scale`: positions per sample in the decoded file (a VCD counts
    // nanoseconds).
    explicit Expectation(const Transcript& transcript, uint32_t scale = 1) : scale_(scale) {
        Add({0, 1, 1, Colour(1)});
        struct Event {
            uint32_t position;
            const Phase* phase;
            const Transfer* word;  // null for STOP read as a multiword DMA write pulse
            uint16_t bus;
            bool stopCycle = false;  // STOP read as a multiword DMA write pulse
        };
        std::vector<Event> events;
        for (const Phase& phase : transcript.phases) {
            // A receiver pausing or ending a burst moves only its ready
            // line, which carries no word once the burst's words have shown
            // their way.
            for (const Transfer& word : phase.words) {
                if (!word.simultaneous) events.push_back({word.position, &phase, &word, word.value});
            }
            for (const Mark& mark : phase.marks) {
                // STOP negated opens a data-out burst and is no cycle, unless
                // the simultaneous-strobe fault pulses STOP at the first
                // HSTROBE edge: then STOP alone was low while HSTROBE held,
                // a multiword DMA write pulse.
                if (phase.kind == PhaseKind::UdmaOut && mark.kind == Landmark::StopNegated &&
                    phase.words[0].simultaneous) {
                    events.push_back({mark.position, &phase, nullptr, phase.words[0].value, true});
                }
            }
        }
        std::sort(events.begin(), events.end(),
                  [](const Event& a, const Event& b) { return a.position < b.position; });
        for (const Event& e : events) {
            const Phase& phase = *e.phase;
            switch (phase.kind) {
                case PhaseKind::RegisterRead:
                case PhaseKind::RegisterWrite:
                case PhaseKind::PioDataIn:
                case PhaseKind::PioDataOut: {
                    const bool write =
                        phase.kind == PhaseKind::RegisterWrite || phase.kind == PhaseKind::PioDataOut;
                    Register(e.position, phase.reg, write, e.bus);
                    break;
                }
                case PhaseKind::MwdmaIn:
                    Cycle(e.position, kDmaRead, e.bus);
                    break;
                case PhaseKind::MwdmaOut:
                    Cycle(e.position, kDmaWrite, e.bus);
                    break;
                case PhaseKind::UdmaIn:
                    UltraWord(e.position, false, e.bus);
                    break;
                case PhaseKind::UdmaOut:
                    if (e.stopCycle) {
                        Cycle(e.position, kDmaWrite, e.bus);
                    } else {
                        UltraWord(e.position, true, e.bus);
                    }
                    break;
            }
        }
    }

    const std::vector<Record>& records() const { return records_; }

private:
    void Add(Record record) { records_.push_back(record); }
    void Emit(uint32_t at, uint16_t id, uint64_t value) { Add({at * scale_, value, id, Colour(id)}); }
    void StartIfPending(uint32_t at) {
        if (startPending_) Emit(at, kStart, 0);
        startPending_ = false;
    }
    void Cycle(uint32_t at, uint16_t id, uint64_t value) {
        StartIfPending(at);
        Emit(at, id, value);
    }
    void Register(uint32_t at, Reg reg, bool write, uint16_t bus) {
        const auto id = fd::test::RegisterField(reg, write);
        if (!id) return;
        const int byte = bus & 0xFF;
        if (reg == Reg::CardHead) {
            Emit(at, *id, static_cast<uint64_t>(byte));
            cardHead_ = byte;
            cylinderHigh_ = cylinderLow_ = sectorNumber_ = wordCount_ = 0;
            startPending_ = false;
            return;
        }
        Cycle(at, *id, reg == Reg::Data ? bus : static_cast<uint64_t>(byte));
        if (reg == Reg::SectorNumber) sectorNumber_ = byte;
        if (reg == Reg::CylinderLow) cylinderLow_ = byte;
        if (reg == Reg::CylinderHigh) cylinderHigh_ = byte;
    }
    void UltraWord(uint32_t at, bool hostToCard, uint16_t word) {
        if (wordCount_ == 256) {
            ++sectorNumber_;
            const auto address = static_cast<int32_t>(
                ((static_cast<uint32_t>(cardHead_) * 256 + static_cast<uint32_t>(cylinderHigh_)) * 256 +
                 static_cast<uint32_t>(cylinderLow_)) *
                    256 +
                static_cast<uint32_t>(sectorNumber_));
            Emit(at, kCompose, static_cast<uint64_t>(static_cast<int64_t>(address)));
            wordCount_ = 0;
        }
        if (wordCount_ == 0)
            Emit(at, hostToCard ? kWriteBlock : kReadBlock, hostToCard ? kWriteBlock : kReadBlock);
        StartIfPending(at);
        Emit(at, hostToCard ? kDataWrite : kDataRead, word);
        ++wordCount_;
    }

    uint32_t scale_;
    std::vector<Record> records_;
    bool startPending_ = true;
    int cardHead_ = 0, cylinderHigh_ = 0, cylinderLow_ = 0, sectorNumber_ = 0, wordCount_ = 0;
};

std::vector<Record> Decode(const Waveform& waveform) {
    fd::test::FreshPlugin plugin;
    const FdEntryTable& table = plugin.table();
    CaptureImage image = CaptureImage::FromWaveform(waveform);
    table.SetCapture(0, image.capture());
    EXPECT_TRUE(table.Decode());
    const FdCapture& capture = *image.capture();
    std::vector<Record> records;
    if (!capture.positionList) return records;
    const int32_t count = capture.positionList->count;
    EXPECT_EQ(capture.valueList->count, count);
    EXPECT_EQ(capture.fieldIdList->count, count);
    EXPECT_EQ(capture.colourList->count, count);
    for (int32_t i = 0; i < count; ++i) {
        records.push_back({capture.positionList->elements[i], capture.valueList->elements[i],
                           capture.fieldIdList->elements[i], capture.colourList->elements[i]});
    }
    return records;
}

// Record by record, reporting the first few differences with their index.
void ExpectSameRecords(const std::vector<Record>& actual, const std::vector<Record>& expected) {
    EXPECT_EQ(actual.size(), expected.size());
    int reported = 0;
    for (size_t i = 0; i < std::min(actual.size(), expected.size()) && reported < 10; ++i) {
        if (actual[i] == expected[i]) continue;
        ADD_FAILURE() << "record " << i << ": decoded " << actual[i] << ", expected " << expected[i];
        ++reported;
    }
}

std::vector<Record> Only(const std::vector<Record>& records, uint16_t id) {
    std::vector<Record> found;
    for (const Record& r : records) {
        if (r.id == id) found.push_back(r);
    }
    return found;
}

TEST(DecodeSynthesized, FullCommandSequence) {
    Bus bus;
    SetFeatures(bus, kSetTransferMode, 0x44);
    const auto identify = IdentifyData();
    IdentifyByPio(bus, identify);
    const auto readData = RandomSectors(bus, 3);
    ReadDma(bus, 0x0123456, readData);
    const auto writeData = RandomSectors(bus, 2);
    WriteDma(bus, 0x0123459, writeData);
    const Waveform waveform = bus.Finish();

    const auto decoded = Decode(waveform);
    const Expectation expected(bus.transcript());
    ExpectSameRecords(decoded, expected.records());

    // The same capture, checked by hand at the places that matter. The first
    // cycle is a CARD/HEAD write, so no START record appears anywhere.
    EXPECT_TRUE(Only(decoded, kStart).empty());
    EXPECT_EQ(decoded[0], (Record{0, 1, 1, 0x333333}));
    EXPECT_EQ(decoded[1].id, 4010);
    EXPECT_EQ(decoded[1].value, 0xA0u);
    const auto commands = Only(decoded, 4012);
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].value, 0xEFu);
    EXPECT_EQ(commands[1].value, 0xECu);
    EXPECT_EQ(commands[2].value, 0xC8u);
    EXPECT_EQ(commands[3].value, 0xCAu);
    const auto pioReads = Only(decoded, 4002);
    ASSERT_EQ(pioReads.size(), 256u);
    EXPECT_EQ(pioReads[0].value, 0x848Au);
    const auto reads = Only(decoded, kDataRead);
    ASSERT_EQ(reads.size(), readData.size());
    for (size_t i = 0; i < reads.size(); ++i) ASSERT_EQ(reads[i].value, readData[i]) << i;
    // Sectors 2 and 3 of the read, sectors 2 of the write: LBA 0x123456 in
    // CARD/HEAD E0 | 0, cylinder 0x12 0x34, sector 0x56.
    const auto composed = Only(decoded, kCompose);
    ASSERT_EQ(composed.size(), 3u);
    EXPECT_EQ(composed[0].value, 0xFFFFFFFFE0123457u);
    EXPECT_EQ(composed[1].value, 0xFFFFFFFFE0123458u);
    EXPECT_EQ(composed[2].value, 0xFFFFFFFFE012345Au);
    EXPECT_EQ(Only(decoded, kReadBlock).size(), 3u);
    // Write DMA: STOP negated while HSTROBE stays high opens the burst and
    // is no cycle of its own; then every word on both HSTROBE edges.
    EXPECT_TRUE(Only(decoded, kDmaWrite).empty());
    const auto writes = Only(decoded, kDataWrite);
    ASSERT_EQ(writes.size(), writeData.size());
    EXPECT_EQ(writes.back().value, writeData.back());
    EXPECT_EQ(Only(decoded, kWriteBlock).size(), 2u);
}

TEST(DecodeSynthesized, MultiwordDma) {
    Options options;
    options.mwdmaMode = 4;
    Bus bus(options);
    const auto in = RandomSectors(bus, 1);
    const auto out = RandomSectors(bus, 1);
    ReadDma(bus, 0x800, in, {DmaKind::Multiword, 100});
    WriteDma(bus, 0x801, out, {DmaKind::Multiword});
    const Waveform waveform = bus.Finish();
    const auto decoded = Decode(waveform);
    ExpectSameRecords(decoded, Expectation(bus.transcript()).records());
    const auto reads = Only(decoded, kDmaRead);
    ASSERT_EQ(reads.size(), 256u);
    EXPECT_EQ(reads[255].value, in[255]);
    EXPECT_EQ(Only(decoded, kDmaWrite).size(), 256u);
    EXPECT_TRUE(Only(decoded, kCompose).empty());  // multiword DMA keeps no sector count
}

TEST(DecodeSynthesized, LongBurstsCrossSectorsAndDirections) {
    struct Case {
        const char* name;
        int udmaMode;
        uint32_t lba;
        Terminator terminator;
    };
    const Case cases[] = {
        {"carry out of the sector byte", 4, 0x00000FF, Terminator::Device},
        {"host ends the bursts", 6, 0x0ABCDEF, Terminator::Host},
        {"slow mode", 0, 0x0000010, Terminator::Device},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Options options;
        options.udmaMode = c.udmaMode;
        Bus bus(options);
        bus.WriteTaskFile(LbaTaskFile(c.lba, 4));
        bus.Command(kReadDma);
        const auto words = RandomSectors(bus, 4);
        UdmaBurst burst;
        burst.terminator = c.terminator;
        burst.pauseAfter = {10, 255, 256};
        const std::span<const uint16_t> all(words);
        bus.UdmaIn(all.subspan(0, 600), burst);
        // The direction changes in the middle of the third sector: no new
        // marker until the fourth starts.
        bus.UdmaOut(all.subspan(600, 300), burst);
        bus.UdmaIn(all.subspan(900), burst);
        const Waveform waveform = bus.Finish();
        const auto decoded = Decode(waveform);
        ExpectSameRecords(decoded, Expectation(bus.transcript()).records());
        const auto composed = Only(decoded, kCompose);
        ASSERT_GE(composed.size(), 3u);
        // Sector 0xFF + 1 carries into the cylinder-low byte.
        const uint32_t next = (0xE0u << 24) + c.lba + 1;
        EXPECT_EQ(composed[0].value, 0xFFFFFFFF00000000u | next);
    }
}

TEST(DecodeSynthesized, SimultaneousStrobesLoseTheirWords) {
    Options options;
    options.faults.simultaneousEvery = 7;
    Bus bus(options);
    bus.WriteTaskFile(LbaTaskFile(0x40, 2));
    const auto words = RandomSectors(bus, 2);
    const std::span<const uint16_t> all(words);
    bus.UdmaIn(all.subspan(0, 300));
    bus.UdmaOut(all.subspan(300, 200));
    bus.MwdmaIn(all.subspan(500, 12));
    const Waveform waveform = bus.Finish();
    const auto decoded = Decode(waveform);
    ExpectSameRecords(decoded, Expectation(bus.transcript()).records());
    size_t lost = 0;
    for (const Phase& phase : bus.transcript().phases) {
        for (const Transfer& word : phase.words) lost += word.simultaneous;
    }
    EXPECT_EQ(lost, 512u / 7);
    EXPECT_EQ(
        Only(decoded, kDataRead).size() + Only(decoded, kDataWrite).size() + Only(decoded, kDmaRead).size(),
        512 - lost);
}

TEST(DecodeSynthesized, ZeroWidthGlitchesAndLowStartsChangeNothing) {
    auto run = [](bool faults) {
        Options options;
        options.seed = 5;
        if (faults) {
            options.faults.glitchCount = 40;
            options.faults.startLow = {"IORD", "IOWR", "IORDY", "CS0", "DMACK"};
        }
        Bus bus(options);
        RunScenario(bus, "mixed", {});
        return Decode(bus.Finish());
    };
    const auto clean = run(false);
    ASSERT_GT(clean.size(), 1000u);
    ExpectSameRecords(run(true), clean);
}

enum class Format { Vcd, Sigrok, Csv };

// The capture written as a file and read back by the reference host's
// readers, as cfsim writes it and cfdecode reads it.
Waveform ThroughFile(const Waveform& waveform, const Transcript& transcript, Format format) {
    const char* extension = format == Format::Vcd ? ".vcd" : format == Format::Sigrok ? ".sr" : ".csv";
    const std::string path = testing::TempDir() + "decode_synthesized" + extension;
    if (format == Format::Vcd) {
        std::ofstream out(path, std::ios::binary);
        fd::sim::WriteVcd(out, waveform, fd::sim::VcdOptionsFor(transcript, waveform));
    }
#if defined(FD_HAVE_SESSIONS)
    if (format == Format::Sigrok) fd::host::WriteSigrokSession(waveform, path);
#endif
    if (format == Format::Csv) {
        std::ofstream out(path, std::ios::binary);
        fd::host::WriteCsvCapture(waveform, out);
    }
    Waveform back = fd::host::ReadCapture(path);
    std::filesystem::remove(path);
    return back;
}

TEST(DecodeSynthesized, EveryCfsimScenarioInEveryFormat) {
    for (const bool ideal : {false, true}) {
        for (const ScenarioInfo& scenario : Scenarios()) {
            SCOPED_TRACE(std::string(scenario.name) + (ideal ? ", ideal bus" : ", realistic bus"));
            Options options;
            options.intrq = true;  // an extra channel after D15 changes nothing
            options.timing.ideal = ideal;
            Bus bus(options);
            ScenarioParams params;
            params.sectors = 2;
            params.burstWords = 200;
            params.edges = 20'000;  // bench: two of its commands
            RunScenario(bus, scenario.name, params);
            const Waveform waveform = bus.Finish();
            ExpectSameRecords(Decode(waveform), Expectation(bus.transcript()).records());
            if (ideal) continue;
            // A VCD counts nanoseconds and shows the undriven data lines as z;
            // a session and CSV count samples and keep the lines' last level.
            const auto vcdScale =
                static_cast<uint32_t>(fd::sim::ChooseTimescale(waveform.secondsPerPosition).unitsPerSample);
            struct Written {
                Format format;
                const char* name;
                uint32_t scale;
            };
            std::vector<Written> files = {{Format::Vcd, "VCD", vcdScale}, {Format::Csv, "CSV", 1}};
#if defined(FD_HAVE_SESSIONS)
            files.push_back({Format::Sigrok, ".sr", 1});
#endif
            for (const Written& file : files) {
                SCOPED_TRACE(file.name);
                ExpectSameRecords(Decode(ThroughFile(waveform, bus.transcript(), file.format)),
                                  Expectation(bus.transcript(), file.scale).records());
            }
        }
    }
}

// Where the realistic bus puts its handshakes at the edge of what ATA
// allows: IORDY falling with the strobe, DMARQ dropped with the last
// multiword DMA strobe, write data at the last moment, read data a sample
// before the strobe rises, odd-sized Ultra DMA bursts the card ends.
TEST(DecodeSynthesized, HandshakesAtTheirLimits) {
    struct Case {
        const char* name;
        double period;
        BusTiming timing;
        size_t burstWords;
    };
    BusTiming waits;
    waits.iordyWaitNs = 250;
    waits.iordyEvery = 3;
    waits.iordyWithStrobe = true;
    BusTiming edges;
    edges.writeData = WriteData::Late;
    edges.readAccessNs = 1e6;
    edges.dmarqWithStrobe = true;
    BusTiming strobeData = waits;
    strobeData.iordyWithStrobe = false;
    strobeData.writeData = WriteData::Strobe;
    const Case cases[] = {
        {"IORDY waits with the strobe", 5, waits, 200},
        {"data at the pulse's ends, DMARQ with the strobe", 5, edges, 101},
        {"coarse samples", 40, strobeData, 77},
        {"fine samples", 1, edges, 33},
    };
    for (const Case& c : cases) {
        for (const char* scenario : {"mixed", "mdma", "udma-pause", "pio-write"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + scenario);
            Options options;
            options.samplePeriodNs = c.period;
            options.timing = c.timing;
            Bus bus(options);
            ScenarioParams params;
            params.sectors = 2;
            params.burstWords = c.burstWords;
            RunScenario(bus, scenario, params);
            ExpectSameRecords(Decode(bus.Finish()), Expectation(bus.transcript()).records());
        }
    }
}

TEST(DecodeSynthesized, FirstRecordedCycleGetsStart) {
    Bus bus;
    bus.ReadRegister(Reg::Status, 0x50);
    bus.UdmaOut(std::vector<uint16_t>{0x8001, 2});
    const auto decoded = Decode(bus.Finish());
    ExpectSameRecords(decoded, Expectation(bus.transcript()).records());
    ASSERT_EQ(decoded.size(), 6u);
    EXPECT_EQ(decoded[1].id, kStart);
    EXPECT_EQ(decoded[2].id, 4011);
    EXPECT_EQ(decoded[2].value, 0x50u);
    EXPECT_EQ(decoded[3].id, kWriteBlock);
    EXPECT_EQ(decoded[4].value, 0x8001u);
    EXPECT_EQ(decoded[5].value, 2u);
}

}  // namespace
