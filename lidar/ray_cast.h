#pragma once
#include "flight/laser_line.h"
#include "lidar/lidar_point.h"
#include "terrain/mesh.h"
#include "terrain/octree.h"

#include <cmath>
#include <cstdint>
#include <vector>

// Casting one laser through the scene octree: the parametric traversal with a
// mirror mask (the ray is reflected about the root centre until every
// direction component is non-negative), children visited front to back, and
// the whole cast ending at the first leaf that yields a return.
//
// These functions walk the pointer tree of OctreeNode records and are the
// reference behaviour. The hot path (CastTree, lidar/cast_tree.h) walks a
// flattened copy with the very same arithmetic and gives bit-identical
// results.

// For the child just left: the child entered next when leaving through the
// exit plane in x, z or y (columns in that order); 8 means leaving the parent.
inline constexpr std::uint8_t kNextChild[8][3] = {
    {4, 2, 1}, {5, 3, 8}, {6, 8, 3}, {7, 8, 8}, {8, 6, 5}, {8, 7, 8}, {8, 8, 7}, {8, 8, 8},
};

// The kept intersection of a laser with one triangle.
struct TriangleHit {
    bool hit = false;
    Vec3 point;
    double t = 0.0;
};

// Casts one laser. On a return the laser's hitPoint, range and hitFaceIndex
// are written and the point is appended to `points`; otherwise nothing
// changes.
void cast_laser(const OctreeNode& root, LaserLine& laser, std::vector<LidarPoint>& points,
                const std::vector<Triangle>& triangles);

// Visits `node`, whose slab parameters (entry t0, exit t1, per axis) are given
// in the mirrored frame. True when a leaf of the subtree gave the return.
bool process_subtree(double t0x, double t0z, double t0y, double t1x, double t1z, double t1y, const OctreeNode& node,
                     std::vector<LidarPoint>& points, LaserLine& laser, const std::vector<Triangle>& triangles,
                     unsigned mirrorMask);

// The child (0..7, mirrored frame) in which the ray enters a node.
unsigned first_child(double t0x, double t0z, double t0y, double tmx, double tmz, double tmy);

// The child entered after `current` (8 = the ray leaves the node); ex, ez, ey
// are the exit parameters of `current`.
unsigned next_child(unsigned current, double ex, double ez, double ey);

// Scans a leaf's triangles and keeps the highest hit inside the leaf box.
bool intersect_leaf(const OctreeNode& leaf, LaserLine& laser, std::vector<LidarPoint>& points,
                    const std::vector<Triangle>& triangles);

// Plane intersection of the laser (its own origin and direction) with the
// triangle, followed by the inside test. Both faces count.
TriangleHit intersect_triangle(const Triangle& triangle, const LaserLine& laser);

// Barycentric test in the xy projection, or in the xz projection for a
// triangle that stands vertically. Edges and corners are inside.
bool inside_triangle(const Triangle& triangle, const Vec3& point);

// Inclusive box test; node vectors are in node axis order (x, z, y).
bool node_contains(const OctreeNode& node, const Vec3& point);

namespace ray_detail {

// A direction component of -0.0 is taken exactly like +0.0: it is not
// mirrored and its reciprocal is +inf (adding +0.0 turns -0.0 into +0.0).
inline double reciprocal(double d) { return 1.0 / (d + 0.0); }

// The entry/exit parameters of the root, NaN rules applied (0 x inf: the
// origin lies on that bounding plane and the component is zero).
inline double entry_param(double t) { return std::isnan(t) ? 0.0 : t; }
inline double exit_param(double t) { return std::isnan(t) ? HUGE_VAL : t; }

inline double max3(double a, double b, double c) {
    double m = a > b ? a : b;
    return m > c ? m : c;
}
inline double min3(double a, double b, double c) {
    double m = a < b ? a : b;
    return m < c ? m : c;
}

inline unsigned first_child_of(double t0x, double t0z, double t0y, double tmx, double tmz, double tmy) {
    if (std::isnan(tmx) && std::isnan(tmy)) return 0;
    unsigned answer = 0;
    // Strict comparisons throughout; a comparison with NaN is false.
    if (t0x > t0z && t0x > t0y) {  // entry through an x plane
        if (tmz < t0x) answer |= 2;
        if (tmy < t0x) answer |= 1;
    } else if (t0z > t0y) {  // entry through a z plane
        if (tmx < t0z) answer |= 4;
        if (tmy < t0z) answer |= 1;
    } else {  // entry through a y plane
        if (tmx < t0y) answer |= 4;
        if (tmz < t0y) answer |= 2;
    }
    return answer;
}

inline unsigned next_child_of(unsigned current, double ex, double ez, double ey) {
    // x only when strictly first; a tie or a NaN in x or z chooses z. y only
    // when strictly before the chosen one; NaN in y keeps the choice.
    unsigned axis = 1;
    double chosen = ez;
    if (ex < ez) {
        axis = 0;
        chosen = ex;
    }
    if (chosen > ey) axis = 2;
    return kNextChild[current][axis];
}

}  // namespace ray_detail
