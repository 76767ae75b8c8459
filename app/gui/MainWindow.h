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
    // exception leaves a slot.
    template <typename Task>
    void runTask(Task&& task);

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
};

// The help page installed beside the program; the first existing one of
// <exe dir>/help, <exe dir>/../share/pointfall/help and <exe dir>/../help
// (a test program one folder below the build), else the first of them.
QString help_page_path();
