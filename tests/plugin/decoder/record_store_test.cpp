// The record store and its lists: growth, clamping, clearing, and the
// operations the host may call on a list object (class query, destroy,
// archive transfer round trip).
#include "plugin/decoder/record_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "plugin/decoder/decode_driver.h"
#include "plugin/decoder/decode_state.h"

namespace {

struct GrowthCase {
    int32_t capacity, count, growthStep;
    int64_t required, grown;
};

TEST(GrownCapacity, AnEighthOfTheCountAtLeast4) {
    const GrowthCase cases[] = {
        {0, 0, 0, 1, 4},               // at least 4 more
        {4, 4, 0, 5, 8},               // 4/8 = 0 -> 4
        {40, 40, 0, 41, 45},           // 40/8 = 5
        {8191, 8191, 0, 8192, 9214},   // 8191/8 = 1023
        {9000, 9000, 0, 9001, 10125},  // no cap: appends stay amortised
        {8000000, 8000000, 0, 8000001, 9000000},
        {10, 2, 0, 11, 14},   // the eighth is of the count, added to the capacity
        {0, 0, 0, 100, 100},  // never less than asked for
        {16, 16, 3, 17, 19},  // a positive growth step is added as it stands
        {16, 16, 3, 40, 40},
        {16, 16, -5, 17, 20},  // a negative step counts as automatic
    };
    for (const GrowthCase& c : cases) {
        EXPECT_EQ(fd::GrownCapacity(c.capacity, c.count, c.growthStep, c.required, INT32_MAX), c.grown)
            << c.capacity << "/" << c.count << "/" << c.growthStep << "/" << c.required;
    }
    // Near the top the step is cut, never the requirement.
    EXPECT_EQ(fd::GrownCapacity(INT32_MAX - 2, INT32_MAX - 2, 0, INT32_MAX - 1, INT32_MAX), INT32_MAX);
    EXPECT_EQ(fd::GrownCapacity(100, 100, 0, 101, 103), 103);
}

class Store : public ::testing::Test {
protected:
    void SetUp() override { fd::ResetDecoder(); }
    void TearDown() override { fd::ResetDecoder(); }
    fd::RecordStore& store = fd::Records();
};

TEST_F(Store, StartsEmptyWithItsOperations) {
    for (const FdUInt32List* list : {&store.positions, &store.colours}) {
        EXPECT_EQ(list->elements, nullptr);
        EXPECT_EQ(list->count, 0);
        EXPECT_EQ(list->capacity, 0);
        EXPECT_EQ(list->growthStep, 0);
        ASSERT_NE(list->operations, nullptr);
    }
    // Position and colour lists are distinct classes.
    EXPECT_NE(store.positions.operations, store.colours.operations);
    EXPECT_STREQ(store.values.operations->getRuntimeClass(&store.values)->className, "CObject");
}

TEST_F(Store, AppendClampsToTheWindowEndAndKeepsTheLow16BitsOfTheId) {
    fd::Window() = {0, 1000};
    fd::AppendRecord(999, 1, 0, 4011, 0x11);
    fd::AppendRecord(1000, 2, 0, 4012, 0x22);
    fd::AppendRecord(1001, 3, 0xFFFFFFFF, 70000, 0x33);
    fd::AppendRecord(0xFFFFFFFF, 4, 5, 1, 0x44);
    ASSERT_EQ(store.Count(), 4);
    EXPECT_EQ(std::vector<uint32_t>(store.positions.elements, store.positions.elements + 4),
              (std::vector<uint32_t>{999, 1000, 1000, 1000}));
    EXPECT_EQ(std::vector<uint64_t>(store.values.elements, store.values.elements + 4),
              (std::vector<uint64_t>{1, 2, 0xFFFFFFFF00000003u, 0x0000000500000004u}));
    EXPECT_EQ(std::vector<uint16_t>(store.fieldIds.elements, store.fieldIds.elements + 4),
              (std::vector<uint16_t>{4011, 4012, 70000 & 0xFFFF, 1}));
    EXPECT_EQ(std::vector<uint32_t>(store.colours.elements, store.colours.elements + 4),
              (std::vector<uint32_t>{0x11, 0x22, 0x33, 0x44}));
    // The value list is little-endian 64-bit: low half first.
    uint32_t halves[2];
    std::memcpy(halves, &store.values.elements[2], sizeof halves);
    EXPECT_EQ(halves[0], 3u);
    EXPECT_EQ(halves[1], 0xFFFFFFFFu);
}

TEST_F(Store, GrowsAllFourListsTogetherAndClearReleases) {
    fd::Window() = {0, 0xFFFFFFFF};
    std::vector<int32_t> capacities;
    for (uint32_t i = 0; i < 100; ++i) {
        fd::AppendRecord(i, i, 0, 4002, 0);
        if (capacities.empty() || capacities.back() != store.positions.capacity) {
            capacities.push_back(store.positions.capacity);
        }
        ASSERT_EQ(store.values.capacity, store.positions.capacity);
        ASSERT_EQ(store.fieldIds.capacity, store.positions.capacity);
        ASSERT_EQ(store.colours.capacity, store.positions.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<int32_t>{4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63, 70, 78,
                                                87, 97, 109}));
    for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(store.positions.elements[i], i);

    EXPECT_TRUE(fd::ClearRecords());
    EXPECT_EQ(store.positions.elements, nullptr);
    EXPECT_EQ(store.values.elements, nullptr);
    EXPECT_EQ(store.fieldIds.elements, nullptr);
    EXPECT_EQ(store.colours.elements, nullptr);
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.colours.capacity, 0);
}

// The lists the host holds show nothing after a clear, but the next decode
// writes into the buffers of the last one instead of fresh memory; a list
// too large to keep is released for good.
TEST_F(Store, ClearKeepsTheBuffersAsideForTheNextRecords) {
    fd::Window() = {0, 0xFFFFFFFF};
    fd::ReserveRecords(1000);
    const uint32_t* kept = store.positions.elements;
    for (uint32_t i = 0; i < 10; ++i) fd::AppendRecord(i, i, 0, 4002, 0);
    fd::ClearRecords();
    EXPECT_EQ(store.positions.elements, nullptr);
    EXPECT_EQ(store.values.capacity, 0);

    fd::AppendRecord(7, 7, 0, 4002, 0);
    EXPECT_EQ(store.positions.elements, kept);
    EXPECT_EQ(store.Count(), 1);
    EXPECT_EQ(store.positions.elements[0], 7u);
    for (const int32_t capacity :
         {store.positions.capacity, store.values.capacity, store.fieldIds.capacity, store.colours.capacity})
        EXPECT_EQ(capacity, 1000);

    fd::ReserveRecords(int64_t{fd::RecordStore::kSpareRecords} + 1);
    fd::ClearRecords();
    fd::AppendRecord(1, 1, 0, 4002, 0);
    EXPECT_EQ(store.positions.capacity, 4);
}

TEST_F(Store, DestroyReleasesTheElements) {
    fd::Window() = {0, 100};
    fd::AppendRecord(1, 1, 0, 1, 0);
    store.fieldIds.operations->destroy(&store.fieldIds, 1);
    EXPECT_EQ(store.fieldIds.elements, nullptr);
    EXPECT_EQ(store.fieldIds.count, 0);
    EXPECT_EQ(store.fieldIds.capacity, 0);
}

// ---------------------------------------------------------------------------
// Archive transfer through an in-memory stream.

struct MemoryStream {
    std::vector<uint8_t> bytes;
    size_t readAt = 0;
    size_t writeLimit = SIZE_MAX;

    static size_t FD_CALL Write(void* context, const void* data, size_t size) {
        auto& self = *static_cast<MemoryStream*>(context);
        const size_t n = std::min(size, self.writeLimit - std::min(self.writeLimit, self.bytes.size()));
        const auto* p = static_cast<const uint8_t*>(data);
        self.bytes.insert(self.bytes.end(), p, p + n);
        return n;
    }
    static size_t FD_CALL Read(void* context, void* data, size_t size) {
        auto& self = *static_cast<MemoryStream*>(context);
        const size_t n = std::min(size, self.bytes.size() - self.readAt);
        if (n > 0) std::memcpy(data, self.bytes.data() + self.readAt, n);
        self.readAt += n;
        return n;
    }
    FdArchive Archive(bool storing) { return {static_cast<uint8_t>(storing), this, Write, Read}; }
};

template <typename List>
std::vector<fd::ListElement<List>> Contents(const List& list) {
    return {list.elements, list.elements + list.count};
}

template <typename List>
void Fill(List& list, int32_t count) {
    fd::ReserveList(list, count);
    for (int32_t i = 0; i < count; ++i) {
        fd::AppendReserved(
            list, static_cast<fd::ListElement<List>>(0x9E3779B97F4A7C15u * static_cast<uint64_t>(i + 1)));
    }
}

template <typename List>
class ArchiveRoundTrip : public ::testing::Test {};

using ListTypes = ::testing::Types<FdUInt16List, FdUInt32List, FdUInt64List>;
TYPED_TEST_SUITE(ArchiveRoundTrip, ListTypes);

TYPED_TEST(ArchiveRoundTrip, StoresAndLoadsBothCountEncodings) {
    using List = TypeParam;
    using Class = fd::ListClass<List>;
    const size_t width = sizeof(fd::ListElement<List>);
    for (int32_t count : {0, 1, 3, 0xFFFE, 0xFFFF, 70000}) {
        List source{&Class::kOperations, nullptr, 0, 0, 0};
        Fill(source, count);
        MemoryStream stream;
        FdArchive out = stream.Archive(true);
        ASSERT_TRUE(source.operations->serialize(&source, &out)) << count;

        const size_t header = count < 0xFFFF ? 2 : 6;
        ASSERT_EQ(stream.bytes.size(), header + static_cast<size_t>(count) * width) << count;
        if (count < 0xFFFF) {
            EXPECT_EQ(stream.bytes[0] | stream.bytes[1] << 8, count);
        } else {
            EXPECT_EQ(stream.bytes[0] | stream.bytes[1] << 8, 0xFFFF);
            uint32_t wide = 0;
            std::memcpy(&wide, &stream.bytes[2], 4);
            EXPECT_EQ(wide, static_cast<uint32_t>(count));
        }
        if (count > 0) {
            EXPECT_EQ(std::memcmp(&stream.bytes[header], source.elements, width), 0);
        }

        List target{&Class::kOperations, nullptr, 0, 0, 7};
        Fill(target, 5);  // replaced by the loaded contents
        FdArchive in = stream.Archive(false);
        ASSERT_TRUE(target.operations->serialize(&target, &in)) << count;
        EXPECT_EQ(Contents(target), Contents(source)) << count;
        EXPECT_EQ(target.capacity, count);
        EXPECT_EQ(target.growthStep, 7);
        EXPECT_EQ(target.elements == nullptr, count == 0);
        fd::ReleaseList(source);
        fd::ReleaseList(target);
    }
}

TYPED_TEST(ArchiveRoundTrip, FailedTransfersReportAndKeepTheList) {
    using List = TypeParam;
    using Class = fd::ListClass<List>;
    List source{&Class::kOperations, nullptr, 0, 0, 0};
    Fill(source, 10);
    MemoryStream full;
    FdArchive out = full.Archive(true);
    ASSERT_TRUE(source.operations->serialize(&source, &out));

    // A stream that takes only part of the elements.
    MemoryStream cramped;
    cramped.writeLimit = full.bytes.size() - 1;
    FdArchive crampedOut = cramped.Archive(true);
    EXPECT_FALSE(source.operations->serialize(&source, &crampedOut));

    // Truncated streams, at every length, leave the target as it was.
    for (size_t length = 0; length < full.bytes.size(); ++length) {
        MemoryStream truncated;
        truncated.bytes.assign(full.bytes.begin(), full.bytes.begin() + static_cast<ptrdiff_t>(length));
        List target{&Class::kOperations, nullptr, 0, 0, 0};
        Fill(target, 3);
        const auto before = Contents(target);
        FdArchive in = truncated.Archive(false);
        EXPECT_FALSE(target.operations->serialize(&target, &in)) << length;
        EXPECT_EQ(Contents(target), before) << length;
        fd::ReleaseList(target);
    }

    // A count beyond what a list can hold.
    MemoryStream huge;
    huge.bytes = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    List target{&Class::kOperations, nullptr, 0, 0, 0};
    FdArchive in = huge.Archive(false);
    EXPECT_FALSE(target.operations->serialize(&target, &in));
    EXPECT_EQ(target.elements, nullptr);

    EXPECT_FALSE(source.operations->serialize(&source, nullptr));
    FdArchive noStream{1, nullptr, nullptr, nullptr};
    EXPECT_FALSE(source.operations->serialize(&source, &noStream));
    fd::ReleaseList(source);
}

}  // namespace
