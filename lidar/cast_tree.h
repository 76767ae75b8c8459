#pragma once
#include "flight/laser_line.h"
#include "terrain/mesh.h"
#include "terrain/octree.h"

#include <cstdint>
#include <vector>

// A flattened, read-only copy of the scene octree laid out for the cast.
//
// Nodes sit in one array with the eight children of a node next to each
// other; a leaf refers to a contiguous run of triangle entries that hold
// exactly what the leaf scan reads, in the leaf's order. The traversal does
// the same arithmetic in the same order as cast_laser and friends
// (lidar/ray_cast.h), so a cast gives bit-identical results. What the copy
// saves is pointer chasing, the indirection into the triangle list, the work
// that depends on the triangle alone (the projection determinant and its edge
// terms, computed once here with the same expressions), and most of the
// per-triangle work of a leaf scan: a triangle is skipped early when cheap,
// deliberately loose tests (bounds with a slack far above any rounding) show
// that its hit could not pass the exact tests. Skipping such a triangle is
// exactly what the exact tests would have done, since a rejected triangle
// leaves the scan's state untouched.
//
// Built once per simulation; casting is const and may run on several threads
// at once, each with its own lasers.
class CastTree {
public:
    CastTree() = default;
    CastTree(const OctreeNode& root, const std::vector<Triangle>& triangles);

    // Casts one laser. On a return writes hitPoint, range and hitFaceIndex
    // and returns true; otherwise leaves the laser unchanged.
    bool cast(LaserLine& laser) const;

    std::size_t node_count() const { return nodes_.size(); }
    std::size_t leaf_count() const { return leaves_.size(); }  // leaves with triangles
    std::size_t entry_count() const { return entries_.size(); }
    // Bytes held by the copy.
    std::size_t memory_bytes() const;

    // Set in Node::count of an inner node.
    static constexpr std::uint32_t kInnerNode = 0x80000000u;

    struct Node {
        double centerX = 0.0;  // model x and y of the centre (inner nodes): the
        double centerY = 0.0;  // undefined-midpoint rule
        std::uint32_t index = 0;  // inner: first of the eight children; leaf: its Leaf
        // Leaf: number of entries. Inner node: kInnerNode plus bit k for each
        // child k that is not an empty leaf, so that the traversal need not
        // even load an empty child.
        std::uint32_t count = 0;
    };

    struct Leaf {
        double minX, minZ, minY;  // the box, inclusive
        double maxX, maxZ, maxY;
        std::uint32_t begin, end;  // entries [begin, end)
    };

    // How the inside test projects the triangle.
    enum Projection : std::uint32_t { ProjectXY = 0, ProjectXZ = 1, NeverInside = 2 };

    // One triangle of one leaf: 128 bytes, the first cache line for the plane
    // intersection, the second for the inside test.
    struct alignas(64) Entry {
        double nx, ny, nz;  // normal
        double ax, ay, az;  // corner a
        double nextTopZ;    // topZ of the leaf's next triangle (+inf after the last)
        std::uint32_t faceIndex;
        std::uint32_t projection;
        // The inside test, with every term multiplied by the sign of the
        // determinant: the products, sums and quotients are the same numbers
        // up to that sign (IEEE rounding is symmetric), the quotients
        // exactly the same, and the determinant is positive.
        double cx, cv;  // corner c: x and the projected second coordinate
        double bvcv;    // s (b.v - c.v)
        double cxbx;    // s (c.x - b.x)
        double cvav;    // s (c.v - a.v)
        double axcx;    // s (a.x - c.x)
        double det;     // |determinant|
    };

    // Where a hit of an entry can lie, rounded outwards to float: the hit
    // point's projected coordinates (x and y, or x and z for a triangle
    // standing vertically) cannot pass the inside test outside these
    // bounds, given the rounding of that test for points in the leaf box.
    // The third axis is unbounded, and so are all axes for triangles too
    // badly shaped for a useful bound.
    struct Bounds {
        float lo[3];  // model x, y, z
        float hi[3];
    };

private:
    struct Ray;
    bool subtree(double t0x, double t0z, double t0y, double t1x, double t1z, double t1y, std::uint32_t node,
                 Ray& ray) const;
    bool scan_leaf(const Node& node, Ray& ray) const;

    std::vector<Node> nodes_;  // root first
    std::vector<Leaf> leaves_;
    std::vector<Entry> entries_;
    std::vector<Bounds> bounds_;  // one per entry
    double rootCenter_[3] = {0, 0, 0};  // node axis order
    double rootMin_[3] = {0, 0, 0};
    double rootMax_[3] = {0, 0, 0};
};
