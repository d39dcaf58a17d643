// Fixtures for the input tests: bytes gzip- and zstd-compressed as the
// command-line tools write them, zip archives of given members, and the
// opening of a GTKWave FST file.
#pragma once

#include <zip.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/zip_fixture.h"

namespace fd::test {

inline std::string GzipBytes(std::string_view data) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

// With a checksum, as the zstd tool writes by default.
inline std::string ZstdBytes(std::string_view data) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    std::string out(ZSTD_compressBound(data.size()), '\0');
    const size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(size)) throw std::runtime_error("ZSTD_compress2");
    out.resize(size);
    return out;
}

// An FST file's header block as GTKWave's writer lays it out: block type
// 0, its length 329 (big-endian), start and end time, then e as a double
// in the writer's byte order (little-endian here, or big-endian); the rest
// of the block zero. Enough to be told apart, not to be read.
inline std::string FstHeader(bool bigEndian = false) {
    std::string bytes(1 + 329, '\0');
    bytes[8] = static_cast<char>(329 & 0xFF);
    bytes[7] = static_cast<char>(329 >> 8);
    bytes[24] = 100;  // end time
    const unsigned long long e = 0x4005BF0A8B145769ull;
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<size_t>(25 + i)] = static_cast<char>((e >> (8 * (bigEndian ? 7 - i : i))) & 0xFF);
    return bytes;
}

}  // namespace fd::test
