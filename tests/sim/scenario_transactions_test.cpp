// Every cfsim scenario decoded by the plug-in and read back as ATA
// transactions: each command the synthesizer issued must come back with its
// opcode, address, count, the very words it put on the bus, its final
// STATUS and ERROR, and the verdict of how it ended.
#include <gtest/gtest.h>

#include "host/analysis/transactions.h"
#include "host/model/capture_image.h"
#include "sim/bus.h"
#include "sim/scenarios.h"
#include "tests/support/fresh_plugin.h"

namespace {

using namespace fd::host::analysis;
using fd::sim::IssuedCommand;

std::vector<Record> Decode(const fd::host::Waveform& waveform) {
    fd::test::FreshPlugin plugin;
    fd::host::CaptureImage image = fd::host::CaptureImage::FromWaveform(waveform);
    plugin.table().SetCapture(0, image.capture());
    EXPECT_TRUE(plugin.table().Decode());
    const FdCapture& capture = *image.capture();
    std::vector<Record> records;
    if (!capture.positionList) return records;
    for (int32_t i = 0; i < capture.positionList->count; ++i) {
        records.push_back({capture.positionList->elements[i],
                           static_cast<int64_t>(capture.valueList->elements[i]),
                           capture.fieldIdList->elements[i]});
    }
    return records;
}

// The first differing word, so a failure says where the data went wrong.
std::string FirstDifference(const std::vector<uint16_t>& got, const std::vector<uint16_t>& expected) {
    for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i) {
        if (got[i] != expected[i])
            return "word " + std::to_string(i) + ": " + std::to_string(got[i]) +
                   " != " + std::to_string(expected[i]);
    }
    return got.size() == expected.size()
               ? ""
               : "sizes " + std::to_string(got.size()) + " != " + std::to_string(expected.size());
}

void ExpectTransactions(const std::vector<Transaction>& got, const std::vector<IssuedCommand>& issued) {
    ASSERT_EQ(got.size(), issued.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("transaction " + std::to_string(i + 1) + " " + got[i].name);
        const Transaction& t = got[i];
        const IssuedCommand& c = issued[i];
        EXPECT_EQ(t.verdict, c.outcome) << VerdictName(t.verdict);
        if (c.softwareReset) {
            EXPECT_EQ(t.kind, Transaction::Kind::SoftwareReset);
            continue;
        }
        EXPECT_EQ(t.kind, Transaction::Kind::Command);
        EXPECT_EQ(t.opcode, c.opcode);
        EXPECT_EQ(t.name, LookupCommand(c.opcode).name);
        EXPECT_EQ(t.lba, (c.taskFile.deviceHead & 0x40) != 0);
        if (t.lba) {
            const uint32_t lba = (uint32_t{c.taskFile.deviceHead & 0x0Fu} << 24) |
                                 (uint32_t{c.taskFile.cylinderHigh} << 16) |
                                 (uint32_t{c.taskFile.cylinderLow} << 8) | c.taskFile.sectorNumber;
            EXPECT_EQ(t.lbaAddress, lba);
        }
        EXPECT_EQ(t.sectorCount, c.taskFile.sectorCount == 0 ? 256u : c.taskFile.sectorCount);
        EXPECT_EQ(t.taskFile.features, c.taskFile.features);
        EXPECT_EQ(t.words, c.data.size());
        EXPECT_EQ(t.bytes(), 2 * c.data.size());
        EXPECT_EQ(FirstDifference(t.data, c.data), "");
        EXPECT_EQ(t.status, c.status);
        EXPECT_EQ(t.error, c.error);
    }
}

struct Analyzed {
    std::vector<IssuedCommand> issued;
    std::vector<Transaction> transactions;
};

Analyzed RunAndAnalyze(const std::string& scenario, const fd::sim::ScenarioParams& params,
                       fd::sim::Options options = {}) {
    fd::sim::Bus bus(options);
    Analyzed run;
    run.issued = fd::sim::RunScenario(bus, scenario, params);
    run.transactions = AnalyzeRecords(Decode(bus.Finish()));
    return run;
}

TEST(ScenarioTransactions, EveryScenarioComesBackCommandForCommand) {
    fd::sim::BusTiming ideal;
    ideal.ideal = true;
    // A realistic bus at the edges of what ATA allows.
    fd::sim::BusTiming limits;
    limits.iordyWaitNs = 400;
    limits.iordyEvery = 5;
    limits.iordyWithStrobe = true;
    limits.writeData = fd::sim::WriteData::Late;
    limits.readAccessNs = 1e6;
    limits.dmarqWithStrobe = true;
    struct Shape {
        const char* label;
        uint32_t sectors;
        size_t burstWords;
        bool intrq;
        fd::sim::BusTiming timing = {};
        double samplePeriodNs = 5;
        uint64_t edges = 1'000'000;
    };
    const Shape shapes[] = {
        {"one sector, one burst", 1, 0, false},
        {"three sectors in bursts of 200 words", 3, 200, true},
        {"the ideal bus", 2, 0, false, ideal, 5, 20'000},
        {"handshakes at their limits, odd bursts", 2, 101, false, limits, 5, 20'000},
        {"coarse samples", 2, 77, true, {}, 40, 20'000},
    };
    for (const Shape& shape : shapes) {
        for (const fd::sim::ScenarioInfo& scenario : fd::sim::Scenarios()) {
            SCOPED_TRACE(std::string(scenario.name) + ", " + shape.label);
            fd::sim::Options options;
            options.intrq = shape.intrq;
            options.timing = shape.timing;
            options.samplePeriodNs = shape.samplePeriodNs;
            fd::sim::ScenarioParams params;
            params.sectors = shape.sectors;
            params.burstWords = shape.burstWords;
            params.edges = shape.edges;
            const Analyzed run = RunAndAnalyze(std::string(scenario.name), params, options);
            ExpectTransactions(run.transactions, run.issued);
        }
    }
}

TEST(ScenarioTransactions, EachProtocolTakesItsDataPath) {
    struct Case {
        const char* scenario;
        std::vector<DataPath> paths;  // per transaction
        std::vector<bool> in;
    };
    const Case cases[] = {
        {"pio-read", {DataPath::Pio}, {true}},
        {"pio-write", {DataPath::Pio}, {false}},
        {"udma-pause", {DataPath::UltraDma, DataPath::UltraDma}, {true, false}},
        {"mdma", {DataPath::MultiwordDma, DataPath::MultiwordDma}, {true, false}},
        {"non-data", {DataPath::None, DataPath::None, DataPath::None}, {false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const Analyzed run = RunAndAnalyze(c.scenario, {});
        ASSERT_EQ(run.transactions.size(), c.paths.size());
        for (size_t i = 0; i < c.paths.size(); ++i) {
            EXPECT_EQ(run.transactions[i].dataPath, c.paths[i]) << i;
            EXPECT_EQ(run.transactions[i].dataIn, c.in[i]) << i;
        }
    }
}

TEST(ScenarioTransactions, UltraDmaReadyLinesCarryNoWords) {
    // A receiver that ends a burst drops its ready line while STOP is still
    // negated: the host ending the read's bursts (HDMARDY- rising), the card
    // ending a write burst after an odd number of words (DDMARDY- rising
    // while HSTROBE is low). STOP negated at the start of a write burst is
    // no cycle either. None of it reaches the records, so nothing is left
    // for the transactions to ignore.
    for (const size_t burstWords : {size_t{100}, size_t{101}}) {
        SCOPED_TRACE(testing::Message() << "bursts of " << burstWords);
        fd::sim::ScenarioParams params;
        params.sectors = 2;
        params.burstWords = burstWords;
        const Analyzed run = RunAndAnalyze("udma-pause", params);
        ASSERT_EQ(run.transactions.size(), 2u);
        ExpectTransactions(run.transactions, run.issued);
        EXPECT_EQ(run.transactions[0].ignoredWords, 0u);  // 512 words in 6 bursts
        EXPECT_EQ(run.transactions[1].ignoredWords, 0u);
        EXPECT_EQ(run.transactions[1].dataPath, DataPath::UltraDma);
        // COMPOSE marks each new sector with its address.
        EXPECT_FALSE(run.transactions[1].sectorAddresses.empty());
    }
}

TEST(ScenarioTransactions, IdentifyFieldsReadBackAsWritten) {
    fd::sim::Options options;
    options.udmaMode = 5;
    const Analyzed run = RunAndAnalyze("identify", {}, options);
    ASSERT_EQ(run.transactions.size(), 1u);
    ASSERT_TRUE(run.transactions[0].identify.has_value());
    const IdentifyInfo& id = *run.transactions[0].identify;
    const fd::sim::IdentifyInfo written;
    EXPECT_EQ(id.model, written.model);
    EXPECT_EQ(id.serial, written.serial);
    EXPECT_EQ(id.firmware, written.firmware);
    EXPECT_EQ(id.lbaSectors, written.sectors);
    EXPECT_EQ(id.capacityBytes(), uint64_t{written.sectors} * 512);
    EXPECT_TRUE(id.cfSignature);
    EXPECT_EQ(id.checksumValid, true);
    EXPECT_EQ(id.udmaSelected, 5);
    EXPECT_EQ(id.ModesText(), "PIO0-6 MWDMA0-4 UDMA0-6 (selected UDMA5)");
}

TEST(ScenarioTransactions, ErrorsCarryTheirRegisterBits) {
    const Analyzed run = RunAndAnalyze("errors", {});
    ASSERT_EQ(run.transactions.size(), 2u);
    EXPECT_EQ(DescribeStatus(*run.transactions[0].status), "0x51 DRDY DSC ERR");
    EXPECT_EQ(DescribeError(*run.transactions[0].error), "0x04 ABRT");
    EXPECT_EQ(DescribeError(*run.transactions[1].error), "0x10 IDNF");
    EXPECT_EQ(run.transactions[1].lbaAddress, 0x0FFFFFF0u);
}

}  // namespace
