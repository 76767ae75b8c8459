#pragma once
// Hand-built octrees, rays and random scenes for the ray-casting tests.
#include "flight/laser_line.h"
#include "terrain/mesh.h"
#include "terrain/octree.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace lidar_test {

inline Triangle tri(const Vec3& a, const Vec3& b, const Vec3& c, std::uint32_t face) {
    return make_triangle(a, b, c, {0, 1, 2}, face);
}

// A leaf with the given box (node axis order x, z, y).
inline std::unique_ptr<OctreeNode> make_node(const NodeVec& center, const NodeVec& halfSize) {
    auto node = std::make_unique<OctreeNode>();
    node->center = center;
    node->halfSize = halfSize;
    for (int i = 0; i < 3; ++i) {
        node->maxCorner[i] = center[i] + halfSize[i];
        node->minCorner[i] = center[i] - halfSize[i];
    }
    return node;
}

// Splits a leaf into eight empty leaves numbered as the octree numbers them
// (4 upper x, 2 upper z, 1 upper y).
inline void split(OctreeNode& node) {
    node.isLeaf = 0;
    for (unsigned k = 0; k < 8; ++k) {
        NodeVec c, h;
        for (int i = 0; i < 3; ++i) {
            const bool upper = (k >> (2 - i)) & 1;
            h[i] = node.halfSize[i] / 2;
            c[i] = node.center[i] + (upper ? h[i] : -h[i]);
        }
        node.children[k] = make_node(c, h);
        node.children[k]->parent = &node;
    }
    node.triangleIndices.clear();
}

// Lists every triangle that touches the box in every leaf of the tree.
inline void fill_leaves(OctreeNode& node, const std::vector<Triangle>& triangles) {
    if (!node.isLeaf) {
        for (auto& child : node.children) fill_leaves(*child, triangles);
        return;
    }
    node.triangleIndices.clear();
    for (std::uint32_t i = 0; i < triangles.size(); ++i) {
        const Triangle& t = triangles[i];
        const std::array<NodeVec, 3> corners = {NodeVec{t.a.x, t.a.z, t.a.y}, NodeVec{t.b.x, t.b.z, t.b.y},
                                                NodeVec{t.c.x, t.c.z, t.c.y}};
        if (tri_box_overlap(node.center, node.halfSize, corners)) node.triangleIndices.push_back(i);
    }
}

inline LaserLine laser(const Vec3& origin, const Vec3& direction) {
    LaserLine l;
    l.origin = origin;
    l.direction = direction;
    l.hitPoint = {0, 0, 0};
    l.range = -1.0;
    l.hitFaceIndex = -1;
    return l;
}

inline Vec3 unit(const Vec3& v) {
    const double len = std::sqrt(dot(v, v));
    return v * (1.0 / len);
}

// A prepared model: sorted triangles and the octree over them.
struct Scene {
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
    std::unique_ptr<OctreeNode> root;
    ModelLimits limits;
};

inline void prepare(Scene& s, const std::vector<Face>& faces) {
    s.limits = compute_limits(s.vertices);
    generate_mesh(s.vertices, faces, s.triangles);
    sort_mesh(s.triangles);
    s.root = std::make_unique<OctreeNode>();
    create_octree(s.triangles, *s.root, {s.limits.maxX, s.limits.maxY, s.limits.maxZ},
                  {s.limits.minX, s.limits.minY, s.limits.minZ});
}

// Rolling ground (a height field over 100 x 100 m, grid x grid cells) with
// `plates` small tilted triangles floating above it: overlapping surfaces,
// shared edges, and enough triangles for a deep tree.
inline Scene random_scene(std::uint32_t seed, int grid, int plates) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Scene s;
    std::vector<Face> faces;
    const double cell = 100.0 / grid;
    for (int j = 0; j <= grid; ++j) {
        for (int i = 0; i <= grid; ++i) {
            const double x = i * cell, y = j * cell;
            s.vertices.push_back({x, y, 3 * std::sin(x * 0.07) * std::cos(y * 0.05) + u(rng)});
        }
    }
    auto vid = [&](int i, int j) { return j * (grid + 1) + i + 1; };
    for (int j = 0; j < grid; ++j) {
        for (int i = 0; i < grid; ++i) {
            faces.push_back({{vid(i, j), vid(i + 1, j), vid(i + 1, j + 1)}});
            faces.push_back({{vid(i, j), vid(i + 1, j + 1), vid(i, j + 1)}});
        }
    }
    for (int p = 0; p < plates; ++p) {
        const Vec3 c{5 + 90 * u(rng), 5 + 90 * u(rng), 5 + 20 * u(rng)};
        const int base = static_cast<int>(s.vertices.size()) + 1;
        for (int k = 0; k < 3; ++k) {
            s.vertices.push_back({c.x + 6 * (u(rng) - 0.5), c.y + 6 * (u(rng) - 0.5), c.z + 4 * (u(rng) - 0.5)});
        }
        faces.push_back({{base, base + 1, base + 2}});
    }
    prepare(s, faces);
    return s;
}

// Bitwise equality of doubles (distinguishes -0.0 and +0.0, compares NaNs).
inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline bool same_record(const LaserLine& a, const LaserLine& b) {
    return same_bits(a.hitPoint.x, b.hitPoint.x) && same_bits(a.hitPoint.y, b.hitPoint.y) &&
           same_bits(a.hitPoint.z, b.hitPoint.z) && same_bits(a.range, b.range) && a.hitFaceIndex == b.hitFaceIndex;
}

}  // namespace lidar_test
