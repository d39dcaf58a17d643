// The Ultra DMA CRC against values worked out by hand, and the burst check
// on small hand-drawn buses: which word counts as sent, when there was none,
// which envelopes are bursts, and the verdict a bad burst gives its command.
#include <gtest/gtest.h>

#include <vector>

#include "host/analysis/udma_crc.h"

namespace {

using namespace fd::host::analysis;
using fd::host::Signal;

// Worked out from the bit-serial definition (seed 4ABAh, each word from
// DD0 up: feedback = CRC bit 15 xor the data bit; shift left; xor 1021h on
// feedback), and checked against the same CRC taken as the remainder of
// (seed x^16n + M(x) x^16) / (x^16 + x^12 + x^5 + 1), M's first bit the
// highest. For the single word 0001h the register goes
//   4ABA -(bit 0 = 1, fb 1)-> 8555 -(fb 1)-> 1A8B -> 3516 -> 6A2C -> D458
//   -(fb 1)-> B891 -(fb 1)-> 6103 -> C206 -(fb 1)-> 942D -(fb 1)-> 387B
//   -> 70F6 -> E1EC -(fb 1)-> D3F9 -(fb 1)-> B7D3 -(fb 1)-> 7F87 -> FF0E.
TEST(UdmaCrc, MatchesTheValuesWorkedOutByHand) {
    const struct {
        std::vector<uint16_t> words;
        uint16_t crc;
    } cases[] = {
        {{}, 0x4ABA},  // a burst without words sends the seed
        {{0x0000}, 0xE496},
        {{0x0001}, 0xFF0E},
        {{0x8000}, 0xF4B7},  // DD15 alone: the bit order matters
        {{0xFFFF}, 0xF999},
        {{0x1234, 0x5678}, 0x1EE9},
        {{0x0001, 0x0002, 0x0003, 0x0004}, 0x4445},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UdmaCrc(c.words), c.crc) << c.words.size() << " words";
        uint16_t stepped = kUdmaCrcSeed;
        for (uint16_t word : c.words) stepped = UdmaCrcStep(stepped, word);
        EXPECT_EQ(stepped, c.crc);
    }
}

// A bus drawn by hand: DMACK- and the data lines, levels from position 0.
struct HandBus {
    std::vector<Signal> lines = std::vector<Signal>(fd::kBusRoleCount);
    BusSignals Signals() {
        BusSignals bus{};
        for (int role = 0; role < fd::kBusRoleCount; ++role)
            bus[static_cast<size_t>(role)] = &lines[static_cast<size_t>(role)];
        return bus;
    }
    // DD holds `word` from `position` on.
    void Data(uint32_t position, uint16_t word) {
        for (int bit = 0; bit < 16; ++bit) {
            Signal& line = lines[static_cast<size_t>(10 + bit)];
            const int level = (line.initialLevel ^ static_cast<int>(line.changes.size() & 1)) & 1;
            if (level != ((word >> bit) & 1)) line.changes.push_back(position);
        }
    }
};

TEST(UdmaCrc, EachBurstGetsItsVerdict) {
    constexpr uint16_t kIn = 4026, kOut = 4032, kMultiwordIn = 4017;
    HandBus hand;
    Signal& dmack = hand.lines[1];
    dmack.initialLevel = 0;  // asserted from the start: that burst is not whole
    const uint16_t right = UdmaCrc(std::vector<uint16_t>{0x1234, 0x5678});
    dmack.changes = {5, 10, 40, 50, 80, 100, 130, 140, 170, 200, 230};
    hand.Data(12, 0x1234);
    hand.Data(16, 0x5678);
    hand.Data(30, right);  // burst 10..40, data in: the right word
    hand.Data(52, 0x1234);
    hand.Data(56, 0x5678);
    hand.Data(70, 0xB810);  // burst 50..80, data out: a wrong word
    hand.Data(102, 0x1234);
    hand.Data(106, 0x5678);  // burst 100..130: nothing after the last word
    std::vector<Record> records = {
        {3, 0x0001, kIn},  // inside the burst already open
        {14, 0x1234, kIn},
        {18, 0x5678, kIn},
        {20, 0, kOut},  // a ready-line edge against the burst
        {54, 0x1234, kOut},
        {58, 0x5678, kOut},
        {104, 0x1234, kIn},
        {108, 0x5678, kIn},
        {150, 0x9999, kMultiwordIn},  // 140..170: multiword DMA
    };
    // 200..230: an envelope without words; the capture ends with DMACK- negated.
    const std::vector<UdmaBurstCrc> bursts = CheckBurstCrcs(records, FindDmackEnvelopes(hand.Signals()));
    ASSERT_EQ(bursts.size(), 3u);
    EXPECT_EQ(bursts[0].start, 10u);
    EXPECT_EQ(bursts[0].end, 40u);
    EXPECT_TRUE(bursts[0].in);
    EXPECT_EQ(bursts[0].words, 2u);
    EXPECT_EQ(bursts[0].Describe(), "crc ok");
    EXPECT_FALSE(bursts[1].in);
    char mismatch[64];
    std::snprintf(mismatch, sizeof mismatch, "crc mismatch: sent 0xB810, data gives 0x%04X", right);
    EXPECT_EQ(bursts[1].Describe(), mismatch);
    EXPECT_EQ(bursts[2].result, UdmaBurstCrc::Result::NoWord);
    EXPECT_EQ(bursts[2].sent, 0x5678);

    // The commands they fall in: the bad bursts' commands get the card's verdict.
    std::vector<Transaction> commands(4);
    const uint32_t spans[4][2] = {{0, 45}, {45, 90}, {90, 135}, {135, 250}};
    const Verdict verdicts[4] = {Verdict::Ok, Verdict::Ok, Verdict::Aborted, Verdict::Incomplete};
    for (size_t i = 0; i < 4; ++i) {
        commands[i].start = spans[i][0];
        commands[i].end = spans[i][1];
        commands[i].dataPath = i == 3 ? DataPath::MultiwordDma : DataPath::UltraDma;
        commands[i].verdict = verdicts[i];
    }
    AttachBursts(commands, bursts);
    EXPECT_EQ(commands[0].bursts.size(), 1u);
    EXPECT_EQ(commands[0].verdict, Verdict::Ok);
    EXPECT_EQ(commands[1].verdict, Verdict::IcrcError);
    EXPECT_EQ(VerdictName(commands[1].verdict), "icrc error");
    EXPECT_EQ(commands[2].verdict, Verdict::Aborted);  // a new command came first: that stays
    EXPECT_EQ(commands[2].bursts.size(), 1u);
    EXPECT_TRUE(commands[3].bursts.empty());

    TimingReport report;
    report.warnings.resize(2);
    report.warnings[0].position = 60;
    report.warnings[1].position = 200;
    AddBurstFindings(report, bursts);
    ASSERT_EQ(report.warnings.size(), 4u);
    EXPECT_EQ(report.warnings[1].position, 80u);
    EXPECT_EQ(report.warnings[1].parameter, "CRC");
    EXPECT_EQ(report.warnings[1].Describe(),
              std::string("CRC (Ultra DMA burst CRC): ") + mismatch + " over 2 words out");
    EXPECT_EQ(report.warnings[2].position, 130u);
}

}  // namespace
