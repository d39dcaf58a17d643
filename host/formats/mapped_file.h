// A read-only view of a whole file, mapped into memory so readers scan it
// without copying it and without the file size counting against the heap.
// Used by the capture readers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fd::host {

class MappedFile {
public:
    // Throws CaptureFormatError naming the file when it cannot be opened.
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view bytes() const { return {data_, size_}; }
    // Tells the system the whole pages in [from, to) will not be read
    // again, so a scan over a file larger than memory does not keep it
    // resident. Safe from several threads on different ranges.
    void Release(size_t from, size_t to) const;
    // Tells the system the bytes in [from, to) are read next: their pages
    // are mapped in one go instead of one fault per few pages. Safe from
    // several threads.
    void ReadAhead(size_t from, size_t to) const;

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
    void* mapping_ = nullptr;  // Windows: the mapping object handle
};

// Asks the system to back the whole 2 MiB pages inside [data, data + bytes)
// of fresh anonymous memory with huge pages: a reader filling hundreds of
// megabytes then takes a page fault per 2 MiB instead of per 4 KiB. Advice
// only; does nothing where the system has no such thing.
void AdviseHugePages(void* data, size_t bytes) noexcept;

}  // namespace fd::host
