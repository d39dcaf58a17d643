// The growable lists the host reads in place (FdUInt32List, FdUInt64List,
// FdUInt16List): growth, release, and the three virtual operations the host
// may call on a list object (class query, destroy, archive transfer). Used
// by the record store; the archive transfer exists for the host only.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "plugin/interface/host_abi.h"

namespace fd {

// Capacity a list grows to when it must hold `required` elements. With a
// growth step of 0 (or less) the list grows by an eighth of its count, at
// least 4 elements; a positive step is added as it stands.
// Never less than `required`, never more than `maxElements`.
int64_t GrownCapacity(int32_t capacity, int32_t count, int32_t growthStep, int64_t required,
                      int64_t maxElements);

// Element storage comes from malloc and grows with realloc: a list of
// millions of records then grows in place (the system remaps its pages)
// instead of being copied at every growth step. Throws std::bad_alloc,
// leaving `elements` as it was, when memory runs out.
void* ResizeElements(void* elements, size_t bytes);
void FreeElements(void* elements) noexcept;
// Tests only: when set and it answers true, the next ResizeElements fails.
extern bool (*elementAllocationFails)();

// The root object class that every list's class query answers.
const FdRuntimeClass& RootObjectClass();

template <typename List>
using ListElement = std::remove_pointer_t<decltype(List::elements)>;

template <typename List>
inline constexpr int64_t kMaxListElements =
    std::min<int64_t>(std::numeric_limits<int32_t>::max(),
                      static_cast<int64_t>(std::numeric_limits<ptrdiff_t>::max() /
                                           static_cast<ptrdiff_t>(sizeof(ListElement<List>))));

// Frees the element buffer: count and capacity 0, elements null.
template <typename List>
void ReleaseList(List& list) noexcept {
    FreeElements(list.elements);
    list.elements = nullptr;
    list.count = 0;
    list.capacity = 0;
}

// Makes room for `required` elements. Strong guarantee: on failure (throws
// std::bad_alloc) the list is as it was.
template <typename List>
void ReserveList(List& list, int64_t required) {
    using Element = ListElement<List>;
    if (required <= list.capacity) return;
    if (required > kMaxListElements<List>) throw std::bad_alloc();
    const int64_t capacity =
        GrownCapacity(list.capacity, list.count, list.growthStep, required, kMaxListElements<List>);
    list.elements =
        static_cast<Element*>(ResizeElements(list.elements, static_cast<size_t>(capacity) * sizeof(Element)));
    list.capacity = static_cast<int32_t>(capacity);
}

// Appends into room made by ReserveList; cannot fail.
template <typename List>
void AppendReserved(List& list, ListElement<List> value) noexcept {
    list.elements[list.count] = value;
    ++list.count;
}

// ---------------------------------------------------------------------------
// Archive transfer: the count in the class library's count encoding, then the
// elements as raw little-endian bytes.

static_assert(std::endian::native == std::endian::little,
              "list elements are archived as raw little-endian bytes");

namespace archive_detail {

inline bool WriteBytes(FdArchive& archive, const void* data, size_t size) {
    return size == 0 || archive.write(archive.context, data, size) == size;
}

inline bool ReadBytes(FdArchive& archive, void* data, size_t size) {
    return size == 0 || archive.read(archive.context, data, size) == size;
}

inline bool WriteCount(FdArchive& archive, uint32_t count) {
    if (count < 0xFFFF) {
        const uint16_t shortCount = static_cast<uint16_t>(count);
        return WriteBytes(archive, &shortCount, sizeof shortCount);
    }
    const uint16_t escape = 0xFFFF;
    return WriteBytes(archive, &escape, sizeof escape) && WriteBytes(archive, &count, sizeof count);
}

inline bool ReadCount(FdArchive& archive, uint32_t& count) {
    uint16_t shortCount = 0;
    if (!ReadBytes(archive, &shortCount, sizeof shortCount)) return false;
    if (shortCount != 0xFFFF) {
        count = shortCount;
        return true;
    }
    return ReadBytes(archive, &count, sizeof count);
}

}  // namespace archive_detail

template <typename List>
bool StoreList(const List& list, FdArchive& archive) noexcept {
    using namespace archive_detail;
    if (archive.write == nullptr) return false;
    const int32_t count = list.elements == nullptr || list.count < 0 ? 0 : list.count;
    return WriteCount(archive, static_cast<uint32_t>(count)) &&
           WriteBytes(archive, list.elements, static_cast<size_t>(count) * sizeof(ListElement<List>));
}

// Reads into a new buffer first, so a short or failing stream leaves the
// list as it was.
template <typename List>
bool LoadList(List& list, FdArchive& archive) noexcept {
    using namespace archive_detail;
    using Element = ListElement<List>;
    if (archive.read == nullptr) return false;
    uint32_t count = 0;
    if (!ReadCount(archive, count) || count > kMaxListElements<List>) return false;
    Element* loaded = nullptr;
    const size_t bytes = static_cast<size_t>(count) * sizeof(Element);
    if (count > 0) {
        try {
            loaded = static_cast<Element*>(ResizeElements(nullptr, bytes));
        } catch (const std::bad_alloc&) {
            return false;
        }
        std::memset(loaded, 0, bytes);
        if (!ReadBytes(archive, loaded, bytes)) {
            FreeElements(loaded);
            return false;
        }
    }
    FreeElements(list.elements);
    list.elements = loaded;
    list.count = static_cast<int32_t>(count);
    list.capacity = static_cast<int32_t>(count);
    return true;
}

// The operations table of one list class. The position and colour lists are
// distinct classes with the same element type, hence the tag.
template <typename List, int Tag = 0>
struct ListClass {
    static const FdRuntimeClass* FD_CALL GetRuntimeClass(const void*) { return &RootObjectClass(); }

    // The list objects live in the plug-in's own storage, so bit 0 (release
    // the object as well) has nothing more to release; the elements go.
    static void FD_CALL Destroy(void* self, uint32_t) {
        if (self != nullptr) ReleaseList(*static_cast<List*>(self));
    }

    static FdBool FD_CALL Serialize(void* self, FdArchive* archive) {
        if (self == nullptr || archive == nullptr) return 0;
        List& list = *static_cast<List*>(self);
        return archive->storing ? StoreList(list, *archive) : LoadList(list, *archive);
    }

    static constexpr FdListOperations kOperations{GetRuntimeClass, Destroy, Serialize};
};

}  // namespace fd
