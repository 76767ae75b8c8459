#include "flight/flight_tasks.h"

#include "app/progress.h"
#include "app/simulation_data.h"

#include <cmath>
#include <vector>

namespace {

QString g6(double value) { return QString::number(value, 'g', 6); }

const char* const kParametersMessage =
    "Flight Trajectory and Scanner Movement Details:\n"
    "Flight Speed = %1 m/s\n"
    "Flight Direction w.r.t. x - axis = %2 degree\n"
    "Mean flying height = %3 m\n"
    "Swath Overlap = %4 %\n"
    "Pulse Repetition Frequency = %5 Hz\n"
    "Scanner Movement =  %6\n"
    "Field of View across =  %7 degree\n"
    "Field of View along = %8 degree\n"
    "Scanning frequency = %9 Hz\n"
    "Realistic Trajectory =  %10\n";

const char* const kRule = "________________________________________________________________________";

}  // namespace

QString pattern_name(ScanPattern pattern) {
    switch (pattern) {
    case ZigZagLines: return QStringLiteral("Zig Zag Lines");
    case ParallelLines: return QStringLiteral("Parallel Lines");
    case Spherical: return QStringLiteral("Spherical");
    case Elliptical: return QStringLiteral("Elliptical");
    }
    return QString();
}

void begin_laser_generation(SimulationData& data, const WizardValues& values) {
    // 1. Throw away the previous run (releasing its memory before the new
    //    lasers are laid).
    TrajectoryTerms().swap(data.trajectoryTerms);
    std::vector<LaserLine>().swap(data.lasers());
    std::vector<LidarPoint>().swap(data.points);
    data.laserlines.lineStarts.clear();
    data.realisticTrajectory = false;

    // 2. The wizard's values.
    data.flight = values.flight;
    data.scanner = values.scanner;
    data.realisticTrajectory = values.realisticTrajectory;
    data.trajectoryTerms = values.trajectoryTerms;
    const FlightParameters& f = data.flight;
    const ScannerParameters& s = data.scanner;

    // 3. Parameters into the log; %10 is a placeholder of its own, so the %1
    //    step leaves it alone.
    data.pendingMessage = QString::fromLatin1(kParametersMessage)
                              .arg(g6(f.velocity))
                              .arg(g6(f.orientation))
                              .arg(g6(f.meanHeight))
                              .arg(g6(f.overlap))
                              .arg(g6(s.prf))
                              .arg(pattern_name(s.pattern))
                              .arg(g6(s.fovAcross))
                              .arg(g6(s.fovAlong))
                              .arg(g6(s.scanFrequency))
                              .arg(data.realisticTrajectory ? QStringLiteral("Yes") : QStringLiteral("No"));
    data.appendLog();
}

void log_origins_computed(SimulationData& data) {
    data.pendingMessage = QStringLiteral("Flight Trajectory/Lasers origin Computed");
    data.appendLog();
}

void log_laser_totals(SimulationData& data, std::uint64_t lasers, std::uint64_t expectedHits) {
    data.pendingMessage = QStringLiteral("Lasers Direction Computed\nTotal no. of Lasers = %1\n")
                              .arg(static_cast<qulonglong>(lasers));
    data.appendLog();
    const double density = expected_point_density(data, static_cast<double>(expectedHits));
    data.pendingMessage =
        QStringLiteral("Expected Intersections = %1\nExpected Point density = %2 per Sq m\n\n")
            .arg(static_cast<qulonglong>(expectedHits))
            .arg(QString::number(density, 'f', 3)) +
        QLatin1String(kRule) + QStringLiteral("\nNow, you can generate LiDAR data under 'LiDAR data simulation'.\n") +
        QLatin1String(kRule) + QLatin1Char('\n');
    data.appendLog();
    ++data.taskCount;
}

void generate_lasers_task(SimulationData& data, const WizardValues& values, std::uint32_t seed, Progress& progress) {
    // 1-3. The previous run thrown away, the values stored and logged.
    begin_laser_generation(data, values);
    const FlightParameters& f = data.flight;
    const ScannerParameters& s = data.scanner;
    progress.setValue(0);

    // 4-5. Origins.
    Laserlines& laserlines = data.laserlines;
    laserlines.compute_origins(s.prf, f.velocity, s.fovAcross * 0.5, f.overlap, f.meanHeight, f.orientation,
                               data.minX, data.minY, data.minZ, data.maxX, data.maxY, data.maxZ,
                               data.realisticTrajectory, data.trajectoryTerms, seed, f.spacingGround);
    log_origins_computed(data);
    progress.setValue(0);

    // 6-7. Directions, and the pulses expected to land inside the model.
    laserlines.compute_directions(s.prf, s.fovAcross * 0.5, f.orientation, s.pattern, s.scanFrequency,
                                  s.fovAlong * 0.5, data.realisticTrajectory, data.trajectoryTerms, seed);
    const int hits =
        laserlines.count_expected_hits(data.maxX, data.maxY, data.maxZ, data.minX, data.minY, data.minZ);

    // 8. Done.
    progress.setRange(0, 1);
    progress.setValue(1);
    progress.showStatus(
        QStringLiteral("        Flight trajectory and scanner movement simulated. Task completed.."));

    // 9-11. Totals, and the task counted.
    log_laser_totals(data, data.lasers().size(), static_cast<std::uint64_t>(static_cast<std::int64_t>(hits)));
}

QString validate_flight_values(const FlightParameters& f, double maxSceneHeight) {
    // Written as "not inside" so that NaN fails as well.
    if (!(f.orientation >= 0.0 && f.orientation <= 180.0))
        return QStringLiteral("Flight Orientation should be between 0 - 180 degrees!");
    if (!(f.velocity > 0.0)) return QStringLiteral("Velocity should be positive!");
    if (!(f.overlap >= 0.0 && f.overlap <= 100.0)) return QStringLiteral("Overlap should be between 0 - 100%.");
    // Equal heights pass.
    if (!(f.meanHeight >= maxSceneHeight))
        return QStringLiteral("Flying height is lower than the highest point of terrain model!");
    return QString();
}

QString validate_scanner_values(const ScannerParameters& s) {
    if (!(s.prf >= 0.0)) return QStringLiteral("PRF should be greater than 0.");
    if (!(s.scanFrequency >= 0.0)) return QStringLiteral("Scanning Frequency should be greater than 0.");
    if (!(s.fovAcross >= 0.0 && s.fovAcross <= 180.0)) return QStringLiteral("FOV should be between 0 - 180 degrees.");
    if (s.pattern == Elliptical && !(s.fovAlong >= 0.0 && s.fovAlong <= 180.0))
        return QStringLiteral("FOV should be between 0 - 180 degrees.");
    return QString();
}

double suggested_flying_height(double maxZ) {
    if (!(maxZ > 0.0) || !std::isfinite(maxZ)) return 100.0;
    const double height = std::pow(10.0, std::trunc(std::log10(maxZ)) + 1.0);
    // Beyond the largest power of ten a double holds, the top itself passes.
    return std::isfinite(height) ? height : maxZ;
}

double suggested_velocity(double velocityHint) {
    if (!(velocityHint > 0.0) || !std::isfinite(velocityHint)) return 100.0;
    return std::pow(10.0, std::trunc(std::log10(velocityHint)));
}

double expected_point_density(const SimulationData& data, double expectedHits) {
    return expectedHits / ((data.maxX - data.minX) * (data.maxY - data.minY));
}
