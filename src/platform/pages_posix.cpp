// Pages from mmap, grown with mremap: growing moves page mappings, not bytes,
// so no copy and no fresh faults. No huge pages are asked for: where the
// system compacts memory to find them (Debian's default for regions that
// ask), a load of 10M rows took 5 to 6 s instead of 3.4 to 4 once memory
// had been used and freed by other programs.
#include "platform/pages.h"

#include <sys/mman.h>

namespace tarlo {

void* growPages(void* old, size_t oldBytes, size_t newBytes) {
    void* p = old ? ::mremap(old, oldBytes, newBytes, MREMAP_MAYMOVE)
                  : ::mmap(nullptr, newBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

bool shrinkPages(void* pages, size_t bytes, size_t keepBytes) {
    return ::mremap(pages, bytes, keepBytes, 0) != MAP_FAILED;
}

void releasePages(void* pages, size_t bytes) {
    ::munmap(pages, bytes);
}

}  // namespace tarlo
