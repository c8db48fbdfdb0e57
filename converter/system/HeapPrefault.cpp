#include "HeapPrefault.h"

#include <algorithm>
#include <cstdlib>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace {

// Bytes faulted in per four bytes of input. At its peak a conversion holds 2.3 (separate quads)
// to 2.6 (shared grids) times its input, so 2.25 stays below what a conversion uses and peak
// memory does not grow, unless much of the file is LOD meshes that are left out.
constexpr uint64_t bytesPerFourInputBytes = 9;

// Beyond this size, the heap would serve its next blocks from mmap, not from the prefaulted
// stretch (see the mallopt calls in main).
constexpr uint64_t mostBytes = uint64_t(768) << 20;

} // namespace

HeapPrefault::HeapPrefault(uint64_t inputBytes)
{
#ifdef MADV_POPULATE_WRITE
    if (inputBytes < prefaultInputBytes)
        return;
    const long page = sysconf(_SC_PAGESIZE);
    const uint64_t physical = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(page > 0 ? page : 4096);
    const size_t size = size_t(std::min({inputBytes / 4 * bytesPerFourInputBytes, mostBytes, physical / 4}));
    // The heap keeps freed memory (see mallopt in main), so the next allocations go where this
    // block, allocated and freed at once, lies.
    auto* const block = static_cast<char*>(std::malloc(size));
    if (!block || page <= 0)
        return;
    const auto pageMask = ~(uintptr_t(page) - 1);
    const uintptr_t start = (uintptr_t(block) + uintptr_t(page) - 1) & pageMask;
    const uintptr_t end = (uintptr_t(block) + size) & pageMask;
    std::free(block);
#ifdef MADV_HUGEPAGE
    // Huge pages where the system allows them: a fault a 2 MiB page instead of a 4 KiB one.
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
    try {
        worker = std::thread([this, start, end] {
            // Work from the start, where the conversion fills the heap: a huge page is mapped
            // faster than the loader fills it, so this thread stays ahead and the conversion
            // finds its pages ready. A step is a huge page, short since each locks the memory
            // map, which the conversion needs to map files. If a step fails (no memory, old
            // kernel), the conversion faults the rest.
            constexpr uintptr_t step = 2 << 20;
            for (uintptr_t at = start; at < end && !stopped;) {
                const uintptr_t to = at + std::min(step, end - at);
                if (madvise(reinterpret_cast<void*>(at), to - at, MADV_POPULATE_WRITE) != 0)
                    break;
                at = to;
            }
        });
    } catch (const std::system_error&) {
        // Without a thread, the conversion faults its memory in itself.
    }
#else
    (void)inputBytes;
#endif
}

HeapPrefault::~HeapPrefault()
{
    stopped = true; // a conversion that failed early does not wait for memory it will not use
    if (worker.joinable())
        worker.join();
}
