#include "coverage/coverage_grid.h"
#include "coverage/coverage_sink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/simulation_data.h"
#include "terrain/mesh.h"

namespace {

// A flat model at z = 0: the square of side `side` (two triangles) or,
// with `half`, its south-west half below the diagonal.
void flat_square(SimulationData& data, double side, bool half = false) {
    data.vertices = {{0, 0, 0}, {side, 0, 0}, {side, side, 0}, {0, side, 0}};
    data.faces = {Face{{1, 2, 4}}, Face{{2, 3, 4}}};
    if (half) data.faces.pop_back();
    data.triangles.clear();
    generate_mesh(data.vertices, data.faces, data.triangles);
    data.setLimits(compute_limits(data.vertices));
}

LaserLine hit(double x, double y, double z) {
    LaserLine l;
    l.hitPoint = {x, y, z};
    l.hitFaceIndex = 0;
    return l;
}

// Two lines flown along x (orientation 0): line 1 returns between y = lowA
// and highA, line 2 between lowB and highB, one return per metre along x
// at both edges and at the middle.
void two_lines(SimulationData& data, double lowA, double highA, double lowB, double highB) {
    data.flight.orientation = 0.0;
    auto& lasers = data.lasers();
    lasers.clear();
    data.laserlines.lineStarts = {0};
    for (double x = 0.5; x < 100; x += 1) {
        for (double y : {lowA, (lowA + highA) / 2, highA}) lasers.push_back(hit(x, y, 1.0));
    }
    data.laserlines.lineStarts.push_back(lasers.size());
    for (double x = 99.5; x > 0; x -= 1) {
        for (double y : {lowB, (lowB + highB) / 2, highB}) lasers.push_back(hit(x, y, 1.0));
    }
}

TEST(CoverageCellSize, ChosenOrTheSmallestRoundSizeThatFits) {
    struct Row {
        double requested, width, height, density, expected;
    } rows[] = {
        {0.5, 5000, 5000, 0, 0.5},  // chosen: as given
        {0, 2000, 2000, 0, 1},      // 2000 m fit in 4096 one-metre cells
        {0, 5000, 100, 0, 2},       // the longer side decides
        {0, 40000, 10, 0, 10},
        {0, 2000, 2000, 0.07, 10},  // two pulse spacings of 3.8 m
        {0, 2000, 2000, 8, 1},      // dense: one metre is the least
        {0, 0, 0, 0, 1},            // a model without area
    };
    for (const Row& r : rows) {
        EXPECT_EQ(coverage_cell_size(r.requested, r.width, r.height, r.density), r.expected)
            << r.width << " x " << r.height << " at " << r.density;
        const double cell = r.expected;
        const CoverageLayout layout = coverage_layout(-3.5, 7, -3.5 + r.width, 7 + r.height, cell);
        if (r.requested <= 0) {
            EXPECT_LE(std::max(layout.columns, layout.rows), kMaxCoverageSide);
        }
    }
    // The origin lies on a whole cell, and the far limit lies inside the last cell.
    const CoverageLayout l = coverage_layout(-3.5, 7, 16, 17, 5);
    EXPECT_EQ(l.originX, -5);
    EXPECT_EQ(l.originY, 5);
    EXPECT_EQ(l.columns, 5);  // -5 .. 20 holds 16
    EXPECT_EQ(l.rows, 3);     // 5 .. 20 holds 17
}

TEST(CoverageGrid, CountsReturnsPerCellWithHeightsAndLines) {
    SimulationData data;
    flat_square(data, 10.0);
    auto& lasers = data.lasers();
    lasers = {hit(0.5, 0.5, 3), hit(0.7, 0.2, -1), LaserLine(), hit(9.99, 9.99, 2), hit(10.0, 10.0, 4),
              hit(25, 5, 0), hit(5.5, 0.5, 7)};
    lasers[2].hitFaceIndex = -1;  // a miss counts nowhere
    data.laserlines.lineStarts = {0, 3, 3, 5};  // line 2 has no pulse: it starts where line 3 does
    const CoverageGrid g = analyse_coverage(data, 1.0);
    ASSERT_EQ(g.columns, 11);
    ASSERT_EQ(g.rows, 11);
    EXPECT_EQ(g.returns, 5u);
    EXPECT_EQ(g.outside, 1u);  // x = 25 lies off the raster
    const std::size_t first = g.index(0, 0);
    EXPECT_EQ(g.points[first], 2u);
    EXPECT_EQ(g.lowZ[first], -1.0f);
    EXPECT_EQ(g.highZ[first], 3.0f);
    EXPECT_EQ(g.lines[first], 1u);            // line 1
    EXPECT_EQ(g.lines[g.index(9, 9)], 4u);    // pulse 3: line 3
    EXPECT_EQ(g.lines[g.index(10, 10)], 4u);  // the far corner lies in the last cell
    EXPECT_EQ(g.lines[g.index(5, 0)], 8u);
    EXPECT_TRUE(std::isnan(g.lowZ[g.index(3, 3)]));
    // The square covers the centres of the first ten cells each way.
    int covered = 0;
    for (auto c : g.covered) covered += c;
    EXPECT_EQ(covered, 100);
    EXPECT_FALSE(g.covered[g.index(10, 3)]);
    EXPECT_EQ(g.density(first), 2.0);
}

TEST(CoverageGrid, ChunksGiveTheSameRasterAsOneChunk) {
    SimulationData data;
    flat_square(data, 100.0);
    two_lines(data, 10, 60, 40, 90);
    const CoverageGrid whole = analyse_coverage(data, 2.0);
    CoverageSink sink(2.0);
    sink.begin({&data, data.lasers().size()});
    const std::size_t n = data.lasers().size();
    for (std::size_t start = 0; start < n; start += 37) {
        PulseChunk chunk;
        chunk.first = start;
        chunk.lasers = data.lasers().data() + start;
        chunk.count = std::min<std::size_t>(37, n - start);
        sink.consume(chunk);
    }
    sink.finish();
    EXPECT_EQ(sink.grid().points, whole.points);
    EXPECT_EQ(sink.grid().lines, whole.lines);
    // NaN marks strips without returns: compare the bits.
    ASSERT_EQ(sink.grid().swaths.low.size(), whole.swaths.low.size());
    EXPECT_EQ(std::memcmp(sink.grid().swaths.low.data(), whole.swaths.low.data(), whole.swaths.low.size() * 4), 0);
    // Flight lines given by the chunk's pulse infos count the same.
    std::vector<PulseInfo> infos(n);
    for (std::size_t i = 0; i < n; ++i) infos[i].line = i < data.laserlines.lineStarts[1] ? 1 : 2;
    CoverageSink withInfo(2.0);
    withInfo.begin({&data, n});
    withInfo.consume(PulseChunk{0, data.lasers().data(), infos.data(), n});
    EXPECT_EQ(withInfo.grid().lines, whole.lines);
}

TEST(CoverageSummary, DensityFiguresOverTheCoveredCells) {
    SimulationData data;
    flat_square(data, 4.0, true);  // a right triangle over half of a 4 x 4 raster of 1 m cells
    // Cells below the diagonal hold their column + 1 returns, except (0, 0).
    auto& lasers = data.lasers();
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c + r < 4; ++c) {
            if (c == 0 && r == 0) continue;
            for (int k = 0; k <= c; ++k) lasers.push_back(hit(c + 0.25, r + 0.25, 0));
        }
    }
    const CoverageGrid g = analyse_coverage(data, 1.0);
    ASSERT_EQ(g.columns, 5);
    const CoverageSummary s = summarise_coverage(g, data, 2.0);
    // Covered: the ten cells with c + r <= 3 (centre on the diagonal counts).
    EXPECT_EQ(s.coveredCells, 10u);
    EXPECT_EQ(s.coveredArea, 10.0);
    EXPECT_EQ(s.emptyCoveredArea, 1.0);
    // Counts 0,2,3,4, 1,2,3, 1,2, 1: sum 19.
    EXPECT_DOUBLE_EQ(s.meanDensity, 1.9);
    EXPECT_EQ(s.medianDensity, 2.0);
    EXPECT_EQ(s.p5Density, 0.0);
    EXPECT_EQ(s.shareMeetingTarget, 0.6);
    EXPECT_DOUBLE_EQ(s.nominalPulseSpacing, 1 / std::sqrt(1.9));
    EXPECT_EQ(s.returns, 19u);
}

TEST(CoverageSummary, SideOverlapOfNeighbouringLines) {
    struct Row {
        double lowA, highA, lowB, highB, share, gap;
    } rows[] = {
        {10, 60, 40, 90, 0.4, 0},     // 20 m of 50 m shared
        {10, 50, 50, 90, 0.0, 0},     // edge to edge
        {10, 40, 50, 90, -0.25, 100}, // a 10 m gap beside a 40 m swath, all along
        {60, 90, 10, 40, -2.0 / 3, 100},  // lines in the other order: a 20 m gap
    };
    for (const Row& r : rows) {
        SimulationData data;
        flat_square(data, 100.0);
        two_lines(data, r.lowA, r.highA, r.lowB, r.highB);
        const CoverageSummary s = summarise_coverage(analyse_coverage(data, 1.0), data, 2.0);
        ASSERT_EQ(s.overlaps.size(), 1u) << r.lowA;
        EXPECT_EQ(s.overlaps[0].lineA, 1);
        EXPECT_NEAR(s.overlaps[0].share, r.share, 1e-6) << r.lowA;
        EXPECT_NEAR(s.overlaps[0].meanShare, r.share, 1e-6) << r.lowA;
        EXPECT_EQ(s.overlaps[0].gapLength, r.gap) << r.lowA;
    }
}

}  // namespace
