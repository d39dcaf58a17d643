// What the machine charges for memory a process writes for the first time,
// next to writing memory it already holds: cfdecode writes every value
// change and every record into fresh memory once, so this cost sets a floor
// under its time that no code change removes. Prints one JSON object:
// milliseconds per MiB for fresh 4 KiB pages, fresh memory advised for huge
// pages, and memory written a second time.
//   touch_bench [MiB]
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double MillisecondsPerMiB(size_t mib, bool huge, bool again) {
    const size_t bytes = mib << 20;
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 0;
    auto* data = static_cast<char*>(memory);
#if defined(MADV_HUGEPAGE)
    if (huge) madvise(data, bytes, MADV_HUGEPAGE);
#else
    (void)huge;
#endif
    if (again) std::memset(data, 1, bytes);
    const auto started = std::chrono::steady_clock::now();
    std::memset(data, 2, bytes);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    munmap(data, bytes);
    return seconds * 1e3 / static_cast<double>(mib);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    if (mib == 0) {
        std::fprintf(stderr, "usage: touch_bench [MiB]\n");
        return 2;
    }
    const double small = MillisecondsPerMiB(mib, false, false);
    const double huge = MillisecondsPerMiB(mib, true, false);
    const double again = MillisecondsPerMiB(mib, true, true);
    std::printf(
        "{\"mib\": %zu, \"fresh_4k_ms_per_mib\": %.4f, \"fresh_huge_ms_per_mib\": %.4f, "
        "\"written_again_ms_per_mib\": %.4f}\n",
        mib, small, huge, again);
    return 0;
}
