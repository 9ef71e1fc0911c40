// Jobs spread over threads: each taken once, and a failure reported only
// after every other job has run.
#include "platform/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
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
