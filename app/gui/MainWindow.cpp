#include "app/gui/MainWindow.h"

#include "app/gui/About.h"
#include "app/gui/bar_progress.h"
#include "app/gui/error_box.h"
#include "app/gui/desktop_seam.h"
#include "calculator/gui/Calculator.h"
#include "errors/error_tasks.h"
#include "errors/gui/Error_Introduction.h"
#include "flight/flight_tasks.h"
#include "flight/gui/flight_trajectory.h"
#include "flight/gui/real_trajectory.h"
#include "flight/gui/sensor_movement_details.h"
#include "lidar/lidar_tasks.h"
#include "output/gui/formatting_options.h"
#include "output/output_tasks.h"
#include "products/gui/export_survey_action.h"
#include "terrain/gui/Dialog_unit.h"
#include "terrain/terrain_tasks.h"
#include "ui_mainwindow.h"
#include "views/gui/view_area.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <cstdint>
#include <ctime>
#include <exception>

namespace {

const char* const kIdleStatus = "       No process currently going on. Upload a 3D model(.obj) or a mesh(.txt).";

const char* const kAxisQuestion =
    "Please specify the vertical/gravity axis below\n"
    "You can check axis by viewing the model in softwares like open3mod.";

const char* const kTextFilter = "ASCII Format .txt files(*.txt)";
const char* const kPointFilters = "ASCII Format .txt files(*.txt);; LAS 1.2 and Point Data Format 0(*.las)";

}  // namespace

MainWindow::MainWindow(SimulationData& simulationData)
    : QMainWindow(nullptr),
      ui(new Ui::MainWindow),
      flightDialog(new flight_trajectory(this)),
      errorDialog(new Error_Introduction(this)),
      calculatorDialog(new Calculator(this)),
      formatDialog(new formatting_options(this)),
      aboutDialog(new About(this)),
      unitDialog(new Dialog_unit(this)),
      data(simulationData) {
    // The pictures live in the static desktop library; nothing else refers
    // to them, so register them explicitly or the linker drops them.
    Q_INIT_RESOURCE(resources);

    flightDialog->setWindowTitle(QStringLiteral("Flight Trajectory Simulation"));
    errorDialog->setWindowTitle(QStringLiteral("Error Introduction"));
    calculatorDialog->setWindowTitle(QStringLiteral("Flight Planning"));
    formatDialog->setWindowTitle(QStringLiteral("Select Format"));
    aboutDialog->setWindowTitle(QStringLiteral("About"));
    unitDialog->setWindowTitle(QStringLiteral("Unit Selection"));

    // Builds the widgets and binds every on_<action>_triggered slot by name.
    ui->setupUi(this);
    progress = std::make_unique<BarProgress>(ui->progressBar, ui->statusBar);
    install_export_survey_action(this, data, *progress, [this] { showProgressBar(); });
    views = install_view_area(*this, data);

    ui->flowchart->setToolTip(QStringLiteral("<img src=':/Resources/software_chart2.jpg' height='500'>"));
    ui->flowchart->setToolTipDuration(15000);

    connect(flightDialog->sensorPage()->realPage(), &real_trajectory::successfully_ran, this, &MainWindow::get_data);
    QProgressBar* bar = ui->progressBar;
    connect(&data.laserlines, &Laserlines::value_changed, bar,
            [bar](double value) { bar->setValue(truncate_progress(value)); });
    connect(&data.laserlines, &Laserlines::max_limit, bar,
            [bar](double value) { bar->setMaximum(truncate_progress(value)); });
    connect(errorDialog, &Error_Introduction::successfully_ran, this, &MainWindow::get_data_error);
    connect(formatDialog, &formatting_options::successfully_ran, this, &MainWindow::Save_Flight_Trajectory);
    connect(unitDialog, &Dialog_unit::successfully_ran, this, &MainWindow::obj_data_extract1);

    data.logListener = [this](const QString& text) { showLog(text); };
    log_welcome(data);

    ui->statusBar->showMessage(QString::fromLatin1(kIdleStatus));
    ui->progressBar->hide();
    ui->label->hide();
}

MainWindow::~MainWindow() {
    data.logListener = nullptr;
    delete ui;
}

void MainWindow::appendLog() { data.appendLog(); }

void MainWindow::showLog(const QString& text) {
    ui->Logs->setPlainText(text);
    QScrollBar* scroll = ui->Logs->verticalScrollBar();
    scroll->setValue(scroll->maximum());
}

void MainWindow::showProgressBar() {
    ui->label->show();
    ui->progressBar->show();
}

bool MainWindow::refused(const QString& refusal) {
    if (refusal.isEmpty()) return false;
    show_error_box(this, refusal);
    return true;
}

template <typename Task>
void MainWindow::runTask(Task&& task) {
    try {
        task();
    } catch (const std::exception& e) {
        // Refused, InputError and OutputError carry the message to show.
        show_error_box(this, QString::fromUtf8(e.what()));
    } catch (...) {
        show_error_box(this, QStringLiteral("The task stopped because of an unexpected failure."));
    }
}

// "Open 3D model"
void MainWindow::on_actionOpen_triggered() {
    runTask([&] {
        open_obj_begin(data);
        showProgressBar();
        data.modelPath = ui_seam().openFileName(this, QStringLiteral("Open 3D file"), data.modelPath,
                                                QStringLiteral("Wavefront .obj files(*.obj)"));
        if (data.modelPath.isEmpty()) return;  // the current model stays
        obj_file_chosen(data, *progress);

        // The model's vertical axis. The box has no escape button: only one
        // of the two answers closes it.
        QMessageBox axisBox(this);
        axisBox.setWindowTitle(QStringLiteral("Select Axis"));
        axisBox.setText(QString::fromLatin1(kAxisQuestion));
        QPushButton* zAxis = axisBox.addButton(QStringLiteral("Z Axis"), QMessageBox::YesRole);
        QPushButton* yAxis = axisBox.addButton(QStringLiteral("Y Axis"), QMessageBox::HelpRole);
        Q_UNUSED(zAxis);
        axisBox.setEscapeButton(static_cast<QAbstractButton*>(nullptr));
        axisBox.setModal(true);
        axisBox.exec();
        data.verticalAxisAnswer = axisBox.clickedButton() == yAxis ? 1 : 0;

        // Its OK runs obj_data_extract1.
        unitDialog->show();
    });
    views->surveyChanged(ViewArea::Everything);
}

// "Save Extracted Mesh"
void MainWindow::on_actionExit_triggered() {
    if (refused(refusal_save_mesh(data))) return;
    runTask([&] {
        data.savePath = ui_seam().saveFileName(this, QStringLiteral("Save Extracted 3D file"), data.savePath,
                                               QString::fromLatin1(kTextFilter), nullptr);
        if (data.savePath.isEmpty()) return;
        save_mesh_task(data, data.savePath, *progress);
    });
}

// "Exit"
void MainWindow::on_actionExit_2_triggered() { QApplication::quit(); }

// "Save Generated LiDAR Data"
void MainWindow::on_actionSave_Generated_LiDAR_Data_triggered() {
    if (refused(refusal_save_points(data))) return;
    runTask([&] {
        QString selectedFilter;
        data.savePath = ui_seam().saveFileName(this, QStringLiteral("Save computed LiDAR data"), data.savePath,
                                               QString::fromLatin1(kPointFilters), &selectedFilter);
        if (data.savePath.isEmpty()) return;
        // A name typed without ".txt" or ".las" takes the ending of the
        // filter the user picked, so the save always writes a file.
        data.savePath = add_extension_for_filter(data.savePath, selectedFilter);
        save_points_task(data, data.savePath, *progress);
    });
}

// "Scanner and Flight details"
void MainWindow::on_actionFlight_Trajectory_Generation_triggered() {
    if (refused(refusal_flight_wizard(data))) return;
    runTask([&] {
        flightDialog->prepare(data.maxZ, (data.maxX - data.minX) / 5);
        flightDialog->show();
        // Opening the wizard counts as a task: the next load reports the discard.
        ++data.taskCount;
    });
}

// Done on the last wizard page.
void MainWindow::get_data() {
    runTask([&] {
        WizardValues values;
        flightDialog->read(values);
        const auto seed = static_cast<std::uint32_t>(std::time(nullptr));
        generate_lasers_task(data, values, seed, *progress);
    });
    views->surveyChanged(ViewArea::PlanChanged);
}

// "LiDAR Data Simulation"; the task empties the points and checks itself.
void MainWindow::on_actionLiDAR_Data_Simulation_triggered() {
    runTask([&] { simulate_lidar_task(data, *progress); });
    views->surveyChanged(ViewArea::PointsChanged);
}

// "Save Simulated Flight Trajectory": the file is written on the format
// dialog's Continue (Save_Flight_Trajectory).
void MainWindow::on_actionSave_Flight_Trajectory_triggered() {
    if (refused(refusal_save_trajectory(data))) return;
    runTask([&] {
        data.savePath = ui_seam().saveFileName(this, QStringLiteral("Save Computed Trajectory"), data.savePath,
                                               QString::fromLatin1(kTextFilter), nullptr);
        if (data.savePath.isEmpty()) return;
        formatDialog->show();
    });
}

// "Error Simulation"
void MainWindow::on_actionRandom_Error_Introduction_triggered() {
    if (refused(refusal_error_simulation(data))) return;
    errorDialog->show();
}

// Done in the error dialog.
void MainWindow::get_data_error() {
    runTask([&] { introduce_errors_task(data, read_error_settings(*errorDialog), *progress); });
    views->surveyChanged(ViewArea::PointsChanged);
}

// "Flight Planning"
void MainWindow::on_actionCalculate_Parameters_triggered() { calculatorDialog->show(); }

// "Open Mesh"
void MainWindow::on_actionImport_triggered() {
    runTask([&] {
        // The old data goes before the dialog: a cancelled dialog leaves no model.
        open_mesh_begin(data);
        showProgressBar();
        data.modelPath = ui_seam().openFileName(this, QStringLiteral("Open Extracted Mesh file"), data.modelPath,
                                                QStringLiteral("ASCII file(*.txt)"));
        if (data.modelPath.isEmpty()) return;
        load_mesh_task(data, data.modelPath, *progress);
    });
    views->surveyChanged(ViewArea::Everything);
}

// Continue in the format dialog.
void MainWindow::Save_Flight_Trajectory() {
    runTask([&] { save_trajectory_task(data, data.savePath, formatDialog->formatCode(), *progress); });
}

// "About"
void MainWindow::on_actionAbout_triggered() { aboutDialog->show(); }

// "Help": the local help page in the desktop's browser; whether the browser
// came up is not reported.
void MainWindow::on_actionHelp_3_triggered() {
    ui_seam().openUrl(QUrl::fromLocalFile(help_page_path()));
}

// OK in the unit dialog: the OBJ load proper.
void MainWindow::obj_data_extract1() {
    runTask([&] {
        load_obj_task(data, data.modelPath, data.verticalAxisAnswer, unitDialog->unitChoice(), *progress);
    });
    views->surveyChanged(ViewArea::Everything);
}

QString help_page_path() {
    const QDir exeDir(QCoreApplication::applicationDirPath());
    const QString candidates[] = {
        exeDir.filePath(QStringLiteral("help/index.html")),
        exeDir.filePath(QStringLiteral("../share/pointfall/help/index.html")),
        exeDir.filePath(QStringLiteral("../help/index.html")),
    };
    for (const QString& path : candidates) {
        if (QFileInfo::exists(path)) return QDir::cleanPath(path);
    }
    return QDir::cleanPath(candidates[0]);
}
