#pragma once
#include <cstddef>
#include <vector>

// Large lists of records (the laser list takes about a gigabyte on a
// survey of ten million pulses) are faulted in page by page when first
// written: with 4 KiB pages that is a quarter of a million faults per
// gigabyte, each clearing its page, which costs about as much as making
// the records. Where the system offers transparent huge pages on request
// (Linux, "madvise" mode), memory asked for here is backed by 2 MiB pages
// instead. Elsewhere, or for small sizes, these are plain allocations.

// Asks for huge pages over the whole 2 MiB blocks inside [p, p + bytes).
// Only memory not yet touched is affected. Does nothing where unsupported.
void advise_huge_pages(void* p, std::size_t bytes);

// Empties v and makes room for n elements in it. When that takes a fresh
// allocation (the old one is released first, so the two are never held
// together), huge pages are asked for over it before anything is written.
template <typename T>
void empty_with_room(std::vector<T>& v, std::size_t n) {
    v.clear();
    if (v.capacity() >= n) return;
    std::vector<T>().swap(v);
    v.reserve(n);
    advise_huge_pages(v.data(), v.capacity() * sizeof(T));
}
