#pragma once

// Work on independent items shared out between this thread and one more.

#include <cstddef>
#include <functional>

// Runs work(i) for every i below `count`. With `shared` (and a second core) a second thread
// helps: each thread takes the next item not yet taken, so items start in order but may end in
// any order; work(i) must touch nothing another item touches. An exception from any item stops
// the taking of new items and is rethrown here once both threads are done.
void ForEachShared(size_t count, bool shared, const std::function<void(size_t)>& work);
