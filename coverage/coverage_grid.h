#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

class SimulationData;

// Across-track extent of every flight line's returns, in strips across the
// flight direction: the raw material of the side overlap. Along-track v and
// across-track u are measured from the model's centre (v along the
// orientation, u ninety degrees to its left).
struct SwathProfile {
    double orientation = 0.0;  // degrees, as the wizard's
    double centreX = 0.0, centreY = 0.0;
    double stripOrigin = 0.0;  // v of the first strip's lower edge
    double stripWidth = 1.0;   // m
    int strips = 0;
    int lines = 0;
    // (line - 1) * strips + strip: smallest and largest u of the line's
    // returns in the strip; NaN where it has none.
    std::vector<float> low, high;
};

// A raster over the model's xy bounds that counts the returns per cell.
// Cell (column c, row r) spans x in [originX + c*cell, originX + (c+1)*cell)
// and y in [originY + r*cell, originY + (r+1)*cell): row 0 is the southern
// edge (a GeoTIFF flips it).
struct CoverageGrid {
    double originX = 0.0, originY = 0.0;
    double cell = 1.0;  // metres
    int columns = 0, rows = 0;

    std::vector<std::uint32_t> points;  // returns per cell
    std::vector<std::uint8_t> covered;  // 1 where the model's triangles cover the cell in plan view
    std::vector<float> lowZ, highZ;     // NaN where the cell has no return
    // Flight lines with a return in the cell: bit (line - 1) % 64, lines
    // numbered from 1 in flight order.
    std::vector<std::uint64_t> lines;

    std::uint64_t returns = 0;  // returns counted in a cell
    std::uint64_t outside = 0;  // returns outside the raster (moved off the model by the error step)
    SwathProfile swaths;

    std::size_t index(int column, int row) const { return std::size_t(row) * std::size_t(columns) + std::size_t(column); }
    double density(std::size_t i) const { return points[i] / (cell * cell); }  // points per m2
};

// Side overlap actually reached between two neighbouring flight lines: in
// every strip across the flight where both lines have returns, the width
// where both have returns (negative: the width of the gap between them)
// divided by the wider of the two swaths there.
struct LineOverlap {
    int lineA = 0, lineB = 0;  // 1-based, lineB = lineA + 1
    double share = 0.0;        // 5th percentile over the strips: where the plan is weakest (negative: a gap)
    double meanShare = 0.0;    // mean over the strips
    double gapLength = 0.0;    // m along the flight where the two swaths leave a gap
};

// The figures a survey planner checks, over the covered cells only.
struct CoverageSummary {
    double targetDensity = 2.0;      // points per m2
    double meanDensity = 0.0;        // points per m2
    double medianDensity = 0.0;
    double p5Density = 0.0;          // 5th percentile (nearest rank)
    double nominalPulseSpacing = 0.0;  // m, 1 / sqrt(mean density); infinite without returns
    double shareMeetingTarget = 0.0;   // 0..1 of the covered cells
    double emptyCoveredArea = 0.0;     // m2 of covered cells without a return
    std::size_t coveredCells = 0;
    double coveredArea = 0.0;          // m2
    std::uint64_t returns = 0;         // all returns, in the raster or not
    std::vector<LineOverlap> overlaps;
};

// Largest number of cells on either side of an automatic raster.
constexpr int kMaxCoverageSide = 4096;

// Cell size for `requested` metres, or automatic when requested <= 0: the
// smallest of 1, 2, 5, 10, 20, ... m that keeps both sides at most 4096 cells
// and, when the expected density (points per m2) is known, is at least twice
// the expected pulse spacing, so that a cell holds a few returns.
double coverage_cell_size(double requested, double width, double height, double expectedDensity = 0.0);

// Where the raster of a model with these xy limits lies for a cell size:
// the origin on a whole multiple of the cell, enough cells to hold maxX and
// maxY.
struct CoverageLayout {
    double originX = 0.0, originY = 0.0;
    double cell = 1.0;
    double columns = 0.0, rows = 0.0;  // may exceed an int for an absurd cell
};
CoverageLayout coverage_layout(double minX, double minY, double maxX, double maxY, double cell);

// Returns per m2 the wizard's plan will give on the ground, from the pulse
// count over the flight area (0 when unknown).
double expected_pulse_density(const SimulationData& data, std::uint64_t pulseCount);

// Counts the returns of the laser records in `data` (in memory) on a grid
// over the model's xy bounds.
CoverageGrid analyse_coverage(const SimulationData& data, double requestedCell);

CoverageSummary summarise_coverage(const CoverageGrid& grid, const SimulationData& data, double targetDensity);
