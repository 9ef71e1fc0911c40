// Pages from VirtualAlloc. Windows cannot move a mapping, so growing copies
// into a fresh region; shrinking decommits the tail, which the release of
// the whole region later frees with the rest.
#include "platform/pages.h"

#include <cstring>

#include <windows.h>

namespace tarlo {

void* growPages(void* old, size_t oldBytes, size_t newBytes, bool) {
    void* p = ::VirtualAlloc(nullptr, newBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!p) return nullptr;
    if (old) {
        std::memcpy(p, old, oldBytes);
        ::VirtualFree(old, 0, MEM_RELEASE);
    }
    return p;
}

bool shrinkPages(void* pages, size_t bytes, size_t keepBytes) {
    constexpr size_t kPage = 4096;
    const size_t from = (keepBytes + kPage - 1) / kPage * kPage;
    if (from >= bytes) return false;
    return ::VirtualFree(static_cast<char*>(pages) + from, bytes - from, MEM_DECOMMIT);
}

void releasePages(void* pages, size_t) {
    ::VirtualFree(pages, 0, MEM_RELEASE);
}

}  // namespace tarlo
