// A large-page heap for big designs, on glibc systems.
//
// Opening a 70 MB design makes the loader write some 270 MB of fresh heap.
// Faulted in 4 kB at a time, that took more than half of a one-second open on
// our machines. Transparent huge pages need 512 times fewer faults, but most
// systems grant them only to ranges marked with madvise(MADV_HUGEPAGE), and
// glibc offers no hook to mark its heap (its hugetlb tunable is read from the
// environment at start-up only). So the heap is grown ahead of time instead:
// allocate the announced size, mark the range, and free it again to the top of
// the heap, where the next allocations are carved from. Big blocks are kept in
// the heap rather than in mappings of their own, and the top is not trimmed,
// so the marked range stays in use for the whole load.
#include <cstdint>
#include <cstdlib>

#include "platform/platform.h"

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NL_SANITIZED_HEAP 1
#endif
#endif
#ifndef NL_SANITIZED_HEAP
#define NL_LARGE_PAGE_HEAP 1
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif
#endif

namespace nl {

#ifdef NL_LARGE_PAGE_HEAP

namespace {

// Below this, small pages cost little and a big reservation would only waste address space.
constexpr size_t kMinReserve = size_t(32) << 20;
constexpr uintptr_t kHugePage = uintptr_t(2) << 20;

}  // namespace

void reserveLargePageHeap(size_t bytes) {
    if (bytes < kMinReserve) return;
    // Once per process; without both settings the reservation would not stay in the heap.
    static const bool tuned = mallopt(M_MMAP_THRESHOLD, 1 << 30) == 1 && mallopt(M_TRIM_THRESHOLD, 1 << 30) == 1;
    if (!tuned) return;
    char* block = static_cast<char*>(std::malloc(bytes));
    if (!block) return;
    // Only a block inside the program break is handed back to the heap's top;
    // anything else (a mapping of its own) would be unmapped by free().
    if (block < static_cast<char*>(sbrk(0))) {
        const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHugePage - 1);
        if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
    std::free(block);
}

#else

void reserveLargePageHeap(size_t) {}

#endif

}  // namespace nl
