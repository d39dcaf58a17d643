// cfdecode's transactions view as a user runs it: synthesized command
// sequences come back with the right names, verdicts and bytes, --dump
// files equal the data put on the bus byte for byte, the filters choose the
// right commands in both views, bad view arguments get one line and status
// 2, and hand-made register sequences (missing STATUS, data cut short, a new
// COMMAND mid-data) get honest verdicts.
#include <gtest/gtest.h>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "sim/bus.h"
#include "sim/scenarios.h"
#include "sim/vcd_writer.h"
#include "tests/host/cfdecode/run_cfdecode.h"

namespace {

using fd::test::ProgramResult;
using fd::test::RunCfdecode;
using fd::test::TemporaryFile;
using nlohmann::json;

struct Scenario {
    std::string vcd;
    std::vector<fd::sim::IssuedCommand> issued;
};

Scenario Synthesize(const std::string& name, uint32_t sectors = 2) {
    fd::sim::Bus bus;
    fd::sim::ScenarioParams params;
    params.sectors = sectors;
    Scenario scenario;
    scenario.issued = fd::sim::RunScenario(bus, name, params);
    std::ostringstream vcd;
    fd::sim::WriteVcd(vcd, bus.Finish());
    scenario.vcd = vcd.str();
    return scenario;
}

std::vector<json> JsonLines(const std::string& text) {
    std::vector<json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
    return lines;
}

std::vector<int> Numbers(const std::string& jsonLines) {
    std::vector<int> numbers;
    for (const json& line : JsonLines(jsonLines)) numbers.push_back(line["number"].get<int>());
    return numbers;
}

int LineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// A folder in the temporary directory, removed with everything in it.
class TemporaryFolder {
public:
    TemporaryFolder()
        : path_(std::filesystem::temp_directory_path() /
                ("cfdecode-dump-" + std::to_string(std::random_device{}()))) {}
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class TransactionsView : public testing::Test {
protected:
    static void SetUpTestSuite() {
        verdicts_ = new Scenario(Synthesize("verdicts"));
        capture_ = new TemporaryFile(".vcd", verdicts_->vcd);
    }
    static void TearDownTestSuite() {
        delete capture_;
        delete verdicts_;
    }
    static ProgramResult Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), capture_->path());
        return RunCfdecode(arguments);
    }
    static Scenario* verdicts_;
    static TemporaryFile* capture_;
};
Scenario* TransactionsView::verdicts_ = nullptr;
TemporaryFile* TransactionsView::capture_ = nullptr;

TEST_F(TransactionsView, JsonListsEachCommandWithItsVerdict) {
    const ProgramResult result = Run({"--view", "transactions", "--format", "json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<json> lines = JsonLines(result.out);
    struct Expected {
        const char* name;
        const char* verdict;
        int bytes;
    };
    const Expected expected[] = {
        {"FLUSH CACHE", "ok", 0},          {"SET FEATURES", "error", 0}, {"READ SECTORS", "aborted", 256},
        {"IDENTIFY DEVICE", "ok", 512},    {"READ DMA", "reset", 514},   {"SOFTWARE RESET", "ok", 0},
        {"WRITE DMA", "incomplete", 1024},
    };
    ASSERT_EQ(lines.size(), std::size(expected));
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].dump());
        EXPECT_EQ(lines[i]["number"], i + 1);
        EXPECT_EQ(lines[i]["name"], expected[i].name);
        EXPECT_EQ(lines[i]["verdict"], expected[i].verdict);
        EXPECT_EQ(lines[i]["bytes"], expected[i].bytes);
        EXPECT_LE(lines[i]["start"].get<uint32_t>(), lines[i]["end"].get<uint32_t>());
    }
    EXPECT_EQ(lines[1]["status_bits"], "DRDY DSC ERR");
    EXPECT_EQ(lines[1]["error_bits"], "ABRT");
    EXPECT_EQ(lines[2]["lba"], 0x2A10);
    EXPECT_EQ(lines[2]["sector_count"], 2);
    EXPECT_EQ(lines[2]["task_file"]["device_head_bits"], "LBA DEV0 head 0");
    EXPECT_EQ(lines[4]["data_path"], "UDMA");
    EXPECT_EQ(lines[5]["kind"], "software reset");
    const json& identify = lines[3]["identify"];
    const fd::sim::IdentifyInfo written;
    EXPECT_EQ(identify["model"], written.model);
    EXPECT_EQ(identify["serial"], written.serial);
    EXPECT_EQ(identify["firmware"], written.firmware);
    EXPECT_EQ(identify["lba_sectors"], written.sectors);
    EXPECT_EQ(identify["cf_signature"], true);
    EXPECT_EQ(identify["udma_selected"], 4);
    EXPECT_EQ(identify["checksum_valid"], true);
}

TEST_F(TransactionsView, TextTableShowsIdentifyAndColoursVerdicts) {
    const ProgramResult plain = Run({"--view", "transactions", "--color", "never"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.rfind("#  start", 0), 0u) << plain.out;
    EXPECT_NE(plain.out.find("IDENTIFY DEVICE  PIO in"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("\n      model      FLASHDECODE SIMULATED CF 4.1\n"), std::string::npos)
        << plain.out;
    EXPECT_NE(plain.out.find("0x51 DRDY DSC ERR  0x04 ABRT  error"), std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find("aborted     moved 128 of 512 words\n"), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.find('\x1b'), std::string::npos);
    const ProgramResult coloured = Run({"--view", "transactions", "--color", "always"});
    EXPECT_NE(coloured.out.find("\x1b[1;31merror\x1b[0m"), std::string::npos);
    EXPECT_NE(coloured.out.find("\x1b[35mincomplete\x1b[0m"), std::string::npos);
    // --hex: IDENTIFY's word 0, 848Ah, goes on the bus as 8A 84.
    const ProgramResult hex =
        Run({"--view", "transactions", "--color", "never", "--hex", "--command", "0xEC"});
    EXPECT_NE(hex.out.find("\n      00000000  8a 84 "), std::string::npos) << hex.out;
}

TEST_F(TransactionsView, CsvHasOneRowPerCommand) {
    const ProgramResult result = Run({"--view", "transactions", "--format", "csv", "--errors"});
    ASSERT_EQ(result.status, 0) << result.err;
    std::istringstream lines(result.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(
        line,
        "number,kind,start,end,device,opcode,name,protocol,data_path,direction,lba,cylinder,head,sector,"
        "sector_count,features,words,bytes,status,status_bits,error,error_bits,verdict,notes,bursts,"
        "glitch_words");
    std::vector<std::string> rows;
    while (std::getline(lines, line)) rows.push_back(line);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_NE(
        rows[0].find(
            ",0,239,SET FEATURES,non-data,,,,0,0,0,256,119,0,0,81,DRDY DSC ERR,4,ABRT,error,subcommand 0x77"),
        std::string::npos)
        << rows[0];
    EXPECT_NE(
        rows[1].find(",READ SECTORS,PIO in,PIO,in,10768,,,,2,0,128,256,,,,,aborted,moved 128 of 512 words"),
        std::string::npos)
        << rows[1];
}

TEST_F(TransactionsView, FiltersChooseCommands) {
    struct Case {
        std::vector<std::string> arguments;
        std::vector<int> numbers;
    };
    const Case cases[] = {
        {{"--command", "read dma"}, {5}},
        {{"--command", "0xEC"}, {4}},
        {{"--command", "236"}, {4}},
        {{"--command", "READ SECTORS", "--command", "0xCA"}, {3, 7}},
        {{"--command", "software reset"}, {6}},
        {{"--command", "SLEEP"}, {}},
        {{"--errors"}, {2, 3, 5, 7}},
        {{"--errors", "--command", "SET FEATURES"}, {2}},
        {{"--lba", "0x2A11:0x2A11"}, {3, 5, 7}},  // two sectors from 2A10h
        {{"--lba", "10770:20000"}, {}},
        {{"--lba", "0:10767"}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"--view", "transactions", "--format", "json"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const ProgramResult result = Run(arguments);
        ASSERT_EQ(result.status, 0) << fmt::format("{}", fmt::join(c.arguments, " ")) << result.err;
        EXPECT_EQ(Numbers(result.out), c.numbers) << fmt::format("{}", fmt::join(c.arguments, " "));
    }
}

TEST_F(TransactionsView, RecordsViewKeepsTheRecordsOfChosenCommands) {
    const ProgramResult all = Run({"--format", "csv"});
    const ProgramResult chosen = Run({"--format", "csv", "--errors"});
    const ProgramResult spans = Run({"--view", "transactions", "--format", "json", "--errors"});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    std::vector<std::pair<uint32_t, uint32_t>> within;
    for (const json& line : JsonLines(spans.out)) within.emplace_back(line["start"], line["end"]);
    size_t kept = 0, inside = 0;
    std::istringstream allLines(all.out), chosenLines(chosen.out);
    std::string line;
    std::getline(allLines, line);
    std::vector<std::string> expected;
    while (std::getline(allLines, line)) {
        const uint32_t position = static_cast<uint32_t>(std::stoul(line.substr(0, line.find(','))));
        const bool in = std::any_of(within.begin(), within.end(), [&](const auto& span) {
            return span.first <= position && position <= span.second;
        });
        if (in) expected.push_back(line);
        inside += in;
    }
    std::getline(chosenLines, line);
    EXPECT_EQ(line, "position,field_id,name,value,colour");
    std::vector<std::string> got;
    while (std::getline(chosenLines, line)) got.push_back(line);
    kept = got.size();
    EXPECT_EQ(got, expected);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, static_cast<size_t>(LineCount(all.out)) - 1);
    EXPECT_EQ(kept, inside);
}

TEST_F(TransactionsView, BadViewArgumentsGetOneLineAndStatusTwo) {
    TemporaryFile notAFolder(".bin", "x");
    struct Case {
        std::vector<std::string> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {{"--command", "FROBNICATE"}, "--command FROBNICATE: no command of that name"},
        {{"--command", "0x100"}, "--command 0x100: expected an opcode from 0 to 0xFF"},
        {{"--command", "12z"}, "--command 12z: expected an opcode"},
        {{"--lba", "5"}, "--lba 5: expected FIRST:LAST"},
        {{"--lba", "x:y"}, "--lba x:y: expected FIRST:LAST"},
        {{"--lba", "0:0x10000000"}, "--lba 0:0x10000000: expected FIRST:LAST"},
        {{"--lba", "10:5"}, "--lba 10:5: the first sector lies after the last"},
        {{"--view", "commands"}, "--view"},
        {{"--hex"}, "--hex shows the payload under each command: use it with --view transactions"},
        {{"--dump", notAFolder.path()}, "--dump " + notAFolder.path() + ": not a folder"},
        {{"--dump", notAFolder.path() + "/sub"},
         "--dump " + notAFolder.path() + "/sub: cannot make a folder there"},
    };
    for (const Case& c : cases) {
        const ProgramResult result = Run(c.arguments);
        const std::string label = fmt::format("{}", fmt::join(c.arguments, " "));
        EXPECT_EQ(result.status, 2) << label << ": " << result.err;
        EXPECT_EQ(result.out, "") << label;
        EXPECT_EQ(LineCount(result.err), 1) << label << ": " << result.err;
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << label << ": " << result.err;
    }
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string LittleEndian(const std::vector<uint16_t>& words) {
    std::string bytes;
    for (uint16_t word : words) {
        bytes += static_cast<char>(word & 0xFF);
        bytes += static_cast<char>(word >> 8);
    }
    return bytes;
}

TEST(TransactionsDump, FilesEqualTheDataOnTheBus) {
    for (const char* name : {"mixed", "verdicts", "udma-pause"}) {
        SCOPED_TRACE(name);
        const Scenario scenario = Synthesize(name, 3);
        TemporaryFile capture(".vcd", scenario.vcd);
        TemporaryFolder folder;
        const ProgramResult result =
            RunCfdecode({capture.path(), "--view", "transactions", "--dump", folder.path().string(), "-q"});
        ASSERT_EQ(result.status, 0) << result.err;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        size_t next = 0;
        for (size_t i = 0; i < scenario.issued.size(); ++i) {
            const auto& command = scenario.issued[i];
            if (command.data.empty()) continue;
            ASSERT_LT(next, files.size());
            const std::string file = files[next++].filename().string();
            EXPECT_EQ(file.substr(0, 8), fmt::format("{:04}-{:02x}-", i + 1, command.opcode)) << file;
            EXPECT_TRUE(ReadFile(folder.path() / file) == LittleEndian(command.data)) << file;
        }
        EXPECT_EQ(next, files.size());
    }
}

// --- Hand-made register sequences, independent of the synthesizer. ---

// Register cycles on the 26 ATA signals, written straight as VCD text.
class RegisterSequence {
public:
    RegisterSequence& Write(int address, uint16_t value) { return Cycle(address, value, true, false); }
    RegisterSequence& Read(int address, uint16_t value) { return Cycle(address, value, false, false); }
    RegisterSequence& Control(uint8_t value) { return Cycle(6, value, true, true); }
    RegisterSequence& Command(uint8_t opcode, uint8_t count = 1) {
        return Write(2, count).Write(3, 0x10).Write(4, 0x2A).Write(5, 0).Write(6, 0xE0).Write(7, opcode);
    }
    RegisterSequence& Status(uint8_t value) { return Read(7, value); }
    RegisterSequence& DataIn(int words) {
        for (int i = 0; i < words; ++i) Read(0, static_cast<uint16_t>(0x1000 + i));
        return *this;
    }
    // Multiword DMA: DMARQ and DMACK- around DIOR- (in) or DIOW- (out) cycles.
    RegisterSequence& Dma(int words, bool in) {
        const char* strobe = in ? "'" : "&";
        time_ += 20;
        changes_ += fmt::format("#{} 1!\n#{} 0\"\n", time_, time_ + 5);
        time_ += 5;
        for (int i = 0; i < words; ++i) {
            time_ += 10;
            changes_ += fmt::format("#{} b{:b} )\n#{} 0{}\n#{} 1{}\n", time_, 0x2000 + i, time_ + 2, strobe,
                                    time_ + 8, strobe);
        }
        time_ += 20;
        changes_ += fmt::format("#{} 0!\n#{} 1\"\n", time_, time_ + 5);
        return *this;
    }
    std::string Vcd() const {
        return "$timescale 1ns $end\n$scope module bus $end\n"
               "$var wire 1 ! DMARQ $end\n$var wire 1 \" DMACK- $end\n$var wire 1 # CS0- $end\n"
               "$var wire 1 % CS1- $end\n$var wire 3 $ DA [2:0] $end\n$var wire 1 & DIOW- $end\n"
               "$var wire 1 ' DIOR- $end\n$var wire 1 ( IORDY $end\n$var wire 16 ) DD [15:0] $end\n"
               "$upscope $end\n$enddefinitions $end\n"
               "#0\n$dumpvars\n0!\n1\"\n1#\n1%\nb000 $\n1&\n1'\n1(\nb0 )\n$end\n" +
               changes_ + fmt::format("#{}\n", time_ + 20);
    }

private:
    RegisterSequence& Cycle(int address, uint16_t value, bool write, bool cs1) {
        time_ += 20;
        const char* select = cs1 ? "%" : "#";
        const char* strobe = write ? "&" : "'";
        changes_ += fmt::format("#{} 0{} b{:03b} $ b{:b} )\n", time_, select, address, value);
        changes_ += fmt::format("#{} 0{}\n#{} 1{}\n#{} 1{}\n", time_ + 3, strobe, time_ + 9, strobe,
                                time_ + 11, select);
        return *this;
    }

    uint32_t time_ = 0;
    std::string changes_;
};

TEST(TransactionsOfBrokenSequences, GetHonestVerdicts) {
    struct Expected {
        std::string name;
        std::string verdict;
        int bytes;
    };
    struct Case {
        const char* label;
        RegisterSequence sequence;
        std::vector<Expected> expected;
    };
    const Case cases[] = {
        {"complete", RegisterSequence().Command(0xE7).Status(0x80).Status(0x50), {{"FLUSH CACHE", "ok", 0}}},
        {"multiword DMA both ways",
         RegisterSequence()
             .Command(0xC8)
             .Status(0x58)
             .Dma(256, true)
             .Status(0x50)
             .Command(0xCA, 2)
             .Dma(512, false)
             .Status(0x50),
         {{"READ DMA", "ok", 512}, {"WRITE DMA", "ok", 1024}}},
        {"DMA cut short, then a ready STATUS",
         RegisterSequence().Command(0xC8, 2).Dma(300, true).Status(0x50),
         {{"READ DMA", "incomplete", 600}}},
        {"missing STATUS", RegisterSequence().Command(0xE7).Status(0x80), {{"FLUSH CACHE", "incomplete", 0}}},
        {"data cut by the end of the capture",
         RegisterSequence().Command(0x20).Status(0x58).DataIn(100),
         {{"READ SECTORS", "incomplete", 200}}},
        {"ready STATUS before the data moved",
         RegisterSequence().Command(0x20).Status(0x50).DataIn(10).Status(0x50),
         {{"READ SECTORS", "incomplete", 20}}},
        {"new COMMAND mid-data",
         RegisterSequence().Command(0x20, 2).Status(0x58).DataIn(50).Command(0xE7).Status(0x50),
         {{"READ SECTORS", "aborted", 100}, {"FLUSH CACHE", "ok", 0}}},
        {"reset mid-data",
         RegisterSequence()
             .Command(0x20)
             .Status(0x58)
             .DataIn(7)
             .Control(0x0C)
             .Control(0x08)
             .Status(0x80)
             .Status(0x50),
         {{"READ SECTORS", "reset", 14}, {"SOFTWARE RESET", "ok", 0}}},
        {"capture begins in the data phase",
         RegisterSequence().DataIn(30).Status(0x50).Command(0xE7).Status(0x50),
         {{"(data without a command)", "incomplete", 60}, {"FLUSH CACHE", "ok", 0}}},
        {"ERR without an ERROR read",
         RegisterSequence().Command(0xC8).Status(0x51),
         {{"READ DMA", "error", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TemporaryFile capture(".vcd", c.sequence.Vcd());
        const ProgramResult result =
            RunCfdecode({capture.path(), "--view", "transactions", "--format", "json"});
        ASSERT_EQ(result.status, 0) << result.err;
        const std::vector<json> lines = JsonLines(result.out);
        ASSERT_EQ(lines.size(), c.expected.size()) << result.out;
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i]["name"], c.expected[i].name) << lines[i].dump();
            EXPECT_EQ(lines[i]["verdict"], c.expected[i].verdict) << lines[i].dump();
            EXPECT_EQ(lines[i]["bytes"], c.expected[i].bytes) << lines[i].dump();
        }
    }
}

}  // namespace
