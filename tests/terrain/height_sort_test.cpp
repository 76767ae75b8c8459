// The height sort must give std::sort's order exactly, also among equal
// heights, where the comparison leaves the order to the algorithm.
#include "terrain/height_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using height_sort::Key;

// Keys in position order with heights drawn from `levels` values (few
// values: many ties), in the given shape.
std::vector<Key> keys(std::size_t n, int levels, int shape, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> level(0, levels - 1);
    std::vector<Key> k(n);
    for (std::size_t i = 0; i < n; ++i) {
        double z = 100.0 + level(random) * 0.25;
        if (shape == 1) z = 100.0 + static_cast<double>(i / 7) * 0.5;          // ascending, in runs
        if (shape == 2) z = 100.0 - static_cast<double>(i / 3) * 0.5;          // already sorted
        if (shape == 3) z = (i % 2 == 0) ? 0.0 : -0.0;                         // all equal, two zeros
        if (shape == 4) z = static_cast<double>((i * 7919) % 1024) - 512.0;   // a sawtooth
        k[i] = {z, static_cast<std::uint32_t>(i)};
    }
    return k;
}

TEST(HeightSort, GivesTheLibrarySortsOrderAmongEqualHeights) {
    const auto byHeight = [](const Key& l, const Key& r) { return l.first > r.first; };
    int cases = 0;
    for (const std::size_t n : {0, 1, 2, 16, 17, 255, 256, 257, 1000, 4099, 70001, 300000})
        for (const int levels : {1, 3, 50, 100000})
            for (int shape = 0; shape < 5; ++shape) {
                std::vector<Key> expected = keys(n, levels, shape, static_cast<unsigned>(n + levels + shape));
                std::vector<Key> sorted = expected;
                std::sort(expected.begin(), expected.end(), byHeight);
                height_sort::sort(sorted.data(), sorted.data() + sorted.size());
                ASSERT_EQ(sorted, expected) << n << " keys, " << levels << " levels, shape " << shape;
                ++cases;
            }
    EXPECT_EQ(cases, 12 * 4 * 5);
}

// The block partition makes exactly the swaps of the plain one, and stops
// where it stops, for pivots chosen as the sort chooses them; with a small
// depth limit the heap sort takes over and both still agree.
TEST(HeightSort, BlockPartitionMakesThePlainPartitionsSwaps) {
    std::mt19937 random(7);
    for (int round = 0; round < 400; ++round) {
        const std::size_t n = 17 + random() % 3000;
        std::vector<Key> a = keys(n, 1 + static_cast<int>(random() % 40), round % 5 == 3 ? 0 : round % 5,
                                  static_cast<unsigned>(round));
        // The pivot: the median of three keys moved to the front, as the sort
        // does (it leaves a key on either side to stop each scan).
        height_sort::move_median_to_first(a.data(), a.data() + 1, a.data() + n / 2, a.data() + n - 1);
        std::vector<Key> b = a;
        Key* const cutPlain = height_sort::partition_plain(a.data() + 1, a.data() + n, a.data());
        Key* const cutBlocks = height_sort::partition_blocks(b.data() + 1, b.data() + n, b.data());
        ASSERT_EQ(cutBlocks - b.data(), cutPlain - a.data()) << "round " << round;
        ASSERT_EQ(a, b) << "round " << round;
    }
    for (const std::ptrdiff_t depth : {0, 1, 3}) {
        std::vector<Key> a = keys(5000, 30, 0, 11), b = a;
        height_sort::introsort_loop<height_sort::partition_plain, false>(a.data(), a.data() + a.size(), depth);
        height_sort::introsort_loop<height_sort::partition_blocks, false>(b.data(), b.data() + b.size(), depth);
        ASSERT_EQ(a, b) << "depth limit " << depth;
        // The library's one insertion sort at the end gives what sorting the
        // small ranges on the way gives.
        std::vector<Key> c = keys(5000, 30, 0, 11);
        height_sort::introsort_loop<height_sort::partition_blocks>(c.data(), c.data() + c.size(), depth);
        height_sort::insertion_sort(a.data(), a.data() + a.size());
        ASSERT_EQ(a, c) << "depth limit " << depth;
    }
}

}  // namespace
