#include "output/output_tasks.h"

#include "app/failure.h"
#include "app/simulation_data.h"
#include "support/test_support.h"
#include "recording_progress.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using testing_support::read_file;
using testing_support::TempDir;

namespace {

QString qpath(const std::string& p) { return QString::fromStdString(p); }

void add_laser(SimulationData& data, double x, double y, double z, bool hit) {
    LaserLine l;
    l.origin = {x, y, 500};
    l.direction = {0, 0, -1};
    if (hit) {
        l.hitPoint = {x, y, z};
        l.hitFaceIndex = 1;
        l.range = 500 - z;
        data.points.push_back({x, y, z});
    }
    data.lasers().push_back(l);
}

class SaveTasks : public ::testing::Test {
protected:
    void SetUp() override {
        add_laser(data, 1.25, 2.5, 3.75, true);
        add_laser(data, 7, 8, 9, false);
        add_laser(data, -1, -2, -3, true);
    }
    SimulationData data;
    TempDir dir;
    RecordingProgress progress;
};

TEST_F(SaveTasks, TextEndingWritesPointFileAndLogs) {
    const QString path = qpath(dir.file("survey.txt"));
    save_points_task(data, path, progress);
    EXPECT_EQ(read_file(dir.file("survey.txt")), "1.25 2.5 3.75\n-1 -2 -3\n");
    EXPECT_EQ(data.logText, QStringLiteral("LiDAR data saved, Path : %1\n\n").arg(path));
    EXPECT_EQ(progress.statuses, QStringList{"     Generated LiDAR data saved. Task completed.."});
    EXPECT_EQ(data.taskCount, 1u);
}

TEST_F(SaveTasks, LasEndingWritesLasFile) {
    save_points_task(data, qpath(dir.file("survey.las")), progress);
    const std::string file = read_file(dir.file("survey.las"));
    ASSERT_EQ(file.size(), 227u + 2 * 20u);
    EXPECT_EQ(file.substr(0, 4), "LASF");
    EXPECT_EQ(data.taskCount, 1u);
}

TEST_F(SaveTasks, EndingsAreCaseSensitiveAndOthersWriteNothing) {
    for (const char* name : {"survey.TXT", "survey.Las", "survey", "survey.txt.bak"}) {
        EXPECT_THROW(save_points_task(data, qpath(dir.file(name)), progress), OutputError) << name;
        EXPECT_FALSE(QFileInfo::exists(qpath(dir.file(name)))) << name;
    }
    EXPECT_EQ(data.taskCount, 0u);
    EXPECT_TRUE(data.logText.isEmpty());
}

TEST_F(SaveTasks, LasOutOfRangeIsRefusedWithoutLogging) {
    data.lasers()[2].hitPoint.z = 5e7;
    EXPECT_THROW(save_points_task(data, qpath(dir.file("far.las")), progress), OutputError);
    EXPECT_FALSE(QFileInfo::exists(qpath(dir.file("far.las"))));
    EXPECT_EQ(data.taskCount, 0u);
    EXPECT_TRUE(data.logText.isEmpty());
}

TEST_F(SaveTasks, NoPointsIsRefused) {
    data.points.clear();
    EXPECT_THROW(save_points_task(data, qpath(dir.file("x.las")), progress), Refused);
}

TEST_F(SaveTasks, TrajectoryWritesEveryLaserAndLogs) {
    const QString path = qpath(dir.file("flight.txt"));
    save_trajectory_task(data, path, 1, progress);
    EXPECT_EQ(read_file(dir.file("flight.txt")), "1.25 2.5 500 0 0 -1\n7 8 500 0 0 -1\n-1 -2 500 0 0 -1\n");
    EXPECT_EQ(data.logText, QStringLiteral("Flight trajectory saved in, Path : %1\n\n").arg(path));
    EXPECT_EQ(progress.statuses, QStringList{"     Flight trajectory saved. Task completed.."});
    EXPECT_EQ(data.taskCount, 1u);
}

TEST(AddExtensionForFilter, AddsTheSelectedFiltersEnding) {
    const QString txt = QStringLiteral("ASCII Format .txt files(*.txt)");
    const QString las = QStringLiteral(" LAS 1.2 and Point Data Format 0(*.las)");
    EXPECT_EQ(add_extension_for_filter("/d/run1", txt), "/d/run1.txt");
    EXPECT_EQ(add_extension_for_filter("/d/run1", las), "/d/run1.las");
    EXPECT_EQ(add_extension_for_filter("/d/run1.txt", las), "/d/run1.txt");
    EXPECT_EQ(add_extension_for_filter("/d/run1.las", txt), "/d/run1.las");
    EXPECT_EQ(add_extension_for_filter("/d/run.v2", las), "/d/run.v2.las");
    EXPECT_EQ(add_extension_for_filter("", las), "");
    EXPECT_EQ(add_extension_for_filter("/d/run1", ""), "/d/run1");
}

}  // namespace
