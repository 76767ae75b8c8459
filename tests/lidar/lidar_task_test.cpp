// The "LiDAR Data Simulation" task: refusals, progress, the log, and a
// parallel cast indistinguishable from casting laser by laser.
#include "app/failure.h"
#include "lidar/lidar_tasks.h"
#include "lidar_test_scene.h"
#include "support/recording_progress.h"
#include "terrain/terrain_tasks.h"

#include <algorithm>
#include <string>

using namespace lidar_test;

namespace {

// A random scene and `lasers` rays over it.
void load(SimulationData& data, std::uint32_t seed, int lasers) {
    Scene s = random_scene(seed, 30, 200);
    data.vertices = s.vertices;
    data.triangles = s.triangles;
    data.octreeRoot = std::move(s.root);
    data.lasers() = random_rays(seed, lasers);
}

TEST(SimulateLidarTask, RefusalsEmptyThePointsFirst) {
    for (const bool withModel : {false, true}) {
        SimulationData data;
        if (withModel) load(data, 1, 0);
        data.points.resize(3);
        RecordingProgress progress;
        try {
            simulate_lidar_task(data, progress, 1);
            ADD_FAILURE() << "no refusal";
        } catch (const Refused& e) {
            EXPECT_STREQ(e.what(), withModel ? "Please generate flight trajectory first!"
                                             : "Please open a terrain model first!");
        }
        EXPECT_TRUE(data.points.empty() && progress.sequence.empty() && data.logText.isEmpty() && !data.taskCount);
    }
}

TEST(SimulateLidarTask, ProgressAndResultsAreThoseOfTheLaserByLaserLoop) {
    // Progress: value 0, range 0..n, then the value before every n / 50
    // lasers (every laser below 50), then n. Points and laser records: those
    // of cast_laser over the pointer tree, one laser after another, for
    // every thread count.
    for (const auto& row : {std::pair<int, int>{49, 1}, {100, 2}, {20011, 400}}) {
        const int n = row.first;
        std::vector<std::string> expectedProgress{"value 0", "range 0 " + std::to_string(n)};
        for (int i = 0; i < n; i += row.second) expectedProgress.push_back("value " + std::to_string(i));
        expectedProgress.push_back("value " + std::to_string(n));
        expectedProgress.push_back("status      LiDAR data generated. Task completed..");

        SimulationData data;
        load(data, 3, n);
        std::vector<LaserLine> expectedLasers = data.lasers();
        std::vector<LidarPoint> expectedPoints;
        for (LaserLine& l : expectedLasers) cast_laser(*data.octreeRoot, l, expectedPoints, data.triangles);
        ASSERT_GT(expectedPoints.size(), n / 4u);

        for (unsigned threads : {1u, 2u, 8u}) {
            SCOPED_TRACE(testing::Message() << n << " lasers, " << threads << " threads");
            data.lasers() = random_rays(3, n);
            RecordingProgress progress;
            simulate_lidar_task(data, progress, threads);
            EXPECT_EQ(progress.sequence, expectedProgress);
            EXPECT_TRUE(std::equal(data.points.begin(), data.points.end(), expectedPoints.begin(), expectedPoints.end(),
                                   same_bits<LidarPoint>));
            EXPECT_TRUE(std::equal(data.lasers().begin(), data.lasers().end(), expectedLasers.begin(), same_record));
        }
    }
}

TEST(SimulateLidarTask, LogAndRerunWhereMissesKeepTheirOldReturn) {
    SimulationData data;
    load(data, 5, 500);
    data.logText = QStringLiteral("before\n");
    NullProgress progress;
    simulate_lidar_task(data, progress, 1);
    const QString rule(130, QLatin1Char('_'));
    EXPECT_EQ(data.logText,
              QStringLiteral("before\nIntersection points calculated\nLiDAR data generated, Total Points : ") +
                  QString::number(data.points.size()) + QStringLiteral("\n\n") + rule +
                  QStringLiteral("\nNow, you can save the generated LiDAR data or you may introduce error in it under "
                                 "'Error Simulation' and then save it.\nFor more information regarding error "
                                 "simulation, please go to 'help' section.\nThe saved data can be viewed in softwares "
                                 "like CloudCompare, etc.\n") +
                  rule + QStringLiteral("\n\n"));

    // Move the first laser with a return off the model: its old return stays
    // in the record, but its point is gone and the others follow in order.
    const std::vector<LidarPoint> first = data.points;
    const std::vector<LaserLine> before = data.lasers();
    std::size_t moved = 0;
    while (data.lasers()[moved].hitFaceIndex < 0) ++moved;
    data.lasers()[moved].origin = {1e6, 1e6, 60};
    simulate_lidar_task(data, progress, 2);
    ASSERT_EQ(data.points.size(), first.size() - 1);
    EXPECT_TRUE(same_record(data.lasers()[moved], before[moved]));
    EXPECT_TRUE(same_bits(data.points[0], first[1]));
    EXPECT_EQ(data.taskCount, 2u);
}

TEST(SimulateLidarTask, TheCastTreeIsMadeOncePerModel) {
    // Kept from one cast to the next; a model load replaces it, and the
    // casts follow the new model.
    SimulationData data;
    load(data, 7, 300);
    NullProgress progress;
    simulate_lidar_task(data, progress, 1);
    const CastTree* first = data.castTree.get();
    ASSERT_NE(first, nullptr);
    simulate_lidar_task(data, progress, 2);
    EXPECT_EQ(data.castTree.get(), first);
    EXPECT_EQ(prepared_cast_tree(data), first);

    // A flat square at z = 5, and a small triangle higher up in a corner.
    data.vertices = {{-1e4, -1e4, 5}, {1e4, -1e4, 5}, {1e4, 1e4, 5}, {-1e4, 1e4, 5},
                     {9e3, 9e3, 8},   {9001, 9e3, 8},  {9e3, 9001, 8}};
    data.faces = {{{1, 2, 3}}, {{1, 3, 4}}, {{5, 6, 7}}};
    data.triangles.clear();
    prepare_model(data, AsciiMesh, QStringLiteral("z axis"), progress);
    const CastTree* loaded = data.castTree.get();
    EXPECT_TRUE(loaded && !data.octreeRoot);  // the load keeps only the cast's copy
    data.lasers() = {laser({3, 4, 100}, {0, 0, -1})};
    simulate_lidar_task(data, progress, 1);
    ASSERT_EQ(data.points.size(), 1u);
    EXPECT_TRUE(same_bits(data.points[0], LidarPoint{3, 4, 5}));
    EXPECT_EQ(data.castTree.get(), loaded);
}

}  // namespace
