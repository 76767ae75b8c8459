#include "terrain/octree.h"

#include "terrain/octree_builder.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

namespace octree_build {

std::vector<NodeTriangle> curve_ordered(const std::vector<Triangle>& triangles, const NodeVec& rootCenter,
                                        const NodeVec& rootHalf, unsigned /*threads*/) {
    std::vector<NodeTriangle> out;
    const std::size_t n = triangles.size();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> order(n);  // (curve key, position)
    for (std::size_t i = 0; i < n; ++i) {
        const Triangle& t = triangles[i];
        const double centre[3] = {(t.a.x + t.b.x + t.c.x) / 3, (t.a.z + t.b.z + t.c.z) / 3,
                                  (t.a.y + t.b.y + t.c.y) / 3};
        std::uint32_t key = 0;
        for (int q = 0; q < 3; ++q) {
            double cell = 0.0;
            if (rootHalf[q] > 0.0) cell = (centre[q] - (rootCenter[q] - rootHalf[q])) / (2 * rootHalf[q]) * 1024.0;
            // Only the memory order depends on the key, so anything odd
            // (a coordinate overflowing to infinity) simply goes to cell 0.
            const auto bits = static_cast<std::uint32_t>(std::isfinite(cell) ? std::clamp(cell, 0.0, 1023.0) : 0.0);
            key |= spread_bits(bits) << (2 - q);
        }
        order[i] = {key, static_cast<std::uint32_t>(i)};
    }
    std::sort(order.begin(), order.end());

    out.resize(n);
    for (std::size_t j = 0; j < n; ++j) {
        const Triangle& t = triangles[order[j].second];
        NodeTriangle& nt = out[j];
        nt.position = order[j].second;
        const Vertex* corners[3] = {&t.a, &t.b, &t.c};
        for (int k = 0; k < 3; ++k) {
            nt.corner[k][0] = corners[k]->x;
            nt.corner[k][1] = corners[k]->z;
            nt.corner[k][2] = corners[k]->y;
        }
        nt.moderate = true;
        for (int q = 0; q < 3; ++q) {
            nt.lo[q] = std::min(nt.corner[0][q], std::min(nt.corner[1][q], nt.corner[2][q]));
            nt.hi[q] = std::max(nt.corner[0][q], std::max(nt.corner[1][q], nt.corner[2][q]));
            for (int k = 0; k < 3; ++k) nt.moderate = nt.moderate && moderate(nt.corner[k][q]);
        }
    }
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

    void leaf(OctreeNode* node, const NodeVec& center, const NodeVec& halfSize, int, const std::uint32_t* positions,
              std::size_t count) {
        set_box(*node, center, halfSize);
        node->isLeaf = 1;
        node->triangleIndices.assign(positions, positions + count);
    }
    void split(OctreeNode* node, const NodeVec& center, const NodeVec& halfSize, int, bool, const NodeVec* childCenters,
               const std::array<std::vector<std::uint32_t>, 8>&, OctreeNode** children) {
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
