#include "platform/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace tarlo {

void onThreads(size_t count, size_t threads, const std::function<void(size_t)>& work) {
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> failures(count);
    const auto take = [&] {
        for (size_t k; (k = next++) < count;) {
            try {
                work(k);
            } catch (...) {
                failures[k] = std::current_exception();
            }
        }
    };
    std::vector<std::thread> helpers;
    const size_t wanted = std::min(threads, count);
    helpers.reserve(wanted);
    try {
        for (size_t t = 1; t < wanted; ++t) helpers.emplace_back(take);
    } catch (const std::system_error&) {
        // Fewer threads: the ones running take the rest.
    }
    take();
    for (std::thread& helper : helpers) helper.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace tarlo
