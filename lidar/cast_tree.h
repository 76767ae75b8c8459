#pragma once
#include "flight/laser_line.h"
#include "terrain/mesh.h"
#include "terrain/octree.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <vector>

// A flattened, read-only copy of the scene octree laid out for the cast.
//
// Nodes sit in one array of 8-byte records: an inner node keeps a mask of
// its children whose subtrees list some triangle, and only those children
// are stored, next to each other in child order; a leaf refers to a run of
// entries, one per listed triangle in the leaf's order. An entry is the index
// of a triangle record; each triangle has one record however many leaves list
// it, laid out in the order the leaves first list them, so that a leaf's
// records are mostly neighbours. Beside each entry, four bytes give the part
// of the leaf's footprint where the triangle can be hit (EntryCells): a leaf
// scan compares them with the ray's part, four entries at a time, and reads
// only the records of the entries that pass. Each leaf also has a slab
// (LeafSlab) that holds every hit it can accept; a ray that crosses the leaf
// wholly above or below it skips the scan. Node boxes and centres are not
// stored: the traversal halves the root box on its way down, with the very
// arithmetic the octree builder uses, so they are the same numbers.
//
// The traversal does the same arithmetic in the same order as cast_laser and
// friends (lidar/ray_cast.h), so a cast gives bit-identical results. What the
// copy saves is pointer chasing, the indirection into the triangle list, the
// work that depends on the triangle alone (the projection determinant's edge
// terms, computed once here with the same expressions), and most of the
// per-triangle work of a leaf scan: a triangle (or a whole leaf, or a
// subtree without triangles) is skipped early when cheap, deliberately loose
// tests (bounds with a slack far above any rounding) show that its hit could
// not pass the exact tests. Skipping such a triangle is exactly what the
// exact tests would have done, since a rejected triangle leaves the scan's
// state untouched; and a leaf or subtree that gives no return changes
// nothing in the traversal, which goes on to the next child either way.
//
// Built once per model (SimulationData keeps it while the model lives);
// casting is const and may run on several threads at once, each with its own
// lasers, and any run of lasers may be cast on its own.
class CastTree {
public:
    CastTree() = default;
    // The octree's boxes must be the halving of the root box that
    // create_octree makes; throws std::logic_error otherwise.
    CastTree(const OctreeNode& root, const std::vector<Triangle>& triangles);
    // The copy of the octree create_octree would make of the triangles with
    // these model limits (model order x, y, z), built straight from the
    // triangles without the pointer octree, the same arrays to the bit. The
    // root's eight subtrees are built on up to `threads` threads (0: one per
    // hardware thread, at most eight); the result is the same for any count.
    CastTree(const std::vector<Triangle>& triangles, const Vec3& maxCorner, const Vec3& minCorner,
             unsigned threads = 0);

    // Whether both hold the same arrays and numbers, bit for bit.
    bool identical(const CastTree& other) const;
    // A 64-bit hash of everything identical() compares: equal trees give
    // equal digests, on any machine with the same number formats.
    std::uint64_t digest() const;

    // Casts one laser. On a return writes hitPoint, range and hitFaceIndex
    // and returns true; otherwise leaves the laser unchanged.
    bool cast(LaserLine& laser) const;

    std::size_t node_count() const { return nodes_.size(); }  // stored nodes (no empty subtrees)
    std::size_t leaf_count() const { return leafCount_; }     // leaves with triangles
    std::size_t entry_count() const { return entries_.size(); }
    std::size_t record_count() const { return records_.size(); }

    // The cell (0..255) of coordinate v on a leaf grid that starts at lo,
    // `scale` cells per metre; outside the leaf the first or last cell. A
    // lower bound that is NaN gives the first cell, an upper bound that is
    // NaN the last, so that a NaN never narrows a range. The same arithmetic
    // serves the triangles' bounds and the ray's, and it does not decrease
    // as v grows: two ranges that overlap give cell ranges that overlap.
    static unsigned lower_cell(double v, double lo, double scale) {
        const double f = (v - lo) * scale;
        if (!(f >= 0)) return 0;
        return f >= 255 ? 255u : static_cast<unsigned>(f);
    }
    static unsigned upper_cell(double v, double lo, double scale) {
        const double f = (v - lo) * scale;
        if (!(f < 255)) return 255;
        return f < 0 ? 0u : static_cast<unsigned>(f);
    }
    // Where a hit of an entry's triangle can lie in its leaf (see
    // EntryCells): lower_cell of the lower bounds and upper_cell of the upper
    // ones, for x and y at once, one per vector lane, without branches.
    // bounds: x lower, x upper, y lower, y upper. lower_cell's cell is
    // trunc(min(max(f, 0), 255)) and upper_cell's trunc(max(min(f, 255), 0)):
    // maxpd and minpd give their second operand for a NaN, so NaN gives the
    // first cell and the last as lower_cell and upper_cell do.
    struct EntryCells;
    static EntryCells entry_cells(const float* bounds, double minX, double minY, double scaleX, double scaleY);

    // Bytes held by the copy.
    std::size_t memory_bytes() const;

    // Set in Node::count of an inner node; the low eight bits are then the
    // mask of stored children.
    static constexpr std::uint32_t kInnerNode = 0x80000000u;

    struct Node {
        std::uint32_t index = 0;  // inner: its first stored child; leaf: its first entry
        std::uint32_t count = 0;  // leaf: number of entries; inner: kInnerNode | child mask
    };

    // How the inside test projects the triangle.
    enum Projection : std::uint32_t { ProjectXY = 0, ProjectXZ = 1, NeverInside = 2 };

    // One triangle: 112 bytes, the plane intersection first, then the
    // inside test.
    struct Record {
        double nx, ny, nz;  // normal
        double ax, ay, az;  // corner a
        // The inside test, with every term multiplied by the sign s of the
        // determinant: the products, sums and quotients are the same numbers
        // up to that sign (IEEE rounding is symmetric), the quotients
        // exactly the same. The determinant itself is |axcx bvcv - cvav cxbx|,
        // the same bits as its own expression.
        double cx, cv;  // corner c: x and the projected second coordinate
        double bvcv;    // s (b.v - c.v)
        double cxbx;    // s (c.x - b.x)
        double cvav;    // s (c.v - a.v)
        double axcx;    // s (a.x - c.x)
        double topZ;
        std::uint32_t faceIndex;
        std::uint32_t projection;
    };

    // The slab lo <= m.P <= hi (m a unit vector) that holds every hit a
    // leaf's scan can accept, give or take rounding; the scan is skipped
    // when the ray's part in the leaf passes wholly above or below it.
    // scale bounds the coordinates of the leaf and of its triangles' corners
    // (sum of magnitudes), for the slack. A leaf without a useful slab has
    // lo = -inf, hi = +inf.
    struct LeafSlab {
        float mx, my, mz, scale;
        double lo, hi;
    };

    // Where a hit of an entry's triangle can lie in its leaf, in x and y, on
    // a grid of 256 x 256 cells over the leaf box: cells xLo..xHi and
    // yLo..yHi, the last two stored as 255 - cell so that one unsigned byte
    // comparison per bound tests a ray's cells against them (see leafCell).
    struct EntryCells {
        std::uint8_t xLo, yLo, xHiFlipped, yHiFlipped;
    };
    static_assert(sizeof(EntryCells) == 4, "EntryCells is written as four bytes");

private:
    struct Ray;
    void set_root_box(const double* center, const double* minCorner, const double* maxCorner, const double* halfSize);
    bool subtree(double t0x, double t0z, double t0y, double t1x, double t1z, double t1y, std::uint32_t node,
                 double cx, double cz, double cy, unsigned depth, Ray& ray) const;
    bool subtree_yz(double t0z, double t0y, double t1z, double t1y, std::uint32_t index, double cx, double cz,
                    double cy, unsigned depth, Ray& ray) const;
    bool subtree_xz(double t0x, double t0z, double t1x, double t1z, std::uint32_t index, double cx, double cz,
                    double cy, unsigned depth, bool lowInf, Ray& ray) const;
    bool scan_leaf(const Node& node, double cx, double cz, double cy, unsigned depth, Ray& ray) const;
    void build_ceilings();
    void fill_ceilings(std::uint32_t index, const double* center, unsigned depth, unsigned ix, unsigned iy);
    void fill_leaf_ceilings(std::uint32_t index, const double* center, unsigned depth, unsigned ix, unsigned iy);
    template <int fixedAxis>
    double first_reach(double fixedO, double movingO, double movingD, double idm, double oz, double idz,
                       double tExit) const;
    template <unsigned level, int fixedAxis>
    double walk_ceilings(double t, double fixedO, double movingO, double movingD, double idm, double oz, double idz,
                         double tExit) const;
    static bool window(const Ray& ray, double minX, double minZ, double minY, double maxX, double maxZ, double maxY,
                       double& tlo, double& thi, double* segLo, double* segHi);
    static void segment(const Ray& ray, double tlo, double thi, double* segLo, double* segHi);

    std::vector<Node> nodes_;  // root first
    std::vector<std::uint32_t> entries_;
    std::vector<EntryCells> cells_;  // per entry, then padding for a whole last block
    std::vector<LeafSlab> slabs_;    // per node (only a leaf's is used)
    std::vector<Record> records_;
    std::size_t leafCount_ = 0;
    double rootCenter_[3] = {0, 0, 0};  // node axis order
    double rootMin_[3] = {0, 0, 0};
    double rootMax_[3] = {0, 0, 0};
    // The union of the records' bounds in x and y (an empty box without
    // records).
    double reachLo_[2] = {HUGE_VAL, HUGE_VAL};
    double reachHi_[2] = {-HUGE_VAL, -HUGE_VAL};
    // Half sizes per depth, node axis order: the root's, then halved.
    double half_[kMaxOctreeDepth + 1][3] = {};
    // Cells per metre of a leaf's cell grid per depth, x then y: 128 / half.
    double cellScale_[kMaxOctreeDepth + 1][2] = {};
    // The ceiling grids: the root's footprint in n x n cells (x major),
    // each cell holding a height that no accepted hit over the cell lies
    // above, rounded up to float (-inf where no leaf with triangles meets
    // the cell). The finest grid takes, per leaf with triangles over the
    // cell, its top or, lower, the top of its slab over the cell (see
    // fill_ceilings); each coarser one, eight times coarser per axis, the
    // highest of its cells. A ray going down skips every node it leaves
    // before it can first be below a ceiling (see first_reach). Empty when
    // the coordinates are too large for the cells' rounding margin.
    static constexpr unsigned kCeilingLevels = 2;
    static constexpr unsigned kFineCeilingLog = 10;
    std::vector<float> ceilings_[kCeilingLevels];  // finest first
    double ceilingScale_[kCeilingLevels][3] = {};  // cells per metre, node axis order (y at 2)
    double ceilingCell_[kCeilingLevels][3] = {};   // metres per cell
    float ceilingTop_ = -HUGE_VALF;  // the highest ceiling
    double coordScale_ = 0;          // bounds |x| + |y| + |z| over the root box
};

inline CastTree::EntryCells CastTree::entry_cells(const float* bounds, double minX, double minY, double scaleX,
                                                  double scaleY) {
    const __m128d lo = _mm_set_pd(minY, minX), cellsPerMetre = _mm_set_pd(scaleY, scaleX);
    const __m128d zero = _mm_setzero_pd(), last = _mm_set1_pd(255.0);
    // x lower, x upper, y lower, y upper as x lower, y lower, x upper, y upper.
    const __m128 b = _mm_loadu_ps(bounds);
    const __m128 lowHigh = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128d fLow = _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(lowHigh), lo), cellsPerMetre);
    const __m128d fHigh = _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(lowHigh, lowHigh)), lo), cellsPerMetre);
    const __m128i low = _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(fLow, zero), last));
    const __m128i high = _mm_cvttpd_epi32(_mm_max_pd(_mm_min_pd(fHigh, last), zero));
    // xLo, yLo, 255 - xHi, 255 - yHi, packed to bytes in that order.
    const __m128i all = _mm_unpacklo_epi64(low, _mm_sub_epi32(_mm_set1_epi32(255), high));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(all, all), _mm_setzero_si128());
    const auto packed = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
    EntryCells cells;
    std::memcpy(&cells, &packed, sizeof cells);
    return cells;
}
