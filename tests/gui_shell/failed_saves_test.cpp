// The main window's saves when the file cannot be written: an "Error" box
// naming the file and the reason, no log line, no completed task.
#include "gui_shell/shell_fixture.h"
#include "output/gui/formatting_options.h"
#include "support/failing_folder.h"

#include <QCheckBox>
#include <cerrno>
#include <cstring>

using namespace testing_support;

namespace {

class FailedSaves : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        survey();
    }

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
        const QString status = this->status();
        const auto tasks = data.taskCount;
        for (const auto& [actionName, path] : saves) {
            EXPECT_EQ(save(actionName, path),
                      gui_test::error_box(QString::fromStdString("Could not write '" + path + "': " + reason + ".")))
                << actionName << " " << path;
        }
        EXPECT_EQ(data.logText, log);
        EXPECT_EQ(this->status(), status);
        EXPECT_EQ(data.taskCount, tasks);
    }
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
