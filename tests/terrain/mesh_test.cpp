#include "terrain/mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

namespace {

TEST(ModelLimits, EachLimitComesFromTheExtremeVertexOfItsAxis) {
    const std::vector<Vertex> vertices = {{5, -2, 7}, {-1, 4, 3}, {2, 9, -6}, {8, 0, 1}};
    const ModelLimits l = compute_limits(vertices);
    EXPECT_EQ(l.minX, -1);
    EXPECT_EQ(l.maxX, 8);
    EXPECT_EQ(l.minY, -2);
    EXPECT_EQ(l.maxY, 9);
    EXPECT_EQ(l.minZ, -6);
    EXPECT_EQ(l.maxZ, 7);
}

TEST(ModelLimits, TiesMoveTheMaximumButNotTheMinimum) {
    // 0.0 and -0.0 compare equal: the maximum takes the later one (>=), the
    // minimum keeps the first (strict >). The sign shows in the log.
    const ModelLimits l = compute_limits({{0.0, 0.0, 0.0}, {-0.0, -0.0, -0.0}});
    EXPECT_TRUE(std::signbit(l.maxX));
    EXPECT_FALSE(std::signbit(l.minX));
    EXPECT_TRUE(std::signbit(l.maxZ));
    EXPECT_FALSE(std::signbit(l.minZ));
}

TEST(MakeTriangle, NormalIsTheUnnormalisedCrossProductOfTheEdges) {
    const Vertex a{1, 1, 1}, b{4, 1, 2}, c{1, 3, 5};
    const Triangle t = make_triangle(a, b, c, {7, 8, 9}, 42);
    // e1 = (3, 0, 1), e2 = (0, 2, 4): e1 x e2 = (0*4 - 1*2, 1*0 - 3*4, 3*2 - 0*0)
    EXPECT_EQ(t.normal.x, -2);
    EXPECT_EQ(t.normal.y, -12);
    EXPECT_EQ(t.normal.z, 6);
    EXPECT_EQ(t.topZ, 5);
    EXPECT_EQ(t.faceIndex, 42u);
    EXPECT_EQ(t.cornerIndices, (std::array<std::uint32_t, 3>{7, 8, 9}));
    EXPECT_EQ(t.a.x, 1);
    EXPECT_EQ(t.b.x, 4);
    EXPECT_EQ(t.c.z, 5);

    const Triangle reversed = make_triangle(a, c, b, {7, 9, 8}, 42);
    EXPECT_EQ(reversed.normal.x, 2);
    EXPECT_EQ(reversed.normal.y, 12);
    EXPECT_EQ(reversed.normal.z, -6);
    EXPECT_EQ(reversed.topZ, 5);
}

TEST(GenerateMesh, OneTrianglePerFaceInFaceOrderWithZeroBasedCorners) {
    const std::vector<Vertex> vertices = {{0, 0, 0}, {1, 0, 1}, {0, 1, 2}, {1, 1, 3}};
    const std::vector<Face> faces = {{{1, 2, 3}}, {{2, 4, 3}}, {{1, 2, 3}}};
    std::vector<Triangle> triangles;
    generate_mesh(vertices, faces, triangles);
    ASSERT_EQ(triangles.size(), 3u);
    EXPECT_EQ(triangles[1].cornerIndices, (std::array<std::uint32_t, 3>{1, 3, 2}));
    EXPECT_EQ(triangles[1].b.z, 3);
    EXPECT_EQ(triangles[1].topZ, 3);
    // A face listed twice gives two records that differ only in faceIndex.
    EXPECT_EQ(triangles[0].faceIndex, 0u);
    EXPECT_EQ(triangles[2].faceIndex, 2u);
    EXPECT_EQ(triangles[2].cornerIndices, triangles[0].cornerIndices);
}

TEST(SortMesh, GreatestTopZFirstAndNothingLost) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> z(-50, 50);
    std::vector<Triangle> triangles;
    for (std::uint32_t i = 0; i < 5000; ++i) {
        // Some equal heights on purpose.
        const double top = i % 5 == 0 ? 10.0 : z(random);
        triangles.push_back(make_triangle({0, 0, top}, {1, 0, top - 1}, {0, 1, top - 2}, {0, 1, 2}, i));
    }
    sort_mesh(triangles);
    std::set<std::uint32_t> seen;
    for (std::size_t i = 0; i < triangles.size(); ++i) {
        if (i > 0) {
            ASSERT_GE(triangles[i - 1].topZ, triangles[i].topZ) << "at " << i;
        }
        seen.insert(triangles[i].faceIndex);
    }
    EXPECT_EQ(seen.size(), 5000u);
}

}  // namespace
