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
#include <QEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <cstdint>
#include <ctime>
#include <exception>
#include <new>

namespace {

const char* const kIdleStatus = "       No process currently going on. Upload a 3D model(.obj) or a mesh(.txt).";

const char* const kAxisQuestion =
    "Please specify the vertical/gravity axis below\n"
    "You can check axis by viewing the model in softwares like open3mod.";

// What the status bar says while an OBJ import waits for its questions.
const char* const kObjLoadingStatus = "Loading file..";

const char* const kTextFilter = "ASCII Format .txt files(*.txt)";
const char* const kPointFilters = "ASCII Format .txt files(*.txt);; LAS 1.2 and Point Data Format 0(*.las)";

// Running out of memory: what to lower, by task.
const char* const kLoadOutOfMemory =
    "There is not enough memory for this model. Load a smaller model (fewer vertices and triangles), or close "
    "other programs and load it again.";
const char* const kLasersOutOfMemory =
    "There is not enough memory for this many lasers. Lower the pulse repetition frequency (PRF) or the overlap, "
    "or raise the velocity or the flying height, so that fewer pulses are emitted; then run \"Scanner and Flight "
    "details\" again.";
const char* const kCastOutOfMemory =
    "There is not enough memory to simulate the LiDAR data of this many lasers. Generate fewer lasers: lower the "
    "pulse repetition frequency (PRF) or the overlap, or raise the velocity or the flying height, in \"Scanner and "
    "Flight details\".";
const char* const kErrorsOutOfMemory =
    "There is not enough memory to introduce the errors into this many lasers. Generate fewer lasers: lower the "
    "pulse repetition frequency (PRF) or the overlap, or raise the velocity or the flying height, in \"Scanner and "
    "Flight details\".";
const char* const kSaveOutOfMemory =
    "There is not enough memory to save this file; the data is still in memory. Close other programs and save "
    "again, or generate fewer lasers (lower the pulse repetition frequency, PRF).";
const char* const kMeshSaveOutOfMemory =
    "There is not enough memory to save the mesh; the model is still in memory. Close other programs and save "
    "again.";
const char* const kOutOfMemory = "There is not enough memory for this task. Close other programs and try again.";

// The text to show for the exception being handled.
QString failure_message(const char* outOfMemory) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return QString::fromLatin1(outOfMemory ? outOfMemory : kOutOfMemory);
    } catch (const std::exception& e) {
        // Refused, InputError and OutputError carry the message to show.
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("The task stopped because of an unexpected failure.");
    }
}

// Keeps a status-bar message until the next one. While the pointer is on a
// menu item Qt sends the window the action's status tip, and an empty tip
// (every action here has an empty one) clears the message. No task message
// should go that way, so the window takes no status tips at all.
class StatusTipFilter final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        return event->type() == QEvent::StatusTip || QObject::eventFilter(watched, event);
    }
};

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
    // OK closes the dialog too, after it has started the load.
    connect(unitDialog, &QDialog::rejected, this, &MainWindow::objImportCancelled);
    installEventFilter(new StatusTipFilter(this));

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
void MainWindow::runTask(Task&& task, const char* outOfMemory) {
    try {
        task();
    } catch (...) {
        show_error_box(this, failure_message(outOfMemory));
    }
}

template <typename Task>
void MainWindow::runLoad(Task&& task) {
    try {
        task();
    } catch (...) {
        const QString reason = failure_message(kLoadOutOfMemory);
        data.pendingMessage = QStringLiteral("The model \"%1\" was not loaded: %2\n").arg(data.modelPath, reason);
        data.appendLog();
        progress->setValue(0);
        show_error_box(this, reason);
    }
}

QString MainWindow::askSaveName(QString& lastName, const QString& caption, const QString& filter,
                                QString* selectedFilter) {
    lastName = ui_seam().saveFileName(this, caption, save_dialog_start(lastName, data.savePath), filter,
                                      selectedFilter);
    data.savePath = lastName;
    return lastName;
}

// "Open 3D model"
void MainWindow::on_actionOpen_triggered() {
    runTask([&] {
        open_obj_begin(data);
        showProgressBar();
        data.modelPath = ui_seam().openFileName(this, QStringLiteral("Open 3D file"), data.modelPath,
                                                QStringLiteral("Wavefront .obj files(*.obj)"));
        if (data.modelPath.isEmpty()) return;  // the current model stays
        // The current model also stays while the questions are asked: the
        // unit dialog's OK discards it and loads the new one
        // (obj_data_extract1), and closing that dialog without OK keeps it.
        // Meanwhile the bars say a load is coming; a cancel puts back what
        // they showed before.
        if (!pendingImport.waiting) {
            const QProgressBar* bar = ui->progressBar;
            pendingImport = {true, ui->statusBar->currentMessage(), bar->minimum(), bar->maximum(), bar->value()};
        }
        progress->setRange(0, 5);
        progress->setValue(0);
        progress->showStatus(QString::fromLatin1(kObjLoadingStatus));

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
    }, kLoadOutOfMemory);
    views->surveyChanged(ViewArea::Everything);
}

// "Save Extracted Mesh"
void MainWindow::on_actionExit_triggered() {
    if (refused(refusal_save_mesh(data))) return;
    runTask([&] {
        if (askSaveName(lastMeshName, QStringLiteral("Save Extracted 3D file"), QString::fromLatin1(kTextFilter),
                        nullptr).isEmpty())
            return;
        save_mesh_task(data, data.savePath, *progress);
    }, kMeshSaveOutOfMemory);
}

// "Exit"
void MainWindow::on_actionExit_2_triggered() { QApplication::quit(); }

// "Save Generated LiDAR Data"
void MainWindow::on_actionSave_Generated_LiDAR_Data_triggered() {
    if (refused(refusal_save_points(data))) return;
    runTask([&] {
        QString selectedFilter;
        if (askSaveName(lastPointsName, QStringLiteral("Save computed LiDAR data"),
                        QString::fromLatin1(kPointFilters), &selectedFilter).isEmpty())
            return;
        // A name typed without ".txt" or ".las" takes the ending of the
        // filter the user picked, so the save always writes a file.
        data.savePath = lastPointsName = add_extension_for_filter(data.savePath, selectedFilter);
        save_points_task(data, data.savePath, *progress);
    }, kSaveOutOfMemory);
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
        try {
            generate_lasers_task(data, values, seed, *progress);
        } catch (const std::bad_alloc&) {
            // No half-laid survey is left to save or cast; its memory goes back.
            std::vector<LaserLine>().swap(data.lasers());
            data.laserlines.lineStarts.clear();
            std::vector<LidarPoint>().swap(data.points);
            throw;
        }
    }, kLasersOutOfMemory);
    views->surveyChanged(ViewArea::PlanChanged);
}

// "LiDAR Data Simulation"; the task empties the points and checks itself.
void MainWindow::on_actionLiDAR_Data_Simulation_triggered() {
    runTask([&] {
        try {
            simulate_lidar_task(data, *progress);
        } catch (const std::bad_alloc&) {
            std::vector<LidarPoint>().swap(data.points);  // no half of the returns is saved
            throw;
        }
    }, kCastOutOfMemory);
    views->surveyChanged(ViewArea::PointsChanged);
}

// "Save Simulated Flight Trajectory": the file is written on the format
// dialog's Continue (Save_Flight_Trajectory).
void MainWindow::on_actionSave_Flight_Trajectory_triggered() {
    if (refused(refusal_save_trajectory(data))) return;
    runTask([&] {
        if (askSaveName(lastTrajectoryName, QStringLiteral("Save Computed Trajectory"),
                        QString::fromLatin1(kTextFilter), nullptr).isEmpty())
            return;
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
    runTask([&] { introduce_errors_task(data, read_error_settings(*errorDialog), *progress); }, kErrorsOutOfMemory);
    views->surveyChanged(ViewArea::PointsChanged);
}

// "Flight Planning"
void MainWindow::on_actionCalculate_Parameters_triggered() { calculatorDialog->show(); }

// "Open Mesh"
void MainWindow::on_actionImport_triggered() {
    runLoad([&] {
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
    runTask([&] { save_trajectory_task(data, data.savePath, formatDialog->formatCode(), *progress); },
            kSaveOutOfMemory);
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
    pendingImport.waiting = false;
    ObjReadReport report;
    bool loaded = false;
    runLoad([&] {
        obj_file_chosen(data, *progress);  // the old model goes now
        report = load_obj_task(data, data.modelPath, data.verticalAxisAnswer, unitDialog->unitChoice(), *progress);
        loaded = true;
    });
    views->surveyChanged(ViewArea::Everything);
    // The log has the line too, but after the details a user reads as success.
    if (loaded && report.skippedFaceLines != 0) {
        QMessageBox::warning(this, QStringLiteral("Warning"),
                             QStringLiteral("The model was loaded, but not all of it:\n") +
                                 skipped_face_lines_message(report.skippedFaceLines, report.firstSkippedLine)
                                     .trimmed());
    }
}

void MainWindow::objImportCancelled() {
    if (!pendingImport.waiting) return;
    pendingImport.waiting = false;
    // Another task may have run meanwhile (the dialog does not block): then
    // the bars show its outcome, which stays.
    if (ui->statusBar->currentMessage() != QLatin1String(kObjLoadingStatus)) return;
    progress->setRange(pendingImport.minimum, pendingImport.maximum);
    progress->setValue(pendingImport.value);
    progress->showStatus(pendingImport.status);
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
