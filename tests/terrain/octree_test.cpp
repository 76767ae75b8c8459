#include "terrain/octree.h"
#include "terrain/octree_builder.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <limits>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <random>

namespace {

using testing_support::scaled;

// Triangles over a square area with some relief (or none), sorted as a load does.
std::vector<Triangle> scattered_triangles(std::size_t count, bool flat, unsigned seed = 3) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> position(0, 100), offset(-2, 2), height(0, 30);
    std::vector<Triangle> triangles;
    for (std::uint32_t i = 0; i < count; ++i) {
        const double x = position(random), y = position(random);
        auto z = [&] { return flat ? 5.0 : height(random); };
        triangles.push_back(make_triangle({x, y, z()}, {x + offset(random), y + offset(random), z()},
                                          {x + offset(random), y + offset(random), z()}, {0, 1, 2}, i));
    }
    sort_mesh(triangles);
    return triangles;
}

// 120 triangles fanned around one shared corner: every box around it holds all of them.
std::vector<Triangle> fan() {
    const Vertex hub{3.1, 4.7, 2.3};
    auto rim = [&](double a) { return Vertex{hub.x + 10 * std::cos(a), hub.y + 10 * std::sin(a), hub.z + 3 * std::sin(2 * a)}; };
    std::vector<Triangle> triangles;
    for (std::uint32_t i = 0; i < 120; ++i)
        triangles.push_back(make_triangle(hub, rim(6.28318 * i / 120), rim(6.28318 * (i + 1) / 120), {0, 1, 2}, i));
    sort_mesh(triangles);
    return triangles;
}

ModelLimits limits_of(const std::vector<Triangle>& triangles) {
    std::vector<Vertex> corners;
    for (const Triangle& t : triangles) corners.insert(corners.end(), {t.a, t.b, t.c});
    return compute_limits(corners);
}

std::unique_ptr<OctreeNode> build(const std::vector<Triangle>& triangles, unsigned threads = 0) {
    const ModelLimits l = limits_of(triangles);
    auto root = std::make_unique<OctreeNode>();
    create_octree(triangles, *root, {l.maxX, l.maxY, l.maxZ}, {l.minX, l.minY, l.minZ}, threads);
    return root;
}

void for_each_node(const OctreeNode& node, int depth, const std::function<void(const OctreeNode&, int)>& visit) {
    visit(node, depth);
    for (int k = 0; k < 8 && !node.isLeaf; ++k) for_each_node(*node.children[k], depth + 1, visit);
}

TEST(Octree, TrianglesMeetingInOnePointOrPiledUpStillTerminate) {
    // Every box around the fan's hub holds all 120: only the depth bound stops it.
    int deepest = 0;
    for_each_node(*build(fan()), 0, [&](const OctreeNode&, int depth) { deepest = std::max(deepest, depth); });
    EXPECT_EQ(deepest, kMaxOctreeDepth);

    // 150 copies of one triangle keep every box along it above 100 at every
    // depth; 150 copies of a point give a root box of no extent.
    std::size_t nodes = 0;
    for_each_node(*build(std::vector<Triangle>(150, make_triangle({0, 0, 0}, {10, 0, 1}, {0, 10, 2}, {0, 1, 2}, 0))), 0,
                  [&](const OctreeNode&, int) { ++nodes; });
    EXPECT_LT(nodes, 200000u);
    EXPECT_TRUE(build(std::vector<Triangle>(150, make_triangle({4, 5, 6}, {4, 5, 6}, {4, 5, 6}, {0, 1, 2}, 0)))->isLeaf);
}

// The building rule written out plainly: every node tests its candidates
// itself, children get copies of their parent's list.
void reference_build(OctreeNode& node, const std::vector<Triangle>& triangles, const NodeVec& center,
                     const NodeVec& half, const std::vector<std::uint32_t>& candidates, int depth) {
    node.center = center;
    node.halfSize = half;
    for (const std::uint32_t i : candidates) {
        const Triangle& t = triangles[i];
        if (tri_box_overlap(center, half, {NodeVec{t.a.x, t.a.z, t.a.y}, NodeVec{t.b.x, t.b.z, t.b.y}, NodeVec{t.c.x, t.c.z, t.c.y}}))
            node.triangleIndices.push_back(i);
    }
    node.isLeaf = candidates.size() <= 100 || depth == kMaxOctreeDepth;
    if (node.isLeaf) return;
    for (int k = 0; k < 8; ++k) {
        NodeVec c;
        for (int q = 0; q < 3; ++q) c[q] = center[q] + ((k >> (2 - q)) & 1 ? 1 : -1) * (half[q] / 2);
        node.children[k] = std::make_unique<OctreeNode>();
        reference_build(*node.children[k], triangles, c, {half[0] / 2, half[1] / 2, half[2] / 2}, node.triangleIndices, depth + 1);
    }
    node.triangleIndices.clear();
}

void expect_same_tree(const OctreeNode& expected, const OctreeNode& actual, const OctreeNode* parent, const std::string& path) {
    ASSERT_EQ(actual.isLeaf, expected.isLeaf) << path;
    ASSERT_EQ(actual.parent, parent) << path;
    ASSERT_EQ(actual.center, expected.center) << path;
    ASSERT_EQ(actual.halfSize, expected.halfSize) << path;
    ASSERT_EQ(actual.triangleIndices, expected.triangleIndices) << path;
    for (int k = 0; k < 8; ++k) {
        if (expected.isLeaf) ASSERT_FALSE(actual.children[k]) << path;
        else expect_same_tree(*expected.children[k], *actual.children[k], &actual, path + "/" + std::to_string(k));
    }
}

// Pins the split rule (more than 100 candidates), the root box and the child
// order (bit 4 for x, 2 for z, 1 for y) node for node.
TEST(Octree, MatchesThePlainRuleNodeForNode) {
    // The flat model's root box has no height: every triangle sits on the z
    // split. The scaled models take the build's numbers to where its quick
    // overlap verdict stands aside (subnormal and huge coordinates).
    const std::vector<Triangle> scattered = scattered_triangles(2500, false, 5);
    const std::pair<const char*, std::vector<Triangle>> models[] = {
        {"scattered", scattered}, {"flat", scattered_triangles(700, true, 6)}, {"fan", fan()},
        {"100", scattered_triangles(100, false)}, {"101", scattered_triangles(101, false)},
        {"tiny", scaled(scattered, 0x1p-1040)}, {"small", scaled(scattered, 0x1p-250)}, {"huge", scaled(scattered, 0x1p190)}};
    for (const auto& [label, triangles] : models) {
        const ModelLimits l = limits_of(triangles);
        std::vector<std::uint32_t> all(triangles.size());
        std::iota(all.begin(), all.end(), 0u);
        // Root: the model grown by a tenth on each side, in node axis order (x, z, y).
        OctreeNode expected;
        reference_build(expected, triangles, {(l.maxX + l.minX) * 0.5, (l.maxZ + l.minZ) * 0.5, (l.maxY + l.minY) * 0.5},
                        {(l.maxX - l.minX) * 0.6, (l.maxZ - l.minZ) * 0.6, (l.maxY - l.minY) * 0.6}, all, 0);
        expect_same_tree(expected, *build(triangles), nullptr, label);
    }
}

TEST(TriBoxOverlap, TouchingCountsAndSeparatingAxesDoNot) {
    struct Case {
        NodeVec p, q, r;
        bool overlaps;
        NodeVec half = {1, 1, 1}, center = {0, 0, 0};
    };
    const Case cases[] = {
        {{1, 0, 0}, {3, 0, 0}, {3, 1, 0}, true},               // a corner on a face of the box
        {{1.000001, 0, 0}, {3, 0, 0}, {3, 1, 0}, false},
        {{1.5, 0.5, 0}, {0.5, 1.5, 0}, {3, 3, 0}, true},       // an edge x + y = 2 touches the box edge at (1, 1)
        {{1.5, 0.625, 0}, {0.625, 1.5, 0}, {3, 3, 0}, false},  // bounds overlap, an edge axis separates
        {{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, true},               // the plane x + y + z = 3 touches (1, 1, 1)
        {{3.5, 0, 0}, {0, 3.5, 0}, {0, 0, 3.5}, false},
        {{-10, -10, 0.3}, {10, -10, 0.3}, {0, 10, -0.3}, true},  // slices through, corners outside
        {{104.5, 0, 0}, {106, 0, 0}, {106, 1, 0}, true, {1, 1, 1}, {104, 0, 0}},
        {{-0.5, 0, -0.5}, {0.5, 0, -0.5}, {0, 1, 0.5}, true, {1, 0, 1}},  // box of no thickness, touched
        {{-0.5, 0.1, -0.5}, {0.5, 0.1, -0.5}, {0, 0.1, 0.5}, false, {1, 0, 1}},
        {{-1, 0, 0}, {1, 0, 0}, {0, 0, 1}, true, {0, 0, 0}},  // a point box on an edge
    };
    for (const Case& c : cases)
        EXPECT_EQ(tri_box_overlap(c.center, c.half, {c.p, c.q, c.r}), c.overlaps)
            << c.p[0] << " " << c.p[1] << " " << c.p[2] << " half " << c.half[1];
}

TEST(Octree, TheSameTreeOnAnyNumberOfThreads) {
    // The root's subtrees are built in parallel. A pile of 400 copies of one
    // triangle spends the node budget, which counts over the whole tree in
    // build order: the parallel build must then give up and stop where the
    // serial one stops.
    const auto scattered = scattered_triangles(12000, false, 7);
    const std::vector<Triangle> pile(400, make_triangle({0, 0, 0}, {10, 0, 1}, {0, 10, 2}, {0, 1, 2}, 0));
    const auto serial = build(scattered, 1);
    for (unsigned threads : {2u, 8u}) expect_same_tree(*serial, *build(scattered, threads), nullptr, "scattered");
    expect_same_tree(*build(pile, 1), *build(pile, 2), nullptr, "pile");
}

}  // namespace

// The split tests two boxes at once (for one triangle or two), one per vector lane: each lane must give
// exactly the verdict of the one-box test, also at the rounding edge (corners
// on the box faces, grazing edges and planes), for boxes of no thickness and
// for odd numbers (infinities, NaN, subnormals).
TEST(TriBoxOverlap, TwoBoxesAtOnceGiveTheVerdictsOfOneAtATime) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::uniform_int_distribution<int> pick(0, 9);
    const double odd[] = {1.0, -1.0, 0.0, 1e-310, std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(), 0.5, 1e300, 0.1, -0.75};
    // A coordinate: a face or edge of the box (exact touches), a random one,
    // or now and then an odd number.
    auto coordinate = [&](double c, double h) {
        switch (pick(random)) {
        case 0: return c + h;
        case 1: return c - h;
        case 2: return odd[pick(random)];
        case 3: return c + h * (1 + 0x1p-40);
        default: return c + 2.5 * h * unit(random);
        }
    };
    int agreed = 0, overlapping = 0;
    for (int i = 0; i < 200000; ++i) {
        const double half[3] = {i % 7 == 0 ? 0.0 : 0.5 + std::fabs(unit(random)), 1.0, 0.25};
        double c[2][3];
        for (auto& centre : c)
            for (int q = 0; q < 3; ++q) centre[q] = (pick(random) < 3 ? 0.0 : unit(random)) + (q == 1 ? 0.5 : 0.0);
        // Half of the pairs test one triangle, the others one per lane.
        double v[2][3][3];
        for (int lane = 0; lane < 2; ++lane)
            for (auto& corner : v[lane])
                for (int q = 0; q < 3; ++q) corner[q] = coordinate(c[(i + lane) & 1][q], half[q]);
        const double* t[2][3] = {{v[0][0], v[0][1], v[0][2]}, {v[1][0], v[1][1], v[1][2]}};
        const int second = (i >> 1) & 1;
        const unsigned pair = octree_build::overlap_pair(c[0], c[1], half, t[0], t[second]);
        for (int lane = 0; lane < 2; ++lane) {
            const double* const* w = t[lane == 0 ? 0 : second];
            const bool one = octree_build::overlap_impl<true>(c[lane], half, w[0], w[1], w[2]);
            ASSERT_EQ(((pair >> lane) & 1u) != 0, one) << "case " << i << " lane " << lane;
            overlapping += one;
            ++agreed;
        }
    }
    // Both verdicts come up often enough for the comparison to mean something.
    EXPECT_GT(overlapping, agreed / 10);
    EXPECT_LT(overlapping, agreed * 9 / 10);
}

// The same for the four-lane form (where the processor has it): four boxes
// of the same size, each with its own triangle, some of them shared.
TEST(TriBoxOverlap, FourBoxesAtOnceGiveTheVerdictsOfOneAtATime) {
    if (!octree_build::has_avx()) GTEST_SKIP() << "no AVX on this processor";
    std::mt19937 random(17);
    std::uniform_real_distribution<double> unit(-1, 1);
    std::uniform_int_distribution<int> pick(0, 9);
    const double odd[] = {1.0, -1.0, 0.0, 1e-310, std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(), 0.5, 1e300, 0.1, -0.75};
    auto coordinate = [&](double c, double h) {
        switch (pick(random)) {
        case 0: return c + h;
        case 1: return c - h;
        case 2: return odd[pick(random)];
        case 3: return c + h * (1 - 0x1p-40);
        default: return c + 2.5 * h * unit(random);
        }
    };
    int agreed = 0, overlapping = 0;
    for (int i = 0; i < 100000; ++i) {
        const double half[3] = {i % 7 == 0 ? 0.0 : 0.5 + std::fabs(unit(random)), 1.0, i % 11 == 0 ? 0.0 : 0.25};
        double c[4][3], v[4][3][3];
        for (int lane = 0; lane < 4; ++lane) {
            for (int q = 0; q < 3; ++q) c[lane][q] = (pick(random) < 3 ? 0.0 : unit(random)) + (q == 1 ? 0.5 : 0.0);
            for (auto& corner : v[lane])
                for (int q = 0; q < 3; ++q) corner[q] = coordinate(c[lane][q], half[q]);
        }
        const double* centres[4] = {c[0], c[1], c[2], c[3]};
        const double* t[4][3];
        for (int lane = 0; lane < 4; ++lane) {
            const int own = (i >> lane) & 1 ? lane : 0;  // now and then lane 0's triangle
            t[lane][0] = v[own][0];
            t[lane][1] = v[own][1];
            t[lane][2] = v[own][2];
        }
        const unsigned four = octree_build::overlap_quad(centres, half, t);
        for (int lane = 0; lane < 4; ++lane) {
            const bool one = octree_build::overlap_impl<true>(c[lane], half, t[lane][0], t[lane][1], t[lane][2]);
            ASSERT_EQ(((four >> lane) & 1u) != 0, one) << "case " << i << " lane " << lane;
            overlapping += one;
            ++agreed;
        }
    }
    EXPECT_GT(overlapping, agreed / 10);
    EXPECT_LT(overlapping, agreed * 9 / 10);
}

// A leaf's list comes out ascending whatever its length and order, with
// numbers from the whole unsigned range (the short lists are sorted by
// comparing with a sign flip).
TEST(OctreeLeafSort, SortsDistinctNumbersOfEveryShortLengthAndLongerOnes) {
    std::mt19937 random(5);
    std::uniform_int_distribution<std::uint32_t> any(0, 0xffffffffu);
    std::vector<std::uint32_t> spare;
    for (std::size_t n : {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100}) {
        for (int round = 0; round < 20; ++round) {
            std::vector<std::uint32_t> v;
            while (v.size() < n) {
                // Small numbers, numbers around 2^31 and the extremes.
                const std::uint32_t kinds[] = {any(random) % 64, 0x80000000u + any(random) % 8 - 4, 0u, 0xffffffffu,
                                               any(random)};
                const std::uint32_t x = kinds[any(random) % 5];
                if (std::find(v.begin(), v.end(), x) == v.end()) v.push_back(x);
            }
            std::vector<std::uint32_t> expected = v;
            std::sort(expected.begin(), expected.end());
            octree_build::sort_distinct(v, spare);
            ASSERT_EQ(v, expected) << "length " << n << " round " << round;
        }
    }
}
