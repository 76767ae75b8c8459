#include "coverage/coverage_grid.h"

#include "app/angles.h"
#include "app/simulation_data.h"
#include "coverage/coverage_sink.h"
#include "flight/flight_lines.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();
// Most strip records (lines x strips) the swath profile may hold.
constexpr double kMaxProfileRecords = 16.0 * 1024 * 1024;

// Marks the cells whose centre lies in the plan view of a triangle; a
// triangle too small to hold a centre marks the cell of its centroid.
// Vertical triangles (walls) have no footprint.
void mark_covered(CoverageGrid& grid, const std::vector<Triangle>& triangles) {
    const double ox = grid.originX, oy = grid.originY, cell = grid.cell;
    for (const Triangle& t : triangles) {
        const double ax = t.a.x, ay = t.a.y, bx = t.b.x, by = t.b.y, cx = t.c.x, cy = t.c.y;
        const double area2 = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
        if (!(std::fabs(area2) > 0.0)) continue;
        const double sense = area2 > 0.0 ? 1.0 : -1.0;
        const double minX = std::min({ax, bx, cx}), maxX = std::max({ax, bx, cx});
        const double minY = std::min({ay, by, cy}), maxY = std::max({ay, by, cy});
        const double c0 = std::max(0.0, std::ceil((minX - ox) / cell - 0.5));
        const double c1 = std::min(double(grid.columns - 1), std::floor((maxX - ox) / cell - 0.5));
        const double r0 = std::max(0.0, std::ceil((minY - oy) / cell - 0.5));
        const double r1 = std::min(double(grid.rows - 1), std::floor((maxY - oy) / cell - 0.5));
        bool any = false;
        for (double r = r0; r <= r1; ++r) {
            const double py = oy + (r + 0.5) * cell;
            for (double c = c0; c <= c1; ++c) {
                const double px = ox + (c + 0.5) * cell;
                const double e0 = sense * ((bx - ax) * (py - ay) - (by - ay) * (px - ax));
                const double e1 = sense * ((cx - bx) * (py - by) - (cy - by) * (px - bx));
                const double e2 = sense * ((ax - cx) * (py - cy) - (ay - cy) * (px - cx));
                if (e0 >= 0.0 && e1 >= 0.0 && e2 >= 0.0) {
                    grid.covered[grid.index(int(c), int(r))] = 1;
                    any = true;
                }
            }
        }
        if (!any) {
            const double fc = std::floor(((ax + bx + cx) / 3.0 - ox) / cell);
            const double fr = std::floor(((ay + by + cy) / 3.0 - oy) / cell);
            if (fc >= 0 && fc < grid.columns && fr >= 0 && fr < grid.rows) grid.covered[grid.index(int(fc), int(fr))] = 1;
        }
    }
}

}  // namespace

double coverage_cell_size(double requested, double width, double height, double expectedDensity) {
    if (requested > 0.0) return requested;
    const double side = std::max(std::fabs(width), std::fabs(height));
    double least = side / (kMaxCoverageSide - 1);  // the origin snaps down: one cell spare
    if (expectedDensity > 0.0 && std::isfinite(expectedDensity)) least = std::max(least, 2.0 / std::sqrt(expectedDensity));
    if (!std::isfinite(least)) least = 1.0;
    static const double steps[3] = {1.0, 2.0, 5.0};
    for (double decade = 1.0;; decade *= 10.0) {
        for (double step : steps) {
            if (step * decade >= least) return step * decade;
        }
    }
}

CoverageLayout coverage_layout(double minX, double minY, double maxX, double maxY, double cell) {
    CoverageLayout layout;
    layout.cell = cell;
    layout.originX = std::floor(minX / cell) * cell;
    layout.originY = std::floor(minY / cell) * cell;
    layout.columns = std::floor((maxX - layout.originX) / cell) + 1.0;
    layout.rows = std::floor((maxY - layout.originY) / cell) + 1.0;
    return layout;
}

double expected_pulse_density(const SimulationData& data, std::uint64_t pulseCount) {
    const FlightArea area = widen_flight_area(data.minX, data.minY, data.minZ, data.maxX, data.maxY, data.maxZ);
    const double m2 = (area.maxX - area.minX) * (area.maxY - area.minY);
    if (!(m2 > 0.0) || pulseCount == 0) return 0.0;
    return double(pulseCount) / m2;
}

void CoverageSink::begin(const SurveyContext& context) {
    const SimulationData& data = *context.data;
    data_ = context.data;
    grid_ = CoverageGrid();
    const double cell = coverage_cell_size(requestedCell_, data.maxX - data.minX, data.maxY - data.minY,
                                           expected_pulse_density(data, context.pulseCount));
    const CoverageLayout layout = coverage_layout(data.minX, data.minY, data.maxX, data.maxY, cell);
    grid_.originX = layout.originX;
    grid_.originY = layout.originY;
    grid_.cell = cell;
    // The caller checks the size of a chosen cell; an automatic one always fits.
    grid_.columns = int(std::min(layout.columns, double(std::numeric_limits<int>::max() / 2)));
    grid_.rows = int(std::min(layout.rows, double(std::numeric_limits<int>::max() / 2)));
    const std::size_t n = std::size_t(grid_.columns) * std::size_t(grid_.rows);
    grid_.points.assign(n, 0);
    grid_.covered.assign(n, 0);
    grid_.lowZ.assign(n, kNoValue);
    grid_.highZ.assign(n, kNoValue);
    grid_.lines.assign(n, 0);
    mark_covered(grid_, data.triangles);

    nextLine_ = 0;

    SwathProfile& s = grid_.swaths;
    s.orientation = data.flight.orientation;
    s.centreX = (data.minX + data.maxX) / 2.0;
    s.centreY = (data.minY + data.maxY) / 2.0;
    const double radians = deg_to_rad(s.orientation);
    cosO_ = std::cos(radians);
    sinO_ = std::sin(radians);
    // The model's corners seen along the flight.
    double vLow = 0.0, vHigh = 0.0;
    for (double x : {data.minX, data.maxX}) {
        for (double y : {data.minY, data.maxY}) {
            const double v = (x - s.centreX) * cosO_ + (y - s.centreY) * sinO_;
            vLow = std::min(vLow, v);
            vHigh = std::max(vHigh, v);
        }
    }
    s.lines = int(data.laserlines.lineStarts.size());
    s.stripWidth = cell;
    double strips = std::floor((vHigh - vLow) / s.stripWidth) + 1.0;
    if (strips * std::max(1, s.lines) > kMaxProfileRecords) {
        s.stripWidth *= std::ceil(strips * std::max(1, s.lines) / kMaxProfileRecords);
        strips = std::floor((vHigh - vLow) / s.stripWidth) + 1.0;
    }
    s.stripOrigin = vLow;
    s.strips = int(strips);
    s.low.assign(std::size_t(s.lines) * std::size_t(s.strips), kNoValue);
    s.high.assign(std::size_t(s.lines) * std::size_t(s.strips), kNoValue);
}

void CoverageSink::consume(const PulseChunk& chunk) {
    CoverageGrid& g = grid_;
    SwathProfile& s = g.swaths;
    // Divided, not multiplied by an inverse: a return on a cell edge falls
    // in the cell that starts there, as any other count puts it.
    const double ox = g.originX, oy = g.originY, cell = g.cell;
    const double columns = g.columns, rows = g.rows;
    const double inverseStrip = 1.0 / s.stripWidth;
    const double strips = s.strips;
    const std::vector<std::size_t>& starts = data_->laserlines.lineStarts;
    const std::size_t lineCount = starts.size();

    // Lines named by the chunk may go beyond the plan's: widen the profile
    // once per chunk, never per pulse.
    if (chunk.info) {
        std::uint32_t most = 0;
        for (std::size_t i = 0; i < chunk.count; ++i) most = std::max(most, chunk.info[i].line);
        if (int(most) > s.lines) {
            std::vector<float> low(std::size_t(most) * std::size_t(s.strips), kNoValue), high(low);
            std::copy(s.low.begin(), s.low.end(), low.begin());
            std::copy(s.high.begin(), s.high.end(), high.begin());
            s.low.swap(low);
            s.high.swap(high);
            s.lines = int(most);
        }
    }

    for (std::size_t i = 0; i < chunk.count; ++i) {
        std::uint32_t line;
        if (chunk.info) {
            line = chunk.info[i].line;
        } else {
            const std::uint64_t pulse = chunk.first + i;
            while (nextLine_ < lineCount && starts[nextLine_] <= pulse) ++nextLine_;
            line = std::uint32_t(nextLine_);
        }
        const LaserLine& laser = chunk.lasers[i];
        if (laser.hitFaceIndex < 0) continue;
        const double x = laser.hitPoint.x, y = laser.hitPoint.y;
        const double fc = std::floor((x - ox) / cell);
        const double fr = std::floor((y - oy) / cell);
        if (!(fc >= 0.0 && fc < columns && fr >= 0.0 && fr < rows)) {
            ++g.outside;
            continue;
        }
        ++g.returns;
        const std::size_t k = std::size_t(fr) * std::size_t(g.columns) + std::size_t(fc);
        ++g.points[k];
        const float z = float(laser.hitPoint.z);
        // NaN compares false: the first return sets both.
        if (!(g.lowZ[k] <= z)) g.lowZ[k] = z;
        if (!(g.highZ[k] >= z)) g.highZ[k] = z;
        if (line == 0) continue;
        g.lines[k] |= std::uint64_t(1) << ((line - 1) % 64);

        const double dx = x - s.centreX, dy = y - s.centreY;
        const double fs = std::floor((dx * cosO_ + dy * sinO_ - s.stripOrigin) * inverseStrip);
        if (!(fs >= 0.0 && fs < strips) || int(line) > s.lines) continue;
        const std::size_t p = std::size_t(line - 1) * std::size_t(s.strips) + std::size_t(fs);
        const float u = float(dy * cosO_ - dx * sinO_);
        if (!(s.low[p] <= u)) s.low[p] = u;
        if (!(s.high[p] >= u)) s.high[p] = u;
    }
}

void CoverageSink::finish() {
    for (const Product& product : products_) product(grid_);
}

CoverageGrid analyse_coverage(const SimulationData& data, double requestedCell) {
    CoverageSink sink(requestedCell);
    const std::vector<LaserLine>& lasers = data.lasers();
    sink.begin(SurveyContext{&data, lasers.size()});
    PulseChunk chunk;
    chunk.lasers = lasers.data();
    chunk.count = lasers.size();
    sink.consume(chunk);
    sink.finish();
    return std::move(sink.grid());
}

namespace {

// The overlap of lines a and b (1-based) over the strips where both have
// returns across a reasonable part of their swath.
bool line_overlap(const SwathProfile& s, int a, LineOverlap& out) {
    const std::size_t baseA = std::size_t(a - 1) * std::size_t(s.strips);
    const std::size_t baseB = std::size_t(a) * std::size_t(s.strips);
    // A strip where the model ends across the swath shows only a sliver of
    // it: strips narrower than half the line's median width are left out.
    auto median_width = [&s](std::size_t base) {
        std::vector<float> widths;
        for (int i = 0; i < s.strips; ++i) {
            const float w = s.high[base + i] - s.low[base + i];
            if (w == w) widths.push_back(w);
        }
        if (widths.empty()) return 0.0f;
        std::nth_element(widths.begin(), widths.begin() + widths.size() / 2, widths.end());
        return widths[widths.size() / 2];
    };
    const float halfA = median_width(baseA) / 2, halfB = median_width(baseB) / 2;
    std::vector<double> shares;
    double sum = 0.0;
    int strips = 0, gaps = 0;
    for (int i = 0; i < s.strips; ++i) {
        const float lowA = s.low[baseA + i], highA = s.high[baseA + i];
        const float lowB = s.low[baseB + i], highB = s.high[baseB + i];
        const float widthA = highA - lowA, widthB = highB - lowB;
        if (!(widthA > 0 && widthB > 0 && widthA >= halfA && widthB >= halfB)) continue;
        const double shared = double(std::min(highA, highB)) - double(std::max(lowA, lowB));
        const double share = shared / double(std::max(widthA, widthB));
        shares.push_back(share);
        sum += share;
        ++strips;
        if (shared < 0.0) ++gaps;
    }
    if (strips == 0) return false;
    out.lineA = a;
    out.lineB = a + 1;
    // The weak end of the strips without the odd strip where an irregular
    // model edge or a roof cuts one swath short: the 5th percentile.
    const std::size_t rank = std::size_t(std::ceil(0.05 * double(shares.size()))) - 1;
    std::nth_element(shares.begin(), shares.begin() + rank, shares.end());
    out.share = shares[rank];
    out.meanShare = sum / strips;
    out.gapLength = gaps * s.stripWidth;
    return true;
}

}  // namespace

CoverageSummary summarise_coverage(const CoverageGrid& grid, const SimulationData& data, double targetDensity) {
    (void)data;
    CoverageSummary summary;
    summary.targetDensity = targetDensity;
    summary.returns = grid.returns + grid.outside;
    const double area = grid.cell * grid.cell;
    std::vector<std::uint32_t> counts;
    counts.reserve(grid.points.size());
    std::uint64_t total = 0, empty = 0, meeting = 0;
    for (std::size_t i = 0; i < grid.points.size(); ++i) {
        if (!grid.covered[i]) continue;
        const std::uint32_t n = grid.points[i];
        counts.push_back(n);
        total += n;
        if (n == 0) ++empty;
        if (n / area >= targetDensity) ++meeting;
    }
    summary.coveredCells = counts.size();
    summary.coveredArea = double(counts.size()) * area;
    summary.emptyCoveredArea = double(empty) * area;
    if (!counts.empty()) {
        const std::size_t n = counts.size();
        summary.meanDensity = double(total) / double(n) / area;
        summary.shareMeetingTarget = double(meeting) / double(n);
        const std::size_t rank5 = std::size_t(std::ceil(0.05 * double(n))) - 1;
        std::nth_element(counts.begin(), counts.begin() + rank5, counts.end());
        summary.p5Density = counts[rank5] / area;
        std::nth_element(counts.begin(), counts.begin() + n / 2, counts.end());
        double median = counts[n / 2];
        if (n % 2 == 0) median = (median + *std::max_element(counts.begin(), counts.begin() + n / 2)) / 2.0;
        summary.medianDensity = median / area;
    }
    summary.nominalPulseSpacing =
        summary.meanDensity > 0.0 ? 1.0 / std::sqrt(summary.meanDensity) : std::numeric_limits<double>::infinity();

    const SwathProfile& s = grid.swaths;
    for (int a = 1; a < s.lines; ++a) {
        LineOverlap overlap;
        if (line_overlap(s, a, overlap)) summary.overlaps.push_back(overlap);
    }
    return summary;
}
