// Memory running out in the middle of a decode: the four lists keep one
// count, the failure is reported instead of escaping, and a later decode
// works. The allocation that fails is chosen by replacing the global
// operator new of this test program (the core library is linked in
// statically, so its allocations come here too) and, for the record lists,
// which grow with realloc, through the lists' allocation hook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "plugin/decoder/decode_driver.h"
#include "plugin/decoder/record_store.h"
#include "plugin/interface/module_state.h"
#include "plugin/interface/settings.h"
#include "plugin/presentation/field_types.h"
#include "tests/plugin/decoder/bus_fixture.h"
#include "tests/plugin/decoder/record_check.h"

#if defined(__GNUC__) && !defined(__clang__)
// The replacement operator delete below frees what the replacement operator
// new got from malloc; GCC cannot see that pairing through inlined callers.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
// Allocations still allowed before one fails; negative: never fail.
long allocationsLeft = -1;

bool NextAllocationFails() {
    if (allocationsLeft == 0) return true;
    if (allocationsLeft > 0) --allocationsLeft;
    return false;
}
}  // namespace

void* operator new(size_t size) {
    if (NextAllocationFails()) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size) { return ::operator new(size); }
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

using namespace fd::test;

// The lists and the buffers the store keeps aside released, so the next
// decode allocates afresh.
void ForgetLists() {
    fd::ClearRecords();
    fd::Records().ReleaseSpares();
}

class OutOfMemory : public ::testing::Test {
protected:
    void SetUp() override {
        fd::elementAllocationFails = NextAllocationFails;
        fd::ResetDecoder();
        fd::ResetFieldTypeTable();
        fd::SetDefaults(fd::LiveSettings());
        fd::ApplySettingsColors();
    }
    void TearDown() override {
        allocationsLeft = -1;
        fd::elementAllocationFails = nullptr;
        fd::SetCurrentCapture(nullptr);
        fd::ResetDecoder();
    }
};

TEST_F(OutOfMemory, DecodeReportsFailureWithConsistentLists) {
    BusScript bus;
    bus.Write(kCardHead, 0xE0);
    bus.Read(kStatusCommand, 0x50);
    std::vector<uint32_t> words(300);
    for (uint32_t i = 0; i < words.size(); ++i) words[i] = i;
    bus.UltraIn(words);
    fd::host::CaptureImage image = bus.Capture();
    FdCapture& capture = *image.capture();

    ASSERT_TRUE(fd::DecodeAndPublish(capture));
    const std::vector<Record> complete = ReadRecords(capture);
    ASSERT_GT(complete.size(), 300u);

    int failures = 0;
    for (long allowed = 0;; ++allowed) {
        ForgetLists();
        allocationsLeft = allowed;
        const bool finished = fd::DecodeAndPublish(capture);
        allocationsLeft = -1;
        const std::vector<Record> records = ReadRecords(capture);  // checks the four counts
        if (finished) {
            EXPECT_EQ(records, complete);
            break;
        }
        ++failures;
        // What was decoded before memory ran out stands, in order.
        ASSERT_LE(records.size(), complete.size()) << allowed;
        EXPECT_TRUE(std::equal(records.begin(), records.end(), complete.begin())) << allowed;
        ASSERT_LT(allowed, 100000) << "the decode never finished";
    }
    EXPECT_GT(failures, 4);
}

// One list allocation fails and the rest succeed. When it is the room
// reserved ahead of the decode, the decode goes on with lists that grow as
// records come (the decode loop's own appends then keep running out of
// room) and must give the same records.
long listAllocations = 0;
long failingListAllocation = -1;
bool OnlyThatListAllocationFails() { return ++listAllocations == failingListAllocation; }

// A CARD/HEAD write, an Ultra DMA burst of `words` words and a STATUS read,
// `step` samples apart.
fd::host::CaptureImage BurstCapture(uint32_t words, uint32_t step) {
    BusScript bus(100, step);
    bus.Write(kCardHead, 0xE0);
    std::vector<uint32_t> values(words);
    for (uint32_t i = 0; i < words; ++i) values[i] = (i * 2654435761u) >> 16;
    bus.UltraIn(values);
    bus.Read(kStatusCommand, 0x50);
    return bus.Capture();
}

// Decodes once for each list allocation in `failing`, that one failing
// alone: the decode finishes with every record, or reports the failure and
// holds a prefix of them. Returns how many finished after their failure.
int DecodeWithOneListAllocationFailing(FdCapture& capture, const std::vector<Record>& complete,
                                       const std::vector<long>& failing) {
    fd::elementAllocationFails = OnlyThatListAllocationFails;
    int finishedAfterFailure = 0;
    for (const long which : failing) {
        ForgetLists();
        listAllocations = 0;
        failingListAllocation = which;
        const bool finished = fd::DecodeAndPublish(capture);
        const std::vector<Record> records = ReadRecords(capture);
        if (finished) {
            EXPECT_TRUE(records == complete) << which;
            finishedAfterFailure += listAllocations >= which ? 1 : 0;
        } else {
            EXPECT_LE(records.size(), complete.size()) << which;
            EXPECT_TRUE(records.size() <= complete.size() &&
                        std::equal(records.begin(), records.end(), complete.begin()))
                << which;
        }
    }
    return finishedAfterFailure;
}

TEST_F(OutOfMemory, OneFailedListAllocationLosesNoRecords) {
    fd::host::CaptureImage image = BurstCapture(600, 10);
    FdCapture& capture = *image.capture();
    ASSERT_TRUE(fd::DecodeAndPublish(capture));
    const std::vector<Record> complete = ReadRecords(capture);
    EXPECT_GT(DecodeWithOneListAllocationFailing(capture, complete, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
              0);
}

// A long decode: the records are the same whether the reserved room holds,
// a list must move midway, or the next decode writes into the buffers the
// last one left.
TEST_F(OutOfMemory, LongDecodesWithReservedOrReusedLists) {
    fd::host::CaptureImage image = BurstCapture(1'200'000, 2);
    FdCapture& capture = *image.capture();
    ASSERT_TRUE(fd::DecodeAndPublish(capture));
    const std::vector<Record> complete = ReadRecords(capture);
    ASSERT_GT(complete.size(), 1'200'000u);
    ASSERT_TRUE(fd::DecodeAndPublish(capture));
    EXPECT_TRUE(ReadRecords(capture) == complete);
    DecodeWithOneListAllocationFailing(capture, complete, {1, 5, 6});
}

TEST_F(OutOfMemory, LoadingAListKeepsItsContents) {
    using Class = fd::ListClass<FdUInt32List>;
    FdUInt32List list{&Class::kOperations, nullptr, 0, 0, 0};
    fd::ReserveList(list, 2);
    fd::AppendReserved(list, 11);
    fd::AppendReserved(list, 22);
    struct Bytes {
        std::vector<uint8_t> data{3, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
        size_t at = 0;
        static size_t FD_CALL Read(void* context, void* out, size_t size) {
            auto& self = *static_cast<Bytes*>(context);
            const size_t n = std::min(size, self.data.size() - self.at);
            std::memcpy(out, self.data.data() + self.at, n);
            self.at += n;
            return n;
        }
    } bytes;
    FdArchive archive{0, &bytes, nullptr, Bytes::Read};
    allocationsLeft = 0;
    EXPECT_FALSE(list.operations->serialize(&list, &archive));
    allocationsLeft = -1;
    EXPECT_EQ(list.count, 2);
    EXPECT_EQ(list.elements[1], 22u);
    fd::ReleaseList(list);
}

}  // namespace
