// The main window: start-up state, menus, refusals, and the actions driven
// through the file-dialog seam.
#include "app/gui/About.h"
#include "app/gui/MainWindow.h"
#include "app/gui/bar_progress.h"
#include "calculator/gui/Calculator.h"
#include "errors/gui/Error_Introduction.h"
#include "flight/gui/flight_trajectory.h"
#include "flight/gui/real_trajectory.h"
#include "flight/gui/sensor_movement_details.h"
#include "output/gui/formatting_options.h"
#include "shell_fixture.h"
#include "support/test_support.h"
#include "terrain/gui/Dialog_unit.h"
#include "terrain/terrain_tasks.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

const QString kWelcome = QStringLiteral(
    "Welcome to Pointfall 4.0.....\n\nPlease upload a 3D model(.obj) or a mesh(.txt).\n"
    "In case of uploading a mesh, please look at it's specified format in 'Help' section.\n");

// A 100 m x 80 m terrain of two triangles, one corner raised to 12 m.
const char* const kMesh =
    "4 2 0\n"
    "0 0 0\n"
    "100 0 3\n"
    "100 80 12\n"
    "0 80 0\n"
    "1 2 3\n"
    "1 3 4\n";

QString q(const std::string& s) { return QString::fromStdString(s); }

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { install_ui_seam(&seam); }
    void TearDown() override { install_ui_seam(nullptr); }

    QAction* action(const char* name) { return window.findChild<QAction*>(QLatin1String(name)); }
    template <typename T>
    T* central(const char* name) {
        return window.centralWidget()->findChild<T*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    }
    QString status() { return window.statusBar()->currentMessage(); }

    // Opens kMesh (or the given text) through "Open Mesh".
    QString openMesh(const std::string& text = kMesh, const std::string& name = "terrain.txt") {
        const std::string path = dir.file(name);
        write_file(path, text);
        seam.names << q(path);
        action("actionImport")->trigger();
        return q(path);
    }

    QString details() {
        return model_details_message(AsciiMesh, data.vertices.size(), data.faces.size(), data.limits(),
                                     QStringLiteral("z axis"));
    }

    TempDir dir;
    FakeSeam seam;
    BoxCatcher boxes;
    SimulationData data;
    MainWindow window{data};
};

TEST_F(MainWindowTest, StartsWithWelcomeTextIdleStatusAndHiddenProgress) {
    EXPECT_EQ(data.logText, kWelcome + "\n");
    EXPECT_EQ(central<QPlainTextEdit>("Logs")->toPlainText(), data.logText);
    EXPECT_TRUE(central<QPlainTextEdit>("Logs")->isReadOnly());
    EXPECT_EQ(status(), "       No process currently going on. Upload a 3D model(.obj) or a mesh(.txt).");
    EXPECT_TRUE(central<QProgressBar>("progressBar")->isHidden());
    EXPECT_TRUE(central<QLabel>("label")->isHidden());
    EXPECT_EQ(central<QLabel>("label")->text(), "Running Process Status:");
    EXPECT_EQ(data.taskCount, 0u);

    EXPECT_EQ(window.windowTitle(), "MainWindow");
    EXPECT_EQ(window.minimumSize(), QSize(820, 427));
    EXPECT_EQ(window.maximumSize(), QSize(820, 427));
    QLabel* flowchart = central<QLabel>("flowchart");
    ASSERT_NE(flowchart, nullptr);
    EXPECT_EQ(flowchart->toolTip(), "<img src=':/Resources/software_chart2.jpg' height='500'>");
    EXPECT_EQ(flowchart->toolTipDuration(), 15000);
    EXPECT_EQ(central<QLabel>("LogDetails")->text(), "  Log Details");

    EXPECT_EQ(window.findChild<flight_trajectory*>()->windowTitle(), "Flight Trajectory Simulation");
    EXPECT_EQ(window.findChild<Error_Introduction*>()->windowTitle(), "Error Introduction");
    EXPECT_EQ(window.findChild<Calculator*>()->windowTitle(), "Flight Planning");
    EXPECT_EQ(window.findChild<formatting_options*>()->windowTitle(), "Select Format");
    EXPECT_EQ(window.findChild<About*>()->windowTitle(), "About");
    EXPECT_EQ(window.findChild<Dialog_unit*>()->windowTitle(), "Unit Selection");
    for (QDialog* dialog : window.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_EQ(dialog->parent(), &window);
        EXPECT_FALSE(dialog->isVisible());
    }
}

TEST_F(MainWindowTest, MenusHoldEveryActionInOrder) {
    // "-" stands for a separator.
    const std::vector<std::pair<QString, QStringList>> expected = {
        {"File",
         {"actionOpen|Open 3D model", "actionImport|Open Mesh", "-", "actionExit|Save Extracted Mesh",
          "actionSave_Flight_Trajectory|Save Simulated Flight Trajectory",
          "actionSave_Generated_LiDAR_Data|Save Generated LiDAR Data", "-", "actionExit_2|Exit"}},
        {"Simulation",
         {"actionFlight_Trajectory_Generation|Scanner and Flight details", "-",
          "actionLiDAR_Data_Simulation|LiDAR Data Simulation", "actionRandom_Error_Introduction|Error Simulation",
          "-"}},
        {"Tools", {"actionCalculate_Parameters|Flight Planning"}},
        {"Help", {"actionAbout|About", "actionHelp_3|Help"}},
    };
    const QList<QAction*> menus = window.menuBar()->actions();
    ASSERT_EQ(menus.size(), static_cast<int>(expected.size()));
    for (int m = 0; m < menus.size(); ++m) {
        EXPECT_EQ(menus[m]->text(), expected[m].first);
        QStringList items;
        for (QAction* a : menus[m]->menu()->actions()) {
            items << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + "|" + a->text());
            if (a->isSeparator()) continue;
            EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
            EXPECT_FALSE(a->isCheckable()) << a->objectName().toStdString();
            EXPECT_TRUE(a->shortcut().isEmpty()) << a->objectName().toStdString();
        }
        EXPECT_EQ(items, expected[m].second);
    }
    const QStringList menuNames = {"menuFile", "menuActions", "menuDisplay", "menuHelp"};
    for (int m = 0; m < menus.size(); ++m) EXPECT_EQ(menus[m]->menu()->objectName(), menuNames[m]);
}

TEST_F(MainWindowTest, ActionsWithoutTheirDataAreRefused) {
    const std::vector<std::pair<const char*, QString>> cases = {
        {"actionExit", "No model is in use, please import a 3D model first!"},
        {"actionSave_Flight_Trajectory", "No Lasers in use. Please generate lasers first!"},
        {"actionSave_Generated_LiDAR_Data", "No LiDAR data in use, please generate LiDAR data first!"},
        {"actionFlight_Trajectory_Generation", "Please open a terrain model first!"},
        {"actionLiDAR_Data_Simulation", "Please open a terrain model first!"},
        {"actionRandom_Error_Introduction", "no LiDAR data is in use!"},
    };
    for (const auto& [name, message] : cases) {
        boxes.answer();
        action(name)->trigger();
        ASSERT_FALSE(boxes.seen.empty()) << name;
        EXPECT_EQ(boxes.seen.back().title, "Error") << name;
        EXPECT_EQ(boxes.seen.back().text, message) << name;
        EXPECT_EQ(boxes.seen.back().buttons, QStringList{"OK"}) << name;
    }
    EXPECT_EQ(boxes.seen.size(), cases.size());
    EXPECT_TRUE(seam.opens.empty());
    EXPECT_TRUE(seam.saves.empty());
    EXPECT_EQ(data.taskCount, 0u);
    EXPECT_EQ(data.logText, kWelcome + "\n");
    for (QDialog* dialog : window.findChildren<QDialog*>()) EXPECT_FALSE(dialog->isVisible());

    // With a model but no lasers the simulation asks for the flight first.
    openMesh();
    boxes.answer();
    action("actionLiDAR_Data_Simulation")->trigger();
    ASSERT_EQ(boxes.seen.size(), cases.size() + 1);
    EXPECT_EQ(boxes.seen.back().text, "Please generate flight trajectory first!");
}

TEST_F(MainWindowTest, OpenMeshLoadsTheFileAndLogsItsDetails) {
    const QString path = openMesh();
    ASSERT_EQ(seam.opens.size(), 1u);
    EXPECT_EQ(seam.opens[0].caption, "Open Extracted Mesh file");
    EXPECT_EQ(seam.opens[0].dir, "");
    EXPECT_EQ(seam.opens[0].filter, "ASCII file(*.txt)");
    EXPECT_TRUE(boxes.seen.empty());

    EXPECT_EQ(data.modelPath, path);
    EXPECT_EQ(data.vertices.size(), 4u);
    EXPECT_EQ(data.triangles.size(), 2u);
    EXPECT_DOUBLE_EQ(data.maxZ, 12.0);
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_EQ(status(), "     Uploaded mesh. Task completed..");
    EXPECT_FALSE(central<QProgressBar>("progressBar")->isHidden());
    EXPECT_FALSE(central<QLabel>("label")->isHidden());

    // The first load adds an empty line (nothing discarded), then the details.
    const QString expectedLog = kWelcome + "\n" + "\n" + details() + "\n";
    EXPECT_EQ(data.logText, expectedLog);
    EXPECT_TRUE(details().contains("No. of Vertices = 4 \n"));
    EXPECT_EQ(central<QPlainTextEdit>("Logs")->toPlainText(), expectedLog);
    EXPECT_TRUE(data.pendingMessage.isEmpty());

    // A second load reports the discard and starts its dialog at the last file.
    const QString before = data.logText;
    openMesh(kMesh, "second.txt");
    ASSERT_EQ(seam.opens.size(), 2u);
    EXPECT_EQ(seam.opens[1].dir, path);
    EXPECT_EQ(data.logText, before + QString::fromLatin1(kDiscardMessage) + "\n" + details() + "\n");
    EXPECT_EQ(data.taskCount, 2u);
    EXPECT_EQ(data.vertices.size(), 4u);
}

TEST_F(MainWindowTest, CancelledOpenMeshLeavesNoModel) {
    openMesh();
    ASSERT_FALSE(data.vertices.empty());
    action("actionImport")->trigger();  // the seam has no name left: cancelled
    EXPECT_TRUE(data.vertices.empty());
    EXPECT_TRUE(data.triangles.empty());
    EXPECT_TRUE(data.modelPath.isEmpty());
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_TRUE(data.logText.endsWith(QString::fromLatin1(kDiscardMessage) + "\n"));

    boxes.answer();
    action("actionFlight_Trajectory_Generation")->trigger();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, "Please open a terrain model first!");
    EXPECT_FALSE(window.findChild<flight_trajectory*>()->isVisible());
}

TEST_F(MainWindowTest, UnreadableMeshIsReportedAndLeavesNoModel) {
    boxes.answer();
    openMesh("3 1 0\n0 0 0\n1 0 0\n0 1 0\n1 2 7\n");  // face refers to vertex 7 of 3
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].title, "Error");
    EXPECT_FALSE(boxes.seen[0].text.isEmpty());
    EXPECT_TRUE(data.vertices.empty());
    EXPECT_TRUE(data.triangles.empty());
    EXPECT_EQ(data.taskCount, 0u);
}

TEST_F(MainWindowTest, SaveExtractedMeshWritesTheModelAndLogsThePath) {
    openMesh();
    const std::string out = dir.file("saved mesh.txt");
    seam.names << q(out);
    action("actionExit")->trigger();
    ASSERT_EQ(seam.saves.size(), 1u);
    EXPECT_EQ(seam.saves[0].caption, "Save Extracted 3D file");
    EXPECT_EQ(seam.saves[0].dir, "");
    EXPECT_EQ(seam.saves[0].filter, "ASCII Format .txt files(*.txt)");
    EXPECT_EQ(read_file(out), kMesh);
    EXPECT_EQ(data.savePath, q(out));
    EXPECT_TRUE(data.logText.endsWith("ASCII file of extracted mesh data saved, Path : " + q(out) + "\n\n"));
    EXPECT_EQ(status(), "     Extracted mesh saved. Task completed..");
    EXPECT_EQ(data.taskCount, 2u);

    // Cancelling the next save empties savePath and writes nothing.
    const QString log = data.logText;
    action("actionExit")->trigger();
    ASSERT_EQ(seam.saves.size(), 2u);
    EXPECT_EQ(seam.saves[1].dir, q(out));
    EXPECT_TRUE(data.savePath.isEmpty());
    EXPECT_EQ(data.logText, log);
    EXPECT_EQ(data.taskCount, 2u);
}

TEST_F(MainWindowTest, OpenObjAsksForAxisAndUnitThenLoads) {
    const std::string path = dir.file("model.obj");
    write_file(path, "v 1000 2000 3000\nv 4000 2000 3000\nv 1000 6000 5000\nf 1 2 3\n");
    seam.names << q(path);
    boxes.answer("Y Axis");
    action("actionOpen")->trigger();

    ASSERT_EQ(seam.opens.size(), 1u);
    EXPECT_EQ(seam.opens[0].caption, "Open 3D file");
    EXPECT_EQ(seam.opens[0].filter, "Wavefront .obj files(*.obj)");
    ASSERT_EQ(boxes.seen.size(), 1u);
    const SeenBox& axis = boxes.seen[0];
    EXPECT_EQ(axis.title, "Select Axis");
    EXPECT_EQ(axis.text,
              "Please specify the vertical/gravity axis below\n"
              "You can check axis by viewing the model in softwares like open3mod.");
    ASSERT_EQ(axis.buttons.size(), 2);
    EXPECT_EQ(axis.roles[axis.buttons.indexOf("Z Axis")], QMessageBox::YesRole);
    EXPECT_EQ(axis.roles[axis.buttons.indexOf("Y Axis")], QMessageBox::HelpRole);
    EXPECT_FALSE(axis.hasEscapeButton);
    EXPECT_EQ(data.verticalAxisAnswer, 1);
    EXPECT_FALSE(central<QProgressBar>("progressBar")->isHidden());

    auto* unit = window.findChild<Dialog_unit*>();
    ASSERT_TRUE(unit->isVisible());
    EXPECT_FALSE(unit->isModal());
    EXPECT_TRUE(data.vertices.empty());  // nothing loaded before OK
    unit->findChild<QRadioButton*>("radioButton_3")->click();  // Millimeters
    unit->findChild<QPushButton*>("pushButton")->click();

    EXPECT_FALSE(unit->isVisible());
    ASSERT_EQ(data.vertices.size(), 3u);
    // millimetres to metres, then y and z exchanged
    EXPECT_DOUBLE_EQ(data.vertices[0].x, 1.0);
    EXPECT_DOUBLE_EQ(data.vertices[0].y, 3.0);
    EXPECT_DOUBLE_EQ(data.vertices[0].z, 2.0);
    EXPECT_EQ(data.triangles.size(), 1u);
    EXPECT_EQ(status(), "         Uploaded 3D model. Task completed..");
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_TRUE(data.logText.contains("y axis"));

    // A cancelled second import keeps this model and only adds a line feed.
    const QString log = data.logText;
    action("actionOpen")->trigger();
    EXPECT_EQ(data.vertices.size(), 3u);
    EXPECT_EQ(data.logText, log + "\n");
    EXPECT_EQ(boxes.seen.size(), 1u);
}

TEST_F(MainWindowTest, WizardRunCountsAsTaskAndItsDoneGeneratesLasers) {
    openMesh();
    action("actionFlight_Trajectory_Generation")->trigger();
    auto* wizard = window.findChild<flight_trajectory*>();
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_DOUBLE_EQ(wizard->maxSceneHeight(), 12.0);
    EXPECT_EQ(data.taskCount, 2u);

    // Done on the last page runs get_data with the pages' values.
    auto* done = wizard->sensorPage()->realPage()->findChild<QPushButton*>("pushButton");
    ASSERT_NE(done, nullptr);
    done->click();
    EXPECT_FALSE(data.lasers().empty());
    EXPECT_EQ(data.taskCount, 3u);
    EXPECT_EQ(status(), "        Flight trajectory and scanner movement simulated. Task completed..");

    action("actionLiDAR_Data_Simulation")->trigger();
    EXPECT_FALSE(data.points.empty());
    EXPECT_EQ(status(), "     LiDAR data generated. Task completed..");

    // Error Simulation shows the dialog; its Done runs get_data_error.
    action("actionRandom_Error_Introduction")->trigger();
    auto* errors = window.findChild<Error_Introduction*>();
    EXPECT_TRUE(errors->isVisible());
    const auto tasks = data.taskCount;
    errors->findChild<QPushButton*>("pushButton_2")->click();
    EXPECT_EQ(data.taskCount, tasks + 1);
    EXPECT_EQ(status(), "     Error introduced. Task completed..");
}

TEST_F(MainWindowTest, HelpOpensTheLocalHelpPage) {
    action("actionHelp_3")->trigger();
    ASSERT_EQ(seam.urls.size(), 1u);
    const QUrl url = seam.urls[0];
    ASSERT_TRUE(url.isLocalFile());
    EXPECT_TRUE(url.toLocalFile().endsWith("help/index.html"));
    EXPECT_TRUE(QFileInfo::exists(url.toLocalFile()));
    EXPECT_EQ(data.taskCount, 0u);
}

TEST_F(MainWindowTest, AboutAndFlightPlanningShowTheirDialogs) {
    action("actionAbout")->trigger();
    auto* about = window.findChild<About*>();
    EXPECT_TRUE(about->isVisible());
    QLabel* text = about->findChild<QLabel*>();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->wordWrap());
    EXPECT_EQ(text->textFormat(), Qt::RichText);
    EXPECT_TRUE(text->text().contains("Software to simulate airborne LiDAR data."));
    EXPECT_LT(text->text().indexOf("About"), text->text().indexOf("Software to simulate"));

    action("actionCalculate_Parameters")->trigger();
    EXPECT_TRUE(window.findChild<Calculator*>()->isVisible());
    EXPECT_EQ(data.logText, kWelcome + "\n");
}

TEST_F(MainWindowTest, LaserProgressSignalsAreTruncatedTowardZero) {
    auto* bar = central<QProgressBar>("progressBar");
    emit data.laserlines.max_limit(10.9);
    EXPECT_EQ(bar->maximum(), 10);
    emit data.laserlines.value_changed(2.9);
    EXPECT_EQ(bar->value(), 2);
    emit data.laserlines.max_limit(0.5);
    EXPECT_EQ(bar->maximum(), 0);

    EXPECT_EQ(truncate_progress(-2.9), -2);
    EXPECT_EQ(truncate_progress(7.0), 7);
    EXPECT_EQ(truncate_progress(1e12), std::numeric_limits<int>::max());
    EXPECT_EQ(truncate_progress(std::nan("")), 0);
}

// Points written from hand-made laser records.
class SaveTest : public MainWindowTest {
protected:
    void addReturns(double x) {
        for (int i = 0; i < 3; ++i) {
            LaserLine laser;
            laser.origin = {x, 10.0 * i, 500.0};
            laser.direction = {0.0, 0.0, -1.0};
            laser.hitPoint = {x, 10.0 * i, 1.5};
            laser.range = 498.5;
            laser.hitFaceIndex = i == 1 ? -1 : 0;  // the middle one missed
            data.lasers().push_back(laser);
            if (laser.hitFaceIndex >= 0) data.points.push_back({x, 10.0 * i, 1.5});
        }
    }
};

TEST_F(SaveTest, LidarDataTakesTheEndingOfThePickedFilter) {
    addReturns(12.5);
    seam.names << q(dir.file("points"));
    seam.pickedFilter = "LAS 1.2 and Point Data Format 0(*.las)";
    action("actionSave_Generated_LiDAR_Data")->trigger();
    ASSERT_EQ(seam.saves.size(), 1u);
    EXPECT_EQ(seam.saves[0].caption, "Save computed LiDAR data");
    EXPECT_EQ(seam.saves[0].filter, "ASCII Format .txt files(*.txt);; LAS 1.2 and Point Data Format 0(*.las)");
    EXPECT_EQ(data.savePath, q(dir.file("points.las")));
    EXPECT_EQ(read_file(dir.file("points.las")).size(), 227u + 2 * 20u);
    EXPECT_TRUE(data.logText.endsWith("LiDAR data saved, Path : " + data.savePath + "\n\n"));
    EXPECT_EQ(status(), "     Generated LiDAR data saved. Task completed..");

    // A name with its own ending keeps it, whatever the filter.
    seam.names << q(dir.file("points.txt"));
    action("actionSave_Generated_LiDAR_Data")->trigger();
    EXPECT_EQ(read_file(dir.file("points.txt")), "12.5 0 1.5\n12.5 20 1.5\n");
    EXPECT_EQ(data.taskCount, 2u);
}

TEST_F(SaveTest, LasCoordinateBeyondTheFormatIsRefused) {
    addReturns(3.0e7);  // 3e9 cm does not fit 32 bits
    seam.names << q(dir.file("far.las"));
    const QString log = data.logText;
    boxes.answer();
    action("actionSave_Generated_LiDAR_Data")->trigger();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].title, "Error");
    EXPECT_FALSE(boxes.seen[0].text.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(q(dir.file("far.las"))));
    EXPECT_EQ(data.logText, log);
    EXPECT_EQ(data.taskCount, 0u);
}

TEST_F(SaveTest, TrajectoryIsWrittenOnContinueInTheChosenFormat) {
    addReturns(12.5);
    seam.names << q(dir.file("flight.txt"));
    action("actionSave_Flight_Trajectory")->trigger();
    ASSERT_EQ(seam.saves.size(), 1u);
    EXPECT_EQ(seam.saves[0].caption, "Save Computed Trajectory");
    EXPECT_EQ(seam.saves[0].filter, "ASCII Format .txt files(*.txt)");
    auto* format = window.findChild<formatting_options*>();
    ASSERT_TRUE(format->isVisible());
    EXPECT_FALSE(QFileInfo::exists(q(dir.file("flight.txt"))));  // nothing before Continue

    format->findChild<QCheckBox*>("checkBox_3")->click();  // position and direction
    format->findChild<QPushButton*>("pushButton")->click();
    EXPECT_EQ(read_file(dir.file("flight.txt")), "12.5 0 500 0 0 -1\n12.5 10 500 0 0 -1\n12.5 20 500 0 0 -1\n");
    EXPECT_TRUE(data.logText.endsWith("Flight trajectory saved in, Path : " + q(dir.file("flight.txt")) + "\n\n"));
    EXPECT_EQ(status(), "     Flight trajectory saved. Task completed..");
    EXPECT_EQ(data.taskCount, 1u);
}

}  // namespace

namespace {

TEST(EmbeddedPictures, EveryPictureIsEmbeddedAndReadable) {
    SimulationData data;
    MainWindow window(data);  // registers the pictures
    const char* const names[] = {"Logo.png",          "software_chart2.jpg", "flight_trajectory1.jpg",
                                 "real_trajectory.gif", "Help.gif",          "flow_chart.png",
                                 "software_chart.png", "software_chart1.jpg", "flight_trajectory.jpg"};
    for (const char* name : names) {
        QImage image(QStringLiteral(":/Resources/") + QLatin1String(name));
        EXPECT_FALSE(image.isNull()) << name;
    }
    EXPECT_EQ(QImage(QStringLiteral(":/Resources/Logo.png")).size(), QSize(256, 256));
}

}  // namespace
