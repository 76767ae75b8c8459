#pragma once
#include "terrain/mesh.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

// A north-up grid over a rectangle of the model plane. Cell (column c, row r)
// spans x in [originX + c*cell, originX + (c+1)*cell) and y in
// [originY + r*cell, originY + (r+1)*cell): row 0 is the southern edge.
struct GridFrame {
    double originX = 0.0, originY = 0.0;
    double cell = 1.0;  // metres
    int columns = 0, rows = 0;

    std::size_t cells() const { return std::size_t(columns) * std::size_t(rows); }
    std::size_t index(int column, int row) const { return std::size_t(row) * std::size_t(columns) + std::size_t(column); }
    double width() const { return columns * cell; }
    double height() const { return rows * cell; }
    // Column and row of a model point, not clamped (may lie outside).
    double columnOf(double x) const { return (x - originX) / cell; }
    double rowOf(double y) const { return (y - originY) / cell; }
};

// The frame over [minX, maxX] x [minY, maxY] with square cells and at most
// maxSide cells along the longer side (at least one cell each way).
GridFrame frame_over(double minX, double minY, double maxX, double maxY, int maxSide);

// The model seen from above: the highest z of its triangles in each cell.
struct HeightRaster {
    GridFrame frame;
    std::vector<float> top;  // NaN where no triangle covers the cell
    float minZ = 0.0f, maxZ = 0.0f;  // over the covered cells

    bool empty() const { return top.empty(); }
    // Height at a model point (nearest cell); NaN outside or uncovered.
    float at(double x, double y) const {
        const double c = frame.columnOf(x), r = frame.rowOf(y);
        if (!(c >= 0.0 && r >= 0.0 && c < frame.columns && r < frame.rows)) return NAN;
        return top[frame.index(int(c), int(r))];
    }
};

// Rasterises the triangles at the cell centres (a triangle too small to hold
// a centre still marks the cell of its centroid). One pass over the
// triangles, no allocation per triangle.
HeightRaster rasterise_heights(const std::vector<Triangle>& triangles, const GridFrame& frame);

// Shading of the height raster under a sun in the north-west, 45 degrees
// high: 0 (facing away) .. 1 (facing the sun), NaN where uncovered. zFactor
// exaggerates the relief; the slopes are taken over `step` cells either
// side, so that the facets of a coarse mesh do not show as stripes.
std::vector<float> hillshade(const HeightRaster& raster, double zFactor = 1.0, int step = 1);
