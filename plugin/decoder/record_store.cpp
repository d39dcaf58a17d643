#include "plugin/decoder/record_store.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
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

template <typename List>
void RecordStore::KeepAside(List& list, Spare& spare) noexcept {
    if (list.elements != nullptr && list.capacity > spare.capacity && list.capacity <= kSpareRecords) {
        FreeElements(spare.elements);
        spare = {list.elements, list.capacity};
        list.elements = nullptr;
    }
    ReleaseList(list);
}

template <typename List>
void RecordStore::TakeUp(List& list, Spare& spare) noexcept {
    if (list.elements != nullptr || spare.elements == nullptr) return;
    list.elements = static_cast<ListElement<List>*>(spare.elements);
    list.capacity = spare.capacity;
    spare = {};
}

void RecordStore::Reserve(int64_t required) {
    TakeUp(positions, spares_[0]);
    TakeUp(values, spares_[1]);
    TakeUp(fieldIds, spares_[2]);
    TakeUp(colours, spares_[3]);
    // Make room in all four lists before touching any count, so a failed
    // allocation leaves the counts equal.
    ReserveList(positions, required);
    ReserveList(values, required);
    ReserveList(fieldIds, required);
    ReserveList(colours, required);
}

void RecordStore::Grow() {
    Reserve(int64_t{std::max({positions.count, values.count, fieldIds.count, colours.count})} + 1);
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
    KeepAside(positions, spares_[0]);
    KeepAside(values, spares_[1]);
    KeepAside(fieldIds, spares_[2]);
    KeepAside(colours, spares_[3]);
}

void RecordStore::ReleaseSpares() noexcept {
    for (Spare& spare : spares_) {
        FreeElements(spare.elements);
        spare = {};
    }
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

void ReserveRecords(int64_t count) noexcept {
    try {
        store.Reserve(std::min<int64_t>(count, kMaxListElements<FdUInt64List>));
    } catch (const std::bad_alloc&) {
        // The lists grow as records come instead.
    }
}

}  // namespace fd
