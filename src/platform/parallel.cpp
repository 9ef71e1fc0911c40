#include "platform/parallel.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tarlo {

namespace {

// Takes jobs until none is left; a job's failure is kept under its number.
void takeJobs(std::atomic<size_t>& next, size_t count, const std::function<void(size_t)>& work,
              std::vector<std::exception_ptr>& failures) {
    for (size_t k; (k = next++) < count;) {
        try {
            work(k);
        } catch (...) {
            failures[k] = std::current_exception();
        }
    }
}

void rethrowFirst(const std::vector<std::exception_ptr>& failures) {
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace

size_t coreCount() {
    // TARLO_THREADS stands in for the cores, so the race checks and the tests
    // run with as many threads as they ask for on any machine.
    static const size_t count = [] {
        size_t n = std::thread::hardware_concurrency();
        if (const char* forced = std::getenv("TARLO_THREADS")) {
            size_t value = 0;
            const char* end = forced + std::strlen(forced);
            if (const auto [at, error] = std::from_chars(forced, end, value); error == std::errc() && at == end && at != forced)
                n = value;
        }
        return std::clamp<size_t>(n, 1, kMostThreads);
    }();
    return count;
}

void onThreads(size_t count, size_t threads, const std::function<void(size_t)>& work) {
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> failures(count);
    const auto take = [&] { takeJobs(next, count, work, failures); };
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
    rethrowFirst(failures);
}

void onThreadsWatched(size_t count, size_t threads, const std::function<void(size_t)>& work,
                      const std::function<bool()>& goOn) {
    std::atomic<size_t> next{0};
    std::vector<std::exception_ptr> failures(count);
    std::mutex lock;
    std::condition_variable finished;
    size_t running = 0;
    std::vector<std::thread> workers;
    const size_t wanted = std::min(threads, count);
    workers.reserve(wanted);
    for (size_t t = 0; t < wanted; ++t) {
        {
            const std::lock_guard guard(lock);
            ++running;
        }
        try {
            workers.emplace_back([&] {
                takeJobs(next, count, work, failures);
                const std::lock_guard guard(lock);
                if (--running == 0) finished.notify_one();
            });
        } catch (const std::system_error&) {
            const std::lock_guard guard(lock);
            --running;
            break;  // fewer threads: the ones running take the rest
        }
    }
    if (workers.empty()) {
        takeJobs(next, count, work, failures);
    } else {
        std::unique_lock guard(lock);
        while (!finished.wait_for(guard, std::chrono::milliseconds(10), [&] { return running == 0; })) {
            guard.unlock();
            if (goOn && !goOn()) next = count;  // no new job; the running ones hear it too
            guard.lock();
        }
    }
    for (std::thread& worker : workers) worker.join();
    rethrowFirst(failures);
}

}  // namespace tarlo
