#pragma once
#include <functional>

class QMainWindow;
class QAction;
class SimulationData;
class Progress;

// Adds "Export Survey Point Cloud..." to the main window's menu, right after
// "Save Generated LiDAR Data" (at the end of the first menu when that action
// is missing). Triggered, it refuses like "Save Generated LiDAR Data" when
// there are no points, asks for the settings (ExportSurveyDialog), then for
// the file (through the desktop seam: LAS 1.4 or CSV by the ending), and
// runs export_survey_task with the bar's progress; every error shows in an
// "Error" box. `showProgress` makes the bar visible.
QAction* install_export_survey_action(QMainWindow* window, SimulationData& data, Progress& progress,
                                      std::function<void()> showProgress);
