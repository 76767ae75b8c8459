#include "terrain/huge_pages.h"

#include <chrono>

namespace octree_build {

void advise_huge_pages(const void* p, std::size_t bytes) {
#ifdef __linux__
    if (bytes < kLargeArray) return;
    constexpr std::uintptr_t page = 4096, hugePage = std::uintptr_t{2} << 20;
    // Faster than this, a fresh huge page beats 512 small ones (about
    // 0.8 ms where the host backs the guest's memory afresh).
    constexpr auto kQuick = std::chrono::microseconds(1000);
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = (a + page - 1) & ~(page - 1), end = (a + bytes) & ~(page - 1);
    const std::uintptr_t first = (a + hugePage - 1) & ~(hugePage - 1);
    if (end <= begin) return;
#ifdef MADV_POPULATE_WRITE
    // Huge page after huge page, each backed at once and timed: the quick
    // ones are memory the system freed a moment ago, and once one is slow
    // the rest of the range keeps small pages (as the kernel backs them when
    // they are written). The range is written in full before it is read, so
    // backing it early costs nothing extra.
    for (std::uintptr_t at = first; at + hugePage <= end; at += hugePage) {
        void* const huge = reinterpret_cast<void*>(at);
        if (madvise(huge, hugePage, MADV_HUGEPAGE) != 0) return;
        const auto start = std::chrono::steady_clock::now();
        // Refused by an older system: the hint alone, for the whole range.
        if (madvise(huge, hugePage, MADV_POPULATE_WRITE) != 0) break;
        if (std::chrono::steady_clock::now() - start > kQuick) {
            const std::uintptr_t rest = at + hugePage;
            if (rest < end) madvise(reinterpret_cast<void*>(rest), end - rest, MADV_NOHUGEPAGE);
            return;
        }
        if (at + 2 * hugePage > end) return;  // every whole huge page backed
    }
#endif
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace octree_build
