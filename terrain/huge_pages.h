#pragma once
// Big arrays that ask the kernel for transparent huge pages: written once
// in full, they then take a page fault per 2 MiB rather than per 4 KiB.
// Only a hint; without it (or off Linux) they are plain memory.
//
// Where fresh huge pages are slow, the array keeps small pages. In a virtual
// machine whose host takes back the free memory of the guest, a huge page
// made of such memory costs the host a fault per small page: on the
// development machine 4.5 ms per 2 MiB, against 0.8 ms for the same memory
// in small pages and 0.2 ms for a huge page freed a moment before. So a big
// array's huge pages are backed one by one as it is allocated, and timed;
// after the first slow one, the rest of the array keeps small pages.
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace octree_build {

// The hint for an array of at least kLargeArray bytes that will be written
// in full before it is read, given before it is first written: its whole
// huge pages are backed one by one, and timed, until one is slow; the rest
// keeps small pages. Its contents are not read or changed. BigAllocator
// gives it to the blocks it maps; an array allocated elsewhere can ask too.
void advise_huge_pages(const void* p, std::size_t bytes);
constexpr std::size_t kLargeArray = std::size_t{4} << 20;

// An allocator for big scratch arrays: blocks of 4 MiB and more are mapped
// on their own and marked for huge pages.
template <class T>
struct BigAllocator {
    using value_type = T;
    BigAllocator() = default;
    template <class U>
    BigAllocator(const BigAllocator<U>&) {}
    static constexpr std::size_t kLarge = kLargeArray;

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
#ifdef __linux__
        if (bytes >= kLarge) {
            void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED) throw std::bad_alloc();
            advise_huge_pages(p, bytes);  // a hint: without it, plain pages
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

template <class T>
using BigVector = std::vector<T, BigAllocator<T>>;

}  // namespace octree_build
