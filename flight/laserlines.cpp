#include "flight/laserlines.h"

#include "app/angles.h"
#include "app/failure.h"
#include "flight/flight_lines.h"
#include "flight/pulse_generator.h"
#include "flight/realistic_trajectory.h"

#include <algorithm>

#include <cmath>
#include <cstddef>
#include <ctime>
#include <limits>
#include <string>

#include <QString>

#if defined(__unix__)
#include <unistd.h>
#endif

// ---------------------------------------------------------------------------
// Flight-line geometry

FlightArea widen_flight_area(double minX, double minY, double minZ, double maxX, double maxY, double maxZ) {
    FlightArea area;
    // The upper side is widened from the already widened lower limit, so it
    // moves out by 0.3125 of the extent while the lower side moves by 0.25.
    area.minX = minX - 0.25 * (maxX - minX);
    area.maxX = maxX + 0.25 * (maxX - area.minX);
    area.minY = minY - 0.25 * (maxY - minY);
    area.maxY = maxY + 0.25 * (maxY - area.minY);
    area.minZ = minZ - 0.25 * (maxZ - minZ);
    area.maxZ = maxZ + 0.25 * (maxZ - area.minZ);
    return area;
}

LineExtent plan_line_extent(double orientation, const FlightArea& area, double meanHeight) {
    const double radians = deg_to_rad(orientation);
    const double td = std::tan(radians);
    const double sd = std::sin(radians);
    const double dx = area.maxX - area.minX;
    const double dy = area.maxY - area.minY;
    LineExtent extent;
    // The width across the flight uses the sine of the orientation (not the
    // cosine) on both oblique ranges; the line intercepts do the same.
    if (orientation > 0.1 && orientation < 89.9) {
        extent.width = sd * std::fabs(td * dx + dy);
        extent.start = Vec3{area.minX, area.maxY, meanHeight};
    } else if (orientation > 90.1) {
        extent.width = sd * std::fabs(dy - td * dx);
        extent.start = Vec3{area.maxX, area.maxY, meanHeight};
    } else if (is_horizontal(orientation)) {
        extent.width = std::fabs(dy);
        extent.start = Vec3{area.maxX, area.maxY, meanHeight};
    } else if (is_vertical(orientation)) {
        extent.width = dx;
        extent.start = Vec3{area.minX, area.minY, meanHeight};
    } else {
        // Only a NaN orientation gets here: no width, so no line.
        extent.width = std::numeric_limits<double>::quiet_NaN();
        extent.start = Vec3{area.maxX, area.maxY, meanHeight};
    }
    return extent;
}

FlightSegment clip_flight_line(double orientation, double lineValue, int sense, const FlightArea& area,
                               double meanHeight, int lineCount, double centreX, double centreY) {
    FlightSegment segment;
    if (is_horizontal(orientation)) {
        const double y = lineCount <= 1 ? centreY : lineValue;
        const Vec3 east{area.maxX, y, meanHeight};
        const Vec3 west{area.minX, y, meanHeight};
        segment.start = sense > 0 ? east : west;
        segment.end = sense > 0 ? west : east;
        segment.valid = true;
        return segment;
    }
    if (is_vertical(orientation)) {
        const double x = lineCount <= 1 ? centreX : lineValue;
        const Vec3 south{x, area.minY, meanHeight};
        const Vec3 north{x, area.maxY, meanHeight};
        segment.start = sense > 0 ? south : north;
        segment.end = sense > 0 ? north : south;
        segment.valid = true;
        return segment;
    }

    // Oblique: y = td * x + lineValue cut with the edges in the order top,
    // right, left, bottom; the first two points found are the ends.
    const double td = std::tan(deg_to_rad(orientation));
    Vec3 found[2];
    int count = 0;
    auto keep = [&](double x, double y) {
        if (count < 2) found[count++] = Vec3{x, y, meanHeight};
    };
    const double topX = (area.maxY - lineValue) / td;
    if (area.minX <= topX && topX <= area.maxX) keep(topX, area.maxY);
    const double rightY = td * area.maxX + lineValue;
    if (area.minY <= rightY && rightY <= area.maxY) keep(area.maxX, rightY);
    const double leftY = td * area.minX + lineValue;
    if (area.minY <= leftY && leftY <= area.maxY) keep(area.minX, leftY);
    const double bottomX = (area.minY - lineValue) / td;
    if (area.minX <= bottomX && bottomX <= area.maxX) keep(bottomX, area.minY);
    if (count < 2) return segment;  // misses the area: the caller skips it

    // Sense +1 starts at the higher point (the second one found when both are
    // equally high); sense -1 flies the same line the other way.
    const Vec3& high = found[0].y > found[1].y ? found[0] : found[1];
    const Vec3& low = found[0].y > found[1].y ? found[1] : found[0];
    segment.start = sense > 0 ? high : low;
    segment.end = sense > 0 ? low : high;
    segment.valid = true;
    return segment;
}

// ---------------------------------------------------------------------------
// Origin pass

namespace {

std::uint32_t current_time_seed() { return static_cast<std::uint32_t>(std::time(nullptr)); }

}  // namespace

void Laserlines::compute_origins(double prf, double velocity, double halfFovAcross, double overlap,
                                 double meanHeight, double orientation, double minX, double minY, double minZ,
                                 double maxX, double maxY, double maxZ, bool realistic,
                                 const TrajectoryTerms& terms) {
    compute_origins(prf, velocity, halfFovAcross, overlap, meanHeight, orientation, minX, minY, minZ, maxX, maxY,
                    maxZ, realistic, terms, current_time_seed());
}

void Laserlines::compute_origins(double prf, double velocity, double halfFovAcross, double overlap,
                                 double meanHeight, double orientation, double minX, double minY, double minZ,
                                 double maxX, double maxY, double maxZ, bool realistic, const TrajectoryTerms& terms,
                                 std::uint32_t seed, double spacingGround) {
    OriginPlan plan(prf, velocity, halfFovAcross, overlap, meanHeight, orientation,
                    ModelLimits{minX, minY, minZ, maxX, maxY, maxZ}, realistic, terms, seed, spacingGround);
    lineStarts.clear();
    if (!plan.laid()) return;  // no flight line at all
    // Size the run first: refuse one that cannot fit in memory, then reserve
    // exactly what the lines will take.
    plan.refuse_beyond_memory();
    plan.count();
    const std::size_t before = lasers.size();
    lasers.reserve(before + static_cast<std::size_t>(plan.pulses()));

    emit max_limit(plan.progressMaximum());
    LaserLine record;
    record.reset_laser();
    record.set_direction(0.0, 0.0, 1.0);  // provisional; the direction pass sets it
    OriginPlan::Cursor cursor;
    const int lines = plan.lines();
    lineStarts.reserve(static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        emit value_changed(static_cast<double>(i));
        lineStarts.push_back(lasers.size());
        const std::size_t n = static_cast<std::size_t>(plan.linePulses(i));
        const std::size_t at = lasers.size();
        lasers.resize(at + n, record);
        plan.origins(cursor, n, lasers.data() + at);
    }
    emit value_changed(plan.progressMaximum());
}

// ---------------------------------------------------------------------------
// Direction pass

void Laserlines::compute_directions(double prf, double halfFovAcross, double orientation, ScanPattern pattern,
                                    double scanFrequency, double halfFovAlong, bool realistic,
                                    const TrajectoryTerms& terms) {
    compute_directions(prf, halfFovAcross, orientation, pattern, scanFrequency, halfFovAlong, realistic, terms,
                       current_time_seed());
}

void Laserlines::compute_directions(double prf, double halfFovAcross, double orientation, ScanPattern pattern,
                                    double scanFrequency, double halfFovAlong, bool realistic,
                                    const TrajectoryTerms& terms, std::uint32_t seed) {
    const std::size_t n = lasers.size();
    const DirectionPlan plan(prf, halfFovAcross, orientation, pattern, scanFrequency, halfFovAlong, realistic, terms,
                             seed, n);
    emit max_limit(static_cast<double>(n));
    // The value of pulse k is shown whenever k reaches the threshold, which
    // then moves on by n / 20 (every pulse below 20): the pulses between two
    // reports are laid as one run.
    const std::size_t step = n / 20;
    std::size_t threshold = 0;
    DirectionPlan::Cursor cursor;
    for (std::size_t k = 0; k < n;) {
        if (k >= threshold) {
            emit value_changed(static_cast<double>(k));
            threshold += step;
        }
        const std::size_t next = std::min(n, step == 0 ? k + 1 : std::max(k + 1, threshold));
        plan.directions(cursor, next - k, lasers.data() + k);
        k = next;
    }
    emit value_changed(static_cast<double>(n));
}

// ---------------------------------------------------------------------------
// Expected hits

int Laserlines::count_expected_hits(double maxX, double maxY, double maxZ, double minX, double minY,
                                    double minZ) const {
    return static_cast<int>(
        ::count_expected_hits(lasers.data(), lasers.size(), ModelLimits{minX, minY, minZ, maxX, maxY, maxZ}));
}
