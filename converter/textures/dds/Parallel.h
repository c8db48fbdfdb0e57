#pragma once

// Work split into parts for the threads a caller can spare, inside the DDS reader and PNG writer.

#include <cstddef>
#include <functional>

namespace dds::detail {

// Runs part(0, ...) to part(count - 1, ...) on up to `threads` threads, this one among them,
// each thread taking the next part as it finishes one. `worker` tells the threads apart: 0 is
// this one, the others 1 to threads - 1. If a part throws, the parts not yet begun are skipped
// and the first exception is thrown here once every thread has stopped. If no thread can be
// started, this one does every part.
void RunParts(size_t count, unsigned threads, const std::function<void(size_t part, unsigned worker)>& part);

} // namespace dds::detail
