// The host's heap for objects handed to it.
#include "HostApi.h"
#include "StandInHost.h"

#include <cstdlib>

void* MaxHeapOperators::operator new(std::size_t size) noexcept
{
    return standin::TheHeapFault().Fails() ? nullptr : std::malloc(size);
}

void MaxHeapOperators::operator delete(void* pointer) noexcept
{
    std::free(pointer);
}
