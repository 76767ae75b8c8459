#include "terrain/octree.h"

#include "terrain/octree_builder.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace octree_build {

NodeTriangles curve_ordered(const std::vector<Triangle>& triangles, const NodeVec& rootCenter, const NodeVec& rootHalf,
                            unsigned threads) {
    const std::size_t n = triangles.size();
    // (curve key << 32) | position, sorted by key; equal keys keep position
    // order.
    BigVector<std::uint64_t> order(n), spare(n);
    // The cell of the corners' sum, three times the centre, on a grid of
    // 1024 cells per axis over the root box (products rather than
    // quotients: only the memory order depends on the key).
    double low[3], scale[3];
    for (int q = 0; q < 3; ++q) {
        low[q] = 3 * (rootCenter[q] - rootHalf[q]);
        scale[q] = rootHalf[q] > 0.0 ? 1024.0 / (6 * rootHalf[q]) : 0.0;
    }
    for_ranges(n, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const Triangle& t = triangles[i];
            const double sum[3] = {t.a.x + t.b.x + t.c.x, t.a.z + t.b.z + t.c.z, t.a.y + t.b.y + t.c.y};
            std::uint32_t key = 0;
            for (int q = 0; q < 3; ++q) {
                const double cell = (sum[q] - low[q]) * scale[q];
                // Only the memory order depends on the key, so anything odd
                // (a coordinate overflowing to infinity) simply goes to cell 0.
                const auto bits =
                    static_cast<std::uint32_t>(std::isfinite(cell) ? std::clamp(cell, 0.0, 1023.0) : 0.0);
                key |= spread_bits(bits) << (2 - q);
            }
            order[i] = (std::uint64_t{key} << 32) | i;
        }
    });
    // Radix sort of the 30-bit keys, ten bits a pass; each pass is stable.
    // The three passes' counts are taken in one go.
    std::vector<std::size_t> starts(3 * 1025, 0);
    for (const std::uint64_t v : order)
        for (int pass = 0; pass < 3; ++pass) ++starts[pass * 1025 + ((v >> (32 + 10 * pass)) & 1023) + 1];
    for (int pass = 0; pass < 3; ++pass) {
        std::size_t* start = starts.data() + pass * 1025;
        const int shift = 32 + 10 * pass;
        for (int b = 0; b < 1024; ++b) start[b + 1] += start[b];
        for (const std::uint64_t v : order) spare[start[(v >> shift) & 1023]++] = v;
        order.swap(spare);
    }
    spare = BigVector<std::uint64_t>();

    NodeTriangles out{BigVector<NodeBounds>(n), BigVector<NodeCorners>(n)};
    for_ranges(n, threads, [&](std::size_t begin, std::size_t end) {
        constexpr std::size_t ahead = 12;
        for (std::size_t j = begin; j < end; ++j) {
            if (j + ahead < end) {
                const char* next = reinterpret_cast<const char*>(&triangles[order[j + ahead] & 0xffffffffu]);
                __builtin_prefetch(next);
                __builtin_prefetch(next + 64);
            }
            const auto position = static_cast<std::uint32_t>(order[j]);
            const Triangle& t = triangles[position];
            NodeBounds& nb = out.bounds[j];
            NodeCorners& nc = out.corners[j];
            nb.position = position;
            const Vertex* corners[3] = {&t.a, &t.b, &t.c};
            for (int k = 0; k < 3; ++k) {
                nc.corner[k][0] = corners[k]->x;
                nc.corner[k][1] = corners[k]->z;
                nc.corner[k][2] = corners[k]->y;
            }
            bool moderateCorners = true;
            for (int q = 0; q < 3; ++q) {
                nb.lo[q] = std::min(nc.corner[0][q], std::min(nc.corner[1][q], nc.corner[2][q]));
                nb.hi[q] = std::max(nc.corner[0][q], std::max(nc.corner[1][q], nc.corner[2][q]));
                for (int k = 0; k < 3; ++k) moderateCorners = moderateCorners && moderate(nc.corner[k][q]);
            }
            nb.moderate = moderateCorners ? 1u : 0u;
        }
    });
    return out;
}

}  // namespace octree_build

namespace {

// Records the nodes as OctreeNode records.
class PointerSink {
public:
    using Handle = OctreeNode*;
    PointerSink() = default;
    explicit PointerSink(OctreeNode* top) : top_(top) {}
    OctreeNode* top() const { return top_; }
    bool ignores(OctreeNode*) const { return false; }  // every node is made

    void leaf(OctreeNode* node, const NodeVec& center, const NodeVec& halfSize, int, const std::uint32_t* positions,
              std::size_t count) {
        set_box(*node, center, halfSize);
        node->isLeaf = 1;
        node->triangleIndices.assign(positions, positions + count);
    }
    void split(OctreeNode* node, const NodeVec& center, const NodeVec& halfSize, int, bool, const NodeVec* childCenters,
               const std::array<octree_build::IndexList, 8>&, OctreeNode** children) {
        set_box(*node, center, halfSize);
        node->isLeaf = 0;
        node->triangleIndices.clear();
        for (int k = 0; k < 8; ++k) {
            node->children[k] = std::make_unique<OctreeNode>();
            node->children[k]->parent = node;
            node->children[k]->center = childCenters[k];
            children[k] = node->children[k].get();
        }
    }
    PointerSink part(OctreeNode* child) const { return PointerSink(child); }
    void join(std::array<PointerSink, 8>&) {}
    void restart() {
        for (auto& child : top_->children) child.reset();
    }

private:
    static void set_box(OctreeNode& node, const NodeVec& center, const NodeVec& halfSize) {
        node.center = center;
        node.halfSize = halfSize;
        for (int q = 0; q < 3; ++q) {
            node.maxCorner[q] = center[q] + halfSize[q];
            node.minCorner[q] = center[q] - halfSize[q];
        }
    }

    OctreeNode* top_ = nullptr;
};

}  // namespace

bool tri_box_overlap(const NodeVec& center, const NodeVec& halfSize, const std::array<NodeVec, 3>& corners) {
    return octree_build::overlap_impl(center.data(), halfSize.data(), corners[0].data(), corners[1].data(),
                                      corners[2].data());
}

void create_octree(const std::vector<Triangle>& triangles, OctreeNode& root, const Vec3& maxCorner,
                   const Vec3& minCorner, unsigned threads) {
    NodeVec center, halfSize;
    octree_build::root_box(maxCorner, minCorner, center, halfSize);
    if (threads == 0) threads = std::thread::hardware_concurrency();
    threads = std::min(threads, 8u);
    root.parent = nullptr;
    PointerSink sink(&root);
    octree_build::Builder<PointerSink> builder(triangles, center, halfSize, threads);
    builder.build_root(sink, center, halfSize, threads);
}
