// Transactions from record streams: each protocol, each verdict, and the
// corrupt sequences that must never be reported as a success.
#include "host/analysis/transactions.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

namespace {

using namespace fd::host::analysis;

// Builds a record stream the way the plug-in reports a bus: one record per
// cycle, positions ascending.
class Bus {
public:
    Bus() { records_.push_back(Record{0, 1, 1}); }  // the leading record
    Bus& Rec(uint16_t id, int64_t value) {
        position_ += 10;
        records_.push_back({position_, value, id});
        return *this;
    }
    Bus& Lba(uint32_t lba, uint8_t count, int device = 0) {
        return Rec(4006, count)
            .Rec(4007, lba & 0xFF)
            .Rec(4008, (lba >> 8) & 0xFF)
            .Rec(4009, (lba >> 16) & 0xFF)
            .Rec(4010, 0xE0 | (device << 4) | ((lba >> 24) & 0x0F));
    }
    Bus& Command(uint8_t opcode) { return Rec(4012, opcode); }
    Bus& Status(uint8_t status) { return Rec(4011, status); }
    Bus& Words(uint16_t id, uint32_t count, uint16_t first = 0) {
        for (uint32_t i = 0; i < count; ++i) Rec(id, static_cast<uint16_t>(first + i));
        return *this;
    }
    uint32_t position() const { return position_; }
    std::vector<Transaction> Analyze() const { return AnalyzeRecords(records_); }
    const std::vector<Record>& records() const { return records_; }

private:
    uint32_t position_ = 0;
    std::vector<Record> records_;
};

TEST(Transactions, PioInIdentify) {
    Bus bus;
    bus.Rec(4010, 0xA0).Command(0xEC).Status(0x80).Status(0x58).Words(4002, 256, 0x100).Status(0x50);
    auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].name, "IDENTIFY DEVICE");
    EXPECT_EQ(t[0].protocol, Protocol::PioIn);
    EXPECT_EQ(t[0].dataPath, DataPath::Pio);
    EXPECT_TRUE(t[0].dataIn);
    EXPECT_EQ(t[0].words, 256u);
    EXPECT_EQ(t[0].bytes(), 512u);
    EXPECT_EQ(t[0].status, 0x50);
    EXPECT_EQ(t[0].verdict, Verdict::Ok);
    EXPECT_EQ(t[0].start, 10u);  // the SELECT CARD/HEAD write that set it up
    EXPECT_EQ(t[0].end, bus.position());
    // Words become little-endian bytes as on the bus.
    const std::vector<uint8_t> payload = t[0].Payload();
    EXPECT_EQ(payload[0], 0x00);
    EXPECT_EQ(payload[1], 0x01);
    EXPECT_EQ(payload[2], 0x01);
}

TEST(Transactions, UdmaReadOverThreeSectorsWithAddresses) {
    Bus bus;
    bus.Lba(0x0123456, 3).Command(0xC8);
    bus.Rec(3100, 3100).Rec(3306, 0).Words(4026, 256);
    bus.Rec(3036, 0xE0123457).Rec(3100, 3100).Words(4026, 256);
    bus.Rec(3036, 0xE0123458).Rec(3100, 3100).Words(4026, 256);
    bus.Status(0x50);
    auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].name, "READ DMA");
    EXPECT_TRUE(t[0].lba);
    EXPECT_EQ(t[0].lbaAddress, 0x0123456u);
    EXPECT_EQ(t[0].sectorCount, 3u);
    EXPECT_EQ(t[0].dataPath, DataPath::UltraDma);
    EXPECT_EQ(t[0].words, 768u);
    EXPECT_EQ(t[0].sectorAddresses, (std::vector<int64_t>{0xE0123457, 0xE0123458}));
    EXPECT_EQ(t[0].verdict, Verdict::Ok);
}

TEST(Transactions, ChsAddressAndZeroCountMeans256) {
    Bus bus;
    bus.Rec(4006, 0).Rec(4007, 9).Rec(4008, 0x34).Rec(4009, 0x12).Rec(4010, 0xB5).Command(0x40).Status(0x50);
    auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_FALSE(t[0].lba);
    EXPECT_EQ(t[0].device, 1);
    EXPECT_EQ(t[0].cylinder, 0x1234u);
    EXPECT_EQ(t[0].head, 5u);
    EXPECT_EQ(t[0].sector, 9u);
    EXPECT_EQ(t[0].sectorCount, 256u);
    EXPECT_EQ(t[0].protocol, Protocol::NonData);
}

TEST(Transactions, PioOutMultiwordDmaAndSetFeatures) {
    Bus bus;
    bus.Rec(4005, 0x03).Rec(4006, 0x45).Command(0xEF).Status(0x50);
    bus.Lba(7, 1).Command(0x30).Status(0x58).Words(4003, 256).Status(0x50);
    bus.Lba(8, 1).Command(0xCA).Words(4018, 256).Status(0x50);
    auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].name, "SET FEATURES");
    EXPECT_EQ(t[0].transferMode, "UDMA5");
    EXPECT_EQ(t[0].taskFile.features, 0x03);
    EXPECT_EQ(t[1].protocol, Protocol::PioOut);
    EXPECT_FALSE(t[1].dataIn);
    EXPECT_EQ(t[1].words, 256u);
    EXPECT_EQ(t[2].dataPath, DataPath::MultiwordDma);
    EXPECT_FALSE(t[2].dataIn);
    for (const auto& tr : t) EXPECT_EQ(tr.verdict, Verdict::Ok) << tr.name;
}

TEST(Transactions, ErrorWithAbortAttachesTheErrorRegister) {
    Bus bus;
    bus.Command(0x00).Status(0x51).Rec(4004, 0x04);
    auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].verdict, Verdict::Error);
    EXPECT_EQ(t[0].status, 0x51);
    EXPECT_EQ(t[0].error, 0x04);
}

TEST(Transactions, HonestVerdictsForBrokenSequences) {
    {  // a new COMMAND in the middle of a data phase
        Bus bus;
        bus.Lba(1, 2)
            .Command(0x20)
            .Status(0x58)
            .Words(4002, 100)
            .Command(0xEC)
            .Status(0x58)
            .Words(4002, 256)
            .Status(0x50);
        auto t = bus.Analyze();
        ASSERT_EQ(t.size(), 2u);
        EXPECT_EQ(t[0].verdict, Verdict::Aborted);
        EXPECT_EQ(t[0].words, 100u);
        EXPECT_EQ(t[1].verdict, Verdict::Ok);
    }
    {  // the capture ends inside the data phase
        Bus bus;
        bus.Lba(1, 3).Command(0xC8).Words(4026, 500);
        auto t = bus.Analyze();
        ASSERT_EQ(t.size(), 1u);
        EXPECT_EQ(t[0].verdict, Verdict::Incomplete);
    }
    {  // all data moved, but no STATUS read
        Bus bus;
        bus.Lba(1, 1).Command(0xC8).Words(4026, 256);
        EXPECT_EQ(bus.Analyze()[0].verdict, Verdict::Incomplete);
    }
    {  // an idle STATUS read before the data moved is not a completion
        Bus bus;
        bus.Lba(1, 1).Command(0x20).Status(0x50).Words(4002, 10);
        EXPECT_EQ(bus.Analyze()[0].verdict, Verdict::Incomplete);
    }
    {  // a software reset mid-command
        Bus bus;
        bus.Lba(1, 1).Command(0xC8).Words(4026, 20).Rec(4014, 0x0E).Rec(4014, 0x0A).Status(0x50);
        auto t = bus.Analyze();
        ASSERT_EQ(t.size(), 2u);
        EXPECT_EQ(t[0].verdict, Verdict::Reset);
        EXPECT_EQ(t[1].name, "SOFTWARE RESET");
        EXPECT_EQ(t[1].verdict, Verdict::Ok);
    }
    {  // the capture began inside a data phase
        Bus bus;
        bus.Words(4026, 30).Status(0x50).Command(0xE7).Status(0x50);
        auto t = bus.Analyze();
        ASSERT_EQ(t.size(), 2u);
        EXPECT_EQ(t[0].kind, Transaction::Kind::DataWithoutCommand);
        EXPECT_EQ(t[0].verdict, Verdict::Incomplete);
        EXPECT_EQ(t[0].words, 30u);
        EXPECT_EQ(t[1].name, "FLUSH CACHE");
        EXPECT_EQ(t[1].verdict, Verdict::Ok);
    }
}

TEST(Transactions, BurstPausedAndResumedCountsAsOne) {
    Bus bus;
    bus.Lba(5, 1)
        .Command(0xCA)
        .Rec(3101, 3101)
        .Words(4032, 100)
        .Status(0x58)
        .Words(4032, 156, 100)
        .Status(0x50);
    auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].words, 256u);
    std::vector<uint16_t> expected(256);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(t[0].data, expected);
    EXPECT_EQ(t[0].verdict, Verdict::Ok);
}

TEST(HexView, Layout) {
    std::vector<uint8_t> bytes = {'A', 'B', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 'z'};
    EXPECT_EQ(HexView(bytes),
              "00000000  41 42 00 01 02 03 04 05  06 07 08 09 0a 0b 0c 0d  |AB..............|\n"
              "00000010  7a                                                |z|\n");
}

// Words against the command's direction carry none of its data; every
// word in its direction does, whichever DMA protocol moved it.
TEST(Transactions, WordsAgainstTheDirectionAreNotData) {
    struct Case {
        const char* label;
        std::function<void(Bus&)> data;
        uint8_t opcode;
        uint64_t words, ignored;
        DataPath path;
        std::vector<uint16_t> first;  // the command's first data words
    };
    const Case cases[] = {
        {"Ultra DMA write bursts: their words only",
         [](Bus& b) { b.Rec(3101, 3101).Words(4032, 100).Words(4032, 156, 100); },
         0xCA,
         256,
         0,
         DataPath::UltraDma,
         {0, 1, 2}},
        {"multiword DMA writes",
         [](Bus& b) { b.Words(4018, 256, 7); },
         0xCA,
         256,
         0,
         DataPath::MultiwordDma,
         {7, 8, 9}},
        // A real multiword DMA word may equal the next word, however it moves.
        {"a multiword DMA write of the next Ultra DMA word's value",
         [](Bus& b) { b.Rec(4018, 0).Rec(3101, 3101).Words(4032, 255); },
         0xCA,
         256,
         0,
         DataPath::MultiwordDma,
         {0, 0, 1}},
        {"the host's HDMARDY- edges in a read burst",
         [](Bus& b) { b.Words(4026, 100).Rec(4032, 7).Words(4026, 156, 100).Rec(4032, 7); },
         0xC8,
         256,
         2,
         DataPath::UltraDma,
         {0, 1, 2}},
        {"multiword DMA reads of a DMA write command",
         [](Bus& b) { b.Rec(4017, 9).Words(4018, 256, 3); },
         0xCA,
         256,
         1,
         DataPath::MultiwordDma,
         {3, 4, 5}},
        {"PIO writes in a PIO read",
         [](Bus& b) { b.Words(4002, 256, 5).Rec(4003, 1); },
         0x20,
         256,
         1,
         DataPath::Pio,
         {5, 6, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bus bus;
        bus.Lba(9, 1).Command(c.opcode);
        c.data(bus);
        bus.Status(0x50);
        const auto t = bus.Analyze();
        ASSERT_EQ(t.size(), 1u);
        EXPECT_EQ(t[0].words, c.words);
        EXPECT_EQ(t[0].ignoredWords, c.ignored);
        EXPECT_EQ(t[0].dataPath, c.path);
        EXPECT_EQ(t[0].verdict, Verdict::Ok);
        EXPECT_TRUE(t[0].notes.empty());
        ASSERT_EQ(t[0].data.size(), c.words);
        EXPECT_EQ(std::vector<uint16_t>(t[0].data.begin(), t[0].data.begin() + 3), c.first);
    }
}

TEST(Transactions, SectorRangeOfAnLbaCommand) {
    Bus bus;
    bus.Lba(100, 4).Command(0xC8).Status(0x51);                     // sectors 100..103
    bus.Lba(100, 4).Command(0xEC).Status(0x51);                     // IDENTIFY names no sectors
    bus.Rec(4007, 100).Rec(4010, 0xA0).Command(0x20).Status(0x51);  // CHS
    const auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 3u);
    const struct {
        uint32_t first, last;
        bool touches;
    } cases[] = {
        {0, 99, false}, {0, 100, true}, {103, 103, true}, {104, 0x0FFFFFFF, false}, {101, 102, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(t[0].TouchesLba(c.first, c.last), c.touches) << c.first << ":" << c.last;
        EXPECT_FALSE(t[1].TouchesLba(c.first, c.last));
        EXPECT_FALSE(t[2].TouchesLba(c.first, c.last));
    }
}

TEST(Transactions, SoftwareResetEndsAtTheCardsReadyStatus) {
    struct Case {
        const char* label;
        std::function<void(Bus&)> after;  // after SRST was set
        Verdict verdict;
        std::optional<uint8_t> status, code;
    };
    const Case cases[] = {
        {"polled until ready",
         [](Bus& b) { b.Rec(4014, 0x08).Status(0x80).Status(0x50); },
         Verdict::Ok,
         0x50,
         {}},
        {"diagnostic code read", [](Bus& b) { b.Rec(4014, 0x08).Status(0x51).Rec(4004, 0x03); },
         Verdict::Error, 0x51, 0x03},
        {"a command without polling",
         [](Bus& b) { b.Rec(4014, 0x08).Command(0xE7).Status(0x50); },
         Verdict::Ok,
         {},
         {}},
        {"capture ends with SRST held", [](Bus& b) { b.Status(0x80); }, Verdict::Incomplete, {}, {}},
        {"capture ends before the card is ready",
         [](Bus& b) { b.Rec(4014, 0x08).Status(0x80); },
         Verdict::Incomplete,
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bus bus;
        bus.Rec(4014, 0x0C);
        c.after(bus);
        const auto t = bus.Analyze();
        ASSERT_GE(t.size(), 1u);
        EXPECT_EQ(t[0].kind, Transaction::Kind::SoftwareReset);
        EXPECT_EQ(t[0].verdict, c.verdict);
        EXPECT_EQ(t[0].status, c.status);
        EXPECT_EQ(t[0].diagnosticCode, c.code);
        EXPECT_FALSE(t[0].error);
    }
    // After a reset the task file holds the diagnostic signature, not what
    // was written before it.
    Bus bus;
    bus.Lba(0x123456, 9).Rec(4014, 0x0C).Rec(4014, 0x08).Status(0x50).Command(0x40).Status(0x50);
    const auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[1].sectorCount, 1u);
    EXPECT_EQ(t[1].sector, 1u);
}

TEST(Transactions, DiagnosticCodeIsNotAnError) {
    Bus bus;
    bus.Command(0x90).Status(0x80).Status(0x50).Rec(4004, 0x01);
    const auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].verdict, Verdict::Ok);
    EXPECT_EQ(t[0].diagnosticCode, 0x01);
    EXPECT_FALSE(t[0].error);
}

TEST(Transactions, DataWithoutCommandCutByACommandStaysIncomplete) {
    Bus bus;
    bus.Words(4002, 12).Command(0xE7).Status(0x50);
    const auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].kind, Transaction::Kind::DataWithoutCommand);
    EXPECT_EQ(t[0].verdict, Verdict::Incomplete);
}

TEST(Transactions, NotesAndPayloadKeeping) {
    Bus bus;
    bus.Lba(1, 1).Command(0x20).Status(0x58).Words(4002, 300).Status(0x50);  // more than asked for
    bus.Command(0xE7).Words(4002, 2).Status(0x50);                           // data in a non-data command
    bus.Rec(4010, 0xA0).Command(0xEC).Status(0x58).Words(4002, 256).Status(0x50);
    bus.Lba(5, 2).Command(0xC8).Status(0x51);  // refused before any data: no note
    const auto kept = bus.Analyze();
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(kept[0].notes, std::vector<std::string>{"moved 300 of 256 words"});
    EXPECT_EQ(kept[0].data.size(), 300u);
    EXPECT_EQ(kept[1].notes, std::vector<std::string>{"data words in a command without a data phase"});
    EXPECT_TRUE(kept[3].notes.empty());
    TransactionBuilder builder(false);
    for (const Record& r : bus.records()) builder.Add(r);
    const auto counted = builder.Finish();
    EXPECT_EQ(counted[0].words, 300u);
    EXPECT_TRUE(counted[0].data.empty());
    EXPECT_EQ(counted[2].data.size(), 256u);  // IDENTIFY keeps its words for the fields
    EXPECT_TRUE(counted[2].identify.has_value());
}

TEST(Transactions, SetFeaturesSubcommands) {
    Bus bus;
    bus.Rec(4005, 0x82).Command(0xEF).Status(0x50);
    bus.Rec(4005, 0x03).Rec(4006, 0x22).Command(0xEF).Status(0x50);
    const auto t = bus.Analyze();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].subcommand, "disable write cache");
    EXPECT_EQ(t[0].transferMode, "");
    EXPECT_EQ(t[1].subcommand, "set transfer mode MWDMA2");
    EXPECT_EQ(t[1].transferMode, "MWDMA2");
}

}  // namespace
