#pragma once
#include "app/vec3.h"

#include <array>
#include <cstdint>
#include <vector>

// The terrain model: an indexed triangle mesh in metres, z vertical.

using Vertex = Vec3;

// Three 1-based vertex numbers, as both model files give them.
struct Face {
    std::int32_t v[3] = {0, 0, 0};
};

// A prepared triangle. The list of triangles is sorted by non-increasing
// topZ; the octree and the ray caster rely on that order.
struct Triangle {
    std::array<std::uint32_t, 3> cornerIndices{};  // 0-based positions in vertices
    double topZ = 0.0;                              // largest z of the corners
    std::uint32_t faceIndex = 0;                    // position of the face in faces
    Vertex a, b, c;                                 // corners in the face's order
    Vec3 normal;                                    // (b - a) x (c - a), not normalised
};

struct ModelLimits {
    double minX = 0.0, minY = 0.0, minZ = 0.0;
    double maxX = 0.0, maxY = 0.0, maxZ = 0.0;
};

// All six limits start at the first vertex (the list must not be empty).
ModelLimits compute_limits(const std::vector<Vertex>& vertices);
// Appends one triangle per face, in face order. Indices are not range-tested:
// the loaders guarantee 1..vertices.size().
void generate_mesh(const std::vector<Vertex>& vertices, const std::vector<Face>& faces,
                   std::vector<Triangle>& triangles);
Triangle make_triangle(const Vertex& a, const Vertex& b, const Vertex& c,
                       const std::array<std::uint32_t, 3>& cornerIndices, std::uint32_t faceIndex);
// Greatest topZ first; records with equal topZ may come in any order.
void sort_mesh(std::vector<Triangle>& triangles);
// generate_mesh followed by sort_mesh, the same records in the same order,
// without making the records in face order first.
void generate_sorted_mesh(const std::vector<Vertex>& vertices, const std::vector<Face>& faces,
                          std::vector<Triangle>& triangles);
