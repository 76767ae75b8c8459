// Error introduction: the normal deviates, the three kinds of error and the
// task that applies them.
#include "app/failure.h"
#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "errors/error_model.h"
#include "errors/error_tasks.h"
#include "support/recording_progress.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// The default generator (state 1) draws 16838 5758 | 10113 17515 | 31051 5627
// (rejected: s > 1) | 23010 7419 | ...; with u = 2 r / 32767 - 1 each accepted
// pair gives u f, v f, f = sqrt(-2 ln s / s), worked out apart from the program.
const double kDeviates[] = {0.056183875494638796, -1.3134912410743287, -1.9127111879231924, 0.3451451573455216,
                            0.7376944217128044,   -0.9979720279852764, -0.014935185837953661};
const double kTwentyFirst = 1.0053155271448042;

LaserLine straight_down(double x, double y, double range) {
    LaserLine l;
    l.origin = {x, y, 500.0};
    l.direction = {0.0, 0.0, -1.0};
    l.range = range;
    l.hitPoint = {x, y, 500.0 - range};
    return l;
}

class Errors : public ::testing::Test {
protected:
    void SetUp() override {
        install_uniform_source(nullptr);
        reset_normal_deviate();
    }
    void TearDown() override { SetUp(); }
};

}  // namespace

TEST_F(Errors, FirstDeviatesOfTheDefaultGenerator) {
    for (double expected : kDeviates) EXPECT_NEAR(normal_deviate(0.0, 1.0), expected, 1e-15);
}

TEST_F(Errors, SystematicOffsetsRangeAndRoll) {
    std::vector<LaserLine> lasers = {straight_down(10, 20, 480)};
    for (double z : {21.0, 22.0}) {  // Z = 1, twice: the offsets add up
        apply_systematic_error(lasers, {0, 0, 1, 0, 0, 0, 0});
        EXPECT_EQ(lasers[0].origin.z, z + 480.0);
        EXPECT_EQ(lasers[0].range, 480.0);
        EXPECT_EQ(lasers[0].hitPoint.z, z);
    }
    // Range + 0.1 moves the hit along its direction.
    lasers = {straight_down(0, 0, 200)};
    lasers[0].direction = {0.6, 0.0, -0.8};
    apply_systematic_error(lasers, {0, 0, 0, 0, 0, 0, 0.1});
    EXPECT_DOUBLE_EQ(lasers[0].range, 200.1);
    EXPECT_DOUBLE_EQ(lasers[0].hitPoint.x, 120.06);
    EXPECT_DOUBLE_EQ(lasers[0].hitPoint.z, 500.0 - 0.8 * 200.1);
    // Roll 1 turns about x: rows [1 0 0], [0 cos sin], [0 -sin cos] on (0, 0, -1).
    lasers = {straight_down(0, 0, 100)};
    apply_systematic_error(lasers, {0, 0, 0, 1, 0, 0, 0});
    const double r = 3.14159 / 180.0;
    EXPECT_DOUBLE_EQ(lasers[0].direction.y, -std::sin(r));
    EXPECT_DOUBLE_EQ(lasers[0].direction.z, -std::cos(r));
    EXPECT_DOUBLE_EQ(lasers[0].hitPoint.y, -100.0 * std::sin(r));
}

TEST_F(Errors, RandomAndOverallDrawInOrderAndZeroSigmasStillDraw) {
    std::vector<LaserLine> lasers = {straight_down(0, 0, 300)};
    apply_random_error(lasers, {1, 2, 3, 0, 0, 0, 0.5});
    EXPECT_NEAR(lasers[0].origin.z, 500.0 + 3 * kDeviates[0], 1e-12);
    EXPECT_NEAR(lasers[0].origin.y, 2 * kDeviates[1], 1e-12);
    EXPECT_NEAR(lasers[0].origin.x, 1 * kDeviates[2], 1e-12);
    EXPECT_NEAR(lasers[0].range, 300.0 + 0.5 * kDeviates[6], 1e-12);

    SetUp();
    lasers = {straight_down(1, 2, 300), straight_down(3, 4, 250)};
    apply_random_error(lasers, {0, 0, 0, 0, 0, 0, 0});
    apply_overall_error(lasers, {0, 0, 0});
    EXPECT_EQ(lasers[1].origin.z, 500.0);
    EXPECT_EQ(lasers[1].hitPoint.z, 250.0);
    EXPECT_NEAR(normal_deviate(0, 1), kTwentyFirst, 1e-15);  // 2 * 7 + 2 * 3 deviates used

    // Overall error moves only the hit point, Z, Y, X in draw order.
    SetUp();
    lasers = {straight_down(5, 6, 400)};
    apply_overall_error(lasers, {0.1, 0.2, 0.3});
    EXPECT_NEAR(lasers[0].hitPoint.z, 100.0 + 0.3 * kDeviates[0], 1e-12);
    EXPECT_NEAR(lasers[0].hitPoint.y, 6.0 + 0.2 * kDeviates[1], 1e-12);
    EXPECT_NEAR(lasers[0].hitPoint.x, 5.0 + 0.1 * kDeviates[2], 1e-12);
    EXPECT_EQ(lasers[0].origin.z, 500.0);
    EXPECT_EQ(lasers[0].range, 400.0);
}

TEST_F(Errors, TaskLogsValuesAndVariancesAndRefusesBadSettings) {
    SimulationData data;
    data.lasers().push_back(straight_down(0, 0, 500));
    RecordingProgress progress;
    ErrorSettings s{true, true, false, {0.5, -0.25, 1, 0.1, 0.2, 0.3, 0.05}, {0.5, 0, 0.1, 1e-4, 2, 0, 0.0003162}, {}};
    introduce_errors_task(data, s, progress);
    const QString rule = QString(85, QLatin1Char('_')) + "\n";
    const QString tail = rule + "Now, you can save the generated LiDAR data.\n" + rule + "\n";
    EXPECT_EQ(data.logText.toStdString(), ("Error Introduced, Details:\n\n"
                            "Systematic Error Added:\n\nX = 0.5, Y = -0.25, Z = 1\n"
                            "Roll = 0.1, Pitch = 0.2, Yaw = 0.3\nRange = 0.05\n\n"
                            "Random Error Added:\n\nX ~ N(0, 0.25), Y ~ N(0, 0), Z ~ N(0, 0.01)\n"
                            "Roll ~ N(0, 1e-08), Pitch ~ N(0, 4), Yaw ~ N(0, 0)\nRange ~ N(0, 9.99824e-08)\n\n" +
                                tail).toStdString());
    EXPECT_EQ(progress.statuses, QStringList{"     Error introduced. Task completed.."});
    EXPECT_EQ(data.taskCount, 1u);

    data.logText.clear();
    introduce_errors_task(data, ErrorSettings{false, false, true, {}, {}, {0.1, 0.2, 0.3}}, progress);
    EXPECT_EQ(data.logText.toStdString(), ("Error Introduced, Details:\n\n"
                            "Overall Error Added:\n\nX ~ N(0, 0.01), Y ~ N(0, 0.04), Z ~ N(0, 0.09)\n\n" +
                                tail).toStdString());
    EXPECT_TRUE(data.systematicError.empty());  // the earlier choices are replaced

    // A negative sigma or a short list: refused, nothing changed.
    for (const ErrorSettings& bad : {ErrorSettings{false, true, false, {}, {0, 0, -0.1, 0, 0, 0, 0}, {}},
                                     ErrorSettings{true, false, false, {0, 0, 1}, {}, {}}})
        EXPECT_THROW(introduce_errors_task(data, bad, progress), InputError);
    EXPECT_EQ(data.taskCount, 2u);
    EXPECT_TRUE(data.overallErrorOn);
}

TEST(ValidateErrorSettings, NegativeStandardDeviationsOnlyInTheCheckedGroup) {
    const QString message = QStringLiteral("Standard Deviation should be non-negative!");
    const std::vector<double> negative(7, -1.0);
    const std::pair<ErrorSettings, QString> cases[] = {
        {{}, ""},
        {{true, false, false, negative, {}, {}}, ""},  // offsets may be negative
        {{true, true, false, negative, {0, 0, 0, 0, 0, 0, -0.5}, {}}, message},
        {{false, false, true, {}, negative, {0, 0.1, 0}}, ""},  // with overall checked only its values count
        {{false, true, true, {}, {}, {0, -0.1, 0}}, message},
    };
    for (const auto& c : cases) EXPECT_EQ(validate_error_settings(c.first).toStdString(), c.second.toStdString());
}
