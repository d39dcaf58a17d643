// cfsim --format: the same scenario written as VCD, sigrok session and CSV
// reads back as the same signals, the format follows the file's extension
// unless named, and a session cannot go to standard output. cfsim's CSV
// rewritten in the dialects exporters write, and sigrok-cli's CSV forms of
// its session, decode to the VCD's records.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "host/formats/capture_reader.h"
#include "host/formats/csv_capture.h"
#include "host/formats/sigrok_session.h"
#include "tests/host/cfdecode/run_cfdecode.h"
#include "tests/support/dsview_export.h"
#include "tests/support/saleae_export.h"

namespace {

using namespace fd::host;
using fd::test::TemporaryFile;

struct CfsimRun {
    int status = -1;
    std::string out, err;
};

CfsimRun Cfsim(const std::string& arguments) {
    TemporaryFile errors(".err");
    CfsimRun run;
    std::FILE* pipe =
        popen((std::string(FD_CFSIM_PATH) + " " + arguments + " 2>" + errors.path()).c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = errors.Read();
    return run;
}

// Positions in sample numbers, whatever the file counts in.
void ExpectSameSignals(const Waveform& samples, const Waveform& other, uint32_t scale,
                       const std::string& label) {
    ASSERT_EQ(other.signals.size(), samples.signals.size()) << label;
    for (size_t i = 0; i < samples.signals.size(); ++i) {
        EXPECT_EQ(other.signals[i].name, samples.signals[i].name) << label;
        EXPECT_EQ(other.signals[i].initialLevel, samples.signals[i].initialLevel) << label << " " << i;
        std::vector<uint32_t> scaled;
        for (uint32_t change : samples.signals[i].changes) scaled.push_back(change * scale);
        EXPECT_EQ(other.signals[i].changes, scaled) << label << " " << samples.signals[i].name;
    }
}

TEST(CfsimFormat, EveryFormatHoldsTheSameCapture) {
    // The ideal bus always drives the data lines; on the realistic one a VCD
    // shows undriven lines as z where the samples keep the last level.
    const std::string scenario = "pio-read --sectors 1 --seed 4 --sample-period 5 --ideal-timing";
    TemporaryFile vcd(".vcd"), sr(".sr"), csv(".csv"), named(".dat");
    ASSERT_EQ(Cfsim(scenario + " -o " + vcd.path()).status, 0);
    ASSERT_EQ(Cfsim(scenario + " -o " + sr.path()).status, 0);
    ASSERT_EQ(Cfsim(scenario + " -o " + csv.path()).status, 0);
    ASSERT_EQ(Cfsim(scenario + " --format sr -o " + named.path()).status, 0);
    const CfsimRun toStdout = Cfsim(scenario + " --format csv");
    ASSERT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, csv.Read());

    SigrokReadNotes notes;
    const Waveform session = ReadSigrokSession(sr.path(), &notes);
    EXPECT_EQ(notes.samplerate, 200000000u);  // from --sample-period
    EXPECT_GT(session.signals[0].changes.size() + session.signals[7].changes.size(), 10u);
    ExpectSameSignals(session, ReadCsvCapture(csv.path()), 1, "csv");
    ExpectSameSignals(session, ReadSigrokSession(named.path()), 1, "--format sr");
    ExpectSameSignals(session, ReadCapture(vcd.path()), 5, "vcd");  // the VCD counts ns
    EXPECT_EQ(ReadCsvCapture(csv.path()).endPosition, session.endPosition);
}

// cfsim's per-change CSV: the header's names and each row's sample number
// and levels.
struct CsvRows {
    std::vector<std::string> names;
    std::vector<std::pair<uint64_t, std::vector<char>>> rows;
};

CsvRows ParseCfsimCsv(const std::string& text) {
    CsvRows parsed;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    std::istringstream header(line);
    std::string field;
    std::getline(header, field, ',');  // "sample"
    while (std::getline(header, field, ',')) parsed.names.push_back(field);
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::getline(row, field, ',');
        std::vector<char> levels;
        const uint64_t position = std::stoull(field);
        while (std::getline(row, field, ',')) levels.push_back(field[0]);
        parsed.rows.emplace_back(position, levels);
    }
    return parsed;
}

std::string Seconds(uint64_t ns, char point) {  // "0.000001234" with the given decimal point
    std::string fraction = std::to_string(ns % 1000000000);
    fraction.insert(0, 9 - fraction.size(), '0');
    return std::to_string(ns / 1000000000) + point + fraction;
}

// The reference: cfdecode's records of the VCD, at 1 ns per sample so that
// every file counts the same positions.
class CsvDialects : public ::testing::Test {
protected:
    static constexpr const char* kScenario = "pio-read --sectors 1 --seed 4 --sample-period 1 --ideal-timing";
    TemporaryFile vcd{".vcd"}, csv{".csv"}, sr{".sr"};
    std::string reference;
    CsvRows capture;

    void SetUp() override {
        ASSERT_EQ(Cfsim(std::string(kScenario) + " -o " + vcd.path()).status, 0);
        ASSERT_EQ(Cfsim(std::string(kScenario) + " -o " + csv.path()).status, 0);
        ASSERT_EQ(Cfsim(std::string(kScenario) + " -o " + sr.path()).status, 0);
        const fd::test::ProgramResult run = fd::test::RunCfdecode({"--quiet", "--format", "csv", vcd.path()});
        ASSERT_EQ(run.status, 0) << run.err;
        reference = run.out;
        capture = ParseCfsimCsv(csv.Read());
        ASSERT_GT(capture.rows.size(), 100u);
        ASSERT_EQ(capture.names.size(), 26u);
        ASSERT_EQ(capture.names[10], "D0");
    }

    void ExpectVcdRecords(const std::string& label, const std::string& path,
                          std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--quiet", "--format", "csv", path});
        const fd::test::ProgramResult run = fd::test::RunCfdecode(arguments);
        EXPECT_EQ(run.status, 0) << label << ": " << run.err;
        EXPECT_TRUE(run.out == reference) << label << ": the records differ from the VCD's";
    }
};

TEST_F(CsvDialects, DecodeToTheVcdsRecords) {
    const auto& names = capture.names;
    const auto& rows = capture.rows;
    const auto join = [](const std::vector<std::string>& fields, const std::string& delimiter) {
        std::string line;
        for (size_t i = 0; i < fields.size(); ++i) line += (i ? delimiter : "") + fields[i];
        return line + "\n";
    };
    // Writes a header and a row per change: the position field, then what
    // levels() makes of the row's levels.
    const auto write = [&](const std::string& top, const std::string& delimiter,
                           const std::function<std::string(uint64_t, size_t)>& position,
                           const std::function<std::vector<std::string>(size_t)>& levels) {
        std::string text = top;
        for (size_t r = 0; r < rows.size(); ++r) {
            std::vector<std::string> fields = {position(rows[r].first, r)};
            for (std::string& f : levels(r)) fields.push_back(std::move(f));
            text += join(fields, delimiter);
        }
        return text;
    };
    const auto bits = [&](size_t r) {
        std::vector<std::string> fields;
        for (char c : rows[r].second) fields.emplace_back(1, c);
        return fields;
    };
    const auto word = [&](size_t r, size_t from, size_t count) {
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i)
            value |= static_cast<uint64_t>(rows[r].second[from + i] == '1') << i;
        char text[24];
        std::snprintf(text, sizeof text, "%0*llX", static_cast<int>((count + 3) / 4),
                      static_cast<unsigned long long>(value));
        return std::string(text);
    };
    std::vector<std::string> names16(names.begin(), names.begin() + 10);
    names16.push_back("D[15:0]");
    const auto controlsAndWord = [&](size_t r) {
        std::vector<std::string> fields;
        for (size_t i = 0; i < 10; ++i) fields.emplace_back(1, rows[r].second[i]);
        fields.push_back(word(r, 10, 16));
        return fields;
    };
    std::string packedColumns;
    for (size_t i = 0; i < 10; ++i) packedColumns += names[i] + "=2:" + std::to_string(i) + ",";
    packedColumns += "D=2:25..10";
    const std::string channels = [&] {
        std::string list;
        for (const std::string& n : names) list += (list.empty() ? " " : ", ") + n;
        return list;
    }();
    const std::vector<std::string> logicLabels(names.size(), "logic");
    char iso[64];

    const struct {
        const char* label;
        std::string text;
        std::vector<std::string> arguments;
    } dialects[] = {
        {"tab",
         write(
             "sample\t" + join(names, "\t"), "\t", [](uint64_t p, size_t) { return std::to_string(p); },
             bits),
         {}},
        {"semicolon, seconds with a decimal comma",
         write(
             "Time [s];" + join(names, ";"), ";", [](uint64_t p, size_t) { return Seconds(p, ','); }, bits),
         {"--samplerate", "1G"}},
        {"sigrok, nanoseconds from one period",
         write(
             "; CSV generated by libsigrok 0.6.0\n; from Demo on Fri Dec 11 2026\n; Channels (26/26):" +
                 channels + "\n; Samplerate: 1 GHz\nnanoseconds," + join(logicLabels, ","),
             ",", [](uint64_t p, size_t) { return std::to_string(p + 1); }, bits),
         {}},
        {"DSView",
         write(
             "; CSV, generated by DSView v1.3.1 on Fri Dec 11 2026\n; Channels (26/26)\n; Sample rate: 1 "
             "GHz\n"
             "; Sample count: 1 M\nTime(s)," +
                 join(names, ","),
             ",",
             [](uint64_t p, size_t) {
                 char text[32];
                 std::snprintf(text, sizeof text, "%0.15g", static_cast<double>(p) / 1e9);
                 return std::string(text);
             },
             bits),
         {}},
        {"ISO 8601",
         write(
             "Time," + join(names, ","), ",",
             [&iso](uint64_t p, size_t) {
                 std::snprintf(iso, sizeof iso, "2024-03-01T12:00:%02llu.%09lluZ",
                               static_cast<unsigned long long>(p / 1000000000),
                               static_cast<unsigned long long>(p % 1000000000));
                 return std::string(iso);
             },
             bits),
         {"--samplerate", "1G"}},
        {"negative times",
         write(
             "Time [s]," + join(names, ","), ",",
             [](uint64_t p, size_t) { return std::to_string(static_cast<int64_t>(p) - 5000) + "e-9"; }, bits),
         {"--samplerate", "1GHz"}},
        {"rows per change, no rate: a repeated row at 1 ns sets the step",
         write(
             "Time [s]," + join(names, ",") + "0.000000000," + join(bits(0), ","), ",",
             [](uint64_t p, size_t r) { return Seconds(r == 0 ? 1 : p, '.'); }, bits),
         {}},
        {"a radix row and a hex bus",
         write(
             "Sample in Buffer,Sample in Window,TRIGGER," + join(names16, ",") +
                 "Radix - "
                 "UNSIGNED,UNSIGNED,UNSIGNED,BINARY,BINARY,BINARY,BINARY,BINARY,BINARY,BINARY,BINARY,BINARY,"
                 "BINARY,HEX\n",
             ",", [](uint64_t p, size_t r) { return std::to_string(p) + "," + std::to_string(r) + ",0"; },
             controlsAndWord),
         {}},
        {"one packed word",
         write(
             "Time [s],Value\n", ",", [](uint64_t p, size_t) { return Seconds(p, '.'); },
             [&](size_t r) { return std::vector<std::string>{"0x" + word(r, 0, 26)}; }),
         {"--samplerate", "1G", "--csv-columns", packedColumns}},
        {"no data where nothing changes",
         write(
             "sample," + join(names, ","), ",", [](uint64_t p, size_t) { return std::to_string(p); },
             [&](size_t r) {
                 std::vector<std::string> fields = bits(r);
                 for (size_t i = 0; r > 0 && i < fields.size(); ++i)
                     if (rows[r].second[i] == rows[r - 1].second[i]) fields[i] = i >= 10 ? "X" : "";
                 return fields;
             }),
         {}},
    };
    for (const auto& d : dialects) {
        TemporaryFile file(".csv", d.text);
        ExpectVcdRecords(d.label, file.path(), d.arguments);
    }

    // What the reader filled in is said on stderr, and is no failure.
    TemporaryFile gaps(".csv", dialects[std::size(dialects) - 1].text);
    const fd::test::ProgramResult run = fd::test::RunCfdecode({"--format", "csv", gaps.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("cfdecode: note: " + gaps.path() + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("had no data (X, Z or empty"), std::string::npos) << run.err;
}

// sigrok-cli's CSV of cfsim's session: its time column counts ticks of its
// period from one period on, in the unit its header names; rows without a
// time column, a tab or semicolon between values, or only the changed rows.
TEST_F(CsvDialects, SigrokCliFormsDecodeToTheVcdsRecords) {
    if (std::system("command -v sigrok-cli >/dev/null 2>&1") != 0) {
        const char* require = std::getenv("FD_REQUIRE_PEERS");
        if (require != nullptr && std::string(require) == "1")
            FAIL() << "sigrok-cli is not installed (scripts/install-deps installs it)";
        GTEST_SKIP() << "sigrok-cli is not installed";
    }
    for (const char* form : {"csv:time=true", "csv:time=true:label=channel:value=;", "csv:value=\t",
                             "csv:time=true:dedup=true"}) {
        TemporaryFile out(".csv");
        const std::string command =
            "sigrok-cli -i '" + sr.path() + "' -o '" + out.path() + "' -O '" + form + "' 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        ExpectVcdRecords(form, out.path(), {});
    }
}

// The same bus as another analyzer's software saves it: Logic 2's binary
// export (a file per channel, names lost, so the roles are mapped) in both
// versions, and a DSView session (probe names kept).
TEST_F(CsvDialects, AnalyzerExportsDecodeToTheVcdsRecords) {
    const Waveform bus = ReadCapture(vcd.path());
    ASSERT_EQ(bus.signals.size(), 26u);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("fd-exports-" + std::to_string(std::random_device{}()));
    // The roles in the plug-in's binding order, which cfsim writes its lines in.
    std::vector<std::string> map;
    const char* controls[] = {"DMARQ", "DMACK", "CS1", "CS0", "A0", "A1", "A2", "IORD", "IOWR", "IORDY"};
    for (size_t i = 0; i < 26; ++i)
        map.push_back((i < 10 ? std::string(controls[i]) : "D" + std::to_string(i - 10)) + "=digital_" +
                      std::to_string(i));
    std::string maps;
    for (const std::string& m : map) maps += (maps.empty() ? "" : ",") + m;
    for (int version : {0, 1}) {
        const std::filesystem::path folder = dir / ("v" + std::to_string(version));
        std::filesystem::create_directories(folder);
        for (size_t i = 0; i < bus.signals.size(); ++i)
            std::ofstream(folder / ("digital_" + std::to_string(i) + ".bin"), std::ios::binary)
                << fd::test::SaleaeChannelOf(bus.signals[i], bus.endPosition, 1e9, version,
                                             bus.endPosition / 2);
        const std::string label = "Saleae binary v" + std::to_string(version);
        // Version 0 gives no rate: 1 GHz puts the times back on the VCD's nanoseconds.
        std::vector<std::string> rate =
            version == 0 ? std::vector<std::string>{"--samplerate", "1GHz"} : std::vector<std::string>{};
        std::vector<std::string> arguments = rate;
        arguments.insert(arguments.end(), {"--map", maps});
        ExpectVcdRecords(label + ", the folder", folder.string(), arguments);
        ExpectVcdRecords(label + ", one file", (folder / "digital_7.bin").string(), arguments);
        // Names that mean nothing: refused, pointing to --map.
        const fd::test::ProgramResult unmapped = fd::test::RunCfdecode({"--format", "csv", folder.string()});
        EXPECT_EQ(unmapped.status, 2) << label;
        EXPECT_NE(unmapped.err.find("--map"), std::string::npos) << label << ": " << unmapped.err;
        EXPECT_NE(unmapped.err.find("digital_7"), std::string::npos) << label << ": " << unmapped.err;
    }
    // Without a rate, version 0 is counted in the step its times share, and says so.
    const fd::test::ProgramResult guessed =
        fd::test::RunCfdecode({"--format", "csv", "--map", maps, (dir / "v0").string()});
    EXPECT_EQ(guessed.status, 0) << guessed.err;
    EXPECT_NE(guessed.err.find("no sample rate in the files (version 0): took "), std::string::npos)
        << guessed.err;
    std::filesystem::remove_all(dir);

    TemporaryFile dsl(".dsl");
    { std::ofstream(dsl.path(), std::ios::binary) << fd::test::DslOf(bus, "1 GHz", 4096); }
    ExpectVcdRecords("DSView session", dsl.path(), {});
}

TEST(CfsimFormat, ASessionCannotGoToStandardOutput) {
    const CfsimRun run = Cfsim("pio-read --format sr");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot go to standard output; name a file with -o"), std::string::npos)
        << run.err;
    EXPECT_NE(Cfsim("pio-read --format bin").status, 0);
}

}  // namespace
