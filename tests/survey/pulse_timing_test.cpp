// Per-pulse time, flight line and sweep flags, checked against the laser
// records the two generation passes lay down.
#include "app/angles.h"
#include "flight/laserlines.h"
#include "survey/pulse_timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct LaidRun {
    ScannerParameters scanner;
    FlightParameters flight;
    std::vector<LaserLine> lasers;
    std::vector<std::size_t> lineStarts;
};

// Model 0..400 x 0..300, flown at 100 m with a pulse every 2 ms.
LaidRun lay(ScanPattern pattern, double orientation, double scanFrequency = 7.0) {
    LaidRun run;
    run.scanner.prf = 500.0;
    run.scanner.scanFrequency = scanFrequency;
    run.scanner.fovAcross = 40.0;
    run.scanner.fovAlong = 20.0;
    run.scanner.pattern = pattern;
    run.flight.orientation = orientation;
    run.flight.velocity = 60.0;
    run.flight.overlap = 30.0;
    run.flight.meanHeight = 100.0;
    Laserlines lines;
    const ScannerParameters& s = run.scanner;
    const FlightParameters& f = run.flight;
    lines.compute_origins(s.prf, f.velocity, s.fovAcross * 0.5, f.overlap, f.meanHeight, f.orientation, 0, 0, 0,
                          400, 300, 10, false, TrajectoryTerms{}, 1u);
    lines.compute_directions(s.prf, s.fovAcross * 0.5, f.orientation, s.pattern, s.scanFrequency,
                             s.fovAlong * 0.5, false, TrajectoryTerms{}, 1u);
    run.lasers = lines.lasers;
    run.lineStarts = lines.lineStarts;
    return run;
}

std::vector<PulseInfo> infos(const LaidRun& run) {
    PulseTiming timing(run.scanner, run.flight, run.lineStarts, run.lasers.size());
    std::vector<PulseInfo> out(run.lasers.size());
    timing.fill(0, out.size(), out.data());
    return out;
}

}  // namespace

TEST(PulseTiming, FlagsAndLinesFollowTheLaidPulses) {
    struct Case {
        ScanPattern pattern;
        double orientation;
    };
    const Case cases[] = {{ZigZagLines, 0.0}, {ZigZagLines, 30.0},   {ParallelLines, 90.0},
                          {ParallelLines, 135.0}, {Spherical, 60.0}, {Elliptical, 0.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pattern " << c.pattern << " orientation " << c.orientation);
        const LaidRun run = lay(c.pattern, c.orientation);
        ASSERT_GT(run.lineStarts.size(), 2u);
        ASSERT_GT(run.lasers.size(), 2000u);
        const std::vector<PulseInfo> info = infos(run);

        std::size_t edges = 0, checked = 0;
        for (std::size_t k = 0; k + 1 < run.lasers.size(); ++k) {
            const std::uint32_t line = info[k].line;
            // Line n holds the pulses from its first pulse to the next line's.
            std::uint32_t started = 0;
            for (std::size_t start : run.lineStarts) started += start <= k ? 1u : 0u;
            ASSERT_EQ(line, started) << "pulse " << k;
            if (info[k + 1].line != line) continue;
            // The aircraft moves along the line's heading.
            const Vec3 h = flight_line_heading(c.orientation, line - 1);
            const Vec3 step = run.lasers[k + 1].origin - run.lasers[k].origin;
            ASSERT_GT(step.x * h.x + step.y * h.y, 0.0) << "pulse " << k;
            if (info[k].flags & PulseInfo::kSweepEdge) {
                ++edges;
                continue;
            }
            // Away from a turn the scan angle moves the way the flag says.
            const double a0 = scan_angle_degrees(run.lasers[k].direction, h);
            const double a1 = scan_angle_degrees(run.lasers[k + 1].direction, h);
            ASSERT_EQ(a1 > a0, (info[k].flags & PulseInfo::kScanForward) != 0) << "pulse " << k;
            ++checked;
        }
        // Two turns per scanner cycle (one jump for the saw-tooth).
        const double duration = info.back().time;
        const double turns = 2.0 * 7.0 * duration;
        EXPECT_NEAR(static_cast<double>(edges), turns, 0.02 * turns + run.lineStarts.size() + 2);
        EXPECT_GT(checked, run.lasers.size() / 2);
    }
}

TEST(PulseTiming, ScanAngleIsSignedToTheRightOfTheTrack) {
    const Vec3 north{0.0, 1.0, 0.0};
    EXPECT_NEAR(scan_angle_degrees(Vec3{1.0, 0.0, -1.0}, north), 45.0, 1e-12);   // east of a northbound track
    EXPECT_NEAR(scan_angle_degrees(Vec3{-1.0, 0.0, -1.0}, north), -45.0, 1e-12);  // west
    EXPECT_NEAR(scan_angle_degrees(Vec3{0.0, 5.0, -1.0}, north), 0.0, 1e-12);     // along the track
    EXPECT_NEAR(scan_angle_degrees(Vec3{-1.0, 0.0, -1.0}, Vec3{0.0, -1.0, 0.0}), 45.0, 1e-12);
    EXPECT_NEAR(scan_angle_degrees(Vec3{0.0, -1.0, -1.0}, Vec3{1.0, 0.0, 0.0}), 45.0, 1e-12);  // south of eastbound
    EXPECT_NEAR(scan_angle_degrees(Vec3{0.0, -1.0, -1.0}, Vec3{-1.0, 0.0, 0.0}), -45.0, 1e-12);
}
