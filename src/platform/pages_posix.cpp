// Pages from mmap, grown with mremap: growing moves page mappings, not bytes,
// so no copy and no fresh faults. A mapping of 8 MB or more asks for huge
// pages: on the virtual machines we build on, a fresh small page costs
// about 5 us at its first touch, most of a large file's load. A join of a
// 10M-row file took 2.2 s instead of 3.1, and 3.3 s instead of 4.9 with
// the free memory cut into single pages by another program (where the
// system compacts memory for them). An earlier trial, which asked for them
// for every buffer however small, had found loads slower on such memory.
#include "platform/pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

// The sanitizers watch memory as it is mapped and unmapped; under them no
// pages are kept for reuse, so a use after release is still seen.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define TARLO_PAGES_UNKEPT 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define TARLO_PAGES_UNKEPT 1
#endif
#endif

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

[[maybe_unused]] size_t pageSize() {
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    return page;
}

[[maybe_unused]] size_t wholePages(size_t bytes) {
    return (bytes + pageSize() - 1) / pageSize() * pageSize();
}

#ifndef TARLO_PAGES_UNKEPT
// The last few released mappings of 256 KB to 32 MB, 64 MB in all, kept for
// the next ask: a statement run again asks for the same buffers, and a
// fresh page costs a fault at its first write (on a virtual machine, most
// of a repeated run's time), a kept one only its zeroing.
class KeptPages {
public:
    // Pages for bytes from a kept mapping at least as large and at most
    // twice, its tail given back; null when none is kept. A small ask is
    // left to the system: its few faults cost less than a kept mapping.
    void* take(size_t bytes) {
        const size_t want = wholePages(bytes);
        if (want < kLeastOne) return nullptr;
        std::lock_guard lock(lock_);
        size_t best = kSlots;
        for (size_t i = 0; i < kSlots; ++i)
            if (slots_[i].pages && slots_[i].bytes >= want && slots_[i].bytes / 2 <= want &&
                (best == kSlots || slots_[i].bytes < slots_[best].bytes))
                best = i;
        if (best == kSlots) return nullptr;
        Slot slot = slots_[best];
        slots_[best] = {};
        kept_ -= slot.bytes;
        if (slot.bytes > want) ::munmap(static_cast<char*>(slot.pages) + want, slot.bytes - want);
        std::memset(slot.pages, 0, want);
        return slot.pages;
    }
    // Whether the mapping is kept (else the caller unmaps it).
    bool keep(void* pages, size_t bytes) {
        bytes = wholePages(bytes);
        if (bytes > kMostOne || bytes < kLeastOne) return false;
        std::lock_guard lock(lock_);
        while (kept_ + bytes > kMostAll) drop(oldest());
        size_t at = 0;
        while (at < kSlots && slots_[at].pages) ++at;
        if (at == kSlots) drop(at = oldest());
        slots_[at] = {pages, bytes, ++clock_};
        kept_ += bytes;
        return true;
    }

private:
    struct Slot {
        void* pages = nullptr;
        size_t bytes = 0;
        unsigned long long age = 0;
    };
    static constexpr size_t kSlots = 8, kLeastOne = size_t(256) << 10, kMostOne = size_t(32) << 20,
                            kMostAll = size_t(64) << 20;
    size_t oldest() const {
        size_t at = kSlots;
        for (size_t i = 0; i < kSlots; ++i)
            if (slots_[i].pages && (at == kSlots || slots_[i].age < slots_[at].age)) at = i;
        return at;
    }
    void drop(size_t i) {
        if (i >= kSlots || !slots_[i].pages) return;
        ::munmap(slots_[i].pages, slots_[i].bytes);
        kept_ -= slots_[i].bytes;
        slots_[i] = {};
    }
    std::mutex lock_;
    Slot slots_[kSlots];
    size_t kept_ = 0;
    unsigned long long clock_ = 0;
};

KeptPages& keptPages() {
    static KeptPages* kept = new KeptPages;  // never destroyed: released pages may come at exit
    return *kept;
}
#endif

constexpr size_t kHuge = size_t(8) << 20;  // a mapping this large asks for huge pages

void* freshPages(size_t bytes, bool filling) {
#ifndef TARLO_PAGES_UNKEPT
    if (void* p = keptPages().take(bytes)) return p;
#endif
    const int populate = filling && bytes < kHuge ? MAP_POPULATE : 0;
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | populate, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // Asked before the pages are given, which they then are in huge ones
    // where the system has them. Not populated: a huge page costs little
    // at its first touch, and the threads that fill a large array clear
    // its pages in parallel where populating would clear them all on one.
    if (bytes >= kHuge) ::madvise(p, bytes, MADV_HUGEPAGE);
    return p;
}

}  // namespace

void* growPages(void* old, size_t oldBytes, size_t newBytes, bool filling) {
    if (!old) return freshPages(newBytes, filling);
#ifdef TARLO_PAGES_BY_COPY
    void* p = freshPages(newBytes, filling);
    if (!p) return nullptr;
    std::memcpy(p, old, oldBytes);
    ::munmap(old, oldBytes);
    return p;
#else
    void* p = ::mremap(old, oldBytes, newBytes, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return nullptr;
    if (oldBytes < kHuge && newBytes >= kHuge) ::madvise(p, newBytes, MADV_HUGEPAGE);  // for the pages still to come
    return p;
#endif
}

bool shrinkPages(void* pages, size_t bytes, size_t keepBytes) {
#ifdef TARLO_PAGES_BY_COPY
    // The pages past the last one kept are unmapped, which the sanitizer sees.
    const size_t kept = wholePages(keepBytes);
    return kept >= bytes || ::munmap(static_cast<char*>(pages) + kept, bytes - kept) == 0;
#else
    return ::mremap(pages, bytes, keepBytes, 0) != MAP_FAILED;
#endif
}

void releasePages(void* pages, size_t bytes) {
#ifndef TARLO_PAGES_UNKEPT
    if (keptPages().keep(pages, bytes)) return;
#endif
    ::munmap(pages, bytes);
}

}  // namespace tarlo
