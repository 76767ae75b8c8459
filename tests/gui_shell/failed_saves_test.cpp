// The main window's saves when the file cannot be written: an "Error" box
// naming the file and the reason, no log line, no completed task.
#include "app/gui/MainWindow.h"
#include "flight/gui/real_trajectory.h"
#include "output/gui/formatting_options.h"
#include "support/failing_folder.h"
#include "support/gui_test_support.h"
#include "support/test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QStatusBar>
#include <cerrno>
#include <cstring>

using namespace testing_support;

namespace {

class FailedSaves : public ::testing::Test {
protected:
    void SetUp() override {
        install_ui_seam(&seam);
        // A surveyed model: lasers from the wizard's defaults, then points.
        write_file(dir.file("terrain.txt"), "4 2 0\n0 0 0\n100 0 3\n100 80 12\n0 80 0\n1 2 3\n1 3 4\n");
        seam.names << QString::fromStdString(dir.file("terrain.txt"));
        action("actionImport")->trigger();
        action("actionFlight_Trajectory_Generation")->trigger();
        window.findChild<real_trajectory*>()->findChild<QPushButton*>("pushButton")->click();
        action("actionLiDAR_Data_Simulation")->trigger();
        ASSERT_FALSE(data.points.empty());
    }
    void TearDown() override { install_ui_seam(nullptr); }

    QAction* action(const char* name) { return window.findChild<QAction*>(QLatin1String(name)); }

    // Saves under `path` as the menu entry does (the trajectory on the
    // format dialog's Continue) and returns the boxes shown.
    QStringList save(const char* actionName, const std::string& path) {
        seam.names << QString::fromStdString(path);
        return gui_test::catch_boxes([&] {
            action(actionName)->trigger();
            if (std::strcmp(actionName, "actionSave_Flight_Trajectory") == 0) {
                auto* format = window.findChild<formatting_options*>();
                format->findChild<QCheckBox*>("checkBox")->setChecked(true);
                format->findChild<QPushButton*>("pushButton")->click();
            }
        });
    }

    // Every save into `paths` (menu entry, file) shows its error box and
    // changes neither the log, nor the status, nor the task count.
    void expect_refused_saves(const std::vector<std::pair<const char*, std::string>>& saves,
                              const std::string& reason) {
        const QString log = data.logText;
        const QString status = window.statusBar()->currentMessage();
        const auto tasks = data.taskCount;
        for (const auto& [actionName, path] : saves) {
            EXPECT_EQ(save(actionName, path),
                      gui_test::error_box(QString::fromStdString("Could not write '" + path + "': " + reason + ".")))
                << actionName << " " << path;
        }
        EXPECT_EQ(data.logText, log);
        EXPECT_EQ(window.statusBar()->currentMessage(), status);
        EXPECT_EQ(data.taskCount, tasks);
    }

    TempDir dir;
    gui_test::FakeSeam seam;
    SimulationData data;
    MainWindow window{data};
};

TEST_F(FailedSaves, AFullDiskOrAReadOnlyFolderShowsAnErrorBoxAndLeavesTheFolderAsItWas) {
    for (FailingFolder::Kind kind : {FailingFolder::ReadOnly, FailingFolder::Full}) {
        FailingFolder folder(kind, {{"p.las", "old points"}});
        if (!folder.unavailable().empty()) GTEST_SKIP() << "No failing folder: " << folder.unavailable();
        expect_refused_saves({{"actionSave_Generated_LiDAR_Data", folder.file("p.txt")},
                              {"actionSave_Generated_LiDAR_Data", folder.file("p.las")},
                              {"actionSave_Flight_Trajectory", folder.file("t.txt")},
                              {"actionExit", folder.file("m.txt")}},
                             folder.reason());
        EXPECT_EQ(folder_entries(folder.path()), std::vector<std::string>{"p.las"});
        EXPECT_EQ(read_file(folder.file("p.las")), "old points");
    }
}

TEST_F(FailedSaves, AFullDeviceShowsAnErrorBox) {
    // A points file name must end in .txt or .las, so only these two reach the device.
    expect_refused_saves({{"actionSave_Flight_Trajectory", "/dev/full"}, {"actionExit", "/dev/full"}},
                         std::strerror(ENOSPC));
}

}  // namespace
