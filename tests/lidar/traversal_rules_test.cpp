// The child-ordering rules of the octree traversal: entry child, next child,
// and what ties and undefined (NaN) parameters do to them.
#include "lidar/ray_cast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(FirstChild, EntryPlaneDecidesWhichMidpointsCount) {
    // Entry through an x plane: only z and y midpoints before the entry count.
    EXPECT_EQ(first_child(5, 1, 2, 9, 3, 7), 2u);
    EXPECT_EQ(first_child(5, 1, 2, 9, 3, 4), 3u);
    EXPECT_EQ(first_child(5, 1, 2, 1, 9, 9), 0u);  // tmx before entry is ignored
    // Entry through a z plane.
    EXPECT_EQ(first_child(1, 5, 2, 3, 9, 4), 5u);
    EXPECT_EQ(first_child(1, 5, 2, 6, 1, 9), 0u);
    // Entry through a y plane.
    EXPECT_EQ(first_child(1, 2, 5, 3, 4, 0), 6u);
    EXPECT_EQ(first_child(1, 2, 5, 6, 4, 0), 2u);
}

TEST(FirstChild, TiesAndEqualMidpointsAreNotStrict) {
    // t0x == t0z: not an x entry; z beats y, so the z plane rules.
    EXPECT_EQ(first_child(5, 5, 2, 4, 9, 4), 5u);
    // All equal: y plane.
    EXPECT_EQ(first_child(5, 5, 5, 4, 4, 4), 6u);
    // A midpoint equal to the entry parameter does not set its bit.
    EXPECT_EQ(first_child(5, 1, 2, 9, 5, 5), 0u);
    EXPECT_EQ(first_child(1, 2, 5, 5, 5, 0), 0u);
}

TEST(FirstChild, UndefinedMidpoints) {
    // Both horizontal midpoints undefined (a vertical ray): always child 0,
    // whatever the other values say.
    EXPECT_EQ(first_child(5, 1, 2, kNaN, 0, kNaN), 0u);
    EXPECT_EQ(first_child(0, 9, 0, kNaN, -kInf, kNaN), 0u);
    // One undefined midpoint only: it just never sets its bit.
    EXPECT_EQ(first_child(1, 5, 2, kNaN, 9, 4), 1u);
    EXPECT_EQ(first_child(1, 5, 2, 3, 9, kNaN), 4u);
    // NaN entry parameters lose every comparison: falls through to y.
    EXPECT_EQ(first_child(kNaN, kNaN, 0, -1, -1, 5), 6u);
}

TEST(NextChild, TableFollowsTheChildNumbering) {
    // Leaving through the upper plane of an axis sets that axis' bit, or
    // leaves the parent when the bit is already set (4 = x, 2 = z, 1 = y).
    for (unsigned current = 0; current < 8; ++current) {
        const unsigned viaX = (current & 4) ? 8 : (current | 4);
        const unsigned viaZ = (current & 2) ? 8 : (current | 2);
        const unsigned viaY = (current & 1) ? 8 : (current | 1);
        EXPECT_EQ(next_child(current, 1, 2, 3), viaX) << current;
        EXPECT_EQ(next_child(current, 2, 1, 3), viaZ) << current;
        EXPECT_EQ(next_child(current, 2, 3, 1), viaY) << current;
        EXPECT_EQ(next_child(current, 3, 2, 1), viaY) << current;
    }
}

TEST(NextChild, TiesAndNaN) {
    EXPECT_EQ(next_child(0, 1, 1, 2), 2u);  // x == z: z
    EXPECT_EQ(next_child(0, 1, 2, 1), 4u);  // x == y: keeps x
    EXPECT_EQ(next_child(0, 2, 1, 1), 2u);  // z == y: keeps z
    EXPECT_EQ(next_child(0, 1, 1, 1), 2u);  // all equal: z
    EXPECT_EQ(next_child(0, kNaN, 5, 9), 2u);   // NaN in x: z
    EXPECT_EQ(next_child(0, 1, kNaN, 9), 2u);   // NaN in z: z, and NaN > y is false
    EXPECT_EQ(next_child(0, 1, kNaN, -9), 2u);
    EXPECT_EQ(next_child(0, 1, 5, kNaN), 4u);   // NaN in y keeps the choice
    EXPECT_EQ(next_child(1, kNaN, kNaN, 0), 3u);
    EXPECT_EQ(next_child(4, kInf, kInf, 7), 5u);  // inf == inf: z, then y is smaller
    EXPECT_EQ(next_child(3, 1, 2, kNaN), 7u);
}

}  // namespace
