// Work spread over the cores: each of a number of independent jobs is taken
// by the next free thread, the caller's among them.
#pragma once

#include <cstddef>
#include <functional>

namespace tarlo {

// work(k) once for each k in 0 .. count-1, on up to threads threads. A
// failure does not stop the other jobs; the first job's failure (by k) is
// rethrown once every thread has ended. A thread the system will not give
// leaves its jobs to the others.
void onThreads(size_t count, size_t threads, const std::function<void(size_t)>& work);

// As onThreads, but the calling thread only watches: every 10 ms it asks
// goOn, and once that says no, no job starts (the running ones must hear it
// themselves). With no thread to be had, the caller does the jobs, unwatched.
void onThreadsWatched(size_t count, size_t threads, const std::function<void(size_t)>& work,
                      const std::function<bool()>& goOn);

constexpr size_t kMostThreads = 16;

// The threads work is spread over: one a core, at least one, at most
// kMostThreads; TARLO_THREADS (a whole number) stands for the core count.
// Read once, at the first call.
size_t coreCount();

}  // namespace tarlo
