#include "plugin/decoder/record_store.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

#include "plugin/decoder/decode_state.h"
#include "plugin/presentation/field_types.h"

namespace fd {

int64_t GrownCapacity(int32_t capacity, int32_t count, int32_t growthStep, int64_t required,
                      int64_t maxElements) {
    int64_t step = growthStep;
    // The host class library caps this step at 1024 elements; a decode of a
    // few million records then copies the lists thousands of times over
    // (minutes instead of a second). Without the cap appends stay amortised
    // constant time; lists below 8192 elements grow exactly as before.
    if (step <= 0) step = std::max<int64_t>(count / 8, 4);
    const int64_t grown = std::max<int64_t>(int64_t{capacity} + step, required);
    return std::min(grown, std::max(required, maxElements));
}

bool (*elementAllocationFails)() = nullptr;

void* ResizeElements(void* elements, size_t bytes) {
    FinishListPrefault();  // the lists may move
    if (elementAllocationFails != nullptr && elementAllocationFails()) throw std::bad_alloc();
    void* resized = std::realloc(elements, bytes == 0 ? 1 : bytes);
    if (resized == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Lists of millions of records: a page fault per 2 MiB instead of per
    // 4 KiB as the decode first writes them. Advice only.
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    const auto first = (reinterpret_cast<uintptr_t>(resized) + kHuge - 1) & ~(kHuge - 1);
    const auto last = (reinterpret_cast<uintptr_t>(resized) + bytes) & ~(kHuge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
    return resized;
}

void FreeElements(void* elements) noexcept { std::free(elements); }

const FdRuntimeClass& RootObjectClass() {
    static constexpr FdRuntimeClass kRoot{"CObject", static_cast<int32_t>(sizeof(void*))};
    return kRoot;
}

void RecordStore::Grow() {
    // Make room in all four lists before touching any count, so a failed
    // allocation leaves the counts equal.
    const int64_t required =
        int64_t{std::max({positions.count, values.count, fieldIds.count, colours.count})} + 1;
    ReserveList(positions, required);
    ReserveList(values, required);
    ReserveList(fieldIds, required);
    ReserveList(colours, required);
}

void RecordRun::Reload() {
    positions_ = store_.positions.elements;
    values_ = store_.values.elements;
    fieldIds_ = store_.fieldIds.elements;
    colours_ = store_.colours.elements;
    count_ = store_.positions.count;
    room_ = std::min({store_.positions.capacity, store_.values.capacity, store_.fieldIds.capacity,
                      store_.colours.capacity});
}

void RecordStore::Clear() noexcept {
    ReleaseList(positions);
    ReleaseList(values);
    ReleaseList(fieldIds);
    ReleaseList(colours);
}

namespace {
constinit RecordStore store{};
}

RecordStore& Records() { return store; }

int AppendRecord(uint32_t position, uint32_t valueLow, uint32_t valueHigh, int fieldId, uint32_t colour) {
    const uint32_t windowEnd = Window().windowEnd;
    store.Append(position > windowEnd ? windowEnd : position, (uint64_t{valueHigh} << 32) | valueLow,
                 static_cast<uint16_t>(fieldId & 0xFFFF), colour);
    return 0;
}

bool ClearRecords() noexcept {
    store.Clear();
    return true;
}

namespace {
struct CachedColour {
    int fieldId = -1;
    uint32_t colour = 0;
};
constinit CachedColour colourCache[64] = {};
}  // namespace

void BeginDecodeColours() noexcept {
    for (CachedColour& entry : colourCache) entry = CachedColour{};
}

void AppendFieldRecord(uint32_t position, int fieldId, uint64_t value) {
    CachedColour& cached = colourCache[static_cast<unsigned>(fieldId) % 64];
    if (cached.fieldId != fieldId) cached = {fieldId, FieldColour(fieldId)};
    AppendRecord(position, static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32), fieldId,
                 cached.colour);
}

namespace {

#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
// Writing memory for the first time costs a page fault per page, and on
// some machines (virtual ones above all) much more than writing the records
// themselves. While a long decode runs on one core, a thread on another
// asks the system to map the reserved lists' pages ahead of it, a stretch
// of records at a time; the decode then finds them mapped. It only maps
// pages and never reads or writes the lists, and it is stopped before the
// lists can move and before the decode returns.
class ListPrefault {
public:
    void Start(const RecordStore& lists) {
        Finish();
        stop_.store(false, std::memory_order_relaxed);
        Range ranges[4] = {RangeOf(lists.positions), RangeOf(lists.values), RangeOf(lists.fieldIds),
                           RangeOf(lists.colours)};
        try {
            thread_ = std::thread([this, ranges] { Run(ranges); });
        } catch (...) {
            // No thread: the decode maps its pages itself.
        }
    }
    void Finish() noexcept {
        if (!thread_.joinable()) return;
        stop_.store(true, std::memory_order_relaxed);
        thread_.join();
    }
    ~ListPrefault() { Finish(); }

private:
    struct Range {
        char* from;
        size_t bytesPerRecord;
        size_t records;
    };
    template <typename List>
    static Range RangeOf(const List& list) {
        using Element = ListElement<List>;
        return {reinterpret_cast<char*>(list.elements + list.count), sizeof(Element),
                static_cast<size_t>(list.capacity - list.count)};
    }
    void Run(const Range (&ranges)[4]) const {
        constexpr size_t kStretch = size_t{1} << 19;  // records
        const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        for (size_t done = 0; done < ranges[0].records; done += kStretch) {
            for (const Range& range : ranges) {
                if (stop_.load(std::memory_order_relaxed)) return;
                const size_t records = std::min(kStretch, range.records - std::min(done, range.records));
                if (records == 0) continue;
                // Whole pages inside the range only: the pages at its ends
                // may hold other data, which a concurrent fault must not race.
                const auto begin =
                    (reinterpret_cast<uintptr_t>(range.from + done * range.bytesPerRecord) + page - 1) &
                    ~(page - 1);
                const auto end =
                    reinterpret_cast<uintptr_t>(range.from + (done + records) * range.bytesPerRecord) &
                    ~(page - 1);
                if (end > begin &&
                    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) != 0)
                    return;
            }
        }
    }

    std::thread thread_;
    std::atomic<bool> stop_{false};
};
#else
class ListPrefault {
public:
    void Start(const RecordStore&) {}
    void Finish() noexcept {}
};
#endif

// Worth a thread from about 20 MB of lists on.
constexpr int64_t kPrefaultFrom = int64_t{1} << 20;
ListPrefault listPrefault;

}  // namespace

void FinishListPrefault() noexcept { listPrefault.Finish(); }

void ReserveRecords(int64_t count) noexcept {
    try {
        const int64_t required = std::min<int64_t>(count, kMaxListElements<FdUInt64List>);
        ReserveList(store.positions, required);
        ReserveList(store.values, required);
        ReserveList(store.fieldIds, required);
        ReserveList(store.colours, required);
        if (required >= kPrefaultFrom) listPrefault.Start(store);
    } catch (const std::bad_alloc&) {
        // The lists grow as records come instead.
    }
}

}  // namespace fd
