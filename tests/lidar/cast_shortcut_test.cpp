// The flattened tree's shortcuts against the pointer-tree traversal, on rays
// chosen to fall where a shortcut could go wrong: the leaf slabs (rays that
// graze a surface or pass just above it, rays that enter a leaf over a
// triangle that is hit in a later leaf), the entry cells (rays along leaf
// planes, through shared edges and corners), the left-out empty subtrees,
// and rays whose numbers are awkward (zero, denormal, NaN and infinite
// components, far origins, origins on the surface). Every cast must give the
// same record bit for bit.
#include "lidar_test_scene.h"

#include <limits>

using namespace lidar_test;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Steep, folded ground far from the origin as survey coordinates are, over
// 64 x 64 m in fine cells (deep leaves, thin slabs), with a roof of flat and
// tilted plates above part of it and a wall in the xz plane.
Scene folded_scene(const Vec3& offset) {
    Scene s;
    std::vector<Face> faces;
    const int grid = 48;
    const double step = 64.0 / grid;
    const auto height = [](double x, double y) {
        return 6 * std::sin(x * 0.21) * std::cos(y * 0.17) + 0.02 * x * y / 8 + (x > 30 ? 4 * (x - 30) : 0);
    };
    for (int v = 1; v <= (grid + 1) * (grid + 1); ++v) {
        const double x = (v - 1) % (grid + 1) * step, y = (v - 1) / (grid + 1) * step;
        s.vertices.push_back(offset + Vec3{x, y, height(x, y)});
        if ((v - 1) % (grid + 1) < grid && (v - 1) / (grid + 1) < grid)
            faces.insert(faces.end(), {{{v, v + 1, v + grid + 2}}, {{v, v + grid + 2, v + grid + 1}}});
    }
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int p = 0; p < 60; ++p) {
        const Vec3 c = offset + Vec3{4 + 56 * u(rng), 4 + 56 * u(rng), 12 + 10 * u(rng)};
        const double tilt = p % 3 == 0 ? 0.0 : 2 * (u(rng) - 0.5);
        const int v = static_cast<int>(s.vertices.size()) + 1;
        s.vertices.insert(s.vertices.end(), {c, c + Vec3{3, 0, 3 * tilt}, c + Vec3{0, 3, 0}});
        faces.push_back({{v, v + 1, v + 2}});
    }
    const int w = static_cast<int>(s.vertices.size()) + 1;
    s.vertices.insert(s.vertices.end(),
                      {offset + Vec3{10, 20, -5}, offset + Vec3{50, 20, -5}, offset + Vec3{10, 20, 40}});
    faces.push_back({{w, w + 1, w + 2}});
    prepare(s, faces);
    return s;
}

// The exact hit of a triangle's point (barycentric u, v) for a ray from
// `from`: the rays aimed at edges, corners and near them.
Vec3 on_triangle(const Triangle& t, double u, double v) { return t.a + (t.b - t.a) * u + (t.c - t.a) * v; }

Vec3 cross(const Vec3& a, const Vec3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

TEST(CastShortcuts, AdversarialRaysAgreeBitForBit) {
    for (const Vec3& offset : {Vec3{0, 0, 0}, Vec3{612345.678, 5432109.876, 250}}) {
        SCOPED_TRACE(testing::Message() << "offset " << offset.x);
        const Scene s = folded_scene(offset);
        const CastTree tree(*s.root, s.triangles);
        ASSERT_GT(tree.leaf_count(), 64u);
        std::mt19937_64 rng(11);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        int hits = 0, rays = 0;
        const auto cast = [&](const Vec3& o, const Vec3& d) {
            ++rays;
            hits += cast_both(s, laser(o, d), &tree).hitFaceIndex >= 0;
            if (testing::Test::HasFailure()) FAIL() << "ray " << rays;
        };
        const double leaf = 64.0 / 32;  // a multiple of the leaf size at some depth
        for (int i = 0; i < 6000 && !testing::Test::HasFailure(); ++i) {
            const Triangle& t = s.triangles[static_cast<std::size_t>(u(rng) * s.triangles.size())];
            const Vec3 n = unit(t.normal);
            // A point on the triangle: inside, on an edge, on a corner, or
            // just outside an edge.
            const double bu = u(rng), bv = u(rng) * (1 - bu);
            const Vec3 targets[] = {on_triangle(t, bu, bv), on_triangle(t, bu, 0), on_triangle(t, 0, 0),
                                    on_triangle(t, bu, 1 - bu + 1e-12), on_triangle(t, 1 + 1e-9, 0)};
            const Vec3 p = targets[i % 5];
            switch (i % 8) {
            case 0: {  // steep, from above
                const Vec3 d = unit({0.3 * (u(rng) - 0.5), 0.3 * (u(rng) - 0.5), -1});
                cast(p - d * (40 * u(rng)), d);
                break;
            }
            case 1: {  // grazing: almost in the triangle's plane
                Vec3 along = unit(cross(n, {u(rng) - 0.5, u(rng) - 0.5, u(rng) - 0.5}));
                const Vec3 d = unit(along + n * ((u(rng) - 0.5) * 1e-3));
                cast(p - d * (5 + 30 * u(rng)), d);
                break;
            }
            case 2: {  // passing just above the surface, parallel to it
                const Vec3 d = unit(cross(n, {u(rng) - 0.5, u(rng) - 0.5, 0.1}));
                cast(p + n * (std::pow(10.0, -9 + 8 * u(rng))) - d * 20, d);
                break;
            }
            case 3:  // starting on the surface (t = 0 counts), up or down
                cast(p, unit({u(rng) - 0.5, u(rng) - 0.5, i % 16 < 8 ? 1.0 : -1.0}));
                break;
            case 4: {  // along a plane of the leaf grid, a zero component of either sign
                Vec3 o = offset + Vec3{leaf * static_cast<int>(32 * u(rng)), 64 * u(rng), 50};
                Vec3 d = unit({0, u(rng) - 0.5, -1});
                d.x = i % 16 < 8 ? 0.0 : -0.0;
                if (i % 3 == 0) std::swap(o.x, o.y), std::swap(d.x, d.y);
                cast(o, d);
                break;
            }
            case 5: {  // from far away, at the triangle
                const Vec3 far = p + Vec3{u(rng) - 0.5, u(rng) - 0.5, 0.5} * 1e7;
                cast(far, unit(p - far));
                break;
            }
            case 6: {  // horizontal, through the folds, from outside the box
                const Vec3 d = unit({u(rng) - 0.5, u(rng) - 0.5, 0});
                cast(p - d * 100, d);
                break;
            }
            default: {  // not normalised: tiny and huge directions
                const double scale = i % 16 < 8 ? 1e-150 : 1e150;
                cast(p - Vec3{0.1, 0.2, -3}, Vec3{0.1, 0.2, -3} * scale);
                break;
            }
            }
        }
        // Awkward numbers: denormal, NaN and infinite components.
        const Vec3 above = offset + Vec3{20.5, 31.25, 60};
        for (const Vec3& d : {Vec3{4.9e-324, 0, -1}, Vec3{0, -4.9e-324, -1}, Vec3{1e-310, 1e-310, -1e-310},
                              Vec3{kNaN, 0, -1}, Vec3{0, 0, kNaN}, Vec3{kInf, 0, -1}, Vec3{0, -kInf, -kInf},
                              Vec3{0, 0, -kInf}, Vec3{-0.0, -0.0, -1}})
            cast(above, d);
        EXPECT_GT(hits, 3000);
    }
}

TEST(CastShortcuts, DescendingRaysAlongOneHorizontalAxisSkipWhatLiesAboveTheCeilings) {
    // The survey's rays: no x (or no y) component, going down. The nodes
    // they leave above the ceiling grid are skipped; aimed at points on,
    // at the edges of and just beside the triangles, from just above the
    // surface to far above, steep and shallow, from under the roof, and
    // along cell and leaf planes.
    for (const Vec3& offset : {Vec3{0, 0, 0}, Vec3{612345.678, 5432109.876, 250}}) {
        SCOPED_TRACE(testing::Message() << "offset " << offset.x);
        const Scene s = folded_scene(offset);
        const CastTree tree(*s.root, s.triangles);
        std::mt19937_64 rng(23);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        int hits = 0;
        for (int i = 0; i < 8000; ++i) {
            const Triangle& t = s.triangles[static_cast<std::size_t>(u(rng) * s.triangles.size())];
            const double bu = u(rng), bv = u(rng) * (1 - bu);
            const Vec3 targets[] = {on_triangle(t, bu, bv), on_triangle(t, bu, 0), on_triangle(t, 0, 0),
                                    on_triangle(t, bu, 1 - bu + 1e-12), on_triangle(t, 1 + 1e-9, 0)};
            Vec3 p = targets[i % 5];
            if (i % 7 == 0) p.x = offset.x + 64.0 / 256 * static_cast<int>(256 * u(rng));  // on a cell plane
            const double shallow[] = {1, 0.3, 1e-2, 1.5e-3};
            Vec3 d = unit({0, (u(rng) - 0.5) * 1.5, -shallow[i % 4]});
            d.x = i % 16 < 8 ? 0.0 : -0.0;
            const double away[] = {1e-9, 1e-3, 0.7, 25, 3000};
            Vec3 o = p - d * (away[i % 5] / std::fabs(d.z));
            if (i % 2) std::swap(o.x, o.y), std::swap(d.x, d.y);
            hits += cast_both(s, laser(o, d), &tree).hitFaceIndex >= 0;
            if (testing::Test::HasFailure()) FAIL() << "ray " << i;
        }
        EXPECT_GT(hits, 3000);
    }
}

TEST(CastShortcuts, DescendingRaysThatLeaveTheBoxAboveTheCeilingsAgree) {
    // Rays along one horizontal axis going down, from inside and above the
    // box, steep to very shallow: many pass over the surface, or over the
    // box's empty margin, and leave the box through a side or the bottom
    // before they come down to a ceiling (the walk stops where the ray
    // leaves the box); others come down just inside the edge of the surface.
    for (const Vec3& offset : {Vec3{0, 0, 0}, Vec3{612345.678, 5432109.876, 250}}) {
        SCOPED_TRACE(testing::Message() << "offset " << offset.x);
        const Scene s = folded_scene(offset);
        const CastTree tree(*s.root, s.triangles);
        std::mt19937_64 rng(31);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        int hits = 0, misses = 0;
        for (int i = 0; i < 6000; ++i) {
            const double slope[] = {0.2, 1, 4, 30, 400, 1e5};  // horizontal metres per metre down
            const double dy = (i % 4 < 2 ? 1 : -1) * slope[i % 6];
            Vec3 d = unit({0, dy, -1});
            d.x = i % 16 < 8 ? 0.0 : -0.0;
            // Across the surface and its margins, from its height to far above.
            const double heights[] = {15, 30, 60, 400};
            Vec3 o = offset + Vec3{-12 + 88 * u(rng), -12 + 88 * u(rng), heights[i % 4] * u(rng) + 5};
            if (i % 3 == 0) std::swap(o.x, o.y), std::swap(d.x, d.y);
            const bool hit = cast_both(s, laser(o, d), &tree).hitFaceIndex >= 0;
            hits += hit;
            misses += !hit;
            if (testing::Test::HasFailure()) FAIL() << "ray " << i;
        }
        EXPECT_GT(hits, 300);
        EXPECT_GT(misses, 2000);
    }
}

TEST(CastShortcuts, AHitOutsideTheLeafLeavesTheReturnToALaterLeaf) {
    // A roof plate listed in the first leaf the ray enters (its corner pokes
    // into it) is hit beside that leaf, and a lower plate is hit inside it.
    // The pointer traversal returns the lower plate from the first leaf; the
    // slab of that leaf (tilted by the roof) and the cells must not hide it.
    // Then the same with nothing in the first leaf: the roof comes from the
    // later leaf.
    const Vec3 down = unit({0.35, 0.05, -1});
    for (const bool lower : {true, false}) {
        std::vector<Triangle> t{tri({0, 0, 10}, {9, 0, 19}, {0, 9, 10}, 0)};  // tilted roof
        if (lower) t.push_back(tri({0, 0, 2}, {4, 0, 2}, {0, 4, 2}, 1));
        t.push_back(tri({-20, -20, 0}, {40, -20, 0}, {-20, 40, 0}, 2));  // ground
        sort_mesh(t);
        const Scene s = hand_scene(t, {10, 10, 10}, {10, 10, 10}, 3);
        const CastTree tree(*s.root, s.triangles);
        for (double x = 0.5; x < 4; x += 0.37)
            for (double y = 0.25; y < 4; y += 0.41) {
                const LaserLine l = cast_both(s, laser(Vec3{x, y, 2.4} - down * 30, down), &tree);
                ASSERT_GE(l.hitFaceIndex, 0) << x << " " << y;
                if (testing::Test::HasFailure()) return;
            }
    }
}

TEST(CastShortcuts, EmptySubtreesAreLeftOut) {
    // A tree split three levels deep over a small triangle: most inner nodes
    // hold only empty leaves and are not copied; rays through them, and
    // along their planes, still agree.
    const Scene s = hand_scene({tri({1, 1, 1}, {3, 1, 1.5}, {1, 3, 2}, 0)}, {10, 10, 10}, {10, 10, 10}, 3);
    const CastTree tree(*s.root, s.triangles);
    EXPECT_LE(tree.node_count(), 1u + 8 + 8 + 8);  // the path to the triangle's few leaves
    int hits = 0;
    for (double x = 0; x <= 20; x += 1.25)
        for (double y = 0; y <= 20; y += 1.25)
            for (const Vec3& d : {Vec3{0, 0, -1}, unit({-0.1, -0.1, -1}), unit({1, 1, 0.001})}) {
                hits += cast_both(s, laser({x, y, 25}, d), &tree).hitFaceIndex >= 0;
                hits += cast_both(s, laser({x - 10, y - 10, 1.2}, d), &tree).hitFaceIndex >= 0;
                if (testing::Test::HasFailure()) FAIL() << x << " " << y;
            }
    EXPECT_GT(hits, 3);
}

}  // namespace
