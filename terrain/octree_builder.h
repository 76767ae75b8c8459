#pragma once
// The octree's splitting rule, shared by the two trees made from it: the
// pointer octree of create_octree (terrain/octree.h) and the cast's flat
// copy that CastTree builds straight from the triangles (lidar/cast_tree.h).
// The builder decides which nodes split and what each leaf lists; a sink
// records the nodes in its own layout. Both trees therefore have the same
// boxes, the same leaves and the same lists in the same order.
#include "terrain/huge_pages.h"
#include "terrain/octree.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <emmintrin.h>
#include <immintrin.h>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace octree_build {


// The triangle/box overlap test of Tomas Akenine-Moeller (2001), on the box
// centre, its half sizes and the three corners, all in node axis order.
// Every comparison is strict, so a triangle that only touches the box (also a
// box of zero thickness) overlaps it. The separating axes are tested in a
// different order from the published code (box axes first, they reject most
// triangles at once); each test is computed exactly as published, and the
// result does not depend on the order.
// With BoundsKnown the box-axis tests are left out: the caller has made
// exactly those comparisons already.
template <bool BoundsKnown = false>
inline bool overlap_impl(const double* c, const double* h, const double* va, const double* vb, const double* vc) {
    // Corners relative to the box centre.
    const double v0[3] = {va[0] - c[0], va[1] - c[1], va[2] - c[2]};
    const double v1[3] = {vb[0] - c[0], vb[1] - c[1], vb[2] - c[2]};
    const double v2[3] = {vc[0] - c[0], vc[1] - c[1], vc[2] - c[2]};

    // The three box axes.
    for (int q = 0; q < 3 && !BoundsKnown; ++q) {
        double mn = v0[q], mx = v0[q];
        if (v1[q] < mn) mn = v1[q];
        if (v1[q] > mx) mx = v1[q];
        if (v2[q] < mn) mn = v2[q];
        if (v2[q] > mx) mx = v2[q];
        if (mn > h[q] || mx < -h[q]) return false;
    }

    const double e0[3] = {v1[0] - v0[0], v1[1] - v0[1], v1[2] - v0[2]};
    const double e1[3] = {v2[0] - v1[0], v2[1] - v1[1], v2[2] - v1[2]};
    const double e2[3] = {v0[0] - v2[0], v0[1] - v2[1], v0[2] - v2[2]};

    // One separating-axis test: the corners projected on (box axis x edge)
    // give pa and pb (the third corner projects onto one of them), the box
    // projects to [-rad, rad].
    auto separated = [](double pa, double pb, double rad) {
        const double mn = pa < pb ? pa : pb;
        const double mx = pa < pb ? pb : pa;
        return mn > rad || mx < -rad;
    };

    // Edge e0: axes x, y, z with corners 0 and 2, 0 and 2, 1 and 2.
    {
        const double fex = std::fabs(e0[0]), fey = std::fabs(e0[1]), fez = std::fabs(e0[2]);
        double a = e0[2], b = e0[1];
        if (separated(a * v0[1] - b * v0[2], a * v2[1] - b * v2[2], fez * h[1] + fey * h[2])) return false;
        a = e0[2], b = e0[0];
        if (separated(-a * v0[0] + b * v0[2], -a * v2[0] + b * v2[2], fez * h[0] + fex * h[2])) return false;
        a = e0[1], b = e0[0];
        if (separated(a * v1[0] - b * v1[1], a * v2[0] - b * v2[1], fey * h[0] + fex * h[1])) return false;
    }
    // Edge e1: corners 0 and 2, 0 and 2, 0 and 1.
    {
        const double fex = std::fabs(e1[0]), fey = std::fabs(e1[1]), fez = std::fabs(e1[2]);
        double a = e1[2], b = e1[1];
        if (separated(a * v0[1] - b * v0[2], a * v2[1] - b * v2[2], fez * h[1] + fey * h[2])) return false;
        a = e1[2], b = e1[0];
        if (separated(-a * v0[0] + b * v0[2], -a * v2[0] + b * v2[2], fez * h[0] + fex * h[2])) return false;
        a = e1[1], b = e1[0];
        if (separated(a * v0[0] - b * v0[1], a * v1[0] - b * v1[1], fey * h[0] + fex * h[1])) return false;
    }
    // Edge e2: corners 0 and 1, 0 and 1, 1 and 2.
    {
        const double fex = std::fabs(e2[0]), fey = std::fabs(e2[1]), fez = std::fabs(e2[2]);
        double a = e2[2], b = e2[1];
        if (separated(a * v0[1] - b * v0[2], a * v1[1] - b * v1[2], fez * h[1] + fey * h[2])) return false;
        a = e2[2], b = e2[0];
        if (separated(-a * v0[0] + b * v0[2], -a * v1[0] + b * v1[2], fez * h[0] + fex * h[2])) return false;
        a = e2[1], b = e2[0];
        if (separated(a * v1[0] - b * v1[1], a * v2[0] - b * v2[1], fey * h[0] + fex * h[1])) return false;
    }

    // The triangle's plane, normal e0 x e1, against the box corners nearest
    // and farthest along the normal.
    const double n[3] = {e0[1] * e1[2] - e0[2] * e1[1], e0[2] * e1[0] - e0[0] * e1[2],
                         e0[0] * e1[1] - e0[1] * e1[0]};
    double vmin[3], vmax[3];
    for (int q = 0; q < 3; ++q) {
        if (n[q] > 0.0) {
            vmin[q] = -h[q] - v0[q];
            vmax[q] = h[q] - v0[q];
        } else {
            vmin[q] = h[q] - v0[q];
            vmax[q] = -h[q] - v0[q];
        }
    }
    if (n[0] * vmin[0] + n[1] * vmin[1] + n[2] * vmin[2] > 0.0) return false;
    return n[0] * vmax[0] + n[1] * vmax[1] + n[2] * vmax[2] >= 0.0;
}

// overlap_impl<true> for two triangles (corners t0[0..2] and t1[0..2], often
// the same one) and two boxes of the same half sizes (centres c0 and c1),
// one triangle and box per SSE2 lane. Each lane makes exactly the
// operations of overlap_impl, in the same order and with the same
// rounding, so each lane's answer is overlap_impl's; the tests are all made
// (overlap_impl's early exits only save work, they never change its
// answer). Bit 0 of the result is the answer for c0, bit 1 for c1.
inline unsigned overlap_pair(const double* c0, const double* c1, const double* h, const double* const* t0,
                             const double* const* t1) {
    const __m128d sign = _mm_set1_pd(-0.0);
    const auto neg = [sign](__m128d x) { return _mm_xor_pd(x, sign); };
    const auto abs = [sign](__m128d x) { return _mm_andnot_pd(sign, x); };
    const auto mul = [](__m128d x, __m128d y) { return _mm_mul_pd(x, y); };
    const auto add = [](__m128d x, __m128d y) { return _mm_add_pd(x, y); };
    const auto sub = [](__m128d x, __m128d y) { return _mm_sub_pd(x, y); };
    __m128d v0[3], v1[3], v2[3], hh[3];
    for (int q = 0; q < 3; ++q) {
        const __m128d c = _mm_set_pd(c1[q], c0[q]);  // lane 0: c0
        v0[q] = sub(_mm_set_pd(t1[0][q], t0[0][q]), c);
        v1[q] = sub(_mm_set_pd(t1[1][q], t0[1][q]), c);
        v2[q] = sub(_mm_set_pd(t1[2][q], t0[2][q]), c);
        hh[q] = _mm_set1_pd(h[q]);
    }
    __m128d e0[3], e1[3], e2[3];
    for (int q = 0; q < 3; ++q) {
        e0[q] = sub(v1[q], v0[q]);
        e1[q] = sub(v2[q], v1[q]);
        e2[q] = sub(v0[q], v2[q]);
    }
    __m128d apart = _mm_setzero_pd();
    const auto separated = [&](__m128d pa, __m128d pb, __m128d rad) {
        const __m128d mn = _mm_min_pd(pa, pb);  // pa < pb ? pa : pb
        const __m128d mx = _mm_max_pd(pb, pa);  // pb > pa ? pb : pa, i.e. pa < pb ? pb : pa
        apart = _mm_or_pd(apart, _mm_or_pd(_mm_cmpgt_pd(mn, rad), _mm_cmplt_pd(mx, neg(rad))));
    };
    // The edge axes: x with a = e[2], b = e[1]; y with a = e[2], b = e[0];
    // z with a = e[1], b = e[0]; the corners per edge as in overlap_impl.
    const auto axes = [&](const __m128d* e, const __m128d* pX, const __m128d* qX, const __m128d* pY,
                          const __m128d* qY, const __m128d* pZ, const __m128d* qZ) {
        const __m128d fex = abs(e[0]), fey = abs(e[1]), fez = abs(e[2]);
        __m128d a = e[2], b = e[1];
        separated(sub(mul(a, pX[1]), mul(b, pX[2])), sub(mul(a, qX[1]), mul(b, qX[2])),
                  add(mul(fez, hh[1]), mul(fey, hh[2])));
        a = e[2], b = e[0];
        separated(add(mul(neg(a), pY[0]), mul(b, pY[2])), add(mul(neg(a), qY[0]), mul(b, qY[2])),
                  add(mul(fez, hh[0]), mul(fex, hh[2])));
        a = e[1], b = e[0];
        separated(sub(mul(a, pZ[0]), mul(b, pZ[1])), sub(mul(a, qZ[0]), mul(b, qZ[1])),
                  add(mul(fey, hh[0]), mul(fex, hh[1])));
    };
    axes(e0, v0, v2, v0, v2, v1, v2);
    axes(e1, v0, v2, v0, v2, v0, v1);
    axes(e2, v0, v1, v0, v1, v1, v2);

    const __m128d n[3] = {sub(mul(e0[1], e1[2]), mul(e0[2], e1[1])), sub(mul(e0[2], e1[0]), mul(e0[0], e1[2])),
                          sub(mul(e0[0], e1[1]), mul(e0[1], e1[0]))};
    __m128d vmin[3], vmax[3];
    for (int q = 0; q < 3; ++q) {
        const __m128d up = _mm_cmpgt_pd(n[q], _mm_setzero_pd());
        const __m128d lower = sub(neg(hh[q]), v0[q]), upper = sub(hh[q], v0[q]);
        vmin[q] = _mm_or_pd(_mm_and_pd(up, lower), _mm_andnot_pd(up, upper));
        vmax[q] = _mm_or_pd(_mm_and_pd(up, upper), _mm_andnot_pd(up, lower));
    }
    const __m128d dmin = add(add(mul(n[0], vmin[0]), mul(n[1], vmin[1])), mul(n[2], vmin[2]));
    const __m128d dmax = add(add(mul(n[0], vmax[0]), mul(n[1], vmax[1])), mul(n[2], vmax[2]));
    apart = _mm_or_pd(apart, _mm_cmpgt_pd(dmin, _mm_setzero_pd()));
    return static_cast<unsigned>(_mm_movemask_pd(_mm_andnot_pd(apart, _mm_cmpge_pd(dmax, _mm_setzero_pd()))));
}

// overlap_pair four at a time, one triangle and box per AVX lane (lane i:
// box centre c[i], corners t[i][0..2]); bit i of the result is lane i's
// answer. The same operations in the same order as overlap_pair (and
// without fused multiply-adds: only AVX is asked for), so the same
// answers. Call only where has_avx().
#define POINTFALL_AVX __attribute__((target("avx"), always_inline)) inline
namespace avx {
POINTFALL_AVX __m256d lanes(double l0, double l1, double l2, double l3) { return _mm256_set_pd(l3, l2, l1, l0); }
POINTFALL_AVX __m256d neg(__m256d x) { return _mm256_xor_pd(x, _mm256_set1_pd(-0.0)); }
POINTFALL_AVX __m256d abs(__m256d x) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), x); }
POINTFALL_AVX __m256d mul(__m256d x, __m256d y) { return _mm256_mul_pd(x, y); }
POINTFALL_AVX __m256d add(__m256d x, __m256d y) { return _mm256_add_pd(x, y); }
POINTFALL_AVX __m256d sub(__m256d x, __m256d y) { return _mm256_sub_pd(x, y); }
// The lanes where the projections pa and pb of the corners lie wholly
// beyond [-rad, rad].
POINTFALL_AVX __m256d separated(__m256d pa, __m256d pb, __m256d rad) {
    const __m256d mn = _mm256_min_pd(pa, pb);  // pa < pb ? pa : pb
    const __m256d mx = _mm256_max_pd(pb, pa);  // pb > pa ? pb : pa
    return _mm256_or_pd(_mm256_cmp_pd(mn, rad, _CMP_GT_OQ), _mm256_cmp_pd(mx, neg(rad), _CMP_LT_OQ));
}
// The three edge axes of one edge e, as in overlap_pair's axes().
POINTFALL_AVX __m256d edge_axes(const __m256d* e, const __m256d* hh, const __m256d* pX, const __m256d* qX,
                                const __m256d* pY, const __m256d* qY, const __m256d* pZ, const __m256d* qZ) {
    const __m256d fex = abs(e[0]), fey = abs(e[1]), fez = abs(e[2]);
    __m256d a = e[2], b = e[1];
    __m256d apart = separated(sub(mul(a, pX[1]), mul(b, pX[2])), sub(mul(a, qX[1]), mul(b, qX[2])),
                              add(mul(fez, hh[1]), mul(fey, hh[2])));
    a = e[2], b = e[0];
    apart = _mm256_or_pd(apart, separated(add(mul(neg(a), pY[0]), mul(b, pY[2])),
                                          add(mul(neg(a), qY[0]), mul(b, qY[2])), add(mul(fez, hh[0]), mul(fex, hh[2]))));
    a = e[1], b = e[0];
    return _mm256_or_pd(apart, separated(sub(mul(a, pZ[0]), mul(b, pZ[1])), sub(mul(a, qZ[0]), mul(b, qZ[1])),
                                         add(mul(fey, hh[0]), mul(fex, hh[1]))));
}
}  // namespace avx

__attribute__((target("avx"))) inline unsigned overlap_quad(const double* const* c, const double* h,
                                                             const double* const (*t)[3]) {
    using namespace avx;
    __m256d v0[3], v1[3], v2[3], hh[3];
    for (int q = 0; q < 3; ++q) {
        const __m256d cq = lanes(c[0][q], c[1][q], c[2][q], c[3][q]);
        v0[q] = sub(lanes(t[0][0][q], t[1][0][q], t[2][0][q], t[3][0][q]), cq);
        v1[q] = sub(lanes(t[0][1][q], t[1][1][q], t[2][1][q], t[3][1][q]), cq);
        v2[q] = sub(lanes(t[0][2][q], t[1][2][q], t[2][2][q], t[3][2][q]), cq);
        hh[q] = _mm256_set1_pd(h[q]);
    }
    __m256d e0[3], e1[3], e2[3];
    for (int q = 0; q < 3; ++q) {
        e0[q] = sub(v1[q], v0[q]);
        e1[q] = sub(v2[q], v1[q]);
        e2[q] = sub(v0[q], v2[q]);
    }
    __m256d apart = edge_axes(e0, hh, v0, v2, v0, v2, v1, v2);
    apart = _mm256_or_pd(apart, edge_axes(e1, hh, v0, v2, v0, v2, v0, v1));
    apart = _mm256_or_pd(apart, edge_axes(e2, hh, v0, v1, v0, v1, v1, v2));

    const __m256d n[3] = {sub(mul(e0[1], e1[2]), mul(e0[2], e1[1])), sub(mul(e0[2], e1[0]), mul(e0[0], e1[2])),
                          sub(mul(e0[0], e1[1]), mul(e0[1], e1[0]))};
    __m256d vmin[3], vmax[3];
    for (int q = 0; q < 3; ++q) {
        const __m256d up = _mm256_cmp_pd(n[q], _mm256_setzero_pd(), _CMP_GT_OQ);
        const __m256d lower = sub(neg(hh[q]), v0[q]), upper = sub(hh[q], v0[q]);
        vmin[q] = _mm256_blendv_pd(upper, lower, up);
        vmax[q] = _mm256_blendv_pd(lower, upper, up);
    }
    const __m256d dmin = add(add(mul(n[0], vmin[0]), mul(n[1], vmin[1])), mul(n[2], vmin[2]));
    const __m256d dmax = add(add(mul(n[0], vmax[0]), mul(n[1], vmax[1])), mul(n[2], vmax[2]));
    apart = _mm256_or_pd(apart, _mm256_cmp_pd(dmin, _mm256_setzero_pd(), _CMP_GT_OQ));
    return static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_andnot_pd(apart, _mm256_cmp_pd(dmax, _mm256_setzero_pd(), _CMP_GE_OQ))));
}
#undef POINTFALL_AVX

// Whether this processor (and its system) runs AVX code.
inline bool has_avx() {
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
}

// The builder's copy of a triangle, in node axis order (x, z, y), in two
// arrays: the bounds of its corners and its position in the triangle list,
// which every split reads, one cache line each; and the corners, read only
// when a box is not surely overlapped. The splits of the upper levels go
// through every triangle and, mostly, stream only the first array.
struct alignas(64) NodeBounds {
    double lo[3], hi[3];
    std::uint32_t position;
    std::uint32_t moderate;  // every corner coordinate moderate() (see below)
};
struct NodeCorners {
    double corner[3][3];
};
struct NodeTriangles {
    BigVector<NodeBounds> bounds;
    BigVector<NodeCorners> corners;
};

// 0, or a size from 2^-248 to 2^200. Such numbers are multiples of 2^-300,
// and so are their differences; in the overlap test, differences,
// products and sums of them then never come near the subnormal range or
// overflow, and round with a relative error of at most 2^-53.
inline bool moderate(double v) {
    const double a = std::fabs(v);
    return a == 0.0 || (a >= 0x1p-248 && a <= 0x1p200);
}

// Whether overlap_impl<true> must say yes without being asked: the
// triangle's bounds lie inside the box shrunk by a factor 1 - 2^-20 on
// every axis, and the numbers are moderate. In exact arithmetic a
// triangle inside the box overlaps it; the margin keeps that so after
// rounding. On each edge axis the corners project to |p| <= (|a| h1 +
// |b| h2) (1 - 2^-20)(1 + 2^-53)^3, strictly below the computed box radius
// (|a| h1 + |b| h2)(1 - 2^-53)^2 (or both are 0, which is no separation);
// on the plane test every term of the nearest corner's dot product is <= 0
// and of the farthest one >= 0, signs that rounding keeps.
inline bool surely_overlaps(const NodeBounds& t, const double* c, const double* shrunk) {
    return t.lo[0] - c[0] >= -shrunk[0] && t.hi[0] - c[0] <= shrunk[0] &&  //
           t.lo[1] - c[1] >= -shrunk[1] && t.hi[1] - c[1] <= shrunk[1] &&  //
           t.lo[2] - c[2] >= -shrunk[2] && t.hi[2] - c[2] <= shrunk[2];
}

// Spreads the low 10 bits of v to every third bit.
inline std::uint32_t spread_bits(std::uint32_t v) {
    v &= 0x3ffu;
    v = (v | (v << 16)) & 0x030000ffu;
    v = (v | (v << 8)) & 0x0300f00fu;
    v = (v | (v << 4)) & 0x030c30c3u;
    v = (v | (v << 2)) & 0x09249249u;
    return v;
}

// Runs f(run, begin, end) over [0, n) cut into `runs` runs of equal size
// (the last may be shorter or empty), each on a thread of its own; the
// caller's thread takes run 0.
template <class F>
inline void for_runs(std::size_t n, unsigned runs, const F& f) {
    const std::size_t step = (n + runs - 1) / std::max(runs, 1u);
    std::vector<std::thread> helpers;
    for (unsigned r = 1; r < runs; ++r) {
        const std::size_t begin = std::min(n, r * step), end = std::min(n, begin + step);
        helpers.emplace_back([&f, r, begin, end] { f(r, begin, end); });
    }
    f(0u, std::size_t{0}, std::min(n, step));
    for (std::thread& t : helpers) t.join();
}

// Runs f(begin, end) over [0, n), cut into one run per thread when that
// pays.
template <class F>
inline void for_ranges(std::size_t n, unsigned threads, const F& f) {
    if (threads <= 1 || n < 4096) {
        f(std::size_t{0}, n);
        return;
    }
    for_runs(n, threads, [&f](unsigned, std::size_t begin, std::size_t end) { f(begin, end); });
}

// A node's list of triangles (positions in the builder's copy). Room for
// a whole run is made first and the entries are then written through a
// pointer, so the loop that fills the lists never checks their capacity;
// the room is not initialised (a list is reused by every node of its
// depth, and only what is written is read).
class IndexList {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::uint32_t* data() const { return data_.get(); }
    std::uint32_t operator[](std::size_t i) const { return data_[i]; }
    const std::uint32_t* begin() const { return data_.get(); }
    const std::uint32_t* end() const { return data_.get() + size_; }
    void clear() { size_ = 0; }
    // Where the next `count` entries go.
    std::uint32_t* room(std::size_t count) {
        if (size_ + count > capacity_) {
            const std::size_t capacity = std::max(size_ + count, 2 * capacity_);
            std::unique_ptr<std::uint32_t[]> grown(new std::uint32_t[capacity]);
            std::copy(data_.get(), data_.get() + size_, grown.get());
            data_ = std::move(grown);
            capacity_ = capacity;
        }
        return data_.get() + size_;
    }
    // The entries written from room() up to `end` are now part of the list.
    void commit(const std::uint32_t* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
    void append(const IndexList& other) {
        std::uint32_t* out = room(other.size_);
        commit(std::copy(other.begin(), other.end(), out));
    }

private:
    std::unique_ptr<std::uint32_t[]> data_;
    std::size_t size_ = 0, capacity_ = 0;
};

// Sorts a list of distinct numbers (a leaf's list positions: a triangle is
// listed once per node). A short list, as most leaves have, is sorted by
// rank, each number's rank being how many are smaller: comparisons without
// branches, four at a time (`spare` holds the result on the way).
inline void sort_distinct(std::vector<std::uint32_t>& v, std::vector<std::uint32_t>& spare) {
    const std::size_t n = v.size();
    if (n > 32) {
        std::sort(v.begin(), v.end());
        return;
    }
    // Padded to whole vectors with the largest number, which no rank counts
    // (the comparison is strict), on a scale shifted for signed comparison.
    alignas(16) std::int32_t keys[32];
    const std::size_t padded = (n + 3) & ~std::size_t{3};
    for (std::size_t i = 0; i < n; ++i) keys[i] = static_cast<std::int32_t>(v[i] ^ 0x80000000u);
    for (std::size_t i = n; i < padded; ++i) keys[i] = 0x7fffffff;
    spare.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const __m128i key = _mm_set1_epi32(keys[i]);
        __m128i below = _mm_setzero_si128();
        for (std::size_t j = 0; j < padded; j += 4)
            below = _mm_sub_epi32(below, _mm_cmplt_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(keys + j)), key));
        below = _mm_add_epi32(below, _mm_shuffle_epi32(below, 0x4e));
        below = _mm_add_epi32(below, _mm_shuffle_epi32(below, 0xb1));
        spare[static_cast<std::size_t>(_mm_cvtsi128_si32(below))] = v[i];
    }
    v.swap(spare);
}

// Scratch room that keeps its size from use to use and is not
// initialised.
template <class T>
class Scratch {
public:
    T* get(std::size_t count) {
        if (count > capacity_) {
            capacity_ = std::max(count, 2 * capacity_);
            data_.reset(new T[capacity_]);
        }
        return data_.get();
    }

private:
    std::unique_ptr<T[]> data_;
    std::size_t capacity_ = 0;
};

// The children in each mask of children, in order (padded with 0), and
// their number.
struct MaskChildren {
    alignas(16) std::uint32_t child[256][8];
    std::uint8_t count[256];
    MaskChildren() {
        for (unsigned m = 0; m < 256; ++m) {
            unsigned n = 0;
            for (unsigned k = 0; k < 8; ++k) child[m][k] = 0;
            for (unsigned k = 0; k < 8; ++k)
                if ((m >> k) & 1) child[m][n++] = k;
            count[m] = static_cast<std::uint8_t>(n);
        }
    }
};
inline const MaskChildren kMaskChildren;

// What split_run keeps between its passes over a run: per triangle the
// children decided so far, and the (triangle, child) pairs still to test.
struct RunScratch {
    Scratch<std::uint8_t> taken;
    Scratch<std::uint32_t> tests;  // run position * 8 + child
};

// The root box: 1.2 times the model's extent, centred on it, in node axis
// order (x, z, y).
inline void root_box(const Vec3& maxCorner, const Vec3& minCorner, NodeVec& center, NodeVec& halfSize) {
    const Vec3 c = (maxCorner + minCorner) * 0.5;
    const Vec3 h = (maxCorner - minCorner) * 0.6;
    center = {c.x, c.z, c.y};
    halfSize = {h.x, h.z, h.y};
}

// The builder keeps its own copy of the triangles, in space-filling-curve
// order of their centres: the triangles of one node then lie close together
// in memory, where the list order (by height) scatters them. Node lists hold
// positions in this copy while the tree is built; a leaf turns them back
// into list positions, ascending, which gives exactly the lists of a build
// in list order.
NodeTriangles curve_ordered(const std::vector<Triangle>& triangles, const NodeVec& rootCenter, const NodeVec& rootHalf,
                            unsigned threads);

// Builds the tree of the triangles into a sink. The sink sees every node in
// build order (depth first, children in order 0..7) and decides how to
// store it:
//   Handle                    what the sink knows a node by;
//   Handle top()              the node the sink's part of the tree starts at;
//   bool ignores(Handle)      true when nothing of the node's subtree is to be
//                             recorded if its list is empty (the builder then
//                             only counts it);
//   void leaf(Handle, center, halfSize, depth, positions, count)
//                             a leaf and its list (list positions, ascending);
//   void split(Handle, center, halfSize, depth, ownListEmpty, childCenters,
//              childLists, Handle children[8])
//                             a split node and its children's lists (non-empty
//                             lists are what its children will list or split);
//   Sink part(Handle child)   a sink for one subtree of the root, built on a
//                             thread of its own;
//   void join(parts)          takes the eight parts in, in child order;
//   void restart()            forgets the root's children after a parallel
//                             build that had to be given up.
template <class Sink>
class Builder {
public:
    Builder(const std::vector<Triangle>& triangles, const NodeVec& rootCenter, const NodeVec& rootHalf,
            unsigned threads)
        : tris_(curve_ordered(triangles, rootCenter, rootHalf, threads)),
          bounds_(tris_.bounds),
          corners_(tris_.corners),
          budget_(16 * triangles.size() + (1u << 20)),
          threads_(std::max(1u, threads)) {}

    void build_root(Sink& sink, const NodeVec& center, const NodeVec& halfSize, unsigned threads) {
        // The root's candidates are all triangles.
        // On several threads, a run each; each run's finds then move up
        // behind the previous run's.
        IndexList overlaps;
        std::uint32_t* const list = overlaps.room(bounds_.size());
        std::vector<std::size_t> first(threads_, 0), found(threads_, 0);
        for_runs(bounds_.size(), threads_, [&](unsigned run, std::size_t begin, std::size_t end) {
            std::size_t n = begin;
            for (std::size_t i = begin; i < end; ++i)
                if (overlaps_box(bounds_[i], corners_[i], center.data(), halfSize.data()))
                    list[n++] = static_cast<std::uint32_t>(i);
            first[run] = begin;
            found[run] = n - begin;
        });
        std::size_t total = 0;
        for (unsigned r = 0; r < threads_; ++r) {
            std::copy(list + first[r], list + first[r] + found[r], list + total);
            total += found[r];
        }
        overlaps.commit(list + total);
        Context main;
        if (threads > 1 && build_root_in_parallel(main, sink, center, halfSize, overlaps, threads)) return;
        main.spent = 0;
        build(main, sink, sink.top(), center, halfSize, overlaps, bounds_.size(), 0);
    }

private:
    using Handle = typename Sink::Handle;

    // What one thread's part of the build works with: the children's lists
    // per depth, a leaf's positions, and the nodes plus leaf entries made so
    // far.
    struct Context {
        std::vector<std::array<IndexList, 8>> childLists{kMaxOctreeDepth + 1};
        std::vector<std::uint32_t> positions, sorted;
        RunScratch scratch;
        std::size_t spent = 0;
    };

    // The eight subtrees of a split root built on several threads, each
    // with a context of its own. The budget is one count over the whole
    // tree in build order, so a subtree's share is known only once those
    // before it are done. Every subtree is therefore first built as if it
    // had the whole budget to itself: when the total then stays within the
    // budget, no node anywhere met a spent budget, and the tree is the one a
    // build in order makes. Otherwise (a pathological model) the caller
    // builds it again in order; each thread stops splitting at the budget,
    // so this costs at most a few times a normal build. True when the tree
    // is built (also when the root is a leaf).
    bool build_root_in_parallel(Context& main, Sink& sink, const NodeVec& center, const NodeVec& halfSize,
                                const IndexList& overlaps, unsigned threads) {
        Handle children[8];
        NodeVec childCenter[8];
        if (!split_lists(main, sink, sink.top(), center, halfSize, overlaps, bounds_.size(), 0, children, childCenter))
            return true;  // a leaf root: that is the whole tree
        std::array<Context, 8> contexts;
        std::array<Sink, 8> parts;
        for (unsigned k = 0; k < 8; ++k) parts[k] = sink.part(children[k]);
        std::atomic<unsigned> next{0};
        const NodeVec half = childHalf(halfSize);
        const auto work = [&] {
            for (unsigned k; (k = next.fetch_add(1)) < 8;)
                build(contexts[k], parts[k], parts[k].top(), childCenter[k], half, main.childLists[1][k],
                      overlaps.size(), 1);
        };
        std::vector<std::thread> helpers;
        for (unsigned i = 1; i < threads; ++i) helpers.emplace_back(work);
        work();
        for (std::thread& t : helpers) t.join();
        std::size_t total = main.spent;
        for (const Context& c : contexts) total += c.spent;
        if (total <= budget_) {
            sink.join(parts);
            return true;
        }
        sink.restart();
        return false;
    }

    static NodeVec childHalf(const NodeVec& halfSize) { return {halfSize[0] / 2, halfSize[1] / 2, halfSize[2] / 2}; }

    // Builds the node whose overlap list (its candidates that overlap its
    // box, in candidate order) is already known.
    void build(Context& ctx, Sink& sink, Handle node, const NodeVec& center, const NodeVec& halfSize,
               const IndexList& overlaps, std::size_t candidateCount, int depth) {
        if (overlaps.empty() && sink.ignores(node)) {
            // Nothing of it is stored: only its share of the budget counts,
            // a leaf, or a split node over eight leaves (their candidate
            // lists are empty).
            ctx.spent += stays_leaf(ctx, halfSize, candidateCount, depth) ? 1 : 9;
            return;
        }
        Handle children[8];
        NodeVec childCenter[8];
        if (!split_lists(ctx, sink, node, center, halfSize, overlaps, candidateCount, depth, children, childCenter))
            return;
        std::array<IndexList, 8>& lists = ctx.childLists[depth + 1];
        const NodeVec half = childHalf(halfSize);
        for (int k = 0; k < 8; ++k)
            build(ctx, sink, children[k], childCenter[k], half, lists[k], overlaps.size(), depth + 1);
    }

    bool stays_leaf(const Context& ctx, const NodeVec& halfSize, std::size_t candidateCount, int depth) const {
        const bool degenerate = halfSize[0] == 0.0 && halfSize[1] == 0.0 && halfSize[2] == 0.0;
        return candidateCount <= 100 || depth >= kMaxOctreeDepth || degenerate || ctx.spent >= budget_;
    }

    // A leaf goes to the sink with its list, and false is returned. A split
    // node goes to the sink with the overlap lists of its eight children
    // (kept in ctx.childLists[depth + 1]), worked out in one pass over its
    // own list, the children's candidates; each triangle is then fetched
    // once rather than eight times. The result is the same as testing child
    // by child.
    bool split_lists(Context& ctx, Sink& sink, Handle node, const NodeVec& center, const NodeVec& halfSize,
                     const IndexList& overlaps, std::size_t candidateCount, int depth,
                     Handle* children, NodeVec* childCenter) {
        // Split on the size of the candidate list, not of the node's own
        // list. A node at the depth bound stays a leaf (more than 100
        // triangles meeting in one point would be split forever), and so does
        // a box without extent: its children would all be the same box.
        //
        // The depth bound alone does not stop a blow-up: over 100 triangles
        // sharing an edge, or lying on top of each other, keep whole rows or
        // planes of boxes at every depth above 100, and 16 levels of that is
        // billions of nodes. So the tree also has a budget of nodes plus leaf
        // entries, 16 per triangle and a million more; a real model uses a
        // few per triangle. Once it is spent the remaining nodes stay leaves.
        if (stays_leaf(ctx, halfSize, candidateCount, depth)) {
            ctx.spent += 1 + overlaps.size();
            ctx.positions.resize(overlaps.size());
            for (std::size_t i = 0; i < overlaps.size(); ++i) ctx.positions[i] = bounds_[overlaps[i]].position;
            sort_distinct(ctx.positions, ctx.sorted);
            sink.leaf(node, center, halfSize, depth, ctx.positions.data(), ctx.positions.size());
            return false;
        }
        ++ctx.spent;

        // Child k: bit 4 upper x, bit 2 upper z, bit 1 upper y.
        const NodeVec half = childHalf(halfSize);
        double side[3][2];  // child centre per component, lower and upper half
        for (int q = 0; q < 3; ++q) {
            side[q][0] = center[q] + -1.0 * (halfSize[q] / 2);
            side[q][1] = center[q] + 1.0 * (halfSize[q] / 2);
        }
        for (int k = 0; k < 8; ++k) childCenter[k] = {side[0][(k >> 2) & 1], side[1][(k >> 1) & 1], side[2][k & 1]};
        // The children's boxes shrunk for surely_overlaps, when their
        // numbers allow it; else every overlap is tested in full.
        bool quick = true;
        double shrunk[3];
        for (int q = 0; q < 3; ++q) {
            quick = quick && moderate(half[q]) && moderate(side[q][0]) && moderate(side[q][1]);
            shrunk[q] = half[q] * (1.0 - 0x1p-20);
        }

        // The children's lists live in buffers of their depth, reused by every
        // node there; this node's own list (a buffer one level up) stays
        // intact while the children below are built.
        std::array<IndexList, 8>& lists = ctx.childLists[depth + 1];
        for (auto& list : lists) list.clear();
        const SplitBox box{half, side, childCenter, shrunk, quick};
        const std::size_t n = overlaps.size();
        if (depth == 0 && threads_ > 1 && n >= 65536) {
            // The root's list on several threads, a run each; the runs'
            // lists joined in order are the lists of one pass.
            std::vector<std::array<IndexList, 8>> runs(threads_);
            std::vector<RunScratch> scratch(threads_);
            for_runs(n, threads_, [&](unsigned run, std::size_t begin, std::size_t end) {
                split_run(box, overlaps.data() + begin, end - begin, runs[run], scratch[run]);
            });
            for (int k = 0; k < 8; ++k)
                for (const auto& run : runs) lists[k].append(run[k]);
        } else {
            split_run(box, overlaps.data(), n, lists, ctx.scratch);
        }
        sink.split(node, center, halfSize, depth, overlaps.empty(), childCenter, lists, children);
        return true;
    }

    // A split node's children: their half sizes, centres per half, centres,
    // and the shrunk half sizes of surely_overlaps when `quick`.
    struct SplitBox {
        const NodeVec& half;
        const double (&side)[3][2];
        const NodeVec* childCenter;
        const double* shrunk;
        bool quick;
    };

    // Appends the triangles of a run of the node's list to the lists of the
    // children they overlap, in run order. First the children that the
    // bounds decide, per triangle; then the overlap tests of the others,
    // all in one loop, several at a time; then the lists.
    void split_run(const SplitBox& b, const std::uint32_t* indices, std::size_t count,
                   std::array<IndexList, 8>& lists, RunScratch& scratch) const {
        // A test holds its triangle's place in the run times 8 plus its child
        // in 31 bits (a signed lane of a vector below): a longer run is split
        // in parts, one after the other.
        constexpr std::size_t kLongest = std::size_t{1} << 28;
        if (count > kLongest) {
            for (std::size_t begin = 0; begin < count; begin += kLongest)
                split_run(b, indices + begin, std::min(kLongest, count - begin), lists, scratch);
            return;
        }
        // The children in a given half along axis q, as a mask of children:
        // halves[q][1 << s].
        static constexpr std::uint8_t halves[3][4] = {
            {0x00, 0x0f, 0xf0, 0xff}, {0x00, 0x33, 0xcc, 0xff}, {0x00, 0x55, 0xaa, 0xff}};
        // Per axis, the two halves in the two lanes of a vector (lane s for
        // half s), so each comparison below is made for both halves at once,
        // on exactly the numbers of the scalar form.
        __m128d sideV[3], halfV[3], negHalfV[3], shrunkV[3], negShrunkV[3];
        for (int q = 0; q < 3; ++q) {
            sideV[q] = _mm_set_pd(b.side[q][1], b.side[q][0]);
            halfV[q] = _mm_set1_pd(b.half[q]);
            negHalfV[q] = _mm_set1_pd(-b.half[q]);
            shrunkV[q] = _mm_set1_pd(b.shrunk[q]);
            negShrunkV[q] = _mm_set1_pd(-b.shrunk[q]);
        }
        std::uint8_t* const taken = scratch.taken.get(count);
        std::uint32_t* const tests = scratch.tests.get(8 * count + 8);
        std::size_t testCount = 0;
        for (std::size_t i = 0; i < count; ++i) {
            // The record a few ahead is fetched while this one is split.
            if (i + 8 < count) __builtin_prefetch(&bounds_[indices[i + 8]]);
            const NodeBounds& t = bounds_[indices[i]];
            // The box-axis test per half, shared by the four children in it,
            // and likewise surely_overlaps (the same differences and
            // comparisons, made once per half), each as a mask of children.
            unsigned in = 0xff, sure = 0xff;
            for (int q = 0; q < 3; ++q) {
                // Half s: lo = t.lo[q] - side[q][s], hi = t.hi[q] - side[q][s];
                // in when !(lo > half) && !(hi < -half), sure when
                // lo >= -shrunk && hi <= shrunk.
                const __m128d lo = _mm_sub_pd(_mm_set1_pd(t.lo[q]), sideV[q]);
                const __m128d hi = _mm_sub_pd(_mm_set1_pd(t.hi[q]), sideV[q]);
                const unsigned outHalves = static_cast<unsigned>(
                    _mm_movemask_pd(_mm_or_pd(_mm_cmpgt_pd(lo, halfV[q]), _mm_cmplt_pd(hi, negHalfV[q]))));
                const unsigned sureHalves = static_cast<unsigned>(
                    _mm_movemask_pd(_mm_and_pd(_mm_cmpge_pd(lo, negShrunkV[q]), _mm_cmple_pd(hi, shrunkV[q]))));
                in &= halves[q][~outHalves & 3u];
                sure &= halves[q][sureHalves];
            }
            if (!(b.quick && t.moderate)) sure = 0;
            // The children surely overlapped are taken at once; the others
            // wait for their overlap test.
            taken[i] = static_cast<std::uint8_t>(in & sure);
            // Written for all eight children, counted for those in m: no
            // branch per child.
            const unsigned m = in & ~sure;
            const __m128i place = _mm_set1_epi32(static_cast<int>(i << 3));
            const auto* children = reinterpret_cast<const __m128i*>(kMaskChildren.child[m]);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(tests + testCount), _mm_or_si128(place, children[0]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(tests + testCount + 4), _mm_or_si128(place, children[1]));
            testCount += kMaskChildren.count[m];
        }
        // The tests four at a time where the processor has AVX (overlap_quad),
        // then two at a time (overlap_pair), the one left over alone: each
        // lane gives the answer of overlap_impl<true>.
        const auto corners = [&](std::uint32_t test, const double** c) {
            const NodeCorners& t = corners_[indices[test >> 3]];
            c[0] = t.corner[0];
            c[1] = t.corner[1];
            c[2] = t.corner[2];
        };
        std::size_t k = 0;
        if (has_avx()) {
            for (; k + 4 <= testCount; k += 4) {
                if (k + 13 < testCount) {
                    __builtin_prefetch(&corners_[indices[tests[k + 12] >> 3]]);
                    __builtin_prefetch(&corners_[indices[tests[k + 13] >> 3]]);
                }
                const double* c[4][3];
                const double* centres[4];
                for (int l = 0; l < 4; ++l) {
                    corners(tests[k + l], c[l]);
                    centres[l] = b.childCenter[tests[k + l] & 7].data();
                }
                const unsigned all = overlap_quad(centres, b.half.data(), c);
                for (int l = 0; l < 4; ++l)
                    taken[tests[k + l] >> 3] |= static_cast<std::uint8_t>(((all >> l) & 1u) << (tests[k + l] & 7));
            }
        }
        for (; k + 2 <= testCount; k += 2) {
            if (k + 8 < testCount) __builtin_prefetch(&corners_[indices[tests[k + 8] >> 3]]);
            const std::uint32_t t0 = tests[k], t1 = tests[k + 1];
            const double* c0[3];
            const double* c1[3];
            corners(t0, c0);
            corners(t1, c1);
            const unsigned both = overlap_pair(b.childCenter[t0 & 7].data(), b.childCenter[t1 & 7].data(),
                                               b.half.data(), c0, c1);
            taken[t0 >> 3] |= static_cast<std::uint8_t>((both & 1u) << (t0 & 7));
            taken[t1 >> 3] |= static_cast<std::uint8_t>((both >> 1) << (t1 & 7));
        }
        if (k < testCount) {
            const std::uint32_t t0 = tests[k];
            const double* c0[3];
            corners(t0, c0);
            if (overlap_impl<true>(b.childCenter[t0 & 7].data(), b.half.data(), c0[0], c0[1], c0[2]))
                taken[t0 >> 3] |= static_cast<std::uint8_t>(1u << (t0 & 7));
        }
        // Every triangle of the run may go to every child.
        std::uint32_t* out[8];
        for (int c = 0; c < 8; ++c) out[c] = lists[c].room(count);
        for (std::size_t i = 0; i < count; ++i)
            for (unsigned a = taken[i]; a != 0; a &= a - 1) *out[__builtin_ctz(a)]++ = indices[i];
        for (int c = 0; c < 8; ++c) lists[c].commit(out[c]);
    }

    static bool overlaps_box(const NodeBounds& t, const NodeCorners& k, const double* c, const double* h) {
        // The box-axis test of overlap_impl on precomputed bounds: min(v - c)
        // equals min(v) - c exactly, as subtracting a constant keeps the order.
        for (int q = 0; q < 3; ++q) {
            if (t.lo[q] - c[q] > h[q] || t.hi[q] - c[q] < -h[q]) return false;
        }
        bool quick = t.moderate != 0;
        double shrunk[3];
        for (int q = 0; q < 3; ++q) {
            quick = quick && moderate(h[q]) && moderate(c[q]);
            shrunk[q] = h[q] * (1.0 - 0x1p-20);
        }
        return (quick && surely_overlaps(t, c, shrunk)) || overlap_impl<true>(c, h, k.corner[0], k.corner[1], k.corner[2]);
    }

    NodeTriangles tris_;
    const BigVector<NodeBounds>& bounds_;
    const BigVector<NodeCorners>& corners_;
    std::size_t budget_;
    unsigned threads_;  // nodes plus leaf entries the tree may take
};

}  // namespace octree_build
