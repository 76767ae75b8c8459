// Many rays into random scenes with the real octree: every return is checked
// against a brute-force search over the triangles, and the flattened tree must
// reproduce the pointer-tree traversal bit for bit.
#include "lidar_test_scene.h"

#include <functional>

using namespace lidar_test;

namespace {

TEST(RandomScene, ReturnsAreTheHighestTrueHitsOfTheirLeaf) {
    const Scene s = random_scene(20240611, 40, 500);
    const CastTree tree(*s.root, s.triangles);
    ASSERT_GT(tree.leaf_count(), 512u);  // a real tree: at least four levels
    int returns = 0;
    for (const LaserLine& in : random_rays(99, 4000)) {
        SCOPED_TRACE(testing::Message() << "ray from " << in.origin.x << " " << in.origin.y << " " << in.origin.z);
        const LaserLine l = cast_both(s, in, &tree);
        if (testing::Test::HasFailure()) return;
        std::vector<TriangleHit> all;  // every intersection with any triangle
        const Triangle* hit = nullptr;
        for (const Triangle& t : s.triangles) {
            const TriangleHit h = intersect_triangle(t, in);
            if (h.hit) all.push_back(h);
            if (static_cast<std::int32_t>(t.faceIndex) == l.hitFaceIndex) hit = &t;
        }
        if (!hit) {  // with -0.0 components too: no return is lost
            EXPECT_TRUE(all.empty()) << "meets " << all.size() << " triangles but has no return";
            continue;
        }
        ++returns;
        // A true intersection: on the ray and on the triangle hit.
        const Vec3 p = l.hitPoint;
        EXPECT_TRUE(same_bits(p, in.origin + in.direction * l.range));
        EXPECT_TRUE(inside_triangle(*hit, p));
        EXPECT_NEAR(dot(hit->normal, p - hit->a) / std::sqrt(dot(hit->normal, hit->normal)), 0.0, 1e-9);
        // Going down, the highest surface is also the first along the ray.
        for (const TriangleHit& h : all) EXPECT_TRUE(in.direction.z > 0 || h.t >= l.range - 1e-9);
        // Some leaf that holds the point and lists the triangle has no hit
        // higher up inside it. (Rays in a node plane lie in several leaves;
        // the scan stops at the next top, which rounding may exceed a bit.)
        bool someLeaf = false;
        std::function<void(const OctreeNode&)> visit = [&](const OctreeNode& n) {
            for (const auto& child : n.children)
                if (child) visit(*child);
            bool lists = false, higher = false;
            for (std::uint32_t k : n.triangleIndices) {
                const TriangleHit h = intersect_triangle(s.triangles[k], in);
                lists = lists || s.triangles[k].faceIndex == hit->faceIndex;
                higher = higher || (h.hit && node_contains(n, h.point) && h.point.z > p.z + 1e-9);
            }
            someLeaf = someLeaf || (lists && !higher && node_contains(n, p));
        };
        visit(*s.root);
        EXPECT_TRUE(someLeaf);
    }
    EXPECT_GT(returns, 1500);
    EXPECT_LT(returns, 3900);
}

TEST(RandomScene, FlattenedTreeMatchesForRaysWithoutAnXOrYComponent) {
    // Lasers of flight lines along x (or y) have no x (or y) component:
    // those slab parameters are infinite and every such midpoint is NaN,
    // which the flattened tree takes ways of its own for. Zero of either
    // sign, and components so small that 1 / d overflows (mirrored or not);
    // origins anywhere, on node planes and on the root's faces.
    const Scene s = random_scene(20240612, 40, 500);
    const CastTree tree(*s.root, s.triangles);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double tiny[] = {0.0, -0.0, 4.9e-324, -4.9e-324, 1e-310, -1e-310};
    for (int axis = 0; axis < 2; ++axis) {
        SCOPED_TRACE(axis ? "no y component" : "no x component");
        const int other = 1 - axis;
        const int rootAxis = axis ? 2 : 0;  // node axis order: x, z, y
        int hits = 0;
        for (int i = 0; i < 6000; ++i) {
            double o[2] = {-10 + 120 * u(rng), -10 + 120 * u(rng)};
            if (i % 5 == 1) o[axis] = 6.25 * static_cast<int>(17 * u(rng));
            if (i % 5 == 2) o[other] = 6.25 * static_cast<int>(17 * u(rng));
            if (i % 7 == 3) o[axis] = s.root->minCorner[rootAxis];
            if (i % 7 == 4) o[axis] = s.root->maxCorner[rootAxis];
            double d[2] = {0, 0};
            d[other] = i % 11 == 5 ? (i % 2 ? 0.0 : -0.0) : 0.8 * (u(rng) - 0.5);
            LaserLine l = laser({o[0], o[1], i % 4 ? 40 + 20 * u(rng) : -15 - 10 * u(rng)},
                                unit(Vec3{d[0], d[1], i % 4 ? -1.0 : 1.0}));
            (axis ? l.direction.y : l.direction.x) = tiny[i % 6];
            hits += cast_both(s, l, &tree).hitFaceIndex >= 0;
            if (testing::Test::HasFailure()) FAIL() << "ray " << i;
        }
        EXPECT_GT(hits, 1000);
    }
}

TEST(RandomScene, FlattenedTreeMatchesOnAwkwardGeometry) {
    // Slivers, walls standing in the xz and yz planes, flat, tiny and huge
    // triangles, far from the origin as survey coordinates are; rays in every
    // direction, some along the axes. The flattened tree skips triangles early
    // by bounds of its own, which must never change a result.
    const Vec3 offset{612345.678, 5432109.876, 250};
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Scene s;
    std::vector<Face> faces;
    auto add = [&](const Vec3& a, const Vec3& b, const Vec3& c) { s.vertices.insert(s.vertices.end(), {a, b, c}); };
    for (int i = 0; i < 4000; ++i) {
        const Vec3 a = offset + Vec3{100 * u(rng), 100 * u(rng), 30 * u(rng)};
        const double size = std::pow(10.0, -2 + 3.3 * u(rng));
        const Vec3 d{size * (u(rng) - 0.5), size * (u(rng) - 0.5), size * (u(rng) - 0.5)};
        switch (i % 6) {
        case 0: add(a, a + d, a + Vec3{d.y, d.z, d.x}); break;
        case 1: add(a, a + d, a + d * 0.5 + Vec3{1e-7 * d.z, 0, 0}); break;         // sliver
        case 2: add(a, a + Vec3{d.x, 0, d.z}, a + Vec3{d.y, 0, 0.3 * d.x}); break;  // in xz
        case 3: add(a, a + Vec3{0, d.y, d.z}, a + Vec3{0, d.x, 0.7 * d.y}); break;  // in yz
        case 4: add(a, a + Vec3{d.x, d.y, 0}, a + Vec3{d.y, -d.x, 0}); break;       // flat
        default: add(a, a + Vec3{d.x, d.y, 1e-9 * d.z}, a + Vec3{d.x * 1.0000001, d.y, size}); break;
        }
        faces.push_back({{3 * i + 1, 3 * i + 2, 3 * i + 3}});
    }
    prepare(s, faces);
    const CastTree tree(*s.root, s.triangles);
    int hits = 0;
    for (int i = 0; i < 30000; ++i) {
        const Vec3 o = offset + Vec3{-20 + 140 * u(rng), -20 + 140 * u(rng), -20 + 70 * u(rng)};
        Vec3 d{u(rng) - 0.5, u(rng) - 0.5, u(rng) - 0.5};
        if (i % 6 == 1) d.x = 0;
        if (i % 6 == 2) d.y = 0;
        if (i % 6 == 3) d = {0, 0, -1};
        if (i % 6 == 4) d.z = 0;
        if (i % 6 == 5) d = {0.1 * d.x, 0.1 * d.y, -1};
        hits += cast_both(s, laser(o, unit(d)), &tree).hitFaceIndex >= 0;
        if (testing::Test::HasFailure()) FAIL() << "ray " << i;
    }
    EXPECT_GT(hits, 1500);
}

}  // namespace
