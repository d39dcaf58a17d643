#include "host/formats/mapped_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "host/formats/format_error.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fd::host {

#if defined(_WIN32)

MappedFile::MappedFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw CaptureFormatError(path, "", "cannot open the file");
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        throw CaptureFormatError(path, "", "cannot read the file's size");
    }
    size_ = static_cast<size_t>(size.QuadPart);
    if (size_ > 0) {
        mapping_ = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (mapping_ != nullptr)
            data_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
    }
    CloseHandle(file);
    if (size_ > 0 && data_ == nullptr) {
        if (mapping_ != nullptr) CloseHandle(mapping_);
        throw CaptureFormatError(path, "", "cannot map the file into memory");
    }
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) UnmapViewOfFile(data_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
}

void MappedFile::Release(size_t, size_t) const {}
void MappedFile::ReadAhead(size_t, size_t) const {}

void AdviseHugePages(void*, size_t) noexcept {}

#else

MappedFile::MappedFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw CaptureFormatError(path, "", std::string("cannot open the file: ") + std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        throw CaptureFormatError(path, "", "not a regular file");
    }
    size_ = static_cast<size_t>(info.st_size);
    if (size_ > 0) {
        void* address = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (address == MAP_FAILED) {
            close(fd);
            throw CaptureFormatError(path, "", std::string("cannot map the file: ") + std::strerror(errno));
        }
        data_ = static_cast<const char*>(address);
        madvise(address, size_, MADV_SEQUENTIAL);
    }
    close(fd);
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) munmap(const_cast<char*>(data_), size_);
}

void MappedFile::Release(size_t from, size_t to) const {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    from = (from + page - 1) / page * page;
    to = std::min(to, size_) / page * page;
    if (data_ == nullptr || to <= from) return;
    madvise(const_cast<char*>(data_) + from, to - from, MADV_DONTNEED);
}

void MappedFile::ReadAhead(size_t from, size_t to) const {
#if defined(MADV_POPULATE_READ)
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    from = from / page * page;
    to = std::min(to, size_);
    if (data_ == nullptr || to <= from) return;
    // Older kernels refuse the advice; the pages then fault in as read.
    madvise(const_cast<char*>(data_) + from, to - from, MADV_POPULATE_READ);
#else
    (void)from;
    (void)to;
#endif
}

void AdviseHugePages(void* data, size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHuge = uintptr_t{2} << 20;
    const auto begin = (reinterpret_cast<uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHuge - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

#endif

}  // namespace fd::host
