// Direction pass: scanner patterns, attitude rotation and progress signals.
#include "flight/laserlines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

double rad(double degrees) { return degrees * 3.14159 / 180.0; }

// `count` records as the origin pass leaves them, then the direction pass.
std::vector<LaserLine> directions(std::size_t count, double prf, double halfFov, double orientation,
                                  ScanPattern pattern, double scanFrequency, double halfAlong = 0.0) {
    Laserlines lines;
    LaserLine record;
    record.reset_laser();
    record.set_direction(0.0, 0.0, 1.0);
    lines.lasers.assign(count, record);
    lines.compute_directions(prf, halfFov, orientation, pattern, scanFrequency, halfAlong, false, TrajectoryTerms{},
                             1u);
    return lines.lasers;
}

void expect_direction(const LaserLine& l, double x, double y, double z) {
    EXPECT_NEAR(l.direction.x, x, 1e-12);
    EXPECT_NEAR(l.direction.y, y, 1e-12);
    EXPECT_NEAR(l.direction.z, z, 1e-12);
}

}  // namespace

TEST(Rotation, YawTurnsTheScannerAxesOntoTheFlight) {
    for (double orientation : {0.0, 30.0, 90.0, 135.0}) {
        const double o = rad(orientation);
        LaserLine along;
        along.set_direction(1.0, 0.0, 0.0);
        along.rotate_direction(0.0, 0.0, -orientation);
        EXPECT_NEAR(along.direction.x, std::cos(o), 1e-15);
        EXPECT_NEAR(along.direction.y, std::sin(o), 1e-15);
        EXPECT_EQ(along.direction.z, 0.0);
        LaserLine left;
        left.set_direction(0.0, 1.0, 0.0);
        left.rotate_direction(0.0, 0.0, -orientation);
        EXPECT_NEAR(left.direction.x, -std::sin(o), 1e-15);
        EXPECT_NEAR(left.direction.y, std::cos(o), 1e-15);
    }
}

TEST(Rotation, YawThenPitchThenRoll) {
    // Yaw 90 sends x to -y, which pitch leaves alone; pitch first would
    // have sent x up instead.
    LaserLine l;
    l.set_direction(1.0, 0.0, 0.0);
    l.rotate_direction(0.0, 90.0, 90.0);
    EXPECT_NEAR(l.direction.x, 0.0, 1e-5);  // cos(90 deg) is 1.3e-6 with pi = 3.14159
    EXPECT_NEAR(l.direction.y, -1.0, 1e-10);
    EXPECT_NEAR(l.direction.z, 0.0, 1e-5);
    // Roll 90 tips straight down towards -y.
    l.set_direction(0.0, 0.0, -1.0);
    l.rotate_direction(90.0, 0.0, 0.0);
    EXPECT_NEAR(l.direction.y, -1.0, 1e-10);
    EXPECT_NEAR(l.direction.z, 0.0, 1e-5);  // cos(90 deg) with pi = 3.14159
}

TEST(Rotation, PrecomputedSinesGiveTheSameBits) {
    const double attitudes[][3] = {{0.3, -1.7, -33.0}, {12.5, 4.25, -179.9}, {-0.0, 0.0, -0.0}, {89.0, -45.0, 7.0}};
    for (const auto& a : attitudes) {
        LaserLine byAngles, byTrig;
        byAngles.set_direction(0.12, -0.34, -0.93);
        byTrig.set_direction(0.12, -0.34, -0.93);
        byAngles.rotate_direction(a[0], a[1], a[2]);
        byTrig.rotate_direction(attitude_trig(a[0], a[1], a[2]));
        EXPECT_EQ(std::memcmp(&byAngles.direction, &byTrig.direction, sizeof(Vec3)), 0);
    }
}

TEST(Patterns, ZigZagSweepsAcrossTheFlight) {
    // prf = 4 * scanFrequency: a quarter turn (1.570795 rad) per pulse.
    for (double orientation : {0.0, 90.0}) {
        const std::vector<LaserLine> l = directions(3, 80.0, 30.0, orientation, ZigZagLines, 20.0);
        expect_direction(l[0], 0.0, 0.0, -1.0);  // straight down at t = 0
        EXPECT_EQ(l[0].yaw, -orientation);
        EXPECT_EQ(l[0].roll, 0.0);
        // At a quarter cycle the beam leans by -theta across the flight,
        // which lies along -y at orientation 0 and along +x at 90.
        const double tanTheta = std::tan(rad(30.0));
        const double across = orientation == 0.0 ? -l[1].direction.y : l[1].direction.x;
        const double along = orientation == 0.0 ? l[1].direction.x : l[1].direction.y;
        EXPECT_NEAR(across / -l[1].direction.z, -std::sin(1.570795) * -tanTheta, 1e-12);
        EXPECT_NEAR(along, 0.0, 1e-5);  // cos(90 deg) is 1.3e-6 with pi = 3.14159
        EXPECT_NEAR(std::hypot(std::hypot(l[1].direction.x, l[1].direction.y), l[1].direction.z), 1.0, 1e-15);
        // Half a turn: back to vertical.
        EXPECT_NEAR(l[2].direction.z, -1.0, 1e-10);
    }
}

TEST(Patterns, SphericalRunsOnAConeOfTheHalfAngle) {
    const double a = std::tan(rad(30.0));
    const std::vector<LaserLine> l = directions(2, 80.0, 30.0, 0.0, Spherical, 20.0);
    const double m = std::sqrt(a * a + 1.0);
    expect_direction(l[0], -a / m, 0.0, -1.0 / m);  // leans backwards at t = 0
    EXPECT_NEAR(l[1].direction.x, 0.0, 1e-5);
    EXPECT_NEAR(l[1].direction.y, -a / m, 1e-10);
    EXPECT_NEAR(l[1].direction.z, -1.0 / m, 1e-10);
}

TEST(Patterns, EllipticalUsesTheAlongHalfAngle) {
    const double a = std::tan(rad(30.0)), b = std::tan(rad(10.0));
    const std::vector<LaserLine> l = directions(2, 80.0, 30.0, 0.0, Elliptical, 20.0, 10.0);
    expect_direction(l[0], -b / std::sqrt(b * b + 1.0), 0.0, -1.0 / std::sqrt(b * b + 1.0));
    EXPECT_NEAR(l[1].direction.y, -a / std::sqrt(a * a + 1.0), 1e-10);
    // Any pattern value above 2 is an ellipse as well.
    const std::vector<LaserLine> other = directions(2, 80.0, 30.0, 0.0, static_cast<ScanPattern>(7), 20.0, 10.0);
    EXPECT_EQ(other[0].direction.x, l[0].direction.x);
    // With no field of view across, the ellipse still swings along the flight.
    const std::vector<LaserLine> flat = directions(1, 80.0, 0.0, 0.0, Elliptical, 20.0, 10.0);
    EXPECT_NEAR(flat[0].direction.x, -b / std::sqrt(b * b + 1.0), 1e-12);
}

TEST(Patterns, ParallelLinesSawToothWrapsAfterAbout125Pulses) {
    // theta 30 deg, 20 Hz, 10 kHz: phi grows by 4 * theta * 20 / 10000.
    const double theta = rad(30.0);
    const double step = 4.0 * theta * 20.0 / 10000.0;
    EXPECT_NEAR(step, 0.00419, 1e-5);
    const std::vector<LaserLine> l = directions(500, 10000.0, 30.0, 0.0, ParallelLines, 20.0);
    // The first pulse is already one step across.
    EXPECT_NEAR(l[0].direction.y, std::sin(step), 1e-12);
    EXPECT_NEAR(l[0].direction.z, -std::cos(step), 1e-12);
    std::size_t wrap = 0;
    for (std::size_t i = 1; i < l.size() && wrap == 0; ++i)
        if (l[i].direction.y < l[i - 1].direction.y) wrap = i;
    ASSERT_TRUE(wrap == 124 || wrap == 125) << wrap;
    EXPECT_NEAR(l[wrap].direction.y, -std::sin(theta), 1e-12);  // jumped to -theta
    EXPECT_NEAR(l[wrap - 1].direction.y, std::sin(theta), 1e-2);
    // From -theta it walks 2 theta / step = 250 pulses to the next wrap.
    std::size_t next = 0;
    for (std::size_t i = wrap + 1; i < l.size() && next == 0; ++i)
        if (l[i].direction.y < l[i - 1].direction.y) next = i;
    EXPECT_GE(next - wrap, 249u);
    EXPECT_LE(next - wrap, 251u);
}

TEST(Patterns, NoFieldOfViewAcrossPointsStraightDown) {
    for (ScanPattern p : {ZigZagLines, ParallelLines, Spherical}) {
        const std::vector<LaserLine> l = directions(5, 10000.0, 0.0, 0.0, p, 20.0);
        for (const LaserLine& laser : l) expect_direction(laser, 0.0, 0.0, -1.0);
    }
}

TEST(DirectionProgress, EveryRecordBelowTwentyThenEveryTwentieth) {
    auto run = [](std::size_t n) {
        Laserlines lines;
        lines.lasers.resize(n);
        std::vector<std::pair<char, double>> s;
        QObject::connect(&lines, &Laserlines::max_limit, [&](double v) { s.emplace_back('M', v); });
        QObject::connect(&lines, &Laserlines::value_changed, [&](double v) { s.emplace_back('V', v); });
        lines.compute_directions(1000.0, 30.0, 0.0, ZigZagLines, 20.0, 0.0, false, TrajectoryTerms{}, 1u);
        return s;
    };
    std::vector<std::pair<char, double>> expected{{'M', 3}, {'V', 0}, {'V', 1}, {'V', 2}, {'V', 3}};
    EXPECT_EQ(run(3), expected);
    // 45 records: step 45 / 20 = 2, so 0, 2, ..., 44, then 45.
    expected = {{'M', 45}};
    for (int k = 0; k <= 44; k += 2) expected.emplace_back('V', k);
    expected.emplace_back('V', 45);
    EXPECT_EQ(run(45), expected);
    expected = {{'M', 0}, {'V', 0}};
    EXPECT_EQ(run(0), expected);
}

TEST(ExpectedHits, CountsRaysMeetingTheModelFloorInsideItsLimits) {
    Laserlines lines;
    auto add = [&](Vec3 o, Vec3 d) {
        LaserLine l;
        l.origin = o;
        l.direction = d;
        lines.lasers.push_back(l);
    };
    EXPECT_EQ(lines.count_expected_hits(10, 10, 5, 0, 0, 1), 0);
    add({5, 5, 100}, {0, 0, -1});               // inside
    add({5, 5, 100}, {0.5, 0, -1});             // lands at x = 54.5: outside
    add({10, 0, 100}, {0, 0, -1});              // on the corner: counts
    add({5, 5, 100}, {1, 0, 0});                // never meets the floor
    add({-5, 5, 100}, {0.1 / 99.0, 0, -1.0 / 99.0});  // slants in from outside
    EXPECT_EQ(lines.count_expected_hits(10, 10, 5, 0, 0, 1), 3);
}
