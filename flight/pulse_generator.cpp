#include "flight/pulse_generator.h"

#include "flight/repeated_sum.h"

#include "app/angles.h"
#include "app/failure.h"
#include "app/library_trig.h"
#include "app/simulation_data.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>

#include <QString>

#if defined(__unix__)
#include <unistd.h>
#endif

namespace {

// The longest sweep of the parallel-lines pattern timed when the plan is
// made (a skip over a longer one goes pulse by pulse).
constexpr std::uint64_t kLongestTimedSweep = std::uint64_t(1) << 22;
// The longest sweep whose angles, sines and cosines are tabled.
constexpr std::uint64_t kLongestTabledSweep = std::uint64_t(1) << 16;

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

// Pulses at t = 0, dt, 2 dt, ... (accumulated) while t < T; where dt is too
// small to move t on, the line stops rather than spins.
std::size_t pulses_on_line(double duration, double dt) {
    return static_cast<std::size_t>(count_below(dt, duration));
}

}  // namespace

// ---------------------------------------------------------------------------
// Origin pass

OriginPlan::OriginPlan(double prf, double velocity, double halfFovAcross, double overlap, double meanHeight,
                       double orientation, const ModelLimits& l, bool realistic, const TrajectoryTerms& terms,
                       std::uint32_t seed, double spacingGround)
    : realistic_(realistic), terms_(&terms), seed_(seed) {
    const FlightPlan plan = plan_flight(halfFovAcross, overlap, meanHeight, orientation, l.minX, l.minY, l.minZ,
                                        l.maxX, l.maxY, l.maxZ, spacingGround);
    lineCount_ = plan.lineCount;
    single_ = plan.single;
    dt_ = 1.0 / prf;  // a negative or NaN rate gives no pulses
    pulsing_ = dt_ > 0.0;
    const int count = plan.lines();
    lines_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const FlightSegment segment = plan.segment(i);
        const LineMotion motion = line_motion(segment, velocity);
        Line& line = lines_[static_cast<std::size_t>(i)];
        line.start = segment.start;
        line.velocity = motion.velocity;
        line.duration = pulsing_ ? motion.duration : 0.0;
    }
}

double OriginPlan::estimate(double stopAbove) const {
    double estimate = 0.0;
    for (std::size_t i = 0; i < lines_.size() && estimate <= stopAbove; ++i)
        if (lines_[i].duration > 0.0) estimate += lines_[i].duration / dt_ + 2.0;
    return estimate;
}

void OriginPlan::refuse_beyond_memory() const {
    if (!pulsing_) return;
    const double capacity = record_capacity();
    const double size = estimate(capacity);
    if (!(size <= capacity)) {
        throw InputError("Too many lasers: about " + QString::number(size, 'g', 3).toStdString() +
                         " pulses would not fit in memory. Please lower the pulse repetition frequency.");
    }
}

void OriginPlan::count() {
    std::uint64_t total = 0;
    for (Line& line : lines_) {
        line.first = total;
        line.count = line.duration > 0.0 ? pulses_on_line(line.duration, dt_) : 0;
        total += line.count;
    }
    total_ = total;
    // The pass re-signs the terms for every line with pulses; with the seed
    // given again each time the signs are always the same, and the source
    // ends where one re-signing leaves it.
    if (realistic_ && total_ > 0) fresh_term_sets(*terms_, kTermsX, seed_, position_);
}

void OriginPlan::origins(Cursor& c, std::size_t count, LaserLine* out) const {
    while (count > 0) {
        const Line& line = lines_[c.line];
        if (c.inLine >= line.count) {
            ++c.line;
            c.inLine = 0;
            c.t = 0.0;
            continue;
        }
        const std::uint64_t left = line.count - c.inLine;
        const std::size_t n = left < count ? static_cast<std::size_t>(left) : count;
        const Vec3 start = line.start;
        const Vec3 v = line.velocity;
        const double dt = dt_;
        double t = c.t;
        if (realistic_) {
            const std::vector<double>& px = position_[0];
            const std::vector<double>& py = position_[1];
            const std::vector<double>& pz = position_[2];
            for (std::size_t k = 0; k < n; ++k) {
                out[k].origin = Vec3{start.x + v.x * t + term(px, t), start.y + v.y * t + term(py, t),
                                     start.z + v.z * t + term(pz, t)};
                t += dt;
            }
        } else {
            // t restarts at 0 on every line and grows by repeated addition.
            for (std::size_t k = 0; k < n; ++k) {
                out[k].origin = Vec3{start.x + v.x * t, start.y + v.y * t, start.z + v.z * t};
                t += dt;
            }
        }
        c.t = t;
        c.inLine += n;
        out += n;
        count -= n;
    }
}

void OriginPlan::skip(Cursor& c, std::uint64_t count) const {
    while (count > 0) {
        const Line& line = lines_[c.line];
        const std::uint64_t left = line.count - c.inLine;
        if (left == 0 || count >= left) {
            // Whole rest of the line: nothing of it is carried over.
            count -= left;
            ++c.line;
            c.inLine = 0;
            c.t = 0.0;
            continue;
        }
        c.t = repeated_sum(c.t, dt_, count);
        c.inLine += count;
        count = 0;
    }
}

// ---------------------------------------------------------------------------
// Direction pass

DirectionPlan::DirectionPlan(double prf, double halfFovAcross, double orientation, ScanPattern pattern,
                             double scanFrequency, double halfFovAlong, bool realistic, const TrajectoryTerms& terms,
                             std::uint32_t seed, std::uint64_t pulses)
    : realistic_(realistic), orientation_(orientation) {
    theta_ = deg_to_rad(halfFovAcross);
    a_ = std::tan(theta_);  // across the flight
    // Along the flight: none for the two line patterns, a for the circle and
    // the along half-angle for the ellipse (any larger value is an ellipse).
    if (pattern < Spherical) {
        b_ = 0.0;
    } else if (pattern == Spherical) {
        b_ = a_;
    } else {
        b_ = std::tan(deg_to_rad(halfFovAlong));
    }
    // Parallel lines sweep -theta..theta twice per cycle; the others turn a
    // full circle per cycle, with 6.28318 rather than 2 pi.
    parallel_ = pattern == ParallelLines;
    w_ = parallel_ ? 4.0 * theta_ * scanFrequency : scanFrequency * kFullTurn;
    dt_ = 1.0 / prf;
    dphi_ = w_ / prf;
    if (parallel_) {
        double phi = -theta_;
        for (std::uint64_t k = 1; k <= kLongestTimedSweep; ++k) {
            phi = phi + dphi_;
            if (!(phi < theta_)) {
                sweep_ = k;
                break;
            }
        }
    }
    // One period of the sweep, from its jump back to -theta, with the sine
    // and cosine of every angle (a short one only: a few thousand pulses
    // at the usual rates).
    if (parallel_ && sweep_ > 0 && sweep_ <= kLongestTabledSweep) {
        sweepPhi_.resize(sweep_);
        sweepSin_.resize(sweep_);
        sweepCos_.resize(sweep_);
        double phi = -theta_;
        for (std::uint64_t k = 0; k < sweep_; ++k) {
            sweepPhi_[k] = phi;
            sweepSin_[k] = std::sin(phi);
            sweepCos_[k] = std::cos(phi);
            phi = phi + dphi_;
        }
    }
    fixedYaw_ = -orientation;
    fixedTrig_ = attitude_trig(0.0, 0.0, fixedYaw_);
    // The pass copies and re-signs the attitude terms before every pulse,
    // with the same seed each time: the same signs for all of them.
    if (realistic && pulses > 0) fresh_term_sets(terms, kTermsRoll, seed, attitude_);
}

namespace {

// Pulses whose scanner angles are worked out together, before the
// directions that use them: the sines and cosines (library calls) in one
// loop, the arithmetic after them in another that the compiler can run
// several pulses at a time.
constexpr std::size_t kAngleBlock = 64;

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

std::ptrdiff_t DirectionPlan::sweepIndex(double phi) const {
    if (sweepPhi_.empty()) return -1;
    // The tabled angles rise strictly (or the table has one entry); the
    // match must be of the bits, so that -0 and 0 stay apart.
    const auto at = std::lower_bound(sweepPhi_.begin(), sweepPhi_.end(), phi);
    if (at != sweepPhi_.end() && same_bits(*at, phi)) return at - sweepPhi_.begin();
    if (same_bits(sweepPhi_.front(), phi)) return 0;
    return -1;
}

void DirectionPlan::directions(Cursor& c, std::size_t count, LaserLine* out) const {
    double phi = c.phi;
    double t = c.t;
    double ts[kAngleBlock], alphas[kAngleBlock], ca[kAngleBlock], sa[kAngleBlock];
    // Where the sweep angle stands in its period (-1: before its first
    // jump back, or no table): from there on the angle, its sine and its
    // cosine are the tabled ones, as the same additions and the same calls
    // give the same bits.
    std::ptrdiff_t at = parallel_ ? sweepIndex(phi) : -1;
    const std::ptrdiff_t period = static_cast<std::ptrdiff_t>(sweepPhi_.size());
    for (std::size_t begin = 0; begin < count; begin += kAngleBlock) {
        const std::size_t n = std::min(kAngleBlock, count - begin);
        LaserLine* const lasers = out + begin;
        if (parallel_) {
            // Saw-tooth: equal steps across, then a jump back to the far side.
            for (std::size_t k = 0; k < n; ++k) {
                ts[k] = t;
                t = t + dt_;
                if (at >= 0) {
                    at = at + 1 == period ? 0 : at + 1;
                    phi = sweepPhi_[static_cast<std::size_t>(at)];
                    sa[k] = sweepSin_[static_cast<std::size_t>(at)];
                    ca[k] = sweepCos_[static_cast<std::size_t>(at)];
                    continue;
                }
                phi = phi + dphi_;
                if (!(phi < theta_)) {
                    phi = -theta_;
                    if (period > 0) at = 0;
                }
                sa[k] = std::sin(phi);
                ca[k] = std::cos(phi);
            }
            for (std::size_t k = 0; k < n; ++k) lasers[k].direction = Vec3{0.0, sa[k], -ca[k]};
        } else {
            for (std::size_t k = 0; k < n; ++k) {
                ts[k] = t;
                t = t + dt_;
            }
            for (std::size_t k = 0; k < n; ++k) alphas[k] = w_ * ts[k];
            library_sin_cos(alphas, n, sa, ca);
            const double a = a_, b = b_;
            // Two pulses at a time: the same products, sums, square root
            // and quotients (each correctly rounded, packed or not).
            std::size_t k = 0;
            const __m128d av = _mm_set1_pd(a), bv = _mm_set1_pd(b), one = _mm_set1_pd(1.0);
            const __m128d minusA = _mm_set1_pd(-a), minusB = _mm_set1_pd(-b), minusOne = _mm_set1_pd(-1.0);
            for (; k + 2 <= n; k += 2) {
                const __m128d cosines = _mm_loadu_pd(ca + k), sines = _mm_loadu_pd(sa + k);
                const __m128d bc = _mm_mul_pd(bv, cosines), as = _mm_mul_pd(av, sines);
                const __m128d m = _mm_sqrt_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(bc, bc), _mm_mul_pd(as, as)), one));
                store_lanes(_mm_div_pd(_mm_mul_pd(minusB, cosines), m), _mm_div_pd(_mm_mul_pd(minusA, sines), m),
                            _mm_div_pd(minusOne, m), lasers[k].direction, lasers[k + 1].direction);
            }
            for (; k < n; ++k) {
                const double m = std::sqrt((b * ca[k]) * (b * ca[k]) + (a * sa[k]) * (a * sa[k]) + 1.0);
                lasers[k].direction = Vec3{-b * ca[k] / m, -a * sa[k] / m, -1.0 / m};
            }
        }
        if (realistic_) {
            for (std::size_t k = 0; k < n; ++k) {
                LaserLine& laser = lasers[k];
                const double roll = term(attitude_[0], ts[k]);
                const double pitch = term(attitude_[1], ts[k]);
                const double yaw = term(attitude_[2], ts[k]) - orientation_;
                laser.rotate_direction(roll, pitch, yaw);
                laser.set_attitude(roll, pitch, yaw);
            }
        } else {
            const AttitudeTrig trig = fixedTrig_;
            const double yaw = fixedYaw_;
            // Two pulses at a time, one in each lane; the odd last one below.
            std::size_t k = 0;
            for (; k + 2 <= n; k += 2) {
                LaserLine& l0 = lasers[k];
                LaserLine& l1 = lasers[k + 1];
                const Lanes3 d{_mm_set_pd(l1.direction.x, l0.direction.x), _mm_set_pd(l1.direction.y, l0.direction.y),
                               _mm_set_pd(l1.direction.z, l0.direction.z)};
                const Lanes3 r = rotate_lanes(d, _mm_set1_pd(trig.cr), _mm_set1_pd(trig.sr), _mm_set1_pd(trig.cp),
                                              _mm_set1_pd(trig.sp), _mm_set1_pd(trig.cy), _mm_set1_pd(trig.sy));
                store_lanes(r.x, r.y, r.z, l0.direction, l1.direction);
                l0.roll = l1.roll = 0.0;
                l0.pitch = l1.pitch = 0.0;
                l0.yaw = l1.yaw = yaw;
            }
            for (; k < n; ++k) {
                LaserLine& laser = lasers[k];
                laser.direction = rotate_vector(laser.direction, trig);
                laser.roll = 0.0;
                laser.pitch = 0.0;
                laser.yaw = yaw;
            }
        }
    }
    c.phi = phi;
    c.t = t;
}

void DirectionPlan::skip(Cursor& c, std::uint64_t count) const {
    c.t = repeated_sum(c.t, dt_, count);
    if (!parallel_) return;
    auto sweep = [&](bool toJump) {
        while (count > 0) {
            c.phi = c.phi + dphi_;
            --count;
            if (!(c.phi < theta_)) {
                c.phi = -theta_;
                if (toJump) return;
            }
        }
    };
    // Up to the first jump back, then whole sweeps leave the angle at -theta.
    sweep(true);
    if (sweep_ > 0) count %= sweep_;
    sweep(false);
}

// ---------------------------------------------------------------------------
// Both passes

PulseGenerator::PulseGenerator(const SimulationData& data, std::uint32_t seed)
    : origins_(data.scanner.prf, data.flight.velocity, data.scanner.fovAcross * 0.5, data.flight.overlap,
               data.flight.meanHeight, data.flight.orientation, data.limits(), data.realisticTrajectory,
               data.trajectoryTerms, seed, data.flight.spacingGround),
      data_(data),
      seed_(seed) {}

void PulseGenerator::count() {
    origins_.count();
    const ScannerParameters& s = data_.scanner;
    directions_.clear();
    directions_.emplace_back(s.prf, s.fovAcross * 0.5, data_.flight.orientation, s.pattern, s.scanFrequency,
                             s.fovAlong * 0.5, data_.realisticTrajectory, data_.trajectoryTerms, seed_,
                             origins_.pulses());
}

void PulseGenerator::generate(Cursor& cursor, std::size_t count, LaserLine* out) const {
    // A few hundred records at a time, each passed over while it is in the
    // cache: both passes continue from their cursors, so the records are
    // those of one call over the whole run. The fields the passes leave
    // alone are set as reset_laser sets them; origin, direction and
    // attitude come from the passes.
    constexpr std::size_t kPiece = 256;
    const DirectionPlan& directions = directions_.front();
    for (std::size_t begin = 0; begin < count; begin += kPiece) {
        const std::size_t n = std::min(kPiece, count - begin);
        LaserLine* piece = out + begin;
        for (std::size_t k = 0; k < n; ++k) {
            piece[k].hitPoint = Vec3{};
            piece[k].range = -1.0;
            piece[k].hitFaceIndex = -1;
        }
        origins_.origins(cursor.origin, n, piece);
        directions.directions(cursor.direction, n, piece);
    }
    cursor.pulse += count;
}

void PulseGenerator::skip(Cursor& cursor, std::uint64_t count) const {
    origins_.skip(cursor.origin, count);
    directions_.front().skip(cursor.direction, count);
    cursor.pulse += count;
}

std::uint64_t PulseGenerator::lineEnd(const Cursor& cursor) const {
    std::size_t line = cursor.origin.line;
    // A cursor at the end of a line (or on lines without pulses) belongs to
    // the next line that has pulses.
    while (line < static_cast<std::size_t>(origins_.lines()) &&
           cursor.pulse >= origins_.lineStart(static_cast<int>(line)) + origins_.linePulses(static_cast<int>(line)))
        ++line;
    if (line >= static_cast<std::size_t>(origins_.lines())) return origins_.pulses();
    return origins_.lineStart(static_cast<int>(line)) + origins_.linePulses(static_cast<int>(line));
}

std::uint64_t count_expected_hits(const LaserLine* lasers, std::size_t count, const ModelLimits& l) {
    std::uint64_t hits = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const Vec3& o = lasers[k].origin;
        const Vec3& d = lasers[k].direction;
        const double s = (l.minZ - o.z) / d.z;
        const double x = o.x + d.x * s;
        const double y = o.y + d.y * s;
        if (l.minX <= x && x <= l.maxX && l.minY <= y && y <= l.maxY) ++hits;
    }
    return hits;
}
