// The converter is the host process, so how its heap is backed is its own choice. A large
// conversion fills hundreds of megabytes of fresh memory, and a fresh 4 KiB page costs a fault
// and a zeroing each: on the machines this runs on that fills memory several times slower
// than rewriting it. So every part the heap grows by is offered to the kernel for transparent
// huge pages (2 MiB a fault), which it honours when its policy is "madvise" or "always".
//
// Main keeps large blocks on the heap (no separate mappings) and never trims it, so the heap
// is where the memory is. The check is made on each operator new: the heap's end is a cached
// value, and grows rarely (by at least the top pad main asks for).
#include <cstdint>
#include <cstdlib>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace {

uintptr_t advisedEnd = 0; // the heap up to here has been offered

constexpr uintptr_t hugePage = uintptr_t{2} << 20;

void OfferHeapGrowth()
{
    const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
    if (end <= advisedEnd + hugePage)
        return;
    // From the first whole huge page not offered yet: madvise wants page-aligned ranges, and
    // a huge page partly in use already stays small.
    const uintptr_t start = (advisedEnd + hugePage - 1) & ~(hugePage - 1);
    if (start < end)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE); // a refusal leaves small pages
    advisedEnd = end;
}

void* Allocate(std::size_t size) noexcept
{
    void* memory = std::malloc(size ? size : 1);
    if (memory)
        OfferHeapGrowth();
    return memory;
}

} // namespace

void* operator new(std::size_t size)
{
    void* memory = Allocate(size);
    if (!memory)
        throw std::bad_alloc();
    return memory;
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

// Paired with the above, so tools that check new against delete see malloc against free.
void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
