#include "views/swath_plan.h"

#include <algorithm>
#include <cmath>

PlanPoint ground_reach(const Vec3& o, double ux, double uy, double tanAngle, const HeightRaster& ground,
                       double floorZ) {
    // Horizontal distance s along (ux, uy); the ray is at z = o.z - s / tan.
    auto groundAt = [&](double s) {
        const float g = ground.empty() ? NAN : ground.at(o.x + ux * s, o.y + uy * s);
        return std::isnan(g) ? floorZ : std::max(double(g), floorZ);
    };
    auto above = [&](double s) { return o.z - s / tanAngle > groundAt(s); };
    if (!(tanAngle > 1e-9) || !above(0.0)) return {o.x, o.y};
    const double reach = std::max(0.0, (o.z - floorZ) * tanAngle);
    const double step = ground.empty() ? reach : std::max(ground.frame.cell * 0.5, reach / 20000.0);
    double lo = 0.0, hi = reach;
    for (double s = step; s < reach; s += step) {
        if (!above(s)) {
            hi = s;
            break;
        }
        lo = s;
    }
    for (int i = 0; i < 24; ++i) {  // the crossing lies in [lo, hi]
        const double mid = 0.5 * (lo + hi);
        (above(mid) ? lo : hi) = mid;
    }
    return {o.x + ux * hi, o.y + uy * hi};
}

std::vector<PlannedLine> plan_swaths(const std::vector<LaserLine>& lasers, const std::vector<std::size_t>& lineStarts,
                                     double halfFovAcross, const HeightRaster& ground, double floorZ, int samples) {
    std::vector<PlannedLine> lines;
    const double tanAngle = std::tan(std::fabs(halfFovAcross) * M_PI / 180.0);
    samples = std::max(samples, 2);
    for (std::size_t i = 0; i < lineStarts.size(); ++i) {
        const std::size_t first = std::min(lineStarts[i], lasers.size());
        const std::size_t end = i + 1 < lineStarts.size() ? std::min(lineStarts[i + 1], lasers.size()) : lasers.size();
        if (end <= first) continue;
        PlannedLine line;
        line.number = static_cast<int>(i) + 1;
        const Vec3& a = lasers[first].origin;
        const Vec3& b = lasers[end - 1].origin;
        line.start = {a.x, a.y};
        line.end = {b.x, b.y};
        double hx = b.x - a.x, hy = b.y - a.y;
        const double length = std::hypot(hx, hy);
        if (length > 0.0) {
            hx /= length;
            hy /= length;
        } else {
            hx = 1.0;
            hy = 0.0;
        }
        // Left of the heading is (-hy, hx).
        const std::size_t count = end - first;
        const int n = static_cast<int>(std::min<std::size_t>(count, static_cast<std::size_t>(samples)));
        for (int s = 0; s < n; ++s) {
            const std::size_t k = n == 1 ? first : first + (count - 1) * static_cast<std::size_t>(s) / (n - 1);
            const Vec3& o = lasers[k].origin;
            line.left.push_back(ground_reach(o, -hy, hx, tanAngle, ground, floorZ));
            line.right.push_back(ground_reach(o, hy, -hx, tanAngle, ground, floorZ));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}
