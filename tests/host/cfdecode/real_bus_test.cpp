// Commands on a bus drawn by hand the way real cards and hosts drive it,
// sampled every 10 ns and written as an HDL simulator writes a VCD (DD a
// vector, z while nobody drives it): a card that drives read data late in
// the strobe pulse and a STATUS that changes during it, IORDY wait states
// negated in the sample the strobe falls, a host that drives multiword DMA
// write data only after DIOW- falls, an Ultra DMA write whose host negates
// STOP before the first HSTROBE edge, a card that negates DMARQ in the
// sample the last multiword DMA strobe falls, a capture that ends inside a
// strobe pulse. Through the cfdecode program: every record, every
// transaction, every dumped byte and every line on stderr must be exactly
// what crossed the bus.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <sstream>

#include "tests/host/cfdecode/run_cfdecode.h"

namespace {

using fd::test::ProgramResult;
using fd::test::RunCfdecode;
using fd::test::TemporaryFile;
using nlohmann::json;

struct Rec {
    uint32_t position;
    uint16_t id;
    int64_t value;
    bool operator==(const Rec&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rec& r) {
    return out << "{" << r.position << ", " << r.id << ", " << r.value << "}";
}

// The bus as its level changes by time, and what a correct decode of it
// gives. Times are nanoseconds; every change falls on a 10 ns sample.
class Bus {
public:
    enum class Data { Late, Early, Changing };  // when a card drives read data

    Bus() {
        for (const char* level : {"0!", "1\"", "1#", "1%", "b000 $", "1&", "1'", "1("}) Set(0, level);
        Release(0);
    }

    // --- register and PIO cycles: address setup 70 ns, pulse 170 ns ---

    // The host drives write data from the address setup to 30 ns past the
    // negation; with `wait`, the card negates IORDY in the sample DIOW-
    // falls and asserts it 300 ns later.
    Bus& Write(int address, uint16_t value, bool wait = false) {
        const uint32_t fall = Select(address);
        Drive(t_, value);
        Strobe("&", fall, wait);
        Release(rise_ + 30);
        Expect(fall, WriteId(address), address == 0 ? value : value & 0xFF);
        return Deselect();
    }
    // The card drives read data 50 ns before the negation (t5 before it),
    // or just before it asserts IORDY again; Early from the fall on;
    // Changing drives `early` from the fall and `value` late, as a STATUS
    // whose BSY clears during the pulse.
    Bus& Read(int address, uint16_t value, bool wait = false, Data data = Data::Late, uint16_t early = 0) {
        const uint32_t fall = Select(address);
        Strobe("'", fall, wait);
        if (data != Data::Late) Drive(fall + 20, data == Data::Early ? value : early);
        if (data != Data::Early) Drive(wait ? fall + 290 : rise_ - 50, value);
        Release(rise_ + 10);
        Expect(fall, ReadId(address), address == 0 ? value : value & 0xFF);
        return Deselect();
    }
    Bus& Status(uint8_t value, bool wait = false) { return Read(7, value, wait); }
    // The task file of an LBA command on sectors from 2A10h, then COMMAND.
    Bus& Command(uint8_t opcode, uint8_t count, bool wait = false) {
        return Write(2, count, wait)
            .Write(3, 0x10, wait)
            .Write(4, 0x2A, wait)
            .Write(5, 0, wait)
            .Write(6, 0xE0, wait)
            .Write(7, opcode, wait);
    }
    Bus& PioIn(const std::vector<uint16_t>& words, bool wait = false) {
        for (uint16_t word : words) Read(0, word, wait);
        return *this;
    }
    Bus& PioOut(const std::vector<uint16_t>& words, bool wait = false) {
        for (uint16_t word : words) Write(0, word, wait);
        return *this;
    }

    // --- multiword DMA: pulse 150 ns, 60 ns between pulses ---

    // Card to host; the card negates DMARQ 20 ns after the last fall (tL
    // allows it), or in the sample of that fall.
    Bus& MultiwordIn(const std::vector<uint16_t>& words, Data data, bool dmarqWithLastFall = false) {
        DmaOpen();
        for (size_t i = 0; i < words.size(); ++i) {
            const uint32_t fall = t_;
            const bool last = i + 1 == words.size();
            if (data == Data::Early) Drive(fall - 10, words[i]);
            Set(fall, "0'");
            if (last) Set(fall + (dmarqWithLastFall ? 0 : 20), "0!");
            if (data == Data::Late) Drive(fall + 100, words[i]);
            Set(fall + 150, "1'");
            Release(fall + 160);
            Expect(fall, 4017, words[i]);
            t_ = fall + 210;
        }
        return DmaClose();
    }
    // Host to card, each word driven only 20 ns after DIOW- falls.
    Bus& MultiwordOut(const std::vector<uint16_t>& words) {
        DmaOpen();
        for (size_t i = 0; i < words.size(); ++i) {
            const uint32_t fall = t_;
            Set(fall, "0&");
            if (i + 1 == words.size()) Set(fall + 20, "0!");
            Drive(fall + 20, words[i]);
            Set(fall + 150, "1&");
            Release(fall + 170);
            Expect(fall, 4018, words[i]);
            t_ = fall + 210;
        }
        return DmaClose();
    }

    // --- Ultra DMA, host to card: each step a sample of its own ---

    // DMACK-, then STOP negated while DD still holds `onStop`, then the
    // card's DDMARDY-, then a word at each HSTROBE edge; the host ends the
    // burst with STOP and the CRC word at DMACK- negation.
    Bus& UltraOut(const std::vector<uint16_t>& words, uint16_t onStop) {
        Set(t_, "1!");
        Set(t_ + 20, "0\"");
        Drive(t_ + 20, onStop);
        Set(t_ + 40, "0&");
        Set(t_ + 60, "0(");
        uint32_t edge = t_ + 80;
        uint16_t crc = 0x4ABA;
        for (size_t i = 0; i < words.size(); ++i, edge += 20) {
            Drive(edge - 10, words[i]);
            Set(edge, i % 2 == 0 ? "0'" : "1'");
            Expect(edge, 4032, words[i]);
            for (int bit = 0; bit < 16; ++bit) {
                const bool feedback = (((crc >> 15) ^ (words[i] >> bit)) & 1) != 0;
                crc = static_cast<uint16_t>(crc << 1);
                if (feedback) crc ^= 0x1021;
            }
        }
        const uint32_t last = edge - 20;
        Set(last + 30, "1&");
        Set(last + 50, "1(");
        Set(last + 50, "0!");
        Drive(last + 60, crc);
        Set(last + 80, "1\"");
        Release(last + 100);
        t_ = last + 140;
        return *this;
    }

    // The capture ends 100 ns into a STATUS read whose card drives its
    // value 50 ns after DIOR- falls.
    Bus& EndInsideStatusRead(uint8_t value) {
        const uint32_t fall = Select(7);
        Set(fall, "0'");
        Drive(fall + 50, value);
        Expect(fall, 4011, value);
        heldFall_ = fall;
        t_ = fall + 100;
        return *this;
    }

    std::string Vcd() const {
        std::string text =
            "$date hand-drawn $end\n$version a simulator $end\n$timescale 1ns $end\n"
            "$scope module tb $end\n$scope module bus $end\n"
            "$var wire 1 ! DMARQ $end\n$var wire 1 \" DMACK- $end\n$var wire 1 # CS0- $end\n"
            "$var wire 1 % CS1- $end\n$var wire 3 $ DA [2:0] $end\n$var wire 1 & DIOW- $end\n"
            "$var wire 1 ' DIOR- $end\n$var wire 1 ( IORDY $end\n$var wire 16 ) DD [15:0] $end\n"
            "$upscope $end\n$upscope $end\n$enddefinitions $end\n";
        for (const auto& [time, changes] : changes_) {
            text += fmt::format("#{}\n", time);
            if (time == 0) text += "$dumpvars\n";
            for (const std::string& change : changes) text += change + "\n";
            if (time == 0) text += "$end\n";
        }
        if (changes_.rbegin()->first < end()) text += fmt::format("#{}\n", end());
        return text;
    }
    // The last timestamp: 200 ns after the last change, or inside the
    // read EndInsideStatusRead left open.
    uint32_t end() const { return heldFall_ ? t_ : changes_.rbegin()->first + 200; }
    std::optional<uint32_t> heldFall() const { return heldFall_; }
    const std::vector<Rec>& records() const { return records_; }
    uint64_t undriven() const { return undriven_; }

private:
    void Set(uint32_t time, std::string change) { changes_[time].push_back(std::move(change)); }
    void Drive(uint32_t time, uint16_t value) { Set(time, fmt::format("b{:b} )", value)); }
    void Release(uint32_t time) {
        Set(time, "bz )");
        undriven_ += 16;
    }
    // The command block (CS0-) at `address`; the strobe falls 70 ns later.
    uint32_t Select(int address) {
        Set(t_, "0#");
        Set(t_, fmt::format("b{:03b} $", address));
        return t_ + 70;
    }
    void Strobe(const char* line, uint32_t fall, bool wait) {
        Set(fall, fmt::format("0{}", line));
        if (wait) {
            Set(fall, "0(");
            Set(fall + 300, "1(");
        }
        rise_ = fall + (wait ? 400 : 170);
        Set(rise_, fmt::format("1{}", line));
    }
    Bus& Deselect() {
        Set(rise_ + 20, "1#");
        t_ = rise_ + 60;
        return *this;
    }
    void DmaOpen() {
        Set(t_, "1!");
        Set(t_ + 20, "0\"");
        t_ += 60;
    }
    Bus& DmaClose() {
        Set(t_, "1\"");
        t_ += 60;
        return *this;
    }
    static uint16_t ReadId(int address) {
        static const uint16_t kIds[] = {4002, 4004, 4006, 4007, 4008, 4009, 4010, 4011};
        return kIds[address];
    }
    static uint16_t WriteId(int address) {
        static const uint16_t kIds[] = {4003, 4005, 4006, 4007, 4008, 4009, 4010, 4012};
        return kIds[address];
    }
    // What the plug-in records for a cycle: START before the first one
    // (SELECT CARD/HEAD takes its place), a sector's first Ultra DMA word
    // after its marker.
    void Expect(uint32_t position, uint16_t id, int64_t value) {
        if (id == 4010) {
            startPending_ = false;
            udmaWords_ = 0;
        }
        if (id == 4032 && udmaWords_++ == 0) records_.push_back({position, 3101, 3101});
        if (startPending_) records_.push_back({position, 3306, 0});
        startPending_ = false;
        records_.push_back({position, id, value});
    }

    uint32_t t_ = 100;
    uint32_t rise_ = 0;
    std::map<uint32_t, std::vector<std::string>> changes_;
    std::vector<Rec> records_{{0, 1, 1}};
    bool startPending_ = true;
    int udmaWords_ = 0;
    uint64_t undriven_ = 0;
    std::optional<uint32_t> heldFall_;
};

std::vector<uint16_t> Words(uint32_t seed, size_t count = 256) {
    std::mt19937 random(seed);
    std::vector<uint16_t> words(count);
    for (uint16_t& word : words) word = static_cast<uint16_t>(random());
    return words;
}

std::vector<Rec> CsvRecords(const std::string& csv) {
    std::vector<Rec> records;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::vector<std::string> field;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) field.push_back(cell);
        records.push_back({static_cast<uint32_t>(std::stoul(field.at(0))),
                           static_cast<uint16_t>(std::stoul(field.at(1))), std::stoll(field.at(3))});
    }
    return records;
}

std::string Bytes(const std::vector<uint16_t>& words) {
    std::string bytes;
    for (uint16_t word : words) {
        bytes += static_cast<char>(word & 0xFF);
        bytes += static_cast<char>(word >> 8);
    }
    return bytes;
}

struct Command {
    const char* name;
    const char* dataPath;  // "" when no data moved
    const char* direction;
    std::vector<uint16_t> data;  // the words that crossed the bus
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

struct Case {
    const char* label;
    std::function<void(Bus&)> draw;
    std::vector<Command> commands;  // every one ends ok
};

// The records, stderr, the transactions and the dumped data of one bus.
void Check(const Case& c) {
    Bus bus;
    c.draw(bus);
    TemporaryFile capture(".vcd", bus.Vcd());

    const ProgramResult records = RunCfdecode({capture.path(), "--format", "csv"});
    ASSERT_EQ(records.status, 0) << records.err;
    EXPECT_EQ(CsvRecords(records.out), bus.records());
    std::string err = fmt::format("cfdecode: note: {}: {} z values (undriven lines) keep their last level\n",
                                  capture.path(), bus.undriven());
    if (bus.heldFall()) {
        err += fmt::format(
            "cfdecode: warning: {}: DIOR- is still asserted at the end of the decode window ({}): the data "
            "of the cycle at {} were taken at {}, the window's last sample\n",
            capture.path(), bus.end(), *bus.heldFall(), bus.end() - 1);
    }
    EXPECT_EQ(records.err, err);

    const std::filesystem::path dump = capture.path() + ".dump";
    const ProgramResult view = RunCfdecode(
        {capture.path(), "--view", "transactions", "--format", "json", "--quiet", "--dump", dump.string()});
    ASSERT_EQ(view.status, 0) << view.err;
    EXPECT_EQ(view.err, "");
    std::vector<json> lines;
    std::istringstream jsonLines(view.out);
    for (std::string line; std::getline(jsonLines, line);) lines.push_back(json::parse(line));
    ASSERT_EQ(lines.size(), c.commands.size()) << view.out;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dump)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    size_t file = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const json& t = lines[i];
        const Command& expected = c.commands[i];
        SCOPED_TRACE(t.dump());
        EXPECT_EQ(t["name"], expected.name);
        EXPECT_EQ(t.value("data_path", ""), expected.dataPath);
        EXPECT_EQ(t.value("direction", ""), expected.direction);
        EXPECT_EQ(t["bytes"], 2 * expected.data.size());
        EXPECT_EQ(t["verdict"], "ok");
        EXPECT_FALSE(t.contains("notes"));
        EXPECT_FALSE(t.contains("ignored_words"));
        if (expected.data.empty()) continue;
        ASSERT_LT(file, files.size());
        EXPECT_TRUE(ReadFile(files[file]) == Bytes(expected.data)) << files[file].filename();
        ++file;
    }
    EXPECT_EQ(file, files.size());
    std::filesystem::remove_all(dump);
}

TEST(RealBus, DecodesWhatCrossedTheBus) {
    const std::vector<uint16_t> in = Words(1), out = Words(2);
    const Case cases[] = {
        {"PIO read, the card driving each word late in the pulse",
         [&](Bus& b) {
             b.Command(0x20, 1).Read(7, 0x58, false, Bus::Data::Changing, 0x80).PioIn(in).Status(0x50);
         },
         {{"READ SECTORS", "PIO", "in", in}}},
        {"multiword DMA read, the card driving each word late in the pulse",
         [&](Bus& b) { b.Command(0xC8, 1).MultiwordIn(in, Bus::Data::Late).Status(0x50); },
         {{"READ DMA", "MWDMA", "in", in}}},
        {"PIO write and register cycles with IORDY negated as the strobe falls",
         [&](Bus& b) {
             b.Command(0x30, 1, true).Status(0x58, true).PioOut(out, true).Status(0x50, true);
             b.Command(0xE7, 0, true).Status(0x50, true);
         },
         {{"WRITE SECTORS", "PIO", "out", out}, {"FLUSH CACHE", "", "", {}}}},
        {"multiword DMA write, the host driving each word after DIOW- falls",
         [&](Bus& b) { b.Command(0xCA, 1).MultiwordOut(out).Status(0x50); },
         {{"WRITE DMA", "MWDMA", "out", out}}},
        {"Ultra DMA write, STOP negated before the first HSTROBE edge",
         [&](Bus& b) { b.Command(0xCA, 1).UltraOut(out, 0xBEEF).Status(0x50); },
         {{"WRITE DMA", "UDMA", "out", out}}},
        {"multiword DMA read, DMARQ negated in the sample the last strobe falls",
         [&](Bus& b) { b.Command(0xC8, 1).MultiwordIn(in, Bus::Data::Early, true).Status(0x50); },
         {{"READ DMA", "MWDMA", "in", in}}},
        {"the capture ends inside the completing STATUS read",
         [&](Bus& b) { b.Command(0xE7, 0).Status(0xD0).EndInsideStatusRead(0x50); },
         {{"FLUSH CACHE", "", "", {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Check(c);
    }
}

// The text table says how an Ultra DMA write moved: by Ultra DMA, out.
TEST(RealBus, UltraDmaWriteShowsAsUdmaOut) {
    Bus bus;
    bus.Command(0xCA, 1).UltraOut(Words(3), 0xBEEF).Status(0x50);
    TemporaryFile capture(".vcd", bus.Vcd());
    const ProgramResult result =
        RunCfdecode({capture.path(), "--view", "transactions", "--color", "never", "-q"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("WRITE DMA  UDMA out  LBA 10768      1    512  0x50 DRDY DSC  -      ok"),
              std::string::npos)
        << result.out;
}

}  // namespace
