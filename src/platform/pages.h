// Memory taken from the system in whole pages, for the big buffers of a
// parsed table: grown without copying where the system can move mappings
// (Linux).
#pragma once

#include <cstddef>

namespace tarlo {

// Fresh zeroed pages, or grown pages keeping their content (old may be
// null, oldBytes then 0). Null when the system has no memory to give.
// filling: the caller writes them all soon, so small fresh pages are best
// given at once (on Linux, a page at its first write costs about twice as
// much); large ones come in huge pages at their first write.
void* growPages(void* old, size_t oldBytes, size_t newBytes, bool filling = false);
// Gives back the pages past keepBytes; false when they stay.
bool shrinkPages(void* pages, size_t bytes, size_t keepBytes);
void releasePages(void* pages, size_t bytes);

}  // namespace tarlo
