// Realistic trajectory: the periodic terms, their sign draws, and how the
// two passes apply them.
#include "app/uniform_source.h"
#include "flight/laserlines.h"
#include "flight/realistic_trajectory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The C-standard example generator from seed 1 draws 16838, 5758, 10113,
// 17515, ...; from seed 2 it draws 908, 22817, 10239, 12914, ...
// (state = state * 1103515245 + 12345, value = state / 65536 mod 32768).
constexpr std::uint32_t kSeedPlusMinusMinusPlus = 1;
constexpr std::uint32_t kSeedMinusPlusMinusMinus = 2;

TrajectoryTerms zero_terms() { return TrajectoryTerms(6, std::vector<double>(4, 0.0)); }

// The default run of the origin tests: five horizontal lines, two pulses
// each (t = 0 and 1 s), then zig-zag directions.
std::vector<LaserLine> generate(bool realistic, const TrajectoryTerms& terms, std::uint32_t seed) {
    Laserlines lines;
    lines.compute_origins(1.0, 100.0, 30.0, 100.0, 50.0, 0.0, 0, 0, 0, 100, 100, 10, realistic, terms, seed);
    lines.compute_directions(1.0, 30.0, 0.0, ZigZagLines, 0.1, 0.0, realistic, terms, seed);
    return lines.lasers;
}

class RealisticTrajectory : public ::testing::Test {
protected:
    void TearDown() override { install_uniform_source(nullptr); }
};

}  // namespace

TEST_F(RealisticTrajectory, TermIsACosineAndASine) {
    EXPECT_DOUBLE_EQ(term({2.0, 3.0, 5.0, 7.0}, 0.5), 2.0 * std::cos(1.5) + 5.0 * std::sin(3.5));
    EXPECT_EQ(term({1.0, 0.0, 0.0, 0.0}, 123.0), 1.0);
    EXPECT_EQ(term({0.0, 0.0, 1.0, 0.0}, 123.0), 0.0);  // sin(0)
    EXPECT_EQ(term({}, 1.0), 0.0);
}

TEST_F(RealisticTrajectory, SignsFollowTheSeededDraws) {
    std::vector<double> set{1.0, 2.0, 3.0, 4.0};
    randomise_term_signs(set, kSeedPlusMinusMinusPlus);
    EXPECT_EQ(set, (std::vector<double>{1.0, -2.0, -3.0, 4.0}));
    // Every call seeds again: the same seed gives the same signs.
    randomise_term_signs(set, kSeedPlusMinusMinusPlus);
    EXPECT_EQ(set, (std::vector<double>{1.0, 2.0, 3.0, 4.0}));
    randomise_term_signs(set, kSeedMinusPlusMinusMinus);
    EXPECT_EQ(set, (std::vector<double>{-1.0, 2.0, -3.0, -4.0}));
    // The shared source goes on after the four draws.
    EXPECT_EQ(uniform_source().next(), 25837);
}

TEST_F(RealisticTrajectory, AllTermsZeroEqualsOff) {
    const std::vector<LaserLine> off = generate(false, TrajectoryTerms{}, 1u);
    const std::vector<LaserLine> on = generate(true, zero_terms(), 2u);
    ASSERT_EQ(on.size(), off.size());
    for (std::size_t i = 0; i < on.size(); ++i) {
        EXPECT_EQ(on[i].origin.x, off[i].origin.x);
        EXPECT_EQ(on[i].origin.y, off[i].origin.y);
        EXPECT_EQ(on[i].origin.z, off[i].origin.z);
        EXPECT_EQ(on[i].direction.x, off[i].direction.x);
        EXPECT_EQ(on[i].direction.y, off[i].direction.y);
        EXPECT_EQ(on[i].direction.z, off[i].direction.z);
        EXPECT_EQ(on[i].roll, off[i].roll);
        EXPECT_EQ(on[i].yaw, off[i].yaw);
    }
}

TEST_F(RealisticTrajectory, ConstantXTermShiftsByTheDrawnSign) {
    const std::vector<LaserLine> off = generate(false, TrajectoryTerms{}, 1u);
    TrajectoryTerms terms = zero_terms();
    terms[kTermsX] = {1.0, 0.0, 0.0, 0.0};
    terms[kTermsY] = {0.0, 0.0, 1.0, 0.0};  // C sin(0 t): nothing
    for (std::uint32_t seed : {kSeedPlusMinusMinusPlus, kSeedMinusPlusMinusMinus}) {
        const double shift = seed == kSeedPlusMinusMinusPlus ? 1.0 : -1.0;
        const std::vector<LaserLine> on = generate(true, terms, seed);
        ASSERT_EQ(on.size(), off.size());
        for (std::size_t i = 0; i < on.size(); ++i) {
            EXPECT_EQ(on[i].origin.x, off[i].origin.x + shift);
            EXPECT_EQ(on[i].origin.y, off[i].origin.y);
        }
    }
}

TEST_F(RealisticTrajectory, PositionPhaseRestartsEachLineAttitudePhaseDoesNot) {
    TrajectoryTerms terms = zero_terms();
    terms[kTermsZ] = {2.0, 1.0, 0.0, 0.0};     // 2 cos(t), t since the line began
    terms[kTermsRoll] = {3.0, 1.0, 0.0, 0.0};  // 3 cos(t), t since the run began
    terms[kTermsYaw] = {0.0, 0.0, 1.0, 1.0};   // sin(t)
    const std::vector<LaserLine> on = generate(true, terms, kSeedPlusMinusMinusPlus);
    ASSERT_EQ(on.size(), 10u);
    for (std::size_t i = 0; i < on.size(); ++i) {
        const double lineTime = static_cast<double>(i % 2);
        const double runTime = static_cast<double>(i);
        // Seed 1 keeps A and flips B and C: cos(-t) = cos(t), -sin(t).
        EXPECT_DOUBLE_EQ(on[i].origin.z, 50.0 + 2.0 * std::cos(lineTime)) << i;
        EXPECT_DOUBLE_EQ(on[i].roll, 3.0 * std::cos(runTime)) << i;
        EXPECT_EQ(on[i].pitch, 0.0);
        EXPECT_DOUBLE_EQ(on[i].yaw, -std::sin(runTime) - 0.0) << i;
    }
}

TEST_F(RealisticTrajectory, ShortOrMissingSetsReadAsZero) {
    TrajectoryTerms terms{{1.0}};  // x: A only; the other sets missing
    const std::vector<LaserLine> off = generate(false, TrajectoryTerms{}, 1u);
    const std::vector<LaserLine> on = generate(true, terms, kSeedPlusMinusMinusPlus);
    ASSERT_EQ(on.size(), off.size());
    EXPECT_EQ(on[0].origin.x, off[0].origin.x + 1.0);
    EXPECT_EQ(on[0].direction.z, off[0].direction.z);
}

TEST_F(RealisticTrajectory, SharedSourceContinuesFromTheRunSeed) {
    // The error model draws from the same source after laser generation.
    generate(true, zero_terms(), kSeedMinusPlusMinusMinus);
    EXPECT_EQ(uniform_source().next(), 25837);  // fifth draw after seed 2
    // Without the realistic trajectory the source is not touched.
    uniform_source().seed(1);
    generate(false, zero_terms(), kSeedMinusPlusMinusMinus);
    EXPECT_EQ(uniform_source().next(), 16838);
}
