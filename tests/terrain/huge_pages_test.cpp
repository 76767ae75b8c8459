// The huge-page hint backs and times part of an array before it is written,
// and may be given an array that already holds data: nothing in it changes.
#include "terrain/huge_pages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace {

TEST(HugePages, TheHintLeavesEveryValueAsItWas) {
    // Mapped blocks of BigAllocator and arrays from elsewhere, at odd
    // offsets and sizes: below the limit, without a whole huge page inside,
    // and spanning several.
    for (const std::size_t count : {std::size_t{1000}, (octree_build::kLargeArray / 8) + 3, std::size_t{3} << 20}) {
        octree_build::BigVector<std::uint64_t> big(count);
        std::iota(big.begin(), big.end(), std::uint64_t{7});
        octree_build::advise_huge_pages(big.data(), big.size() * sizeof(std::uint64_t));
        for (std::size_t i = 0; i < count; ++i) ASSERT_EQ(big[i], i + 7) << count << " at " << i;

        std::vector<std::uint32_t> plain(2 * count + 1);
        std::iota(plain.begin(), plain.end(), std::uint32_t{3});
        octree_build::advise_huge_pages(plain.data() + 1, (plain.size() - 1) * sizeof(std::uint32_t));
        for (std::size_t i = 0; i < plain.size(); ++i) ASSERT_EQ(plain[i], i + 3) << count << " at " << i;
    }
}

}  // namespace
