#pragma once
// What every successful load must leave behind, checked after each fuzz input
// that loads: faces inside the vertex list, one triangle per face sorted by
// height, limits that hold every vertex, the cast tree kept with the model,
// and an octree (built again here from the prepared triangles, as the load
// builds it) whose leaves list valid triangles in ascending order.
#include "app/simulation_data.h"
#include "fuzz_support.h"

#include <cmath>
#include <string>

namespace fuzz {

inline void check_node(const OctreeNode& node, std::size_t triangleCount, int depth) {
    FUZZ_CHECK(depth <= kMaxOctreeDepth);
    if (node.isLeaf) {
        for (std::size_t i = 0; i < node.triangleIndices.size(); ++i) {
            FUZZ_CHECK(node.triangleIndices[i] < triangleCount);
            if (i != 0) FUZZ_CHECK(node.triangleIndices[i - 1] < node.triangleIndices[i]);
        }
        return;
    }
    for (const auto& child : node.children) {
        FUZZ_CHECK(child != nullptr);
        FUZZ_CHECK(child->parent == &node);
        check_node(*child, triangleCount, depth + 1);
    }
}

inline void check_loaded_model(const SimulationData& data) {
    FUZZ_CHECK(!data.vertices.empty());
    const auto nV = static_cast<std::int64_t>(data.vertices.size());
    for (const Face& f : data.faces)
        for (std::int32_t v : f.v) FUZZ_CHECK(v >= 1 && v <= nV, std::to_string(v));
    FUZZ_CHECK(data.triangles.size() == data.faces.size());
    for (std::size_t i = 1; i < data.triangles.size(); ++i) {
        const double a = data.triangles[i - 1].topZ, b = data.triangles[i].topZ;
        // NaN heights have no order; the others must not increase.
        if (!std::isnan(a) && !std::isnan(b)) FUZZ_CHECK(!(a < b));
    }
    for (const Vertex& v : data.vertices) {
        if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z)) continue;
        FUZZ_CHECK(v.x >= data.minX && v.x <= data.maxX);
        FUZZ_CHECK(v.y >= data.minY && v.y <= data.maxY);
        FUZZ_CHECK(v.z >= data.minZ && v.z <= data.maxZ);
    }
    // The load keeps only the cast's compact copy of the tree.
    FUZZ_CHECK(data.castTree != nullptr && data.octreeRoot == nullptr);
    OctreeNode root;
    create_octree(data.triangles, root, Vec3{data.maxX, data.maxY, data.maxZ}, Vec3{data.minX, data.minY, data.minZ});
    check_node(root, data.triangles.size(), 0);
}

// After a refused load nothing of the model may stay.
inline void check_no_model(const SimulationData& data) {
    FUZZ_CHECK(data.vertices.empty() && data.faces.empty() && data.triangles.empty() && !data.octreeRoot &&
               !data.castTree);
}

}  // namespace fuzz
