#include "terrain/octree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>

namespace {

// Triangles over a square area with some relief, prepared and sorted as a
// load does.
std::vector<Triangle> scattered_triangles(std::size_t count, bool flat, unsigned seed = 3) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> position(0, 100);
    std::uniform_real_distribution<double> offset(-2, 2);
    std::uniform_real_distribution<double> height(0, 30);
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

ModelLimits limits_of(const std::vector<Triangle>& triangles) {
    std::vector<Vertex> corners;
    for (const Triangle& t : triangles) {
        corners.push_back(t.a);
        corners.push_back(t.b);
        corners.push_back(t.c);
    }
    return compute_limits(corners);
}

std::unique_ptr<OctreeNode> build(const std::vector<Triangle>& triangles) {
    const ModelLimits l = limits_of(triangles);
    auto root = std::make_unique<OctreeNode>();
    create_octree(triangles, *root, {l.maxX, l.maxY, l.maxZ}, {l.minX, l.minY, l.minZ});
    return root;
}

void for_each_node(const OctreeNode& node, int depth, const std::function<void(const OctreeNode&, int)>& visit) {
    visit(node, depth);
    if (!node.isLeaf) {
        for (const auto& child : node.children) for_each_node(*child, depth + 1, visit);
    }
}

std::set<std::uint32_t> listed_below(const OctreeNode& node) {
    std::set<std::uint32_t> out;
    for_each_node(node, 0, [&](const OctreeNode& n, int) { out.insert(n.triangleIndices.begin(), n.triangleIndices.end()); });
    return out;
}

// What every tree must satisfy: consistent nodes, ascending leaf lists, and
// every triangle that overlaps a leaf's box listed there.
void check_tree(const OctreeNode& root, const std::vector<Triangle>& triangles) {
    for_each_node(root, 0, [&](const OctreeNode& n, int depth) {
        ASSERT_LE(depth, kMaxOctreeDepth);
        for (int q = 0; q < 3; ++q) {
            ASSERT_EQ(n.maxCorner[q], n.center[q] + n.halfSize[q]);
            ASSERT_EQ(n.minCorner[q], n.center[q] - n.halfSize[q]);
        }
        if (!n.isLeaf) {
            ASSERT_TRUE(n.triangleIndices.empty());
            for (const auto& child : n.children) {
                ASSERT_TRUE(child);
                ASSERT_EQ(child->parent, &n);
            }
            return;
        }
        for (const auto& child : n.children) ASSERT_FALSE(child);
        ASSERT_TRUE(std::is_sorted(n.triangleIndices.begin(), n.triangleIndices.end()));
        ASSERT_EQ(std::adjacent_find(n.triangleIndices.begin(), n.triangleIndices.end()), n.triangleIndices.end());
        std::size_t overlapping = 0;
        for (const Triangle& t : triangles) {
            overlapping += tri_box_overlap(n.center, n.halfSize,
                                           {NodeVec{t.a.x, t.a.z, t.a.y}, NodeVec{t.b.x, t.b.z, t.b.y},
                                            NodeVec{t.c.x, t.c.z, t.c.y}});
        }
        ASSERT_EQ(n.triangleIndices.size(), overlapping);
    });
}

TEST(Octree, HundredTrianglesStayInTheRootLeaf) {
    const auto triangles = scattered_triangles(100, false);
    const auto root = build(triangles);
    ASSERT_TRUE(root->isLeaf);
    ASSERT_EQ(root->triangleIndices.size(), 100u);
    for (std::uint32_t i = 0; i < 100; ++i) EXPECT_EQ(root->triangleIndices[i], i);
    EXPECT_EQ(root->parent, nullptr);
}

TEST(Octree, HundredAndOneTrianglesSplitTheRootAndEveryChild) {
    const auto triangles = scattered_triangles(101, false);
    const auto root = build(triangles);
    ASSERT_FALSE(root->isLeaf);
    for (const auto& child : root->children) {
        EXPECT_FALSE(child->isLeaf);  // its candidates are the root's 101
        for (const auto& grandchild : child->children) EXPECT_TRUE(grandchild->isLeaf);
    }
    check_tree(*root, triangles);
    EXPECT_EQ(listed_below(*root).size(), 101u);
}

TEST(Octree, RootBoxIsTheModelGrownByATenthOnEachSideInNodeAxisOrder) {
    std::vector<Triangle> triangles = {make_triangle({0, 100, 10}, {20, 100, 10}, {0, 150, 50}, {0, 1, 2}, 0)};
    auto root = std::make_unique<OctreeNode>();
    create_octree(triangles, *root, {20, 150, 50}, {0, 100, 10});
    // x 0..20, y 100..150, z 10..50 -> node order (x, z, y)
    EXPECT_EQ(root->center, (NodeVec{10, 30, 125}));
    EXPECT_EQ(root->halfSize, (NodeVec{20 * 0.6, 40 * 0.6, 50 * 0.6}));
    EXPECT_TRUE(root->isLeaf);
    EXPECT_EQ(root->triangleIndices, (std::vector<std::uint32_t>{0}));
}

TEST(Octree, ChildKHasBit4ForXBit2ForZBit1ForY) {
    // A model whose root box has center (10, 20, 30) and half sizes (4, 2, 6)
    // in node order: x 10 +- 4/1.2, z 20 +- 2/1.2, y 30 +- 6/1.2.
    std::vector<Triangle> triangles;
    const double ex = 4 / 1.2, ez = 2 / 1.2, ey = 6 / 1.2;
    for (std::uint32_t i = 0; i < 101; ++i) {
        const double f = i / 100.0;
        triangles.push_back(make_triangle({10 - ex, 30 - ey, 20 - ez + 2 * ez * f}, {10 + ex, 30 - ey, 20},
                                          {10 + ex * f, 30 + ey, 20 + ez}, {0, 1, 2}, i));
    }
    sort_mesh(triangles);
    auto root = std::make_unique<OctreeNode>();
    create_octree(triangles, *root, {10 + ex, 30 + ey, 20 + ez}, {10 - ex, 30 - ey, 20 - ez});
    ASSERT_FALSE(root->isLeaf);
    for (int q = 0; q < 3; ++q) {
        EXPECT_NEAR(root->center[q], (NodeVec{10, 20, 30})[q], 1e-12);
        EXPECT_NEAR(root->halfSize[q], (NodeVec{4, 2, 6})[q], 1e-12);
    }
    const OctreeNode& child5 = *root->children[5];
    const NodeVec center5 = {12, 19, 33}, half5 = {2, 1, 3};
    for (int q = 0; q < 3; ++q) {
        EXPECT_NEAR(child5.center[q], center5[q], 1e-12);
        EXPECT_NEAR(child5.halfSize[q], half5[q], 1e-12);
    }
    // And the other children by their bits.
    for (int k = 0; k < 8; ++k) {
        const OctreeNode& child = *root->children[k];
        EXPECT_EQ(child.center[0] > root->center[0], (k & 4) != 0) << k;
        EXPECT_EQ(child.center[1] > root->center[1], (k & 2) != 0) << k;
        EXPECT_EQ(child.center[2] > root->center[2], (k & 1) != 0) << k;
    }
}

TEST(Octree, AFlatModelListsEveryTriangleOnBothSidesOfTheZSplit) {
    const auto triangles = scattered_triangles(400, true);
    const auto root = build(triangles);
    EXPECT_EQ(root->halfSize[1], 0.0);
    ASSERT_FALSE(root->isLeaf);
    check_tree(*root, triangles);
    EXPECT_EQ(listed_below(*root).size(), 400u);
    for (int k = 0; k < 8; ++k) {
        if (k & 2) continue;
        const OctreeNode& lower = *root->children[k];
        const OctreeNode& upper = *root->children[k | 2];
        EXPECT_EQ(lower.minCorner[1], upper.minCorner[1]);
        EXPECT_EQ(lower.maxCorner[1], upper.maxCorner[1]);
        EXPECT_EQ(listed_below(lower), listed_below(upper)) << "children " << k << " and " << (k | 2);
        EXPECT_FALSE(listed_below(lower).empty());
    }
}

TEST(Octree, ManyTrianglesMeetingInOnePointStopAtTheDepthBound) {
    // 120 triangles fanned around one shared corner: every box around that
    // corner holds all of them, however small.
    const Vertex hub{3.1, 4.7, 2.3};
    std::vector<Triangle> triangles;
    for (std::uint32_t i = 0; i < 120; ++i) {
        const double a = 6.28318 * i / 120, b = 6.28318 * (i + 1) / 120;
        triangles.push_back(make_triangle(hub, {hub.x + 10 * std::cos(a), hub.y + 10 * std::sin(a), hub.z + 3 * std::sin(2 * a)},
                                          {hub.x + 10 * std::cos(b), hub.y + 10 * std::sin(b), hub.z + 3 * std::sin(2 * b)},
                                          {0, 1, 2}, i));
    }
    sort_mesh(triangles);
    const auto root = build(triangles);
    check_tree(*root, triangles);

    int deepest = 0;
    std::size_t nodes = 0, fullDeepLeaves = 0;
    for_each_node(*root, 0, [&](const OctreeNode& n, int depth) {
        ++nodes;
        deepest = std::max(deepest, depth);
        if (depth == kMaxOctreeDepth) {
            EXPECT_TRUE(n.isLeaf);
            if (n.triangleIndices.size() == 120) ++fullDeepLeaves;
        }
    });
    EXPECT_EQ(deepest, kMaxOctreeDepth);
    EXPECT_GE(fullDeepLeaves, 1u);  // the leaf around the hub keeps them all
    EXPECT_LT(nodes, 100000u);
}

TEST(Octree, PilesOfCoincidentTrianglesStillGiveABoundedValidTree) {
    // 150 copies of one triangle keep every box along it above 100 at every
    // depth; 150 triangles shrunk to one point give a root box of no extent.
    std::vector<Triangle> pile, point;
    for (std::uint32_t i = 0; i < 150; ++i) {
        pile.push_back(make_triangle({0, 0, 0}, {10, 0, 1}, {0, 10, 2}, {0, 1, 2}, i));
        point.push_back(make_triangle({4, 5, 6}, {4, 5, 6}, {4, 5, 6}, {0, 1, 2}, i));
    }
    const auto pileRoot = build(pile);
    std::size_t nodes = 0;
    for_each_node(*pileRoot, 0, [&](const OctreeNode&, int) { ++nodes; });
    EXPECT_LT(nodes, 200000u);
    check_tree(*pileRoot, pile);

    const auto pointRoot = build(point);
    EXPECT_TRUE(pointRoot->isLeaf);
    EXPECT_EQ(pointRoot->triangleIndices.size(), 150u);
}

TEST(Octree, NoTrianglesGiveAnEmptyRootLeaf) {
    auto root = std::make_unique<OctreeNode>();
    create_octree({}, *root, {1, 1, 1}, {0, 0, 0});
    EXPECT_TRUE(root->isLeaf);
    EXPECT_TRUE(root->triangleIndices.empty());
}

// Box [-1, 1]^3 at the origin unless said otherwise.
bool overlaps(const NodeVec& p, const NodeVec& q, const NodeVec& r, const NodeVec& half = {1, 1, 1},
              const NodeVec& center = {0, 0, 0}) {
    return tri_box_overlap(center, half, {p, q, r});
}

TEST(TriBoxOverlap, TouchingCounts) {
    // A corner on a face of the box, the rest outside.
    EXPECT_TRUE(overlaps({1, 0, 0}, {3, 0, 0}, {3, 1, 0}));
    EXPECT_FALSE(overlaps({1.000001, 0, 0}, {3, 0, 0}, {3, 1, 0}));
    // An edge through the box's corner edge in the xy plane: x + y = 2 touches (1, 1).
    EXPECT_TRUE(overlaps({1.5, 0.5, 0}, {0.5, 1.5, 0}, {3, 3, 0}));
    EXPECT_FALSE(overlaps({1.5, 0.625, 0}, {0.625, 1.5, 0}, {3, 3, 0}));  // bounds overlap, an edge axis separates
    EXPECT_TRUE(overlaps({1.5, 0.375, 0}, {0.375, 1.5, 0}, {3, 3, 0}));
    // The plane x + y + z = 3 touches the corner (1, 1, 1); 3.5 misses it.
    EXPECT_TRUE(overlaps({3, 0, 0}, {0, 3, 0}, {0, 0, 3}));
    EXPECT_FALSE(overlaps({3.5, 0, 0}, {0, 3.5, 0}, {0, 0, 3.5}));
}

TEST(TriBoxOverlap, ContainedCrossingAndFarTriangles) {
    EXPECT_TRUE(overlaps({-0.5, -0.5, 0}, {0.5, -0.5, 0}, {0, 0.5, 0.2}));       // inside
    EXPECT_TRUE(overlaps({-10, -10, 0.3}, {10, -10, 0.3}, {0, 10, -0.3}));      // slices through, corners outside
    EXPECT_FALSE(overlaps({-10, -10, 1.5}, {10, -10, 1.5}, {0, 10, 1.2}));      // above the box
    EXPECT_FALSE(overlaps({5, 5, 5}, {6, 5, 5}, {5, 6, 5}));
    EXPECT_TRUE(overlaps({104.5, 0, 0}, {106, 0, 0}, {106, 1, 0}, {1, 1, 1}, {104, 0, 0}));  // box moved
}

TEST(TriBoxOverlap, BoxesOfZeroThickness) {
    // A flat box (half size 0 along component 1) and a triangle in its plane.
    EXPECT_TRUE(overlaps({-0.5, 0, -0.5}, {0.5, 0, -0.5}, {0, 0, 0.5}, {1, 0, 1}));
    EXPECT_TRUE(overlaps({-0.5, 0, -0.5}, {0.5, 0, -0.5}, {0, 1, 0.5}, {1, 0, 1}));  // leaning, touching the plane
    EXPECT_FALSE(overlaps({-0.5, 0.1, -0.5}, {0.5, 0.1, -0.5}, {0, 0.1, 0.5}, {1, 0, 1}));
    // A box shrunk to a point on the triangle's edge.
    EXPECT_TRUE(overlaps({-1, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}));
}

}  // namespace

namespace {

// The building rule written out as plainly as possible: every node tests its
// candidates itself, children get copies of their parent's list.
void reference_build(OctreeNode& node, const std::vector<Triangle>& triangles, const NodeVec& center,
                     const NodeVec& halfSize, const std::vector<std::uint32_t>& candidates, OctreeNode* parent,
                     int depth) {
    node.center = center;
    node.halfSize = halfSize;
    node.parent = parent;
    for (const std::uint32_t i : candidates) {
        const Triangle& t = triangles[i];
        if (tri_box_overlap(center, halfSize,
                            {NodeVec{t.a.x, t.a.z, t.a.y}, NodeVec{t.b.x, t.b.z, t.b.y}, NodeVec{t.c.x, t.c.z, t.c.y}}))
            node.triangleIndices.push_back(i);
    }
    node.isLeaf = 1;
    if (candidates.size() <= 100 || depth == kMaxOctreeDepth) return;
    node.isLeaf = 0;
    int k = 0;
    for (const double s0 : {-1.0, 1.0}) {
        for (const double s1 : {-1.0, 1.0}) {
            for (const double s2 : {-1.0, 1.0}) {
                node.children[k] = std::make_unique<OctreeNode>();
                reference_build(*node.children[k], triangles,
                                {center[0] + s0 * (halfSize[0] / 2), center[1] + s1 * (halfSize[1] / 2),
                                 center[2] + s2 * (halfSize[2] / 2)},
                                {halfSize[0] / 2, halfSize[1] / 2, halfSize[2] / 2}, node.triangleIndices, &node,
                                depth + 1);
                ++k;
            }
        }
    }
    node.triangleIndices.clear();
}

void expect_same_tree(const OctreeNode& expected, const OctreeNode& actual, const std::string& path) {
    ASSERT_EQ(actual.isLeaf, expected.isLeaf) << path;
    ASSERT_EQ(actual.center, expected.center) << path;
    ASSERT_EQ(actual.halfSize, expected.halfSize) << path;
    ASSERT_EQ(actual.triangleIndices, expected.triangleIndices) << path;
    if (expected.isLeaf) return;
    for (int k = 0; k < 8; ++k)
        expect_same_tree(*expected.children[k], *actual.children[k], path + "/" + std::to_string(k));
}

TEST(Octree, MatchesThePlainRuleNodeForNode) {
    auto fan = [] {
        std::vector<Triangle> triangles;
        for (std::uint32_t i = 0; i < 150; ++i) {
            const double a = 0.05 * i;
            triangles.push_back(make_triangle({1, 1, 1}, {1 + 5 * std::cos(a), 1 + 5 * std::sin(a), 1.0 + i % 7},
                                              {1 + 5 * std::cos(a + 0.05), 1 + 5 * std::sin(a + 0.05), 2},
                                              {0, 1, 2}, i));
        }
        sort_mesh(triangles);
        return triangles;
    };
    const std::pair<const char*, std::vector<Triangle>> models[] = {
        {"scattered", scattered_triangles(2500, false, 5)}, {"flat", scattered_triangles(700, true, 6)}, {"fan", fan()}};
    for (const auto& [label, triangles] : models) {
        const ModelLimits l = limits_of(triangles);
        auto built = std::make_unique<OctreeNode>();
        create_octree(triangles, *built, {l.maxX, l.maxY, l.maxZ}, {l.minX, l.minY, l.minZ});
        std::vector<std::uint32_t> all(triangles.size());
        for (std::uint32_t i = 0; i < all.size(); ++i) all[i] = i;
        OctreeNode expected;
        reference_build(expected, triangles, {(l.maxX + l.minX) * 0.5, (l.maxZ + l.minZ) * 0.5, (l.maxY + l.minY) * 0.5},
                        {(l.maxX - l.minX) * 0.6, (l.maxZ - l.minZ) * 0.6, (l.maxY - l.minY) * 0.6}, all, nullptr, 0);
        expect_same_tree(expected, *built, label);
    }
}

}  // namespace
