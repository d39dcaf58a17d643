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

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
    size_t released_ = 0;
    void* mapping_ = nullptr;  // Windows: the mapping object handle
};

}  // namespace fd::host
