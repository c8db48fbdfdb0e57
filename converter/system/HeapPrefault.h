#pragma once

// Fresh memory is the largest single cost of converting a large model: every page the kernel
// hands out is a fault, zeroed, and on a virtual machine often backed by the host first (2 to 3
// microseconds a page here, a third of the time). A conversion fills its heap from the bottom
// up, so a second thread can fault in the stretch it will reach later, from the far end, while
// the conversion works: on a second core those faults cost no wall time.
//
// The stretch is sized from the input file, at less than a conversion of it uses (see
// HeapPrefault.cpp), so peak memory stays what the conversion needs anyway. The thread only
// asks the kernel to map pages (MADV_POPULATE_WRITE); it never reads or writes them, so it is
// safe beside the conversion's own use of the same memory.

#include <atomic>
#include <cstdint>
#include <thread>

// Inputs from this size up are worth a helper thread; below, their faults take milliseconds.
constexpr uint64_t largeInputBytes = 8 << 20;

class HeapPrefault {
public:
    // Starts faulting in what a conversion of an input of `inputBytes` will need, if that is
    // enough to be worth a thread; otherwise does nothing.
    explicit HeapPrefault(uint64_t inputBytes);
    ~HeapPrefault(); // stops the thread where it is, and waits for that

    HeapPrefault(const HeapPrefault&) = delete;
    HeapPrefault& operator=(const HeapPrefault&) = delete;

private:
    std::thread worker;
    std::atomic<bool> stopped{false};
};
