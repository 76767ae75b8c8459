#include "lidar/cast_tree.h"

#include "lidar/ray_cast.h"

#include <algorithm>
#include <cmath>

namespace {

struct Builder {
    const std::vector<Triangle>& triangles;
    std::vector<CastTree::Node>& nodes;
    std::vector<CastTree::Leaf>& leaves;
    std::vector<CastTree::Entry>& entries;
    std::vector<CastTree::Bounds>& bounds;

    CastTree::Entry make_entry(const Triangle& tr, double nextTopZ) const {
        CastTree::Entry e{};
        e.nx = tr.normal.x;
        e.ny = tr.normal.y;
        e.nz = tr.normal.z;
        e.ax = tr.a.x;
        e.ay = tr.a.y;
        e.az = tr.a.z;
        e.faceIndex = tr.faceIndex;
        e.nextTopZ = nextTopZ;
        // The same expressions as inside_triangle, evaluated once: the
        // values, and so the results, are the same bits.
        const Vertex& a = tr.a;
        const Vertex& b = tr.b;
        const Vertex& c = tr.c;
        double det = (a.x - c.x) * (b.y - c.y) + (a.y - c.y) * (c.x - b.x);
        double av = a.y, bv = b.y, cv = c.y;
        e.projection = CastTree::ProjectXY;
        if (det == 0) {
            det = (a.x - c.x) * (b.z - c.z) + (a.z - c.z) * (c.x - b.x);
            av = a.z;
            bv = b.z;
            cv = c.z;
            e.projection = det == 0 ? CastTree::NeverInside : CastTree::ProjectXZ;
        }
        const double sign = det < 0 ? -1.0 : 1.0;
        e.det = sign * det;
        e.cx = c.x;
        e.cv = cv;
        e.bvcv = sign * (bv - cv);
        e.cxbx = sign * (c.x - b.x);
        e.cvav = sign * (cv - av);
        e.axcx = sign * (a.x - c.x);
        return e;
    }

    // The bounds of an entry's accepted hit points in `leaf`. The inside
    // test computes n1 = e1 (P.x - c.x) + e2 (P.v - c.v) (likewise n2) from
    // rounded edge terms, with an absolute error below 8 u E R, u = 2^-53, E
    // the largest edge term and R the largest |P.x - c.x| + |P.v - c.v| over
    // the leaf box; and its determinant carries a relative error below
    // 8 u (|t1| + |t2|) / det, t1 and t2 being its two products. So a point
    // it accepts has true barycentric coordinates of at least -beta, beta
    // the sum of both bounds (the first twice) and 1e-15, and lies less than
    // 2 beta of the triangle's extent outside the triangle's bounding box.
    // Badly shaped triangles (large beta) get no bounds at all.
    static CastTree::Bounds make_bounds(const Triangle& tr, const CastTree::Entry& e, const CastTree::Leaf& leaf) {
        CastTree::Bounds b;
        for (int i = 0; i < 3; ++i) {
            b.lo[i] = -HUGE_VALF;
            b.hi[i] = HUGE_VALF;
        }
        if (e.projection == CastTree::NeverInside) return b;
        const bool xz = e.projection == CastTree::ProjectXZ;
        const double vMin = xz ? leaf.minZ : leaf.minY, vMax = xz ? leaf.maxZ : leaf.maxY;
        const double edge = std::max({std::fabs(e.bvcv), std::fabs(e.cxbx), std::fabs(e.cvav), std::fabs(e.axcx)});
        const double reach = std::max(std::fabs(leaf.minX - e.cx), std::fabs(leaf.maxX - e.cx)) +
                             std::max(std::fabs(vMin - e.cv), std::fabs(vMax - e.cv));
        const double products = std::fabs(e.axcx * e.bvcv) + std::fabs(e.cvav * e.cxbx);
        const double beta = 2 * (8 * 0x1p-53 * edge * reach / e.det) + 8 * 0x1p-53 * products / e.det + 1e-15;
        if (!(beta < 1e-4)) return b;
        const double cornersX[3] = {tr.a.x, tr.b.x, tr.c.x};
        const double cornersV[3] = {xz ? tr.a.z : tr.a.y, xz ? tr.b.z : tr.b.y, xz ? tr.c.z : tr.c.y};
        const int vAxis = xz ? 2 : 1;
        const auto bound = [&b, beta](int axis, const double* c) {
            const double lo = std::min({c[0], c[1], c[2]}), hi = std::max({c[0], c[1], c[2]});
            const double margin = 4 * beta * (hi - lo) + 1e-9 * (std::fabs(lo) + std::fabs(hi)) + 1e-300;
            const double l = lo - margin, h = hi + margin;
            float fl = static_cast<float>(l), fh = static_cast<float>(h);
            if (static_cast<double>(fl) > l) fl = std::nextafter(fl, -HUGE_VALF);
            if (static_cast<double>(fh) < h) fh = std::nextafter(fh, HUGE_VALF);
            b.lo[axis] = fl;
            b.hi[axis] = fh;
        };
        bound(0, cornersX);
        bound(vAxis, cornersV);
        return b;
    }

    // Fills nodes[index] from `node`; the eight children of an inner node
    // are placed next to each other and then filled depth first.
    void fill(const OctreeNode& node, std::uint32_t index) {
        if (node.isLeaf && node.triangleIndices.empty()) {
            // Never scanned: the parent's child mask skips it (a root
            // without triangles is caught by its count).
            nodes[index].count = 0;
            return;
        }
        if (node.isLeaf) {
            CastTree::Leaf leaf{};
            leaf.minX = node.minCorner[0];
            leaf.minZ = node.minCorner[1];
            leaf.minY = node.minCorner[2];
            leaf.maxX = node.maxCorner[0];
            leaf.maxZ = node.maxCorner[1];
            leaf.maxY = node.maxCorner[2];
            leaf.begin = static_cast<std::uint32_t>(entries.size());
            const std::vector<std::uint32_t>& list = node.triangleIndices;
            for (std::size_t p = 0; p < list.size(); ++p) {
                const double nextTopZ = p + 1 < list.size() ? triangles[list[p + 1]].topZ : HUGE_VAL;
                entries.push_back(make_entry(triangles[list[p]], nextTopZ));
                bounds.push_back(make_bounds(triangles[list[p]], entries.back(), leaf));
            }
            leaf.end = static_cast<std::uint32_t>(entries.size());
            nodes[index].index = static_cast<std::uint32_t>(leaves.size());
            nodes[index].count = leaf.end - leaf.begin;
            leaves.push_back(leaf);
            return;
        }
        const auto first = static_cast<std::uint32_t>(nodes.size());
        nodes[index].centerX = node.center[0];
        nodes[index].centerY = node.center[2];
        nodes[index].index = first;
        nodes.resize(nodes.size() + 8);
        std::uint32_t count = CastTree::kInnerNode;
        for (std::uint32_t k = 0; k < 8; ++k) {
            fill(*node.children[k], first + k);
            if (nodes[first + k].count != 0) count |= 1u << k;
        }
        nodes[index].count = count;
    }
};

}  // namespace

CastTree::CastTree(const OctreeNode& root, const std::vector<Triangle>& triangles) {
    for (int i = 0; i < 3; ++i) {
        rootCenter_[i] = root.center[i];
        rootMin_[i] = root.minCorner[i];
        rootMax_[i] = root.maxCorner[i];
    }
    // Sizes first, so that the arrays are allocated once.
    std::size_t nodeCount = 0, leafCount = 0, entryCount = 0;
    std::vector<const OctreeNode*> stack{&root};
    while (!stack.empty()) {
        const OctreeNode* n = stack.back();
        stack.pop_back();
        ++nodeCount;
        if (n->isLeaf) {
            leafCount += n->triangleIndices.empty() ? 0 : 1;
            entryCount += n->triangleIndices.size();
        } else {
            for (const auto& c : n->children) stack.push_back(c.get());
        }
    }
    nodes_.reserve(nodeCount);
    leaves_.reserve(leafCount);
    entries_.reserve(entryCount);
    bounds_.reserve(entryCount);
    nodes_.resize(1);
    Builder{triangles, nodes_, leaves_, entries_, bounds_}.fill(root, 0);
}

std::size_t CastTree::memory_bytes() const {
    return nodes_.capacity() * sizeof(Node) + leaves_.capacity() * sizeof(Leaf) + entries_.capacity() * sizeof(Entry) +
           bounds_.capacity() * sizeof(Bounds);
}

// The per-ray state: the laser's own origin and direction (the triangle test
// and the midpoint rule use them unmirrored), the mirror mask, and the return.
struct CastTree::Ray {
    double ox, oy, oz;
    double dx, dy, dz;
    double inv[3];  // 1 / d for the leaf windows, 0 where |d| < 1e-3 (no window from that axis)
    unsigned mirrorMask;
    double px, py, pz, t;
    std::uint32_t face;
};

bool CastTree::cast(LaserLine& laser) const {
    using namespace ray_detail;
    if (nodes_.empty()) return false;
    Ray ray;
    ray.ox = laser.origin.x;
    ray.oy = laser.origin.y;
    ray.oz = laser.origin.z;
    ray.dx = laser.direction.x;
    ray.dy = laser.direction.y;
    ray.dz = laser.direction.z;
    const double dir[3] = {ray.dx, ray.dy, ray.dz};
    for (int i = 0; i < 3; ++i) ray.inv[i] = std::fabs(dir[i]) >= 1e-3 ? 1.0 / dir[i] : 0.0;

    // Mirror about the root centre, exactly as cast_laser does.
    unsigned mirrorMask = 0;
    double ox = ray.ox, oy = ray.oy, oz = ray.oz;
    double dx = ray.dx, dy = ray.dy, dz = ray.dz;
    if (dx < 0) {
        ox = 2 * rootCenter_[0] - ox;
        dx = -dx;
        mirrorMask = 4;
    }
    if (dz < 0) {
        oz = 2 * rootCenter_[1] - oz;
        dz = -dz;
        mirrorMask |= 2;
    }
    if (dy < 0) {
        oy = 2 * rootCenter_[2] - oy;
        dy = -dy;
        mirrorMask |= 1;
    }
    ray.mirrorMask = mirrorMask;

    const double idx = reciprocal(dx), idy = reciprocal(dy), idz = reciprocal(dz);
    const double t0x = entry_param((rootMin_[0] - ox) * idx);
    const double t1x = exit_param((rootMax_[0] - ox) * idx);
    const double t0z = entry_param((rootMin_[1] - oz) * idz);
    const double t1z = exit_param((rootMax_[1] - oz) * idz);
    const double t0y = entry_param((rootMin_[2] - oy) * idy);
    const double t1y = exit_param((rootMax_[2] - oy) * idy);
    if (!(max3(t0x, t0z, t0y) < min3(t1x, t1z, t1y))) return false;
    if (!subtree(t0x, t0z, t0y, t1x, t1z, t1y, 0, ray)) return false;

    laser.hitPoint = {ray.px, ray.py, ray.pz};
    laser.range = ray.t;
    laser.hitFaceIndex = static_cast<std::int32_t>(ray.face);
    return true;
}

bool CastTree::subtree(double t0x, double t0z, double t0y, double t1x, double t1z, double t1y, std::uint32_t index,
                       Ray& ray) const {
    if (t1x < 0 || t1z < 0 || t1y < 0) return false;
    const Node& node = nodes_[index];
    if (!(node.count & kInnerNode)) return scan_leaf(node, ray);

    const double tmx = 0.5 * (t0x + t1x);
    const double tmz = 0.5 * (t0z + t1z);
    const double tmy = 0.5 * (t0y + t1y);
    unsigned current = ray_detail::first_child_of(t0x, t0z, t0y, tmx, tmz, tmy);
    if (std::isnan(tmx) && ray.ox > node.centerX) current |= 4;
    if (std::isnan(tmy) && ray.oy > node.centerY) current |= 1;

    while (current <= 7) {
        const double cx0 = (current & 4) ? tmx : t0x, cx1 = (current & 4) ? t1x : tmx;
        const double cz0 = (current & 2) ? tmz : t0z, cz1 = (current & 2) ? t1z : tmz;
        const double cy0 = (current & 1) ? tmy : t0y, cy1 = (current & 1) ? t1y : tmy;
        // An empty leaf cannot give a return: not visiting it changes nothing.
        const unsigned k = current ^ ray.mirrorMask;
        if (((node.count >> k) & 1) && subtree(cx0, cz0, cy0, cx1, cz1, cy1, node.index + k, ray)) return true;
        current = ray_detail::next_child_of(current, cx1, cz1, cy1);
    }
    return false;
}

bool CastTree::scan_leaf(const Node& node, Ray& ray) const {
    if (node.count == 0) return false;
    const Leaf& leaf = leaves_[node.index];
    const double ox = ray.ox, oy = ray.oy, oz = ray.oz;
    const double dx = ray.dx, dy = ray.dy, dz = ray.dz;

    // A window of the ray parameter outside which the computed hit point
    // cannot lie in the leaf box. It is wide on purpose (a slack of 1e-9
    // relative to the coordinates, far above any rounding of the hit point
    // or of the window itself), so it only skips, without a division,
    // triangles that the box test below would reject anyway.
    double tlo = -HUGE_VAL, thi = HUGE_VAL;
    const auto clip = [&tlo, &thi](double o, double inv, double lo, double hi) {
        if (inv == 0) return;
        const double slack = 1e-9 * (std::fabs(o) + std::fabs(lo) + std::fabs(hi)) + 1e-300;
        double a = (lo - slack - o) * inv, b = (hi + slack - o) * inv;
        if (inv < 0) std::swap(a, b);
        tlo = std::max(tlo, a);
        thi = std::min(thi, b);
    };
    clip(ox, ray.inv[0], leaf.minX, leaf.maxX);
    clip(oy, ray.inv[1], leaf.minY, leaf.maxY);
    clip(oz, ray.inv[2], leaf.minZ, leaf.maxZ);
    if (!(tlo <= thi)) return false;
    tlo -= 1e-12 * std::fabs(tlo);
    thi += 1e-12 * std::fabs(thi);

    // The part of the ray inside the window, as a box (again with a slack
    // far above rounding): a hit point in the leaf lies in it.
    double segLo[3], segHi[3];
    const double o[3] = {ox, oy, oz}, d[3] = {dx, dy, dz};
    for (int i = 0; i < 3; ++i) {
        const double a = o[i] + d[i] * tlo, b = o[i] + d[i] * thi;
        const double slack = 1e-9 * (std::fabs(o[i]) + std::fabs(a) + std::fabs(b)) + 1e-300;
        segLo[i] = std::min(a, b) - slack;
        segHi[i] = std::max(a, b) + slack;
    }

    bool found = false;
    double bx = 0, by = 0, bz = 0, bt = 0;
    std::uint32_t bface = 0;
    const Entry* e = entries_.data() + leaf.begin;
    const Entry* const end = entries_.data() + leaf.end;
    const Bounds* bounds = bounds_.data() + leaf.begin;
    for (; e != end; ++e, ++bounds) {
        // Skips, without touching the entry, a triangle whose hit could not
        // pass the inside test and the box test below.
        if (bounds->hi[0] < segLo[0] || bounds->lo[0] > segHi[0] || bounds->hi[1] < segLo[1] ||
            bounds->lo[1] > segHi[1] || bounds->hi[2] < segLo[2] || bounds->lo[2] > segHi[2]) {
            continue;
        }
        // intersect_triangle, term for term.
        const double denom = e->nx * dx + e->ny * dy + e->nz * dz;
        if (std::fabs(denom) < 1e-6) continue;
        const double q = -(e->nx * (ox - e->ax) + e->ny * (oy - e->ay) + e->nz * (oz - e->az));
        // t = q / denom outside the window: the hit is not in this leaf.
        if (denom > 0 ? (q < tlo * denom || q > thi * denom) : (q > tlo * denom || q < thi * denom)) continue;
        const double t = q / denom;
        if (t < 0) continue;
        const double px = ox + dx * t, py = oy + dy * t, pz = oz + dz * t;
        // The leaf box test comes before the inside test here (it is cheaper);
        // both must hold and neither has side effects, so the order does not
        // change the outcome.
        if (!(px >= leaf.minX && px <= leaf.maxX && py >= leaf.minY && py <= leaf.maxY && pz >= leaf.minZ &&
              pz <= leaf.maxZ)) {
            continue;
        }
        if (e->projection == NeverInside) continue;
        const double pv = e->projection == ProjectXY ? py : pz;
        const double n1 = e->bvcv * (px - e->cx) + e->cxbx * (pv - e->cv);
        const double n2 = e->cvav * (px - e->cx) + e->axcx * (pv - e->cv);
        // Most points in the box are outside the triangle; these tests see
        // it without dividing. They only reject what the quotients below
        // would reject too: a negative numerator beyond any underflow to
        // -0.0, or numerators clearly above the determinant.
        const double det = e->det;
        const double tiny = det * 1e-300, above = det * 1.000001;
        if (n1 < -tiny || n2 < -tiny || n1 > above || n2 > above || n1 + n2 > above) continue;
        const double l1 = n1 / det;
        const double l2 = n2 / det;
        const double l3 = 1 - l1 - l2;
        if (!(0 <= l1 && l1 <= 1 && 0 <= l2 && l2 <= 1 && 0 <= l3 && l3 <= 1)) continue;

        if (!found || pz > bz) {
            bx = px;
            by = py;
            bz = pz;
            bt = t;
            bface = e->faceIndex;
        }
        found = true;
        if (pz > e->nextTopZ) break;
    }
    if (found) {
        ray.px = bx;
        ray.py = by;
        ray.pz = bz;
        ray.t = bt;
        ray.face = bface;
    }
    return found;
}
