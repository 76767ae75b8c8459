#include "terrain/mesh.h"

#include "terrain/height_sort.h"
#include "terrain/huge_pages.h"

#include <algorithm>
#include <cassert>

namespace {

using SortKey = height_sort::Key;  // (topZ, position)

// Greatest topZ first. The order of equal heights is whatever this one
// sort makes of the keys in position order: every caller sorts these very
// keys with it, so that they all give the same order (the library's
// std::sort order, see terrain/height_sort.h).
void sort_keys(std::vector<SortKey>& keys) { height_sort::sort(keys.data(), keys.data() + keys.size()); }

std::array<std::uint32_t, 3> corner_indices(const Face& f) {
    for (const std::int32_t v : f.v) {
        assert(v >= 1 && "the loaders check face numbers");
        (void)v;
    }
    return {static_cast<std::uint32_t>(f.v[0] - 1), static_cast<std::uint32_t>(f.v[1] - 1),
            static_cast<std::uint32_t>(f.v[2] - 1)};
}

}  // namespace

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
        const std::array<std::uint32_t, 3> idx = corner_indices(faces[i]);
        triangles.push_back(make_triangle(vertices[idx[0]], vertices[idx[1]], vertices[idx[2]], idx,
                                          static_cast<std::uint32_t>(i)));
    }
}


void generate_sorted_mesh(const std::vector<Vertex>& vertices, const std::vector<Face>& faces,
                          std::vector<Triangle>& triangles) {
    if (!triangles.empty()) {
        generate_mesh(vertices, faces, triangles);
        sort_mesh(triangles);
        return;
    }
    // The keys sort_mesh would take from generate_mesh's records, worked out
    // from the corners' heights alone (make_triangle's own maximum).
    const std::size_t n = faces.size();
    std::vector<SortKey> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::array<std::uint32_t, 3> idx = corner_indices(faces[i]);
        const double za = vertices[idx[0]].z, zb = vertices[idx[1]].z, zc = vertices[idx[2]].z;
        keys[i] = {std::max(za, std::max(zb, zc)), static_cast<std::uint32_t>(i)};
    }
    sort_keys(keys);
    // Each record made once, where it belongs.
    triangles.reserve(n);
    octree_build::advise_huge_pages(triangles.data(), triangles.capacity() * sizeof(Triangle));
    // The faces are read in height order, scattered: the face some keys
    // ahead is fetched, and the corners of one nearer, whose face is in by
    // then.
    constexpr std::size_t kFaceAhead = 16, kCornersAhead = 8;
    for (std::size_t k = 0; k < n; ++k) {
        if (k + kFaceAhead < n) __builtin_prefetch(&faces[keys[k + kFaceAhead].second]);
        if (k + kCornersAhead < n) {
            const Face& ahead = faces[keys[k + kCornersAhead].second];
            for (const std::int32_t v : ahead.v) {
                // Only a hint; a face number out of range is never read here.
                if (v >= 1 && static_cast<std::size_t>(v) <= vertices.size()) __builtin_prefetch(&vertices[v - 1]);
            }
        }
        const std::uint32_t i = keys[k].second;
        const std::array<std::uint32_t, 3> idx = corner_indices(faces[i]);
        triangles.push_back(make_triangle(vertices[idx[0]], vertices[idx[1]], vertices[idx[2]], idx, i));
    }
}

void sort_mesh(std::vector<Triangle>& triangles) {
    // Sorting the big records directly moves each one many times; sort small
    // (topZ, position) keys instead, then copy every record once.
    const std::size_t n = triangles.size();
    std::vector<SortKey> keys(n);
    for (std::size_t i = 0; i < n; ++i) keys[i] = {triangles[i].topZ, static_cast<std::uint32_t>(i)};
    sort_keys(keys);

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
