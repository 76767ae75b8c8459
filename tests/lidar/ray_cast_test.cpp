// Casting single lasers through small hand-built octrees. Every case is run
// through both the pointer-tree functions and the flattened CastTree, which
// must agree bit for bit.
#include "lidar/cast_tree.h"
#include "lidar/ray_cast.h"
#include "lidar_test_scene.h"

#include <gtest/gtest.h>

#include <limits>

using namespace lidar_test;

namespace {

// The model: a hand-made tree over a triangle list.
struct Model {
    std::vector<Triangle> triangles;
    std::unique_ptr<OctreeNode> root;
};

struct CastResult {
    bool hit = false;
    LaserLine laser;
};

// Casts with the reference functions and with the flattened tree, checks
// they agree and that the reference appended the point it wrote.
CastResult cast_both(const Model& m, const LaserLine& in) {
    LaserLine a = in, b = in;
    std::vector<LidarPoint> points;
    cast_laser(*m.root, a, points, m.triangles);
    const CastTree tree(*m.root, m.triangles);
    const bool hitB = tree.cast(b);
    EXPECT_EQ(points.size(), hitB ? 1u : 0u);
    EXPECT_TRUE(same_record(a, b)) << "pointer tree and flattened tree disagree";
    if (!points.empty()) {
        EXPECT_TRUE(same_bits(points[0].x, a.hitPoint.x) && same_bits(points[0].y, a.hitPoint.y) &&
                    same_bits(points[0].z, a.hitPoint.z));
    }
    return {hitB, a};
}

// A 100 x 100 m area, z from 0 to 20: root centre (50, 10, 50) in node order.
Model quadrant_model(int depth) {
    Model m;
    // Four flat squares, one per xy quadrant, each at its own height.
    const double h[4] = {2, 4, 6, 8};
    for (int q = 0; q < 4; ++q) {
        const double x0 = (q & 2) ? 50 : 0, y0 = (q & 1) ? 50 : 0;
        const double z = h[q];
        m.triangles.push_back(tri({x0, y0, z}, {x0 + 50, y0, z}, {x0 + 50, y0 + 50, z}, 2 * q));
        m.triangles.push_back(tri({x0, y0, z}, {x0 + 50, y0 + 50, z}, {x0, y0 + 50, z}, 2 * q + 1));
    }
    sort_mesh(m.triangles);
    m.root = make_node({50, 10, 50}, {50, 10, 50});
    std::vector<OctreeNode*> level{m.root.get()};
    for (int d = 0; d < depth; ++d) {
        std::vector<OctreeNode*> next;
        for (OctreeNode* n : level) {
            split(*n);
            for (auto& c : n->children) next.push_back(c.get());
        }
        level = next;
    }
    fill_leaves(*m.root, m.triangles);
    return m;
}

double quadrant_height(double x, double y) {
    const int q = (x > 50 ? 2 : 0) + (y > 50 ? 1 : 0);
    return 2.0 + 2.0 * q;
}

TEST(CastLaser, NadirRaysChooseChildrenByTheOriginSide) {
    // Straight down: both horizontal midpoints are NaN in every node.
    for (int depth : {1, 2, 3}) {
        const Model m = quadrant_model(depth);
        for (double x : {3.0, 24.9, 26.0, 49.0, 51.0, 74.0, 76.0, 99.0}) {
            for (double y : {1.0, 30.0, 60.0, 87.5}) {
                const CastResult r = cast_both(m, laser({x, y, 300}, {0, 0, -1}));
                ASSERT_TRUE(r.hit) << x << " " << y << " depth " << depth;
                EXPECT_EQ(r.laser.hitPoint.z, quadrant_height(x, y));
                EXPECT_EQ(r.laser.hitPoint.x, x);
                EXPECT_EQ(r.laser.hitPoint.y, y);
                EXPECT_EQ(r.laser.range, 300 - quadrant_height(x, y));
            }
        }
    }
}

TEST(CastLaser, NadirRayOnACentrePlaneFindsTheSurfacesOnBothSides) {
    // The origin is not greater than the centre, so the lower column is
    // followed; its leaves list the neighbouring squares too (they touch the
    // plane), and the higher edge wins.
    for (int depth : {1, 2}) {
        const Model m = quadrant_model(depth);
        EXPECT_EQ(cast_both(m, laser({50, 30, 300}, {0, 0, -1})).laser.hitPoint.z, 6.0);
        EXPECT_EQ(cast_both(m, laser({30, 50, 300}, {0, 0, -1})).laser.hitPoint.z, 4.0);
        EXPECT_EQ(cast_both(m, laser({70, 50, 300}, {0, 0, -1})).laser.hitPoint.z, 8.0);
        EXPECT_EQ(cast_both(m, laser({50, 50, 300}, {0, 0, -1})).laser.hitPoint.z, 8.0);
        EXPECT_EQ(cast_both(m, laser({25, 25, 300}, {0, 0, -1})).laser.hitPoint.z, 2.0);
    }
}

TEST(CastLaser, OriginOnTheCentreIsTheLowerSide) {
    // Two triangles share the edge x = 50 (or y = 50) but each is listed only
    // on its own side, so the column a straight-down ray follows decides the
    // return: an origin on the centre plane counts as the lower side.
    Model mx;
    mx.triangles.push_back(tri({0, 0, 2}, {50, 0, 2}, {50, 100, 2}, 0));    // x <= 50
    mx.triangles.push_back(tri({50, 0, 6}, {100, 0, 6}, {50, 100, 6}, 1));  // x >= 50
    mx.root = make_node({50, 10, 50}, {50, 10, 50});
    split(*mx.root);
    mx.root->children[0]->triangleIndices = {0};  // low x, low z, low y
    mx.root->children[4]->triangleIndices = {1};  // high x, low z, low y
    EXPECT_EQ(cast_both(mx, laser({50, 20, 300}, {0, 0, -1})).laser.hitFaceIndex, 0);
    EXPECT_EQ(cast_both(mx, laser({50.5, 20, 300}, {0, 0, -1})).laser.hitFaceIndex, 1);

    Model my;
    my.triangles.push_back(tri({0, 0, 3}, {0, 50, 3}, {100, 50, 3}, 2));    // y <= 50
    my.triangles.push_back(tri({0, 50, 7}, {100, 50, 7}, {0, 100, 7}, 3));  // y >= 50
    my.root = make_node({50, 10, 50}, {50, 10, 50});
    split(*my.root);
    my.root->children[0]->triangleIndices = {0};  // low x, low z, low y
    my.root->children[1]->triangleIndices = {1};  // low x, low z, high y
    EXPECT_EQ(cast_both(my, laser({20, 50, 300}, {0, 0, -1})).laser.hitFaceIndex, 2);
    EXPECT_EQ(cast_both(my, laser({20, 50.5, 300}, {0, 0, -1})).laser.hitFaceIndex, 3);
}

TEST(CastLaser, ZeroComponentWithOriginOnABoundingPlane) {
    const Model m = quadrant_model(2);
    // dx = 0 and the origin on the root's lower and upper x planes (entry
    // 0 * inf -> 0, exit 0 * inf -> +inf), and on the inner plane x = 50.
    const Vec3 d{0.0, 0.6, -0.8};
    for (double x : {-10.0, 0.0, 25.0, 50.0, 75.0, 110.0}) {
        const CastResult r = cast_both(m, laser({x, 10, 22}, d));
        // The root box reaches from x = 0 to 100 only.
        if (x < 0 || x > 100) {
            EXPECT_FALSE(r.hit) << x;
            continue;
        }
        ASSERT_TRUE(r.hit) << x;
        const double z = x >= 50 ? 6.0 : 2.0;  // the ray stays on y < 50 here
        EXPECT_EQ(r.laser.hitPoint.x, x);
        EXPECT_NEAR(r.laser.hitPoint.z, z, 1e-12);
        EXPECT_NEAR(r.laser.hitPoint.y, 10 + 0.75 * (22 - z), 1e-9);
    }
    // dy = 0 with the origin on y planes; a ray along z = const inside a
    // face is parallel to the flat squares and finds nothing.
    for (double y : {0.0, 50.0, 100.0}) {
        const CastResult r = cast_both(m, laser({10, y, 22}, {0.6, 0.0, -0.8}));
        ASSERT_TRUE(r.hit) << y;
        EXPECT_EQ(r.laser.hitPoint.y, y);
        EXPECT_NEAR(r.laser.hitPoint.z, y >= 50 ? 4.0 : 2.0, 1e-12);
    }
    EXPECT_FALSE(cast_both(m, laser({10, 10, 2}, {1, 0, 0})).hit);
}

TEST(CastLaser, NegativeZeroComponentsLoseNoReturns) {
    // -0.0 is neither mirrored nor turned into a -inf reciprocal: the result
    // is bit for bit that of +0.0.
    const Model m = quadrant_model(3);
    const double nz = -0.0;
    const struct {
        Vec3 o, d, dNeg;
    } cases[] = {
        {{30, 60, 300}, {0.0, 0.0, -1}, {nz, nz, -1}},
        {{0, 0, 300}, {0.0, 0.0, -1}, {nz, 0.0, -1}},
        {{100, 100, 300}, {0.0, 0.0, -1}, {0.0, nz, -1}},
        {{50, 10, 22}, {0.0, 0.6, -0.8}, {nz, 0.6, -0.8}},
        {{10, 50, 22}, {0.6, 0.0, -0.8}, {0.6, nz, -0.8}},
        {{90, 50, 22}, {-0.6, 0.0, -0.8}, {-0.6, nz, -0.8}},
    };
    for (const auto& c : cases) {
        const CastResult plus = cast_both(m, laser(c.o, c.d));
        const CastResult minus = cast_both(m, laser(c.o, c.dNeg));
        ASSERT_TRUE(plus.hit);
        ASSERT_TRUE(minus.hit);
        EXPECT_TRUE(same_record(plus.laser, minus.laser));
    }
}

TEST(CastLaser, RaysFromEveryOctantUseEveryMirrorBit) {
    // A single tilted plane z = 10 + 0.05 x + 0.03 y over the area, cut into
    // a grid of triangles, under a three-level tree. Every ray crosses the
    // plane once, so the return must be that crossing, whatever the signs.
    Model m;
    const int n = 10;
    auto height = [](double x, double y) { return 10 + 0.05 * x + 0.03 * y; };
    std::uint32_t face = 0;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const double x0 = i * 10.0, y0 = j * 10.0, x1 = x0 + 10, y1 = y0 + 10;
            const Vec3 p00{x0, y0, height(x0, y0)}, p10{x1, y0, height(x1, y0)};
            const Vec3 p11{x1, y1, height(x1, y1)}, p01{x0, y1, height(x0, y1)};
            m.triangles.push_back(tri(p00, p10, p11, face++));
            m.triangles.push_back(tri(p00, p11, p01, face++));
        }
    }
    sort_mesh(m.triangles);
    m.root = make_node({50, 14, 50}, {60, 8, 60});
    split(*m.root);
    for (auto& c : m.root->children) {
        split(*c);
        for (auto& g : c->children) split(*g);
    }
    fill_leaves(*m.root, m.triangles);

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int octantsSeen = 0;
    for (unsigned octant = 0; octant < 8; ++octant) {
        for (int k = 0; k < 40; ++k) {
            const double tx = 5 + 90 * u(rng), ty = 5 + 90 * u(rng);
            const Vec3 target{tx, ty, height(tx, ty)};
            const Vec3 d = unit({(octant & 4 ? -1 : 1) * (0.1 + u(rng)), (octant & 1 ? -1 : 1) * (0.1 + u(rng)),
                                 (octant & 2 ? -1 : 1) * (2 + u(rng))});
            const LaserLine in = laser(target - d * 25.0, d);
            const CastResult r = cast_both(m, in);
            ASSERT_TRUE(r.hit) << "octant " << octant;
            EXPECT_NEAR(r.laser.hitPoint.x, tx, 1e-9);
            EXPECT_NEAR(r.laser.hitPoint.y, ty, 1e-9);
            EXPECT_NEAR(r.laser.range, 25.0, 1e-9);
            const Triangle* hitTri = nullptr;
            for (const Triangle& t : m.triangles) {
                if (static_cast<std::int32_t>(t.faceIndex) == r.laser.hitFaceIndex) hitTri = &t;
            }
            ASSERT_NE(hitTri, nullptr);
            EXPECT_TRUE(inside_triangle(*hitTri, r.laser.hitPoint));
        }
        ++octantsSeen;
    }
    EXPECT_EQ(octantsSeen, 8);
}

TEST(CastLaser, SharedEdgeGivesOnePoint) {
    Model m;
    m.triangles.push_back(tri({0, 0, 5}, {10, 0, 5}, {10, 10, 5}, 0));
    m.triangles.push_back(tri({0, 0, 5}, {10, 10, 5}, {0, 10, 5}, 1));
    m.root = make_node({5, 5, 5}, {6, 1, 6});
    fill_leaves(*m.root, m.triangles);
    // Straight down onto the shared diagonal: both triangles are hit at the
    // same height; the first listed one is kept.
    LaserLine l = laser({4, 4, 50}, {0, 0, -1});
    std::vector<LidarPoint> points;
    cast_laser(*m.root, l, points, m.triangles);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(l.hitFaceIndex, 0);
    EXPECT_EQ(points[0].z, 5.0);
    // Slanted through the diagonal.
    l = laser({2, 6, 9}, unit({1, -1, -2}));
    points.clear();
    cast_laser(*m.root, l, points, m.triangles);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_NEAR(points[0].x, 4.0, 1e-12);
    EXPECT_NEAR(points[0].y, 4.0, 1e-12);
    cast_both(m, l);
}

TEST(IntersectLeaf, HigherHitWinsEvenWhenTheLowerComesFirst) {
    Model m;
    // A slope whose top (30) is above the roof, listed first, but which lies
    // at z = 6 under the roof; the flat roof at z = 10 is listed second.
    m.triangles.push_back(tri({0, 0, 0}, {100, 0, 0}, {100, 100, 30}, 0));
    m.triangles.push_back(tri({45, 15, 10}, {55, 15, 10}, {50, 25, 10}, 1));
    // The same roof once more, later in the list: equal height, not taken.
    m.triangles.push_back(tri({45, 15, 10}, {55, 15, 10}, {50, 25, 10}, 2));
    m.root = make_node({50, 15, 50}, {60, 18, 60});
    fill_leaves(*m.root, m.triangles);
    ASSERT_EQ(m.root->triangleIndices.size(), 3u);

    const CastResult r = cast_both(m, laser({50, 20, 100}, {0, 0, -1}));
    ASSERT_TRUE(r.hit);
    EXPECT_EQ(r.laser.hitFaceIndex, 1);
    EXPECT_EQ(r.laser.hitPoint.z, 10.0);
    EXPECT_EQ(r.laser.range, 90.0);
    // Beside the roof the slope is the only surface.
    const CastResult beside = cast_both(m, laser({80, 40, 100}, {0, 0, -1}));
    EXPECT_EQ(beside.laser.hitFaceIndex, 0);
    EXPECT_NEAR(beside.laser.hitPoint.z, 12.0, 1e-12);
}

TEST(IntersectLeaf, ScanStopsAboveTheNextTop) {
    // The stop looks at the next triangle's recorded topZ. Here the second
    // record claims a top of 4 although it lies at 8: a hit at 5 stops the
    // scan before it. With its true top the higher triangle wins.
    for (double claimedTop : {4.0, 8.0}) {
        Model m;
        m.triangles.push_back(tri({0, 0, 5}, {10, 0, 5}, {0, 10, 5}, 0));
        m.triangles.push_back(tri({0, 0, 8}, {10, 0, 8}, {0, 10, 8}, 1));
        m.triangles[1].topZ = claimedTop;
        m.root = make_node({5, 5, 5}, {6, 5, 6});
        m.root->triangleIndices = {0, 1};
        const CastResult r = cast_both(m, laser({2, 2, 50}, {0, 0, -1}));
        ASSERT_TRUE(r.hit);
        EXPECT_EQ(r.laser.hitFaceIndex, claimedTop < 5 ? 0 : 1);
    }
}

TEST(IntersectLeaf, HitsCountOnlyInTheLeafThatContainsThem) {
    Model m;
    // One large triangle over both x halves of a split root.
    m.triangles.push_back(tri({0, 0, 2}, {100, 0, 2}, {0, 100, 2}, 0));
    m.root = make_node({50, 10, 50}, {50, 10, 50});
    split(*m.root);
    fill_leaves(*m.root, m.triangles);
    // A slanted ray that passes through the low-x upper leaf first, where the
    // triangle is listed but not hit inside the box, and then down into the
    // high-x lower leaf.
    const Vec3 d = unit({1, 0.2, -0.4});
    const CastResult r = cast_both(m, laser({20, 10, 19}, d));
    ASSERT_TRUE(r.hit);
    EXPECT_GT(r.laser.hitPoint.x, 50.0);
    EXPECT_NEAR(r.laser.hitPoint.z, 2.0, 1e-12);

    // A leaf that lists a triangle whose hit lies outside it gives nothing.
    Model wrong;
    wrong.triangles = m.triangles;
    wrong.root = make_node({50, 10, 50}, {50, 10, 50});
    split(*wrong.root);
    // Listed only in the upper-z leaf above the hit: the ray passes that
    // leaf, the plane hit lies below it, and the lower leaf lists nothing.
    wrong.root->children[2]->triangleIndices = {0};
    EXPECT_FALSE(cast_both(wrong, laser({20, 20, 50}, {0, 0, -1})).hit);
    wrong.root->children[0]->triangleIndices = {0};
    EXPECT_TRUE(cast_both(wrong, laser({20, 20, 50}, {0, 0, -1})).hit);
}

TEST(CastLaser, FlatRootBoxIsNeverEntered) {
    // A model whose z extent is 0 gives a root box without height: the
    // strict root test fails for every ray, even one aimed straight at it.
    Model m;
    m.triangles.push_back(tri({0, 0, 5}, {10, 0, 5}, {0, 10, 5}, 0));
    m.root = make_node({5, 5, 5}, {6, 0, 6});
    fill_leaves(*m.root, m.triangles);
    ASSERT_EQ(m.root->triangleIndices.size(), 1u);
    EXPECT_FALSE(cast_both(m, laser({2, 2, 50}, {0, 0, -1})).hit);
    EXPECT_FALSE(cast_both(m, laser({2, 2, 50}, unit({0.1, 0.1, -1}))).hit);
}

TEST(CastLaser, OriginOnASurfaceIsAReturnAtRangeZero) {
    const Model m = quadrant_model(2);
    for (const Vec3& d : {Vec3{0, 0, -1}, Vec3{0, 0, 1}, unit({0.3, -0.2, -1})}) {
        const CastResult r = cast_both(m, laser({30, 30, 2}, d));
        ASSERT_TRUE(r.hit);
        EXPECT_EQ(r.laser.range, 0.0);
        EXPECT_EQ(r.laser.hitPoint.z, 2.0);
    }
}

TEST(IntersectTriangle, ParallelBehindAndOnTheOrigin) {
    const Triangle flat = tri({0, 0, 5}, {10, 0, 5}, {0, 10, 5}, 3);
    // Grazing: n.d = 100 * 1e-9 is below the 1e-6 limit.
    EXPECT_FALSE(intersect_triangle(flat, laser({1, 1, 5.5}, unit({1, 0, -1e-9}))).hit);
    // Behind the origin.
    EXPECT_FALSE(intersect_triangle(flat, laser({1, 1, 4}, {0, 0, -1})).hit);
    // The origin on the triangle: t = 0 is a hit.
    const TriangleHit on = intersect_triangle(flat, laser({1, 1, 5}, {0, 0, -1}));
    EXPECT_TRUE(on.hit);
    EXPECT_EQ(on.t, 0.0);
    // Both faces count.
    const TriangleHit below = intersect_triangle(flat, laser({1, 2, 0}, {0, 0, 1}));
    EXPECT_TRUE(below.hit);
    EXPECT_EQ(below.t, 5.0);
    EXPECT_EQ(below.point.y, 2.0);
    // A tiny triangle: its unnormalised normal is too short for the limit.
    const Triangle tiny = tri({0, 0, 5}, {1e-4, 0, 5}, {0, 1e-3, 5}, 4);
    EXPECT_FALSE(intersect_triangle(tiny, laser({1e-5, 1e-5, 9}, {0, 0, -1})).hit);
}

TEST(InsideTriangle, EdgesCornersAndVerticalTriangles) {
    const Triangle t = tri({0, 0, 0}, {8, 0, 0}, {0, 8, 0}, 0);
    EXPECT_TRUE(inside_triangle(t, {0, 0, 0}));
    EXPECT_TRUE(inside_triangle(t, {8, 0, 0}));
    EXPECT_TRUE(inside_triangle(t, {4, 4, 0}));  // on the hypotenuse
    EXPECT_TRUE(inside_triangle(t, {4, 0, 0}));
    EXPECT_FALSE(inside_triangle(t, {4.5, 4, 0}));
    EXPECT_FALSE(inside_triangle(t, {-0.001, 1, 0}));
    // Only the projection counts: the height of the point is ignored.
    EXPECT_TRUE(inside_triangle(t, {1, 1, 99}));

    // Standing in the xz plane: det is 0 in xy, so xz is used.
    const Triangle wallXZ = tri({0, 3, 0}, {8, 3, 0}, {0, 3, 8}, 1);
    EXPECT_TRUE(inside_triangle(wallXZ, {2, 3, 2}));
    EXPECT_FALSE(inside_triangle(wallXZ, {2, 3, 7}));
    const TriangleHit h = intersect_triangle(wallXZ, laser({2, -5, 2}, {0, 1, 0}));
    EXPECT_TRUE(h.hit);
    EXPECT_EQ(h.t, 8.0);
    // Standing in the yz plane: degenerate in xy and xz, never inside.
    const Triangle wallYZ = tri({3, 0, 0}, {3, 8, 0}, {3, 0, 8}, 2);
    EXPECT_FALSE(inside_triangle(wallYZ, {3, 1, 1}));
    EXPECT_FALSE(intersect_triangle(wallYZ, laser({-5, 1, 1}, {1, 0, 0})).hit);
}

}  // namespace
