#pragma once
#include "terrain/mesh.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// Node vectors hold their components in node axis order (x, z, y):
// component 0 is model x, component 1 model z (vertical), component 2 model y.
using NodeVec = std::array<double, 3>;

// Child k: bit 2 (4) upper half in x, bit 1 (2) upper half in z,
// bit 0 (1) upper half in y.
struct OctreeNode {
    std::array<std::unique_ptr<OctreeNode>, 8> children;  // all set, or all null for a leaf
    OctreeNode* parent = nullptr;
    std::vector<std::uint32_t> triangleIndices;  // a leaf's overlap list, ascending
    std::uint8_t isLeaf = 1;
    NodeVec maxCorner{};
    NodeVec minCorner{};
    NodeVec center{};
    NodeVec halfSize{};
};

// A node at this depth (the root is depth 0) is never split: it stays a leaf
// holding its overlap list. Without the bound, more than 100 triangles meeting
// in one point would be split forever.
constexpr int kMaxOctreeDepth = 16;

// Fills `root` from the triangles; maxCorner and minCorner are the model
// limits in model order (x, y, z). The eight subtrees of the root are built
// on up to `threads` threads (0: one per hardware thread, at most eight);
// the tree is the same for any count.
void create_octree(const std::vector<Triangle>& triangles, OctreeNode& root, const Vec3& maxCorner,
                   const Vec3& minCorner, unsigned threads = 0);
// True when the triangle touches or intersects the closed box. Corners and box
// are in node axis order.
bool tri_box_overlap(const NodeVec& center, const NodeVec& halfSize, const std::array<NodeVec, 3>& corners);
