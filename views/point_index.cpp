#include "views/point_index.h"

#include "products/return_attributes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace {

// floor() for values well inside the int range, without a library call.
inline int floor_int(double v) {
    const int i = static_cast<int>(v);
    return i - (v < i);
}

}  // namespace

void PointIndex::clear() { *this = PointIndex(); }

void PointIndex::build(const std::vector<LaserLine>& lasers, const std::vector<std::size_t>& lineStarts,
                       const PointAttributeSources& sources) {
    clear();
    // Pass 1: how many returns and their bounds.
    std::size_t count = 0;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0, z0 = 0, z1 = 0;
    for (std::size_t k = 0; k < lasers.size(); ++k) {
        const LaserLine& l = lasers[k];
        if (l.hitFaceIndex == -1) continue;
        const Vec3& p = l.hitPoint;
        if (!std::isfinite(p.x + p.y + p.z)) continue;
        if (count == 0) {
            x0 = x1 = p.x;
            y0 = y1 = p.y;
            z0 = z1 = p.z;
        }
        x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
        z0 = std::min(z0, p.z), z1 = std::max(z1, p.z);
        ++count;
    }
    lineCount_ = static_cast<int>(lineStarts.size());
    if (count == 0 || count > std::numeric_limits<std::uint32_t>::max()) return;

    originX_ = x0;
    originY_ = y0;
    spanX_ = x1 - x0;
    spanY_ = y1 - y0;
    minZ_ = static_cast<float>(z0);
    maxZ_ = static_cast<float>(z1);
    hasClasses_ = sources.classes != nullptr;
    hasIntensity_ = sources.intensity != nullptr;
    // About 64 points per tile, at most 512 tiles a side.
    const double area = std::max(spanX_ * spanY_, 1e-6);
    tileSize_ = std::max(std::sqrt(area * 64.0 / static_cast<double>(count)),
                         std::max(spanX_, spanY_) / 512.0);
    if (!(tileSize_ > 0.0)) tileSize_ = 1.0;
    tilesX_ = std::clamp(static_cast<int>(spanX_ / tileSize_) + 1, 1, 513);
    tilesY_ = std::clamp(static_cast<int>(spanY_ / tileSize_) + 1, 1, 513);
    const double inv = 1.0 / tileSize_;
    auto tileOf = [&](const Vec3& p) {
        const int tx = std::min(tilesX_ - 1, static_cast<int>((p.x - originX_) * inv));
        const int ty = std::min(tilesY_ - 1, static_cast<int>((p.y - originY_) * inv));
        return static_cast<std::size_t>(ty) * static_cast<std::size_t>(tilesX_) + static_cast<std::size_t>(tx);
    };
    auto keep = [&](const LaserLine& l) {
        return l.hitFaceIndex != -1 && std::isfinite(l.hitPoint.x + l.hitPoint.y + l.hitPoint.z);
    };

    // Pass 2: points per tile, then the start of each tile.
    tileStart_.assign(static_cast<std::size_t>(tilesX_) * static_cast<std::size_t>(tilesY_) + 1, 0);
    for (const LaserLine& l : lasers)
        if (keep(l)) ++tileStart_[tileOf(l.hitPoint) + 1];
    for (std::size_t t = 1; t < tileStart_.size(); ++t) tileStart_[t] += tileStart_[t - 1];

    // Pass 3: place every return in its tile, in survey order.
    points_.resize(count);
    std::vector<std::uint32_t> next(tileStart_.begin(), tileStart_.end() - 1);
    std::size_t line = 0;  // 0-based line of record k
    for (std::size_t k = 0; k < lasers.size(); ++k) {
        while (line + 1 < lineStarts.size() && k >= lineStarts[line + 1]) ++line;
        const LaserLine& l = lasers[k];
        if (!keep(l)) continue;
        ViewPoint& v = points_[next[tileOf(l.hitPoint)]++];
        v.x = static_cast<float>(l.hitPoint.x - originX_);
        v.y = static_cast<float>(l.hitPoint.y - originY_);
        v.z = static_cast<float>(l.hitPoint.z);
        v.line = lineStarts.empty() ? 0 : static_cast<std::uint16_t>(std::min<std::size_t>(line + 1, 65535));
        if (sources.classes) {
            v.pointClass = sources.classes->classification(l.hitFaceIndex);
            classSeen_[v.pointClass / 64] |= std::uint64_t(1) << (v.pointClass % 64);
        }
        if (sources.intensity) v.intensity = static_cast<std::uint8_t>(sources.intensity->intensity(l, v.pointClass) >> 8);
    }
}

Argb point_colour(const PointIndex& index, const ViewPoint& p, PointColouring colouring) {
    switch (colouring) {
    case PointColouring::Class: return class_colour(p.pointClass);
    case PointColouring::FlightLine: return line_colour(p.line);
    case PointColouring::Intensity: return intensity_colour(p.intensity / 255.0);
    case PointColouring::Height: break;
    }
    const float span = index.maxZ() - index.minZ();
    return height_colour(span > 0.0f ? (p.z - index.minZ()) / span : 0.5);
}

void render_top_view(const PointIndex& index, const TopViewWindow& w, PointColouring colouring, Argb background,
                     std::vector<Argb>& argb, std::vector<float>& depth) {
    const std::size_t pixels = static_cast<std::size_t>(std::max(w.width, 0)) * static_cast<std::size_t>(std::max(w.height, 0));
    argb.assign(pixels, 0);  // first the winning point + 1, 0 for none
    depth.assign(pixels, -std::numeric_limits<float>::infinity());
    if (pixels == 0 || index.empty() || !(w.metresPerPixel > 0.0)) {
        std::fill(argb.begin(), argb.end(), background);
        return;
    }

    // Square splats twice as wide as the mean spacing of the returns: the
    // sweeps of a scanner lie further apart along the flight than across.
    const double area = std::max((index.maxX() - index.minX()) * (index.maxY() - index.minY()), 1e-6);
    const double spacingPx = std::sqrt(area / static_cast<double>(index.size())) / w.metresPerPixel;
    const int splat = std::clamp(static_cast<int>(std::lround(2.0 * spacingPx)), 1, 12);
    const int before = (splat - 1) / 2;

    // Pixel coordinates of a point: px = (x - left) / mpp, py = (top - y) / mpp.
    const double inv = 1.0 / w.metresPerPixel;
    const double offX = (index.originX() - w.left) * inv;
    const double offY = (w.top - index.originY()) * inv;
    const double right = w.left + w.width * w.metresPerPixel;
    const double bottom = w.top - w.height * w.metresPerPixel;
    const double margin = splat * w.metresPerPixel;
    const double ts = index.tileSize();
    const int tx0 = std::max(0, static_cast<int>(std::floor((w.left - margin - index.originX()) / ts)));
    const int tx1 = std::min(index.tilesX() - 1, static_cast<int>(std::floor((right + margin - index.originX()) / ts)));
    const int ty0 = std::max(0, static_cast<int>(std::floor((bottom - margin - index.originY()) / ts)));
    const int ty1 = std::min(index.tilesY() - 1, static_cast<int>(std::floor((w.top + margin - index.originY()) / ts)));
    const std::vector<ViewPoint>& pts = index.points();
    const std::vector<std::uint32_t>& start = index.tileStart();
    float* d = depth.data();
    Argb* win = argb.data();
    for (int ty = ty0; ty <= ty1; ++ty) {
        for (int tx = tx0; tx <= tx1; ++tx) {
            const std::size_t t = static_cast<std::size_t>(ty) * static_cast<std::size_t>(index.tilesX()) + tx;
            if (splat == 1) {
                // One pixel per point: the common case of a whole survey.
                for (std::uint32_t i = start[t]; i < start[t + 1]; ++i) {
                    const ViewPoint& p = pts[i];
                    const int px = floor_int(p.x * inv + offX), py = floor_int(offY - p.y * inv);
                    if (static_cast<unsigned>(px) >= static_cast<unsigned>(w.width) ||
                        static_cast<unsigned>(py) >= static_cast<unsigned>(w.height))
                        continue;
                    const std::size_t at = static_cast<std::size_t>(py) * static_cast<std::size_t>(w.width) + px;
                    if (p.z > d[at]) {
                        d[at] = p.z;
                        win[at] = i + 1;
                    }
                }
                continue;
            }
            for (std::uint32_t i = start[t]; i < start[t + 1]; ++i) {
                const ViewPoint& p = pts[i];
                const int px = floor_int(p.x * inv + offX) - before;
                const int py = floor_int(offY - p.y * inv) - before;
                if (px >= w.width || py >= w.height || px + splat <= 0 || py + splat <= 0) continue;
                const int xa = std::max(px, 0), xb = std::min(px + splat, w.width);
                const int ya = std::max(py, 0), yb = std::min(py + splat, w.height);
                for (int y = ya; y < yb; ++y) {
                    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w.width);
                    for (int x = xa; x < xb; ++x) {
                        if (p.z > d[row + x]) {
                            d[row + x] = p.z;
                            win[row + x] = i + 1;
                        }
                    }
                }
            }
        }
    }

    // Close the holes between scan lines where the splats are small: an
    // empty pixel with at least five of its eight neighbours drawn takes the
    // highest of them. Two passes; a gap wider than that (two pixels with a
    // straight edge) stays open.
    std::vector<Argb> winBefore;
    std::vector<float> depthBefore;
    for (int pass = 0; pass < (splat <= 2 ? 2 : 0); ++pass) {
        winBefore.assign(argb.begin(), argb.end());
        depthBefore.assign(depth.begin(), depth.end());
        for (int y = 1; y + 1 < w.height; ++y) {
            for (int x = 1; x + 1 < w.width; ++x) {
                const std::size_t at = static_cast<std::size_t>(y) * w.width + x;
                if (winBefore[at] != 0) continue;
                int drawn = 0;
                std::size_t best = at;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const std::size_t n = at + static_cast<std::ptrdiff_t>(dy) * w.width + dx;
                        if (winBefore[n] == 0) continue;
                        ++drawn;
                        if (best == at || depthBefore[n] > depthBefore[best]) best = n;
                    }
                }
                if (drawn >= 5) {
                    win[at] = winBefore[best];
                    d[at] = depthBefore[best];
                }
            }
        }
    }

    // Colour the winners, lit by the relief of the depth buffer.
    const double altitude = 45.0 * M_PI / 180.0, azimuth = 135.0 * M_PI / 180.0;
    const double lx = std::cos(altitude) * std::cos(azimuth), ly = std::cos(altitude) * std::sin(azimuth);
    const double lz = std::sin(altitude);
    auto depthAt = [&](int x, int y, float fallback) {
        if (x < 0 || y < 0 || x >= w.width || y >= w.height) return fallback;
        const float v = d[static_cast<std::size_t>(y) * w.width + x];
        return std::isfinite(v) ? v : fallback;
    };
    for (int y = 0; y < w.height; ++y) {
        for (int x = 0; x < w.width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * w.width + x;
            if (win[at] == 0) {
                win[at] = background;
                continue;
            }
            const float here = d[at];
            const double dzdx = (depthAt(x + 1, y, here) - depthAt(x - 1, y, here)) * inv / 2.0;
            const double dzdy = (depthAt(x, y - 1, here) - depthAt(x, y + 1, here)) * inv / 2.0;  // north is up
            const double lit = (-dzdx * lx - dzdy * ly + lz) / std::sqrt(dzdx * dzdx + dzdy * dzdy + 1.0);
            win[at] = shaded(point_colour(index, pts[win[at] - 1], colouring), lit / lz, 0.55);
        }
    }
}

std::vector<ViewPoint> thin_evenly(const PointIndex& index, std::size_t maxPoints) {
    const std::vector<ViewPoint>& pts = index.points();
    if (pts.size() <= maxPoints) return pts;
    std::vector<ViewPoint> kept;
    if (maxPoints == 0) return kept;
    kept.reserve(maxPoints);
    // Evenly spaced picks: the i-th of maxPoints at floor(i * n / maxPoints).
    const double step = static_cast<double>(pts.size()) / static_cast<double>(maxPoints);
    for (std::size_t i = 0; i < maxPoints; ++i) kept.push_back(pts[static_cast<std::size_t>(i * step)]);
    return kept;
}
