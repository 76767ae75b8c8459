#include "errors/error_tasks.h"

#include "app/failure.h"
#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "errors/error_model.h"
#include "../output/recording_progress.h"

#include <gtest/gtest.h>

namespace {

const QString kRule = QString(85, QLatin1Char('_')) + "\n";
const QString kTail = kRule + "Now, you can save the generated LiDAR data.\n" + kRule;

class IntroduceErrors : public ::testing::Test {
protected:
    void SetUp() override {
        install_uniform_source(nullptr);
        reset_normal_deviate();
        LaserLine l;
        l.origin = {0, 0, 500};
        l.direction = {0, 0, -1};
        l.range = 500;
        l.hitFaceIndex = 0;
        data.lasers().push_back(l);
        data.points.push_back({0, 0, 0});
    }
    void TearDown() override {
        install_uniform_source(nullptr);
        reset_normal_deviate();
    }
    SimulationData data;
    RecordingProgress progress;
};

TEST_F(IntroduceErrors, LogsValuesAndVariancesAndStoresSettings) {
    ErrorSettings s;
    s.systematicOn = true;
    s.systematic = {0.5, -0.25, 1, 0.1, 0.2, 0.3, 0.05};
    s.randomOn = true;
    s.random = {0.5, 0, 0.1, 1e-4, 2, 0, 0.0003162};
    introduce_errors_task(data, s, progress);

    const QString expected = QStringLiteral(
                                 "Error Introduced, Details:\n\n"
                                 "Systematic Error Added:\n\nX = 0.5, Y = -0.25, Z = 1\n"
                                 "Roll = 0.1, Pitch = 0.2, Yaw = 0.3\nRange = 0.05\n\n"
                                 "Random Error Added:\n\nX ~ N(0, 0.25), Y ~ N(0, 0), Z ~ N(0, 0.01)\n"
                                 "Roll ~ N(0, 1e-08), Pitch ~ N(0, 4), Yaw ~ N(0, 0)\nRange ~ N(0, 9.99824e-08)\n\n") +
                             kTail + "\n";
    EXPECT_EQ(data.logText, expected);
    EXPECT_TRUE(data.pendingMessage.isEmpty());
    EXPECT_EQ(progress.statuses, QStringList{"     Error introduced. Task completed.."});
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_TRUE(data.systematicErrorOn);
    EXPECT_TRUE(data.randomErrorOn);
    EXPECT_FALSE(data.overallErrorOn);
    EXPECT_EQ(data.systematicError, s.systematic);
    EXPECT_EQ(data.randomError, s.random);
    EXPECT_TRUE(data.overallError.empty());
    // Systematic first (z + 1), then the random deviates on top.
    EXPECT_GT(data.lasers()[0].origin.z, 500.5);
}

TEST_F(IntroduceErrors, OverallOnlyLogsItsVariances) {
    ErrorSettings s;
    s.overallOn = true;
    s.overall = {0.1, 0.2, 0.0};
    data.systematicError = {1, 2, 3, 4, 5, 6, 7};  // from an earlier Done: replaced
    data.systematicErrorOn = true;
    introduce_errors_task(data, s, progress);
    EXPECT_EQ(data.logText, "Error Introduced, Details:\n\n"
                            "Overall Error Added:\n\nX ~ N(0, 0.01), Y ~ N(0, 0.04), Z ~ N(0, 0)\n\n" +
                                kTail + "\n");
    EXPECT_TRUE(data.systematicError.empty());
    EXPECT_FALSE(data.systematicErrorOn);
    EXPECT_EQ(data.lasers()[0].origin.z, 500.0);
    EXPECT_NE(data.lasers()[0].hitPoint.x, 0.0);
}

TEST_F(IntroduceErrors, NothingCheckedStillLogsTheRulesAndCounts) {
    introduce_errors_task(data, ErrorSettings{}, progress);
    EXPECT_EQ(data.logText, kTail + "\n");
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_EQ(data.lasers()[0].origin.z, 500.0);
    EXPECT_EQ(data.lasers()[0].hitPoint.z, 0.0);
}

TEST_F(IntroduceErrors, RepeatedSystematicOffsetsAccumulate) {
    ErrorSettings s;
    s.systematicOn = true;
    s.systematic = {0, 0, 1, 0, 0, 0, 0};
    introduce_errors_task(data, s, progress);
    introduce_errors_task(data, s, progress);
    EXPECT_EQ(data.lasers()[0].origin.z, 502.0);
    EXPECT_EQ(data.lasers()[0].hitPoint.z, 2.0);
    EXPECT_EQ(data.taskCount, 2u);
}

TEST_F(IntroduceErrors, InvalidSettingsChangeNothing) {
    ErrorSettings s;
    s.randomOn = true;
    s.random = {0, 0, -0.1, 0, 0, 0, 0};
    EXPECT_THROW(introduce_errors_task(data, s, progress), InputError);
    ErrorSettings shortList;
    shortList.systematicOn = true;
    shortList.systematic = {0, 0, 1};
    EXPECT_THROW(introduce_errors_task(data, shortList, progress), InputError);
    EXPECT_TRUE(data.logText.isEmpty());
    EXPECT_EQ(data.taskCount, 0u);
    EXPECT_FALSE(data.randomErrorOn);
}

TEST(ValidateErrorSettings, NegativeStandardDeviationsOnlyInTheCheckedGroup) {
    const QString message = QStringLiteral("Standard Deviation should be non-negative!");
    ErrorSettings s;
    EXPECT_EQ(validate_error_settings(s), "");
    s.systematicOn = true;
    s.systematic = {-1, -1, -1, -1, -1, -1, -1};  // offsets may be negative
    EXPECT_EQ(validate_error_settings(s), "");
    s.randomOn = true;
    s.random = {0, 0, 0, 0, 0, 0, -0.5};
    EXPECT_EQ(validate_error_settings(s), message);
    // With overall checked only its values count.
    s.overallOn = true;
    s.overall = {0, 0.1, 0};
    EXPECT_EQ(validate_error_settings(s), "");
    s.overall = {0, -0.1, 0};
    EXPECT_EQ(validate_error_settings(s), message);
}

}  // namespace
