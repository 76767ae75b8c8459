#pragma once
// Big arrays that ask the kernel for transparent huge pages: written once
// in full, they then take a page fault per 2 MiB rather than per 4 KiB.
// Only a hint; without it (or off Linux) they are plain memory.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace octree_build {

// An allocator for big scratch arrays: blocks of 4 MiB and more are mapped
// on their own and marked for huge pages.
template <class T>
struct BigAllocator {
    using value_type = T;
    BigAllocator() = default;
    template <class U>
    BigAllocator(const BigAllocator<U>&) {}
    static constexpr std::size_t kLarge = std::size_t{4} << 20;

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
#ifdef __linux__
        if (bytes >= kLarge) {
            void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            madvise(p, bytes, MADV_HUGEPAGE);  // a hint: without it, plain pages
            return static_cast<T*>(p);
        }
#endif
        return static_cast<T*>(::operator new(bytes, std::align_val_t(alignof(T))));
    }
    void deallocate(T* p, std::size_t n) {
#ifdef __linux__
        if (n * sizeof(T) >= kLarge) {
            munmap(p, n * sizeof(T));
            return;
        }
#endif
        ::operator delete(p, std::align_val_t(alignof(T)));
    }
    // An element made without a value is left as it comes (default
    // initialised): every big array is written in full before it is read,
    // and clearing it first would only write it twice.
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const BigAllocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const BigAllocator<U>&) const { return false; }
};

// The same hint for an array allocated elsewhere, before it is first
// written (the part of it that covers whole pages).
inline void advise_huge_pages(const void* p, std::size_t bytes) {
#ifdef __linux__
    if (bytes < BigAllocator<char>::kLarge) return;
    const std::uintptr_t page = 4096, a = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = (a + page - 1) & ~(page - 1), end = (a + bytes) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

template <class T>
using BigVector = std::vector<T, BigAllocator<T>>;

}  // namespace octree_build
