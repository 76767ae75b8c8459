#pragma once
#include <QObject>
#include <QTabWidget>

class QMainWindow;
class PlanView;
class PointsView;
class CoverageView;
class SimulationData;

// The view area of the main window: tabs Log | Plan | Points | Coverage.
// The Log tab holds the log panel itself. The other views are rebuilt from
// the working data after a change, when their tab is next shown.
class ViewArea : public QTabWidget {
    Q_OBJECT
public:
    enum Change { ModelChanged = 1, PlanChanged = 2, PointsChanged = 4, Everything = 7 };

    ViewArea(SimulationData& survey, QWidget* logPanel, QWidget* parent = nullptr);

    // What a finished task changed; the views concerned rebuild.
    void surveyChanged(int changes);

    PlanView* plan() const { return plan_; }
    PointsView* points() const { return points_; }
    CoverageView* coverage() const { return coverage_; }

private:
    void refreshCurrent();

    SimulationData& data_;
    PlanView* plan_;
    PointsView* points_;
    CoverageView* coverage_;
    int stale_ = 0;  // bits: 1 plan, 2 points, 4 coverage
};

// Lays the main window's form out so that it resizes: the header, the view
// area in place of the log panel (which becomes its Log tab), the rule and
// the progress row. The window starts at its form's size, which is also
// its smallest. Every dialog the window owns opens clear of the view area
// and the progress bar where the screen allows. Returns the view area.
ViewArea* install_view_area(QMainWindow& window, SimulationData& data);
