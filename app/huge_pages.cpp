#include "app/huge_pages.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {
// Below this, huge pages save too little to ask for.
constexpr std::size_t kWorthwhile = std::size_t(8) << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
}  // namespace

void advise_huge_pages(void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (!p || bytes < kWorthwhile) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHugePage - 1);
    if (last <= first) return;
    // Advice only: a refusal (no transparent huge pages) changes nothing.
    (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}
