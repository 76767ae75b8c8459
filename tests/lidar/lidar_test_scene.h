#pragma once
// Hand-built octrees, random scenes and rays for the ray-casting tests.
#include "lidar/cast_tree.h"
#include "lidar/ray_cast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace lidar_test {

inline Triangle tri(Vec3 a, Vec3 b, Vec3 c, std::uint32_t face) { return make_triangle(a, b, c, {0, 1, 2}, face); }

// A laser as generated: no return yet (range -1, hitFaceIndex -1).
inline LaserLine laser(const Vec3& origin, const Vec3& direction) { return LaserLine{origin, {}, direction}; }

inline Vec3 unit(const Vec3& v) { return v * (1.0 / std::sqrt(dot(v, v))); }

struct Scene {
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
    std::unique_ptr<OctreeNode> root;
};

// A box (node axis order x, z, y) split `depth` levels deep into children
// numbered as the octree numbers them (4 upper x, 2 upper z, 1 upper y); each
// leaf lists the triangles that touch its box.
inline std::unique_ptr<OctreeNode> make_tree(const NodeVec& center, const NodeVec& half, int depth,
                                             const std::vector<Triangle>& triangles) {
    auto node = std::make_unique<OctreeNode>();
    node->center = center;
    node->halfSize = half;
    node->isLeaf = depth == 0;
    for (int i = 0; i < 3; ++i) {
        node->maxCorner[i] = center[i] + half[i];
        node->minCorner[i] = center[i] - half[i];
    }
    for (unsigned k = 0; depth > 0 && k < 8; ++k) {
        NodeVec c = center, h{half[0] / 2, half[1] / 2, half[2] / 2};
        for (int i = 0; i < 3; ++i) c[i] += ((k >> (2 - i)) & 1) ? h[i] : -h[i];
        node->children[k] = make_tree(c, h, depth - 1, triangles);
    }
    for (std::uint32_t i = 0; depth == 0 && i < triangles.size(); ++i) {
        const Triangle& t = triangles[i];
        const std::array<NodeVec, 3> corners{{{t.a.x, t.a.z, t.a.y}, {t.b.x, t.b.z, t.b.y}, {t.c.x, t.c.z, t.c.y}}};
        if (tri_box_overlap(center, half, corners)) node->triangleIndices.push_back(i);
    }
    return node;
}

// A hand-made tree over a triangle list (kept in the given order).
inline Scene hand_scene(std::vector<Triangle> triangles, const NodeVec& center, const NodeVec& half, int depth) {
    Scene s{{}, std::move(triangles), {}};
    s.root = make_tree(center, half, depth, s.triangles);
    return s;
}

// Prepares a model as the program does: triangles sorted, the real octree.
inline void prepare(Scene& s, const std::vector<Face>& faces) {
    const ModelLimits l = compute_limits(s.vertices);
    generate_mesh(s.vertices, faces, s.triangles);
    sort_mesh(s.triangles);
    s.root = std::make_unique<OctreeNode>();
    create_octree(s.triangles, *s.root, {l.maxX, l.maxY, l.maxZ}, {l.minX, l.minY, l.minZ});
}

// Rolling ground over exactly 0..100 m in x and y (grid x grid cells) with
// `plates` small tilted triangles floating above it: overlapping surfaces,
// shared edges, and enough triangles for a deep tree.
inline Scene random_scene(std::uint32_t seed, int grid, int plates) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Scene s;
    std::vector<Face> faces;
    for (int v = 1; v <= (grid + 1) * (grid + 1); ++v) {
        const double x = (v - 1) % (grid + 1) * 100.0 / grid, y = (v - 1) / (grid + 1) * 100.0 / grid;
        s.vertices.push_back({x, y, 3 * std::sin(x * 0.07) * std::cos(y * 0.05) + u(rng)});
        if (x < 100 && y < 100)
            faces.insert(faces.end(), {{{v, v + 1, v + grid + 2}}, {{v, v + grid + 2, v + grid + 1}}});
    }
    for (int p = 0; p < plates; ++p) {
        const Vec3 c{5 + 90 * u(rng), 5 + 90 * u(rng), 5 + 20 * u(rng)};
        const int v = static_cast<int>(s.vertices.size()) + 1;
        faces.push_back({{v, v + 1, v + 2}});
        for (int k = 0; k < 3; ++k)
            s.vertices.push_back(c + Vec3{6 * (u(rng) - 0.5), 6 * (u(rng) - 0.5), 4 * (u(rng) - 0.5)});
    }
    prepare(s, faces);
    return s;
}

// Rays over the random scene from the eight octants in turn, so every mirror
// bit is used. Some have a zero x or y component (+0.0 or -0.0) with the
// origin on a node plane (the root spans 0..100 in x and y).
inline std::vector<LaserLine> random_rays(std::uint32_t seed, int count) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<LaserLine> rays;
    for (int i = 0; i < count; ++i) {
        const int octant = i % 8;
        Vec3 o{-10 + 120 * u(rng), -10 + 120 * u(rng), octant & 2 ? 40 + 20 * u(rng) : -15 - 10 * u(rng)};
        Vec3 d{(octant & 4 ? -0.6 : 0.6) * u(rng), (octant & 1 ? -0.6 : 0.6) * u(rng), octant & 2 ? -1.0 : 1.0};
        if (i % 3 == 1) o.x = 6.25 * static_cast<int>(17 * u(rng)), d.x = i % 2 ? 0.0 : -0.0;
        if (i % 5 == 2) o.y = 6.25 * static_cast<int>(17 * u(rng)), d.y = i % 2 ? 0.0 : -0.0;
        rays.push_back(laser(o, unit(d)));
    }
    return rays;
}

// Bitwise equality of doubles, Vec3s or points (tells -0.0 from +0.0).
template <class T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

inline bool same_record(const LaserLine& a, const LaserLine& b) {
    return same_bits(a.hitPoint, b.hitPoint) && same_bits(a.range, b.range) && a.hitFaceIndex == b.hitFaceIndex;
}

// Casts a laser without a return yet with the pointer-tree functions and with
// the flattened tree (built here unless given): both must write the same
// record bit for bit, and the point appended must be the one written.
inline LaserLine cast_both(const Scene& s, const LaserLine& in, const CastTree* tree = nullptr) {
    LaserLine a = in, b = in;
    std::vector<LidarPoint> points;
    cast_laser(*s.root, a, points, s.triangles);
    const bool hit = tree ? tree->cast(b) : CastTree(*s.root, s.triangles).cast(b);
    EXPECT_EQ(points.size(), hit ? 1u : 0u);
    EXPECT_TRUE(same_record(a, b)) << "pointer tree and flattened tree disagree";
    EXPECT_TRUE(points.empty() || same_bits(Vec3{points[0].x, points[0].y, points[0].z}, a.hitPoint));
    return a;
}

}  // namespace lidar_test
