#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace dds::detail {

void RunParts(size_t count, unsigned threads, const std::function<void(size_t part, unsigned worker)>& part)
{
    std::atomic<size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto work = [&](unsigned worker) {
        try {
            for (size_t p; (p = next++) < count;)
                part(p, worker);
        } catch (...) {
            next = count; // the others stop at their next part
            const std::lock_guard<std::mutex> hold(failureLock);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(std::min<size_t>(threads, count));
    for (unsigned worker = 1; worker < std::min<size_t>(threads, count); ++worker) {
        try {
            helpers.emplace_back(work, worker);
        } catch (const std::exception&) {
            break; // fewer threads: the parts still all get done
        }
    }
    work(0);
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace dds::detail
