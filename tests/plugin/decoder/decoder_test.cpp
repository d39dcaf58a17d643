// The decoder on hand-built captures: every register cycle code, multiword
// and Ultra DMA in both directions, sector boundaries, block resets, skipped
// simultaneous strobes, decode windows and channel binding, checked record
// by record. Runs on the core library with its module state reset per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "plugin/decoder/decode_driver.h"
#include "plugin/decoder/decode_state.h"
#include "plugin/decoder/dma_word_decoder.h"
#include "plugin/decoder/record_store.h"
#include "plugin/interface/module_state.h"
#include "plugin/interface/settings.h"
#include "plugin/presentation/field_types.h"
#include "tests/plugin/decoder/bus_fixture.h"
#include "tests/plugin/decoder/record_check.h"

namespace {

using fd::host::CaptureImage;
using fd::host::ChannelSpec;
using namespace fd::test;

constexpr int kStart = 3306;
constexpr int kCompose = 3036;
constexpr int kReadBlock = 3100;
constexpr int kWriteBlock = 3101;
constexpr int kDataRead = 4026;
constexpr int kDataWrite = 4032;

const Record kLead = R(0, 1, 1);

class Decoder : public ::testing::Test {
protected:
    void SetUp() override {
        fd::ResetDecoder();
        fd::ResetFieldTypeTable();
        fd::SetDefaults(fd::LiveSettings());
        fd::ApplySettingsColors();
    }
    void TearDown() override { fd::SetCurrentCapture(nullptr); }

    static std::vector<Record> Decode(CaptureImage& image) {
        fd::SetCurrentCapture(image.capture());
        EXPECT_TRUE(fd::DecodeAndPublish(*image.capture()));
        return ReadRecords(*image.capture());
    }
    static std::vector<Record> Decode(const BusScript& bus) {
        CaptureImage image = bus.Capture();
        return Decode(image);
    }
};

// ---------------------------------------------------------------------------
// Register and multiword DMA cycles, one per capture.

struct CycleCase {
    const char* name;
    int code;
    bool read;
    int dmarq;
    uint32_t data;
    int fieldId;  // 0: nothing recorded
    uint32_t value;
};

const CycleCase kCycleCases[] = {
    {"DataRead", kDataRegister, true, 0, 0x8001, 4002, 0x8001},
    {"DataWrite", kDataRegister, false, 0, 0xA5C3, 4003, 0xA5C3},
    {"ErrorRegister", kErrorFeatures, true, 0, 0x8001, 4004, 1},
    {"Features", kErrorFeatures, false, 0, 0xA5C3, 4005, 0xC3},
    {"SectorCountRead", kSectorCount, true, 0, 0x1234, 4006, 0x34},
    {"SectorCountWrite", kSectorCount, false, 0, 0x1201, 4006, 0x01},
    {"SectorNoRead", kSectorNo, true, 0, 0xFF09, 4007, 0x09},
    {"SectorNoWrite", kSectorNo, false, 0, 0x0009, 4007, 0x09},
    {"CylinderLowRead", kCylinderLow, true, 0, 0x0077, 4008, 0x77},
    {"CylinderLowWrite", kCylinderLow, false, 0, 0x0077, 4008, 0x77},
    {"CylinderHighRead", kCylinderHigh, true, 0, 0x0066, 4009, 0x66},
    {"CylinderHighWrite", kCylinderHigh, false, 0, 0x0066, 4009, 0x66},
    {"CardHeadRead", kCardHead, true, 0, 0xABE0, 4010, 0xE0},
    {"CardHeadWrite", kCardHead, false, 0, 0x00E0, 4010, 224},
    {"Status", kStatusCommand, true, 0, 0x0050, 4011, 80},
    {"Command", kStatusCommand, false, 0, 0x00EC, 4012, 0xEC},
    {"StatusDuringDmaRequest", kStatusCommand, true, 1, 0x0050, 4011, 80},
    {"AltStatus", kAltStatusControl, true, 0, 0x0150, 4013, 0x50},
    {"Control", kAltStatusControl, false, 0, 0x0006, 4014, 0x06},
    {"DriveAddress", kDriveAddress, true, 0, 0x00FE, 4015, 0xFE},
    {"DriveAddressDuringDmaRequest", kDriveAddress, true, 1, 0x00FE, 0, 0},
    {"DriveAddressWrite", kDriveAddress, false, 0, 0x00FE, 0, 0},
    {"DmaRead", kMultiwordDma, true, 1, 0xBEEF, 4017, 0xBEEF},
    {"DmaReadAnyAddress", kMultiwordDma + 7, true, 1, 0x0102, 4017, 0x0102},
    {"DmaWrite", kMultiwordDma + 3, false, 1, 0xCAFE, 4018, 0xCAFE},
    {"DmaReadWithoutRequest", kMultiwordDma, true, 0, 0xBEEF, 0, 0},
    {"DmaWriteWithoutRequest", kMultiwordDma, false, 0, 0xBEEF, 0, 0},
    {"BothSelectsAsserted", 6, true, 0, 0x0050, 0, 0},
    {"NoSelectWithoutDmack", 63, true, 1, 0x0050, 0, 0},
    {"Cs1WithLowAddress", 40, false, 0, 0x0050, 0, 0},
    {"Cs0WithDmack", 23, true, 1, 0x0050, 0, 0},
};

TEST_F(Decoder, EveryCycleCodeRecordsItsRegisterOrNothing) {
    for (const CycleCase& c : kCycleCases) {
        SCOPED_TRACE(c.name);
        fd::ResetDecoder();
        BusScript bus;
        if (c.dmarq) bus.Set({{kDmarq, 1}});
        const uint32_t at = c.read ? bus.Read(c.code, c.data) : bus.Write(c.code, c.data);
        std::vector<Record> expected = {kLead};
        if (c.fieldId == 4010) {
            expected.push_back(R(at, c.value, c.fieldId));  // no START for SELECT CARD/HEAD
        } else if (c.fieldId != 0) {
            expected.push_back(R(at, 0, kStart));
            expected.push_back(R(at, c.value, c.fieldId));
        }
        EXPECT_EQ(Decode(bus), expected);
    }
}

TEST_F(Decoder, StartOnlyBeforeTheFirstRecordProducingCycle) {
    BusScript bus;
    const uint32_t command = bus.Write(kStatusCommand, 0xC8);
    const uint32_t status = bus.Read(kStatusCommand, 0x58);
    EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(command, 0, kStart), R(command, 0xC8, 4012),
                                                R(status, 0x58, 4011)}));
}

TEST_F(Decoder, SelectCardHeadFirstMeansNoStartInTheWholeDecode) {
    BusScript bus;
    const uint32_t select = bus.Write(kCardHead, 0xE0);
    const uint32_t status = bus.Read(kStatusCommand, 0x50);
    const std::vector<uint32_t> words = bus.UltraIn({1, 2});
    EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(select, 0xE0, 4010), R(status, 0x50, 4011),
                                                R(words[0], kReadBlock, kReadBlock),
                                                R(words[0], 1, kDataRead), R(words[1], 2, kDataRead)}));
    EXPECT_EQ(fd::Transfer().cardHead, 0xE0);
}

TEST_F(Decoder, StrobeFallingWhileTheOtherIsLowIsNoCycle) {
    BusScript bus;
    bus.Set({{kIord, 0}});  // a read with no chip select: nothing
    bus.Data(0x50).Set({{kCs0, 0}, {kA0, 1}, {kA1, 1}, {kA2, 1}});
    bus.Set({{kIowr, 0}});  // IOWR falls while IORD is low
    bus.Set({{kIord, 1}});
    bus.Set({{kIowr, 1}});
    EXPECT_EQ(Decode(bus), std::vector<Record>{kLead});
}

// ---------------------------------------------------------------------------
// Ultra DMA.

TEST_F(Decoder, UltraDmaInTakesWordsOnBothEdges) {
    BusScript bus;
    const std::vector<uint32_t> at = bus.UltraIn({0x1111, 0x2222, 0x3333, 0x8001});
    EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(at[0], kReadBlock, kReadBlock), R(at[0], 0, kStart),
                                                R(at[0], 0x1111, kDataRead), R(at[1], 0x2222, kDataRead),
                                                R(at[2], 0x3333, kDataRead), R(at[3], 0x8001, kDataRead)}));
    EXPECT_EQ(fd::Transfer().wordCount, 4);
}

TEST_F(Decoder, UltraDmaOutTakesWordsOnBothEdges) {
    BusScript bus;
    const std::vector<uint32_t> at = bus.UltraOut({0x8001, 0xFFFF, 0});
    EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(at[0], kWriteBlock, kWriteBlock),
                                                R(at[0], 0, kStart), R(at[0], 0x8001, kDataWrite),
                                                R(at[1], 0xFFFF, kDataWrite), R(at[2], 0, kDataWrite)}));
}

// Words on the rising edges of a burst whose first edge rises.
TEST_F(Decoder, UltraDmaWordOnARisingFirstEdge) {
    BusScript bus;
    // Both strobes go low before DMACK, so their falling edges carry no word.
    bus.Set({{kIowr, 0}}).Set({{kIord, 0}}).Set({{kIordy, 0}}).Set({{kDmarq, 1}}).Set({{kDmack, 0}});
    bus.Data(0x00FF);
    const uint32_t at = bus.now();
    bus.Set({{kIordy, 1}});  // card-to-host word on a rising edge
    EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(at, kReadBlock, kReadBlock), R(at, 0, kStart),
                                                R(at, 0xFF, kDataRead)}));
}

struct BurstCondition {
    const char* name;
    int line;
    int level;
};

const BurstCondition kBurstConditions[] = {
    {"NoRequest", kDmarq, 0}, {"NoAcknowledge", kDmack, 1}, {"Cs0Asserted", kCs0, 0},
    {"Cs1Asserted", kCs1, 0}, {"StopHigh", kIowr, 1},
};

// A burst with one condition broken records nothing on either edge.
TEST_F(Decoder, UltraDmaWithABrokenConditionRecordsNothing) {
    for (const BurstCondition& c : kBurstConditions) {
        SCOPED_TRACE(c.name);
        for (bool out : {false, true}) {
            // With STOP high, IORD falling is a multiword DMA read instead.
            if (c.line == kIowr && out) continue;
            fd::ResetDecoder();
            BusScript bus;
            const int strobe = out ? kIord : kIordy;
            const int ready = out ? kIordy : kIord;
            bus.Set({{kIowr, 0}}).Set({{kDmarq, 1}}).Set({{kDmack, 0}}).Set({{ready, 0}});
            bus.Set({{c.line, c.level}});
            bus.Data(0x1234).Set({{strobe, 0}}).Set({{strobe, 1}});
            EXPECT_EQ(Decode(bus), std::vector<Record>{kLead}) << (out ? "out" : "in");
        }
    }
}

TEST_F(Decoder, UltraDmaInNeedsTheHostReady) {
    BusScript bus;
    bus.Set({{kIowr, 0}}).Set({{kDmarq, 1}}).Set({{kDmack, 0}});
    bus.Data(0x1234).Set({{kIordy, 0}}).Set({{kIordy, 1}});  // IORD (host ready) stays high
    EXPECT_EQ(Decode(bus), std::vector<Record>{kLead});
}

TEST_F(Decoder, UltraDmaReadStrobeFallingWhileIordyIsHighIsTheHostReady) {
    // In a burst, DIOR- falling while IORDY stays high is HDMARDY- asserted:
    // a data-in burst opens, and neither edge of DIOR- is a word.
    BusScript bus;
    bus.Set({{kIowr, 0}}).Set({{kDmarq, 1}}).Set({{kDmack, 0}});
    bus.Data(0x1234);
    bus.Set({{kIord, 0}});
    bus.Set({{kIord, 1}});
    EXPECT_EQ(Decode(bus), std::vector<Record>{kLead});
}

TEST_F(Decoder, UltraDmaBurstJoinedMidwayNeedsTheReceiverReady) {
    // The decode starts inside a data-out burst: its opening is not seen, so
    // a falling HSTROBE needs DDMARDY- asserted, and a rising one nothing.
    BusScript bus;
    bus.Set({{kIowr, 0}}).Set({{kDmarq, 1}}).Set({{kDmack, 0}}).Set({{kIordy, 0}});
    const uint32_t start = bus.now();
    bus.Set({{kIordy, 1}});  // the card pauses
    bus.Data(0x1234).Set({{kIord, 0}});
    const uint32_t rising = bus.now();
    bus.Set({{kIord, 1}});
    CaptureImage image = bus.Capture();
    image.SetStart(start);
    EXPECT_EQ(Decode(image), (std::vector<Record>{kLead, R(rising, kWriteBlock, kWriteBlock),
                                                  R(rising, 0, kStart), R(rising, 0x1234, kDataWrite)}));
}

std::vector<uint32_t> Counting(uint32_t count, uint32_t first = 0) {
    std::vector<uint32_t> words(count);
    std::iota(words.begin(), words.end(), first);
    return words;
}

TEST_F(Decoder, LongBurstComposesEverySectorAddress) {
    BusScript bus;
    const uint32_t select = bus.Write(kCardHead, 0xE0);
    const uint32_t sector = bus.Write(kSectorNo, 0xFF);
    const uint32_t low = bus.Write(kCylinderLow, 0);
    const uint32_t high = bus.Write(kCylinderHigh, 0);
    const std::vector<uint32_t> words = Counting(600, 0x100);
    const std::vector<uint32_t> at = bus.UltraIn(words);

    std::vector<Record> expected = {kLead, R(select, 0xE0, 4010), R(sector, 0xFF, 4007), R(low, 0, 4008),
                                    R(high, 0, 4009)};
    for (size_t i = 0; i < words.size(); ++i) {
        if (i == 256) expected.push_back(R(at[i], 0xFFFFFFFFE0000100u, kCompose));  // sector 256 carries
        if (i == 512) expected.push_back(R(at[i], 0xFFFFFFFFE0000101u, kCompose));
        if (i % 256 == 0) expected.push_back(R(at[i], kReadBlock, kReadBlock));
        expected.push_back(R(at[i], words[i], kDataRead));
    }
    EXPECT_EQ(Decode(bus), expected);
    EXPECT_EQ(fd::Transfer().sectorNumber, 257);
    EXPECT_EQ(fd::Transfer().wordCount, 600 - 512);
}

TEST_F(Decoder, BurstsShareTheSectorUntilSelectCardHead) {
    BusScript bus;
    const std::vector<uint32_t> in = bus.UltraIn(Counting(100));
    const std::vector<uint32_t> out = bus.UltraOut(Counting(200, 1000));  // no new marker: same sector
    const uint32_t select = bus.Write(kCardHead, 0x41);
    const std::vector<uint32_t> again = bus.UltraOut(Counting(300, 5000));

    std::vector<Record> expected = {kLead, R(in[0], kReadBlock, kReadBlock), R(in[0], 0, kStart)};
    for (size_t i = 0; i < in.size(); ++i) expected.push_back(R(in[i], i, kDataRead));
    for (size_t i = 0; i < out.size(); ++i) {
        if (i == 156) {  // word 257 of the decode: the next sector, in the burst's direction
            expected.push_back(R(out[i], 1, kCompose));
            expected.push_back(R(out[i], kWriteBlock, kWriteBlock));
        }
        expected.push_back(R(out[i], 1000 + i, kDataWrite));
    }
    expected.push_back(R(select, 0x41, 4010));
    for (size_t i = 0; i < again.size(); ++i) {
        if (i == 256) expected.push_back(R(again[i], 0x41000001u, kCompose));
        if (i % 256 == 0) expected.push_back(R(again[i], kWriteBlock, kWriteBlock));
        expected.push_back(R(again[i], 5000 + i, kDataWrite));
    }
    EXPECT_EQ(Decode(bus), expected);
}

TEST_F(Decoder, RegisterReadsUpdateTheSectorAddressToo) {
    BusScript bus;
    bus.Read(kCardHead, 0x01);
    bus.Read(kCylinderHigh, 0x02);
    bus.Read(kCylinderLow, 0x03);
    bus.Read(kSectorNo, 0x04);
    const std::vector<uint32_t> at = bus.UltraOut(Counting(257));
    const std::vector<Record> records = Decode(bus);
    EXPECT_EQ(records[records.size() - 3], R(at[256], 0x01020305, kCompose));
}

// ---------------------------------------------------------------------------
// Simultaneous strobes.

TEST_F(Decoder, SimultaneousStrobeEdgesAreSkipped) {
    BusScript bus;
    bus.Data(0x50).Set({{kCs0, 0}, {kA0, 1}, {kA1, 1}, {kA2, 1}});
    bus.Set({{kIord, 0}, {kIowr, 0}});  // both fall together
    bus.Set({{kIord, 1}, {kIowr, 1}});  // and rise together
    bus.Set({{kCs0, 1}});
    // An Ultra DMA word whose strobe changes together with the other one.
    bus.Set({{kIowr, 0}}).Set({{kDmarq, 1}}).Set({{kDmack, 0}});
    bus.Set({{kIord, 0}, {kIordy, 0}});
    bus.Set({{kIord, 1}, {kIordy, 1}});
    // All three together.
    bus.Set({{kIord, 0}, {kIordy, 0}, {kIowr, 1}});
    EXPECT_EQ(Decode(bus), std::vector<Record>{kLead});
}

TEST_F(Decoder, SharedListPositionWithOnlyOneEdgeIsDecoded) {
    // IORDY's list holds the position of the STATUS strobe, but its level
    // does not change there (its first entry): decoded once, not skipped.
    BusScript bus;
    const uint32_t at = bus.Read(kStatusCommand, 0x50);
    std::vector<ChannelSpec> specs = bus.Channels();
    specs[kIordy].positions = {at};
    CaptureImage image(std::move(specs), bus.now());
    EXPECT_EQ(Decode(image), (std::vector<Record>{kLead, R(at, 0, kStart), R(at, 0x50, 4011)}));
}

// ---------------------------------------------------------------------------
// Real bus timing: the card drives read data late in the strobe pulse, the
// host may drive write data after the strobe falls, IORDY stretches pulses,
// Ultra DMA bursts open with STOP and HDMARDY- moving on their own.

// A cycle whose data lines change while its strobe is asserted: `atFall`
// on the lines as the strobe falls, `late` from the middle of the pulse to
// its end, `after` once the strobe has risen (a released bus). IORDY, when
// asked, is negated with the strobe's fall and asserted again with the
// late data. Returns the strobe's falling position.
struct LateCycle {
    int code;
    bool read;
    uint32_t atFall, late, after;
    bool iordyWait = false;
};

uint32_t PutLateCycle(BusScript& bus, const LateCycle& c) {
    const int strobe = c.read ? kIord : kIowr;
    bus.Data(c.atFall).Set({{kA0, c.code & 1},
                            {kA1, (c.code >> 1) & 1},
                            {kA2, (c.code >> 2) & 1},
                            {kCs0, (c.code >> 3) & 1},
                            {kCs1, (c.code >> 4) & 1},
                            {kDmack, (c.code >> 5) & 1}});
    const uint32_t fall = bus.now();
    if (c.iordyWait) {
        bus.Set({{strobe, 0}, {kIordy, 0}});
    } else {
        bus.Set({{strobe, 0}});
    }
    if (c.iordyWait) {
        bus.Data(c.late).Set({{kIordy, 1}});
    } else {
        bus.Data(c.late).Wait(10);
    }
    bus.Set({{strobe, 1}});
    bus.Data(c.after).Set({{kCs0, 1}, {kCs1, 1}, {kDmack, 1}});
    return fall;
}

struct LateCase {
    const char* name;
    LateCycle cycle;
    bool dmarq;
    int fieldId;
    uint32_t value;
};

const LateCase kLateCases[] = {
    // The card answers a DATA read only late in DIOR-; the lines float low
    // before and after.
    {"PioReadDataLate", {kDataRegister, true, 0, 0x8001, 0}, false, 4002, 0x8001},
    // STATUS moves from BSY to ready during the pulse: the host latches
    // ready.
    {"StatusChangesDuringThePulse", {kStatusCommand, true, 0x80, 0x50, 0x50}, false, 4011, 0x50},
    {"PioWriteDataAfterTheFall", {kDataRegister, false, 0x1111, 0xA5C3, 0}, false, 4003, 0xA5C3},
    {"CommandWrittenAfterTheFall", {kStatusCommand, false, 0, 0xEC, 0}, false, 4012, 0xEC},
    {"MultiwordReadDataLate", {kMultiwordDma, true, 0, 0xBEEF, 0x1234}, true, 4017, 0xBEEF},
    {"MultiwordWriteDataLate", {kMultiwordDma + 5, false, 0x0F0F, 0xCAFE, 0}, true, 4018, 0xCAFE},
    // The card negates IORDY in the sample DIOR- falls and asserts it with
    // the data: IORDY is no strobe outside DMA.
    {"StatusWithIordyWait", {kStatusCommand, true, 0x80, 0x58, 0, true}, false, 4011, 0x58},
    {"PioReadWithIordyWait", {kDataRegister, true, 0, 0x4C4C, 0, true}, false, 4002, 0x4C4C},
    {"FeaturesWriteWithIordyWait", {kErrorFeatures, false, 0, 0x03, 0, true}, false, 4005, 0x03},
};

TEST_F(Decoder, CyclesTakeTheirDataAtTheEndOfTheStrobePulse) {
    for (const LateCase& c : kLateCases) {
        SCOPED_TRACE(c.name);
        fd::ResetDecoder();
        BusScript bus;
        if (c.dmarq) bus.Set({{kDmarq, 1}});
        const uint32_t fall = PutLateCycle(bus, c.cycle);
        EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(fall, 0, kStart), R(fall, c.value, c.fieldId)}));
    }
}

TEST_F(Decoder, DataOneSampleBeforeTheStrobeRisesCount) {
    // The last sample of the pulse is the one before the strobe's level
    // changes: data arriving at the rise itself are too late.
    BusScript bus(100, 1);
    bus.Data(0x50).Set({{kCs0, 0}, {kA0, 1}, {kA1, 1}, {kA2, 1}});
    const uint32_t fall = bus.now();
    bus.Set({{kIord, 0}}).Wait(3);
    bus.Data(0x51).Set({{kIord, 0}});  // D0 rises in the pulse's last sample
    bus.Data(0xD1).Set({{kIord, 1}});  // D7 rises with the strobe
    bus.Set({{kCs0, 1}});
    EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(fall, 0, kStart), R(fall, 0x51, 4011)}));
}

TEST_F(Decoder, PulseOpenAtTheWindowEndSamplesItsLastSample) {
    BusScript bus;
    bus.Data(0).Set({{kCs0, 0}, {kA0, 1}, {kA1, 1}, {kA2, 1}});
    const uint32_t fall = bus.now();
    bus.Set({{kIord, 0}});
    bus.Data(0x50).Wait(5);
    const uint32_t end = bus.now();
    bus.Data(0x51).Set({{kIord, 1}});  // after the window
    CaptureImage image = bus.Capture();
    image.SetRange(0, end);
    EXPECT_EQ(Decode(image), (std::vector<Record>{kLead, R(fall, 0, kStart), R(fall, 0x50, 4011)}));
}

TEST_F(Decoder, ZeroWidthPulsesInsideAStrobePulseDoNotEndIt) {
    // Two equal positions on IORD inside its pulse change no level.
    BusScript bus;
    const uint32_t fall = bus.Read(kStatusCommand, 0x80);
    std::vector<ChannelSpec> specs = bus.Channels();
    std::vector<uint32_t>& iord = specs[kIord].positions;
    iord.insert(iord.end() - 1, {fall + 3, fall + 3});
    std::vector<uint32_t>& d6 = specs[kD0 + 6].positions;  // STATUS 0x80 -> 0xC0 late in the pulse
    d6 = {0, 0, fall + 6};
    CaptureImage image(std::move(specs), bus.now());
    EXPECT_EQ(Decode(image), (std::vector<Record>{kLead, R(fall, 0, kStart), R(fall, 0xC0, 4011)}));
}

TEST_F(Decoder, IordyStillCountsAsAStrobeDuringDma) {
    // DMACK asserted: a read strobe falling with IORDY is two strobes.
    BusScript bus;
    bus.Set({{kDmarq, 1}});
    bus.Data(0xBEEF).Set({{kDmack, 0}});
    bus.Set({{kIord, 0}, {kIordy, 0}});
    bus.Set({{kIord, 1}, {kIordy, 1}});
    bus.Set({{kDmack, 1}});
    EXPECT_EQ(Decode(bus), std::vector<Record>{kLead});
}

// Ultra DMA burst openings as hosts make them: DMACK-, then STOP negated,
// then HDMARDY- or the first HSTROBE edge, each on a sample of its own.
TEST_F(Decoder, UltraDmaOutOpeningIsNoMultiwordWrite) {
    BusScript bus;
    bus.Set({{kDmarq, 1}});
    bus.Set({{kDmack, 0}});
    bus.Data(0x7777).Set({{kIowr, 0}});  // STOP negated, a stale word on DD
    bus.Set({{kIordy, 0}});              // DDMARDY-
    std::vector<uint32_t> at;
    for (uint32_t word : {0x1234u, 0x5678u}) {
        bus.Data(word).Wait(5);
        at.push_back(bus.now());
        bus.Set({{kIord, bus.level(kIord) ^ 1}});
    }
    bus.Set({{kIowr, 1}});
    bus.Set({{kIordy, 1}});
    bus.Set({{kDmarq, 0}});
    bus.Set({{kDmack, 1}});
    EXPECT_EQ(Decode(bus),
              (std::vector<Record>{kLead, R(at[0], kWriteBlock, kWriteBlock), R(at[0], 0, kStart),
                                   R(at[0], 0x1234, kDataWrite), R(at[1], 0x5678, kDataWrite)}));
    EXPECT_EQ(fd::Transfer().wordCount, 2);
}

TEST_F(Decoder, UltraDmaInOpeningIsNoMultiwordCycle) {
    // Data-in: STOP negated then HDMARDY- asserted, or the other way round;
    // DSTROBE idles high until the card's first word.
    for (const bool stopFirst : {true, false}) {
        SCOPED_TRACE(stopFirst ? "STOP first" : "HDMARDY- first");
        fd::ResetDecoder();
        BusScript bus;
        bus.Set({{kDmarq, 1}});
        bus.Data(0x7777).Set({{kDmack, 0}});
        bus.Set({{stopFirst ? kIowr : kIord, 0}});
        bus.Set({{stopFirst ? kIord : kIowr, 0}});
        bus.Data(0x4242).Wait(5);
        const uint32_t word = bus.now();
        bus.Set({{kIordy, 0}});
        bus.Set({{kIord, 1}});  // the host pauses
        bus.Set({{kIowr, 1}});
        bus.Set({{kIordy, 1}});
        bus.Set({{kDmarq, 0}});
        bus.Set({{kDmack, 1}});
        const std::vector<Record> records = Decode(bus);
        ASSERT_GE(records.size(), 4u);
        EXPECT_EQ(std::vector<Record>(records.begin(), records.begin() + 4),
                  (std::vector<Record>{kLead, R(word, kReadBlock, kReadBlock), R(word, 0, kStart),
                                       R(word, 0x4242, kDataRead)}));
        for (const Record& record : records) {
            EXPECT_NE(record.fieldId, 4017);
            EXPECT_NE(record.fieldId, 4018);
        }
    }
}

// Ultra DMA pauses and ends: the receiver moves its ready line, which
// carries no word; the sender may still finish words while that line is
// negated. Each step is one event on the bus: a line change, or a strobe
// edge carrying a word.
struct BurstStep {
    int line;
    int level;
    int word = -1;  // the data on DD for a strobe edge that carries a word
};

struct BurstCase {
    const char* name;
    std::vector<BurstStep> steps;
};

const BurstCase kBurstCases[] = {
    {"HostPausesADataInBurst",
     {{kDmarq, 1},
      {kDmack, 0},
      {kIowr, 0},
      {kIord, 0},  // STOP negated, HDMARDY- asserted
      {kIordy, 0, 0x1001},
      {kIordy, 1, 0x1002},
      {kIord, 1},           // HDMARDY- negated: a pause
      {kIordy, 0, 0x1003},  // the card finishes a word
      {kIord, 0},           // ready again
      {kIordy, 1, 0x1004},
      {kDmarq, 0},
      {kIowr, 1},
      {kIord, 1},
      {kDmack, 1}}},
    {"HostEndsADataInBurst",
     {{kDmarq, 1},
      {kDmack, 0},
      {kIowr, 0},
      {kIord, 0},
      {kIordy, 0, 0x2001},
      {kIordy, 1, 0x2002},
      {kIordy, 0, 0x2003},
      {kIord, 1},           // HDMARDY- negated, then STOP
      {kIordy, 1, 0x2004},  // a word within tRFS
      {kIowr, 1},
      {kDmarq, 0},
      {kDmack, 1}}},
    {"CardPausesADataOutBurst",
     {{kDmarq, 1},
      {kDmack, 0},
      {kIowr, 0},
      {kIordy, 0},  // STOP negated, DDMARDY- asserted
      {kIord, 0, 0x3001},
      {kIord, 1, 0x3002},
      {kIordy, 1},         // DDMARDY- negated: a pause
      {kIord, 0, 0x3003},  // the host finishes a word
      {kIordy, 0},         // ready again while HSTROBE is low
      {kIord, 1, 0x3004},
      {kIowr, 1},
      {kDmarq, 0},
      {kDmack, 1}}},
    {"CardEndsADataOutBurstAfterAnOddWord",
     {{kDmarq, 1},
      {kDmack, 0},
      {kIowr, 0},
      {kIordy, 0},
      {kIord, 0, 0x4001},
      {kIord, 1, 0x4002},
      {kIord, 0, 0x4003},
      {kIordy, 1},  // DDMARDY- rises while HSTROBE is low
      {kDmarq, 0},
      {kIowr, 1},
      {kIord, 1},
      {kDmack, 1}}},
    {"BurstsOneWayThenTheOther",
     {{kDmarq, 1},
      {kDmack, 0},
      {kIowr, 0},
      {kIord, 0},
      {kIordy, 0, 0x5001},
      {kIordy, 1, 0x5002},
      {kIowr, 1},
      {kIord, 1},
      {kDmack, 1},
      {kDmack, 0},
      {kIowr, 0},
      {kIordy, 0},
      {kIord, 0, 0x5003},
      {kIord, 1, 0x5004},
      {kIowr, 1},
      {kIordy, 1},
      {kDmarq, 0},
      {kDmack, 1}}},
};

TEST_F(Decoder, UltraDmaReadyLinesCarryNoWordsOnceTheBurstShowedItsWay) {
    for (const BurstCase& c : kBurstCases) {
        SCOPED_TRACE(c.name);
        fd::ResetDecoder();
        BusScript bus;
        std::vector<Record> expected;
        for (const BurstStep& step : c.steps) {
            if (step.word >= 0) {
                bus.Data(static_cast<uint32_t>(step.word)).Wait(5);
                const int id = step.line == kIord ? kDataWrite : kDataRead;
                expected.push_back(R(bus.now(), static_cast<uint32_t>(step.word), id));
            }
            bus.Set({{step.line, step.level}});
        }
        std::vector<Record> words;
        for (const Record& record : Decode(bus)) {
            if (record.fieldId == kDataRead || record.fieldId == kDataWrite || record.fieldId == 4017 ||
                record.fieldId == 4018)
                words.push_back(record);
        }
        EXPECT_EQ(words, expected);
    }
}

TEST_F(Decoder, MultiwordDmaNeedsTheRequestJustBeforeTheStrobe) {
    // The card drops DMARQ in the sample the last cycle's strobe falls: the
    // cycle still counts. DMARQ rising with the strobe does not make one.
    BusScript bus;
    bus.Set({{kDmarq, 1}});
    const uint32_t first = bus.Read(kMultiwordDma, 0x1111);
    bus.Data(0x2222).Set({{kDmack, 0}});
    const uint32_t last = bus.now();
    bus.Set({{kIord, 0}, {kDmarq, 0}});
    bus.Set({{kIord, 1}});
    bus.Set({{kDmack, 1}});
    bus.Data(0x3333).Set({{kDmack, 0}});
    bus.Set({{kIord, 0}, {kDmarq, 1}});
    bus.Set({{kIord, 1}});
    bus.Set({{kDmarq, 0}, {kDmack, 1}});
    EXPECT_EQ(Decode(bus), (std::vector<Record>{kLead, R(first, 0, kStart), R(first, 0x1111, 4017),
                                                R(last, 0x2222, 4017)}));
}

TEST_F(Decoder, MultiwordDmaNeedsTheOtherStrobeSteadyOverThePulse) {
    struct Case {
        const char* name;
        bool read;
        bool otherToggles;
        int fieldId;
    };
    const Case cases[] = {
        {"ReadSteady", true, false, 4017},
        {"ReadOtherToggles", true, true, 0},
        {"WriteSteady", false, false, 4018},
        {"WriteOtherToggles", false, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fd::ResetDecoder();
        const int strobe = c.read ? kIord : kIowr;
        const int other = c.read ? kIowr : kIord;
        BusScript bus;
        bus.Set({{kDmarq, 1}});
        bus.Data(0xABCD).Set({{kDmack, 0}});
        const uint32_t fall = bus.now();
        bus.Set({{strobe, 0}});
        if (c.otherToggles) bus.Set({{other, 0}}).Set({{other, 1}});
        bus.Set({{strobe, 1}});
        bus.Set({{kDmarq, 0}, {kDmack, 1}});
        const std::vector<Record> records = Decode(bus);
        if (c.fieldId != 0) {
            EXPECT_EQ(records, (std::vector<Record>{kLead, R(fall, 0, kStart), R(fall, 0xABCD, c.fieldId)}));
        } else {
            // The toggling strobe may carry Ultra DMA words; no multiword cycle.
            for (const Record& record : records)
                EXPECT_TRUE(record.fieldId != 4017 && record.fieldId != 4018);
        }
    }
}

// ---------------------------------------------------------------------------
// Decode window.

struct WindowCase {
    const char* name;
    // Positions relative to the first cycle.
    bool hasStart;
    int64_t start;
    bool hasRange;
    int64_t rangeStart, rangeEnd;
    int64_t end;
    std::vector<int> decoded;  // which of the three cycles are decoded
};

// The cycles fall at offsets 0, 40 and 80; each strobe rises 10 later.
const WindowCase kWindowCases[] = {
    {"Whole", false, 0, false, 0, 0, 500, {0, 1, 2}},
    {"StartIsExclusive", true, 0, false, 0, 0, 500, {1, 2}},
    {"StartBefore", true, -1, false, 0, 0, 500, {0, 1, 2}},
    {"EndIsExclusive", false, 0, false, 0, 0, 80, {0, 1}},
    {"EndAfter", false, 0, false, 0, 0, 81, {0, 1, 2}},
    {"RangeEndBeforeStart", true, 30, true, 0, 0, 500, {}},
    {"RangeStartBelowCaptureStart", true, 0, true, -10, 500, 500, {1, 2}},
    {"RangeStartAboveCaptureStart", true, -10, true, 0, 500, 500, {1, 2}},
    {"RangeEndReplacesEnd", false, 0, true, -10, 41, 10, {0, 1}},
    {"RangeEndBeyondEnd", false, 0, true, -10, 500, 1, {0, 1, 2}},
    {"EmptyWindow", false, 0, true, 40, 40, 500, {}},
    {"ReversedWindow", false, 0, true, 80, 0, 500, {}},
};

TEST_F(Decoder, VisitsOnlyPositionsStrictlyInsideTheWindow) {
    for (const WindowCase& c : kWindowCases) {
        SCOPED_TRACE(c.name);
        fd::ResetDecoder();
        BusScript bus(1000, 10);
        const uint32_t cycle[3] = {bus.Read(kStatusCommand, 1), bus.Read(kStatusCommand, 2),
                                   bus.Read(kStatusCommand, 3)};
        CaptureImage image = bus.Capture();
        auto at = [&](int64_t offset) { return static_cast<uint32_t>(int64_t{cycle[0]} + offset); };
        image.capture()->endPosition = at(c.end);
        if (c.hasStart) image.SetStart(at(c.start));
        if (c.hasRange) image.SetRange(at(c.rangeStart), at(c.rangeEnd));
        std::vector<Record> expected = {kLead};
        for (size_t i = 0; i < c.decoded.size(); ++i) {
            const uint32_t p = cycle[c.decoded[i]];
            if (i == 0) expected.push_back(R(p, 0, kStart));
            expected.push_back(R(p, static_cast<uint32_t>(c.decoded[i] + 1), 4011));
        }
        EXPECT_EQ(Decode(image), expected);
    }
}

TEST_F(Decoder, PositionsAboveTwoToTheThirtyFirst) {
    for (uint32_t origin : {0x7FFFFFF0u, 0x80000000u, 0xFFFFF000u}) {
        fd::ResetDecoder();
        BusScript bus(origin, 10);
        const uint32_t status = bus.Read(kStatusCommand, 0x50);
        const std::vector<uint32_t> at = bus.UltraIn({7, 8});
        CaptureImage image = bus.Capture(5);
        image.SetStart(origin - 1);
        EXPECT_EQ(Decode(image), (std::vector<Record>{kLead, R(status, 0, kStart), R(status, 0x50, 4011),
                                                      R(at[0], kReadBlock, kReadBlock),
                                                      R(at[0], 7, kDataRead), R(at[1], 8, kDataRead)}))
            << std::hex << origin;
        // A window start above the cycles leaves nothing.
        image.SetStart(bus.now());
        EXPECT_EQ(Decode(image), std::vector<Record>{kLead}) << std::hex << origin;
    }
}

// ---------------------------------------------------------------------------
// Channel binding.

std::vector<Record> Decoded(BusScript& bus, std::vector<ChannelSpec> specs) {
    CaptureImage image(std::move(specs), bus.now());
    fd::SetCurrentCapture(image.capture());
    EXPECT_TRUE(fd::DecodeAndPublish(*image.capture()));
    return ReadRecords(*image.capture());
}

BusScript SampleTraffic() {
    BusScript bus;
    bus.Write(kCardHead, 0xE0);
    bus.Read(kStatusCommand, 0x50);
    bus.UltraIn({1, 2, 3});
    bus.UltraOut({4, 5});
    return bus;
}

TEST_F(Decoder, PositionalFallbackWritesTheNumbersBack) {
    BusScript bus = SampleTraffic();
    const std::vector<Record> reference = Decode(bus);  // channels 0..25, DMARQ -1 in the settings
    ASSERT_GT(reference.size(), 5u);
    for (int field = 0; field < FdChannelFieldCount; ++field)
        EXPECT_EQ(fd::LiveSettings().channel[field], field);

    fd::SetDefaults(fd::LiveSettings());
    std::vector<ChannelSpec> specs = bus.Channels();
    for (size_t i = 0; i < specs.size(); ++i) specs[i].number = static_cast<int32_t>(500 - 7 * i);
    EXPECT_EQ(Decoded(bus, specs), reference);
    for (int field = 0; field < FdChannelFieldCount; ++field) {
        EXPECT_EQ(fd::LiveSettings().channel[field], 500 - 7 * field) << field;
    }
    // Entry 11 is not numbered D0 + 1, so the next decode falls back again.
    EXPECT_EQ(Decoded(bus, specs), reference);
}

TEST_F(Decoder, BindingByNumberFollowsTheNumbersNotTheOrder) {
    BusScript bus = SampleTraffic();
    const std::vector<Record> reference = Decode(bus);
    std::vector<ChannelSpec> specs = bus.Channels();
    // Controls numbered 40..49, data lines 60..75, spare channels around them.
    for (int line = 0; line < kBusRoleCount; ++line) {
        specs[static_cast<size_t>(line)].number = line < kD0 ? 40 + line : 60 + line - kD0;
    }
    specs.push_back({"spare", 59, {0, 50, 9000}});
    specs.push_back({"spare", 76, {0, 50, 9000}});
    std::mt19937 random(7);
    std::shuffle(specs.begin(), specs.end(), random);
    const int32_t configured[FdChannelFieldCount] = {40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 60};
    std::copy(std::begin(configured), std::end(configured), fd::LiveSettings().channel);

    EXPECT_EQ(Decoded(bus, specs), reference);
    EXPECT_TRUE(std::equal(std::begin(configured), std::end(configured), fd::LiveSettings().channel));
}

TEST_F(Decoder, LastChannelWithANumberWins) {
    BusScript bus = SampleTraffic();
    const std::vector<Record> reference = Decode(bus);
    std::vector<ChannelSpec> specs = bus.Channels();
    // A flat channel carrying the STATUS strobe's number comes first; the
    // real IORD channel, later in the list, wins.
    fd::LiveSettings().channel[FdChannelDmarq] = 0;
    std::vector<ChannelSpec> withDecoy = {{"decoy", kIord, {}}};
    withDecoy.insert(withDecoy.end(), specs.begin(), specs.end());
    EXPECT_EQ(Decoded(bus, withDecoy), reference);
    EXPECT_EQ(fd::LiveSettings().channel[FdChannelDmarq], 0);  // bound by number, nothing written
}

TEST_F(Decoder, FewerThan26ChannelsLeaveTheLeadingRecord) {
    BusScript bus = SampleTraffic();
    std::vector<ChannelSpec> specs = bus.Channels();
    specs.pop_back();
    CaptureImage image(std::move(specs), bus.now());
    fd::SetCurrentCapture(image.capture());
    EXPECT_FALSE(fd::DecodeCapture());
    EXPECT_TRUE(fd::DecodeAndPublish(*image.capture()));
    EXPECT_EQ(ReadRecords(*image.capture()), std::vector<Record>{kLead});
    EXPECT_EQ(fd::LiveSettings().channel[FdChannelDmarq], -1);  // no fallback, nothing written
}

TEST_F(Decoder, NullChannelEntriesReadAsFlatLines) {
    BusScript bus;
    const uint32_t at = bus.Read(kStatusCommand, 0x50);
    CaptureImage image = bus.Capture();
    FdChannel** channels = image.capture()->channelList->channels;
    channels[kDmarq] = nullptr;  // forces the fallback; DMARQ then reads 0
    fd::LiveSettings().channel[FdChannelDmarq] = 77;
    EXPECT_EQ(Decode(image), (std::vector<Record>{kLead, R(at, 0, kStart), R(at, 0x50, 4011)}));
    EXPECT_EQ(fd::LiveSettings().channel[FdChannelDmarq], 77);
    EXPECT_EQ(fd::LiveSettings().channel[FdChannelDmack], 1);
}

// ---------------------------------------------------------------------------
// Sector address composition.

struct ComposeCase {
    int32_t cardHead, cylinderHigh, cylinderLow, sectorNumber;
    int64_t address;
};

TEST(ComposeSectorAddress, WrapsIn32BitsAndSignExtends) {
    const ComposeCase cases[] = {
        {0, 0, 0, 0, 0},
        {1, 2, 3, 4, 0x01020304},
        {0x7F, 0xFF, 0xFF, 0xFF, 0x7FFFFFFF},
        {0x80, 0, 0, 0, -0x80000000LL},
        {0xE0, 0, 0, 256, static_cast<int32_t>(0xE0000100u)},  // carry into the cylinder bytes
        {0xE0, 0xFF, 0xFF, 0x100, static_cast<int32_t>(0xE1000000u)},
        {0x1FF, 0, 0, 0, static_cast<int32_t>(0xFF000000u)},  // upper bits wrap away
        {-1, 0, 0, 0, static_cast<int32_t>(0xFF000000u)},
        {0, 0, 0, -1, -1},
        {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, static_cast<int32_t>(0x7EFEFEFFu)},
    };
    for (const ComposeCase& c : cases) {
        EXPECT_EQ(fd::ComposeSectorAddress(c.cardHead, c.cylinderHigh, c.cylinderLow, c.sectorNumber),
                  c.address)
            << c.cardHead << " " << c.cylinderHigh << " " << c.cylinderLow << " " << c.sectorNumber;
    }
}

}  // namespace
