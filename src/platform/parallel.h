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

}  // namespace tarlo
