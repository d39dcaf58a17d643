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
    // Tells the system the pages before `offset` will not be read again, so
    // a scan over a file larger than memory does not keep it resident.
    void Release(size_t offset);
    // Tells the system the bytes from `offset` on are read next: their
    // pages are mapped in one go, a window ahead, instead of one fault per
    // few pages. Call it as the scan moves on.
    void ReadAhead(size_t offset);

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
    size_t released_ = 0;
    size_t readAhead_ = 0;  // mapped up to here
    void* mapping_ = nullptr;  // Windows: the mapping object handle
};

// Asks the system to back the whole 2 MiB pages inside [data, data + bytes)
// of fresh anonymous memory with huge pages: a reader filling hundreds of
// megabytes then takes a page fault per 2 MiB instead of per 4 KiB. Advice
// only; does nothing where the system has no such thing.
void AdviseHugePages(void* data, size_t bytes) noexcept;

}  // namespace fd::host
