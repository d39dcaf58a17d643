#include "host/formats/sigrok_session.h"

#include <zip.h>

#if defined(FD_HAVE_LIBDEFLATE)
#include <libdeflate.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if !defined(_WIN32)
#include <sys/mman.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "host/formats/format_error.h"
#include "host/formats/mapped_file.h"
#include "host/formats/session_archive.h"
#include "host/model/two_jobs.h"

namespace fd::host {
namespace {

constexpr size_t kWriteChunk = 4 << 20;     // bytes per logic chunk, as sigrok writes them
constexpr size_t kMetadataLimit = 1 << 20;  // a metadata member is a few hundred bytes

// Reads a small member whole; false when the archive has no such member.
bool ReadSmallMember(zip_t* zip, const std::string& path, const char* name, std::string& out) {
    zip_stat_t stat;
    if (zip_stat(zip, name, 0, &stat) != 0) return false;
    if (stat.size > kMetadataLimit)
        throw CaptureFormatError(path, std::string("member ") + name, "is too large");
    ZipFilePtr file(zip_fopen(zip, name, 0));
    if (!file) throw CaptureFormatError(path, std::string("member ") + name, "cannot be opened");
    out.resize(stat.size);
    const zip_int64_t got = zip_fread(file.get(), out.data(), stat.size);
    if (got < 0 || static_cast<zip_uint64_t>(got) != stat.size)
        throw CaptureFormatError(path, std::string("member ") + name, "is corrupt or cut short");
    return true;
}

bool ParseCount(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return end != nullptr && *end == '\0';
}

}  // namespace

namespace {

// An archive handle per thread: libzip handles are not shared between
// threads. Returns null when the archive cannot be opened again.
using Reopen = std::function<ZipPtr()>;

Waveform ReadSession(ZipPtr zip, const Reopen& reopen, const std::string& path, SigrokReadNotes* notes);

}  // namespace

Waveform ReadSigrokSession(const std::string& path, SigrokReadNotes* notes) {
    int code = 0;
    ZipPtr zip(zip_open(path.c_str(), ZIP_RDONLY, &code));
    if (!zip) {
        if (code == ZIP_ER_NOENT || code == ZIP_ER_OPEN)
            throw CaptureFormatError(path, "", "cannot open the file");
        if (code == ZIP_ER_INCONS || code == ZIP_ER_CRC || code == ZIP_ER_EOF)
            throw CaptureFormatError(path, "",
                                     "the zip archive is damaged or cut short: " + ZipErrorText(code));
        throw CaptureFormatError(path, "", "not a sigrok session (zip archive): " + ZipErrorText(code));
    }
    const Reopen reopen = [&path] {
        int ignored = 0;
        return ZipPtr(zip_open(path.c_str(), ZIP_RDONLY, &ignored));
    };
    return ReadSession(std::move(zip), reopen, path, notes);
}

Waveform ReadSigrokSession(const void* data, size_t size, const std::string& name, SigrokReadNotes* notes) {
    zip_error_t error;
    zip_error_init(&error);
    ZipPtr zip = OpenZipFromMemory(data, size, &error);
    if (!zip) {
        const int code = zip_error_code_zip(&error);
        std::string text = zip_error_strerror(&error);
        zip_error_fini(&error);
        if (code == ZIP_ER_INCONS || code == ZIP_ER_CRC || code == ZIP_ER_EOF)
            throw CaptureFormatError(name, "", "the zip archive is damaged or cut short: " + text);
        throw CaptureFormatError(name, "", "not a sigrok session (zip archive): " + text);
    }
    zip_error_fini(&error);
    const Reopen reopen = [data, size] {
        zip_error_t ignored;
        zip_error_init(&ignored);
        ZipPtr again = OpenZipFromMemory(data, size, &ignored);
        zip_error_fini(&ignored);
        return again;
    };
    return ReadSession(std::move(zip), reopen, name, notes);
}

namespace {

// ExtractPlane is built twice, for the x86-64 baseline and for processors
// with POPCNT and TZCNT (x86-64-v3), and the loader picks the one that
// runs here.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
#define FD_TARGET_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define FD_TARGET_CLONES
#endif
// Hides a value from the optimizer, which would otherwise turn the
// unconditional writes below back into a branch per change.
#if defined(__GNUC__)
#define FD_OPAQUE(value) asm("" : "+r"(value))
#else
#define FD_OPAQUE(value) (void)(value)
#endif

// The positions of the set bits of `words` 64-bit words of a bit plane (in
// 16-bit pieces, lowest first) written from `out` on, the first bit being
// position `base`; returns the end. Eight positions are written per word
// whatever its count, which spares a branch per change; `out` has room for
// those past the end.
FD_TARGET_CLONES uint32_t* ExtractPlane(const uint16_t* plane, size_t words, uint32_t base, uint32_t* out) {
    for (size_t w = 0; w < words; ++w, base += 64) {
        uint64_t word;
        std::memcpy(&word, plane + 4 * w, 8);
        if (word == 0) continue;
        const int count = std::popcount(word);
        for (int j = 0; j < 8; ++j) {
            out[j] = base + static_cast<uint32_t>(std::countr_zero(word));
            word &= word - 1;
            FD_OPAQUE(word);
        }
        for (int j = 8; j < count; ++j) {
            out[j] = base + static_cast<uint32_t>(std::countr_zero(word));
            word &= word - 1;
        }
        out += count;
    }
    return out;
}

// Samples are turned into changes a window at a time: the XOR of each
// sample with the one before, transposed into one bit plane per probe (a
// bit per sample), then each plane's set bits are the probe's changes. The
// planes keep the per-change work to a few instructions on a register
// pointer, where walking the bits of each changed sample would scatter
// every change through a table of 32 output pointers.
constexpr size_t kWindow = 2048;             // samples; a multiple of 64
constexpr uint64_t kFirstSeen = 256 * 1024;  // samples seen before the lists' lengths are foreseen
constexpr uint64_t kLargestGuess = 256;      // times the changes so far a list is given room for at once

// One thread at a time feeds it samples; any thread may call Prefault.
class ChangeWriter {
public:
    // `signalOfBit`: the signal index of each sample bit, -1 for none.
    ChangeWriter(Waveform& waveform, const std::array<int, 64>& signalOfBit, uint64_t totalSamples)
        : waveform_(waveform),
          signalOfBit_(signalOfBit),
          totalSamples_(totalSamples),
          lanes_(waveform.signals.size()) {
        for (size_t bit = 0; bit < 64; ++bit) {
            if (signalOfBit[bit] >= 0) mask_ |= uint64_t{1} << bit;
        }
    }

    // The next `units` samples of `unit` bytes each, in order.
    void Feed(const uint8_t* bytes, size_t units, size_t unit) {
        std::vector<size_t>& before = sizesBefore_;
        before.resize(waveform_.signals.size());
        for (size_t i = 0; i < before.size(); ++i) before[i] = waveform_.signals[i].changes.size();
        Convert(bytes, units, unit);
        // Where each list is written now, and how far ahead its pages are
        // worth mapping: twice what this block added.
        const std::lock_guard lock(laneMutex_);
        for (size_t i = 0; i < lanes_.size(); ++i) {
            const std::vector<uint32_t>& changes = waveform_.signals[i].changes;
            lanes_[i].written = reinterpret_cast<uintptr_t>(changes.data() + changes.size());
            lanes_[i].ahead = 2 * (changes.size() - before[i]) * sizeof(uint32_t);
        }
    }

    uint64_t samples() const { return position_; }

    // Leaves room for the two entries ToTransitionList adds.
    void Finish() {
        for (Signal& signal : waveform_.signals) {
            if (signal.changes.capacity() < signal.changes.size() + 2)
                signal.changes.reserve(signal.changes.size() + 2);
        }
    }

    // Maps the next pages one of the lists will be written to, for a thread
    // with nothing else to do: the kernel's zeroing of fresh pages costs
    // about as much as making the changes, and this takes it off the
    // converting thread. False when no list needs pages now.
    bool Prefault() {
#if defined(MADV_POPULATE_WRITE)
        uintptr_t begin = 0, end = 0;
        {
            const std::lock_guard lock(laneMutex_);
            if (!prefaultWorks_) return false;
            Lane* behind = nullptr;  // the list whose mapped pages are fewest ahead of its writing
            for (Lane& lane : lanes_) {
                lane.populated = std::max(lane.populated, lane.written);
                const uintptr_t target = std::min(lane.end, lane.written + lane.ahead);
                if (lane.populated < target && (behind == nullptr || lane.populated - lane.written <
                                                                         behind->populated - behind->written))
                    behind = &lane;
            }
            if (behind == nullptr) return false;
            constexpr uintptr_t kHuge = uintptr_t{2} << 20;
            begin = behind->populated & ~uintptr_t{4095};
            end = std::min(behind->end, (behind->populated + kHuge) & ~(kHuge - 1));
            behind->populated = end;
        }
        // The list may have moved meanwhile; its old pages are then
        // mapped for nothing, which is harmless.
        if (end > begin && madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) != 0 &&
            errno == EINVAL) {
            const std::lock_guard lock(laneMutex_);
            prefaultWorks_ = false;  // a kernel before 5.14
        }
        return true;
#else
        return false;
#endif
    }

private:
    void Convert(const uint8_t* bytes, size_t units, size_t unit) {
        while (units > 0) {
            const size_t n = std::min(units, kWindow);
            switch (unit) {
                case 1:
                    Window<1>(bytes, n);
                    break;
                case 2:
                    Window<2>(bytes, n);
                    break;
                case 3:
                    Window<3>(bytes, n);
                    break;
                case 4:
                    Window<4>(bytes, n);
                    break;
                case 5:
                    Window<5>(bytes, n);
                    break;
                case 6:
                    Window<6>(bytes, n);
                    break;
                case 7:
                    Window<7>(bytes, n);
                    break;
                default:
                    Window<8>(bytes, n);
                    break;
            }
            bytes += n * unit;
            units -= n;
        }
    }

    template <size_t Unit>
    static uint64_t Load(const uint8_t* p) {
        uint64_t value = 0;
        std::memcpy(&value, p, Unit);  // little-endian host
        return value;
    }

    template <size_t Unit>
    void Window(const uint8_t* bytes, size_t n) {
        if (position_ == 0) {
            const uint64_t first = Load<Unit>(bytes) & mask_;
            for (size_t bit = 0; bit < 64; ++bit) {
                if (signalOfBit_[bit] >= 0)
                    waveform_.signals[static_cast<size_t>(signalOfBit_[bit])].initialLevel =
                        static_cast<uint8_t>((first >> bit) & 1);
            }
            previous_ = first;
        }
        // The XOR with the sample before, 32 bits at a time; the tail of
        // the window stays 0.
        const uint32_t low = static_cast<uint32_t>(mask_);
        const uint32_t high = static_cast<uint32_t>(mask_ >> 32);
        const size_t padded = (n + 63) & ~size_t{63};
        if (low != 0) {
            uint32_t before = static_cast<uint32_t>(previous_);
            if constexpr (Unit == 4) {
                for (size_t i = 0; i < n; ++i) {
                    uint32_t value;
                    std::memcpy(&value, bytes + 4 * i, 4);
                    diff_[i] = (value ^ before) & low;
                    before = value;
                }
            } else {
                for (size_t i = 0; i < n; ++i) {
                    const uint32_t value = static_cast<uint32_t>(Load<Unit>(bytes + Unit * i));
                    diff_[i] = (value ^ before) & low;
                    before = value;
                }
            }
            std::fill(diff_.begin() + static_cast<ptrdiff_t>(n),
                      diff_.begin() + static_cast<ptrdiff_t>(padded), 0u);
            Transpose(padded, low);
            Extract(padded, low, 0);
        }
        if constexpr (Unit > 4) {
            if (high != 0) {
                uint32_t before = static_cast<uint32_t>(previous_ >> 32);
                for (size_t i = 0; i < n; ++i) {
                    const uint32_t value = static_cast<uint32_t>(Load<Unit>(bytes + Unit * i) >> 32);
                    diff_[i] = (value ^ before) & high;
                    before = value;
                }
                std::fill(diff_.begin() + static_cast<ptrdiff_t>(n),
                          diff_.begin() + static_cast<ptrdiff_t>(padded), 0u);
                Transpose(padded, high);
                Extract(padded, high, 32);
            }
        }
        previous_ = Load<Unit>(bytes + Unit * (n - 1)) & mask_;
        position_ += n;
    }

    // plane_[bit][g]: bit `bit` of the diffs of samples 16g .. 16g+15.
    void Transpose(size_t padded, uint32_t mask) {
#if defined(__SSE2__)
        for (size_t i = 0; i < padded; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&diff_[i]));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&diff_[i + 4]));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&diff_[i + 8]));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&diff_[i + 12]));
            const size_t group = i / 16;
            const __m128i any = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF) {
                for (size_t bit = 0; bit < 32; ++bit) plane_[bit][group] = 0;
                continue;
            }
            // Bytes k of the sixteen samples into register k.
            const __m128i ab0 = _mm_unpacklo_epi8(a, b), ab1 = _mm_unpackhi_epi8(a, b);
            const __m128i cd0 = _mm_unpacklo_epi8(c, d), cd1 = _mm_unpackhi_epi8(c, d);
            const __m128i ab2 = _mm_unpacklo_epi8(ab0, ab1), ab3 = _mm_unpackhi_epi8(ab0, ab1);
            const __m128i cd2 = _mm_unpacklo_epi8(cd0, cd1), cd3 = _mm_unpackhi_epi8(cd0, cd1);
            const __m128i ab4 = _mm_unpacklo_epi8(ab2, ab3), ab5 = _mm_unpackhi_epi8(ab2, ab3);
            const __m128i cd4 = _mm_unpacklo_epi8(cd2, cd3), cd5 = _mm_unpackhi_epi8(cd2, cd3);
            __m128i lanes[4] = {_mm_unpacklo_epi64(ab4, cd4), _mm_unpackhi_epi64(ab4, cd4),
                                _mm_unpacklo_epi64(ab5, cd5), _mm_unpackhi_epi64(ab5, cd5)};
            for (size_t k = 0; k < 4; ++k) {
                if (((mask >> (8 * k)) & 0xFF) == 0) continue;
                __m128i lane = lanes[k];
                for (size_t bit = 8 * k + 8; bit-- > 8 * k;) {
                    plane_[bit][group] = static_cast<uint16_t>(_mm_movemask_epi8(lane));
                    lane = _mm_add_epi8(lane, lane);
                }
            }
        }
#else
        for (size_t group = 0; group < padded / 16; ++group) {
            for (size_t bit = 0; bit < 32; ++bit) plane_[bit][group] = 0;
            for (size_t j = 0; j < 16; ++j) {
                for (uint32_t d = diff_[16 * group + j]; d != 0; d &= d - 1)
                    plane_[static_cast<size_t>(std::countr_zero(d))][group] |= static_cast<uint16_t>(1u << j);
            }
        }
        (void)mask;
#endif
    }

    // Appends each probe's changes in this window (planes of bits `offset`
    // and up) to its signal.
    void Extract(size_t padded, uint32_t mask, size_t offset) {
        const auto base = static_cast<uint32_t>(position_);
        for (uint32_t bits = mask; bits != 0; bits &= bits - 1) {
            const auto bit = static_cast<size_t>(std::countr_zero(bits));
            uint32_t* out = ExtractPlane(plane_[bit].data(), padded / 64, base, staging_.data());
            const auto count = static_cast<size_t>(out - staging_.data());
            if (count == 0) continue;
            const auto signal = static_cast<size_t>(signalOfBit_[offset + bit]);
            std::vector<uint32_t>& changes = waveform_.signals[signal].changes;
            if (changes.capacity() - changes.size() < count) Grow(signal, count);
            changes.insert(changes.end(), staging_.data(), out);
        }
    }

    // Room for `more` changes: at first as the list grows, then, once
    // kFirstSeen samples have been seen, for the changes expected at the
    // rate so far over the whole capture and a quarter more, so the list is
    // rarely copied. Room beyond what is used costs address space only.
    void Grow(size_t signal, size_t more) {
        std::vector<uint32_t>& changes = waveform_.signals[signal].changes;
        const uint64_t needed = changes.size() + more;
        uint64_t capacity = std::max<uint64_t>({needed, 2 * uint64_t{changes.capacity()}, 1024});
        const uint64_t seen = position_ + kWindow;
        if (seen >= std::min<uint64_t>(kFirstSeen, totalSamples_)) {
            // The sample count is what the archive claims, so the guess is
            // held to a multiple of what has been seen.
            const uint64_t expected = std::min(needed * totalSamples_ / seen, needed * kLargestGuess);
            capacity = std::max(capacity, expected + expected / 4);
        }
        capacity = std::min<uint64_t>(capacity, std::max<uint64_t>(needed, totalSamples_) + 2);
        changes.reserve(static_cast<size_t>(capacity));
        // Advice for the huge pages the list overlaps, not only those inside
        // it: a large block is mapped on its own, next to the other lists,
        // and its first and last pages share huge pages with them.
        constexpr uintptr_t kHuge = uintptr_t{2} << 20;
        const auto begin = reinterpret_cast<uintptr_t>(changes.data()) & ~(kHuge - 1);
        const auto end =
            (reinterpret_cast<uintptr_t>(changes.data() + changes.capacity()) + kHuge - 1) & ~(kHuge - 1);
        if (changes.capacity() * sizeof(uint32_t) >= kHuge)
            AdviseHugePages(reinterpret_cast<void*>(begin), end - begin);
        const std::lock_guard lock(laneMutex_);
        Lane& lane = lanes_[signal];
        lane.written = lane.populated = reinterpret_cast<uintptr_t>(changes.data() + changes.size());
        lane.end = reinterpret_cast<uintptr_t>(changes.data() + changes.capacity());
    }

    Waveform& waveform_;
    const std::array<int, 64>& signalOfBit_;
    uint64_t totalSamples_;
    uint64_t mask_ = 0;
    uint64_t previous_ = 0;
    uint64_t position_ = 0;
    std::array<uint32_t, kWindow> diff_{};
    std::array<std::array<uint16_t, kWindow / 16>, 32> plane_{};
    std::array<uint32_t, kWindow + 8> staging_{};  // room for ExtractPlane's writes past the end
    std::vector<size_t> sizesBefore_;

    // Each list's storage as the thread that maps pages ahead sees it.
    struct Lane {
        uintptr_t written = 0;    // the end of the changes written
        uintptr_t populated = 0;  // pages mapped up to here
        uintptr_t end = 0;        // the end of the storage
        uintptr_t ahead = 0;      // bytes worth mapping ahead of `written`
    };
    std::mutex laneMutex_;
    std::vector<Lane> lanes_;
    bool prefaultWorks_ = true;
};

struct Member {
    std::string name;
    zip_uint64_t index;
    uint64_t size;
};

struct FreeBuffer {
    void operator()(uint8_t* data) const { std::free(data); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeBuffer>;

// Scratch of at least `bytes`, kept for the next member; whole huge pages,
// as fresh 4 KiB pages cost a fault each.
uint8_t* Reserve(Buffer& buffer, size_t& capacity, size_t bytes) {
    if (capacity < bytes) {
        constexpr size_t kHuge = size_t{2} << 20;
        const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        buffer.reset();
        buffer.reset(static_cast<uint8_t*>(std::aligned_alloc(kHuge, rounded)));
        if (!buffer) throw std::bad_alloc();
        AdviseHugePages(buffer.get(), rounded);
        capacity = rounded;
    }
    return buffer.get();
}

struct DecompressorFree {
#if defined(FD_HAVE_LIBDEFLATE)
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
#endif
};

// What one thread reads with: its own archive handle and scratch.
struct Reader {
    ZipPtr zip;
#if defined(FD_HAVE_LIBDEFLATE)
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> inflater;
#endif
    Buffer compressed;
    size_t compressedSize = 0;
};

// A member's samples, read whole, waiting to be converted.
struct Slot {
    Buffer data;
    size_t capacity = 0;
    std::exception_ptr error;  // the member could not be read
};

constexpr size_t kWholeMember = 16 << 20;  // larger members are read a block at a time as they are converted
constexpr size_t kSlots = 4;

class SessionReader {
public:
    SessionReader(ZipPtr zip, const Reopen& reopen, const std::string& path, std::vector<Member> members,
                  size_t unit, ChangeWriter& writer)
        : reopen_(reopen),
          path_(path),
          members_(std::move(members)),
          unit_(unit),
          writer_(writer),
          ready_(members_.size(), 0) {
        first_.zip = std::move(zip);
    }

    // Both cores read and inflate members; one at a time converts the next
    // member in order, so the changes come out in order and each member's
    // first sample is compared with the last one of the member before.
    void Run() {
        size_t wholeMembers = 0;
        for (const Member& member : members_) wholeMembers += member.size <= kWholeMember ? 1 : 0;
        const auto mine = [&] { Guarded([&] { Work(first_); }); };
        if (wholeMembers > 1) {
            // Without a second thread the calling one does it all: the
            // helper's reader then finds no member left.
            RunTwoJobs(
                mine,
                [this] {
                    Reader reader;
                    Guarded([&] {
                        reader.zip = reopen_();
                        if (reader.zip) Work(reader);
                    });
                },
                [] {}, WithoutThread::RunAfter);
        } else {
            mine();
        }
        if (error_) std::rethrow_exception(error_);
    }

private:
    // An error outside a member's reading ends the work of both threads.
    template <typename Body>
    void Guarded(Body body) {
        try {
            body();
        } catch (...) {
            const std::lock_guard lock(mutex_);
            if (!error_) error_ = std::current_exception();
            ++stateVersion_;
            changed_.notify_all();
        }
    }

    void Work(Reader& reader) {
        std::unique_lock lock(mutex_);
        while (!error_ && nextConvert_ < members_.size()) {
            const size_t k = nextConvert_;
            if (!converting_ && ready_[k] != 0) {
                converting_ = true;
                lock.unlock();
                std::exception_ptr error;
                try {
                    Convert(reader, k);
                } catch (...) {
                    error = std::current_exception();
                }
                lock.lock();
                converting_ = false;
                ++nextConvert_;
                ++stateVersion_;
                if (error && !error_) error_ = error;
                changed_.notify_all();
            } else if (nextFill_ < members_.size() && nextFill_ < nextConvert_ + kSlots) {
                const size_t fill = nextFill_++;
                lock.unlock();
                Slot& slot = slots_[fill % kSlots];
                try {
                    Fill(reader, members_[fill], slot);
                } catch (...) {
                    slot.error = std::current_exception();
                }
                lock.lock();
                ready_[fill] = 1;
                ++stateVersion_;
                changed_.notify_all();
            } else {
                // Nothing to read or convert: map pages ahead, and wait only
                // when there are none to map and nothing changed meanwhile.
                const uint64_t seen = stateVersion_;
                lock.unlock();
                const bool helped = writer_.Prefault();
                lock.lock();
                if (!helped && stateVersion_ == seen) changed_.wait(lock);
            }
        }
        changed_.notify_all();
    }

    // A member read whole fails at its byte 0.
    [[noreturn]] void Corrupt(const Member& member, uint64_t byte = 0) const {
        throw CaptureFormatError(path_, "member " + member.name + ", byte " + std::to_string(byte),
                                 "data is corrupt or cut short");
    }

    // Reads a member whole into its slot; larger ones wait for Convert.
    void Fill(Reader& reader, const Member& member, Slot& slot) {
        slot.error = nullptr;
        if (member.size > kWholeMember || member.size == 0) return;
        const size_t size = static_cast<size_t>(member.size);
        uint8_t* data = Reserve(slot.data, slot.capacity, size);
        zip_stat_t stat;
        if (zip_stat_index(reader.zip.get(), member.index, 0, &stat) != 0) Corrupt(member);
#if defined(FD_HAVE_LIBDEFLATE)
        // Deflated members are inflated in one call into place, several
        // times faster than libzip's streaming reads; stored ones are read
        // as they are. Either is checked against its CRC here.
        // A deflated member is never much larger than its data; one that
        // claims to be is left to libzip, which finds what is wrong.
        const bool plain = (stat.valid & ZIP_STAT_COMP_METHOD) && (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) &&
                           (stat.valid & ZIP_STAT_COMP_SIZE) && (stat.valid & ZIP_STAT_CRC) &&
                           stat.encryption_method == ZIP_EM_NONE &&
                           stat.comp_size <= size + size / 8 + 4096 &&
                           (stat.comp_method == ZIP_CM_DEFLATE ||
                            (stat.comp_method == ZIP_CM_STORE && stat.comp_size == size));
        if (plain) {
            ZipFilePtr file(zip_fopen_index(reader.zip.get(), member.index, ZIP_FL_COMPRESSED));
            if (!file) throw CaptureFormatError(path_, "member " + member.name, "cannot be opened");
            const auto compressedBytes = static_cast<size_t>(stat.comp_size);
            uint8_t* in = stat.comp_method == ZIP_CM_STORE ? data
                                                           : Reserve(reader.compressed, reader.compressedSize,
                                                                     std::max<size_t>(compressedBytes, 1));
            const zip_int64_t got = zip_fread(file.get(), in, compressedBytes);
            if (got < 0 || static_cast<size_t>(got) != compressedBytes) Corrupt(member);
            if (stat.comp_method == ZIP_CM_DEFLATE) {
                if (!reader.inflater) {
                    reader.inflater.reset(libdeflate_alloc_decompressor());
                    if (!reader.inflater) throw std::bad_alloc();
                }
                if (libdeflate_deflate_decompress(reader.inflater.get(), in, compressedBytes, data, size,
                                                  nullptr) != LIBDEFLATE_SUCCESS)
                    Corrupt(member);
            }
            if (libdeflate_crc32(0, data, size) != stat.crc) Corrupt(member);
            return;
        }
#endif
        ZipFilePtr file(zip_fopen_index(reader.zip.get(), member.index, 0));
        if (!file) throw CaptureFormatError(path_, "member " + member.name, "cannot be opened");
        const zip_int64_t got = zip_fread(file.get(), data, size);
        if (got < 0 || static_cast<size_t>(got) != size) Corrupt(member);
    }

    void Convert(Reader& reader, size_t k) {
        const Member& member = members_[k];
        Slot& slot = slots_[k % kSlots];
        if (slot.error) std::rethrow_exception(slot.error);
        if (member.size <= kWholeMember) {
            writer_.Feed(slot.data.get(), static_cast<size_t>(member.size) / unit_, unit_);
            return;
        }
        ZipFilePtr file(zip_fopen_index(reader.zip.get(), member.index, 0));
        if (!file) throw CaptureFormatError(path_, "member " + member.name, "cannot be opened");
        const size_t block = kWholeMember - kWholeMember % unit_;
        uint8_t* data = Reserve(streamBlock_, streamBlockSize_, block);
        for (uint64_t done = 0; done < member.size;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(member.size - done, block));
            const zip_int64_t got = zip_fread(file.get(), data, want);
            if (got < 0 || static_cast<size_t>(got) != want) Corrupt(member, done);
            writer_.Feed(data, want / unit_, unit_);
            done += want;
        }
    }

    Reader first_;
    const Reopen& reopen_;
    const std::string& path_;
    std::vector<Member> members_;
    size_t unit_;
    ChangeWriter& writer_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<Slot, kSlots> slots_;
    std::vector<uint8_t> ready_;  // per member: its slot is filled (or its reading failed)
    size_t nextFill_ = 0;
    size_t nextConvert_ = 0;
    bool converting_ = false;
    uint64_t stateVersion_ = 0;  // counts the changes of the state above, for waiting without missing one
    std::exception_ptr error_;
    Buffer streamBlock_;  // for members too large to read whole; used by the converting thread
    size_t streamBlockSize_ = 0;
};

Waveform ReadSession(ZipPtr zip, const Reopen& reopen, const std::string& path, SigrokReadNotes* notes) {
    std::string version, metadataText;
    if (!ReadSmallMember(zip.get(), path, "metadata", metadataText))
        throw CaptureFormatError(path, "", "no metadata member; not a sigrok session");
    if (ReadSmallMember(zip.get(), path, "version", version) && TrimSpace(version) != "2" &&
        TrimSpace(version) != "1")
        throw CaptureFormatError(path, "member version",
                                 "session format " + TrimSpace(version) + " is not supported");

    const auto sections = ParseIni(metadataText).sections;
    const auto device = sections.find("device 1");
    if (device == sections.end()) throw CaptureFormatError(path, "member metadata", "no [device 1] section");
    const auto& meta = device->second;
    auto get = [&](const char* key) {
        auto it = meta.find(key);
        return it == meta.end() ? std::string() : it->second;
    };

    long long unitSize = 1, totalProbes = 0, totalAnalog = 0;
    if (!get("unitsize").empty() && !ParseCount(get("unitsize"), unitSize))
        throw CaptureFormatError(path, "member metadata", "unitsize is not a number");
    if (unitSize < 1 || unitSize > 8)
        throw CaptureFormatError(path, "member metadata",
                                 "unitsize " + std::to_string(unitSize) + " is not supported (1 to 8 bytes)");
    if (!ParseCount(get("total probes"), totalProbes) || totalProbes < 0)
        throw CaptureFormatError(path, "member metadata", "expected a number for 'total probes'");
    if (totalProbes > unitSize * 8)
        throw CaptureFormatError(
            path, "member metadata",
            std::to_string(totalProbes) + " probes do not fit in unitsize " + std::to_string(unitSize));
    if (!get("total analog").empty()) ParseCount(get("total analog"), totalAnalog);
    const uint64_t samplerate = get("samplerate").empty() ? 0 : ParseSamplerate(get("samplerate"));
    std::string captureFile = get("capturefile");
    if (captureFile.empty()) captureFile = "logic-1";

    Waveform waveform;
    std::array<int, 64> signalOfBit;
    signalOfBit.fill(-1);
    for (long long probe = 1; probe <= totalProbes; ++probe) {
        const std::string name = get(("probe" + std::to_string(probe)).c_str());
        if (name.empty()) continue;  // a disabled probe keeps its bit but has no name
        signalOfBit[static_cast<size_t>(probe - 1)] = static_cast<int>(waveform.signals.size());
        waveform.signals.push_back({name, 0, {}});
    }
    if (waveform.signals.empty()) throw CaptureFormatError(path, "member metadata", "names no logic probe");
    if (samplerate != 0) waveform.secondsPerPosition = 1.0 / static_cast<double>(samplerate);

    // Chunks: <capturefile>-1, -2, … in numeric order, or one <capturefile>.
    std::map<long long, zip_uint64_t> chunks;
    const zip_int64_t entries = zip_get_num_entries(zip.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const char* name = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), 0);
        if (name == nullptr) continue;
        const std::string member = name;
        long long number = 0;
        if (member == captureFile)
            chunks[0] = static_cast<zip_uint64_t>(i);
        else if (member.rfind(captureFile + "-", 0) == 0 &&
                 ParseCount(member.substr(captureFile.size() + 1), number) && number > 0)
            chunks[number] = static_cast<zip_uint64_t>(i);
    }
    if (chunks.empty()) throw CaptureFormatError(path, "", "no logic data member '" + captureFile + "-1'");
    if (chunks.count(0) && chunks.size() > 1) chunks.erase(0);
    long long expected = chunks.begin()->first == 0 ? 0 : 1;
    for (const auto& [number, index] : chunks) {
        if (number != expected)
            throw CaptureFormatError(
                path, "", "logic chunk " + captureFile + "-" + std::to_string(expected) + " is missing");
        ++expected;
    }

    const size_t unit = static_cast<size_t>(unitSize);
    std::vector<Member> members;
    uint64_t totalSamples = 0;
    for (const auto& [number, index] : chunks) {
        std::string member = zip_get_name(zip.get(), index, 0);
        zip_stat_t stat;
        if (zip_stat_index(zip.get(), index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
            throw CaptureFormatError(path, "member " + member, "cannot be read");
        if (stat.size % unit != 0)
            throw CaptureFormatError(path, "member " + member,
                                     "size " + std::to_string(stat.size) + " is not a multiple of unitsize " +
                                         std::to_string(unit));
        totalSamples += stat.size / unit;
        if (totalSamples > 0xFFFFFFFFull)
            throw CaptureFormatError(path, "member " + member,
                                     "more than 2^32 samples; positions are 32-bit");
        members.push_back({std::move(member), index, stat.size});
    }

    ChangeWriter writer(waveform, signalOfBit, totalSamples);
    SessionReader(std::move(zip), reopen, path, std::move(members), unit, writer).Run();
    writer.Finish();
    waveform.endPosition = static_cast<uint32_t>(writer.samples());
    if (notes != nullptr) {
        notes->analogChannels = static_cast<int>(totalAnalog);
        notes->samples = writer.samples();
        notes->samplerate = samplerate;
    }
    return waveform;
}

}  // namespace

namespace {

// One logic chunk as a libzip source: its samples are made as libzip reads
// them. Opening again starts over, so libzip may read a chunk twice.
struct ChunkSource {
    const std::vector<std::pair<uint32_t, uint32_t>>* events;
    size_t unit;
    uint64_t first;  // sample number of the chunk's first sample
    uint64_t count;
    uint32_t firstValue;  // levels at `first`, changes there applied
    size_t firstEvent;    // first event after `first`
    // Read state.
    uint64_t done = 0;
    uint32_t value = 0;
    size_t event = 0;

    static zip_int64_t Callback(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        auto& chunk = *static_cast<ChunkSource*>(user);
        switch (command) {
            case ZIP_SOURCE_OPEN:
                chunk.done = 0;
                chunk.value = chunk.firstValue;
                chunk.event = chunk.firstEvent;
                return 0;
            case ZIP_SOURCE_READ: {
                auto* out = static_cast<uint8_t*>(data);
                const uint64_t samples = std::min<uint64_t>(length / chunk.unit, chunk.count - chunk.done);
                const auto& list = *chunk.events;
                for (uint64_t i = 0; i < samples; ++i, ++chunk.done) {
                    const uint64_t position = chunk.first + chunk.done;
                    while (chunk.event < list.size() && list[chunk.event].first <= position)
                        chunk.value ^= list[chunk.event++].second;
                    std::memcpy(out + i * chunk.unit, &chunk.value, chunk.unit);  // little-endian host
                }
                return static_cast<zip_int64_t>(samples * chunk.unit);
            }
            case ZIP_SOURCE_CLOSE:
            case ZIP_SOURCE_FREE:
                return 0;
            case ZIP_SOURCE_STAT: {
                if (length < sizeof(zip_stat_t)) return -1;
                auto* stat = static_cast<zip_stat_t*>(data);
                zip_stat_init(stat);
                stat->size = chunk.count * chunk.unit;
                stat->mtime = std::time(nullptr);
                stat->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_ERROR:
                return 0;
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                      ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
            default:
                return -1;
        }
    }
};

}  // namespace

void WriteSigrokSession(const Waveform& waveform, const std::string& path, uint64_t samplerate) {
    if (waveform.signals.size() > 32)
        throw std::runtime_error(path + ": a sigrok session holds at most 32 logic probes here");
    if (samplerate == 0 && waveform.secondsPerPosition > 0)
        samplerate = static_cast<uint64_t>(std::llround(1.0 / waveform.secondsPerPosition));
    if (samplerate == 0) samplerate = 1000000;
    const size_t unit = std::max<size_t>(1, (waveform.signals.size() + 7) / 8);

    std::string metadata = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n";
    metadata += "total probes=" + std::to_string(waveform.signals.size()) + "\n";
    metadata += "samplerate=" + FormatSamplerate(samplerate) + "\ntotal analog=0\n";
    for (size_t i = 0; i < waveform.signals.size(); ++i)
        metadata += "probe" + std::to_string(i + 1) + "=" + waveform.signals[i].name + "\n";
    metadata += "unitsize=" + std::to_string(unit) + "\n";

    // Every change of every signal, in position order, as (position, bit).
    std::vector<std::pair<uint32_t, uint32_t>> events;
    uint32_t value = 0;
    for (size_t i = 0; i < waveform.signals.size(); ++i) {
        const Signal& s = waveform.signals[i];
        if (s.initialLevel) value |= 1u << i;
        for (uint32_t change : s.changes) events.emplace_back(change, 1u << i);
    }
    std::sort(events.begin(), events.end());

    // Each chunk knows its samples' first value and first event, and makes
    // its bytes only while the archive is written, so the samples are never
    // held whole.
    const uint64_t samplesPerChunk = kWriteChunk / unit;
    std::vector<ChunkSource> chunks;
    size_t next = 0;
    for (uint64_t first = 0; first < waveform.endPosition; first += samplesPerChunk) {
        while (next < events.size() && events[next].first <= first) value ^= events[next++].second;
        chunks.push_back({&events, unit, first,
                          std::min<uint64_t>(samplesPerChunk, waveform.endPosition - first), value, next});
    }

    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (zip == nullptr) throw std::runtime_error(path + ": cannot create: " + ZipErrorText(code));
    auto add = [&](const std::string& name, const void* data, size_t size) {
        zip_source_t* source = zip_source_buffer(zip, data, size, 0);
        if (source == nullptr || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            if (source) zip_source_free(source);
            std::string error = zip_strerror(zip);
            zip_discard(zip);
            throw std::runtime_error(path + ": cannot write member " + name + ": " + error);
        }
    };
    static const char kVersion[] = "2";
    add("version", kVersion, 1);
    add("metadata", metadata.data(), metadata.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        const std::string name = "logic-1-" + std::to_string(i + 1);
        zip_source_t* source = zip_source_function(zip, ChunkSource::Callback, &chunks[i]);
        if (source == nullptr || zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            if (source) zip_source_free(source);
            std::string error = zip_strerror(zip);
            zip_discard(zip);
            throw std::runtime_error(path + ": cannot write member " + name + ": " + error);
        }
    }
    if (zip_close(zip) != 0) {
        std::string error = zip_strerror(zip);
        zip_discard(zip);
        throw std::runtime_error(path + ": cannot write: " + error);
    }
}

}  // namespace fd::host
