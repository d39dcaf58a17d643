// The decoded record store: four parallel lists (position, value, field id,
// colour) that the host reads in place after Decode. The decoders fill it
// through AppendRecord; Decode and ClearResults empty it with ClearRecords.
#pragma once

#include <cstdint>

#include "plugin/decoder/growable_list.h"
#include "plugin/interface/host_abi.h"

namespace fd {

struct RecordStore {
    using PositionClass = ListClass<FdUInt32List, 0>;
    using ValueClass = ListClass<FdUInt64List>;
    using FieldIdClass = ListClass<FdUInt16List>;
    using ColourClass = ListClass<FdUInt32List, 1>;

    FdUInt32List positions{&PositionClass::kOperations, nullptr, 0, 0, 0};
    FdUInt64List values{&ValueClass::kOperations, nullptr, 0, 0, 0};
    FdUInt16List fieldIds{&FieldIdClass::kOperations, nullptr, 0, 0, 0};
    FdUInt32List colours{&ColourClass::kOperations, nullptr, 0, 0, 0};

    constexpr RecordStore() = default;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;
    ~RecordStore() {
        Clear();
        ReleaseSpares();
    }

    int32_t Count() const { return positions.count; }

    // Appends one record to all four lists or, when memory runs out
    // (std::bad_alloc), to none of them.
    void Append(uint32_t position, uint64_t value, uint16_t fieldId, uint32_t colour) {
        if (positions.count >= positions.capacity || values.count >= values.capacity ||
            fieldIds.count >= fieldIds.capacity || colours.count >= colours.capacity)
            Grow();
        AppendReserved(positions, position);
        AppendReserved(values, value);
        AppendReserved(fieldIds, fieldId);
        AppendReserved(colours, colour);
    }

    // Count and capacity 0, element buffers released: the lists the host
    // holds are empty. The buffers of a list of up to kSpareRecords are
    // kept aside, out of the host's reach, and taken up again by the next
    // growth, so a host that decodes window after window writes into memory
    // already mapped instead of fresh pages.
    void Clear() noexcept;
    void ReleaseSpares() noexcept;
    // Room for `required` records in all four lists, the buffers kept aside
    // taken up first. Throws std::bad_alloc, with the lists as they were
    // (but for the buffers taken up), when memory runs out.
    void Reserve(int64_t required);

    static constexpr int32_t kSpareRecords = int32_t{1} << 20;  // 18 MiB kept at most

private:
    struct Spare {
        void* elements = nullptr;
        int32_t capacity = 0;
    };
    template <typename List>
    static void KeepAside(List& list, Spare& spare) noexcept;
    template <typename List>
    static void TakeUp(List& list, Spare& spare) noexcept;

    void Grow();

    Spare spares_[4] = {};
};

// The decode loop's appends of its most common record: the element
// pointers and the count kept in registers, one room check per record. The
// store's counts lag behind until Flush; call it before anything else
// appends (and Reload after), and at the end.
class RecordRun {
public:
    explicit RecordRun(RecordStore& store) : store_(store) { Reload(); }

    // Records that fit before a list must grow.
    int32_t Room() const { return room_ - count_; }
    // Needs Room() > 0.
    void Append(uint32_t position, uint64_t value, uint16_t fieldId, uint32_t colour) {
        positions_[count_] = position;
        values_[count_] = value;
        fieldIds_[count_] = fieldId;
        colours_[count_] = colour;
        ++count_;
    }
    void Flush() const {
        store_.positions.count = count_;
        store_.values.count = count_;
        store_.fieldIds.count = count_;
        store_.colours.count = count_;
    }
    void Reload();

private:
    RecordStore& store_;
    uint32_t* positions_ = nullptr;
    uint64_t* values_ = nullptr;
    uint16_t* fieldIds_ = nullptr;
    uint32_t* colours_ = nullptr;
    int32_t count_ = 0;
    int32_t room_ = 0;  // the least capacity of the four lists
};

// The module's store, whose lists the host is handed.
RecordStore& Records();

// Appends a record to the module's store, its position clamped to
// `windowEnd`. Throws std::bad_alloc, with the store unchanged, when memory
// runs out. The result is always 0.
int AppendRecord(uint32_t position, uint32_t valueLow, uint32_t valueHigh, int fieldId, uint32_t colour);

bool ClearRecords() noexcept;

// AppendRecord with the colour the field-type table gives `fieldId`; the
// 64-bit value is split into its low and high halves. The colours are
// looked up once per decode: BeginDecodeColours forgets what was looked up
// (the table may have changed since the last decode).
void AppendFieldRecord(uint32_t position, int fieldId, uint64_t value);
void BeginDecodeColours() noexcept;

// Room for about `count` records before the decode starts, so the lists
// do not grow (and move) step by step; pages never written stay unused.
// Without the memory the lists grow as they go.
void ReserveRecords(int64_t count) noexcept;

}  // namespace fd
