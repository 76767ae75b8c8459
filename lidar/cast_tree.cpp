#include "lidar/cast_tree.h"

#include "lidar/float_rounding.h"
#include "lidar/ray_cast.h"
#include "terrain/octree_builder.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

// Rank of child k among the stored children of a node with mask m:
// popcount(m & ((1 << k) - 1)).
struct ChildRanks {
    std::uint8_t rank[256][8];
    ChildRanks() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned r = 0;
            for (unsigned k = 0; k < 8; ++k) {
                rank[m][k] = static_cast<std::uint8_t>(r);
                r += (m >> k) & 1;
            }
        }
    }
};
const ChildRanks kRanks;

constexpr std::uint32_t kNoRecord = 0xffffffffu;

using float_rounding::float_down;
using float_rounding::float_up;

// Whether some leaf under `node` lists a triangle. A subtree without one
// cannot give a return, so the copy leaves it out: an inner node can have
// children that are all empty leaves.
bool holds_triangles(const OctreeNode& node) {
    if (node.isLeaf) return !node.triangleIndices.empty();
    for (const auto& c : node.children)
        if (holds_triangles(*c)) return true;
    return false;
}

struct Builder {
    const std::vector<Triangle>& triangles;
    const double (*half)[3];
    std::vector<CastTree::Node>& nodes;
    std::vector<std::uint32_t>& entries;
    std::vector<CastTree::Record>& records;
    std::size_t leafCount = 0;
    std::vector<std::uint32_t> recordOf;   // per triangle position
    std::vector<std::uint32_t> positionOf;  // per record
    std::vector<double> reach;              // per record: the largest over its leaves

    // Where a hit of a record's triangle can lie in x and y, rounded
    // outwards to float: the hit point cannot pass the inside test outside
    // these bounds, given the rounding of that test for points in any leaf
    // box that lists the triangle. y is unbounded for a triangle projected
    // to xz, and both are for triangles too badly shaped for a useful bound;
    // a triangle that is never inside has empty bounds.
    struct Bounds {
        float xLo, xHi, yLo, yHi;
    };

    // What a record leaves out of its triangle's corners: with it, corners
    // and normal are the triangle's to the bit (see corners_of).
    struct Corners {
        double bx, by, bz, cy, cz;
    };
    struct TriangleCorners {
        Vertex a, b, c;
        Vec3 normal;
    };
    static TriangleCorners corners_of(const CastTree::Record& e, const Corners& k) {
        return {{e.ax, e.ay, e.az}, {k.bx, k.by, k.bz}, {e.cx, k.cy, k.cz}, {e.nx, e.ny, e.nz}};
    }

    static CastTree::Record make_record(const Triangle& tr) {
        CastTree::Record e{};
        e.nx = tr.normal.x;
        e.ny = tr.normal.y;
        e.nz = tr.normal.z;
        e.ax = tr.a.x;
        e.ay = tr.a.y;
        e.az = tr.a.z;
        e.faceIndex = tr.faceIndex;
        e.topZ = tr.topZ;
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
        e.cx = c.x;
        e.cv = cv;
        e.bvcv = sign * (bv - cv);
        e.cxbx = sign * (c.x - b.x);
        e.cvav = sign * (cv - av);
        e.axcx = sign * (a.x - c.x);
        return e;
    }

    // The largest |P.x - c.x| + |P.v - c.v| over a leaf box.
    static double reach_in(const CastTree::Record& e, const double* lo, const double* hi) {
        const bool xz = e.projection == CastTree::ProjectXZ;
        const double vMin = xz ? lo[1] : lo[2], vMax = xz ? hi[1] : hi[2];
        return std::max(std::fabs(lo[0] - e.cx), std::fabs(hi[0] - e.cx)) +
               std::max(std::fabs(vMin - e.cv), std::fabs(vMax - e.cv));
    }

    // The bounds of a record's accepted hit points in the leaves that list
    // it, R being the largest reach over them. The inside test computes
    // n1 = e1 (P.x - c.x) + e2 (P.v - c.v) (likewise n2) from rounded edge
    // terms, with an absolute error below 8 u E R, u = 2^-53, E the largest
    // edge term; and its determinant carries a relative error below
    // 8 u (|t1| + |t2|) / det, t1 and t2 being its two products. So a point
    // it accepts has true barycentric coordinates of at least -beta, beta
    // the sum of both bounds (the first twice) and 1e-15, and lies less than
    // 2 beta of the triangle's extent outside the triangle's bounding box.
    // Badly shaped triangles (large beta) get no bounds at all.
    static double beta_of(const CastTree::Record& e, double reach) {
        const double det = std::fabs(e.axcx * e.bvcv - e.cvav * e.cxbx);
        const double edge = std::max({std::fabs(e.bvcv), std::fabs(e.cxbx), std::fabs(e.cvav), std::fabs(e.axcx)});
        const double products = std::fabs(e.axcx * e.bvcv) + std::fabs(e.cvav * e.cxbx);
        return 2 * (8 * 0x1p-53 * edge * reach / det) + 8 * 0x1p-53 * products / det + 1e-15;
    }

    // Returns beta_of(e, reach) (0 for a triangle never inside).
    template <class Tri>
    static double set_bounds(const Tri& tr, const CastTree::Record& e, Bounds& bounds, double reach) {
        bounds.xLo = bounds.yLo = -HUGE_VALF;
        bounds.xHi = bounds.yHi = HUGE_VALF;
        if (e.projection == CastTree::NeverInside) {
            bounds.xLo = HUGE_VALF;  // never inside: skipped at once
            bounds.xHi = -HUGE_VALF;
            return 0;
        }
        const bool xz = e.projection == CastTree::ProjectXZ;
        const double beta = beta_of(e, reach);
        if (!(beta < 1e-4)) return beta;
        const auto bound = [beta](const double* c, float& lo, float& hi) {
            const double l0 = std::min({c[0], c[1], c[2]}), h0 = std::max({c[0], c[1], c[2]});
            const double margin = 4 * beta * (h0 - l0) + 1e-9 * (std::fabs(l0) + std::fabs(h0)) + 1e-300;
            const double l = l0 - margin, h = h0 + margin;
            lo = float_down(l);
            hi = float_up(h);
        };
        const double cornersX[3] = {tr.a.x, tr.b.x, tr.c.x};
        bound(cornersX, bounds.xLo, bounds.xHi);
        if (!xz) {
            const double cornersY[3] = {tr.a.y, tr.b.y, tr.c.y};
            bound(cornersY, bounds.yLo, bounds.yHi);
        }
        return beta;
    }

    // The cells of every entry of the leaves under nodes[index], whose centre
    // is given; the leaf box is computed as the traversal computes it.
    // The slab of a leaf (see CastTree::LeafSlab): m the mean normal of its
    // triangles (turned upwards, weighted by area), then the range of m.P
    // over their corners. A hit the inside test accepts has true barycentric
    // coordinates of at least -beta (see set_bounds), so on the triangle's
    // plane its m.P is at most 2 beta of the corners' spread outside their
    // range; the hit point lies off that plane only by rounding, which the
    // cast's slack covers as long as the plane is not steep for the
    // projection the inside test uses (there a small step off the plane is a
    // long way along the projected-out axis). Triangles never inside are
    // left out; a leaf with a badly shaped or steep triangle gets no slab.
    // triangleOf(r) gives record r's triangle (corners and normal),
    // slabBetaOf(r) its slab_beta (below).
    CastTree::LeafSlab leaf_slab(const CastTree::Node& node, const double* center, unsigned depth) const {
        const auto triangleOf = [this](std::uint32_t r) -> const Triangle& { return triangles[positionOf[r]]; };
        const auto slabBetaOf = [this](std::uint32_t r) {
            return slab_beta(triangles[positionOf[r]], records[r], beta_of(records[r], reach[r]));
        };
        return leaf_slab(triangleOf, slabBetaOf, entries, half, node, center, depth);
    }

    // What a leaf's slab takes of a record: -1 for a triangle never inside
    // (left out), +inf for one that leaves its leaves without a slab (too
    // badly shaped, or steep for its projection), else its beta_of.
    template <class Tri>
    static double slab_beta(const Tri& tr, const CastTree::Record& e, double beta) {
        if (e.projection == CastTree::NeverInside) return -1;
        const double n = std::sqrt(tr.normal.x * tr.normal.x + tr.normal.y * tr.normal.y + tr.normal.z * tr.normal.z);
        const double across = std::fabs(e.projection == CastTree::ProjectXY ? tr.normal.z : tr.normal.y);
        return beta < 1e-4 && across >= 0.1 * n ? beta : HUGE_VAL;
    }
    template <class TriangleOf, class SlabBetaOf>
    static CastTree::LeafSlab leaf_slab(const TriangleOf& triangleOf, const SlabBetaOf& slabBetaOf,
                                        const std::vector<std::uint32_t>& entries, const double (*half)[3],
                                        const CastTree::Node& node, const double* center, unsigned depth) {
        CastTree::LeafSlab slab{0, 0, 1, 0, -HUGE_VAL, HUGE_VAL};
        double sx = 0, sy = 0, sz = 0;
        for (std::uint32_t i = node.index; i < node.index + node.count; ++i) {
            const auto& tr = triangleOf(entries[i]);
            const double f = tr.normal.z < 0 ? -1.0 : 1.0;
            sx += f * tr.normal.x;
            sy += f * tr.normal.y;
            sz += f * tr.normal.z;
        }
        const double length = std::sqrt(sx * sx + sy * sy + sz * sz);
        if (!(length > 0) || !std::isfinite(length)) return slab;
        const float mx = static_cast<float>(sx / length), my = static_cast<float>(sy / length),
                    mz = static_cast<float>(sz / length);
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        double scale = 0;
        for (int q = 0; q < 3; ++q) scale += std::fabs(center[q]) + half[depth][q];
        for (std::uint32_t i = node.index; i < node.index + node.count; ++i) {
            const double beta = slabBetaOf(entries[i]);
            if (beta < 0) continue;
            if (!(beta < 1e-4)) return slab;
            const auto& tr = triangleOf(entries[i]);
            double cornerLo = HUGE_VAL, cornerHi = -HUGE_VAL;
            for (const Vertex* v : {&tr.a, &tr.b, &tr.c}) {
                const double p = static_cast<double>(mx) * v->x + static_cast<double>(my) * v->y +
                                 static_cast<double>(mz) * v->z;
                cornerLo = std::min(cornerLo, p);
                cornerHi = std::max(cornerHi, p);
                scale = std::max(scale, std::fabs(v->x) + std::fabs(v->y) + std::fabs(v->z));
            }
            const double widen = 2 * beta * (cornerHi - cornerLo);
            lo = std::min(lo, cornerLo - widen);
            hi = std::max(hi, cornerHi + widen);
        }
        if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi) || !(scale < 1e300)) {
            if (lo > hi) {  // only triangles that are never inside: no hit at all
                slab.lo = HUGE_VAL;
                slab.hi = -HUGE_VAL;
            }
            return slab;
        }
        slab.mx = mx;
        slab.my = my;
        slab.mz = mz;
        slab.scale = std::nextafter(static_cast<float>(scale), HUGE_VALF);
        slab.lo = lo;
        slab.hi = hi;
        return slab;
    }

    void fill_cells(std::uint32_t index, const double* center, unsigned depth, const std::vector<Bounds>& bounds,
                    const double (*scale)[2], std::vector<CastTree::EntryCells>& cells,
                    std::vector<CastTree::LeafSlab>& slabs) const {
        const CastTree::Node& node = nodes[index];
        if (node.count & CastTree::kInnerNode) {
            const unsigned mask = node.count & 0xffu;
            const double* h = half[depth + 1];
            for (unsigned k = 0; k < 8; ++k) {
                if (!((mask >> k) & 1)) continue;
                const double childCenter[3] = {center[0] + ((k & 4) ? h[0] : -h[0]),
                                               center[1] + ((k & 2) ? h[1] : -h[1]),
                                               center[2] + ((k & 1) ? h[2] : -h[2])};
                fill_cells(node.index + kRanks.rank[mask][k], childCenter, depth + 1, bounds, scale, cells, slabs);
            }
            return;
        }
        slabs[index] = leaf_slab(node, center, depth);
        entry_cells(node, center, depth, half, entries, bounds, scale, cells);
    }

    static void entry_cells(const CastTree::Node& node, const double* center, unsigned depth, const double (*half)[3],
                            const std::vector<std::uint32_t>& entries, const std::vector<Bounds>& bounds,
                            const double (*scale)[2], std::vector<CastTree::EntryCells>& cells) {
        const double minX = center[0] - half[depth][0], minY = center[2] - half[depth][2];
        static_assert(sizeof(Bounds) == 4 * sizeof(float) && offsetof(Bounds, xLo) == 0 && offsetof(Bounds, xHi) == 4 &&
                          offsetof(Bounds, yLo) == 8 && offsetof(Bounds, yHi) == 12,
                      "Bounds is read as CastTree::entry_cells' four floats");
        for (std::uint32_t i = node.index; i < node.index + node.count; ++i)
            cells[i] = CastTree::entry_cells(&bounds[entries[i]].xLo, minX, minY, scale[depth][0], scale[depth][1]);
    }

    // Fills nodes[index] from `node`, whose centre the parent worked out;
    // the stored children of an inner node are placed next to each other
    // and then filled depth first.
    void fill(const OctreeNode& node, std::uint32_t index, const double* center, unsigned depth) {
        double lo[3], hi[3];
        for (int q = 0; q < 3; ++q) {
            lo[q] = center[q] - half[depth][q];
            hi[q] = center[q] + half[depth][q];
            if (!(node.center[q] == center[q] && node.minCorner[q] == lo[q] && node.maxCorner[q] == hi[q]))
                throw std::logic_error("CastTree: the octree's boxes are not the halving of its root box");
        }
        if (node.isLeaf) {
            const std::vector<std::uint32_t>& list = node.triangleIndices;
            nodes[index].index = static_cast<std::uint32_t>(entries.size());
            nodes[index].count = static_cast<std::uint32_t>(list.size());
            if (!list.empty()) ++leafCount;
            for (const std::uint32_t position : list) {
                std::uint32_t& r = recordOf[position];
                if (r == kNoRecord) {
                    r = static_cast<std::uint32_t>(records.size());
                    records.push_back(make_record(triangles[position]));
                    positionOf.push_back(position);
                    reach.push_back(0.0);
                }
                reach[r] = std::max(reach[r], reach_in(records[r], lo, hi));
                entries.push_back(r);
            }
            return;
        }
        if (depth + 1 > kMaxOctreeDepth) throw std::logic_error("CastTree: the octree is deeper than its bound");
        unsigned mask = 0;
        for (unsigned k = 0; k < 8; ++k)
            if (holds_triangles(*node.children[k])) mask |= 1u << k;
        const auto first = static_cast<std::uint32_t>(nodes.size());
        nodes[index].index = first;
        nodes[index].count = CastTree::kInnerNode | mask;
        nodes.resize(nodes.size() + kRanks.rank[mask][7] + ((mask >> 7) & 1));
        const double* h = half[depth + 1];
        for (unsigned k = 0; k < 8; ++k) {
            if (!((mask >> k) & 1)) continue;
            // The builder's child centre: centre + (+-1.0 * (half / 2)).
            const double childCenter[3] = {center[0] + ((k & 4) ? h[0] : -h[0]), center[1] + ((k & 2) ? h[1] : -h[1]),
                                           center[2] + ((k & 1) ? h[2] : -h[2])};
            fill(*node.children[k], first + kRanks.rank[mask][k], childCenter, depth + 1);
        }
    }
};

}  // namespace

void CastTree::set_root_box(const double* center, const double* minCorner, const double* maxCorner,
                            const double* halfSize) {
    for (int i = 0; i < 3; ++i) {
        rootCenter_[i] = center[i];
        rootMin_[i] = minCorner[i];
        rootMax_[i] = maxCorner[i];
        half_[0][i] = halfSize[i];
    }
    for (int d = 1; d <= kMaxOctreeDepth; ++d)
        for (int i = 0; i < 3; ++i) half_[d][i] = half_[d - 1][i] / 2;
    for (int d = 0; d <= kMaxOctreeDepth; ++d) {
        cellScale_[d][0] = 128 / half_[d][0];
        cellScale_[d][1] = 128 / half_[d][2];
    }
}

CastTree::CastTree(const OctreeNode& root, const std::vector<Triangle>& triangles) {
    set_root_box(root.center.data(), root.minCorner.data(), root.maxCorner.data(), root.halfSize.data());

    // Sizes first, so that the arrays are allocated once.
    std::size_t nodeCount = 1, entryCount = 0, recordCount = 0;
    std::vector<std::uint8_t> listed(triangles.size(), 0);
    std::vector<const OctreeNode*> stack{&root};
    while (!stack.empty()) {
        const OctreeNode* n = stack.back();
        stack.pop_back();
        if (n->isLeaf) {
            entryCount += n->triangleIndices.size();
            for (const std::uint32_t position : n->triangleIndices) {
                recordCount += listed[position] ^ 1;
                listed[position] = 1;
            }
        } else {
            for (const auto& c : n->children) {
                if (!holds_triangles(*c)) continue;
                ++nodeCount;
                stack.push_back(c.get());
            }
        }
    }
    Builder b{triangles, half_, nodes_, entries_, records_, 0, {}, {}, {}};
    nodes_.reserve(nodeCount);
    entries_.reserve(entryCount);
    records_.reserve(recordCount);
    b.positionOf.reserve(recordCount);
    b.reach.reserve(recordCount);
    listed = std::vector<std::uint8_t>();
    b.recordOf.assign(triangles.size(), kNoRecord);
    nodes_.resize(1);
    b.fill(root, 0, rootCenter_, 0);
    leafCount_ = b.leafCount;
    std::vector<Builder::Bounds> bounds(records_.size());
    for (std::size_t r = 0; r < records_.size(); ++r) {
        const Record& e = records_[r];
        Builder::Bounds& k = bounds[r];
        Builder::set_bounds(triangles[b.positionOf[r]], e, k, b.reach[r]);
        if (e.projection == NeverInside) continue;
        reachLo_[0] = std::min(reachLo_[0], static_cast<double>(k.xLo));
        reachHi_[0] = std::max(reachHi_[0], static_cast<double>(k.xHi));
        reachLo_[1] = std::min(reachLo_[1], static_cast<double>(k.yLo));
        reachHi_[1] = std::max(reachHi_[1], static_cast<double>(k.yHi));
    }
    b.recordOf = std::vector<std::uint32_t>();
    // Padding up to a whole block of sixteen: never read as an entry.
    cells_.resize(entries_.size() + 15);
    slabs_.resize(nodes_.size());
    b.fill_cells(0, rootCenter_, 0, bounds, cellScale_, cells_, slabs_);
    build_ceilings();
}

namespace {

// A leaf that lists triangles: its node and its box.
struct FlatLeaf {
    std::uint32_t node;
    std::uint32_t depth;
    double center[3];
};

// Lays the octree builder's nodes out as CastTree does (see fill): the
// stored children of a split node next to each other, placed when the node
// splits, and a leaf's entries (triangle list positions for now) appended as
// it comes. A child is stored when its list is not empty; the subtree of a
// child with an empty list lists nothing. The converse holds unless a node
// with a list has children that all have empty lists (a triangle touching
// the node's box but, by rounding, none of its children's): such a tree is
// marked irregular, and the caller builds it the long way.
class FlatSink {
public:
    using Handle = std::int64_t;  // a node's index; -1 for a node that is not stored

    std::vector<CastTree::Node> nodes;
    std::vector<std::uint32_t> entries;
    std::vector<FlatLeaf> leaves;
    bool irregular = false;

    static FlatSink whole() {
        FlatSink s;
        s.nodes.resize(1);
        s.top_ = 0;
        return s;
    }
    Handle top() const { return top_; }
    bool ignores(Handle node) const { return node < 0; }

    void leaf(Handle node, const NodeVec& center, const NodeVec&, int depth, const std::uint32_t* positions,
              std::size_t count) {
        if (node < 0) {
            irregular = irregular || count > 0;
            return;
        }
        CastTree::Node& n = nodes[static_cast<std::size_t>(node)];
        n.index = static_cast<std::uint32_t>(entries.size());
        n.count = static_cast<std::uint32_t>(count);
        if (count == 0) return;
        entries.insert(entries.end(), positions, positions + count);
        leaves.push_back({static_cast<std::uint32_t>(node), static_cast<std::uint32_t>(depth),
                          {center[0], center[1], center[2]}});
    }

    void split(Handle node, const NodeVec&, const NodeVec&, int, bool ownListEmpty, const NodeVec*,
               const std::array<octree_build::IndexList, 8>& lists, Handle* children) {
        for (int k = 0; k < 8; ++k) children[k] = -1;
        if (node < 0) return;
        unsigned mask = 0;
        for (unsigned k = 0; k < 8; ++k)
            if (!lists[k].empty()) mask |= 1u << k;
        irregular = irregular || (mask == 0 && !ownListEmpty);
        const auto first = static_cast<std::uint32_t>(nodes.size());
        nodes[static_cast<std::size_t>(node)] = {first, CastTree::kInnerNode | mask};
        nodes.resize(nodes.size() + kRanks.rank[mask][7] + ((mask >> 7) & 1));
        for (unsigned k = 0; k < 8; ++k)
            if ((mask >> k) & 1) children[k] = first + kRanks.rank[mask][k];
    }

    // A part starts at its own node 0, which stands for `child`.
    FlatSink part(Handle child) const {
        FlatSink s;
        s.top_ = child < 0 ? -1 : 0;
        if (child >= 0) s.nodes.resize(1);
        return s;
    }

    // Appends the parts' nodes after the root's children, as a build in
    // order would have placed them.
    void join(std::array<FlatSink, 8>& parts) {
        std::size_t nodeCount = nodes.size(), entryCount = entries.size(), leafCount = leaves.size();
        for (const FlatSink& p : parts) {
            nodeCount += p.nodes.empty() ? 0 : p.nodes.size() - 1;
            entryCount += p.entries.size();
            leafCount += p.leaves.size();
        }
        nodes.reserve(nodeCount);
        entries.reserve(entryCount);
        leaves.reserve(leafCount);
        const unsigned mask = nodes[0].count & 0xffu;
        for (unsigned k = 0; k < 8; ++k) {
            FlatSink& p = parts[k];
            irregular = irregular || p.irregular;
            if (p.top_ < 0) continue;
            const std::uint32_t slot = nodes[0].index + kRanks.rank[mask][k];
            const auto base = static_cast<std::uint32_t>(nodes.size()) - 1;  // + local index
            const auto entryBase = static_cast<std::uint32_t>(entries.size());
            const auto place = [&](std::uint32_t local) { return local == 0 ? slot : base + local; };
            for (std::size_t i = 0; i < p.nodes.size(); ++i) {
                CastTree::Node n = p.nodes[i];
                n.index += (n.count & CastTree::kInnerNode) ? base : entryBase;
                if (i == 0)
                    nodes[slot] = n;
                else
                    nodes.push_back(n);
            }
            entries.insert(entries.end(), p.entries.begin(), p.entries.end());
            for (FlatLeaf leaf : p.leaves) {
                leaf.node = place(leaf.node);
                leaves.push_back(leaf);
            }
            p = FlatSink();
        }
    }

    void restart() {
        nodes.assign(1, CastTree::Node{});
        entries.clear();
        leaves.clear();
        irregular = false;
    }

private:
    Handle top_ = -1;
};

}  // namespace

CastTree::CastTree(const std::vector<Triangle>& triangles, const Vec3& maxCorner, const Vec3& minCorner,
                   unsigned threads) {
    NodeVec center, halfSize;
    octree_build::root_box(maxCorner, minCorner, center, halfSize);
    if (threads == 0) threads = std::thread::hardware_concurrency();
    threads = std::max(1u, std::min(threads, 8u));

    FlatSink sink = FlatSink::whole();
    // Room for what a terrain model usually takes (a few entries, and a
    // fraction of a node and a leaf, per triangle), so that the arrays
    // seldom move as they grow; the room not used is never written.
    sink.nodes.reserve(triangles.size() / 2 + 64);
    sink.entries.reserve(4 * triangles.size() + 1024);
    sink.leaves.reserve(triangles.size() / 2 + 64);
    {
        octree_build::Builder<FlatSink> builder(triangles, center, halfSize, threads);
        builder.build_root(sink, center, halfSize, threads);
    }
    if (sink.irregular) {
        OctreeNode root;
        create_octree(triangles, root, maxCorner, minCorner, threads);
        *this = CastTree(root, triangles);
        return;
    }
    // The root box as create_octree's root node has it.
    double minCorner3[3], maxCorner3[3];
    for (int q = 0; q < 3; ++q) {
        maxCorner3[q] = center[q] + halfSize[q];
        minCorner3[q] = center[q] - halfSize[q];
    }
    set_root_box(center.data(), minCorner3, maxCorner3, halfSize.data());

    nodes_ = std::move(sink.nodes);
    nodes_.shrink_to_fit();
    entries_ = std::move(sink.entries);
    entries_.shrink_to_fit();
    const std::vector<FlatLeaf> leaves = std::move(sink.leaves);
    leafCount_ = leaves.size();

    // One record per listed triangle, in the order the leaves first list it.
    octree_build::BigVector<std::uint32_t> positionOf;
    {
        octree_build::BigVector<std::uint32_t> recordOf(triangles.size(), kNoRecord);
        // Looked up in list order, scattered: the slot some entries ahead
        // is fetched.
        constexpr std::size_t ahead = 16;
        const std::size_t count = entries_.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (i + ahead < count) __builtin_prefetch(&recordOf[entries_[i + ahead]]);
            std::uint32_t& e = entries_[i];
            std::uint32_t& r = recordOf[e];
            if (r == kNoRecord) {
                r = static_cast<std::uint32_t>(positionOf.size());
                positionOf.push_back(e);
            }
            e = r;
        }
    }
    positionOf.shrink_to_fit();
    // The triangles are read once, out of list order; what the bounds and
    // slabs need of them is kept beside the records, in record order.
    records_.reserve(positionOf.size());
    octree_build::advise_huge_pages(records_.data(), records_.capacity() * sizeof(Record));
    records_.resize(positionOf.size());
    octree_build::BigVector<Builder::Corners> corners(records_.size());
    octree_build::for_ranges(records_.size(), threads, [&](std::size_t begin, std::size_t end) {
        constexpr std::size_t ahead = 12;
        for (std::size_t r = begin; r < end; ++r) {
            if (r + ahead < end) {
                const char* next = reinterpret_cast<const char*>(&triangles[positionOf[r + ahead]]);
                __builtin_prefetch(next);
                __builtin_prefetch(next + 64);
            }
            const Triangle& t = triangles[positionOf[r]];
            records_[r] = Builder::make_record(t);
            corners[r] = {t.b.x, t.b.y, t.b.z, t.c.y, t.c.z};
        }
    });
    positionOf = octree_build::BigVector<std::uint32_t>();

    // Each record's largest reach over the leaves that list it.
    std::vector<double> reach(records_.size(), 0.0);
    for (const FlatLeaf& leaf : leaves) {
        double lo[3], hi[3];
        for (int q = 0; q < 3; ++q) {
            lo[q] = leaf.center[q] - half_[leaf.depth][q];
            hi[q] = leaf.center[q] + half_[leaf.depth][q];
        }
        const Node& node = nodes_[leaf.node];
        for (std::uint32_t i = node.index; i < node.index + node.count; ++i) {
            const std::uint32_t r = entries_[i];
            reach[r] = std::max(reach[r], Builder::reach_in(records_[r], lo, hi));
        }
    }

    // Each record's bounds; its reach gives way to its slab_beta. The union
    // of the bounds is taken per run and the runs' unions joined in order:
    // std::min and std::max keep the first of equal values (and ignore a
    // NaN after a number), so that is the union taken in record order.
    std::vector<Builder::Bounds> bounds(records_.size());
    const unsigned runs = threads <= 1 || records_.size() < 4096 ? 1u : threads;
    std::vector<std::array<double, 4>> reaches(runs, {HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL});
    octree_build::for_runs(records_.size(), runs, [&](unsigned run, std::size_t begin, std::size_t end) {
        std::array<double, 4>& u = reaches[run];
        for (std::size_t r = begin; r < end; ++r) {
            const Builder::TriangleCorners tr = Builder::corners_of(records_[r], corners[r]);
            reach[r] = Builder::slab_beta(tr, records_[r], Builder::set_bounds(tr, records_[r], bounds[r], reach[r]));
            if (records_[r].projection == NeverInside) continue;
            const Builder::Bounds& k = bounds[r];
            u[0] = std::min(u[0], static_cast<double>(k.xLo));
            u[1] = std::min(u[1], static_cast<double>(k.yLo));
            u[2] = std::max(u[2], static_cast<double>(k.xHi));
            u[3] = std::max(u[3], static_cast<double>(k.yHi));
        }
    });
    for (const std::array<double, 4>& u : reaches) {
        reachLo_[0] = std::min(reachLo_[0], u[0]);
        reachLo_[1] = std::min(reachLo_[1], u[1]);
        reachHi_[0] = std::max(reachHi_[0], u[2]);
        reachHi_[1] = std::max(reachHi_[1], u[3]);
    }

    // Padding up to a whole block of sixteen: never read as an entry.
    cells_.reserve(entries_.size() + 15);
    octree_build::advise_huge_pages(cells_.data(), cells_.capacity() * sizeof(EntryCells));
    cells_.resize(entries_.size() + 15);
    slabs_.reserve(nodes_.size());
    octree_build::advise_huge_pages(slabs_.data(), slabs_.capacity() * sizeof(LeafSlab));
    slabs_.resize(nodes_.size());
    const auto triangleOf = [&](std::uint32_t r) { return Builder::corners_of(records_[r], corners[r]); };
    const auto slabBetaOf = [&](std::uint32_t r) { return reach[r]; };
    if (!(nodes_[0].count & kInnerNode))  // a root leaf has a slab even without triangles
        slabs_[0] = Builder::leaf_slab(triangleOf, slabBetaOf, entries_, half_, nodes_[0], rootCenter_, 0);
    octree_build::for_ranges(leaves.size(), threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t l = begin; l < end; ++l) {
            const FlatLeaf& leaf = leaves[l];
            const Node& node = nodes_[leaf.node];
            slabs_[leaf.node] =
                Builder::leaf_slab(triangleOf, slabBetaOf, entries_, half_, node, leaf.center, leaf.depth);
            Builder::entry_cells(node, leaf.center, leaf.depth, half_, entries_, bounds, cellScale_, cells_);
        }
    });
    build_ceilings();
}

void CastTree::build_ceilings() {
    // The cells' rounding margin (walk_ceilings) needs every coordinate of
    // the root box within 2^25 finest cells of the origin.
    constexpr unsigned fine = kFineCeilingLog;
    const double cellMin = 2 * std::min(half_[fine][0], half_[fine][2]);
    for (int q = 0; q < 3; ++q)
        if (!(std::fabs(rootMin_[q]) <= 0x1p25 * cellMin && std::fabs(rootMax_[q]) <= 0x1p25 * cellMin)) return;
    coordScale_ = 0;
    for (int q = 0; q < 3; ++q) coordScale_ += std::max(std::fabs(rootMin_[q]), std::fabs(rootMax_[q]));
    const std::size_t n = std::size_t{1} << fine;
    for (unsigned level = 0; level < kCeilingLevels; ++level)
        for (int q = 0; q < 3; ++q) {
            ceilingScale_[level][q] = static_cast<double>(n >> (3 * level)) / (2 * half_[0][q]);
            ceilingCell_[level][q] = 2 * half_[0][q] / static_cast<double>(n >> (3 * level));
        }
    ceilings_[0].assign(n * n, -HUGE_VALF);
    fill_ceilings(0, rootCenter_, 0, 0, 0);
    for (unsigned level = 1; level < kCeilingLevels; ++level) {
        const std::size_t m = n >> (3 * level);
        const std::vector<float>& finer = ceilings_[level - 1];
        std::vector<float>& grid = ceilings_[level];
        grid.assign(m * m, -HUGE_VALF);
        for (std::size_t x = 0; x < 8 * m; ++x)
            for (std::size_t y = 0; y < 8 * m; ++y) {
                float& c = grid[(x / 8) * m + y / 8];
                c = std::max(c, finer[x * 8 * m + y]);
            }
    }
    for (const float c : ceilings_[kCeilingLevels - 1]) ceilingTop_ = std::max(ceilingTop_, c);
}

// ix and iy: the node's place among the nodes of its depth, in x and y.
// A hit is accepted only in its leaf's box, so not above the leaf's top;
// and where the leaf has a slab with an upward normal m (mz at least 0.5),
// m.P stays within rounding of the slab's upper face (see leaf_slab), so
// over a cell z stays below (hi - mx x - my y) / mz at the cell's corner
// (widened by far more than the walk's margin) that makes it largest, give
// or take that rounding, which first_reach adds per ray.
void CastTree::fill_ceilings(std::uint32_t index, const double* center, unsigned depth, unsigned ix, unsigned iy) {
    const Node& node = nodes_[index];
    if (node.count & kInnerNode) {
        const unsigned mask = node.count & 0xffu;
        const double* h = half_[depth + 1];
        for (unsigned k = 0; k < 8; ++k)
            if ((mask >> k) & 1) {
                const double childCenter[3] = {center[0] + ((k & 4) ? h[0] : -h[0]),
                                               center[1] + ((k & 2) ? h[1] : -h[1]),
                                               center[2] + ((k & 1) ? h[2] : -h[2])};
                fill_ceilings(node.index + kRanks.rank[mask][k], childCenter, depth + 1, 2 * ix + ((k >> 2) & 1),
                              2 * iy + (k & 1));
            }
        return;
    }
    if (node.count != 0) fill_leaf_ceilings(index, center, depth, ix, iy);
}

void CastTree::fill_leaf_ceilings(std::uint32_t index, const double* center, unsigned depth, unsigned ix,
                                  unsigned iy) {
    const LeafSlab& slab = slabs_[index];
    if (slab.lo > slab.hi) return;  // only triangles that are never inside
    const double* h = half_[depth];
    const double top = center[1] + h[1];
    const double minX = center[0] - h[0], maxX = center[0] + h[0];
    const double minY = center[2] - h[2], maxY = center[2] + h[2];
    const bool useSlab = std::isfinite(slab.hi) && slab.mz >= 0.5f;
    constexpr unsigned fine = kFineCeilingLog;
    const std::size_t n = std::size_t{1} << fine;
    unsigned x0, x1, y0, y1;
    if (depth <= fine) {
        x0 = ix << (fine - depth);
        x1 = (ix + 1) << (fine - depth);
        y0 = iy << (fine - depth);
        y1 = (iy + 1) << (fine - depth);
    } else {
        x0 = ix >> (depth - fine);
        x1 = x0 + 1;
        y0 = iy >> (depth - fine);
        y1 = y0 + 1;
    }
    const double cellX = 2 * half_[fine][0], cellY = 2 * half_[fine][2];
    const double mx = slab.mx, my = slab.my, mz = slab.mz;
    if (!useSlab) {
        // The leaf's top over every cell.
        const float f = float_up(top);
        for (unsigned x = x0; x < x1; ++x) {
            float* row = ceilings_[0].data() + x * n;
            for (unsigned y = y0; y < y1; ++y) row[y] = std::max(row[y], f);
        }
        return;
    }
    // The lowest of mx x + my y over the cell widened by a hundredth of a
    // cell (within the leaf), an x part plus a y part; each part depends
    // on one coordinate only and is worked out once per row or column.
    double yLow[1 << fine];
    for (unsigned y = y0; y < y1; ++y) {
        const double ay = std::max(minY, rootMin_[2] + (y - 0.01) * cellY);
        const double by = std::min(maxY, rootMin_[2] + (y + 1.01) * cellY);
        yLow[y - y0] = my > 0 ? my * ay : my * by;
    }
    const double slack = 1e-9 * static_cast<double>(slab.scale);
    for (unsigned x = x0; x < x1; ++x) {
        const double ax = std::max(minX, rootMin_[0] + (x - 0.01) * cellX);
        const double bx = std::min(maxX, rootMin_[0] + (x + 1.01) * cellX);
        const double xLow = mx > 0 ? mx * ax : mx * bx;
        float* row = ceilings_[0].data() + x * n;
        for (unsigned y = y0; y < y1; ++y) {
            const double low = xLow + yLow[y - y0];
            const double bound = (slab.hi - low) / mz + slack;
            row[y] = std::max(row[y], float_up(bound < top ? bound : top));
        }
    }
}

// For a ray going down (dz < 0) that moves along one of x and y only (the
// other one, the fixed axis, stays at fixedO): a ray parameter before which
// no computed hit point lies at or below the ceiling of a cell it lies in,
// so that no hit can be accepted; +inf when none can be accepted at all.
// Each grid, coarsest first, is walked from where the coarser one left off
// (at first from where the ray comes down to the highest ceiling).
// idm and idz are 1 / movingD and 1 / dz; tExit is where the traversal
// leaves the root box: a walk past it cannot prune more than the traversal
// does by itself, and stops (any parameter the walk has reached is a valid
// answer).
// The fixed axis and the grid are template parameters, so that each walk
// has its strides and sizes as constants.
template <int fixedAxis>
double CastTree::first_reach(double fixedO, double movingO, double movingD, double idm, double oz, double idz,
                             double tExit) const {
    // What a hit point may lie above its triangle's plane and so above a
    // slab's ceiling, by rounding: far above the few units in the last
    // place of the coordinates that it is.
    const double lift = 1e-8 * (std::fabs(fixedO) + std::fabs(movingO) + std::fabs(oz) + coordScale_);
    oz -= lift;
    // Products with reciprocals: their rounding, like that of quotients, is
    // far below the walk's margins and the slack taken from its result.
    double t = std::max(0.0, (static_cast<double>(ceilingTop_) - oz) * idz);
    static_assert(kCeilingLevels == 2, "a walk per grid, coarsest first");
    if (t != HUGE_VAL && !(t > tExit)) t = walk_ceilings<1, fixedAxis>(t, fixedO, movingO, movingD, idm, oz, idz, tExit);
    if (t != HUGE_VAL && !(t > tExit)) t = walk_ceilings<0, fixedAxis>(t, fixedO, movingO, movingD, idm, oz, idz, tExit);
    return t;
}

// The walk on one grid from parameter t, in cell units: a point whose
// coordinate lies within mu of a cell's bounds counts as in the cell, a
// margin far above the rounding of a hit point's coordinates and of the
// leaf boxes (the coordinates are within 2^25 finest cells of the origin,
// so those errors stay below 2^-23 cells). In each cell the ray may first
// be low enough at tH, where it comes down to the cell's ceiling; the first
// cell where that is before the ray leaves it gives the answer, no later
// than the next cell's entry. After a few cells, or past tExit, the walk
// gives up and returns where the next cell begins.
template <unsigned level, int fixedAxis>
double CastTree::walk_ceilings(double t, double fixedO, double movingO, double movingD, double idm, double oz,
                               double idz, double tExit) const {
    constexpr double mu = 1e-6;
    constexpr int kSteps = 6;
    constexpr int n = 1 << (kFineCeilingLog - 3 * level);
    constexpr int movingAxis = 2 - fixedAxis;
    const double fixedScale = ceilingScale_[level][fixedAxis], movingScale = ceilingScale_[level][movingAxis];
    const double uf = (fixedO - rootMin_[fixedAxis]) * fixedScale;
    if (!(uf >= -mu && uf <= n + mu)) return t;
    // floor within -1..n (the callers clamp to 0..n - 1 as needed).
    const auto cell = [](double u) { return u >= n ? n : u > -1 ? static_cast<int>(u) : -1; };
    const int f0 = std::max(0, cell(uf - mu));
    const int f1 = std::min(n - 1, cell(uf + mu));
    // Cell (fixed f, moving m) at [f * fixedStride + m * movingStride].
    constexpr std::size_t fixedStride = fixedAxis == 0 ? static_cast<std::size_t>(n) : 1;
    constexpr std::size_t movingStride = fixedAxis == 0 ? 1 : static_cast<std::size_t>(n);
    const float* c0 = ceilings_[level].data() + f0 * fixedStride;
    const float* c1 = ceilings_[level].data() + f1 * fixedStride;
    const auto ceiling = [&](int m) {
        return static_cast<double>(std::max(c0[m * movingStride], c1[m * movingStride]));
    };
    const double uo = (movingO - rootMin_[movingAxis]) * movingScale, du = movingD * movingScale;
    const double uA = uo + du * t;
    if (!std::isfinite(uA)) return t;  // no cell to start from: no progress
    if (du == 0) {
        if (!(uA >= -mu && uA <= n + mu)) return HUGE_VAL;
        const int m0 = std::max(0, cell(uA - mu));
        const int m1 = std::min(n - 1, cell(uA + mu));
        return std::max(t, (std::max(ceiling(m0), ceiling(m1)) - oz) * idz);
    }
    const double idu = idm * ceilingCell_[level][movingAxis];
    double tEnter = t;
    if (du > 0) {
        if (!(uA - mu < n)) return HUGE_VAL;
        const int first = std::max(0, cell(uA - mu));
        for (int m = first; m < n; ++m) {
            if (m - first == kSteps || tEnter > tExit) return tEnter;
            const double tH = (ceiling(m) - oz) * idz;
            const double tNext = (m + 1 - mu - uo) * idu;
            if (tH <= (m + 1 + mu - uo) * idu) return std::min(std::max(tEnter, tH), tNext);
            tEnter = tNext;
        }
    } else {
        if (!(uA + mu > 0)) return HUGE_VAL;
        const int first = std::min(n - 1, cell(uA + mu));
        for (int m = first; m >= 0; --m) {
            if (first - m == kSteps || tEnter > tExit) return tEnter;
            const double tH = (ceiling(m) - oz) * idz;
            const double tNext = (m + mu - uo) * idu;
            if (tH <= (m - mu - uo) * idu) return std::min(std::max(tEnter, tH), tNext);
            tEnter = tNext;
        }
    }
    return HUGE_VAL;
}

bool CastTree::identical(const CastTree& other) const {
    const auto same = [](const auto& a, const auto& b) {
        return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0);
    };
    return same(nodes_, other.nodes_) && same(entries_, other.entries_) && same(cells_, other.cells_) &&
           same(slabs_, other.slabs_) && same(records_, other.records_) && leafCount_ == other.leafCount_ &&
           std::memcmp(rootCenter_, other.rootCenter_, sizeof rootCenter_) == 0 &&
           std::memcmp(rootMin_, other.rootMin_, sizeof rootMin_) == 0 &&
           std::memcmp(rootMax_, other.rootMax_, sizeof rootMax_) == 0 &&
           std::memcmp(reachLo_, other.reachLo_, sizeof reachLo_) == 0 &&
           std::memcmp(reachHi_, other.reachHi_, sizeof reachHi_) == 0 &&
           std::memcmp(half_, other.half_, sizeof half_) == 0 &&
           std::memcmp(cellScale_, other.cellScale_, sizeof cellScale_) == 0 && same(ceilings_[0], other.ceilings_[0]) &&
           same(ceilings_[1], other.ceilings_[1]) &&
           std::memcmp(&ceilingTop_, &other.ceilingTop_, sizeof ceilingTop_) == 0 &&
           std::memcmp(&coordScale_, &other.coordScale_, sizeof coordScale_) == 0 &&
           std::memcmp(ceilingScale_, other.ceilingScale_, sizeof ceilingScale_) == 0 &&
           std::memcmp(ceilingCell_, other.ceilingCell_, sizeof ceilingCell_) == 0;
}

std::uint64_t CastTree::digest() const {
    // FNV-1a over the bytes, eight at a time (the arrays' records have no
    // padding), then the tail byte by byte; each array's size goes first.
    std::uint64_t h = 0xcbf29ce484222325ull;
    const auto bytes = [&h](const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        std::size_t i = 0;
        for (; i + 8 <= size; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + i, 8);
            h = (h ^ w) * 0x100000001b3ull;
        }
        for (; i < size; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    };
    const auto array = [&bytes](const auto& v) {
        const std::uint64_t n = v.size();
        bytes(&n, sizeof n);
        if (!v.empty()) bytes(v.data(), v.size() * sizeof(v[0]));
    };
    array(nodes_);
    array(entries_);
    array(cells_);
    array(slabs_);
    array(records_);
    const std::uint64_t leaves = leafCount_;
    bytes(&leaves, sizeof leaves);
    bytes(rootCenter_, sizeof rootCenter_);
    bytes(rootMin_, sizeof rootMin_);
    bytes(rootMax_, sizeof rootMax_);
    bytes(reachLo_, sizeof reachLo_);
    bytes(reachHi_, sizeof reachHi_);
    bytes(half_, sizeof half_);
    bytes(cellScale_, sizeof cellScale_);
    array(ceilings_[0]);
    array(ceilings_[1]);
    bytes(&ceilingTop_, sizeof ceilingTop_);
    bytes(&coordScale_, sizeof coordScale_);
    bytes(ceilingScale_, sizeof ceilingScale_);
    bytes(ceilingCell_, sizeof ceilingCell_);
    return h;
}

std::size_t CastTree::memory_bytes() const {
    return nodes_.capacity() * sizeof(Node) + entries_.capacity() * sizeof(std::uint32_t) +
           cells_.capacity() * sizeof(EntryCells) + slabs_.capacity() * sizeof(LeafSlab) +
           records_.capacity() * sizeof(Record) +
           (ceilings_[0].capacity() + ceilings_[1].capacity()) * sizeof(float);
}

// The per-ray state: the laser's own origin and direction (the triangle test
// and the midpoint rule use them unmirrored), the mirror mask, and the return.
struct CastTree::Ray {
    double ox, oy, oz;
    double dx, dy, dz;
    double inv[3];  // 1 / d for the leaf windows, 0 where |d| < 1e-3 (no window from that axis)
    unsigned mirrorMask;
    // Nodes the ray leaves through a z plane before this parameter hold no
    // hit it can accept (see first_reach); at least 0.
    double tPrune;
    // Likewise through a plane of the axis the ray moves along (y for
    // subtree_yz, x for subtree_xz).
    double tPruneSide;
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

    const double idx = reciprocal(dx), idy = reciprocal(dy), idz = reciprocal(dz);
    const double t0x = entry_param((rootMin_[0] - ox) * idx);
    const double t1x = exit_param((rootMax_[0] - ox) * idx);
    const double t0z = entry_param((rootMin_[1] - oz) * idz);
    const double t1z = exit_param((rootMax_[1] - oz) * idz);
    const double t0y = entry_param((rootMin_[2] - oy) * idy);
    const double t1y = exit_param((rootMax_[2] - oy) * idy);
    if (!(max3(t0x, t0z, t0y) < min3(t1x, t1z, t1y))) return false;
    ray.mirrorMask = mirrorMask;
    // The leaf windows' 1 / d from the same quotients: 1 / -d is -(1 / d)
    // exactly, and a mirrored component is the negated one.
    ray.inv[0] = std::fabs(ray.dx) >= 1e-3 ? ((mirrorMask & 4) ? -idx : idx) : 0.0;
    ray.inv[1] = std::fabs(ray.dy) >= 1e-3 ? ((mirrorMask & 1) ? -idy : idy) : 0.0;
    ray.inv[2] = std::fabs(ray.dz) >= 1e-3 ? ((mirrorMask & 2) ? -idz : idz) : 0.0;
    // A ray without an x component whose origin lies strictly between the
    // root's x planes (the survey's lasers when the flight lines run along
    // x) has x parameters -inf and +inf, and NaN midpoints below the root:
    // see subtree_yz. Otherwise the general traversal.
    // Likewise without a y component (flight lines along y): subtree_xz.
    const bool finiteZ = std::fabs(t0z) <= 1e300 && std::fabs(t1z) <= 1e300;
    const bool yz = t0x == -HUGE_VAL && t1x == HUGE_VAL && finiteZ && std::fabs(t0y) <= 1e300 &&
                    std::fabs(t1y) <= 1e300;
    const bool xz = !yz && t0y == -HUGE_VAL && t1y == HUGE_VAL && finiteZ && std::fabs(t0x) <= 1e300 &&
                    std::fabs(t1x) <= 1e300;
    // Where a ray going down can first meet a leaf's content, from the
    // ceiling grid, less a slack far above the rounding of the traversal's
    // parameters and of the hit points: every point of a node the ray
    // leaves before that lies above the ceilings, so the node holds no hit
    // the ray can accept and is skipped, as a node behind the origin is.
    ray.tPrune = 0;
    ray.tPruneSide = 0;
    bool walked = false;
    if ((yz || xz) && !ceilings_[0].empty() && ray.dz <= -1e-3) {
        const double cellMin = 2 * std::min(half_[kFineCeilingLog][0], half_[kFineCeilingLog][2]);
        if (std::fabs(ray.ox) <= 0x1p25 * cellMin && std::fabs(ray.oy) <= 0x1p25 * cellMin &&
            std::fabs(ray.oz) <= 0x1p25 * cellMin) {
            // The reciprocals of the mirrored components, turned back:
            // 1 / -d is -(1 / d) exactly.
            const double idzRay = -idz;  // dz < 0 was mirrored
            const double reach =
                yz ? first_reach<0>(ray.ox, ray.oy, ray.dy, (mirrorMask & 1) ? -idy : idy, ray.oz, idzRay,
                                    std::min(t1z, t1y))
                   : first_reach<2>(ray.oy, ray.ox, ray.dx, (mirrorMask & 4) ? -idx : idx, ray.oz, idzRay,
                                    std::min(t1x, t1z));
            if (reach == HUGE_VAL) return false;
            walked = true;
            const double zScale = std::max(std::fabs(rootMin_[1]), std::fabs(rootMax_[1]));
            const double slack = 1e-7 * (std::fabs(reach) + (std::fabs(ray.oz) + zScale) * idz);
            if (reach - slack > 0) ray.tPrune = reach - slack;
            // A node's side planes in the moving axis: their parameters
            // are as exact as the z planes' up to the rounding of the
            // coordinates over that component, covered here.
            if (std::fabs(yz ? ray.dy : ray.dx) >= 1e-3) {
                const double side =
                    ray.tPrune - 1e-8 * (std::fabs(ray.ox) + std::fabs(ray.oy) + coordScale_) * (yz ? idy : idx);
                if (side > 0) ray.tPruneSide = side;
            }
        }
    }
    // Otherwise, a ray whose part in the root box passes beside every
    // triangle's bounds (where the leaf scans would reject every hit) gives
    // no return: the traversal is not needed. A NaN anywhere keeps the
    // traversal.
    if (!walked) {
        double tlo, thi, segLo[2], segHi[2];
        if (!window(ray, rootMin_[0], rootMin_[1], rootMin_[2], rootMax_[0], rootMax_[1], rootMax_[2], tlo, thi, segLo,
                    segHi) ||
            segHi[0] < reachLo_[0] || segLo[0] > reachHi_[0] || segHi[1] < reachLo_[1] || segLo[1] > reachHi_[1])
            return false;
    }
    const double* c = rootCenter_;
    if (!(yz   ? subtree_yz(t0z, t0y, t1z, t1y, 0, c[0], c[1], c[2], 0, ray)
          : xz ? subtree_xz(t0x, t0z, t1x, t1z, 0, c[0], c[1], c[2], 0, true, ray)
               : subtree(t0x, t0z, t0y, t1x, t1z, t1y, 0, c[0], c[1], c[2], 0, ray)))
        return false;

    laser.hitPoint = {ray.px, ray.py, ray.pz};
    laser.range = ray.t;
    laser.hitFaceIndex = static_cast<std::int32_t>(ray.face);
    return true;
}

bool CastTree::subtree(double t0x, double t0z, double t0y, double t1x, double t1z, double t1y, std::uint32_t index,
                       double cx, double cz, double cy, unsigned depth, Ray& ray) const {
    if (t1x < 0 || t1z < 0 || t1y < 0) return false;
    const Node& node = nodes_[index];
    if (!(node.count & kInnerNode)) return scan_leaf(node, cx, cz, cy, depth, ray);

    const double tmx = 0.5 * (t0x + t1x);
    const double tmz = 0.5 * (t0z + t1z);
    const double tmy = 0.5 * (t0y + t1y);
    unsigned current = ray_detail::first_child_of(t0x, t0z, t0y, tmx, tmz, tmy);
    if (std::isnan(tmx) && ray.ox > cx) current |= 4;
    if (std::isnan(tmy) && ray.oy > cy) current |= 1;

    const unsigned mask = node.count & 0xffu;
    const double* h = half_[depth + 1];
    while (current <= 7) {
        const double cx0 = (current & 4) ? tmx : t0x, cx1 = (current & 4) ? t1x : tmx;
        const double cz0 = (current & 2) ? tmz : t0z, cz1 = (current & 2) ? t1z : tmz;
        const double cy0 = (current & 1) ? tmy : t0y, cy1 = (current & 1) ? t1y : tmy;
        // A subtree without triangles cannot give a return: not visiting it
        // changes nothing.
        const unsigned k = current ^ ray.mirrorMask;
        if (((mask >> k) & 1) &&
            subtree(cx0, cz0, cy0, cx1, cz1, cy1, node.index + kRanks.rank[mask][k], cx + ((k & 4) ? h[0] : -h[0]),
                    cz + ((k & 2) ? h[1] : -h[1]), cy + ((k & 1) ? h[2] : -h[2]), depth + 1, ray))
            return true;
        current = ray_detail::next_child_of(current, cx1, cz1, cy1);
    }
    return false;
}

// subtree for a ray whose x parameters are -inf and +inf at the root, the
// z and y ones finite. Below the root every x midpoint is NaN (-inf + inf,
// then NaN + anything), and a node's x parameters are -inf or NaN on entry,
// +inf or NaN on exit. So in subtree: t1x < 0 never holds; the entry is
// never through an x plane and no comparison with an x midpoint holds, so
// the first child's x bit comes from the midpoint rule alone (the origin
// beyond the centre); and next_child_of never chooses x (ex < ez never
// holds), so the x bit stays. What is left is the same arithmetic and the
// same comparisons on z and y, done here without the x parameters.
bool CastTree::subtree_yz(double t0z, double t0y, double t1z, double t1y, std::uint32_t index, double cx, double cz,
                          double cy, unsigned depth, Ray& ray) const {
    if (t1z < ray.tPrune || t1y < ray.tPruneSide) return false;
    const Node& node = nodes_[index];
    if (!(node.count & kInnerNode)) return scan_leaf(node, cx, cz, cy, depth, ray);

    const double tmz = 0.5 * (t0z + t1z);
    const double tmy = 0.5 * (t0y + t1y);
    // first_child_of with the x terms false; tmy is not NaN.
    unsigned current = ray.ox > cx ? 4u : 0u;
    if (t0z > t0y) {
        if (tmy < t0z) current |= 1;
    } else {
        if (tmz < t0y) current |= 2;
    }

    const unsigned mask = node.count & 0xffu;
    const double* h = half_[depth + 1];
    // The x bit, and so the children's x centre, is the same for every
    // child visited.
    const double ccx = cx + (((current ^ ray.mirrorMask) & 4) ? h[0] : -h[0]);
    while (current <= 7) {
        const double cz0 = (current & 2) ? tmz : t0z, cz1 = (current & 2) ? t1z : tmz;
        const double cy0 = (current & 1) ? tmy : t0y, cy1 = (current & 1) ? t1y : tmy;
        const unsigned k = current ^ ray.mirrorMask;
        if (((mask >> k) & 1) &&
            subtree_yz(cz0, cy0, cz1, cy1, node.index + kRanks.rank[mask][k], ccx, cz + ((k & 2) ? h[1] : -h[1]),
                       cy + ((k & 1) ? h[2] : -h[2]), depth + 1, ray))
            return true;
        // next_child_of with ex < ez false: z, or y when strictly first.
        current = kNextChild[current][cy1 < cz1 ? 2 : 1];
    }
    return false;
}

// subtree for a ray whose y parameters are -inf and +inf at the root, the
// x and z ones finite. Below the root every y midpoint is NaN, a node's
// entry y parameter is -inf while every y bit on its path (mirrored) is
// clear and NaN after that (lowInf), and its exit one +inf or NaN. So in
// subtree: t1y < 0 never holds; first_child_of, as y comes last in its
// comparisons, picks by x or z as usual while the entry parameter is -inf
// and otherwise finds every comparison false (the child with clear x and z
// bits); the y bit comes from the midpoint rule alone; and next_child_of
// never chooses y (nothing is below +inf or NaN), so the y bit stays.
bool CastTree::subtree_xz(double t0x, double t0z, double t1x, double t1z, std::uint32_t index, double cx, double cz,
                          double cy, unsigned depth, bool lowInf, Ray& ray) const {
    if (t1x < ray.tPruneSide || t1z < ray.tPrune) return false;
    const Node& node = nodes_[index];
    if (!(node.count & kInnerNode)) return scan_leaf(node, cx, cz, cy, depth, ray);

    const double tmx = 0.5 * (t0x + t1x);
    const double tmz = 0.5 * (t0z + t1z);
    // first_child_of with the y terms as above; tmx is not NaN.
    unsigned current = ray.oy > cy ? 1u : 0u;
    if (lowInf) {
        if (t0x > t0z) {
            if (tmz < t0x) current |= 2;
        } else {
            if (tmx < t0z) current |= 4;
        }
    }

    const unsigned mask = node.count & 0xffu;
    const double* h = half_[depth + 1];
    // The y bit, and so the children's y centre, is the same for every
    // child visited; and so is the children's lowInf.
    const double ccy = cy + (((current ^ ray.mirrorMask) & 1) ? h[2] : -h[2]);
    const bool childLowInf = lowInf && !(current & 1);
    while (current <= 7) {
        const double cx0 = (current & 4) ? tmx : t0x, cx1 = (current & 4) ? t1x : tmx;
        const double cz0 = (current & 2) ? tmz : t0z, cz1 = (current & 2) ? t1z : tmz;
        const unsigned k = current ^ ray.mirrorMask;
        if (((mask >> k) & 1) &&
            subtree_xz(cx0, cz0, cx1, cz1, node.index + kRanks.rank[mask][k], cx + ((k & 4) ? h[0] : -h[0]),
                       cz + ((k & 2) ? h[1] : -h[1]), ccy, depth + 1, childLowInf, ray))
            return true;
        // next_child_of with chosen > ey false: x when strictly first, or z.
        current = kNextChild[current][cx1 < cz1 ? 0 : 1];
    }
    return false;
}

inline __attribute__((always_inline)) bool CastTree::window(const Ray& ray, double minX, double minZ, double minY,
                                                             double maxX, double maxZ, double maxY,
                                                             double& tlo, double& thi, double* segLo, double* segHi) {
    const double ox = ray.ox, oy = ray.oy, oz = ray.oz;
    // A window of the ray parameter outside which the computed hit point
    // cannot lie in the box. It is wide on purpose (a slack of 1e-9
    // relative to the coordinates, far above any rounding of the hit point
    // or of the window itself), so it only skips, without a division,
    // triangles that the exact box test would reject anyway.
    tlo = -HUGE_VAL;
    thi = HUGE_VAL;
    const auto clip = [&tlo, &thi](double o, double inv, double lo, double hi) {
        if (inv == 0) return;
        const double slack = 1e-9 * (std::fabs(o) + std::fabs(lo) + std::fabs(hi)) + 1e-300;
        double a = (lo - slack - o) * inv, b = (hi + slack - o) * inv;
        if (inv < 0) std::swap(a, b);
        tlo = std::max(tlo, a);
        thi = std::min(thi, b);
    };
    clip(ox, ray.inv[0], minX, maxX);
    clip(oy, ray.inv[1], minY, maxY);
    clip(oz, ray.inv[2], minZ, maxZ);
    if (!(tlo <= thi)) return false;
    tlo -= 1e-12 * std::fabs(tlo);
    thi += 1e-12 * std::fabs(thi);
    if (segLo) segment(ray, tlo, thi, segLo, segHi);
    return true;
}

inline __attribute__((always_inline)) void CastTree::segment(const Ray& ray, double tlo, double thi, double* segLo,
                                                              double* segHi) {
    // The part of the ray inside the window, as a box in x and y (again
    // with a slack far above rounding): a hit point in the box lies in it.
    const double o[2] = {ray.ox, ray.oy}, d[2] = {ray.dx, ray.dy};
    for (int i = 0; i < 2; ++i) {
        const double a = o[i] + d[i] * tlo, b = o[i] + d[i] * thi;
        const double slack = 1e-9 * (std::fabs(o[i]) + std::fabs(a) + std::fabs(b)) + 1e-300;
        segLo[i] = std::min(a, b) - slack;
        segHi[i] = std::max(a, b) + slack;
    }
}

bool CastTree::scan_leaf(const Node& node, double cx, double cz, double cy, unsigned depth, Ray& ray) const {
    if (node.count == 0) return false;
    {
        // The leaf's cells and entries, fetched while the window and the
        // slab test are worked out.
        const char* c = reinterpret_cast<const char*>(cells_.data() + node.index);
        const char* l = reinterpret_cast<const char*>(entries_.data() + node.index);
        __builtin_prefetch(c);
        __builtin_prefetch(l);
        if (node.count > 8) {
            __builtin_prefetch(c + 64);
            __builtin_prefetch(l + 64);
        }
    }
    const double* h = half_[depth];
    // The leaf box, as the octree builder computes it.
    const double minX = cx - h[0], maxX = cx + h[0];
    const double minZ = cz - h[1], maxZ = cz + h[1];
    const double minY = cy - h[2], maxY = cy + h[2];
    const double ox = ray.ox, oy = ray.oy, oz = ray.oz;
    const double dx = ray.dx, dy = ray.dy, dz = ray.dz;

    double segLo[2], segHi[2];
    double tlo, thi;
    // The window first, the box of its part of the ray once the slab test
    // has passed.
    if (!window(ray, minX, minZ, minY, maxX, maxZ, maxY, tlo, thi, nullptr, nullptr)) return false;
    {
        // The part of the ray in the window lies beyond one face of the
        // leaf's slab, with a slack far above the rounding of the hit point
        // (a hit lies off its triangle's plane by a few units in the last
        // place of the coordinates), of the slab and of this test: no hit
        // of the leaf can be accepted. An infinite or NaN end never skips.
        const LeafSlab& slab = slabs_[&node - nodes_.data()];
        const double mx = slab.mx, my = slab.my, mz = slab.mz;
        const double sLo = mx * (ox + dx * tlo) + my * (oy + dy * tlo) + mz * (oz + dz * tlo);
        const double sHi = mx * (ox + dx * thi) + my * (oy + dy * thi) + mz * (oz + dz * thi);
        const double slack = 1e-8 * (std::fabs(ox) + std::fabs(oy) + std::fabs(oz) + slab.scale +
                                     (std::fabs(dx) + std::fabs(dy) + std::fabs(dz)) *
                                         std::max(std::fabs(tlo), std::fabs(thi)));
        if ((sLo > slab.hi + slack && sHi > slab.hi + slack) || (sLo < slab.lo - slack && sHi < slab.lo - slack))
            return false;
    }

    segment(ray, tlo, thi, segLo, segHi);

    // The ray's cells on the leaf grid: an entry whose cells miss them in
    // x or y cannot give a hit in this leaf (the old per-triangle bound
    // test, widened to whole cells), four entries per comparison.
    const double* scale = cellScale_[depth];
    const unsigned rxLo = lower_cell(segLo[0], minX, scale[0]), rxHi = upper_cell(segHi[0], minX, scale[0]);
    const unsigned ryLo = lower_cell(segLo[1], minY, scale[1]), ryHi = upper_cell(segHi[1], minY, scale[1]);
    const __m128i query = _mm_set1_epi32(static_cast<int>(rxHi | ryHi << 8 | (255 - rxLo) << 16 | (255 - ryLo) << 24));

    bool found = false;
    double bx = 0, by = 0, bz = 0, bt = 0;
    std::uint32_t bface = 0;
    constexpr std::uint32_t kNoStop = 0xffffffffu;
    std::uint32_t stopAt = kNoStop;
    double stopZ = 0;
    const std::uint32_t* const list = entries_.data() + node.index;
    const EntryCells* const cells = cells_.data() + node.index;
    const std::uint32_t count = node.count;
    for (std::uint32_t block = 0; block < count; block += 16) {
        // Sixteen entries' passes, one bit every four; the records of those
        // that pass are fetched together before any is used.
        std::uint64_t pass = 0;
        for (unsigned part = 0; part < 4; ++part) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + block + 4 * part));
            // Byte by byte: entry cell <= ray cell; an entry passes with all four.
            const auto bytes =
                static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v, query), query)));
            pass |= bytes << (16 * part);
        }
        pass &= pass >> 2;
        pass &= pass >> 1;
        pass &= 0x1111111111111111ull;
        if (count - block < 16) pass &= (std::uint64_t{1} << (4 * (count - block))) - 1;
        for (std::uint64_t ahead = pass; ahead; ahead &= ahead - 1) {
            const char* r = reinterpret_cast<const char*>(records_.data() + list[block + (__builtin_ctzll(ahead) >> 2)]);
            __builtin_prefetch(r);
            __builtin_prefetch(r + sizeof(Record) - 1);
        }
        while (pass) {
            const std::uint32_t i = block + (static_cast<unsigned>(__builtin_ctzll(pass)) >> 2);
            pass &= pass - 1;
            // The stop after the last accepted hit (see below), decided
            // only now that another triangle is to be tested: with none
            // left, stopping or not gives the same return.
            if (stopAt != kNoStop) {
                if (stopZ > records_[list[stopAt]].topZ) goto done;
                stopAt = kNoStop;
            }
            const Record* e = records_.data() + list[i];
            // intersect_triangle, term for term.
            const double denom = e->nx * dx + e->ny * dy + e->nz * dz;
            if (std::fabs(denom) < 1e-6) continue;
            const double q = -(e->nx * (ox - e->ax) + e->ny * (oy - e->ay) + e->nz * (oz - e->az));
            // t = q / denom outside the window: the hit is not in this leaf.
            if (denom > 0 ? (q < tlo * denom || q > thi * denom) : (q > tlo * denom || q < thi * denom)) continue;
            const double t = q / denom;
            if (t < 0) continue;
            const double px = ox + dx * t, py = oy + dy * t, pz = oz + dz * t;
            // The leaf box test comes before the inside test here (it is
            // cheaper); both must hold and neither has side effects, so the
            // order does not change the outcome.
            if (!(px >= minX && px <= maxX && py >= minY && py <= maxY && pz >= minZ && pz <= maxZ)) continue;
            if (e->projection == NeverInside) continue;
            const double pv = e->projection == ProjectXY ? py : pz;
            const double n1 = e->bvcv * (px - e->cx) + e->cxbx * (pv - e->cv);
            const double n2 = e->cvav * (px - e->cx) + e->axcx * (pv - e->cv);
            const double det = std::fabs(e->axcx * e->bvcv - e->cvav * e->cxbx);
            // Most points in the box are outside the triangle; these tests
            // see it without dividing. They only reject what the quotients
            // below would reject too: a negative numerator beyond any
            // underflow to -0.0, or numerators clearly above the determinant.
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
            // The list is in non-increasing topZ order: once this hit is
            // above the next triangle's top, no later triangle can give a
            // higher point. (The next in the list, whether it passed the
            // cell test or not, as the full scan does.) The comparison waits
            // for the next triangle that passes, so that a scan with none
            // left does not fetch the next record for it.
            if (i + 1 < count) {
                stopAt = i + 1;
                stopZ = pz;
            }
        }
    }
done:
    if (found) {
        ray.px = bx;
        ray.py = by;
        ray.pz = bz;
        ray.t = bt;
        ray.face = bface;
    }
    return found;
}
