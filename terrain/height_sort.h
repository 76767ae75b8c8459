#pragma once
// The sort of the triangle list's (topZ, position) keys, greatest topZ
// first. The order of keys with equal heights is not defined by the
// comparison, so it is defined by the algorithm: the introsort of the C++
// library this program is built with (GCC 12's libstdc++), whose steps are
// repeated here exactly, so that every build keeps the order it has always
// had. What differs is only how the partition finds its elements: in
// blocks, without a branch per element (see partition_blocks).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace height_sort {

using Key = std::pair<double, std::uint32_t>;  // (topZ, position)

// The one comparison: greater height first.
inline bool before(const Key& l, const Key& r) { return l.first > r.first; }

// The library's partition of [first, last) around *pivot (which lies
// before first): the left scan stops at a key not before the pivot, the
// right scan at a key the pivot is not before, the two are swapped, until
// the scans cross; returns where the left scan stopped last.
inline Key* partition_plain(Key* first, Key* last, const Key* pivot) {
    while (true) {
        while (before(*first, *pivot)) ++first;
        --last;
        while (before(*pivot, *last)) --last;
        if (!(first < last)) return first;
        std::iter_swap(first, last);
        ++first;
    }
}

// The same partition. Until the scans cross, the k-th swap exchanges the
// k-th stop of the left scan with the k-th stop of the right scan, and
// both are where the keys (untouched by the swaps so far) stop the scans.
// So the stops are found a block at a time on each side, without branches,
// and swapped in pairs while the blocks lie apart; near the crossing the
// plain partition goes on from the last swap, in the very state it would
// have reached itself.
inline Key* partition_blocks(Key* first, Key* last, const Key* pivot) {
    constexpr std::ptrdiff_t kBlock = 128;
    if (last - first < 2 * kBlock) return partition_plain(first, last, pivot);
    const double p = pivot->first;
    std::uint8_t leftStops[kBlock], rightStops[kBlock];
    std::ptrdiff_t leftCount = 0, leftDone = 0, rightCount = 0, rightDone = 0;
    Key* leftBlock = first;  // the left block, once scanned
    Key* rightBlock = last;  // one past the right block's top, once scanned
    Key* nextLeft = first;   // the first key not yet scanned from the left
    Key* nextRight = last;   // one past the last key not yet scanned from the right
    Key* swappedLeft = nullptr;
    Key* swappedRight = nullptr;
    while (true) {
        if (leftDone == leftCount && nextRight - nextLeft >= kBlock) {
            leftCount = leftDone = 0;
            for (std::ptrdiff_t j = 0; j < kBlock; ++j) {
                leftStops[leftCount] = static_cast<std::uint8_t>(j);
                leftCount += !(nextLeft[j].first > p);
            }
            leftBlock = nextLeft;
            nextLeft += kBlock;
        }
        if (rightDone == rightCount && nextRight - nextLeft >= kBlock) {
            rightCount = rightDone = 0;
            for (std::ptrdiff_t j = 0; j < kBlock; ++j) {
                rightStops[rightCount] = static_cast<std::uint8_t>(j);
                rightCount += !(p > nextRight[-1 - j].first);
            }
            rightBlock = nextRight;
            nextRight -= kBlock;
        }
        const std::ptrdiff_t pairs = std::min(leftCount - leftDone, rightCount - rightDone);
        if (pairs == 0) break;
        for (std::ptrdiff_t k = 0; k < pairs; ++k)
            std::iter_swap(leftBlock + leftStops[leftDone + k], rightBlock - 1 - rightStops[rightDone + k]);
        leftDone += pairs;
        rightDone += pairs;
        swappedLeft = leftBlock + leftStops[leftDone - 1];
        swappedRight = rightBlock - 1 - rightStops[rightDone - 1];
    }
    if (swappedLeft == nullptr) return partition_plain(first, last, pivot);
    return partition_plain(swappedLeft + 1, swappedRight, pivot);
}

// The library's choice of pivot: the median of the second, middle and last
// keys, swapped to the front.
inline void move_median_to_first(Key* result, Key* a, Key* b, Key* c) {
    if (before(*a, *b)) {
        if (before(*b, *c))
            std::iter_swap(result, b);
        else if (before(*a, *c))
            std::iter_swap(result, c);
        else
            std::iter_swap(result, a);
    } else if (before(*a, *c)) {
        std::iter_swap(result, a);
    } else if (before(*b, *c)) {
        std::iter_swap(result, c);
    } else {
        std::iter_swap(result, b);
    }
}

// The library's final insertion sort, which moves a key before the ones it
// is before, one at a time (and so keeps the order of equal keys).
inline void insertion_sort(Key* first, Key* last) {
    if (first == last) return;
    for (Key* i = first + 1; i != last; ++i) {
        Key value = *i;
        Key* hole = i;
        while (hole != first && before(value, hole[-1])) {
            *hole = hole[-1];
            --hole;
        }
        *hole = value;
    }
}

// The library's introsort loop: ranges of more than 16 keys are
// partitioned, the right part first, until the depth limit, where a heap
// sort (the library's own, through std::partial_sort) takes the range.
// The library then runs one insertion sort over the whole list. A key
// never moves past a partition's cut in it (every key left of a cut is
// before or equal to every key right of it, and an insertion sort moves a
// key only past keys it is before), and the heap-sorted ranges are sorted
// already: so each range left of at most 16 keys is insertion-sorted here,
// while it is at hand, with the same result (sortRest false: left as the
// library's loop leaves it, for comparison).
template <Key* (*Partition)(Key*, Key*, const Key*), bool sortRest = true>
void introsort_loop(Key* first, Key* last, std::ptrdiff_t depthLimit) {
    while (last - first > 16) {
        if (depthLimit == 0) {
            std::partial_sort(first, last, last, before);
            return;
        }
        --depthLimit;
        Key* const mid = first + (last - first) / 2;
        move_median_to_first(first, first + 1, mid, last - 1);
        Key* const cut = Partition(first + 1, last, first);
        introsort_loop<Partition, sortRest>(cut, last, depthLimit);
        last = cut;
    }
    if (sortRest) insertion_sort(first, last);
}

// 2 floor(log2(n)), the library's depth limit.
inline std::ptrdiff_t depth_limit(std::ptrdiff_t n) {
    std::ptrdiff_t lg = 0;
    while ((n >> (lg + 1)) != 0) ++lg;
    return 2 * lg;
}

// Sorts as std::sort(first, last, before) does, to the same order. With a
// NaN height the comparison is no order at all, and std::sort itself runs.
template <Key* (*Partition)(Key*, Key*, const Key*) = partition_blocks>
void sort(Key* first, Key* last) {
    if (first == last) return;
    for (const Key* k = first; k != last; ++k)
        if (std::isnan(k->first)) {
            std::sort(first, last, before);
            return;
        }
    introsort_loop<Partition>(first, last, depth_limit(last - first));
}

}  // namespace height_sort
