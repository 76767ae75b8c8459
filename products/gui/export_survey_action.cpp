#include "products/gui/export_survey_action.h"

#include "app/gui/desktop_seam.h"
#include "app/gui/error_box.h"
#include "app/simulation_data.h"
#include "products/gui/export_survey_dialog.h"
#include "products/product_tasks.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <exception>
#include <memory>
#include <new>

namespace {

const char* const kFilters = "LAS 1.4 and Point Data Format 6(*.las);; Comma-separated text(*.csv)";

// A name typed without an ending takes the one of the filter picked.
QString with_ending(const QString& name, const QString& filter) {
    if (name.endsWith(QLatin1String(".las"), Qt::CaseInsensitive) ||
        name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        return name;
    if (filter.contains(QLatin1String("*.csv"))) return name + QStringLiteral(".csv");
    if (filter.contains(QLatin1String("*.las"))) return name + QStringLiteral(".las");
    return name;
}

}  // namespace

QAction* install_export_survey_action(QMainWindow* window, SimulationData& data, Progress& progress,
                                      std::function<void()> showProgress) {
    auto* action = new QAction(QStringLiteral("Export Survey Point Cloud..."), window);
    action->setObjectName(QStringLiteral("actionExport_Survey_Point_Cloud"));

    QAction* save = window->findChild<QAction*>(QStringLiteral("actionSave_Generated_LiDAR_Data"));
    QMenu* menu = nullptr;
    QAction* before = nullptr;
    if (save) {
        for (QWidget* w : save->associatedWidgets()) {
            if (auto* m = qobject_cast<QMenu*>(w)) {
                menu = m;
                const QList<QAction*> actions = m->actions();
                const int at = actions.indexOf(save);
                before = at + 1 < actions.size() ? actions[at + 1] : nullptr;
                break;
            }
        }
    }
    if (!menu && !window->menuBar()->actions().isEmpty()) menu = window->menuBar()->actions().first()->menu();
    if (menu) menu->insertAction(before, action);

    // The export's own last file name: its dialog starts there, not at
    // another save's file.
    auto lastName = std::make_shared<QString>();
    QObject::connect(action, &QAction::triggered, window, [window, &data, &progress, showProgress, lastName] {
        const QString refusal = refusal_save_points(data);
        if (!refusal.isEmpty()) return show_error_box(window, refusal);
        ExportSurveyDialog dialog(window);
        if (dialog.exec() != QDialog::Accepted) return;
        try {
            QString filter;
            QString path = ui_seam().saveFileName(window, QStringLiteral("Export survey point cloud"),
                                                  save_dialog_start(*lastName, data.savePath),
                                                  QString::fromLatin1(kFilters), &filter);
            *lastName = path;
            if (path.isEmpty()) return;
            path = *lastName = with_ending(path, filter);
            if (showProgress) showProgress();
            export_survey_task(data, path, dialog.settings(), progress);
        } catch (const std::bad_alloc&) {
            show_error_box(window, QStringLiteral("There is not enough memory to export the survey; the data is "
                                                  "still in memory. Close other programs and export again, or "
                                                  "generate fewer lasers (lower the pulse repetition frequency, "
                                                  "PRF)."));
        } catch (const std::exception& e) {
            show_error_box(window, QString::fromUtf8(e.what()));
        } catch (...) {
            show_error_box(window, QStringLiteral("The task stopped because of an unexpected failure."));
        }
    });
    return action;
}
