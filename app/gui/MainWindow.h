#pragma once
#include "app/simulation_data.h"

#include <QMainWindow>
#include <QString>
#include <memory>

namespace Ui {
class MainWindow;
}
class flight_trajectory;
class Error_Introduction;
class Calculator;
class formatting_options;
class About;
class Dialog_unit;
class BarProgress;
class ViewArea;

// The one window of the program: the menus, the log panel, the progress bar
// and the status bar. Each menu slot does the widget part of its action
// (checks, file dialog, reading a dialog) and hands the rest to a task
// function shared with the batch runner.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(SimulationData& data = SimulationData::instance());
    ~MainWindow() override;

    // Adds the pending message and a line feed to the log panel.
    void appendLog();

private slots:
    void on_actionOpen_triggered();
    void on_actionExit_triggered();
    void on_actionExit_2_triggered();
    void on_actionSave_Generated_LiDAR_Data_triggered();
    void on_actionFlight_Trajectory_Generation_triggered();
    void get_data();
    void on_actionLiDAR_Data_Simulation_triggered();
    void on_actionSave_Flight_Trajectory_triggered();
    void on_actionRandom_Error_Introduction_triggered();
    void get_data_error();
    void on_actionCalculate_Parameters_triggered();
    void on_actionImport_triggered();
    void Save_Flight_Trajectory();
    void on_actionAbout_triggered();
    void on_actionHelp_3_triggered();
    void obj_data_extract1();

private:
    void showLog(const QString& text);
    void showProgressBar();
    // Shows the refusal of a menu action, if any; true when it refused.
    bool refused(const QString& refusal);
    // Runs one task; whatever it throws ends up in an "Error" box, so no
    // exception leaves a slot. Running out of memory shows `outOfMemory`,
    // which says what to lower, instead of the bare exception text.
    template <typename Task>
    void runTask(Task&& task, const char* outOfMemory = nullptr);
    // A model load: as runTask, and a failure is also logged (the file,
    // modelPath, and the reason) and the bar goes back to 0.
    template <typename Task>
    void runLoad(Task&& task);
    // Asks for a file to save, starting from `lastName` (the name this
    // dialog chose last), and remembers the answer there and in savePath.
    QString askSaveName(QString& lastName, const QString& caption, const QString& filter,
                        QString* selectedFilter);
    // The unit dialog closed without OK: the import is over, the old model
    // stays, and the bars show again what they showed before it.
    void objImportCancelled();

    Ui::MainWindow* ui;
    flight_trajectory* flightDialog;
    Error_Introduction* errorDialog;
    Calculator* calculatorDialog;
    formatting_options* formatDialog;
    About* aboutDialog;
    Dialog_unit* unitDialog;

    SimulationData& data;
    std::unique_ptr<BarProgress> progress;
    ViewArea* views = nullptr;  // tabs Log | Plan | Points | Coverage

    // Each save dialog starts from its own last name.
    QString lastMeshName, lastPointsName, lastTrajectoryName;
    // An OBJ import waiting for the unit dialog's OK, and what the status
    // bar and the progress bar showed before it began.
    struct PendingImport {
        bool waiting = false;
        QString status;
        int minimum = 0, maximum = 0, value = 0;
    } pendingImport;
};

// The help page installed beside the program; the first existing one of
// <exe dir>/help, <exe dir>/../share/pointfall/help and <exe dir>/../help
// (a test program one folder below the build), else the first of them.
QString help_page_path();
