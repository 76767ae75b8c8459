#include "terrain/mesh.h"

#include "terrain/huge_pages.h"

#include <algorithm>
#include <cassert>

ModelLimits compute_limits(const std::vector<Vertex>& vertices) {
    ModelLimits l;
    const Vertex& first = vertices.front();
    l.minX = l.maxX = first.x;
    l.minY = l.maxY = first.y;
    l.minZ = l.maxZ = first.z;
    // ">=" for the maxima and a strict ">" for the minima: with plain doubles
    // the result is the same either way, but a -0.0 after a 0.0 (or the
    // reverse) ends up where these comparisons put it, and the log shows it.
    for (const Vertex& v : vertices) {
        if (v.x >= l.maxX) l.maxX = v.x;
        if (l.minX > v.x) l.minX = v.x;
        if (v.y >= l.maxY) l.maxY = v.y;
        if (l.minY > v.y) l.minY = v.y;
        if (v.z >= l.maxZ) l.maxZ = v.z;
        if (l.minZ > v.z) l.minZ = v.z;
    }
    return l;
}

Triangle make_triangle(const Vertex& a, const Vertex& b, const Vertex& c,
                       const std::array<std::uint32_t, 3>& cornerIndices, std::uint32_t faceIndex) {
    Triangle t;
    t.cornerIndices = cornerIndices;
    t.faceIndex = faceIndex;
    t.a = a;
    t.b = b;
    t.c = c;
    t.topZ = std::max(a.z, std::max(b.z, c.z));
    const Vec3 e1 = b - a;
    const Vec3 e2 = c - a;
    // (b - a) x (c - a), written out term by term in this order: the ray
    // caster's results depend on the exact rounding of these products.
    t.normal.x = e1.y * e2.z - e2.y * e1.z;
    t.normal.y = e1.z * e2.x - e2.z * e1.x;
    t.normal.z = e2.y * e1.x - e1.y * e2.x;
    return t;
}

void generate_mesh(const std::vector<Vertex>& vertices, const std::vector<Face>& faces,
                   std::vector<Triangle>& triangles) {
    if (triangles.capacity() < triangles.size() + faces.size()) {
        triangles.reserve(triangles.size() + faces.size());
        octree_build::advise_huge_pages(triangles.data(), triangles.capacity() * sizeof(Triangle));
    }
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const Face& f = faces[i];
        for (const std::int32_t v : f.v) {
            assert(v >= 1 && static_cast<std::size_t>(v) <= vertices.size() && "the loaders check face numbers");
            (void)v;
        }
        const std::array<std::uint32_t, 3> idx = {static_cast<std::uint32_t>(f.v[0] - 1),
                                                  static_cast<std::uint32_t>(f.v[1] - 1),
                                                  static_cast<std::uint32_t>(f.v[2] - 1)};
        triangles.push_back(make_triangle(vertices[idx[0]], vertices[idx[1]], vertices[idx[2]], idx,
                                          static_cast<std::uint32_t>(i)));
    }
}

void sort_mesh(std::vector<Triangle>& triangles) {
    // Sorting the big records directly moves each one many times; sort small
    // (topZ, position) keys instead, then copy every record once.
    const std::size_t n = triangles.size();
    std::vector<std::pair<double, std::uint32_t>> keys(n);
    for (std::size_t i = 0; i < n; ++i) keys[i] = {triangles[i].topZ, static_cast<std::uint32_t>(i)};
    std::sort(keys.begin(), keys.end(), [](const auto& l, const auto& r) { return l.first > r.first; });

    // The records are read out of order: the one a few keys ahead is
    // fetched while this one is copied.
    std::vector<Triangle> sorted;
    sorted.reserve(n);
    constexpr std::size_t ahead = 12;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + ahead < n) {
            const char* next = reinterpret_cast<const char*>(&triangles[keys[i + ahead].second]);
            __builtin_prefetch(next);
            __builtin_prefetch(next + 64);
        }
        sorted.push_back(std::move(triangles[keys[i].second]));
    }
    triangles.swap(sorted);
}
