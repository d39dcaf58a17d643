#include "host/formats/capture_input.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>

#include "host/formats/format_error.h"
#include "host/formats/mapped_file.h"

#if defined(FD_HAVE_ZLIB)
#include <zlib.h>
#endif
#if defined(FD_HAVE_ZSTD)
#include <zstd.h>
#endif
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace fd::host {
namespace {

constexpr size_t kReadChunk = size_t{1} << 20;
#if defined(FD_HAVE_ZLIB) || defined(FD_HAVE_ZSTD)
constexpr size_t kOutputChunk = size_t{1} << 20;  // room made before each decompression step
#endif

std::string ByteAt(uint64_t offset) { return "byte " + std::to_string(offset); }

// What to type instead, for a build that cannot decompress the stream.
std::string DecompressHint(Compression compression) {
    return compression == Compression::Gzip ? "gunzip -k FILE" : "zstd -d FILE";
}

#if defined(FD_HAVE_ZLIB)
// One or more gzip members one after another (as `cat a.gz b.gz` makes
// them), optionally followed by zero padding, as gzip itself reads them.
class GzipDecompressor final : public Decompressor {
public:
    explicit GzipDecompressor(std::string name) : name_(std::move(name)) {
        if (inflateInit2(&z_, 15 + 16) != Z_OK) throw std::bad_alloc();
    }
    ~GzipDecompressor() override { inflateEnd(&z_); }

    void Feed(std::string_view in, GrowingBuffer& out) override {
        size_t pos = 0;
        bool outputFull = false;
        while (pos < in.size() || outputFull) {
            if (!inMember_ && pos < in.size()) {
                if (ended_ && in[pos] == 0) {
                    padding_ = true;
                    ++pos;
                    ++consumed_;
                    continue;
                }
                if (padding_ || static_cast<unsigned char>(in[pos]) != 0x1f) {
                    throw CaptureFormatError(name_, ByteAt(consumed_),
                                             "expected another gzip member or the end of the file after the "
                                             "gzip stream, found other data");
                }
                inflateReset(&z_);
                inMember_ = true;
            }
            const size_t available = std::min<size_t>(in.size() - pos, UINT_MAX);
            z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + pos));
            z_.avail_in = static_cast<uInt>(available);
            char* space = out.Space(kOutputChunk);
            const auto room = static_cast<uInt>(std::min<size_t>(out.room(), UINT_MAX));
            z_.next_out = reinterpret_cast<Bytef*>(space);
            z_.avail_out = room;
            const int rc = inflate(&z_, Z_NO_FLUSH);
            const size_t used = available - z_.avail_in;
            out.Commit(room - z_.avail_out);
            pos += used;
            consumed_ += used;
            outputFull = z_.avail_out == 0;
            if (rc == Z_STREAM_END) {
                inMember_ = false;
                ended_ = true;
                outputFull = false;
            } else if (rc == Z_BUF_ERROR) {
                if (!outputFull) break;  // needs more input
            } else if (rc != Z_OK) {
                throw CaptureFormatError(
                    name_, ByteAt(consumed_),
                    std::string("the gzip data is corrupt (") + (z_.msg ? z_.msg : "inflate failed") + ")");
            }
        }
    }

    void Finish() override {
        if (inMember_ || !ended_)
            throw CaptureFormatError(
                name_, ByteAt(consumed_),
                "the gzip stream is cut short: the file ends inside the compressed data");
    }

private:
    std::string name_;
    z_stream z_{};
    uint64_t consumed_ = 0;
    bool inMember_ = false;
    bool ended_ = false;
    bool padding_ = false;
};
#endif

#if defined(FD_HAVE_ZSTD)
// One or more zstd frames (skippable frames included).
class ZstdDecompressor final : public Decompressor {
public:
    explicit ZstdDecompressor(std::string name) : name_(std::move(name)), stream_(ZSTD_createDStream()) {
        if (stream_ == nullptr) throw std::bad_alloc();
        ZSTD_initDStream(stream_);
    }
    ~ZstdDecompressor() override { ZSTD_freeDStream(stream_); }

    void Feed(std::string_view in, GrowingBuffer& out) override {
        ZSTD_inBuffer input{in.data(), in.size(), 0};
        bool outputFull = false;
        while (input.pos < input.size || outputFull) {
            char* space = out.Space(kOutputChunk);
            ZSTD_outBuffer output{space, out.room(), 0};
            const size_t hint = ZSTD_decompressStream(stream_, &output, &input);
            if (ZSTD_isError(hint)) {
                throw CaptureFormatError(
                    name_, ByteAt(consumed_ + input.pos),
                    std::string("the zstd data is corrupt (") + ZSTD_getErrorName(hint) + ")");
            }
            out.Commit(output.pos);
            outputFull = output.pos == output.size;
            pending_ = hint;
        }
        consumed_ += in.size();
    }

    void Finish() override {
        if (pending_ != 0)
            throw CaptureFormatError(name_, ByteAt(consumed_),
                                     "the zstd stream is cut short: the file ends inside a compressed frame");
    }

private:
    std::string name_;
    ZSTD_DStream* stream_;
    uint64_t consumed_ = 0;
    size_t pending_ = 1;  // 0 once a frame has ended and no other begun
};
#endif

// A size to start the buffer at, from what the stream says of itself:
// gzip's trailer holds the last member's size (mod 2^32), a zstd frame
// may hold its own. Only a hint: the buffer grows past it if need be.
size_t SizeHint(Compression compression, std::string_view whole) {
#if defined(FD_HAVE_ZSTD)
    if (compression == Compression::Zstd) {
        const unsigned long long size = ZSTD_getFrameContentSize(whole.data(), whole.size());
        if (size != ZSTD_CONTENTSIZE_UNKNOWN && size != ZSTD_CONTENTSIZE_ERROR && size <= SIZE_MAX)
            return static_cast<size_t>(size);
    }
#endif
    if (compression == Compression::Gzip && whole.size() >= 18) {
        const auto* tail = reinterpret_cast<const unsigned char*>(whole.data() + whole.size() - 4);
        const uint64_t size =
            uint64_t{tail[0]} | uint64_t{tail[1]} << 8 | uint64_t{tail[2]} << 16 | uint64_t{tail[3]} << 24;
        // deflate shrinks by 1032:1 at best: a larger claim is no member's size.
        if (size <= uint64_t{whole.size()} * 1032 && size <= SIZE_MAX) return static_cast<size_t>(size);
    }
    return 0;
}

}  // namespace

const char* CompressionName(Compression compression) {
    switch (compression) {
        case Compression::Gzip:
            return "gzip";
        case Compression::Zstd:
            return "zstd";
        case Compression::None:
            break;
    }
    return "";
}

Compression DetectCompression(std::string_view head) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(head[i]); };
    if (head.size() >= 2 && byte(0) == 0x1f && byte(1) == 0x8b) return Compression::Gzip;
    if (head.size() >= 4 && byte(0) == 0x28 && byte(1) == 0xb5 && byte(2) == 0x2f && byte(3) == 0xfd)
        return Compression::Zstd;
    return Compression::None;
}

bool CanDecompress(Compression compression) {
    switch (compression) {
        case Compression::None:
            return true;
        case Compression::Gzip:
#if defined(FD_HAVE_ZLIB)
            return true;
#else
            return false;
#endif
        case Compression::Zstd:
#if defined(FD_HAVE_ZSTD)
            return true;
#else
            return false;
#endif
    }
    return false;
}

std::string CaptureDisplayName(const std::string& path) { return path == "-" ? "standard input" : path; }

std::unique_ptr<Decompressor> Decompressor::Create(Compression compression, const std::string& name) {
#if defined(FD_HAVE_ZLIB)
    if (compression == Compression::Gzip) return std::make_unique<GzipDecompressor>(name);
#endif
#if defined(FD_HAVE_ZSTD)
    if (compression == Compression::Zstd) return std::make_unique<ZstdDecompressor>(name);
#endif
    (void)compression;
    (void)name;
    return nullptr;
}

GrowingBuffer::~GrowingBuffer() { std::free(data_); }

GrowingBuffer::GrowingBuffer(GrowingBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
}

GrowingBuffer& GrowingBuffer::operator=(GrowingBuffer&& other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

void GrowingBuffer::TryReserve(size_t bytes) noexcept {
    if (bytes <= capacity_) return;
    if (void* grown = std::realloc(data_, bytes)) {
        data_ = static_cast<char*>(grown);
        capacity_ = bytes;
    }
}

char* GrowingBuffer::Space(size_t bytes) {
    if (capacity_ - size_ < bytes) {
        if (bytes > SIZE_MAX - size_) throw std::bad_alloc();
        const size_t wanted =
            std::max({size_ + bytes, capacity_ <= SIZE_MAX / 2 ? capacity_ * 2 : SIZE_MAX, kReadChunk});
        void* grown = std::realloc(data_, wanted);
        if (grown == nullptr) throw std::bad_alloc();
        data_ = static_cast<char*>(grown);
        capacity_ = wanted;
    }
    return data_ + size_;
}

CaptureInput::CaptureInput(CaptureInput&&) noexcept = default;
CaptureInput& CaptureInput::operator=(CaptureInput&&) noexcept = default;
CaptureInput::~CaptureInput() = default;

std::string_view CaptureInput::bytes() const { return mapping_ ? mapping_->bytes() : buffer_.bytes(); }

void CaptureInput::Close() { mapping_.reset(); }

CaptureInput CaptureInput::Open(const std::string& path,
                                const std::function<void(uint64_t, uint64_t)>& progress) {
    CaptureInput input;
    input.name_ = CaptureDisplayName(path);
    const auto refuse = [&input](Compression compression) {
        throw CaptureFormatError(input.name_, "",
                                 std::string(CompressionName(compression)) +
                                     "-compressed, and this build reads no " + CompressionName(compression) +
                                     " streams: decompress it first (" + DecompressHint(compression) + ")");
    };

    std::error_code error;
    if (path != "-" && std::filesystem::is_directory(path, error))
        throw CaptureFormatError(input.name_, "", "is a folder, not a capture file");
    if (path != "-" && std::filesystem::is_regular_file(path, error)) {
        auto mapping = std::make_unique<MappedFile>(path);
        const std::string_view whole = mapping->bytes();
        input.compression_ = DetectCompression(whole.substr(0, 4));
        if (input.compression_ == Compression::None) {
            input.mapping_ = std::move(mapping);
            return input;
        }
        std::unique_ptr<Decompressor> decompressor = Decompressor::Create(input.compression_, input.name_);
        if (!decompressor) refuse(input.compression_);
        // A wrong hint (a damaged trailer) costs nothing: reserving is only tried.
        if (const size_t hint = SizeHint(input.compression_, whole); hint > 0 && hint < SIZE_MAX)
            input.buffer_.TryReserve(hint + 1);
        for (size_t at = 0; at < whole.size(); at += kReadChunk) {
            const size_t piece = std::min(kReadChunk, whole.size() - at);
            decompressor->Feed(whole.substr(at, piece), input.buffer_);
            mapping->Release(0, at + piece);
            if (progress) progress(at + piece, whole.size());
        }
        decompressor->Finish();
        return input;
    }

    // Standard input, a pipe, a device: read as it comes.
    std::FILE* file = nullptr;
    if (path == "-") {
        file = stdin;
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    } else {
        file = std::fopen(path.c_str(), "rb");
        if (file == nullptr)
            throw CaptureFormatError(input.name_, "",
                                     std::string("cannot open the file: ") + std::strerror(errno));
    }
    struct Closer {
        std::FILE* file;
        ~Closer() {
            if (file != stdin) std::fclose(file);
        }
    } closer{file};

    std::unique_ptr<Decompressor> decompressor;
    std::string head;  // the first bytes, until the compression is known
    std::string chunk(kReadChunk, '\0');
    uint64_t done = 0;
    bool decided = false;
    for (;;) {
        const size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
        if (got == 0) {
            if (std::ferror(file))
                throw CaptureFormatError(input.name_, ByteAt(done),
                                         std::string("cannot read: ") + std::strerror(errno));
            break;
        }
        done += got;
        std::string_view piece(chunk.data(), got);
        if (!decided) {
            head.append(piece);
            if (head.size() < 4) continue;
            decided = true;
            input.compression_ = DetectCompression(head);
            if (input.compression_ != Compression::None) {
                decompressor = Decompressor::Create(input.compression_, input.name_);
                if (!decompressor) refuse(input.compression_);
            }
            piece = head;
        }
        if (decompressor) {
            decompressor->Feed(piece, input.buffer_);
        } else {
            std::memcpy(input.buffer_.Space(piece.size()), piece.data(), piece.size());
            input.buffer_.Commit(piece.size());
        }
        if (decided) head.clear();
        if (progress) progress(done, 0);
    }
    if (!decided) {
        // Fewer than four bytes in all.
        input.compression_ = DetectCompression(head);
        if (input.compression_ != Compression::None) {
            decompressor = Decompressor::Create(input.compression_, input.name_);
            if (!decompressor) refuse(input.compression_);
            decompressor->Feed(head, input.buffer_);
        } else if (!head.empty()) {
            std::memcpy(input.buffer_.Space(head.size()), head.data(), head.size());
            input.buffer_.Commit(head.size());
        }
    }
    if (decompressor) decompressor->Finish();
    return input;
}

}  // namespace fd::host
