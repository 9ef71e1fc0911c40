// Pages from mmap, grown with mremap: growing moves page mappings, not bytes,
// so no copy and no fresh faults. Transparent huge pages are requested
// because page faults, not parsing, dominate the load of large files.
#include "platform/pages.h"

#include <sys/mman.h>

namespace tarlo {

void* growPages(void* old, size_t oldBytes, size_t newBytes) {
    void* p = old ? ::mremap(old, oldBytes, newBytes, MREMAP_MAYMOVE)
                  : ::mmap(nullptr, newBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    ::madvise(p, newBytes, MADV_HUGEPAGE);
    return p;
}

bool shrinkPages(void* pages, size_t bytes, size_t keepBytes) {
    return ::mremap(pages, bytes, keepBytes, 0) != MAP_FAILED;
}

void releasePages(void* pages, size_t bytes) {
    ::munmap(pages, bytes);
}

}  // namespace tarlo
