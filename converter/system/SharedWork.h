#pragma once

// Shares work on independent items between this thread and one more.

#include <cstddef>
#include <functional>

// Runs work(i) for every i below `count`. With `shared` (and a second core), a second thread
// helps: each thread takes the next free item, so items start in order but may finish out of
// order, and work(i) must not touch what another item touches. An exception stops new items
// being taken and is rethrown once both threads are done.
void ForEachShared(size_t count, bool shared, const std::function<void(size_t)>& work);
