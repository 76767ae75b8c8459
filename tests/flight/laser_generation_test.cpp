// The two passes of laser generation: origins along the flight lines, then
// scanner directions, with and without the realistic trajectory terms.
#include "app/uniform_source.h"
#include "flight/laserlines.h"
#include "flight/realistic_trajectory.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Model 0..100 x 0..100 x 0..10: the flight area is -25..131.25 in x and y.
constexpr double kLow = -25.0, kHigh = 131.25;
double rad(double degrees) { return degrees * 3.14159 / 180.0; }
const double kS = 50.0 * std::tan(rad(30.0));  // line spacing at overlap 100 (factor 2 - 1)

using Signals = std::vector<std::pair<char, double>>;  // 'M' max_limit, 'V' value_changed
struct Recorded {
    std::vector<LaserLine> lasers;
    Signals emitted;
};

// One pulse a second at 100 m/s (one every 100 m), half fov 30, height 50.
Recorded lay(double orientation, double overlap = 100.0, double halfFov = 30.0, double prf = 1.0,
             double velocity = 100.0) {
    Laserlines lines;
    Recorded out;
    QObject::connect(&lines, &Laserlines::max_limit, [&](double v) { out.emitted.emplace_back('M', v); });
    QObject::connect(&lines, &Laserlines::value_changed, [&](double v) { out.emitted.emplace_back('V', v); });
    lines.compute_origins(prf, velocity, halfFov, overlap, 50.0, orientation, 0, 0, 0, 100, 100, 10, false,
                          TrajectoryTerms{}, 1u);
    out.lasers = lines.lasers;
    return out;
}

void expect_origin(const LaserLine& l, double x, double y) {
    EXPECT_DOUBLE_EQ(l.origin.x, x);
    EXPECT_DOUBLE_EQ(l.origin.y, y);
}

// `count` records as the origin pass leaves them, then the direction pass.
std::vector<LaserLine> directions(std::size_t count, double prf, double halfFov, double orientation,
                                  ScanPattern pattern, double scanFrequency, double halfAlong = 0.0) {
    Laserlines lines;
    lines.lasers.assign(count, LaserLine{});
    lines.compute_directions(prf, halfFov, orientation, pattern, scanFrequency, halfAlong, false, TrajectoryTerms{},
                             1u);
    return lines.lasers;
}

void expect_direction(const LaserLine& l, double x, double y, double z, double tolerance = 1e-10) {
    EXPECT_NEAR(l.direction.x, x, tolerance);
    EXPECT_NEAR(l.direction.y, y, tolerance);
    EXPECT_NEAR(l.direction.z, z, tolerance);
}

}  // namespace

TEST(OriginPass, HorizontalAndVerticalLinesAreFlownBackAndForth) {
    const Recorded r = lay(0.0);
    // W = 156.25, S = 28.87: five lines, two pulses each (T = 1.5625 s). The
    // first at y = max'y - S from the larger x to the smaller, the next back.
    ASSERT_EQ(r.lasers.size(), 10u);
    expect_origin(r.lasers[0], kHigh, kHigh - kS);
    expect_origin(r.lasers[1], kHigh - 100, kHigh - kS);
    expect_origin(r.lasers[2], kLow, kHigh - 2 * kS);
    expect_origin(r.lasers[8], kHigh, kHigh - 5 * kS);
    EXPECT_EQ(r.lasers[9].origin.z, 50.0);
    EXPECT_EQ(r.emitted, (Signals{{'M', 5}, {'V', 0}, {'V', 1}, {'V', 2}, {'V', 3}, {'V', 4}, {'V', 5}}));
    const Recorded r0 = lay(0.0, 0.0);  // overlap 0: S = 2 h tan, two lines
    ASSERT_EQ(r0.lasers.size(), 4u);
    expect_origin(r0.lasers[0], kHigh, kHigh - 2 * kS);
    expect_origin(r0.lasers[2], kLow, kHigh - 4 * kS);
    // Vertical, limits included: x = min'x + S, from the smaller y up, then back.
    for (double orientation : {89.9, 90.0, 90.1}) {
        const Recorded v = lay(orientation);
        ASSERT_EQ(v.lasers.size(), 10u) << orientation;
        expect_origin(v.lasers[1], kLow + kS, kLow + 100);
        expect_origin(v.lasers[2], kLow + 2 * kS, kHigh);
    }
}

TEST(OriginPass, ObliqueLinesStepTheInterceptBySpacingOverSine) {
    const Recorded r = lay(45.0);
    const double td = std::tan(rad(45.0)), sd = std::sin(rad(45.0)), c = kHigh - kLow * td;
    // W = sd * |td * dx + dy| = 1.414 * 156.25: N = trunc(W / S) = 7. Line 1,
    // y = td x + c - S/sd, meets the top edge and then the left one; it
    // starts at the higher point.
    EXPECT_EQ(r.emitted.at(0), std::make_pair('M', 7.0));
    ASSERT_FALSE(r.lasers.empty());
    expect_origin(r.lasers[0], (kHigh - (c - kS / sd)) / td, kHigh);
    long previous = 1;  // every pulse lies on one of the lines k = 1..7, in order
    for (const LaserLine& l : r.lasers) {
        const double k = (c - (l.origin.y - td * l.origin.x)) * sd / kS;
        EXPECT_NEAR(k, std::round(k), 1e-9);
        EXPECT_GE(std::lround(k), previous);
        previous = std::lround(k);
    }
    EXPECT_EQ(previous, 7);
}

TEST(OriginPass, SingleLinePlansAndDegenerateInputs) {
    EXPECT_EQ(lay(0.1).emitted.at(0), std::make_pair('M', 5.0));  // still horizontal
    // 0.11 is oblique with a tiny W: one line through the centre, started at
    // the right edge (the higher end).
    Recorded r = lay(0.11);
    ASSERT_EQ(r.lasers.size(), 2u);
    expect_origin(r.lasers[0], kHigh, std::tan(rad(0.11)) * (kHigh - 50.0) + 50.0);
    // 180: tan(3.14159) is slightly negative, so the left end is the higher.
    r = lay(180.0);
    EXPECT_EQ(r.emitted, (Signals{{'M', 1.0}, {'V', 0.0}, {'V', 1.0}}));
    ASSERT_EQ(r.lasers.size(), 2u);
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.x, kLow);
    EXPECT_NEAR(r.lasers[0].origin.y, 50.0, 1e-3);
    EXPECT_TRUE(lay(0.0, 100.0, 0.0).emitted.empty());         // no field of view: no line
    EXPECT_TRUE(lay(0.0, 100.0, 30.0, 1.0, 0.0).lasers.empty());  // still: T infinite, no pulse
    EXPECT_EQ(lay(0.0, 100.0, 30.0, 1e-9).lasers.size(), 5u);     // one pulse per line, at t = 0
}

TEST(Rotation, PrecomputedSinesGiveTheSameBits) {
    for (const auto& a : {Vec3{0.3, -1.7, -33.0}, Vec3{12.5, 4.25, -179.9}, Vec3{89.0, -45.0, 7.0}}) {
        LaserLine byAngles;
        byAngles.set_direction(0.12, -0.34, -0.93);
        LaserLine byTrig = byAngles;
        byAngles.rotate_direction(a.x, a.y, a.z);
        byTrig.rotate_direction(attitude_trig(a.x, a.y, a.z));
        EXPECT_EQ(std::memcmp(&byAngles.direction, &byTrig.direction, sizeof(Vec3)), 0);
    }
}

// The attitude turns the direction by yaw first, then pitch, then roll, each
// matrix on its own. Expected values: the three matrices multiplied out here,
// and quarter turns worked out on paper.
TEST(Rotation, YawThenPitchThenRollAgainstTheMatricesWorkedOutHere) {
    using M = std::array<std::array<double, 3>, 3>;
    auto times = [](const M& m, const Vec3& v) {
        return Vec3{m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z, m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
                    m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
    };
    auto by_hand = [&](Vec3 d, double roll, double pitch, double yaw) {
        const double r = rad(roll), p = rad(pitch), y = rad(yaw);
        const M yawM{{{std::cos(y), std::sin(y), 0}, {-std::sin(y), std::cos(y), 0}, {0, 0, 1}}};
        const M pitchM{{{std::cos(p), 0, -std::sin(p)}, {0, 1, 0}, {std::sin(p), 0, std::cos(p)}}};
        const M rollM{{{1, 0, 0}, {0, std::cos(r), std::sin(r)}, {0, -std::sin(r), std::cos(r)}}};
        d = times(yawM, d);
        d = times(pitchM, d);
        return times(rollM, d);
    };
    struct Case {
        Vec3 d;
        double roll, pitch, yaw;
        Vec3 expected;  // NaN x: take the matrices above
    };
    const double n = std::nan("");
    const Case cases[] = {
        // x axis: yaw -90 turns it to +y, pitch 90 leaves y, roll 90 turns y to -z.
        // (Pitch before yaw would give +y.)
        {{1, 0, 0}, 90, 90, -90, {0, 0, -1}},
        // Straight down: yaw 90 leaves it, pitch 90 turns it to +x. (Pitch
        // before yaw would give -y.)
        {{0, 0, -1}, 0, 90, 90, {1, 0, 0}},
        {{0, 0, -1}, 0, 30, 40, {n, 0, 0}},
        {{0.2, -0.3, -0.9}, 10, 20, -35, {n, 0, 0}},
        {{0.6, 0.0, -0.8}, -5.5, 12.25, 147.0, {n, 0, 0}},
        {{-0.1, 0.7, -0.7}, 3, -8, -200, {n, 0, 0}},
    };
    for (const Case& c : cases) {
        LaserLine laser;
        laser.set_direction(c.d.x, c.d.y, c.d.z);
        laser.rotate_direction(c.roll, c.pitch, c.yaw);
        const Vec3 e = std::isnan(c.expected.x) ? by_hand(c.d, c.roll, c.pitch, c.yaw) : c.expected;
        const double tolerance = std::isnan(c.expected.x) ? 1e-12 : 1e-5;  // pi is 3.14159
        SCOPED_TRACE(testing::Message() << "roll " << c.roll << " pitch " << c.pitch << " yaw " << c.yaw);
        EXPECT_NEAR(laser.direction.x, e.x, tolerance);
        EXPECT_NEAR(laser.direction.y, e.y, tolerance);
        EXPECT_NEAR(laser.direction.z, e.z, tolerance);
    }
}

TEST(DirectionPass, EachPatternAtTheStartAndAQuarterTurnOn) {
    // prf = 4 * scanFrequency: a quarter turn (1.570795 rad) per pulse.
    const double a = std::tan(rad(30.0)), b = std::tan(rad(10.0));
    const double ma = std::sqrt(a * a + 1.0), mb = std::sqrt(b * b + 1.0);
    for (double orientation : {0.0, 90.0}) {
        // Zig-zag: straight down, then leaning by theta across the flight, then
        // straight down again. The scanner axes are turned by -orientation:
        // across is -y at orientation 0 and +x at 90.
        const std::vector<LaserLine> z = directions(3, 80.0, 30.0, orientation, ZigZagLines, 20.0);
        expect_direction(z[0], 0.0, 0.0, -1.0);
        const double across = orientation == 0.0 ? -z[1].direction.y : z[1].direction.x;
        EXPECT_NEAR(across / -z[1].direction.z, std::sin(1.570795) * a, 1e-12);
        EXPECT_NEAR(z[2].direction.z, -1.0, 1e-10);
    }
    // Spherical: on the cone of the half angle, leaning backwards at t = 0.
    const std::vector<LaserLine> s = directions(2, 80.0, 30.0, 0.0, Spherical, 20.0);
    expect_direction(s[0], -a / ma, 0.0, -1.0 / ma);
    expect_direction(s[1], 0.0, -a / ma, -1.0 / ma, 1e-5);
    // Elliptical: the along half angle at t = 0, the across one a quarter turn on.
    const std::vector<LaserLine> e = directions(2, 80.0, 30.0, 0.0, Elliptical, 20.0, 10.0);
    expect_direction(e[0], -b / mb, 0.0, -1.0 / mb);
    EXPECT_NEAR(e[1].direction.y, -a / ma, 1e-10);
}

TEST(DirectionPass, ParallelLinesSawToothWrapsAfterAbout125Pulses) {
    // theta 30 deg, 20 Hz, 10 kHz: phi grows by 4 * theta * 20 / 10000.
    const double theta = rad(30.0), step = 4.0 * theta * 20.0 / 10000.0;
    const std::vector<LaserLine> l = directions(200, 10000.0, 30.0, 0.0, ParallelLines, 20.0);
    expect_direction(l[0], 0.0, std::sin(step), -std::cos(step), 1e-12);  // already one step across
    std::size_t wrap = 1;  // the first pulse leaning less across than the one before
    while (wrap < l.size() && l[wrap].direction.y >= l[wrap - 1].direction.y) ++wrap;
    ASSERT_TRUE(wrap == 124 || wrap == 125) << wrap;
    EXPECT_NEAR(l[wrap].direction.y, -std::sin(theta), 1e-12);  // jumped to -theta
    for (const LaserLine& laser : directions(3, 10000.0, 0.0, 0.0, ParallelLines, 20.0))
        expect_direction(laser, 0, 0, -1);  // no field of view across
}

// The C-standard example generator from seed 1 draws 16838, 5758, 10113,
// 17515, ...; from seed 2 it draws 908, 22817, 10239, 12914, 25837, ...
TEST(RealisticTrajectory, SignsFollowTheSeededDraws) {
    std::vector<double> set{1.0, 2.0, 3.0, 4.0};
    randomise_term_signs(set, 1);  // draws below 16384 flip the sign: + - - +
    EXPECT_EQ(set, (std::vector<double>{1.0, -2.0, -3.0, 4.0}));
    randomise_term_signs(set, 1);  // seeded again: the same signs
    EXPECT_EQ(set, (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
    randomise_term_signs(set, 2);
    EXPECT_EQ(set, (std::vector<double>{-1.0, 2.0, -3.0, -4.0}));
    EXPECT_EQ(uniform_source().next(), 25837);  // the shared source goes on
    install_uniform_source(nullptr);
}

TEST(RealisticTrajectory, ZeroTermsEqualOffAndAConstantXTermShiftsByItsSign) {
    // Five horizontal lines, two pulses each (t = 0 and 1 s), zig-zag directions.
    auto generate = [](bool realistic, const TrajectoryTerms& terms, std::uint32_t seed) {
        Laserlines lines;
        lines.compute_origins(1.0, 100.0, 30.0, 100.0, 50.0, 0.0, 0, 0, 0, 100, 100, 10, realistic, terms, seed);
        lines.compute_directions(1.0, 30.0, 0.0, ZigZagLines, 0.1, 0.0, realistic, terms, seed);
        install_uniform_source(nullptr);
        return lines.lasers;
    };
    auto fields = [](const LaserLine& l) {
        return std::vector<double>{l.origin.x,    l.origin.y, l.origin.z, l.direction.x, l.direction.y,
                                   l.direction.z, l.roll,     l.pitch,    l.yaw};
    };
    const std::vector<LaserLine> off = generate(false, {}, 1u);
    TrajectoryTerms terms(6, std::vector<double>(4, 0.0));
    const std::vector<LaserLine> zero = generate(true, terms, 2u);
    ASSERT_EQ(zero.size(), off.size());
    for (std::size_t i = 0; i < off.size(); ++i) EXPECT_EQ(fields(zero[i]), fields(off[i])) << i;
    terms[kTermsX] = {1.0, 0.0, 0.0, 0.0};  // A cos(0 t): seed 1 keeps A, seed 2 flips it
    for (std::uint32_t seed : {1u, 2u}) {
        const std::vector<LaserLine> on = generate(true, terms, seed);
        ASSERT_EQ(on.size(), off.size());
        for (std::size_t i = 0; i < on.size(); ++i) {
            EXPECT_EQ(on[i].origin.x, off[i].origin.x + (seed == 1u ? 1.0 : -1.0));
            EXPECT_EQ(on[i].origin.y, off[i].origin.y);
        }
    }
}
