#include "views/gui/view_area.h"

#include "app/simulation_data.h"
#include "app/gui/error_box.h"
#include "app/window_placement.h"
#include "views/gui/coverage_view.h"
#include "views/gui/plan_view.h"
#include "views/gui/points_view.h"

#include <QDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <exception>
#include <new>

namespace {

enum Stale { kPlan = 1, kPoints = 2, kCoverage = 4 };

// Opens the window's dialogs clear of the log and the progress bar.
class DialogPlacer : public QObject {
public:
    DialogPlacer(QMainWindow& window, QWidget* keep1, QWidget* keep2)
        : QObject(&window), window_(window), keep1_(keep1), keep2_(keep2) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (!dialog || !dialog->isWindow() || !window_.isVisible()) return false;
        QScreen* screen = window_.screen();
        if (!screen) return false;
        const QRect kept = QRect(keep1_->mapToGlobal(QPoint(0, 0)), keep1_->size())
                               .united(QRect(keep2_->mapToGlobal(QPoint(0, 0)), keep2_->size()));
        // The frame round the dialog: as the main window's where the dialog
        // has none yet.
        QSize frame = dialog->frameGeometry().size();
        if (frame == dialog->size())
            frame += window_.frameGeometry().size() - window_.size();
        const QPoint at = place_clear_of(screen->availableGeometry(), kept, frame);
        dialog->move(at);
        return false;
    }

private:
    QMainWindow& window_;
    QWidget* keep1_;
    QWidget* keep2_;
};

}  // namespace

ViewArea::ViewArea(SimulationData& survey, QWidget* logPanel, QWidget* parent)
    : QTabWidget(parent),
      data_(survey),
      plan_(new PlanView(this)),
      points_(new PointsView(this)),
      coverage_(new CoverageView(this)) {
    setObjectName(QStringLiteral("viewArea"));
    setDocumentMode(true);
    addTab(logPanel, QStringLiteral("Log"));
    addTab(plan_, QStringLiteral("Plan"));
    addTab(points_, QStringLiteral("Points"));
    addTab(coverage_, QStringLiteral("Coverage"));
    connect(this, &QTabWidget::currentChanged, this, [this] { refreshCurrent(); });
}

void ViewArea::surveyChanged(int changes) {
    if (changes & (ModelChanged | PlanChanged)) stale_ |= kPlan;
    if (changes & (ModelChanged | PlanChanged | PointsChanged)) {
        stale_ |= kPoints | kCoverage;
        // The hidden views let go of their copies at once: 16 bytes a return.
        if (currentWidget() != points_) points_->release();
        if (currentWidget() != coverage_) coverage_->release();
    }
    refreshCurrent();
}

void ViewArea::refreshCurrent() {
    QWidget* current = currentWidget();
    int bit = 0;
    const char* name = nullptr;
    if (current == plan_) bit = kPlan, name = "Plan";
    else if (current == points_) bit = kPoints, name = "Points";
    else if (current == coverage_) bit = kCoverage, name = "Coverage";
    if (!(stale_ & bit)) return;
    try {
        if (bit == kPlan) plan_->showSurvey(data_);
        else if (bit == kPoints) points_->showSurvey(data_);
        else coverage_->showSurvey(data_);
        stale_ &= ~bit;
    } catch (const std::exception& e) {
        // The view gives back what it had built and stays stale, so that
        // showing its tab again tries again; the survey itself is untouched.
        if (bit == kPlan) plan_->showSurvey(SimulationData());
        else if (bit == kPoints) points_->release();
        else coverage_->release();
        const QString view = QString::fromLatin1(name);
        QString message;
        if (dynamic_cast<const std::bad_alloc*>(&e)) {
            message = QStringLiteral("There is not enough memory to show the %1 view of this survey; the survey "
                                     "is still in memory. Close other programs and open the view again, or %2.")
                          .arg(view, bit == kPlan ? QStringLiteral("load a smaller model")
                                                  : QStringLiteral("generate fewer lasers (lower the pulse "
                                                                   "repetition frequency, PRF)"));
        } else {
            message = QStringLiteral("The %1 view could not be shown: %2").arg(view, QString::fromUtf8(e.what()));
        }
        show_error_box(this, message);
    }
}

ViewArea* install_view_area(QMainWindow& window, SimulationData& data) {
    QWidget* central = window.centralWidget();
    auto find = [central](const char* name) { return central->findChild<QWidget*>(QLatin1String(name)); };
    QWidget* header = find("LogDetails");
    QWidget* flowchart = find("flowchart");
    QWidget* logs = find("Logs");
    QWidget* rule = find("line");
    QWidget* caption = find("label");
    QWidget* bar = find("progressBar");

    auto* area = new ViewArea(data, logs, central);

    // The header keeps its height; the flowchart hint sits at its right end.
    header->setFixedHeight(31);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(0, 0, 9, 0);
    headerRow->addStretch(1);
    flowchart->setParent(header);
    flowchart->setFixedSize(flowchart->size());
    headerRow->addWidget(flowchart);

    // The progress row keeps its height while the bar is hidden.
    auto* progressRow = new QWidget(central);
    progressRow->setObjectName(QStringLiteral("progressRow"));
    progressRow->setFixedHeight(41);
    auto* row = new QHBoxLayout(progressRow);
    row->setContentsMargins(40, 9, 29, 11);
    row->setSpacing(0);
    caption->setFixedWidth(130);
    row->addWidget(caption);
    row->addWidget(bar, 1);
    rule->setFixedHeight(20);

    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(area, 1);
    column->addWidget(rule);
    column->addWidget(progressRow);

    // Resizable from the form's size upwards.
    const QSize start = window.size();
    window.setMinimumSize(start);
    window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window.resize(start);

    auto* placer = new DialogPlacer(window, area, progressRow);
    for (QDialog* dialog : window.findChildren<QDialog*>()) dialog->installEventFilter(placer);
    return area;
}
