// Pages from mmap, grown with mremap: growing moves page mappings, not bytes,
// so no copy and no fresh faults. No huge pages are asked for: where the
// system compacts memory to find them (Debian's default for regions that
// ask), a load of 10M rows took 5 to 6 s instead of 3.4 to 4 once memory
// had been used and freed by other programs.
#include "platform/pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

// ThreadSanitizer does not follow mremap: what threads wrote before a move
// stays recorded at the old addresses, and a later mapping there is then
// reported as raced. Under it, pages grow by a fresh mapping and a copy.
#if defined(__SANITIZE_THREAD__)
#define TARLO_PAGES_BY_COPY 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARLO_PAGES_BY_COPY 1
#endif
#endif

namespace tarlo {

namespace {

void* freshPages(size_t bytes) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

void* growPages(void* old, size_t oldBytes, size_t newBytes) {
    if (!old) return freshPages(newBytes);
#ifdef TARLO_PAGES_BY_COPY
    void* p = freshPages(newBytes);
    if (!p) return nullptr;
    std::memcpy(p, old, oldBytes);
    ::munmap(old, oldBytes);
    return p;
#else
    void* p = ::mremap(old, oldBytes, newBytes, MREMAP_MAYMOVE);
    return p == MAP_FAILED ? nullptr : p;
#endif
}

bool shrinkPages(void* pages, size_t bytes, size_t keepBytes) {
#ifdef TARLO_PAGES_BY_COPY
    // The pages past the last one kept are unmapped, which the sanitizer sees.
    const auto page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t keptPages = (keepBytes + page - 1) / page * page;
    return keptPages >= bytes || ::munmap(static_cast<char*>(pages) + keptPages, bytes - keptPages) == 0;
#else
    return ::mremap(pages, bytes, keepBytes, 0) != MAP_FAILED;
#endif
}

void releasePages(void* pages, size_t bytes) {
    ::munmap(pages, bytes);
}

}  // namespace tarlo
