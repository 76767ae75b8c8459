#include "errors/error_model.h"

#include "app/angles.h"
#include "app/uniform_source.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The first deviates from the default generator (state 1): its draws are
// 16838 5758 | 10113 17515 | 31051 5627 (rejected: s > 1) | 23010 7419,
// and each accepted pair (u, v) gives u*f, v*f with f = sqrt(-2 ln s / s).
const double kFirstDeviates[6] = {0.056183875494638796, -1.3134912410743287, -1.9127111879231924,
                                  0.3451451573455216,   0.7376944217128044,  -0.9979720279852764};

class ErrorModel : public ::testing::Test {
protected:
    void SetUp() override {
        install_uniform_source(nullptr);
        reset_normal_deviate();
    }
    void TearDown() override {
        install_uniform_source(nullptr);
        reset_normal_deviate();
    }
};

// Counts the uniform draws made through it.
class CountingSource final : public UniformSource {
public:
    void seed(std::uint32_t s) override { inner.seed(s); }
    int next() override {
        ++draws;
        return inner.next();
    }
    CExampleGenerator inner;
    int draws = 0;
};

LaserLine straight_down(double x, double y, double range) {
    LaserLine l;
    l.origin = {x, y, 500.0};
    l.direction = {0.0, 0.0, -1.0};
    l.range = range;
    l.hitPoint = {x, y, 500.0 - range};
    l.hitFaceIndex = 3;
    return l;
}

TEST_F(ErrorModel, FirstDeviatesFollowThePolarMethodOverTheDefaultGenerator) {
    for (double expected : kFirstDeviates) EXPECT_NEAR(normal_deviate(0.0, 1.0), expected, 1e-15);
    // mean + sigma * deviate, the cached value included.
    reset_normal_deviate();
    install_uniform_source(nullptr);
    EXPECT_NEAR(normal_deviate(10.0, 2.0), 10.0 + 2.0 * kFirstDeviates[0], 1e-14);
    EXPECT_NEAR(normal_deviate(-1.0, 0.5), -1.0 + 0.5 * kFirstDeviates[1], 1e-14);
}

TEST_F(ErrorModel, CachedDeviateCostsNoDrawAndRejectionsDrawAgain) {
    CountingSource source;
    install_uniform_source(&source);
    normal_deviate(0, 1);
    EXPECT_EQ(source.draws, 2);
    normal_deviate(0, 1);  // the cached second value
    EXPECT_EQ(source.draws, 2);
    normal_deviate(0, 1);
    EXPECT_EQ(source.draws, 4);
    normal_deviate(0, 1);
    EXPECT_EQ(source.draws, 4);
    normal_deviate(0, 1);  // one rejected pair first
    EXPECT_EQ(source.draws, 8);
}

TEST_F(ErrorModel, SystematicHeightOffsetLiftsOriginAndHit) {
    std::vector<LaserLine> lasers = {straight_down(10, 20, 480), straight_down(-5, 3, 100)};
    apply_systematic_error(lasers, {0, 0, 1, 0, 0, 0, 0});
    EXPECT_EQ(lasers[0].origin.z, 501.0);
    EXPECT_EQ(lasers[0].range, 480.0);
    EXPECT_EQ(lasers[0].hitPoint.x, 10.0);
    EXPECT_EQ(lasers[0].hitPoint.y, 20.0);
    EXPECT_EQ(lasers[0].hitPoint.z, 21.0);
    EXPECT_EQ(lasers[1].hitPoint.z, 401.0);
    // A second application adds on top.
    apply_systematic_error(lasers, {0, 0, 1, 0, 0, 0, 0});
    EXPECT_EQ(lasers[0].origin.z, 502.0);
    EXPECT_EQ(lasers[0].hitPoint.z, 22.0);
}

TEST_F(ErrorModel, SystematicRangeMovesHitAlongItsDirection) {
    LaserLine l = straight_down(0, 0, 200);
    l.direction = {0.6, 0.0, -0.8};
    l.hitPoint = {120, 0, 340};
    std::vector<LaserLine> lasers = {l};
    apply_systematic_error(lasers, {0, 0, 0, 0, 0, 0, 0.1});
    EXPECT_DOUBLE_EQ(lasers[0].range, 200.1);
    EXPECT_DOUBLE_EQ(lasers[0].hitPoint.x, 120.06);
    EXPECT_DOUBLE_EQ(lasers[0].hitPoint.z, 500.0 - 0.8 * 200.1);
    EXPECT_EQ(lasers[0].origin.z, 500.0);
}

TEST_F(ErrorModel, SystematicRollTurnsDirectionAboutX) {
    std::vector<LaserLine> lasers = {straight_down(0, 0, 100)};
    lasers[0].hitFaceIndex = -1;  // lasers without a return change too
    apply_systematic_error(lasers, {0, 0, 0, 1, 0, 0, 0});
    // Roll matrix rows [1 0 0], [0 cos sin], [0 -sin cos] on (0, 0, -1).
    const double r = 3.14159 / 180.0;
    EXPECT_DOUBLE_EQ(lasers[0].direction.x, 0.0);
    EXPECT_DOUBLE_EQ(lasers[0].direction.y, -std::sin(r));
    EXPECT_DOUBLE_EQ(lasers[0].direction.z, -std::cos(r));
    EXPECT_DOUBLE_EQ(lasers[0].hitPoint.y, -100.0 * std::sin(r));
    EXPECT_DOUBLE_EQ(lasers[0].hitPoint.z, 500.0 - 100.0 * std::cos(r));
}

TEST_F(ErrorModel, RandomErrorDrawsZYXThenAnglesThenRange) {
    std::vector<LaserLine> lasers = {straight_down(0, 0, 300)};
    apply_random_error(lasers, {1, 2, 3, 0, 0, 0, 0.5});
    const LaserLine& l = lasers[0];
    EXPECT_NEAR(l.origin.z, 500.0 + 3 * kFirstDeviates[0], 1e-12);
    EXPECT_NEAR(l.origin.y, 2 * kFirstDeviates[1], 1e-12);
    EXPECT_NEAR(l.origin.x, 1 * kFirstDeviates[2], 1e-12);
    // Deviates 4 to 6 went to the angles (sigma 0: no turn).
    EXPECT_EQ(l.direction.z, -1.0);
    // The seventh deviate: the first of the pair after the cache of the 6th.
    reset_normal_deviate();
    install_uniform_source(nullptr);
    double seventh = 0;
    for (int i = 0; i < 7; ++i) seventh = normal_deviate(0, 1);
    EXPECT_NEAR(l.range, 300.0 + 0.5 * seventh, 1e-12);
    EXPECT_NEAR(l.hitPoint.z, l.origin.z - l.range, 1e-9);
}

TEST_F(ErrorModel, ZeroSigmasChangeNothingButConsumeDeviates) {
    std::vector<LaserLine> lasers = {straight_down(1, 2, 300), straight_down(3, 4, 250)};
    const std::vector<LaserLine> before = lasers;
    apply_random_error(lasers, {0, 0, 0, 0, 0, 0, 0});
    apply_overall_error(lasers, {0, 0, 0});
    for (std::size_t i = 0; i < lasers.size(); ++i) {
        EXPECT_EQ(lasers[i].origin.x, before[i].origin.x);
        EXPECT_EQ(lasers[i].origin.z, before[i].origin.z);
        EXPECT_EQ(lasers[i].hitPoint.z, before[i].hitPoint.z);
        EXPECT_EQ(lasers[i].direction.z, before[i].direction.z);
    }
    // 2 * 7 + 2 * 3 = 20 deviates were used: the next is the 21st.
    const double next = normal_deviate(0, 1);
    reset_normal_deviate();
    install_uniform_source(nullptr);
    double twentyFirst = 0;
    for (int i = 0; i < 21; ++i) twentyFirst = normal_deviate(0, 1);
    EXPECT_EQ(next, twentyFirst);
}

TEST_F(ErrorModel, OverallErrorMovesOnlyTheHitPoint) {
    std::vector<LaserLine> lasers = {straight_down(5, 6, 400)};
    apply_overall_error(lasers, {0.1, 0.2, 0.3});
    const LaserLine& l = lasers[0];
    EXPECT_NEAR(l.hitPoint.z, 100.0 + 0.3 * kFirstDeviates[0], 1e-12);
    EXPECT_NEAR(l.hitPoint.y, 6.0 + 0.2 * kFirstDeviates[1], 1e-12);
    EXPECT_NEAR(l.hitPoint.x, 5.0 + 0.1 * kFirstDeviates[2], 1e-12);
    EXPECT_EQ(l.origin.z, 500.0);
    EXPECT_EQ(l.range, 400.0);
    EXPECT_EQ(l.direction.z, -1.0);
}

}  // namespace
