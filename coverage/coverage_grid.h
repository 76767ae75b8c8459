#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

class SimulationData;

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

    std::size_t index(int column, int row) const { return std::size_t(row) * std::size_t(columns) + std::size_t(column); }
    double density(std::size_t i) const { return points[i] / (cell * cell); }  // points per m2
};

// Side overlap actually reached between two neighbouring flight lines.
struct LineOverlap {
    int lineA = 0, lineB = 0;  // 1-based, lineB = lineA + 1
    double share = 0.0;        // overlap width as a share of the swath width (negative: a gap)
};

// The figures a survey planner checks, over the covered cells only.
struct CoverageSummary {
    double targetDensity = 2.0;      // points per m2
    double meanDensity = 0.0;        // points per m2
    double medianDensity = 0.0;
    double p5Density = 0.0;          // 5th percentile
    double nominalPulseSpacing = 0.0;  // m, 1 / sqrt(mean density)
    double shareMeetingTarget = 0.0;   // 0..1 of the covered cells
    double emptyCoveredArea = 0.0;     // m2 of covered cells without a return
    std::size_t coveredCells = 0;
    std::vector<LineOverlap> overlaps;
};

// Cell size for `requested` metres, or automatic when requested <= 0: the
// smallest of 1, 2, 5, 10, 20, ... m that keeps both sides at most 4096 cells.
double coverage_cell_size(double requested, double width, double height);

// Counts the returns of the laser records in `data` (in memory) on a grid
// over the model's xy bounds.
CoverageGrid analyse_coverage(const SimulationData& data, double requestedCell);

CoverageSummary summarise_coverage(const CoverageGrid& grid, const SimulationData& data, double targetDensity);
