// Casting many rays into a random scene with a real octree: every return is
// checked against a brute-force search over the triangles, and the flattened
// tree must reproduce the pointer-tree traversal bit for bit.
#include "lidar/cast_tree.h"
#include "lidar/ray_cast.h"
#include "lidar_test_scene.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace lidar_test;

namespace {

const Scene& scene() {
    static const Scene s = random_scene(20240611, 40, 500);
    return s;
}

int depth_of(const OctreeNode& n) {
    if (n.isLeaf) return 0;
    int d = 0;
    for (const auto& c : n.children) d = std::max(d, depth_of(*c));
    return d + 1;
}

void for_each_leaf(const OctreeNode& n, const std::function<void(const OctreeNode&)>& f) {
    if (n.isLeaf) {
        f(n);
        return;
    }
    for (const auto& c : n.children) for_each_leaf(*c, f);
}

// Random rays over the scene from every octant: mostly from above, some
// from below the ground pointing up.
std::vector<LaserLine> random_rays(std::uint32_t seed, int count) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<LaserLine> rays;
    for (int i = 0; i < count; ++i) {
        const bool up = i % 5 == 4;
        const double sx = u(rng) < 0.5 ? -1 : 1, sy = u(rng) < 0.5 ? -1 : 1;
        const Vec3 d = unit({sx * 0.6 * u(rng), sy * 0.6 * u(rng), up ? 1.0 : -1.0});
        const Vec3 o{-10 + 120 * u(rng), -10 + 120 * u(rng), up ? -15 - 10 * u(rng) : 40 + 20 * u(rng)};
        rays.push_back(laser(o, d));
    }
    return rays;
}

const Triangle& triangle_of_face(std::int32_t face) {
    static std::map<std::int32_t, const Triangle*> byFace;
    if (byFace.empty()) {
        for (const Triangle& t : scene().triangles) byFace[static_cast<std::int32_t>(t.faceIndex)] = &t;
    }
    return *byFace.at(face);
}

TEST(RandomScene, ReturnsAgreeWithBruteForce) {
    const Scene& s = scene();
    ASSERT_GE(depth_of(*s.root), 4);  // a real tree, not a few leaves
    int returns = 0, misses = 0;
    for (LaserLine l : random_rays(99, 3000)) {
        const LaserLine before = l;
        std::vector<LidarPoint> points;
        cast_laser(*s.root, l, points, s.triangles);
        const bool downward = l.direction.z < 0;

        // Every intersection of the ray with any triangle.
        struct Hit {
            Vec3 p;
            double t;
        };
        std::vector<Hit> all;
        for (const Triangle& t : s.triangles) {
            const TriangleHit h = intersect_triangle(t, before);
            if (h.hit) all.push_back({h.point, h.t});
        }

        if (points.empty()) {
            ++misses;
            EXPECT_TRUE(all.empty()) << "a ray that meets " << all.size() << " triangles gave no return";
            EXPECT_EQ(l.hitFaceIndex, -1);
            continue;
        }
        ++returns;
        ASSERT_EQ(points.size(), 1u);
        const Vec3 p = l.hitPoint;
        EXPECT_EQ(points[0].x, p.x);
        EXPECT_EQ(points[0].z, p.z);

        // A true intersection: on the triangle and on the ray.
        const Triangle& hit = triangle_of_face(l.hitFaceIndex);
        EXPECT_TRUE(inside_triangle(hit, p));
        EXPECT_EQ(p.x, l.origin.x + l.direction.x * l.range);
        EXPECT_EQ(p.y, l.origin.y + l.direction.y * l.range);
        EXPECT_EQ(p.z, l.origin.z + l.direction.z * l.range);
        EXPECT_NEAR(dot(hit.normal, p - hit.a) / std::sqrt(dot(hit.normal, hit.normal)), 0.0, 1e-9);

        // Within a leaf that holds the point and lists the triangle, no
        // triangle meets the ray higher up inside that leaf.
        bool someLeaf = false;
        for_each_leaf(*s.root, [&](const OctreeNode& leaf) {
            if (!node_contains(leaf, p)) return;
            const auto& list = leaf.triangleIndices;
            bool lists = false;
            for (std::uint32_t i : list) lists = lists || s.triangles[i].faceIndex == hit.faceIndex;
            if (!lists) return;
            someLeaf = true;
            for (std::uint32_t i : list) {
                const TriangleHit h = intersect_triangle(s.triangles[i], before);
                if (h.hit && node_contains(leaf, h.point)) {
                    EXPECT_LE(h.point.z, p.z);
                }
            }
        });
        EXPECT_TRUE(someLeaf);

        // Going down, the highest surface is also the first along the ray:
        // nothing is met before the return.
        if (downward) {
            for (const Hit& h : all) EXPECT_GE(h.t, l.range - 1e-9);
        }
    }
    // The scene covers most of the area: both outcomes occur often.
    EXPECT_GT(returns, 1500);
    EXPECT_GT(misses, 100);
}

// Rays that make the traversal take its special paths: straight down (both
// horizontal midpoints undefined), zero components with the origin on node
// planes, and -0.0 components.
std::vector<LaserLine> awkward_rays(const Scene& s) {
    std::vector<double> planesX, planesY;
    std::function<void(const OctreeNode&, int)> collect = [&](const OctreeNode& n, int depth) {
        planesX.push_back(n.center[0]);
        planesY.push_back(n.center[2]);
        planesX.push_back(n.minCorner[0]);
        planesY.push_back(n.maxCorner[2]);
        if (!n.isLeaf && depth < 3) {
            for (const auto& c : n.children) collect(*c, depth + 1);
        }
    };
    collect(*s.root, 0);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto pick = [&](const std::vector<double>& v) { return v[static_cast<std::size_t>(u(rng) * v.size())]; };
    const double nz = -0.0;
    std::vector<LaserLine> rays;
    for (int i = 0; i < 600; ++i) {
        const double x = pick(planesX), y = pick(planesY);
        const double fx = -10 + 120 * u(rng), fy = -10 + 120 * u(rng);
        const double a = 0.5 * (u(rng) - 0.5), b = 0.5 * (u(rng) - 0.5);
        rays.push_back(laser({fx, fy, 50}, {0, 0, -1}));
        rays.push_back(laser({fx, fy, 50}, {nz, nz, -1}));
        rays.push_back(laser({x, y, 50}, {0, 0, -1}));
        rays.push_back(laser({x, fy, 50}, unit({0, b, -1})));
        rays.push_back(laser({x, fy, 50}, unit({nz, b, -1})));
        rays.push_back(laser({fx, y, 50}, unit({a, 0, -1})));
        rays.push_back(laser({fx, y, 50}, unit({a, nz, -1})));
        rays.push_back(laser({x, y, -20}, {0, 0, 1}));
        rays.push_back(laser({x, fy, 12}, unit({0, 1, b})));  // nearly horizontal
    }
    return rays;
}

TEST(RandomScene, FlattenedTreeMatchesPointerTreeBitForBit) {
    const Scene& s = scene();
    const CastTree tree(*s.root, s.triangles);
    std::vector<LaserLine> rays = random_rays(1234, 4000);
    const std::vector<LaserLine> awkward = awkward_rays(s);
    rays.insert(rays.end(), awkward.begin(), awkward.end());
    int hits = 0;
    for (const LaserLine& in : rays) {
        LaserLine a = in, b = in;
        std::vector<LidarPoint> points;
        cast_laser(*s.root, a, points, s.triangles);
        const bool hitB = tree.cast(b);
        ASSERT_EQ(points.size(), hitB ? 1u : 0u);
        ASSERT_TRUE(same_record(a, b)) << in.origin.x << " " << in.origin.y << " " << in.direction.x << " "
                                       << in.direction.y << " " << in.direction.z;
        hits += hitB;
    }
    EXPECT_GT(hits, 3000);
}

TEST(RandomScene, FlattenedTreeMatchesOnAwkwardGeometry) {
    // Triangles of every shape and orientation, slivers, walls standing in
    // the xz and yz planes, tiny and huge ones, far from the origin as survey
    // coordinates are; rays in every direction, some along the axes. The
    // flattened tree skips triangles early with bounds of its own, which
    // must never change a result.
    for (const Vec3 offset : {Vec3{0, 0, 0}, Vec3{612345.678, 5432109.876, 250}}) {
        std::mt19937_64 rng(77);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        Scene s;
        std::vector<Face> faces;
        auto add = [&](const Vec3& a, const Vec3& b, const Vec3& c) {
            const int k = static_cast<int>(s.vertices.size());
            s.vertices.insert(s.vertices.end(), {a, b, c});
            faces.push_back({{k + 1, k + 2, k + 3}});
        };
        for (int i = 0; i < 4000; ++i) {
            const Vec3 a = offset + Vec3{100 * u(rng), 100 * u(rng), 30 * u(rng)};
            const double size = std::pow(10.0, -2 + 3.3 * u(rng));
            const Vec3 d{size * (u(rng) - 0.5), size * (u(rng) - 0.5), size * (u(rng) - 0.5)};
            switch (i % 6) {
            case 0: add(a, a + d, a + Vec3{d.y, d.z, d.x}); break;
            case 1: add(a, a + d, a + d * 0.5 + Vec3{1e-7 * d.z, 0, 0}); break;  // sliver
            case 2: add(a, a + Vec3{d.x, 0, d.z}, a + Vec3{d.y, 0, 0.3 * d.x}); break;  // in xz
            case 3: add(a, a + Vec3{0, d.y, d.z}, a + Vec3{0, d.x, 0.7 * d.y}); break;  // in yz
            case 4: add(a, a + Vec3{d.x, d.y, 0}, a + Vec3{d.y, -d.x, 0}); break;       // flat
            default: add(a, a + Vec3{d.x, d.y, 1e-9 * d.z}, a + Vec3{d.x * 1.0000001, d.y, size}); break;
            }
        }
        prepare(s, faces);
        const CastTree tree(*s.root, s.triangles);
        int hits = 0;
        for (int i = 0; i < 30000; ++i) {
            const Vec3 o = offset + Vec3{-20 + 140 * u(rng), -20 + 140 * u(rng), -20 + 70 * u(rng)};
            Vec3 d{u(rng) - 0.5, u(rng) - 0.5, u(rng) - 0.5};
            switch (i % 6) {
            case 1: d.x = 0; break;
            case 2: d.y = 0; break;
            case 3: d = {0, 0, -1}; break;
            case 4: d.z = 0; break;
            case 5: d = {0.1 * d.x, 0.1 * d.y, -1}; break;
            default: break;
            }
            LaserLine a = laser(o, unit(d)), b = a;
            std::vector<LidarPoint> points;
            cast_laser(*s.root, a, points, s.triangles);
            const bool hitB = tree.cast(b);
            ASSERT_EQ(points.size(), hitB ? 1u : 0u) << i;
            ASSERT_TRUE(same_record(a, b)) << i;
            hits += hitB;
        }
        EXPECT_GT(hits, 1500);
    }
}

}  // namespace
