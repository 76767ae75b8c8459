#include "lidar/ray_cast.h"

#include <cmath>

void cast_laser(const OctreeNode& root, LaserLine& laser, std::vector<LidarPoint>& points,
                const std::vector<Triangle>& triangles) {
    using namespace ray_detail;
    // Mirror the ray about the root centre so that every direction component
    // is non-negative; the mask remembers which child bits to flip. The
    // laser record itself is not changed.
    unsigned mirrorMask = 0;
    double ox = laser.origin.x, oy = laser.origin.y, oz = laser.origin.z;
    double dx = laser.direction.x, dy = laser.direction.y, dz = laser.direction.z;
    const double cx = root.center[0], cz = root.center[1], cy = root.center[2];
    if (dx < 0) {
        ox = 2 * cx - ox;
        dx = -dx;
        mirrorMask = 4;
    }
    if (dz < 0) {
        oz = 2 * cz - oz;
        dz = -dz;
        mirrorMask |= 2;
    }
    if (dy < 0) {
        oy = 2 * cy - oy;
        dy = -dy;
        mirrorMask |= 1;
    }

    const double idx = reciprocal(dx), idy = reciprocal(dy), idz = reciprocal(dz);
    const double t0x = entry_param((root.minCorner[0] - ox) * idx);
    const double t1x = exit_param((root.maxCorner[0] - ox) * idx);
    const double t0z = entry_param((root.minCorner[1] - oz) * idz);
    const double t1z = exit_param((root.maxCorner[1] - oz) * idz);
    const double t0y = entry_param((root.minCorner[2] - oy) * idy);
    const double t1y = exit_param((root.maxCorner[2] - oy) * idy);

    // Strict: a root box without thickness (a flat model) is never entered.
    if (max3(t0x, t0z, t0y) < min3(t1x, t1z, t1y)) {
        process_subtree(t0x, t0z, t0y, t1x, t1z, t1y, root, points, laser, triangles, mirrorMask);
    }
}

bool process_subtree(double t0x, double t0z, double t0y, double t1x, double t1z, double t1y, const OctreeNode& node,
                     std::vector<LidarPoint>& points, LaserLine& laser, const std::vector<Triangle>& triangles,
                     unsigned mirrorMask) {
    if (t1x < 0 || t1z < 0 || t1y < 0) return false;  // the node lies behind the origin
    if (node.isLeaf) return intersect_leaf(node, laser, points, triangles);

    const double tmx = 0.5 * (t0x + t1x);
    const double tmz = 0.5 * (t0z + t1z);
    const double tmy = 0.5 * (t0y + t1y);
    unsigned current = first_child(t0x, t0z, t0y, tmx, tmz, tmy);
    // A zero direction component with the origin strictly inside the slab
    // gives inf - inf: the side of the centre the origin is on decides. There
    // is no such rule for z.
    if (std::isnan(tmx) && laser.origin.x > node.center[0]) current |= 4;
    if (std::isnan(tmy) && laser.origin.y > node.center[2]) current |= 1;

    while (current <= 7) {
        const double cx0 = (current & 4) ? tmx : t0x, cx1 = (current & 4) ? t1x : tmx;
        const double cz0 = (current & 2) ? tmz : t0z, cz1 = (current & 2) ? t1z : tmz;
        const double cy0 = (current & 1) ? tmy : t0y, cy1 = (current & 1) ? t1y : tmy;
        if (process_subtree(cx0, cz0, cy0, cx1, cz1, cy1, *node.children[current ^ mirrorMask], points, laser,
                            triangles, mirrorMask)) {
            return true;
        }
        current = next_child(current, cx1, cz1, cy1);
    }
    return false;
}

unsigned first_child(double t0x, double t0z, double t0y, double tmx, double tmz, double tmy) {
    return ray_detail::first_child_of(t0x, t0z, t0y, tmx, tmz, tmy);
}

unsigned next_child(unsigned current, double ex, double ez, double ey) {
    return ray_detail::next_child_of(current, ex, ez, ey);
}

bool intersect_leaf(const OctreeNode& leaf, LaserLine& laser, std::vector<LidarPoint>& points,
                    const std::vector<Triangle>& triangles) {
    bool found = false;
    Vec3 best;
    double bestT = -1.0;
    std::uint32_t bestFace = 0;
    const std::vector<std::uint32_t>& list = leaf.triangleIndices;
    for (std::size_t p = 0; p < list.size(); ++p) {
        const Triangle& triangle = triangles[list[p]];
        const TriangleHit h = intersect_triangle(triangle, laser);
        if (!h.hit) continue;
        // A hit outside this leaf is left to the leaf that contains it.
        if (!node_contains(leaf, h.point)) continue;
        // Hits compare by height, not distance; an equal height keeps the first.
        if (!found || h.point.z > best.z) {
            best = h.point;
            bestT = h.t;
            bestFace = triangle.faceIndex;
        }
        found = true;
        // The list is in non-increasing topZ order: once this hit is above
        // the next triangle's top, no later triangle can give a higher point.
        if (p + 1 < list.size() && h.point.z > triangles[list[p + 1]].topZ) break;
    }
    if (found) {
        points.push_back({best.x, best.y, best.z});
        laser.hitPoint = best;
        laser.range = bestT;
        laser.hitFaceIndex = static_cast<std::int32_t>(bestFace);
    }
    return found;
}

TriangleHit intersect_triangle(const Triangle& triangle, const LaserLine& laser) {
    TriangleHit result;
    const Vec3& n = triangle.normal;
    const Vec3& d = laser.direction;
    const Vec3& o = laser.origin;
    const double denom = dot(n, d);
    // Taken as parallel. n is not normalised, so this also drops triangles
    // of very small area.
    if (std::fabs(denom) < 1e-6) return result;
    const double t = -dot(n, o - triangle.a) / denom;
    if (t < 0) return result;  // t = 0 counts
    result.point = o + d * t;
    result.t = t;
    result.hit = inside_triangle(triangle, result.point);
    return result;
}

bool inside_triangle(const Triangle& triangle, const Vec3& point) {
    const Vec3& a = triangle.a;
    const Vec3& b = triangle.b;
    const Vec3& c = triangle.c;
    // The second projected coordinate: y, or z for a triangle standing
    // vertically (det exactly 0). The yz projection is never used.
    double av = a.y, bv = b.y, cv = c.y, pv = point.y;
    double det = (a.x - c.x) * (b.y - c.y) + (a.y - c.y) * (c.x - b.x);
    if (det == 0) {
        det = (a.x - c.x) * (b.z - c.z) + (a.z - c.z) * (c.x - b.x);
        if (det == 0) return false;
        av = a.z;
        bv = b.z;
        cv = c.z;
        pv = point.z;
    }
    const double l1 = ((bv - cv) * (point.x - c.x) + (c.x - b.x) * (pv - cv)) / det;
    const double l2 = ((cv - av) * (point.x - c.x) + (a.x - c.x) * (pv - cv)) / det;
    const double l3 = 1 - l1 - l2;
    return 0 <= l1 && l1 <= 1 && 0 <= l2 && l2 <= 1 && 0 <= l3 && l3 <= 1;
}

bool node_contains(const OctreeNode& node, const Vec3& point) {
    return point.x >= node.minCorner[0] && point.x <= node.maxCorner[0] && point.y >= node.minCorner[2] &&
           point.y <= node.maxCorner[2] && point.z >= node.minCorner[1] && point.z <= node.maxCorner[1];
}
