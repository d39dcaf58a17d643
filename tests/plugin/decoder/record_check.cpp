#include "tests/plugin/decoder/record_check.h"

#include <gtest/gtest.h>

#include <iomanip>

#include "plugin/interface/settings.h"

namespace fd::test {

void PrintTo(const Record& r, std::ostream* out) {
    *out << "{@" << r.position << " id " << r.fieldId << " value 0x" << std::hex << r.value << " colour 0x"
         << r.colour << std::dec << "}";
}

std::vector<Record> ReadRecords(const FdCapture& capture) {
    std::vector<Record> records;
    const FdUInt32List* positions = capture.positionList;
    const FdUInt64List* values = capture.valueList;
    const FdUInt16List* ids = capture.fieldIdList;
    const FdUInt32List* colours = capture.colourList;
    if (positions == nullptr || values == nullptr || ids == nullptr || colours == nullptr) {
        ADD_FAILURE() << "result lists not published";
        return records;
    }
    EXPECT_EQ(values->count, positions->count);
    EXPECT_EQ(ids->count, positions->count);
    EXPECT_EQ(colours->count, positions->count);
    const int32_t count = std::min({positions->count, values->count, ids->count, colours->count});
    for (int32_t i = 0; i < count; ++i) {
        records.push_back(
            {positions->elements[i], values->elements[i], ids->elements[i], colours->elements[i]});
    }
    return records;
}

uint32_t ColourFor(int fieldId, const FdDecoderSettings& s) {
    switch (fieldId) {
        case 1:
            return 0x333333;  // UNKNOW keeps its own colour
        case 4002:
        case 4013:
        case 4017:
            return s.colour[FdColourRead];
        case 4003:
        case 4014:
        case 4018:
            return s.colour[FdColourWrite];
        case 4004:
            return s.colour[FdColourErrorRegister];
        case 4005:
            return s.colour[FdColourFeatures];
        case 4006:
            return s.colour[FdColourSectorCount];
        case 4007:
            return s.colour[FdColourSectorNo];
        case 4008:
            return s.colour[FdColourCylinderLow];
        case 4009:
            return s.colour[FdColourCylinderHigh];
        case 4010:
            return s.colour[FdColourCardHead];
        case 4011:
            return s.colour[FdColourStatus];
        case 4012:
            return s.colour[FdColourCommand];
        case 4015:
            return s.colour[FdColourAddress];
        case 4026:
        case 4032:
            return s.colour[FdColourData];
        default:
            return 0;  // COMPOSE, START and the block markers
    }
}

Record R(uint32_t position, uint64_t value, int fieldId) {
    static const FdDecoderSettings defaults = [] {
        FdDecoderSettings s{};
        SetDefaults(s);
        return s;
    }();
    return {position, value, static_cast<uint16_t>(fieldId), ColourFor(fieldId, defaults)};
}

}  // namespace fd::test
