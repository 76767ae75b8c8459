// Laying a survey piece by piece from cursors: any run of pulses, reached
// by skipping from the start, is the run the whole-survey passes lay.
#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "app/angles.h"
#include "flight/pulse_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool same_vec(const Vec3& a, const Vec3& b) {
    return std::memcmp(&a.x, &b.x, sizeof(double)) == 0 && std::memcmp(&a.y, &b.y, sizeof(double)) == 0 &&
           std::memcmp(&a.z, &b.z, sizeof(double)) == 0;
}
// Bit for bit, field by field (the padding is not compared).
bool same_record(const LaserLine& a, const LaserLine& b) {
    return same_vec(a.origin, b.origin) && same_vec(a.direction, b.direction) && same_vec(a.hitPoint, b.hitPoint) &&
           same_vec({a.roll, a.pitch, a.yaw}, {b.roll, b.pitch, b.yaw}) && a.range == b.range &&
           a.hitFaceIndex == b.hitFaceIndex;
}

TEST(PulseGenerator, PiecesFromSkippedCursorsAreTheWholeSurvey) {
    struct Case {
        ScanPattern pattern;
        bool realistic;
        double orientation;
    };
    for (const Case& c : {Case{ZigZagLines, false, 0.0}, Case{ParallelLines, true, 30.0},
                          Case{Elliptical, true, 90.0}, Case{Spherical, false, 120.0}}) {
        SCOPED_TRACE(c.pattern);
        SimulationData data;
        data.setLimits({0, 0, 0, 400, 300, 20});
        data.flight = {c.orientation, 20.0, 30.0, 100.0};
        data.scanner = {50.0, 3.0, 60.0, 20.0, c.pattern};
        data.realisticTrajectory = c.realistic;
        data.trajectoryTerms = {{0.5, 0.2, 0, 0}, {}, {0, 0, 0.1, 3}, {0, 0, 0.3, 1}, {0.2, 1, 0, 0}, {0, 0, 0.1, 2}};

        // The desktop program's two passes over the whole survey.
        uniform_source().seed(99);
        const FlightParameters& f = data.flight;
        const ScannerParameters& s = data.scanner;
        data.laserlines.compute_origins(s.prf, f.velocity, s.fovAcross / 2, f.overlap, f.meanHeight, f.orientation,
                                        0, 0, 0, 400, 300, 20, c.realistic, data.trajectoryTerms, 7u);
        data.laserlines.compute_directions(s.prf, s.fovAcross / 2, f.orientation, s.pattern, s.scanFrequency,
                                           s.fovAlong / 2, c.realistic, data.trajectoryTerms, 7u);
        const std::vector<LaserLine> whole = data.lasers();
        const std::vector<std::size_t> starts = data.laserlines.lineStarts;
        const int afterPasses = uniform_source().next();

        uniform_source().seed(99);
        PulseGenerator generator(data, 7u);
        generator.count();
        // The sign draws leave the shared source where the passes left it.
        EXPECT_EQ(uniform_source().next(), afterPasses);
        install_uniform_source(nullptr);
        ASSERT_EQ(generator.pulses(), whole.size());
        ASSERT_GT(whole.size(), 500u);
        ASSERT_EQ(generator.origins().lines(), static_cast<int>(starts.size()));
        for (std::size_t i = 0; i < starts.size(); ++i)
            EXPECT_EQ(generator.origins().lineStart(static_cast<int>(i)), starts[i]);

        // Pieces of odd sizes, each from a fresh cursor moved on by skip.
        std::vector<LaserLine> piece;
        for (std::size_t first = 0, size = 1; first < whole.size(); first += size, size = size * 3 + 1) {
            const std::size_t n = std::min(size, whole.size() - first);
            PulseGenerator::Cursor cursor;
            generator.skip(cursor, first);
            piece.assign(n, LaserLine());
            generator.generate(cursor, n, piece.data());
            EXPECT_EQ(cursor.pulse, first + n);
            for (std::size_t k = 0; k < n; ++k)
                ASSERT_TRUE(same_record(piece[k], whole[first + k])) << "pulse " << first + k;
        }
        // A line's end is where the next line starts.
        PulseGenerator::Cursor cursor;
        generator.skip(cursor, starts.size() > 1 ? starts[1] - 1 : 0);
        EXPECT_EQ(generator.lineEnd(cursor), starts.size() > 1 ? starts[1] : whole.size());
    }
}

// The parallel-lines sweep pulse by pulse as the rule states it (a step
// across, a jump back to the far side at the edge), against the plan, which
// tables the sines and cosines of one period: the same bits from any
// cursor, for sweeps with and without a table and for a zero field of
// view (whose angle is -0 after every jump).
TEST(PulseGenerator, ParallelSweepGivesTheSawToothBitForBit) {
    struct Case {
        double prf, halfFov, scanFrequency;
    };
    for (const Case& c : {Case{1000.0, 20.0, 7.0}, Case{2e6, 30.0, 12.0}, Case{500.0, 0.0, 10.0}}) {
        SCOPED_TRACE(c.prf);
        const DirectionPlan plan(c.prf, c.halfFov, 25.0, ParallelLines, c.scanFrequency, 0.0, false,
                                 TrajectoryTerms(6, std::vector<double>(4, 0.0)), 1u, 1);
        const double theta = deg_to_rad(c.halfFov);
        const double dphi = 4.0 * theta * c.scanFrequency / c.prf;
        const AttitudeTrig trig = attitude_trig(0.0, 0.0, -25.0);
        const std::size_t n = 200000;
        std::vector<LaserLine> expected(n);
        double phi = 0.0;
        for (LaserLine& laser : expected) {
            phi = phi + dphi;
            if (!(phi < theta)) phi = -theta;
            laser.direction = rotate_vector(Vec3{0.0, std::sin(phi), -std::cos(phi)}, trig);
            laser.yaw = -25.0;
        }
        std::vector<LaserLine> got(n);
        for (std::size_t first = 0, size = 1; first < n; first += size, size = size * 2 + 3) {
            const std::size_t count = std::min(size, n - first);
            DirectionPlan::Cursor cursor;
            plan.skip(cursor, first);
            plan.directions(cursor, count, got.data() + first);
        }
        for (std::size_t k = 0; k < n; ++k) ASSERT_TRUE(same_record(got[k], expected[k])) << "pulse " << k;
    }
}

}  // namespace
