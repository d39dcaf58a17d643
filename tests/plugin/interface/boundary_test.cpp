// The host boundary as a host sees it: the library loaded by path, reached
// only through QMLAGetBusModule and the entry table.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "host/model/capture_image.h"
#include "tests/support/fresh_plugin.h"

extern "C" int fd_abi_settings_size_from_c(void);

namespace {

using fd::host::CaptureImage;
using fd::host::ChannelSpec;

class Boundary : public ::testing::Test {
protected:
    fd::test::FreshPlugin plugin;
    const FdEntryTable& t = plugin.table();

    std::vector<uint8_t> SettingsBytes() {
        std::vector<uint8_t> bytes(FD_SETTINGS_SIZE);
        t.CopySettings(bytes.data(), FD_SETTINGS_SIZE);
        return bytes;
    }
};

CaptureImage MakeCapture(int channels, int32_t language = 0) {
    std::vector<ChannelSpec> specs;
    for (int i = 0; i < channels; ++i) specs.push_back({"CH" + std::to_string(i), i, {0}});
    CaptureImage image(std::move(specs), 1000);
    image.SetLanguage(language);
    return image;
}

std::vector<uint8_t> DefaultSettingsBytes() {
    std::vector<uint8_t> bytes;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto put16 = [&](uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    };
    put32(0);
    bytes.insert(bytes.end(), 4, 0);
    put32(0xFFFFFFFF);
    for (uint32_t n = 1; n <= 10; ++n) put32(n);
    for (uint32_t c : {0xFD7D3C, 0x5949E6, 0x9900CC, 0xB77B41, 0x5984F4, 0x9F7FEF, 0x1D72F9, 0x33CC33,
                       0x868686, 0xE54E00, 0xA0489C, 0x89CE8A, 0x2DBE73})
        put32(c);
    bytes.insert(bytes.end(), 20, 0);
    put32(0);
    bytes.insert(bytes.end(), 304, 0);
    for (int i = 0; i < 4; ++i) put16(2);
    return bytes;
}

TEST(Abi, HeaderCompilesAsC) { EXPECT_EQ(fd_abi_settings_size_from_c(), 440); }

TEST_F(Boundary, DescriptorAndTable) {
    const FdModuleDescriptor& d = plugin.descriptor();
    EXPECT_EQ(d.moduleVersion, 10000);
    EXPECT_STREQ(d.title, "QUELMARS LA CF4.1 MODULE V1.00.00");
    EXPECT_STREQ(d.busName, "CF4.1");
    EXPECT_STREQ(d.busKey, "CF4.1v10000");
    EXPECT_EQ(d.reserved4, nullptr);
    EXPECT_EQ(d.reserved5, nullptr);
    EXPECT_EQ(d.reserved6, nullptr);
    EXPECT_STREQ(d.reservedText7, "");
    EXPECT_EQ(d.reservedText7, d.reservedText8);
    EXPECT_EQ(d.getEntryTable(), d.getEntryTable());
    EXPECT_EQ(d.getEntryTable(), &t);

    const void* const* slots = reinterpret_cast<const void* const*>(&t);
    EXPECT_STREQ(static_cast<const char*>(slots[0]), "THIS IS MODULE V1.0");
    EXPECT_EQ(slots[1], nullptr);
    EXPECT_EQ(slots[2], nullptr);
    for (int slot = 3; slot <= 40; ++slot) EXPECT_NE(slots[slot], nullptr) << slot;
    EXPECT_EQ(slots[41], nullptr);
    for (auto [a, b] : {std::pair{10, 12}, {11, 13}, {26, 30}, {28, 29}, {34, 35}}) {
        EXPECT_EQ(slots[a], slots[b]) << a << "/" << b;
    }
}

TEST_F(Boundary, DefaultSettingsBytes) {
    EXPECT_EQ(SettingsBytes(), DefaultSettingsBytes());
    int32_t size = 0;
    FdDecoderSettings* live = t.GetSettings(&size);
    EXPECT_EQ(size, 440);
    EXPECT_EQ(live->colour[0], 0xFD7D3Cu);
    EXPECT_EQ(t.GetSettings13(nullptr), live);  // a null size pointer is skipped
}

TEST_F(Boundary, CopySettingsOnlyWithExactSize) {
    for (int32_t size : {0, 439, 441, -440}) {
        std::vector<uint8_t> out(500, 0xAB);
        t.CopySettings(out.data(), size);
        EXPECT_EQ(out, std::vector<uint8_t>(500, 0xAB)) << size;
    }
    t.CopySettings(nullptr, 440);  // refused, no crash
}

TEST_F(Boundary, ResetSettingsNeedsHostValueA) {
    FdDecoderSettings* live = t.GetSettings(nullptr);
    std::vector<uint8_t> image(440, 0x5A);
    std::memcpy(live, image.data(), 440);
    EXPECT_FALSE(t.ResetSettings());
    EXPECT_EQ(SettingsBytes(), image);

    EXPECT_TRUE(t.SetHostInfo(0, 77));
    EXPECT_FALSE(t.ResetSettings());
    EXPECT_TRUE(t.SetHostInfo(1, 0xFFFF));
    EXPECT_TRUE(t.ResetSettings());

    // Named fields return to their defaults; reserved areas keep the bytes.
    std::vector<uint8_t> expected = DefaultSettingsBytes();
    for (auto [from, to] : {std::pair{5, 8}, {104, 124}, {128, 432}}) {
        for (int i = from; i < to; ++i) expected[static_cast<size_t>(i)] = 0x5A;
    }
    EXPECT_EQ(SettingsBytes(), expected);
}

struct FieldTypeRow {
    int32_t index, id;
    uint32_t colour;
    const char* name;
    int32_t width;
};

TEST_F(Boundary, FieldTypesBeforeAndAfterSetCapture) {
    auto read = [&](int32_t index) {
        FieldTypeRow row{index, 0, 0, nullptr, 0};
        static char name[260];
        t.GetFieldType(index, &row.id, &row.colour, name, &row.width);
        row.name = name;
        return row;
    };
    EXPECT_EQ(t.GetFieldTypeCount(), 23);
    EXPECT_EQ(t.GetSignalCount(), 26);
    const FieldTypeRow before[] = {
        {0, 1, 0x333333, "UNKNOW", 0},       {9, 4010, 0xD8E9EC, "SELECT CARD/HEAD", 8},
        {17, 4019, 0xFD7D3C, "READ", 8},     {21, 4031, 0x2DBE73, "CARD/HEAD", 8},
        {22, 4032, 0x33CC33, "DATA(W)", 16}, {23, 3036, 0x333333, "COMPOSE", 0},
        {24, 4019, 0x333333, "READ", 0},     {25, 4020, 0x333333, "WRITE", 0},
        {26, 3306, 0x333333, "START", 0},
    };
    for (const FieldTypeRow& e : before) {
        FieldTypeRow r = read(e.index);
        EXPECT_EQ(r.id, e.id) << e.index;
        EXPECT_EQ(r.colour, e.colour) << e.index;
        EXPECT_STREQ(r.name, e.name) << e.index;
        EXPECT_EQ(r.width, e.width) << e.index;
    }

    // Pure red for READ: entries 1, 12, 15 and 17 follow; 24 keeps its grey.
    t.GetSettings(nullptr)->colour[FdColourRead] = 0x0000FF;
    CaptureImage capture = MakeCapture(26);
    EXPECT_EQ(t.SetCapture(12345, capture.capture()), 0);
    EXPECT_EQ(read(9).colour, 0x2DBE73u);
    for (int32_t index : {1, 12, 15, 17}) EXPECT_EQ(read(index).colour, 0x0000FFu) << index;
    EXPECT_EQ(read(24).colour, 0x333333u);
    EXPECT_EQ(read(0).colour, 0x333333u);
}

// Every settings colour paints exactly the field types of its group, read
// back as the host reads them: a colour of its own per group, so an entry
// left out of its group, or painted by another, shows.
TEST_F(Boundary, EverySettingsColourReachesExactlyItsFieldTypes) {
    const struct {
        FdColourIndex colour;
        std::vector<int32_t> ids;
    } groups[] = {
        {FdColourRead, {4002, 4013, 4017, 4019}},
        {FdColourWrite, {4003, 4014, 4018, 4020}},
        {FdColourErrorRegister, {4004}},
        {FdColourFeatures, {4005}},
        {FdColourStatus, {4011}},
        {FdColourCommand, {4012}},
        {FdColourAddress, {4015, 4025}},
        {FdColourData, {4026, 4032}},
        {FdColourSectorCount, {4006}},
        {FdColourSectorNo, {4007}},
        {FdColourCylinderLow, {4008}},
        {FdColourCylinderHigh, {4009}},
        {FdColourCardHead, {4010, 4031}},
    };
    std::map<int32_t, uint32_t> expected;  // field id -> the colour it must show
    for (const auto& group : groups) {
        const uint32_t colour = 0x100000u + static_cast<uint32_t>(group.colour);
        t.GetSettings(nullptr)->colour[group.colour] = colour;
        for (int32_t id : group.ids) expected[id] = colour;
    }
    CaptureImage capture = MakeCapture(26);
    ASSERT_EQ(t.SetCapture(0, capture.capture()), 0);
    for (int32_t index = 0; index < 27; ++index) {
        int32_t id = 0;
        uint32_t colour = 0;
        t.GetFieldType(index, &id, &colour, nullptr, nullptr);
        // The host enumerates 23 entries; the four beyond keep their grey.
        const auto painted = index < t.GetFieldTypeCount() ? expected.find(id) : expected.end();
        EXPECT_EQ(colour, painted != expected.end() ? painted->second : 0x333333u)
            << "entry " << index << ", id " << id;
    }
}

TEST_F(Boundary, FieldTypeOutsideTableLeavesOutputs) {
    for (int32_t index : {-1, 27, 1000}) {
        int32_t id = -7, width = -7;
        uint32_t colour = 7;
        char name[8] = "keep";
        t.GetFieldType(index, &id, &colour, name, &width);
        EXPECT_EQ(id, -7);
        EXPECT_EQ(colour, 7u);
        EXPECT_STREQ(name, "keep");
        EXPECT_EQ(width, -7);
    }
    t.GetFieldType(3, nullptr, nullptr, nullptr, nullptr);  // null outputs skipped
}

TEST_F(Boundary, EntriesThatReadTheCaptureRefuseBeforeSetCapture) {
    EXPECT_FALSE(t.Decode());
    t.ShowSettingsDialog();  // nothing happens
    EXPECT_TRUE(t.ClearResults());
}

TEST_F(Boundary, DecodeWithTooFewChannelsStillPublishes) {
    CaptureImage capture = MakeCapture(25);
    t.SetCapture(0, capture.capture());
    EXPECT_TRUE(t.Decode());
    FdCapture* c = capture.capture();
    EXPECT_NE(c->positionList, nullptr);
    EXPECT_NE(c->valueList, nullptr);
    EXPECT_NE(c->fieldIdList, nullptr);
    EXPECT_NE(c->colourList, nullptr);
#if !defined(_WIN32)
    // On Windows the refusal is a modal message box; settings_dialog_test
    // drives it.
    t.ShowSettingsDialog();  // refuses: fewer than 26 channels
#endif
}

TEST_F(Boundary, ConstantsAndIdentity) {
    EXPECT_FALSE(t.constantFalse25());
    EXPECT_EQ(t.constantTwo26(), 2);
    EXPECT_EQ(t.constantFive27(), 5);
    EXPECT_EQ(t.constantOne28(), 1);
    EXPECT_EQ(t.constant31(), 0x7FFF0010);
    EXPECT_EQ(t.constantZero33(), 0);
    EXPECT_TRUE(t.constantTrue34());
    EXPECT_EQ(t.identity37(-123456), -123456);
    t.reserved9();
    t.reserved16(5);
    t.reserved17();
    const char* id = t.GetModuleIdentifier();
    EXPECT_EQ(id, t.GetModuleIdentifier());
    ASSERT_EQ(std::strlen(id), 12u);
    for (int i = 0; i < 12; ++i) {
        const char ch = id[i];
        if (i < 2)
            EXPECT_TRUE(ch >= 'A' && ch <= 'Z') << id;
        else
            EXPECT_TRUE((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F')) << id;
    }
}

struct IdQueryRow {
    int32_t id;
    bool shown, delimiter, unknown;
    int32_t dataField;
    const char* name;  // null: the buffer is left alone
    int64_t colour;    // -1: the output is left alone
};

TEST_F(Boundary, PerIdQueries) {
    const IdQueryRow rows[] = {
        {1, false, false, true, 0, nullptr, -1},
        {3036, false, true, false, 0, nullptr, -1},
        {3100, false, false, false, 0, nullptr, -1},
        {3101, false, false, false, 0, nullptr, -1},
        {3306, false, true, false, 0, nullptr, -1},
        {4002, true, false, false, 0, "PIO READ", 0xFD7D3C},
        {4010, true, true, false, 0, "SELECT CARD/HEAD", 0x2DBE73},
        {4015, true, false, false, 0, "DRIVE ADDRESS", 0x1D72F9},
        {4016, true, false, false, 0, nullptr, -1},
        {4020, true, false, false, 0, "WRITE", 0x5949E6},
        {4026, true, false, false, 1, "DATA(R)", 0x33CC33},
        {4031, true, false, false, 0, "CARDHEAD", 0x2DBE73},
        {4032, true, false, false, 1, "DATA(W)", 0x33CC33},
        {5000, true, false, false, 0, nullptr, -1},
        // High bits ignored by the 16-bit queries, not by IsDataField.
        {0x10000 + 4026, true, false, false, 0, "DATA(R)", 0x33CC33},
    };
    for (const IdQueryRow& r : rows) {
        SCOPED_TRACE(r.id);
        EXPECT_EQ(t.IsPacketItemShown(r.id), r.shown);
        EXPECT_EQ(t.IsDelimiterField(r.id), r.delimiter);
        EXPECT_EQ(t.IsUnknownField(r.id), r.unknown);
        EXPECT_EQ(t.IsDataField(r.id), r.dataField);
        char name[32] = "untouched";
        EXPECT_TRUE(t.GetFieldName(r.id, name));
        EXPECT_STREQ(name, r.name ? r.name : "untouched");
        int32_t colour = -5;
        EXPECT_TRUE(t.GetPacketItemColour(r.id, &colour));
        EXPECT_EQ(colour, r.colour < 0 ? -5 : r.colour);
    }
    EXPECT_TRUE(t.IsWriteItemShown());
    EXPECT_TRUE(t.GetFieldName(4002, nullptr));
    EXPECT_TRUE(t.GetPacketItemColour(4002, nullptr));
}

TEST_F(Boundary, PacketDefinition) {
    int32_t a[2] = {}, b[5] = {}, c[1] = {}, d[1] = {}, e[2] = {};
    FdPacketDefinition def{};
    def.blockDelimiters.first = a;
    def.addressFields.first = b;
    def.readBlockMarker.first = c;
    def.writeBlockMarker.first = d;
    def.dataFields.first = e;
    EXPECT_EQ(t.FillPacketDefinition(&def), &def);
    EXPECT_EQ(std::vector<int32_t>(a, a + 2), (std::vector<int32_t>{4010, 3036}));
    EXPECT_EQ(std::vector<int32_t>(b, b + 5), (std::vector<int32_t>{4010, 4009, 4008, 4007, 3036}));
    EXPECT_EQ(c[0], 3100);
    EXPECT_EQ(d[0], 3101);
    EXPECT_EQ(std::vector<int32_t>(e, e + 2), (std::vector<int32_t>{4026, 4032}));
    EXPECT_EQ(def.itemCount, 43);
    EXPECT_EQ(t.FillPacketDefinition(nullptr), nullptr);
}

TEST_F(Boundary, RadixSlotsWithDefaults) {
    FdRadixCounters counters{};
    counters.count[2] = 5;
    counters.customRadixDisplay = 9;
    EXPECT_EQ(t.CountRadixFields(&counters), &counters);
    EXPECT_EQ(counters.customRadixDisplay, 0);
    EXPECT_EQ(counters.count[2], 5);

    FdRadixLists lists{};
    EXPECT_EQ(t.FillRadixLists(&lists), &lists);
    const std::vector<int16_t> expected = {4015, 4002, 4003, 4004, 4005, 4006, 4007, 4008,
                                           4009, 4010, 4011, 4012, 4013, 4014, 4015, 4017,
                                           4018, 4019, 4020, 4025, 4031, 4026, 4032};
    EXPECT_EQ(std::vector<int16_t>(lists.list[2].first, lists.list[2].last), expected);
    for (int radix : {0, 1, 3}) EXPECT_EQ(lists.list[radix].first, lists.list[radix].last);
    for (auto& list : lists.list) std::free(list.first);
}

TEST_F(Boundary, RadixSlotsWithCustomDisplay) {
    FdDecoderSettings* live = t.GetSettings(nullptr);
    live->customRadixDisplay = 1;
    live->taskFileRadix = FdRadixBinary;
    live->dataRadix = FdRadixAscii;
    FdRadixCounters counters{};
    t.CountRadixFields(&counters);
    t.CountRadixFields(&counters);  // the plug-in never clears: sums double
    EXPECT_EQ(counters.customRadixDisplay, 1);
    EXPECT_EQ(counters.count[0], 42);
    EXPECT_EQ(counters.count[1], 0);
    EXPECT_EQ(counters.count[2], 0);
    EXPECT_EQ(counters.count[3], 4);

    live->dataRadix = 7;  // outside 0..3: filed nowhere
    t.CountRadixFields(&counters);
    EXPECT_EQ(counters.count[0], 63);
    EXPECT_EQ(counters.count[3], 4);
}

}  // namespace
