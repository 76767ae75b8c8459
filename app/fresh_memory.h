#pragma once
#include <cstddef>
#include <vector>

// Large lists of records (the laser list takes about a gigabyte on a
// survey of ten million pulses) are backed by memory page by page as they
// are first written: a fault per 4 KiB page, a quarter of a million per
// gigabyte, each costing about as much again as writing the page.

// Asks the system to back the pages of [p, p + bytes) for writing now, in
// one call instead of a fault per page (Linux 5.14 on; elsewhere, and
// where refused, nothing happens and the pages fault in as usual). Their
// contents are not changed. Meant for a run that is about to be written
// in full, a few hundred kilobytes at a time, so the cleared pages are
// still in the cache when written.
void prefault_for_writing(void* p, std::size_t bytes);

// Empties v and makes room for n elements in it. When that takes a fresh
// allocation the old one is released first, so the two are never held
// together.
template <typename T>
void empty_with_room(std::vector<T>& v, std::size_t n) {
    v.clear();
    if (v.capacity() >= n) return;
    std::vector<T>().swap(v);
    v.reserve(n);
}
