// Captures from a generator of our own (not the synthesizer): random PIO
// register cycles, Ultra DMA bursts both ways, multiword DMA cycles and
// strobe collisions, written as VCD in several naming styles. cfdecode's CSV
// must list exactly the records the plug-in gives when it is handed the same
// levels directly, and its stderr say no more than where both strobes
// changed together.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <array>
#include <map>
#include <random>

#include "host/model/capture_image.h"
#include "tests/host/cfdecode/run_cfdecode.h"
#include "tests/support/fresh_plugin.h"

namespace {

using fd::test::RunCfdecode;
using fd::test::TemporaryFile;

enum Role { kDmarq, kDmack, kCs1, kCs0, kA0, kA1, kA2, kIord, kIowr, kIordy, kD0 };
constexpr int kRoles = 26;

// The bus as a list of level changes per role.
class BusGenerator {
public:
    explicit BusGenerator(uint32_t seed) : random_(seed) {
        level_ = {0, 1, 1, 1, 0, 0, 0, 1, 1, 1};
        for (int bit = 0; bit < 16; ++bit)
            level_[static_cast<size_t>(kD0 + bit)] = static_cast<uint8_t>(Next() & 1);
        initial_ = level_;
        time_ = 5 + Next() % 50;
    }

    void Generate(int operations) {
        for (int i = 0; i < operations; ++i) {
            switch (Next() % 7) {
                case 0:
                case 1:
                case 2:
                    Register(Next() % 2 == 0);
                    break;
                case 3:
                    UltraDma(true, 1 + Next() % 300);
                    break;
                case 4:
                    UltraDma(false, 1 + Next() % 300);
                    break;
                case 5:
                    MultiwordDma(Next() % 2 == 0, 1 + Next() % 6);
                    break;
                default:
                    Collision();
                    break;
            }
            time_ += 1 + Next() % 20;
        }
        end_ = time_ + 10;
    }

    const std::array<uint8_t, kRoles>& initial() const { return initial_; }
    const std::array<std::vector<uint32_t>, kRoles>& changes() const { return changes_; }
    uint32_t end() const { return end_; }
    // Where both strobes change at once outside DMA.
    const std::vector<uint32_t>& collisions() const { return collisions_; }

private:
    void Set(int role, int level) {
        auto& current = level_[static_cast<size_t>(role)];
        if (current == level) return;
        current = static_cast<uint8_t>(level);
        auto& list = changes_[static_cast<size_t>(role)];
        if (!list.empty() && list.back() == time_) {
            list.pop_back();
        } else {
            list.push_back(time_);
        }
    }
    void Data(uint32_t word) {
        for (int bit = 0; bit < 16; ++bit) Set(kD0 + bit, static_cast<int>((word >> bit) & 1));
    }
    void Step(uint32_t at_least = 1) { time_ += at_least + Next() % 3; }

    void Register(bool write) {
        const int code = 48 + static_cast<int>(Next() % 8);  // CS0 asserted, A2..A0
        const bool control = Next() % 6 == 0;                // the CS1 block instead
        Set(kCs0, control ? 1 : 0);
        Set(kCs1, control ? 0 : 1);
        Set(kA0, (control ? 6 + static_cast<int>(Next() % 2) : code) & 1);
        Set(kA1, ((control ? 6 : code) >> 1) & 1);
        Set(kA2, ((control ? 6 : code) >> 2) & 1);
        Data(Next() & 0xFFFF);
        Step(2);
        Set(write ? kIowr : kIord, 0);
        Step(3);
        if (Next() % 4 == 0) Data(Next() & 0xFFFF);  // data moving while the strobe is low
        Set(write ? kIowr : kIord, 1);
        Step(2);
        Set(kCs0, 1);
        Set(kCs1, 1);
    }

    // Ultra DMA: DMARQ, DMACK-, STOP (IOWR) low; the sender toggles its
    // strobe (IORDY card to host, IORD host to card), a word per edge.
    void UltraDma(bool toHost, uint32_t words) {
        Set(kDmarq, 1);
        Step();
        Set(kDmack, 0);
        Step();
        Set(kIowr, 0);
        Set(toHost ? kIord : kIordy, 0);  // the receiver's ready
        Step();
        const int strobe = toHost ? kIordy : kIord;
        for (uint32_t word = 0; word < words; ++word) {
            Data(Next() & 0xFFFF);
            Step();
            Set(strobe, level_[static_cast<size_t>(strobe)] ^ 1);
            Step();
        }
        Set(strobe, 1);
        Step();
        Set(toHost ? kIord : kIordy, 1);
        Set(kIowr, 1);
        Step();
        Set(kDmack, 1);
        Set(kDmarq, 0);
    }

    void MultiwordDma(bool write, uint32_t words) {
        Set(kDmarq, 1);
        Step();
        Set(kDmack, 0);
        for (uint32_t word = 0; word < words; ++word) {
            Data(Next() & 0xFFFF);
            Step();
            Set(write ? kIowr : kIord, 0);
            Step(2);
            Set(write ? kIowr : kIord, 1);
            Step();
        }
        Set(kDmack, 1);
        Set(kDmarq, 0);
    }

    // Two strobes changing at one sample: the plug-in skips such a position.
    void Collision() {
        Set(kCs0, 0);
        Step();
        Set(kIord, 0);
        Set(kIowr, 0);
        collisions_.push_back(time_);
        Step();
        Set(kIord, 1);
        Set(kIowr, 1);
        collisions_.push_back(time_);
        Set(kCs0, 1);
    }

    uint32_t Next() { return static_cast<uint32_t>(random_()); }

    std::mt19937 random_;
    std::array<uint8_t, kRoles> level_{};
    std::array<uint8_t, kRoles> initial_{};
    std::array<std::vector<uint32_t>, kRoles> changes_;
    std::vector<uint32_t> collisions_;
    uint32_t time_ = 0;
    uint32_t end_ = 0;
};

// Naming styles of the writers we meet.
enum class Style { AtaScalars, CfNamesDataVector, LowercaseShuffled };

std::string RoleSignalName(int role, Style style) {
    static const char* kAta[] = {"DMARQ", "DMACK-", "CS1-",  "CS0-",  "DA0",
                                 "DA1",   "DA2",    "DIOR-", "DIOW-", "IORDY"};
    static const char* kCf[] = {"DMARQ", "-DMACK", "-CE2",  "-CE1",  "A0",
                                "A1",    "A2",     "-IORD", "-IOWR", "IORDY"};
    static const char* kLower[] = {"dmarq", "dmack_n", "cs1_n",  "cs0_n",  "a0",
                                   "a1",    "a2",      "iord_n", "iowr_n", "iordy"};
    if (role < kD0)
        return (style == Style::AtaScalars ? kAta : style == Style::CfNamesDataVector ? kCf : kLower)[role];
    return (style == Style::LowercaseShuffled ? "dd" : "DD") + std::to_string(role - kD0);
}

std::string Code(size_t index) {
    std::string code;
    do {
        code += static_cast<char>('!' + index % 94);
        index /= 94;
    } while (index != 0);
    return code;
}

// Our own VCD writer: a header in the chosen style, $dumpvars, then the
// changes of every signal merged by time.
std::string WriteVcd(const BusGenerator& bus, Style style, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<int> order;
    for (int role = 0; role < kRoles; ++role)
        if (style != Style::CfNamesDataVector || role < kD0) order.push_back(role);
    if (style == Style::LowercaseShuffled) std::shuffle(order.begin(), order.end(), random);

    std::string text =
        "$date generated $end\n$version independent test writer $end\n$timescale 1 ns $end\n"
        "$scope module capture $end\n";
    std::map<int, std::string> codes;
    for (size_t i = 0; i < order.size(); ++i) {
        codes[order[i]] = Code(i);
        text += fmt::format("$var wire 1 {} {} $end\n", Code(i), RoleSignalName(order[i], style));
    }
    const std::string dataCode = Code(order.size());
    const std::string intrqCode = Code(order.size() + 1);
    if (style == Style::CfNamesDataVector) text += fmt::format("$var wire 16 {} D [15:0] $end\n", dataCode);
    text += fmt::format("$var wire 1 {} INTRQ $end\n$upscope $end\n$enddefinitions $end\n", intrqCode);

    std::array<uint8_t, kRoles> levels = bus.initial();
    auto dataValue = [&] {
        std::string bits;
        for (int bit = 15; bit >= 0; --bit)
            bits += static_cast<char>('0' + levels[static_cast<size_t>(kD0 + bit)]);
        return bits;
    };
    text += "#0\n$dumpvars\n";
    for (int role : order) text += fmt::format("{}{}\n", levels[static_cast<size_t>(role)], codes[role]);
    if (style == Style::CfNamesDataVector) text += fmt::format("b{} {}\n", dataValue(), dataCode);
    text += fmt::format("0{}\n$end\n", intrqCode);

    std::map<uint32_t, std::vector<int>> byTime;
    for (int role = 0; role < kRoles; ++role)
        for (uint32_t at : bus.changes()[static_cast<size_t>(role)]) byTime[at].push_back(role);
    for (const auto& [at, roles] : byTime) {
        text += fmt::format("#{}\n", at);
        bool dataChanged = false;
        for (int role : roles) {
            levels[static_cast<size_t>(role)] ^= 1;
            if (style == Style::CfNamesDataVector && role >= kD0) {
                dataChanged = true;
            } else {
                text += fmt::format("{}{}\n", levels[static_cast<size_t>(role)], codes[role]);
            }
        }
        if (dataChanged) text += fmt::format("b{} {}\n", dataValue(), dataCode);
        if (at % 97 == 0) text += fmt::format("1{}\n", intrqCode);
    }
    text += fmt::format("#{}\n", bus.end());
    return text;
}

std::string Hex(uint32_t colour) {
    return fmt::format("#{:02X}{:02X}{:02X}", colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

struct Window {
    bool hasRange = false;
    uint32_t rangeStart = 0, rangeEnd = 0;
};

// What a host reading the plug-in's lists for these levels prints as CSV.
std::string ExpectedCsv(const BusGenerator& bus, const Window& window) {
    std::vector<fd::host::ChannelSpec> specs;
    for (int role = 0; role < kRoles; ++role) {
        fd::host::Signal signal{"", bus.initial()[static_cast<size_t>(role)],
                                bus.changes()[static_cast<size_t>(role)]};
        specs.push_back({RoleSignalName(role, Style::AtaScalars), role, fd::host::ToTransitionList(signal)});
    }
    fd::host::CaptureImage image(std::move(specs), bus.end());
    if (window.hasRange) image.SetRange(window.rangeStart, window.rangeEnd);

    fd::test::FreshPlugin plugin;
    const FdEntryTable& table = plugin.table();
    table.SetCapture(0, image.capture());
    table.Decode();
    const FdCapture& capture = *image.capture();
    std::string csv = "position,field_id,name,value,colour\n";
    if (capture.positionList == nullptr) return csv;
    for (int32_t i = 0; i < capture.positionList->count; ++i) {
        const uint16_t id = capture.fieldIdList->elements[i];
        char name[260] = {};
        table.GetFieldName(id, name);
        std::string text = name;
        if (text.empty()) {
            static const std::map<uint16_t, std::string> kUnnamed = {{1, "UNKNOW"},
                                                                     {3036, "COMPOSE"},
                                                                     {3306, "START"},
                                                                     {3100, "READ BLOCK"},
                                                                     {3101, "WRITE BLOCK"}};
            text = kUnnamed.at(id);
        }
        csv += fmt::format("{},{},{},{},{}\n", capture.positionList->elements[i], id, text,
                           static_cast<int64_t>(capture.valueList->elements[i]),
                           Hex(capture.colourList->elements[i]));
    }
    return csv;
}

// The one line cfdecode gives for the positions the plug-in skips because
// both strobes change there: how many lie inside the window, and the first.
std::string CollisionWarning(const std::string& path, const std::vector<uint32_t>& collisions, Style style,
                             const Window& window) {
    std::vector<uint32_t> inside;
    for (uint32_t at : collisions)
        if (!window.hasRange || (at > window.rangeStart && at < window.rangeEnd)) inside.push_back(at);
    if (inside.empty()) return "";
    return fmt::format(
        "cfdecode: warning: {}: {} position{} where {} and {} change together outside DMA {} not "
        "decoded (the first at {})\n",
        path, inside.size(), inside.size() == 1 ? "" : "s", RoleSignalName(kIord, style),
        RoleSignalName(kIowr, style), inside.size() == 1 ? "was" : "were", inside.front());
}

TEST(IndependentCaptures, CfdecodeListsExactlyThePluginsRecords) {
    const Style styles[] = {Style::AtaScalars, Style::CfNamesDataVector, Style::LowercaseShuffled};
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        BusGenerator bus(seed);
        bus.Generate(60);
        const Style style = styles[seed % 3];
        TemporaryFile capture(".vcd", WriteVcd(bus, style, seed));

        const auto result = RunCfdecode({capture.path(), "--format", "csv"});
        ASSERT_EQ(result.status, 0) << "seed " << seed << ": " << result.err;
        EXPECT_EQ(result.err, CollisionWarning(capture.path(), bus.collisions(), style, {}))
            << "seed " << seed;
        const std::string expected = ExpectedCsv(bus, {});
        EXPECT_EQ(result.out, expected) << "seed " << seed;

        // The same through a range that cuts a burst in two.
        const Window window{true, bus.end() / 3, bus.end() / 2};
        const auto ranged = RunCfdecode({capture.path(), "--format", "csv", "--range",
                                         fmt::format("{}:{}", window.rangeStart, window.rangeEnd)});
        ASSERT_EQ(ranged.status, 0) << ranged.err;
        EXPECT_EQ(ranged.out, ExpectedCsv(bus, window)) << "seed " << seed;
        EXPECT_NE(ranged.err.find(CollisionWarning(capture.path(), bus.collisions(), style, window)),
                  std::string::npos)
            << "seed " << seed << ": " << ranged.err;
    }
}

TEST(IndependentCaptures, JsonCarriesTheSameRecords) {
    BusGenerator bus(11);
    bus.Generate(30);
    TemporaryFile capture(".vcd", WriteVcd(bus, Style::AtaScalars, 11));
    const auto csv = RunCfdecode({capture.path(), "--format", "csv"});
    const auto json = RunCfdecode({capture.path(), "--format", "json"});
    ASSERT_EQ(json.status, 0) << json.err;
    // Line for line: the JSON object holds the CSV line's five fields (and a
    // register's detail).
    std::vector<std::string> csvLines, jsonLines;
    for (size_t at = 0, next; (next = csv.out.find('\n', at)) != std::string::npos; at = next + 1)
        csvLines.push_back(csv.out.substr(at, next - at));
    for (size_t at = 0, next; (next = json.out.find('\n', at)) != std::string::npos; at = next + 1)
        jsonLines.push_back(json.out.substr(at, next - at));
    ASSERT_EQ(csvLines.size(), jsonLines.size() + 1);
    for (size_t i = 0; i < jsonLines.size(); ++i) {
        std::vector<std::string> field;
        std::string rest = csvLines[i + 1];
        for (size_t comma; (comma = rest.find(',')) != std::string::npos; rest = rest.substr(comma + 1))
            field.push_back(rest.substr(0, comma));
        field.push_back(rest);
        ASSERT_EQ(field.size(), 5u);
        // Register kinds also say what their value means.
        std::string line = jsonLines[i];
        const size_t detail = line.find(R"(,"detail":")");
        const bool registerKind = field[1] == "4004" || field[1] == "4010" || field[1] == "4011" ||
                                  field[1] == "4012" || field[1] == "4013" || field[1] == "4014";
        if (detail != std::string::npos) {
            EXPECT_TRUE(registerKind) << line;
            line.erase(detail, line.size() - 1 - detail);
        }
        EXPECT_EQ(line, fmt::format(R"({{"position":{},"field_id":{},"name":"{}","value":{},"colour":"{}"}})",
                                    field[0], field[1], field[2], field[3], field[4]));
    }
}

}  // namespace
