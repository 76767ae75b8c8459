// The main window with bad input and unlucky runs: out of memory, a failed
// or partial load, a cancelled unit dialog, menus crossing the status bar,
// and the save dialogs' start names.
#include "errors/gui/Error_Introduction.h"
#include "gui_shell/shell_fixture.h"
#include "output/gui/formatting_options.h"
#include "terrain/gui/Dialog_unit.h"
#include "terrain/terrain_tasks.h"

#include <QCheckBox>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <new>

namespace {

const char* const kObj = "v 0 0 0\nv 50 0 1\nv 0 50 2\nv 50 50 3\nf 1 2 3\nf 2 3\nf 2 4 3\nf 1 9 2\n";
const QString kMeshDone = QStringLiteral("     Uploaded mesh. Task completed..");

class DesktopGaps : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        testing_support::write_file(dir.file("model.obj"), kObj);
        // The log listener is a seam into every task: each one logs as it
        // goes. The log line holding `failAt` fails as if memory ran out.
        const auto show = data.logListener;
        data.logListener = [this, show](const QString& text) {
            if (!failAt.isEmpty() && text.mid(shownLength).contains(failAt)) {
                failAt.clear();
                throw std::bad_alloc();
            }
            shownLength = text.size();
            show(text);
        };
    }

    QProgressBar* bar() { return window.findChild<QProgressBar*>("progressBar"); }
    Dialog_unit* unit() { return window.findChild<Dialog_unit*>(); }
    // "Open 3D model" up to the unit dialog, answering "Z Axis".
    void startObj(const char* name = "model.obj") {
        seam.names << path(name);
        trigger("actionOpen", {"Z Axis"});
        ASSERT_TRUE(unit()->isVisible());
    }
    QStringList unitOk() {
        unit()->findChild<QRadioButton*>("radioButton")->click();  // Meters
        return gui_test::click_catching_boxes(unit()->findChild<QPushButton*>("pushButton"));
    }

    QString failAt;
    int shownLength = 0;
};

TEST_F(DesktopGaps, RunningOutOfMemorySaysWhatToLowerInEveryTask) {
    const QString fewerPulses = "Lower the pulse repetition frequency (PRF) or the overlap";
    const QString fewerLasers = "Generate fewer lasers: lower the pulse repetition frequency (PRF)";
    // Each task, its log line that fails, and what the box must advise.
    const std::vector<std::tuple<const char*, const char*, std::function<QStringList()>, QString>> tasks = {
        {"Open Mesh", "File Details", [&] { return openMesh(); }, "Load a smaller model"},
        {"Open 3D model", "File Details", [&] { startObj(); return unitOk(); }, "Load a smaller model"},
        {"Save Extracted Mesh", "mesh data saved",
         [&] {
             seam.names << path("m.txt");
             return trigger("actionExit");
         },
         "the model is still in memory"},
        {"lasers", "Lasers origin Computed", [&] { return generateLasers(); }, fewerPulses},
        {"cast", "Intersection points", [&] { return trigger("actionLiDAR_Data_Simulation"); }, fewerLasers},
        {"errors", "you can save the generated LiDAR data", [&] {
             action("actionRandom_Error_Introduction")->trigger();
             return gui_test::click_catching_boxes(
                 window.findChild<Error_Introduction*>()->findChild<QPushButton*>("pushButton_2"));
         }, fewerLasers},
        {"Save Generated LiDAR Data", "LiDAR data saved", [&] {
             seam.names << path("p.txt");
             return trigger("actionSave_Generated_LiDAR_Data");
         }, "the data is still in memory"},
        {"Save Simulated Flight Trajectory", "trajectory saved", [&] {
             seam.names << path("t.txt");
             action("actionSave_Flight_Trajectory")->trigger();
             auto* format = window.findChild<formatting_options*>();
             format->findChild<QCheckBox*>("checkBox")->click();
             return gui_test::click_catching_boxes(format->findChild<QPushButton*>("pushButton"));
         }, "the data is still in memory"},
    };
    for (const auto& [name, line, run, advice] : tasks) {
        SCOPED_TRACE(name);
        failAt = line;
        const QStringList boxes = run();
        ASSERT_EQ(boxes.size(), 1);
        EXPECT_TRUE(boxes[0].startsWith("Error | There is not enough memory") && boxes[0].contains(advice))
            << boxes[0].toStdString();
        EXPECT_FALSE(boxes[0].contains("bad_alloc"));
        EXPECT_TRUE(failAt.isEmpty());  // it did fail there
        failAt.clear();
        // Set up what the next task needs, the way a user would after the message.
        if (QString(name) == "Open 3D model") openMesh();
        if (QString(name) == "lasers") {
            EXPECT_TRUE(data.lasers().empty() && data.points.empty());  // nothing half-laid to save
            EXPECT_EQ(generateLasers(), QStringList());
        }
        if (QString(name) == "cast") {
            EXPECT_TRUE(data.points.empty());
            action("actionLiDAR_Data_Simulation")->trigger();
            ASSERT_FALSE(data.points.empty());
        }
    }
}

TEST_F(DesktopGaps, AFailedLoadIsLoggedWithFileAndReasonAndTheBarGoesBackToZero) {
    openMesh();
    testing_support::write_file(dir.file("bad.txt"), "4 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n1 2 3\n1 3 9\n");
    const QStringList boxes = openMesh("bad.txt");
    ASSERT_EQ(boxes.size(), 1);
    const QString reason = boxes[0].section(" | ", 1, 1);
    EXPECT_TRUE(reason.contains(path("bad.txt"))) << reason.toStdString();
    EXPECT_TRUE(data.logText.endsWith("The model \"" + path("bad.txt") + "\" was not loaded: " + reason + "\n\n"));
    EXPECT_EQ(bar()->value(), 0);

    testing_support::write_file(dir.file("empty.obj"), "# no vertex\n");
    startObj("empty.obj");
    const QStringList objBoxes = unitOk();
    ASSERT_EQ(objBoxes.size(), 1);
    EXPECT_TRUE(data.logText.endsWith("\" was not loaded: " + objBoxes[0].section(" | ", 1, 1) + "\n\n"));
    EXPECT_EQ(bar()->value(), 0);
}

TEST_F(DesktopGaps, SkippedFaceLinesAreShownInAWarningBoxAndStayInTheLog) {
    startObj();
    const QString skipped = skipped_face_lines_message(2, 6).trimmed();
    EXPECT_EQ(unitOk(), QStringList{"Warning | The model was loaded, but not all of it:\n" + skipped + " | OK"});
    EXPECT_TRUE(data.logText.endsWith(skipped + "\n\n"));
    EXPECT_EQ(data.vertices.size(), 4u);
    // A complete file shows no box.
    testing_support::write_file(dir.file("whole.obj"), "v 0 0 0\nv 50 0 1\nv 0 50 2\nf 1 2 3\n");
    startObj("whole.obj");
    EXPECT_EQ(unitOk(), QStringList());
}

TEST_F(DesktopGaps, ClosingTheUnitDialogKeepsTheModelAndPutsBackTheBars) {
    openMesh();
    ASSERT_EQ(generateLasers(), QStringList());
    const QString log = data.logText;
    const QString lasersDone = status();
    const int value = bar()->value(), maximum = bar()->maximum();

    startObj();
    EXPECT_EQ(status(), "Loading file..");
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(data.vertices.size(), 4u);  // nothing discarded before OK
    unit()->close();
    EXPECT_EQ(status(), lasersDone);
    EXPECT_EQ((std::pair{bar()->value(), bar()->maximum()}), (std::pair{value, maximum}));
    EXPECT_EQ(data.vertices.size(), 4u);
    EXPECT_FALSE(data.lasers().empty());
    EXPECT_EQ(data.logText, log + "\n");  // only the import's first empty line

    // Asked twice and then confirmed: the discard is logged once, at OK.
    startObj();
    startObj();
    EXPECT_EQ(unitOk().size(), 1);  // the skipped face lines
    EXPECT_EQ(data.vertices.size(), 4u);
    EXPECT_TRUE(data.lasers().empty());
    EXPECT_EQ(data.logText.count(kDiscardMessage), 1);
    EXPECT_EQ(status(), "         Uploaded 3D model. Task completed..");
    unit()->close();  // already closed by OK: nothing changes
    EXPECT_EQ(status(), "         Uploaded 3D model. Task completed..");

    // A mesh opened while the dialog waits: its outcome stays on the bars.
    startObj();
    openMesh();
    unit()->close();
    EXPECT_EQ(status(), kMeshDone);
    EXPECT_EQ(bar()->value(), 5);
}

TEST_F(DesktopGaps, StatusMessagesStayWhileThePointerCrossesTheMenus) {
    window.show();
    openMesh();
    ASSERT_EQ(status(), kMeshDone);
    for (QAction* menu : window.menuBar()->actions()) {
        window.menuBar()->setActiveAction(menu);  // the menu opens under the pointer
        for (QAction* item : menu->menu()->actions()) {
            if (item->isSeparator()) continue;
            menu->menu()->setActiveAction(item);
            EXPECT_EQ(status(), kMeshDone) << item->text().toStdString();
        }
        menu->menu()->hide();
    }
    EXPECT_EQ(status(), kMeshDone);
}

TEST_F(DesktopGaps, EachSaveDialogStartsFromItsOwnLastName) {
    survey();
    auto saveTrajectory = [&](const char* name) {
        seam.names << path(name);
        EXPECT_EQ(trigger("actionSave_Flight_Trajectory"), QStringList());
    };
    auto savePoints = [&](const char* name) {
        seam.names << (*name ? path(name) : QString());
        EXPECT_EQ(trigger("actionSave_Generated_LiDAR_Data"), QStringList());
    };
    auto startedAt = [&] { return seam.saves.last().section(" | ", 1, 1); };
    saveTrajectory("track.txt");
    EXPECT_EQ(startedAt(), "");
    savePoints("cloud.txt");  // a first use starts in the folder of the last save, no name
    EXPECT_EQ(startedAt(), QString::fromStdString(dir.path()));
    EXPECT_EQ(data.savePath, path("cloud.txt"));
    saveTrajectory("track2.txt");
    EXPECT_EQ(startedAt(), path("track.txt"));
    savePoints("cloud2.txt");
    EXPECT_EQ(startedAt(), path("cloud.txt"));
    seam.names << path("mesh.txt");
    EXPECT_EQ(trigger("actionExit"), QStringList());
    EXPECT_EQ(startedAt(), QString::fromStdString(dir.path()));
    savePoints("");  // cancelled: that dialog starts afresh next time
    savePoints("cloud3.txt");
    EXPECT_EQ(startedAt(), "");
}

}  // namespace

namespace {

// A picture in a tooltip is drawn at the height the tooltip shows it: scaled
// on screen, its small print becomes unreadable.
TEST(Pictures, EveryTooltipPictureHasTheHeightItIsShownAt) {
    SimulationData data;
    MainWindow window{data};
    const QRegularExpression img(QStringLiteral("<img src='([^']+)' height='(\\d+)'>"));
    QStringList seen;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        const QRegularExpressionMatch m = img.match(widget->toolTip());
        if (!m.hasMatch()) continue;
        const QImage picture(m.captured(1));
        ASSERT_FALSE(picture.isNull()) << m.captured(1).toStdString();
        EXPECT_EQ(picture.height(), m.captured(2).toInt()) << m.captured(1).toStdString();
        seen << m.captured(1);
    }
    seen.sort();
    EXPECT_EQ(seen, (QStringList{":/Resources/flight_trajectory1.jpg", ":/Resources/real_trajectory.gif",
                                 ":/Resources/software_chart2.jpg"}));
}

}  // namespace
