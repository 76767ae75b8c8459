// The "LiDAR Data Simulation" task: refusals, progress, the log, and a
// parallel cast that is indistinguishable from casting laser by laser.
#include "app/failure.h"
#include "lidar/lidar_tasks.h"
#include "lidar/ray_cast.h"
#include "lidar_test_scene.h"

#include <gtest/gtest.h>

#include <string>

using namespace lidar_test;

namespace {

class RecordingProgress : public Progress {
public:
    std::vector<std::string> events;
    std::vector<int> values;
    void setRange(int minimum, int maximum) override {
        events.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void setValue(int value) override {
        values.push_back(value);
        events.push_back("value " + std::to_string(value));
    }
    void showStatus(const QString& message) override { events.push_back("status " + message.toStdString()); }
};

void load(SimulationData& data, std::uint32_t seed, int lasers) {
    Scene s = random_scene(seed, 30, 200);
    data.vertices = s.vertices;
    data.faces.assign(1, Face{{1, 2, 3}});
    data.triangles = s.triangles;
    data.octreeRoot = std::move(s.root);
    data.setLimits(s.limits);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    data.lasers().clear();
    for (int i = 0; i < lasers; ++i) {
        const Vec3 d = unit({0.8 * (u(rng) - 0.5), 0.8 * (u(rng) - 0.5), -1});
        data.lasers().push_back(laser({-20 + 140 * u(rng), -20 + 140 * u(rng), 60}, d));
    }
}

// The values the one-thread loop sets: i whenever i reaches the threshold,
// which then grows by n / 50; finally n.
std::vector<int> one_thread_values(int n) {
    std::vector<int> v{0};
    const int step = n / 50;
    int threshold = 0;
    for (int i = 0; i < n; ++i) {
        if (i >= threshold) {
            v.push_back(i);
            threshold += step;
        }
    }
    v.push_back(n);
    return v;
}

TEST(SimulateLidarTask, RefusesWithoutModelOrLasersAfterEmptyingPoints) {
    SimulationData data;
    data.points.resize(3);
    RecordingProgress progress;
    try {
        simulate_lidar_task(data, progress, 1);
        FAIL() << "no refusal";
    } catch (const Refused& e) {
        EXPECT_STREQ(e.what(), "Please open a terrain model first!");
    }
    EXPECT_TRUE(data.points.empty());

    load(data, 1, 0);
    data.points.resize(3);
    try {
        simulate_lidar_task(data, progress, 1);
        FAIL() << "no refusal";
    } catch (const Refused& e) {
        EXPECT_STREQ(e.what(), "Please generate flight trajectory first!");
    }
    EXPECT_TRUE(data.points.empty());
    EXPECT_TRUE(progress.events.empty());
    EXPECT_EQ(data.taskCount, 0u);
    EXPECT_TRUE(data.logText.isEmpty());
}

TEST(SimulateLidarTask, ProgressValuesFollowTheFiftiethRule) {
    for (int n : {1, 49, 50, 100, 1234}) {
        SimulationData data;
        load(data, 2, n);
        RecordingProgress progress;
        simulate_lidar_task(data, progress, 2);
        EXPECT_EQ(progress.values, one_thread_values(n)) << n;
        ASSERT_GE(progress.events.size(), 3u);
        EXPECT_EQ(progress.events[0], "value 0");
        EXPECT_EQ(progress.events[1], "range 0 " + std::to_string(n));
        EXPECT_EQ(progress.events.back(), "status      LiDAR data generated. Task completed..");
    }
    // Spelled out: below 50 every laser, at 100 every second one.
    const std::vector<int> v49 = one_thread_values(49);
    ASSERT_EQ(v49.size(), 51u);
    for (int i = 0; i < 49; ++i) EXPECT_EQ(v49[i + 1], i);
    const std::vector<int> v100 = one_thread_values(100);
    ASSERT_EQ(v100.size(), 52u);
    EXPECT_EQ(v100[50], 98);
    EXPECT_EQ(v100[51], 100);
}

TEST(SimulateLidarTask, SameResultsAsCastingLaserByLaserForAnyThreadCount) {
    // Reference: cast_laser over the pointer tree, one laser after another.
    SimulationData reference;
    load(reference, 3, 20011);
    std::vector<LaserLine> expectedLasers = reference.lasers();
    std::vector<LidarPoint> expectedPoints;
    for (LaserLine& l : expectedLasers) {
        cast_laser(*reference.octreeRoot, l, expectedPoints, reference.triangles);
    }
    ASSERT_GT(expectedPoints.size(), 10000u);
    ASSERT_LT(expectedPoints.size(), 20011u);

    std::vector<std::string> firstEvents;
    for (unsigned threads : {1u, 2u, 8u, 0u}) {
        SimulationData data;
        load(data, 3, 20011);
        RecordingProgress progress;
        simulate_lidar_task(data, progress, threads);
        ASSERT_EQ(data.points.size(), expectedPoints.size()) << threads;
        for (std::size_t i = 0; i < expectedPoints.size(); ++i) {
            ASSERT_TRUE(same_bits(data.points[i].x, expectedPoints[i].x) &&
                        same_bits(data.points[i].y, expectedPoints[i].y) &&
                        same_bits(data.points[i].z, expectedPoints[i].z))
                << threads << " threads, point " << i;
        }
        for (std::size_t i = 0; i < expectedLasers.size(); ++i) {
            ASSERT_TRUE(same_record(data.lasers()[i], expectedLasers[i])) << threads << " threads, laser " << i;
        }
        if (firstEvents.empty()) firstEvents = progress.events;
        EXPECT_EQ(progress.events, firstEvents) << threads;
    }
}

TEST(SimulateLidarTask, RerunRebuildsThePointsAndKeepsOldReturnsOfMisses) {
    SimulationData data;
    load(data, 4, 3000);
    NullProgress progress;
    simulate_lidar_task(data, progress, 2);
    const std::vector<LidarPoint> first = data.points;
    const std::vector<LaserLine> lasersAfterFirst = data.lasers();

    // Move a laser that had a return off the model: its old return stays in
    // the record, but it adds no point any more.
    std::size_t moved = 0;
    while (data.lasers()[moved].hitFaceIndex < 0) ++moved;
    data.lasers()[moved].origin = {1e6, 1e6, 60};
    simulate_lidar_task(data, progress, 2);
    EXPECT_EQ(data.points.size(), first.size() - 1);
    EXPECT_TRUE(same_record(data.lasers()[moved], lasersAfterFirst[moved]));
    EXPECT_EQ(data.taskCount, 2u);
}

TEST(SimulateLidarTask, LogsTheCountOfPoints) {
    SimulationData data;
    load(data, 5, 500);
    data.logText = QStringLiteral("before\n");
    NullProgress progress;
    simulate_lidar_task(data, progress, 1);
    const QString rule(130, QLatin1Char('_'));
    const QString expected =
        QStringLiteral("before\nIntersection points calculated\nLiDAR data generated, Total Points : ") +
        QString::number(data.points.size()) + QStringLiteral("\n\n") + rule +
        QStringLiteral("\nNow, you can save the generated LiDAR data or you may introduce error in it under 'Error "
                       "Simulation' and then save it.\nFor more information regarding error simulation, please go "
                       "to 'help' section.\nThe saved data can be viewed in softwares like CloudCompare, etc.\n") +
        rule + QStringLiteral("\n\n");
    EXPECT_EQ(data.logText, expected);
    EXPECT_TRUE(data.pendingMessage.isEmpty());
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_GT(data.points.size(), 0u);
}

}  // namespace
