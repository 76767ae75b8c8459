#include "flight/laserlines.h"

#include "app/angles.h"
#include "app/failure.h"
#include "flight/flight_lines.h"
#include "flight/realistic_trajectory.h"

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

// Largest number of laser records this machine could hold.
double record_capacity() {
    double bytes = std::numeric_limits<double>::infinity();
#if defined(__unix__) && defined(_SC_PHYS_PAGES) && defined(_SC_PAGE_SIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0) bytes = static_cast<double>(pages) * static_cast<double>(pageSize);
#endif
    const double byMemory = bytes / static_cast<double>(sizeof(LaserLine));
    const double byVector = static_cast<double>(std::vector<LaserLine>().max_size());
    return byMemory < byVector ? byMemory : byVector;
}

// The flight lines of one run, worked out once and walked three times
// (sizing, counting, then laying the pulses).
struct FlightPlan {
    FlightArea area;
    double orientation = 0.0;
    double meanHeight = 0.0;
    double centreX = 0.0, centreY = 0.0;
    double spacing = 0.0;  // S
    double td = 0.0, sd = 0.0;
    double intercept = 0.0;  // c
    int lineCount = -1;      // N; -1 when no line is laid
    bool single = false;

    int lines() const { return lineCount < 0 ? 0 : (single ? 1 : lineCount); }

    // Line i (0-based flight order); k is 0 for the single line, i + 1 else.
    FlightSegment segment(int i) const {
        const int sense = (i % 2 == 0) ? 1 : -1;
        const double k = single ? 0.0 : static_cast<double>(i + 1);
        double value;
        if (is_horizontal(orientation)) {
            value = area.maxY - k * spacing;
        } else if (is_vertical(orientation)) {
            value = area.minX + k * spacing;
        } else {
            value = single ? intercept : intercept - k * spacing / sd;
        }
        return clip_flight_line(orientation, value, sense, area, meanHeight, single ? 1 : lineCount, centreX,
                                centreY);
    }
};

FlightPlan plan_flight(double halfFovAcross, double overlap, double meanHeight, double orientation, double minX,
                       double minY, double minZ, double maxX, double maxY, double maxZ, double spacingGround) {
    FlightPlan plan;
    plan.area = widen_flight_area(minX, minY, minZ, maxX, maxY, maxZ);
    plan.orientation = orientation;
    plan.meanHeight = meanHeight;
    plan.centreX = (minX + maxX) / 2.0;
    plan.centreY = (minY + maxY) / 2.0;
    const double radians = deg_to_rad(orientation);
    plan.td = std::tan(radians);
    plan.sd = std::sin(radians);
    // Overlap is a share of half the swath: S = swath - overlap/100 * half
    // swath, hence the factor 2 - overlap/100.
    // The height above the ground at z = spacingGround (meanHeight - 0 is
    // meanHeight exactly: the wizard's plan keeps its values).
    const double height = meanHeight - spacingGround;
    plan.spacing = std::fabs(std::tan(deg_to_rad(halfFovAcross)) * (2.0 - overlap / 100.0) * height);

    const LineExtent extent = plan_line_extent(orientation, plan.area, meanHeight);
    const double quotient = extent.width / plan.spacing;
    // S = 0 (or a width without meaning) leaves no number of lines: no line.
    if (!std::isfinite(quotient) || quotient >= 2147483648.0 || quotient <= -2147483649.0) return plan;
    const int n = static_cast<int>(quotient);  // truncated toward zero
    if (n < 0) return plan;
    plan.lineCount = n;
    plan.single = n <= 1;
    plan.intercept = plan.single ? plan.centreY - plan.td * plan.centreX : extent.start.y - extent.start.x * plan.td;
    return plan;
}

// How long the aircraft needs for a line, and its velocity vector.
struct LineMotion {
    double duration = 0.0;  // T; 0 when the line gives no pulse
    Vec3 velocity;
};

LineMotion line_motion(const FlightSegment& segment, double velocity) {
    LineMotion motion;
    if (!segment.valid) return motion;
    const Vec3 d = segment.end - segment.start;
    const double length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    const double duration = length / velocity;
    // A zero velocity makes T infinite: no pulses rather than an endless line.
    if (!(duration > 0.0) || !std::isfinite(duration)) return motion;
    motion.duration = duration;
    motion.velocity = Vec3{d.x / length * velocity, d.y / length * velocity, d.z / length * velocity};
    return motion;
}

// Pulses at t = 0, dt, 2 dt, ... (accumulated) while t < T.
std::size_t pulses_on_line(double duration, double dt) {
    std::size_t count = 0;
    for (double t = 0.0; t < duration; t += dt) {
        ++count;
        if (t + dt == t) break;  // dt too small to move t on: stop rather than spin
    }
    return count;
}

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
    const FlightPlan plan = plan_flight(halfFovAcross, overlap, meanHeight, orientation, minX, minY, minZ, maxX, maxY,
                                        maxZ, spacingGround);
    lineStarts.clear();
    if (plan.lineCount < 0) return;  // no flight line at all
    const int lines = plan.lines();
    const double dt = 1.0 / prf;  // a negative or NaN rate gives no pulses
    const bool pulsing = dt > 0.0;

    // Size the run first: refuse one that cannot fit in memory, then reserve
    // exactly what the lines will take.
    if (pulsing) {
        const double capacity = record_capacity();
        double estimate = 0.0;
        for (int i = 0; i < lines && estimate <= capacity; ++i) {
            const LineMotion motion = line_motion(plan.segment(i), velocity);
            if (motion.duration > 0.0) estimate += motion.duration / dt + 2.0;
        }
        if (!(estimate <= capacity)) {
            throw InputError("Too many lasers: about " + QString::number(estimate, 'g', 3).toStdString() +
                             " pulses would not fit in memory. Please lower the pulse repetition frequency.");
        }
        std::size_t exact = 0;
        for (int i = 0; i < lines; ++i) {
            const LineMotion motion = line_motion(plan.segment(i), velocity);
            if (motion.duration > 0.0) exact += pulses_on_line(motion.duration, dt);
        }
        lasers.reserve(lasers.size() + exact);
    }

    emit max_limit(plan.single ? 1.0 : static_cast<double>(plan.lineCount));

    LaserLine record;
    record.reset_laser();
    record.set_direction(0.0, 0.0, 1.0);  // provisional; the direction pass sets it
    TermSetTriple position;  // x, y, z
    lineStarts.reserve(static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        emit value_changed(static_cast<double>(i));
        lineStarts.push_back(lasers.size());
        const FlightSegment segment = plan.segment(i);
        const LineMotion motion = line_motion(segment, velocity);
        if (!pulsing || !(motion.duration > 0.0)) continue;
        const Vec3 start = segment.start;
        const Vec3 v = motion.velocity;
        const double duration = motion.duration;
        if (realistic) {
            // The position terms restart with every line, re-signed afresh.
            fresh_term_sets(terms, kTermsX, seed, position);
            for (double t = 0.0; t < duration; t += dt) {
                record.origin = Vec3{start.x + v.x * t + term(position[0], t),
                                     start.y + v.y * t + term(position[1], t),
                                     start.z + v.z * t + term(position[2], t)};
                lasers.push_back(record);
                if (t + dt == t) break;
            }
        } else {
            // t restarts at 0 on every line and grows by repeated addition.
            for (double t = 0.0; t < duration; t += dt) {
                record.origin = Vec3{start.x + v.x * t, start.y + v.y * t, start.z + v.z * t};
                lasers.push_back(record);
                if (t + dt == t) break;
            }
        }
    }
    emit value_changed(plan.single ? 1.0 : static_cast<double>(plan.lineCount));
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
    const double theta = deg_to_rad(halfFovAcross);
    const double a = std::tan(theta);  // across the flight
    // Along the flight: none for the two line patterns, a for the circle and
    // the along half-angle for the ellipse (any larger value is an ellipse).
    double b;
    if (pattern < Spherical) {
        b = 0.0;
    } else if (pattern == Spherical) {
        b = a;
    } else {
        b = std::tan(deg_to_rad(halfFovAlong));
    }
    emit max_limit(static_cast<double>(n));

    // Parallel lines sweep -theta..theta twice per cycle; the others turn a
    // full circle per cycle, with 6.28318 rather than 2 pi.
    const bool parallel = pattern == ParallelLines;
    const double w = parallel ? 4.0 * theta * scanFrequency : scanFrequency * kFullTurn;
    const double dt = 1.0 / prf;
    const double dphi = w / prf;
    const double fixedYaw = -orientation;
    const AttitudeTrig fixedTrig = attitude_trig(0.0, 0.0, fixedYaw);

    TermSetTriple attitude;  // roll, pitch, yaw
    const std::size_t step = n / 20;
    std::size_t threshold = 0;
    double phi = 0.0;
    double t = 0.0;  // runs on over all lines, unlike the origin pass
    for (std::size_t k = 0; k < n; ++k) {
        if (k >= threshold) {
            emit value_changed(static_cast<double>(k));
            threshold += step;
        }
        LaserLine& laser = lasers[k];

        if (parallel) {
            // Saw-tooth: equal steps across, then a jump back to the far side.
            phi = phi + dphi;
            if (!(phi < theta)) phi = -theta;
            laser.set_direction(0.0, std::sin(phi), -std::cos(phi));
        } else {
            const double alpha = w * t;
            const double ca = std::cos(alpha);
            const double sa = std::sin(alpha);
            const double m = std::sqrt((b * ca) * (b * ca) + (a * sa) * (a * sa) + 1.0);
            laser.set_direction(-b * ca / m, -a * sa / m, -1.0 / m);
        }

        if (realistic) {
            // The attitude terms are copied and re-signed before every pulse.
            fresh_term_sets(terms, kTermsRoll, seed, attitude);
            const double roll = term(attitude[0], t);
            const double pitch = term(attitude[1], t);
            const double yaw = term(attitude[2], t) - orientation;
            laser.rotate_direction(roll, pitch, yaw);
            laser.set_attitude(roll, pitch, yaw);
        } else {
            laser.rotate_direction(fixedTrig);
            laser.set_attitude(0.0, 0.0, fixedYaw);
        }
        t = t + dt;
    }
    emit value_changed(static_cast<double>(n));
}

// ---------------------------------------------------------------------------
// Expected hits

int Laserlines::count_expected_hits(double maxX, double maxY, double /*maxZ*/, double minX, double minY,
                                    double minZ) const {
    int hits = 0;
    for (const LaserLine& laser : lasers) {
        const Vec3& o = laser.origin;
        const Vec3& d = laser.direction;
        const double s = (minZ - o.z) / d.z;
        const double x = o.x + d.x * s;
        const double y = o.y + d.y * s;
        if (minX <= x && x <= maxX && minY <= y && y <= maxY) ++hits;
    }
    return hits;
}
