#include "app/fresh_memory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

void prefault_for_writing(void* p, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    static const std::uintptr_t page = [] {
        const long size = sysconf(_SC_PAGESIZE);
        return size > 0 ? static_cast<std::uintptr_t>(size) : std::uintptr_t(4096);
    }();
    if (!p || bytes == 0) return;
    // Every page the range touches: backing a page changes nothing in it,
    // so one shared with memory before or after the range is no concern.
    const auto from = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = from & ~(page - 1);
    const std::uintptr_t end = (from + bytes + page - 1) & ~(page - 1);
    // Advice only: an older system's refusal changes nothing.
    if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
    (void)p;
    (void)bytes;
#endif
}
