// How cfdecode writes records: values in each radix, colours, the text
// table's filtering and colouring, CSV and JSON lines.
#include "host/cfdecode/record_output.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

using fd::host::DecodedRecord;
using fd::host::FieldPresentation;
using fd::host::FormatValue;
using fd::host::OutputFormat;
using fd::host::OutputOptions;

TEST(FormatValue, ShowsEachRadixAtTheFieldsWidth) {
    const struct {
        int64_t value;
        uint16_t id;
        int radix;
        int width;
        const char* expected;
    } cases[] = {
        {0x41, 4011, FdRadixHexadecimal, 8, "0x41"},
        {0x5, 4011, FdRadixBinary, 8, "00000101"},
        {200, 4011, FdRadixDecimal, 8, "200"},
        {0x41, 4011, FdRadixAscii, 8, "'A'"},
        {0x1FF, 4011, FdRadixHexadecimal, 8, "0xFF"},  // a register shows its byte
        {0x4241, 4026, FdRadixAscii, 16, "'AB'"},      // D0-D7 first
        {0x0A41, 4026, FdRadixAscii, 16, "'A.'"},
        {0xBEEF, 4032, FdRadixHexadecimal, 16, "0xBEEF"},
        {0x8001, 4032, FdRadixBinary, 16, "1000000000000001"},
        {65535, 4032, FdRadixDecimal, 16, "65535"},
        {0xBEEF, 4032, 7, 16, "0xBEEF"},  // a radix out of range shows hexadecimal
        {static_cast<int64_t>(0xFFFFFFFFE0000100ull), 3036, FdRadixHexadecimal, 0, "0xE0000100"},
        {3100, 3100, FdRadixHexadecimal, 0, ""},  // markers carry no value worth showing
        {1, 1, FdRadixHexadecimal, 0, ""},
    };
    for (const auto& c : cases) {
        FieldPresentation field;
        field.radix = c.radix;
        field.width = c.width;
        EXPECT_EQ(FormatValue(c.value, c.id, field), c.expected) << c.value << " radix " << c.radix;
    }
}

TEST(ColourHex, TurnsTheStoredOrderAround) {
    EXPECT_EQ(fd::host::ColourHex(0xFD7D3C), "#3C7DFD");
    EXPECT_EQ(fd::host::ColourHex(0x0000FF), "#FF0000");
    EXPECT_EQ(fd::host::ColourHex(0), "#000000");
}

std::string Written(const std::vector<DecodedRecord>& records,
                    const std::map<uint16_t, FieldPresentation>& fields, const OutputOptions& options) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(fd::host::WriteRecords(file, records, fields, options));
    std::rewind(file);
    std::string text;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
    std::fclose(file);
    return text;
}

class RecordOutput : public testing::Test {
protected:
    std::vector<DecodedRecord> records = {
        {0, 1, 1, 0x333333},
        {150, 0x76, 4012, 0x9F7FEF},
        {150, 0, 3306, 0},
        {1234567, -2, 4026, 0x33CC33},
    };
    std::map<uint16_t, FieldPresentation> fields = {
        {1, {"UNKNOW", false, FdRadixHexadecimal, 0}},
        {3306, {"START", false, FdRadixHexadecimal, 0}},
        {4012, {"COMMAND", true, FdRadixHexadecimal, 8}},
        {4026, {"DATA(R)", true, FdRadixDecimal, 16}},
    };
};

TEST_F(RecordOutput, TextLeavesOutHiddenKindsUnlessAll) {
    OutputOptions options;
    EXPECT_EQ(Written(records, fields, options),
              "position  kind              value\n"
              "     150  COMMAND           0x76  SEEK\n"
              " 1234567  DATA(R)           65534\n");
    options.all = true;
    EXPECT_EQ(Written(records, fields, options),
              "position  kind              value\n"
              "       0  UNKNOW\n"
              "     150  COMMAND           0x76  SEEK\n"
              "     150  START\n"
              " 1234567  DATA(R)           65534\n");
}

TEST_F(RecordOutput, TextPaintsEachRecordInItsColourButNotBlack) {
    OutputOptions options;
    options.colour = true;
    options.all = true;
    const std::string text = Written(records, fields, options);
    EXPECT_NE(text.find("\x1b[38;2;51;51;51m       0  UNKNOW\x1b[0m\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\x1b[38;2;239;127;159m     150  COMMAND           0x76  SEEK\x1b[0m\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n     150  START\n"), std::string::npos) << text;
}

TEST_F(RecordOutput, CsvAndJsonListEveryRecord) {
    OutputOptions options;
    options.format = OutputFormat::Csv;
    EXPECT_EQ(Written(records, fields, options),
              "position,field_id,name,value,colour\n"
              "0,1,UNKNOW,1,#333333\n"
              "150,4012,COMMAND,118,#EF7F9F\n"
              "150,3306,START,0,#000000\n"
              "1234567,4026,DATA(R),-2,#33CC33\n");
    options.format = OutputFormat::Json;
    EXPECT_EQ(Written({records[3]}, fields, options),
              "{\"position\":1234567,\"field_id\":4026,\"name\":\"DATA(R)\",\"value\":-2,\"colour\":\"#"
              "33CC33\"}\n");
}

// Long outputs are made in blocks on two threads: every line, in order,
// with the colour each block starts on, across block ends of every kind.
TEST_F(RecordOutput, LongCsvKeepsEveryLineInOrder) {
    std::vector<DecodedRecord> many;
    std::string expected = "position,field_id,name,value,colour\n";
    for (uint32_t i = 0; i < 700'000; ++i) {
        const DecodedRecord& pattern = records[i % 7 % records.size()];
        const uint32_t colour = (i / 3) % 5 == 0 ? 0x00FF0000u + i % 3 : pattern.colour;
        many.push_back({i * 3, static_cast<int64_t>(i) - 5, pattern.fieldId, colour});
        expected += fmt::format("{},{},{},{},{}\n", i * 3, pattern.fieldId, fields.at(pattern.fieldId).name,
                                static_cast<int64_t>(i) - 5, fd::host::ColourHex(colour));
    }
    OutputOptions options;
    options.format = OutputFormat::Csv;
    EXPECT_TRUE(Written(many, fields, options) == expected);
}

TEST(RecordOutputNames, AreQuotedWhereCsvNeedsIt) {
    const std::map<uint16_t, FieldPresentation> fields = {{9, {"A, \"B\"", true, FdRadixHexadecimal, 8}}};
    OutputOptions options;
    options.format = OutputFormat::Csv;
    EXPECT_EQ(Written({{5, 1, 9, 0}}, fields, options),
              "position,field_id,name,value,colour\n5,9,\"A, \"\"B\"\"\",1,#000000\n");
    options.format = OutputFormat::Json;
    EXPECT_EQ(
        Written({{5, 1, 9, 0}}, fields, options),
        "{\"position\":5,\"field_id\":9,\"name\":\"A, \\\"B\\\"\",\"value\":1,\"colour\":\"#000000\"}\n");
}

}  // namespace
