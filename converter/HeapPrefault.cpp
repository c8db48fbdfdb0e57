#include "HeapPrefault.h"

#include <algorithm>
#include <cstdlib>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace {

// Bytes faulted in per byte of input. Each input byte of a mesh becomes about three bytes of
// heap while the import runs (the loader's vertices alone are two), so two stays below what any
// conversion uses, unless most of the file is LOD meshes left out.
constexpr uint64_t bytesPerInputByte = 2;

// Past this, the heap's next blocks would come from mmap, not the stretch (main's mallopt).
constexpr uint64_t mostBytes = uint64_t(768) << 20;

} // namespace

HeapPrefault::HeapPrefault(uint64_t inputBytes)
{
#ifdef MADV_POPULATE_WRITE
    if (inputBytes < largeInputBytes)
        return;
    const long page = sysconf(_SC_PAGESIZE);
    const uint64_t physical = uint64_t(sysconf(_SC_PHYS_PAGES)) * uint64_t(page > 0 ? page : 4096);
    const size_t size = size_t(std::min({inputBytes * bytesPerInputByte, mostBytes, physical / 4}));
    // The heap keeps freed memory (main's mallopt), so a block allocated and freed at once is
    // where the next allocations go.
    auto* const block = static_cast<char*>(std::malloc(size));
    if (!block || page <= 0)
        return;
    const auto pageMask = ~(uintptr_t(page) - 1);
    const uintptr_t start = (uintptr_t(block) + uintptr_t(page) - 1) & pageMask;
    const uintptr_t end = (uintptr_t(block) + size) & pageMask;
    std::free(block);
    try {
        worker = std::thread([start, end] {
            // In steps, from the start, which the conversion reaches first. A step that fails
            // (no memory, an old kernel) ends the work: the conversion faults the rest itself.
            constexpr uintptr_t step = 2 << 20;
            for (uintptr_t at = start; at < end; at += step)
                if (madvise(reinterpret_cast<void*>(at), std::min(step, end - at), MADV_POPULATE_WRITE) != 0)
                    break;
        });
    } catch (const std::system_error&) {
        // No thread: the conversion faults its memory in itself.
    }
#else
    (void)inputBytes;
#endif
}

HeapPrefault::~HeapPrefault()
{
    if (worker.joinable())
        worker.join();
}
