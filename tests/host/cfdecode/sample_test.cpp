// The committed sample capture and its golden files: cfdecode's records,
// transactions, timing report and IDENTIFY view of it must match
// tests/host/cfdecode/golden/ byte for byte (the list is its cases.txt;
// scripts/make-golden rewrites them after an intended change), and the
// sample must show what the README promises: an IDENTIFY DEVICE by PIO and
// Ultra DMA both ways.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/host/cfdecode/run_cfdecode.h"

namespace {

const std::string kSample = std::string(FD_SOURCE_DIR) + "/samples/mixed.vcd";
const std::string kGolden = std::string(FD_SOURCE_DIR) + "/tests/host/cfdecode/golden/";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Sample, DecodesToTheGoldenFiles) {
    std::istringstream cases(ReadFile(kGolden + "cases.txt"));
    int compared = 0;
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string file;
        words >> file;
        std::vector<std::string> arguments = {kSample};
        for (std::string word; words >> word;) arguments.push_back(word);
        SCOPED_TRACE(file);
        const auto result = fd::test::RunCfdecode(arguments);
        ASSERT_EQ(result.status, 0) << result.err;
        // A bus whose card and host release DD between cycles gives one line:
        // the note on its z values. Nothing else may need saying.
        static const std::regex kReleasedBus(
            "cfdecode: note: .*: [0-9]+ z values \\(undriven lines\\) keep their last level\n");
        EXPECT_TRUE(result.err.empty() || std::regex_match(result.err, kReleasedBus)) << result.err;
        const std::string golden = ReadFile(kGolden + file);
        ASSERT_FALSE(golden.empty());
        EXPECT_TRUE(result.out == golden)
            << "cfdecode's output differs from tests/host/cfdecode/golden/" << file
            << "; after an intended change run scripts/make-golden and review the diff";
        ++compared;
    }
    EXPECT_GT(compared, 0) << "no cases in " << kGolden << "cases.txt";
}

TEST(Sample, ShowsIdentifyAndUltraDmaBothWays) {
    const auto result = fd::test::RunCfdecode({kSample, "--color", "never"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string& text = result.out;
    EXPECT_NE(text.find("COMMAND           0xEC  IDENTIFY DEVICE\n"), std::string::npos);
    size_t pioReads = 0, dataReads = 0, dataWrites = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        pioReads += line.find("PIO READ") != std::string::npos;
        dataReads += line.find("DATA(R)") != std::string::npos;
        dataWrites += line.find("DATA(W)") != std::string::npos;
    }
    EXPECT_GE(pioReads, 256u);
    EXPECT_GE(dataReads, 256u);
    EXPECT_GE(dataWrites, 256u);
}

}  // namespace
