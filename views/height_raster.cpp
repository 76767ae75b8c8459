#include "views/height_raster.h"

#include <algorithm>
#include <limits>

GridFrame frame_over(double minX, double minY, double maxX, double maxY, int maxSide) {
    GridFrame frame;
    frame.originX = minX;
    frame.originY = minY;
    const double w = std::max(maxX - minX, 0.0);
    const double h = std::max(maxY - minY, 0.0);
    const double longer = std::max(w, h);
    maxSide = std::max(maxSide, 1);
    frame.cell = longer > 0.0 && std::isfinite(longer) ? longer / maxSide : 1.0;
    frame.columns = std::clamp(static_cast<int>(std::ceil(w / frame.cell - 1e-9)), 1, maxSide);
    frame.rows = std::clamp(static_cast<int>(std::ceil(h / frame.cell - 1e-9)), 1, maxSide);
    return frame;
}

HeightRaster rasterise_heights(const std::vector<Triangle>& triangles, const GridFrame& frame) {
    HeightRaster raster;
    raster.frame = frame;
    raster.top.assign(frame.cells(), std::numeric_limits<float>::quiet_NaN());
    if (frame.cells() == 0) return raster;
    float* top = raster.top.data();
    const double inv = 1.0 / frame.cell;
    auto raise = [&](int c, int r, double z) {
        float& cell = top[frame.index(c, r)];
        const float v = static_cast<float>(z);
        if (!(cell >= v)) cell = v;  // NaN or lower
    };

    for (const Triangle& t : triangles) {
        // Corners in cell units.
        const double ax = (t.a.x - frame.originX) * inv, ay = (t.a.y - frame.originY) * inv;
        const double bx = (t.b.x - frame.originX) * inv, by = (t.b.y - frame.originY) * inv;
        const double cx = (t.c.x - frame.originX) * inv, cy = (t.c.y - frame.originY) * inv;
        if (!(std::isfinite(ax + ay + bx + by + cx + cy))) continue;
        const double area = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
        // Cell centres sit at (c + 0.5, r + 0.5).
        const int c0 = std::max(0, static_cast<int>(std::ceil(std::min({ax, bx, cx}) - 0.5)));
        const int c1 = std::min(frame.columns - 1, static_cast<int>(std::floor(std::max({ax, bx, cx}) - 0.5)));
        const int r0 = std::max(0, static_cast<int>(std::ceil(std::min({ay, by, cy}) - 0.5)));
        const int r1 = std::min(frame.rows - 1, static_cast<int>(std::floor(std::max({ay, by, cy}) - 0.5)));
        bool marked = false;
        if (area != 0.0 && c0 <= c1 && r0 <= r1) {
            const double invArea = 1.0 / area;
            for (int r = r0; r <= r1; ++r) {
                const double py = r + 0.5;
                for (int c = c0; c <= c1; ++c) {
                    const double px = c + 0.5;
                    // Barycentric weights; all of one sign inside.
                    const double wa = ((bx - px) * (cy - py) - (cx - px) * (by - py)) * invArea;
                    const double wb = ((cx - px) * (ay - py) - (ax - px) * (cy - py)) * invArea;
                    const double wc = 1.0 - wa - wb;
                    if (wa < -1e-9 || wb < -1e-9 || wc < -1e-9) continue;
                    raise(c, r, wa * t.a.z + wb * t.b.z + wc * t.c.z);
                    marked = true;
                }
            }
        }
        if (!marked) {
            const double mx = (ax + bx + cx) / 3.0, my = (ay + by + cy) / 3.0;
            if (mx >= 0.0 && my >= 0.0 && mx < frame.columns && my < frame.rows)
                raise(static_cast<int>(mx), static_cast<int>(my), t.topZ);
        }
    }

    bool any = false;
    float lo = 0.0f, hi = 0.0f;
    for (float z : raster.top) {
        if (std::isnan(z)) continue;
        if (!any) lo = hi = z;
        lo = std::min(lo, z);
        hi = std::max(hi, z);
        any = true;
    }
    raster.minZ = lo;
    raster.maxZ = hi;
    return raster;
}

std::vector<float> hillshade(const HeightRaster& raster, double zFactor, int step) {
    step = std::max(step, 1);
    const GridFrame& f = raster.frame;
    std::vector<float> shade(f.cells(), std::numeric_limits<float>::quiet_NaN());
    // Sun from the north-west (azimuth 315 degrees), 45 degrees high.
    const double altitude = 45.0 * M_PI / 180.0;
    const double azimuth = (360.0 - 315.0 + 90.0) * M_PI / 180.0;  // mathematical angle
    const double lx = std::cos(altitude) * std::cos(azimuth);
    const double ly = std::cos(altitude) * std::sin(azimuth);
    const double lz = std::sin(altitude);
    auto z = [&](int c, int r, float fallback) {
        c = std::clamp(c, 0, f.columns - 1);
        r = std::clamp(r, 0, f.rows - 1);
        const float v = raster.top[f.index(c, r)];
        return std::isnan(v) ? fallback : v;
    };
    for (int r = 0; r < f.rows; ++r) {
        for (int c = 0; c < f.columns; ++c) {
            const float here = raster.top[f.index(c, r)];
            if (std::isnan(here)) continue;
            // Slopes east and north by central differences.
            const double dzdx = (z(c + step, r, here) - z(c - step, r, here)) * zFactor / (2.0 * step * f.cell);
            const double dzdy = (z(c, r + step, here) - z(c, r - step, here)) * zFactor / (2.0 * step * f.cell);
            // Surface normal (-dzdx, -dzdy, 1), normalised.
            const double n = std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0);
            const double lit = (-dzdx * lx - dzdy * ly + lz) / n;
            shade[f.index(c, r)] = static_cast<float>(std::clamp(lit, 0.0, 1.0));
        }
    }
    return shade;
}
