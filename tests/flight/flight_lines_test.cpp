// Origin pass: flight-line planning, line order and pulse timing.
#include "app/failure.h"
#include "flight/flight_lines.h"
#include "flight/laserlines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

// Model 0..100 x 0..100 x 0..10: the flight area is -25..131.25 in x and y.
constexpr double kLow = -25.0;
constexpr double kHigh = 131.25;

double tan_deg(double degrees) { return std::tan(degrees * 3.14159 / 180.0); }
double sin_deg(double degrees) { return std::sin(degrees * 3.14159 / 180.0); }

struct Survey {
    double prf = 1.0;  // one pulse a second: at 100 m/s, one every 100 m
    double velocity = 100.0;
    double halfFov = 30.0;
    double overlap = 100.0;
    double height = 50.0;
    double orientation = 0.0;
};

struct Recorded {
    std::vector<LaserLine> lasers;
    std::vector<std::pair<char, double>> emitted;  // 'M' max_limit, 'V' value_changed
};

Recorded lay(const Survey& r) {
    Laserlines lines;
    Recorded out;
    QObject::connect(&lines, &Laserlines::max_limit, [&](double v) { out.emitted.emplace_back('M', v); });
    QObject::connect(&lines, &Laserlines::value_changed, [&](double v) { out.emitted.emplace_back('V', v); });
    lines.compute_origins(r.prf, r.velocity, r.halfFov, r.overlap, r.height, r.orientation, 0.0, 0.0, 0.0, 100.0,
                          100.0, 10.0, false, TrajectoryTerms{}, 1u);
    out.lasers = lines.lasers;
    return out;
}

}  // namespace

TEST(OriginPass, HorizontalLinesAreFlownBackAndForthFromTheTop) {
    const Recorded r = lay(Survey{});
    const double s = 50.0 * tan_deg(30.0);  // overlap 100: factor 2 - 1
    // W = 156.25, S = 28.87: five lines, two pulses each (T = 1.5625 s).
    ASSERT_EQ(r.lasers.size(), 10u);
    // Line 1 at y = max'y - S, from the larger x to the smaller one.
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.x, kHigh);
    EXPECT_DOUBLE_EQ(r.lasers[1].origin.x, kHigh - 100.0);
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.y, kHigh - s);
    EXPECT_DOUBLE_EQ(r.lasers[1].origin.y, kHigh - s);
    // Line 2 comes back.
    EXPECT_DOUBLE_EQ(r.lasers[2].origin.x, kLow);
    EXPECT_DOUBLE_EQ(r.lasers[3].origin.x, kLow + 100.0);
    EXPECT_DOUBLE_EQ(r.lasers[2].origin.y, kHigh - 2 * s);
    EXPECT_DOUBLE_EQ(r.lasers[8].origin.y, kHigh - 5 * s);
    EXPECT_DOUBLE_EQ(r.lasers[8].origin.x, kHigh);
    for (const LaserLine& l : r.lasers) {
        EXPECT_EQ(l.origin.z, 50.0);
        EXPECT_EQ(l.direction.z, 1.0);  // provisional until the direction pass
    }
    const std::vector<std::pair<char, double>> expected{{'M', 5}, {'V', 0}, {'V', 1}, {'V', 2},
                                                        {'V', 3}, {'V', 4}, {'V', 5}};
    EXPECT_EQ(r.emitted, expected);
}

TEST(OriginPass, SpacingUsesTwoMinusTheOverlapFraction) {
    Survey zero;
    zero.overlap = 0.0;  // S = 2 * h * tan: two lines
    const Recorded r0 = lay(zero);
    ASSERT_EQ(r0.lasers.size(), 4u);
    EXPECT_DOUBLE_EQ(kHigh - r0.lasers[0].origin.y, 2.0 * 50.0 * tan_deg(30.0));
    EXPECT_DOUBLE_EQ(r0.lasers[0].origin.y - r0.lasers[2].origin.y, 2.0 * 50.0 * tan_deg(30.0));

    Survey half;
    half.overlap = 50.0;
    const Recorded r50 = lay(half);
    EXPECT_DOUBLE_EQ(kHigh - r50.lasers[0].origin.y, 1.5 * 50.0 * tan_deg(30.0));
}

TEST(OriginPass, VerticalBandIncludesItsLimits) {
    for (double orientation : {89.9, 90.0, 90.1}) {
        Survey run;
        run.orientation = orientation;
        const Recorded r = lay(run);
        const double s = 50.0 * tan_deg(30.0);
        ASSERT_EQ(r.lasers.size(), 10u) << orientation;
        // x = min'x + S, flown from the smaller y to the larger, then back.
        EXPECT_DOUBLE_EQ(r.lasers[0].origin.x, kLow + s);
        EXPECT_DOUBLE_EQ(r.lasers[0].origin.y, kLow);
        EXPECT_DOUBLE_EQ(r.lasers[1].origin.y, kLow + 100.0);
        EXPECT_DOUBLE_EQ(r.lasers[2].origin.x, kLow + 2 * s);
        EXPECT_DOUBLE_EQ(r.lasers[2].origin.y, kHigh);
    }
}

TEST(OriginPass, ObliqueLinesStepTheInterceptBySpacingOverSine) {
    Survey run;
    run.orientation = 45.0;
    const Recorded r = lay(run);
    const double td = tan_deg(45.0), sd = sin_deg(45.0), s = 50.0 * tan_deg(30.0);
    // W = sd * |td * dx + dy| = 1.414 * 156.25: N = trunc(W / S) = 7.
    EXPECT_EQ(r.emitted.front(), std::make_pair('M', 7.0));
    ASSERT_FALSE(r.lasers.empty());
    // Line 1: y = td x + c - S/sd with c = max'y - min'x * td; it meets the
    // top edge first and the left edge next, and starts at the higher point.
    const double l1 = (kHigh - kLow * td) - 1.0 * s / sd;
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.y, kHigh);
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.x, (kHigh - l1) / td);
    // Every pulse lies on one of the lines y = td x + c - k S / sd, k = 1..7,
    // taken in order.
    const double c = kHigh - kLow * td;
    int previous = 1;
    for (const LaserLine& l : r.lasers) {
        const double k = (c - (l.origin.y - td * l.origin.x)) * sd / s;
        EXPECT_NEAR(k, std::round(k), 1e-9);
        EXPECT_GE(std::lround(k), previous);
        EXPECT_LE(std::lround(k), 7);
        previous = static_cast<int>(std::lround(k));
    }
    EXPECT_EQ(previous, 7);
}

TEST(OriginPass, OrientationZeroPointOneIsHorizontalAndZeroPointElevenOblique) {
    Survey horizontal;
    horizontal.orientation = 0.1;
    EXPECT_EQ(lay(horizontal).emitted.front(), std::make_pair('M', 5.0));

    Survey oblique;
    oblique.orientation = 0.11;
    // W = sin(0.11 deg) * |...| is tiny: one line, through the centre.
    const Recorded r = lay(oblique);
    EXPECT_EQ(r.emitted.front(), std::make_pair('M', 1.0));
    ASSERT_EQ(r.lasers.size(), 2u);
    const double td = tan_deg(0.11);
    const double c = 50.0 - td * 50.0;
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.x, kHigh);  // right edge is higher: start there
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.y, td * kHigh + c);
}

TEST(OriginPass, OrientationOneEightyFliesOneLineThroughTheCentre) {
    Survey run;
    run.orientation = 180.0;
    const Recorded r = lay(run);
    const std::vector<std::pair<char, double>> expected{{'M', 1.0}, {'V', 0.0}, {'V', 1.0}};
    EXPECT_EQ(r.emitted, expected);
    ASSERT_EQ(r.lasers.size(), 2u);
    // tan(3.14159) is slightly negative, so the left end is the higher one.
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.x, kLow);
    EXPECT_NEAR(r.lasers[0].origin.y, 50.0, 1e-3);
    EXPECT_NEAR(r.lasers[1].origin.x, kLow + 100.0, 1e-6);
}

TEST(OriginPass, WidthBelowTwoSpacingsGivesOneCentreLine) {
    Survey run;
    run.height = 100.0;  // S = 57.7: W / S = 2.7 -> still two lines
    run.overlap = 0.0;   // S = 115.5: W / S = 1.35 -> one line
    const Recorded r = lay(run);
    ASSERT_EQ(r.lasers.size(), 2u);
    EXPECT_EQ(r.lasers[0].origin.y, 50.0);
    EXPECT_EQ(r.lasers[0].origin.x, kHigh);
    EXPECT_EQ(r.lasers[1].origin.x, kHigh - 100.0);
}

TEST(OriginPass, ZeroFieldOfViewLaysNoLine) {
    Survey run;
    run.halfFov = 0.0;
    const Recorded r = lay(run);
    EXPECT_TRUE(r.lasers.empty());
    EXPECT_TRUE(r.emitted.empty());
}

TEST(OriginPass, PulseTimeAccumulatesAndRestartsOnEveryLine) {
    Survey run;
    run.prf = 10.0;  // 0.1 s, accumulated: 15 additions stay below 1.5625
    const Recorded r = lay(run);
    ASSERT_EQ(r.lasers.size(), 5u * 16u);
    double t = 0.0;
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(r.lasers[i].origin.x, kHigh + -100.0 * t);
        EXPECT_EQ(r.lasers[16 + i].origin.x, kLow + 100.0 * t);  // t from 0 again
        t += 0.1;
    }
}

TEST(OriginPass, DegenerateRatesEndWithoutHanging) {
    Survey still;
    still.velocity = 0.0;  // T infinite: no pulse
    const Recorded r0 = lay(still);
    EXPECT_TRUE(r0.lasers.empty());
    EXPECT_EQ(r0.emitted.back(), std::make_pair('V', 5.0));

    Survey slow;
    slow.prf = 1e-9;  // one pulse, at t = 0, per line
    EXPECT_EQ(lay(slow).lasers.size(), 5u);
    Survey none;
    none.prf = 0.0;
    EXPECT_EQ(lay(none).lasers.size(), 5u);
    Survey negative;
    negative.prf = -10.0;
    EXPECT_TRUE(lay(negative).lasers.empty());

    Survey flood;
    flood.prf = 1e300;  // far more pulses than memory: refused before anything
    Laserlines lines;
    int emitted = 0;
    QObject::connect(&lines, &Laserlines::max_limit, [&](double) { ++emitted; });
    EXPECT_THROW(lines.compute_origins(flood.prf, 100.0, 30.0, 100.0, 50.0, 0.0, 0, 0, 0, 100, 100, 10, false,
                                       TrajectoryTerms{}, 1u),
                 InputError);
    EXPECT_TRUE(lines.lasers.empty());
    EXPECT_EQ(emitted, 0);
}

TEST(OriginPass, CapacityIsExactlyTheRecords) {
    Laserlines lines;
    lines.compute_origins(1000.0, 100.0, 30.0, 100.0, 50.0, 33.0, 0, 0, 0, 100, 100, 10, false, TrajectoryTerms{},
                          1u);
    EXPECT_GT(lines.lasers.size(), 1000u);
    EXPECT_EQ(lines.lasers.capacity(), lines.lasers.size());
}

TEST(ClipFlightLine, ObliqueEdgesAndMisses) {
    const FlightArea area = widen_flight_area(0, 0, 0, 8, 8, 8);  // -2..10.5
    const double td = tan_deg(45.0);
    // Through the area: top and left edge, sense flips the ends.
    const FlightSegment down = clip_flight_line(45.0, 4.0, +1, area, 7.0, 5, 4.0, 4.0);
    ASSERT_TRUE(down.valid);
    EXPECT_DOUBLE_EQ(down.start.x, (10.5 - 4.0) / td);
    EXPECT_EQ(down.start.y, 10.5);
    EXPECT_EQ(down.start.z, 7.0);
    EXPECT_EQ(down.end.x, -2.0);
    EXPECT_DOUBLE_EQ(down.end.y, td * -2.0 + 4.0);
    const FlightSegment up = clip_flight_line(45.0, 4.0, -1, area, 7.0, 5, 4.0, 4.0);
    EXPECT_EQ(up.start.x, down.end.x);
    EXPECT_EQ(up.end.y, down.start.y);
    // Far outside: no two points, the line is skipped.
    EXPECT_FALSE(clip_flight_line(45.0, 100.0, +1, area, 7.0, 5, 4.0, 4.0).valid);
    EXPECT_FALSE(clip_flight_line(135.0, -100.0, -1, area, 7.0, 5, 4.0, 4.0).valid);
}

TEST(OriginPass, SteepOrientationStartsFromTheTopRightCorner) {
    Survey run;
    run.orientation = 135.0;
    run.prf = 10.0;  // line 1 is 57.7 m long: six pulses
    const Recorded r = lay(run);
    const double td = tan_deg(135.0), sd = sin_deg(135.0), s = 50.0 * tan_deg(30.0);
    // W = sd * |dy - td * dx|: seven lines; c = max'y - max'x * td.
    EXPECT_EQ(r.emitted.front(), std::make_pair('M', 7.0));
    const double l1 = (kHigh - kHigh * td) - s / sd;
    // Line 1 cuts the top edge and then the right edge; it starts on top.
    ASSERT_GE(r.lasers.size(), 2u);
    EXPECT_DOUBLE_EQ(r.lasers[0].origin.x, (kHigh - l1) / td);
    EXPECT_EQ(r.lasers[0].origin.y, kHigh);
    // Flying down and to the right, along the line.
    EXPECT_GT(r.lasers[1].origin.x, r.lasers[0].origin.x);
    EXPECT_NEAR(r.lasers[1].origin.y, td * r.lasers[1].origin.x + l1, 1e-9);
}
