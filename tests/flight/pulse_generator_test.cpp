// Laying a survey piece by piece from cursors: any run of pulses, reached
// by skipping from the start, is the run the whole-survey passes lay.
#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "flight/pulse_generator.h"

#include <gtest/gtest.h>

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

}  // namespace
