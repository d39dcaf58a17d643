// Where a capture's bytes come from: a plain file is mapped (the fast path,
// scanned in place); standard input ("-"), a pipe or any file that cannot be
// mapped is read into a buffer that grows as the bytes arrive; a gzip or
// zstd stream, known by its first bytes whatever the file is called, is
// decompressed into that buffer as it is read. ReadCapture then sniffs the
// bytes and hands them to a reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace fd::host {

class MappedFile;

enum class Compression { None, Gzip, Zstd };

// "gzip", "zstd"; "" for None.
const char* CompressionName(Compression compression);
// Which compression a stream opening with these bytes uses.
Compression DetectCompression(std::string_view head);
// Whether this build can decompress it.
bool CanDecompress(Compression compression);

// How a capture is called in messages: its path, or "standard input" for "-".
std::string CaptureDisplayName(const std::string& path);

// Memory from malloc, grown by realloc: a large block grows in place or
// by remapping its pages, not by copying them.
class GrowingBuffer {
public:
    GrowingBuffer() = default;
    ~GrowingBuffer();
    GrowingBuffer(GrowingBuffer&& other) noexcept;
    GrowingBuffer& operator=(GrowingBuffer&& other) noexcept;
    GrowingBuffer(const GrowingBuffer&) = delete;
    GrowingBuffer& operator=(const GrowingBuffer&) = delete;

    // Room for at least `bytes` more after the end; throws std::bad_alloc.
    char* Space(size_t bytes);
    // Grows the room to `bytes` in all if the memory is there; else nothing.
    void TryReserve(size_t bytes) noexcept;
    size_t room() const { return capacity_ - size_; }
    void Commit(size_t bytes) { size_ += bytes; }
    std::string_view bytes() const { return {data_, size_}; }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Turns a compressed stream fed in pieces into its bytes. Feed and Finish
// throw CaptureFormatError naming the file and the byte offset in the
// compressed stream where it went wrong; Finish refuses a stream cut short.
class Decompressor {
public:
    virtual ~Decompressor() = default;
    virtual void Feed(std::string_view compressed, GrowingBuffer& out) = 0;
    virtual void Finish() = 0;
    // Null when this build cannot decompress it.
    static std::unique_ptr<Decompressor> Create(Compression compression, const std::string& name);
};

// The bytes of one capture, however they arrived.
class CaptureInput {
public:
    // Opens `path` ("-": standard input). Throws CaptureFormatError naming
    // the file: cannot open, cannot read, a compressed stream that is
    // corrupt or cut short, or compressed in a way this build cannot read.
    // progress: (bytes read of the file, the file's size; 0 when unknown).
    static CaptureInput Open(const std::string& path,
                             const std::function<void(uint64_t done, uint64_t total)>& progress = {});

    CaptureInput(CaptureInput&&) noexcept;
    CaptureInput& operator=(CaptureInput&&) noexcept;
    ~CaptureInput();

    std::string_view bytes() const;
    const std::string& name() const { return name_; }
    // The plain file mapped in place: readers may open it themselves by
    // this path (the fast path). False when the bytes were read or
    // decompressed into memory.
    bool mapped() const { return mapping_ != nullptr; }
    Compression compression() const { return compression_; }
    // Unmaps a mapped file (the reader opens it again by its path).
    void Close();

private:
    CaptureInput() = default;
    std::string name_;
    Compression compression_ = Compression::None;
    std::unique_ptr<MappedFile> mapping_;
    GrowingBuffer buffer_;
};

}  // namespace fd::host
