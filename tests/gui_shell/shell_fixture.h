#pragma once
// The main window over its own data, with the file dialogs answered by a
// seam, and the steps a user takes to get a model, lasers and points.
#include "app/gui/MainWindow.h"
#include "flight/gui/real_trajectory.h"
#include "support/gui_test_support.h"
#include "support/test_support.h"

#include <QAction>
#include <QFileInfo>
#include <QPushButton>
#include <QStatusBar>

// A 100 m x 80 m terrain of two triangles, one corner raised to 12 m.
inline const char* const kShellMesh = "4 2 0\n0 0 0\n100 0 3\n100 80 12\n0 80 0\n1 2 3\n1 3 4\n";

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { install_ui_seam(&seam); }
    void TearDown() override { install_ui_seam(nullptr); }

    QAction* action(const char* name) { return window.findChild<QAction*>(QLatin1String(name)); }
    QString path(const char* name) { return QString::fromStdString(dir.file(name)); }
    QString status() { return window.statusBar()->currentMessage(); }
    // Triggers a menu entry and returns the message boxes it showed.
    QStringList trigger(const char* name, QStringList answers = {}) {
        return gui_test::catch_boxes([&] { action(name)->trigger(); }, answers);
    }
    // "Open Mesh" on this file, holding kShellMesh unless written before.
    QStringList openMesh(const char* name = "terrain.txt") {
        if (!QFileInfo::exists(path(name))) testing_support::write_file(dir.file(name), kShellMesh);
        seam.names << path(name);
        return trigger("actionImport");
    }
    // Lasers from the wizard's defaults.
    QStringList generateLasers() {
        action("actionFlight_Trajectory_Generation")->trigger();
        return gui_test::click_catching_boxes(window.findChild<real_trajectory*>()->findChild<QPushButton*>("pushButton"));
    }
    // A model, its lasers and its points.
    void survey() {
        openMesh();
        ASSERT_EQ(generateLasers(), QStringList());
        ASSERT_EQ(trigger("actionLiDAR_Data_Simulation"), QStringList());
        ASSERT_FALSE(data.points.empty());
    }

    testing_support::TempDir dir;
    gui_test::FakeSeam seam;
    SimulationData data;
    MainWindow window{data};
};
