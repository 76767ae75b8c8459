#include "output/output_tasks.h"

#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "output/las_writer.h"
#include "output/point_file.h"
#include "output/trajectory_file.h"

#include <QDate>
#include <QRegularExpression>

void save_points_task(SimulationData& data, const QString& path, Progress& progress) {
    const QString refusal = refusal_save_points(data);
    if (!refusal.isEmpty()) throw Refused(refusal.toStdString());

    // Endings are compared case-sensitively: "x.TXT" is neither.
    const bool text = path.endsWith(QLatin1String(".txt"), Qt::CaseSensitive);
    const bool las = path.endsWith(QLatin1String(".las"), Qt::CaseSensitive);
    if (!text && !las) {
        throw OutputError(QStringLiteral("The LiDAR data file name '%1' must end in .txt or .las").arg(path).toStdString());
    }

    // A failed write throws OutputError here: nothing is logged or counted.
    if (text) write_point_file(data.lasers(), path, progress);
    if (las) write_las_file(data.points, data.lasers(), path, progress, QDate::currentDate());

    log_points_saved(data, path);
    progress.showStatus(QStringLiteral("     Generated LiDAR data saved. Task completed.."));
}

void log_points_saved(SimulationData& data, const QString& path) {
    data.pendingMessage = QStringLiteral("LiDAR data saved, Path : %1\n").arg(path);
    data.appendLog();
    ++data.taskCount;
}

void log_trajectory_saved(SimulationData& data, const QString& path) {
    data.pendingMessage = QStringLiteral("Flight trajectory saved in, Path : %1\n").arg(path);
    data.appendLog();
    ++data.taskCount;
}

void save_trajectory_task(SimulationData& data, const QString& path, int formatCode, Progress& progress) {
    write_trajectory_file(data.lasers(), path, progress, formatCode);
    log_trajectory_saved(data, path);
    progress.showStatus(QStringLiteral("     Flight trajectory saved. Task completed.."));
}

QString add_extension_for_filter(const QString& name, const QString& selectedFilter) {
    if (name.isEmpty()) return name;
    if (name.endsWith(QLatin1String(".txt")) || name.endsWith(QLatin1String(".las"))) return name;
    // The pattern in the filter's parentheses, e.g. "LAS 1.2 ...(*.las)".
    static const QRegularExpression pattern(QStringLiteral("\\*(\\.[A-Za-z0-9]+)\\)?\\s*$"));
    const QRegularExpressionMatch m = pattern.match(selectedFilter.trimmed());
    if (m.hasMatch()) {
        const QString ext = m.captured(1);
        if (ext == QLatin1String(".txt") || ext == QLatin1String(".las")) return name + ext;
    }
    return name;
}
