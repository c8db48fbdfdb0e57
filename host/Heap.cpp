// The host's heap for objects handed to it: plain new throws when the heap is exhausted, the
// nothrow form returns null. Both fail when a test's heap fault says so.
#include "HostApi.h"
#include "TestHooks.h"

#include <cstdlib>

void* MaxHeapOperators::operator new(std::size_t size)
{
    if (void* memory = MaxHeapOperators::operator new(size, std::nothrow))
        return memory;
    throw std::bad_alloc();
}

void* MaxHeapOperators::operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return standin::TheHeapFault().Fails() ? nullptr : std::malloc(size ? size : 1);
}

void MaxHeapOperators::operator delete(void* pointer)
{
    std::free(pointer);
}

void MaxHeapOperators::operator delete(void* pointer, const std::nothrow_t&)
{
    std::free(pointer);
}
