// The main window: start-up state, menus, refusals, and the actions driven
// through the file-dialog seam.
#include "errors/gui/Error_Introduction.h"
#include "gui_shell/shell_fixture.h"
#include "output/gui/formatting_options.h"
#include "terrain/gui/Dialog_unit.h"
#include "terrain/terrain_tasks.h"

#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <algorithm>

namespace {

const QString kWelcome = QStringLiteral(
    "Welcome to Pointfall 4.0.....\n\nPlease upload a 3D model(.obj) or a mesh(.txt).\n"
    "In case of uploading a mesh, please look at it's specified format in 'Help' section.\n");
const QString kNoModel = QStringLiteral("Please open a terrain model first!");

class MainWindowTest : public ShellTest {
protected:
    QWidget* central(const char* name) { return window.centralWidget()->findChild<QWidget*>(QLatin1String(name)); }
    QString details() { return model_details_message(AsciiMesh, 4, 2, data.limits(), QStringLiteral("z axis")); }
};

TEST_F(MainWindowTest, StartsWithTheWelcomeTextAndNoProgressShown) {
    EXPECT_EQ(data.logText, kWelcome + "\n");
    EXPECT_EQ(window.centralWidget()->findChild<QPlainTextEdit*>("Logs")->toPlainText(), data.logText);
    EXPECT_EQ(status(), "       No process currently going on. Upload a 3D model(.obj) or a mesh(.txt).");
    EXPECT_TRUE(central("progressBar")->isHidden() && central("label")->isHidden());
    EXPECT_EQ(window.windowTitle(), "MainWindow");  // the entry point replaces it
    QStringList titles;  // the six dialogs in the order the window creates them
    for (QDialog* dialog : window.findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly))
        titles << dialog->windowTitle();
    EXPECT_EQ(titles, (QStringList{"Flight Trajectory Simulation", "Error Introduction", "Flight Planning",
                                   "Select Format", "About", "Unit Selection"}));
}

TEST_F(MainWindowTest, MenusHoldTheirActionsInOrder) {
    // "-" stands for a separator.
    const std::vector<QStringList> expected = {
        {"File", "actionOpen|Open 3D model", "actionImport|Open Mesh", "-", "actionExit|Save Extracted Mesh",
         "actionSave_Flight_Trajectory|Save Simulated Flight Trajectory",
         "actionSave_Generated_LiDAR_Data|Save Generated LiDAR Data",
         "actionExport_Survey_Point_Cloud|Export Survey Point Cloud...", "-", "actionExit_2|Exit"},
        {"Simulation", "actionFlight_Trajectory_Generation|Scanner and Flight details", "-",
         "actionLiDAR_Data_Simulation|LiDAR Data Simulation", "actionRandom_Error_Introduction|Error Simulation", "-"},
        {"Tools", "actionCalculate_Parameters|Flight Planning"},
        {"Help", "actionAbout|About", "actionHelp_3|Help"},
    };
    std::vector<QStringList> menus;
    for (QAction* menu : window.menuBar()->actions()) {
        menus.push_back({menu->text()});
        for (QAction* a : menu->menu()->actions())
            menus.back() << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + "|" + a->text());
    }
    EXPECT_EQ(menus, expected);
}

TEST_F(MainWindowTest, ActionsWithoutTheirDataAreRefused) {
    const std::vector<std::pair<const char*, QString>> cases = {
        {"actionExit", "No model is in use, please import a 3D model first!"},
        {"actionSave_Flight_Trajectory", "No Lasers in use. Please generate lasers first!"},
        {"actionSave_Generated_LiDAR_Data", "No LiDAR data in use, please generate LiDAR data first!"},
        {"actionFlight_Trajectory_Generation", kNoModel},
        {"actionLiDAR_Data_Simulation", kNoModel},
        {"actionRandom_Error_Introduction", "no LiDAR data is in use!"},
    };
    for (const auto& [name, message] : cases) EXPECT_EQ(trigger(name), gui_test::error_box(message));
    for (QDialog* dialog : window.findChildren<QDialog*>()) EXPECT_FALSE(dialog->isVisible());

    // With a model but no lasers the simulation asks for the flight first.
    openMesh();
    EXPECT_EQ(trigger("actionLiDAR_Data_Simulation"), gui_test::error_box("Please generate flight trajectory first!"));
}

TEST_F(MainWindowTest, OpenMeshLoadsTheChosenFileSaveWritesItAndACancelLeavesNoModel) {
    openMesh();
    EXPECT_EQ(status(), "     Uploaded mesh. Task completed..");
    EXPECT_FALSE(central("progressBar")->isHidden() || central("label")->isHidden());
    // Nothing to discard the first time: an empty line, then the details.
    EXPECT_EQ(data.logText, kWelcome + "\n\n" + details() + "\n");

    // A second load reports the discard and starts its dialog at the last file.
    const QString before = data.logText;
    openMesh("second.txt");
    const QString filter = " | ASCII file(*.txt)";
    EXPECT_EQ(seam.opens, (QStringList{"Open Extracted Mesh file | " + filter,
                                       "Open Extracted Mesh file | " + path("terrain.txt") + filter}));
    EXPECT_EQ(data.logText, before + QString::fromLatin1(kDiscardMessage) + "\n" + details() + "\n");

    seam.names << path("saved mesh.txt");
    action("actionExit")->trigger();
    EXPECT_EQ(seam.saves, QStringList{"Save Extracted 3D file |  | ASCII Format .txt files(*.txt)"});
    EXPECT_EQ(testing_support::read_file(dir.file("saved mesh.txt")), kShellMesh);
    EXPECT_TRUE(data.logText.endsWith("ASCII file of extracted mesh data saved, Path : " + path("saved mesh.txt") + "\n\n"));

    action("actionImport")->trigger();  // cancelled: the old model is gone all the same
    EXPECT_TRUE(data.vertices.empty());
    EXPECT_EQ(trigger("actionFlight_Trajectory_Generation"), gui_test::error_box(kNoModel));
}

TEST_F(MainWindowTest, OpenObjAsksForTheAxisThenLoadsOnTheUnitDialogsOk) {
    testing_support::write_file(dir.file("model.obj"), "v 1000 2000 3000\nv 4000 2000 3000\nv 1 6000 5000\nf 1 2 3\n");
    seam.names << path("model.obj");
    EXPECT_EQ(trigger("actionOpen", {"Y Axis"}),
              QStringList{"Select Axis | Please specify the vertical/gravity axis below\nYou can check axis by "
                          "viewing the model in softwares like open3mod. | Y Axis,Z Axis"});
    auto* unit = window.findChild<Dialog_unit*>();
    EXPECT_TRUE(unit->isVisible() && data.vertices.empty());  // nothing loaded before OK
    unit->findChild<QRadioButton*>("radioButton_3")->click();  // Millimeters
    unit->findChild<QPushButton*>("pushButton")->click();
    ASSERT_EQ(data.vertices.size(), 3u);
    // Millimetres to metres, y and z exchanged.
    EXPECT_EQ((std::vector<double>{data.vertices[0].y, data.vertices[0].z}), (std::vector<double>{3.0, 2.0}));
}

TEST_F(MainWindowTest, WizardErrorsAndSavesRunFromTheirDialogs) {
    survey();
    action("actionRandom_Error_Introduction")->trigger();
    window.findChild<Error_Introduction*>()->findChild<QPushButton*>("pushButton_2")->click();
    EXPECT_EQ(status(), "     Error introduced. Task completed..");

    // A name typed without an ending gets the one of the filter picked.
    seam.names << path("cloud");
    seam.pickedFilter = QStringLiteral(" LAS 1.2 and Point Data Format 0(*.las)");
    action("actionSave_Generated_LiDAR_Data")->trigger();
    EXPECT_TRUE(seam.saves.at(0).startsWith("Save computed LiDAR data | "));
    EXPECT_EQ(testing_support::read_file(dir.file("cloud.las")).substr(0, 4), "LASF");

    // The trajectory is written only on the format dialog's Continue, in
    // the layout of the box checked there (the first: all nine values).
    seam.names << path("track.txt");
    action("actionSave_Flight_Trajectory")->trigger();
    EXPECT_FALSE(QFileInfo::exists(path("track.txt")));
    auto* format = window.findChild<formatting_options*>();
    format->findChild<QCheckBox*>("checkBox")->click();
    format->findChild<QPushButton*>("pushButton")->click();
    const std::string track = testing_support::read_file(dir.file("track.txt"));
    EXPECT_EQ(std::count(track.begin(), track.end(), ' '), 8 * static_cast<long>(data.lasers().size()));
    EXPECT_EQ(status(), "     Flight trajectory saved. Task completed..");
}

TEST_F(MainWindowTest, HelpAsksTheDesktopToOpenTheLocalHelpPage) {
    action("actionHelp_3")->trigger();
    ASSERT_EQ(seam.urls.size(), 1);
    EXPECT_TRUE(seam.urls[0].endsWith("help/index.html"));
    EXPECT_TRUE(QFileInfo::exists(seam.urls[0]));
}

TEST_F(MainWindowTest, LaserProgressIsTruncatedTowardZero) {
    auto* bar = static_cast<QProgressBar*>(central("progressBar"));
    emit data.laserlines.max_limit(10.9);
    emit data.laserlines.value_changed(2.9);
    EXPECT_EQ(bar->maximum(), 10);
    EXPECT_EQ(bar->value(), 2);
}

}  // namespace
