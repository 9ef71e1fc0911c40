// Jobs spread over threads: each taken once, and a failure reported only
// after every other job has run.
#include "platform/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(OnThreads, RunsEveryJobOnceWhateverTheThreadCount) {
    for (const size_t threads : {size_t(1), size_t(3), size_t(64)}) {
        std::vector<std::atomic<int>> runs(1000);
        tarlo::onThreads(runs.size(), threads, [&](size_t k) { ++runs[k]; });
        for (size_t k = 0; k < runs.size(); ++k) EXPECT_EQ(runs[k], 1) << "job " << k << ", " << threads << " threads";
    }
    tarlo::onThreads(0, 4, [](size_t) { FAIL() << "no job to run"; });
}

TEST(OnThreads, RethrowsTheFirstFailureAfterTheRestHaveRun) {
    std::atomic<int> ran{0};
    try {
        tarlo::onThreads(100, 4, [&](size_t k) {
            ++ran;
            if (k == 70 || k == 30) throw std::runtime_error("job " + std::to_string(k));
        });
        FAIL() << "no failure came back";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "job 30");
    }
    EXPECT_EQ(ran, 100);
}

TEST(OnThreadsWatched, RunsEveryJobOnceAndStopsStartingThemWhenTheWatchSaysSo) {
    std::vector<std::atomic<int>> runs(1000);
    tarlo::onThreadsWatched(runs.size(), 3, [&](size_t k) { ++runs[k]; }, [] { return true; });
    for (size_t k = 0; k < runs.size(); ++k) EXPECT_EQ(runs[k], 1) << "job " << k;

    // Two seconds of jobs; the watch says stop at its first look, 10 ms in.
    std::atomic<int> ran{0};
    tarlo::onThreadsWatched(1000, 2, [&](size_t) {
        ++ran;
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }, [] { return false; });
    EXPECT_LT(ran, 1000);

    EXPECT_THROW(tarlo::onThreadsWatched(10, 2, [](size_t k) {
        if (k == 5) throw std::runtime_error("job 5");
    }, nullptr), std::runtime_error);
}

// TARLO_THREADS stands in for the core count (scripts/tsan sets 8), within 1 to 16.
TEST(CoreCount, FollowsTarloThreadsWithinItsBounds) {
    const size_t count = tarlo::coreCount();
    EXPECT_GE(count, 1u);
    EXPECT_LE(count, tarlo::kMostThreads);
    const char* forced = std::getenv("TARLO_THREADS");
    if (!forced) GTEST_SKIP() << "TARLO_THREADS not set";
    EXPECT_EQ(count, std::clamp<size_t>(std::strtoull(forced, nullptr, 10), 1, tarlo::kMostThreads)) << forced;
}
