// The traversal's child-ordering rules, and single lasers cast through small
// hand-built octrees. cast_both runs every cast through the pointer-tree
// functions and the flattened CastTree, which must agree bit for bit.
#include "lidar_test_scene.h"

#include <algorithm>
#include <limits>

using namespace lidar_test;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(TraversalRules, FirstChild) {
    const struct {
        double t0x, t0z, t0y, tmx, tmz, tmy;
        unsigned expected;
    } rows[] = {
        // Entry through an x plane (only z and y midpoints before it count),
        // a z plane, a y plane.
        {5, 1, 2, 9, 3, 7, 2}, {5, 1, 2, 9, 3, 4, 3}, {5, 1, 2, 1, 9, 9, 0}, {1, 5, 2, 3, 9, 4, 5},
        {1, 5, 2, 6, 1, 9, 0}, {1, 2, 5, 3, 4, 0, 6}, {1, 2, 5, 6, 4, 0, 2},
        // Ties: t0x == t0z is no x entry and z beats y; all equal is y; a
        // midpoint equal to the entry sets no bit.
        {5, 5, 2, 4, 9, 4, 5}, {5, 5, 5, 4, 4, 4, 6}, {5, 1, 2, 9, 5, 5, 0}, {1, 2, 5, 5, 5, 0, 0},
        // Vertical ray (both horizontal midpoints NaN): 0. One NaN midpoint
        // never sets its bit. NaN entries lose every comparison: y entry.
        {5, 1, 2, kNaN, 0, kNaN, 0}, {0, 9, 0, kNaN, -kInf, kNaN, 0}, {1, 5, 2, kNaN, 9, 4, 1},
        {1, 5, 2, 3, 9, kNaN, 4}, {kNaN, kNaN, 0, -1, -1, 5, 6},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(first_child(r.t0x, r.t0z, r.t0y, r.tmx, r.tmz, r.tmy), r.expected) << "row " << &r - rows;
    }
}

TEST(TraversalRules, NextChild) {
    const struct {
        unsigned current;
        double ex, ez, ey;
        unsigned expected;
    } rows[] = {
        // Leaving through the upper plane of an axis sets its bit (4 = x,
        // 2 = z, 1 = y), or leaves the parent (8) when it is already set.
        {2, 1, 2, 3, 6}, {5, 2, 1, 3, 7}, {6, 3, 2, 1, 7}, {4, 1, 2, 3, 8}, {7, 2, 1, 3, 8}, {3, 3, 2, 1, 8},
        // x == z: z; x == y keeps x; z == y keeps z; all equal: z.
        {0, 1, 1, 2, 2}, {0, 1, 2, 1, 4}, {0, 2, 1, 1, 2}, {0, 1, 1, 1, 2},
        // NaN in x or z: z (and NaN > y is false); NaN in y keeps the choice.
        {0, kNaN, 5, 9, 2}, {0, 1, kNaN, 9, 2}, {0, 1, kNaN, -9, 2}, {0, 1, 5, kNaN, 4}, {1, kNaN, kNaN, 0, 3},
        {3, 1, 2, kNaN, 7}, {4, kInf, kInf, 7, 5},  // inf == inf: z, then y is smaller
    };
    for (const auto& r : rows) EXPECT_EQ(next_child(r.current, r.ex, r.ez, r.ey), r.expected) << "row " << &r - rows;
}

struct Row {
    Vec3 origin, direction;
    bool hit;
    Vec3 point;  // the expected return; the range is its distance
};

void check_rows(const Scene& s, const std::vector<Row>& rows, double tolerance = 0.0) {
    for (const Row& r : rows) {
        const LaserLine l = cast_both(s, laser(r.origin, r.direction));
        const Vec3 p = l.hitPoint, e = r.point;
        const double range = std::sqrt(dot(e - r.origin, e - r.origin));
        const double off = std::max({std::fabs(p.x - e.x), std::fabs(p.y - e.y), std::fabs(p.z - e.z),
                                     std::fabs(l.range - range)});
        EXPECT_TRUE((l.hitFaceIndex >= 0) == r.hit && (!r.hit || off <= tolerance))
            << "from " << r.origin.x << " " << r.origin.y << " " << r.origin.z << ": face " << l.hitFaceIndex;
    }
}

// A 100 x 100 m area, z 0..20 (root centre (50, 10, 50) in node order), with
// one flat square per xy quadrant at heights 2, 4 (high y), 6 (high x), 8.
Scene quadrant_scene(int depth) {
    std::vector<Triangle> t;
    for (std::uint32_t q = 0; q < 4; ++q) {
        const double x0 = (q & 2) ? 50 : 0, y0 = (q & 1) ? 50 : 0, z = 2 + 2 * q;
        t.push_back(tri({x0, y0, z}, {x0 + 50, y0, z}, {x0 + 50, y0 + 50, z}, 2 * q));
        t.push_back(tri({x0, y0, z}, {x0 + 50, y0 + 50, z}, {x0, y0 + 50, z}, 2 * q + 1));
    }
    sort_mesh(t);
    return hand_scene(t, {50, 10, 50}, {50, 10, 50}, depth);
}

TEST(CastLaser, NadirRaysFollowTheOriginSideOfEveryCentre) {
    // Straight down both horizontal midpoints are NaN in every node. On a
    // centre plane the leaves list the squares of both sides: the higher wins.
    const Vec3 down{0, 0, -1};
    std::vector<Row> rows{{{100.5, 50, 300}, down, false, {}}};
    for (const Vec3& p : std::vector<Vec3>{{3, 1, 2}, {24.9, 60, 4}, {51, 30, 6}, {76, 99, 8}, {50, 30, 6},
                                           {30, 50, 4}, {70, 50, 8}, {50, 50, 8}, {25, 25, 2}})
        rows.push_back({{p.x, p.y, 300}, down, true, p});
    for (int depth : {1, 2, 3}) check_rows(quadrant_scene(depth), rows);

    // Big surfaces at z = 2, 4, 6, each listed by hand in one child of a split
    // root: an origin exactly on a centre plane counts as the lower side; the
    // hit below the leaf listing it (child 2, upper z) is not kept there.
    std::vector<Triangle> t;
    for (std::uint32_t k = 0; k < 3; ++k) {
        const double z = 2.0 + 2 * k;
        t.push_back(tri({-100, -100, z}, {300, -100, z}, {-100, 300, z}, k));
    }
    Scene sides = hand_scene(t, {50, 10, 50}, {50, 10, 50}, 1);
    const std::vector<std::uint32_t> lists[8] = {{0}, {2}, {1}, {}, {1}, {}, {}, {}};
    for (unsigned k = 0; k < 8; ++k) sides.root->children[k]->triangleIndices = lists[k];
    check_rows(sides, {{{50, 20, 300}, down, true, {50, 20, 2}}, {{50.5, 20, 300}, down, true, {50.5, 20, 4}},
                       {{20, 50, 300}, down, true, {20, 50, 2}}, {{20, 50.5, 300}, down, true, {20, 50.5, 6}},
                       {{20, 20, 300}, down, true, {20, 20, 2}}});
}

TEST(CastLaser, ZeroComponentWithTheOriginOnNodePlanes) {
    // dx = 0 (dy = 0) with the origin on the root's bounding planes (NaN entry
    // -> 0, NaN exit -> +inf) and on inner planes; the root spans 0..100.
    const Vec3 dx0{0, 0.6, -0.8}, dy0{0.6, 0, -0.8};
    check_rows(quadrant_scene(2),
               {{{-10, 10, 22}, dx0, false, {}}, {{0, 10, 22}, dx0, true, {0, 25, 2}},
                {{25, 10, 22}, dx0, true, {25, 25, 2}}, {{50, 10, 22}, dx0, true, {50, 22, 6}},
                {{75, 10, 22}, dx0, true, {75, 22, 6}}, {{100, 10, 22}, dx0, true, {100, 22, 6}},
                {{110, 10, 22}, dx0, false, {}}, {{10, 0, 22}, dy0, true, {25, 0, 2}},
                {{10, 50, 22}, dy0, true, {23.5, 50, 4}}, {{10, 100, 22}, dy0, true, {23.5, 100, 4}},
                {{10, 10, 2}, {1, 0, 0}, false, {}}},  // along a flat square: parallel
               1e-9);
}

TEST(CastLaser, EdgesRoofWallsAndFlatModel) {
    // Two triangles sharing the diagonal (4, 4): through it straight down
    // (equal height: the first listed stays) and slanted give one point.
    // Corners count; t = 0 counts; both faces count; behind the origin and
    // parallel (n.d = 1e-7 is under the limit) do not.
    const Vec3 down{0, 0, -1};
    const Scene edge =
        hand_scene({tri({0, 0, 5}, {10, 0, 5}, {10, 10, 5}, 0), tri({0, 0, 5}, {10, 10, 5}, {0, 10, 5}, 1)},
                   {5, 5, 5}, {6, 1, 6}, 0);
    EXPECT_EQ(cast_both(edge, laser({4, 4, 50}, down)).hitFaceIndex, 0);
    check_rows(edge, {{{4, 4, 50}, down, true, {4, 4, 5}}, {{2, 6, 9}, unit({1, -1, -2}), true, {4, 4, 5}},
                      {{10, 0, 50}, down, true, {10, 0, 5}}, {{-0.001, 1, 50}, down, false, {}},
                      {{3, 1, 5}, down, true, {3, 1, 5}}, {{3, 1, 0}, {0, 0, 1}, true, {3, 1, 5}},
                      {{3, 1, 4.5}, down, false, {}}, {{1, 1, 5.5}, unit({1, 0, -1e-9}), false, {}}},
               1e-12);

    // A wall in the xz plane is tested in the xz projection; one in the yz
    // plane (degenerate in xy and xz) is never hit.
    const Scene walls = hand_scene({tri({0, 3, 0}, {8, 3, 0}, {0, 3, 8}, 0), tri({3, 0, 0}, {3, 8, 0}, {3, 0, 8}, 1)},
                                   {4, 4, 4}, {5, 5, 5}, 0);
    check_rows(walls, {{{2, -5, 2}, {0, 1, 0}, true, {2, 3, 2}}, {{2, -5, 7}, {0, 1, 0}, false, {}},
                       {{-5, 1, 1}, {1, 0, 0}, false, {}}});

    // A slope listed first lies at z = 6 under a flat roof at z = 10, though
    // its top (30) is higher; the same roof again later does not replace it.
    const Scene roof = hand_scene({tri({0, 0, 0}, {100, 0, 0}, {100, 100, 30}, 0),
                                   tri({45, 15, 10}, {55, 15, 10}, {50, 25, 10}, 1),
                                   tri({45, 15, 10}, {55, 15, 10}, {50, 25, 10}, 2)},
                                  {50, 15, 50}, {60, 18, 60}, 0);
    EXPECT_EQ(cast_both(roof, laser({50, 20, 100}, down)).hitFaceIndex, 1);
    check_rows(roof, {{{50, 20, 100}, down, true, {50, 20, 10}}, {{80, 40, 100}, down, true, {80, 40, 12}}}, 1e-12);

    // A flat model's root box has no height: the strict root test fails.
    const Scene flat = hand_scene({tri({0, 0, 5}, {10, 0, 5}, {0, 10, 5}, 0)}, {5, 5, 5}, {6, 0, 6}, 0);
    ASSERT_EQ(flat.root->triangleIndices.size(), 1u);
    check_rows(flat, {{{2, 2, 50}, down, false, {}}, {{2, 2, 50}, unit({0.1, 0.1, -1}), false, {}}});
}

}  // namespace
