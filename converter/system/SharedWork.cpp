#include "SharedWork.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

void ForEachShared(size_t count, bool shared, const std::function<void(size_t)>& work)
{
    std::atomic<size_t> next{0};
    const auto takeItems = [&] {
        for (size_t i; (i = next++) < count;)
            work(i);
    };
    std::exception_ptr helperFailure;
    std::thread helper;
    if (shared && count > 1 && std::thread::hardware_concurrency() > 1) {
        try {
            helper = std::thread([&] {
                try {
                    takeItems();
                } catch (...) {
                    helperFailure = std::current_exception();
                    next = count;
                }
            });
        } catch (const std::system_error&) {
            // Without a second thread, this one does every item.
        }
    }
    try {
        takeItems();
    } catch (...) {
        next = count;
        if (helper.joinable())
            helper.join();
        throw;
    }
    if (helper.joinable())
        helper.join();
    if (helperFailure)
        std::rethrow_exception(helperFailure);
}
