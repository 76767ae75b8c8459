#include "errors/error_tasks.h"

#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "errors/error_model.h"

#include <algorithm>

namespace {

const QString kNonNegative = QStringLiteral("Standard Deviation should be non-negative!");

bool any_negative(const std::vector<double>& values) {
    return std::any_of(values.begin(), values.end(), [](double v) { return v < 0; });
}

QString g6(double v) { return QString::number(v, 'g', 6); }

void check_count(bool on, const std::vector<double>& values, std::size_t expected, const char* group) {
    if (on && values.size() != expected) {
        throw InputError(std::string("The ") + group + " error needs " + std::to_string(expected) + " values, got " +
                         std::to_string(values.size()) + ".");
    }
}

}  // namespace

QString validate_error_settings(const ErrorSettings& s) {
    // Overall error excludes the other two: only its values are checked then.
    if (s.overallOn) return any_negative(s.overall) ? kNonNegative : QString();
    // Systematic offsets may be negative; standard deviations may not.
    if (s.randomOn && any_negative(s.random)) return kNonNegative;
    return QString();
}

void store_error_settings(SimulationData& data, const ErrorSettings& settings) {
    check_count(settings.systematicOn, settings.systematic, 7, "systematic");
    check_count(settings.randomOn, settings.random, 7, "random");
    check_count(settings.overallOn, settings.overall, 3, "overall");
    const QString problem = validate_error_settings(settings);
    if (!problem.isEmpty()) throw InputError(problem.toStdString());

    data.systematicErrorOn = settings.systematicOn;
    data.randomErrorOn = settings.randomOn;
    data.overallErrorOn = settings.overallOn;
    data.systematicError = settings.systematicOn ? settings.systematic : std::vector<double>();
    data.randomError = settings.randomOn ? settings.random : std::vector<double>();
    data.overallError = settings.overallOn ? settings.overall : std::vector<double>();
}

void introduce_errors_task(SimulationData& data, const ErrorSettings& settings, Progress& progress,
                           unsigned threads) {
    store_error_settings(data, settings);
    ErrorStep step = error_step(data, threads);
    step.apply(data.lasers().data(), data.lasers().size());
    log_errors_introduced(data);
    progress.showStatus(QStringLiteral("     Error introduced. Task completed.."));
    ++data.taskCount;
}

ErrorStep error_step(const SimulationData& data, unsigned threads) {
    return ErrorStep(data.systematicErrorOn ? &data.systematicError : nullptr,
                     data.randomErrorOn ? &data.randomError : nullptr,
                     data.overallErrorOn ? &data.overallError : nullptr, threads);
}

void log_errors_introduced(SimulationData& data) {
    if (data.systematicErrorOn || data.randomErrorOn || data.overallErrorOn) {
        data.pendingMessage = QStringLiteral("Error Introduced, Details:\n\n");
    }
    if (data.systematicErrorOn) {
        const std::vector<double>& e = data.systematicError;
        data.pendingMessage += QStringLiteral("Systematic Error Added:\n\nX = %1, Y = %2, Z = %3\n"
                                              "Roll = %4, Pitch = %5, Yaw = %6\nRange = %7\n\n")
                                   .arg(g6(e[0]), g6(e[1]), g6(e[2]), g6(e[3]), g6(e[4]), g6(e[5]), g6(e[6]));
    }
    // The log shows variances: the squares of the standard deviations.
    if (data.randomErrorOn) {
        const std::vector<double>& s = data.randomError;
        data.pendingMessage +=
            QStringLiteral("Random Error Added:\n\nX ~ N(0, %1), Y ~ N(0, %2), Z ~ N(0, %3)\n"
                           "Roll ~ N(0, %4), Pitch ~ N(0, %5), Yaw ~ N(0, %6)\nRange ~ N(0, %7)\n\n")
                .arg(g6(s[0] * s[0]), g6(s[1] * s[1]), g6(s[2] * s[2]), g6(s[3] * s[3]), g6(s[4] * s[4]),
                     g6(s[5] * s[5]), g6(s[6] * s[6]));
    }
    if (data.overallErrorOn) {
        const std::vector<double>& s = data.overallError;
        data.pendingMessage += QStringLiteral("Overall Error Added:\n\nX ~ N(0, %1), Y ~ N(0, %2), Z ~ N(0, %3)\n\n")
                                   .arg(g6(s[0] * s[0]), g6(s[1] * s[1]), g6(s[2] * s[2]));
    }
    const QString rule = QString(85, QLatin1Char('_')) + QLatin1Char('\n');
    data.pendingMessage += rule;
    data.pendingMessage += QStringLiteral("Now, you can save the generated LiDAR data.\n");
    data.pendingMessage += rule;
    data.appendLog();
}
