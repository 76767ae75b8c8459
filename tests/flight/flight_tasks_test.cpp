// Laser generation as one task (working data, log text, progress), and the
// wizard's value checks and suggestions.
#include "app/failure.h"
#include "app/simulation_data.h"
#include "flight/flight_tasks.h"
#include "support/recording_progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

// One line at y = 50 from x = 131.25 to -25 (W / S = 0.36), 100 m/s, 10
// pulses a second: t = 0, 0.1, ..., 1.5, so 16 lasers. The scanner stands
// still (0 Hz), so every pulse points down; those at x 91.25 .. 1.25 (t =
// 0.4 .. 1.3) land inside the model: 10 expected intersections.
const WizardValues kSmallRun{FlightParameters{0.0, 100.0, 50.0, 500.0},
                             ScannerParameters{10.0, 0.0, 60.0, 0.0, ZigZagLines}, false, {}};
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST(GenerateLasersTask, LogTextProgressAndWorkingDataOfOneRun) {
    SimulationData data;
    data.setLimits(ModelLimits{0.0, 0.0, 0.0, 100.0, 100.0, 10.0});
    data.points.resize(3);
    data.realisticTrajectory = true;
    RecordingProgress progress;
    generate_lasers_task(data, kSmallRun, 1u, progress);

    const std::string rule(72, '_');
    EXPECT_EQ(data.logText.toStdString(),
              "Flight Trajectory and Scanner Movement Details:\n"
              "Flight Speed = 100 m/s\n"
              "Flight Direction w.r.t. x - axis = 0 degree\n"
              "Mean flying height = 500 m\n"
              "Swath Overlap = 50 %\n"
              "Pulse Repetition Frequency = 10 Hz\n"
              "Scanner Movement =  Zig Zag Lines\n"
              "Field of View across =  60 degree\n"
              "Field of View along = 0 degree\n"
              "Scanning frequency = 0 Hz\n"
              "Realistic Trajectory =  No\n\n"
              "Flight Trajectory/Lasers origin Computed\n"
              "Lasers Direction Computed\n"
              "Total no. of Lasers = 16\n\n"
              "Expected Intersections = 10\n"
              "Expected Point density = 0.001 per Sq m\n\n" +
                  rule + "\nNow, you can generate LiDAR data under 'LiDAR data simulation'.\n" + rule + "\n\n");
    EXPECT_EQ(progress.sequence,
              (std::vector<std::string>{"value 0", "value 0", "range 0 1", "value 1",
                                        "status         Flight trajectory and scanner movement simulated. Task completed.."}));
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_EQ(data.lasers().size(), 16u);
    EXPECT_TRUE(data.points.empty());  // the old points and switch are gone
    EXPECT_FALSE(data.realisticTrajectory);

    // Too many pulses for memory: refused, nothing counted.
    WizardValues flood = kSmallRun;
    flood.scanner.prf = 1e300;
    EXPECT_THROW(generate_lasers_task(data, flood, 1u, progress), InputError);
    EXPECT_EQ(data.taskCount, 1u);

    // A model without extent in x: the density is the plain quotient.
    SimulationData wall;
    wall.setLimits(ModelLimits{50.0, 0.0, 0.0, 50.0, 100.0, 10.0});
    WizardValues alongWall = kSmallRun;
    alongWall.flight.orientation = 90.0;
    generate_lasers_task(wall, alongWall, 1u, progress);
    EXPECT_TRUE(wall.logText.contains("Expected Intersections = 10\nExpected Point density = inf per Sq m\n"));
}

TEST(WizardChecks, FlightAndScannerValuesInOrder) {
    const QString ok, fov = "FOV should be between 0 - 180 degrees.";
    const std::pair<FlightParameters, QString> flight[] = {
        {{0.0, 100.0, 30.0, 345.0}, ok},  // equal to the highest point passes
        {{180.0, 1e-9, 100.0, 500.0}, ok},
        {{0.0, 100.0, 30.0, 344.999}, "Flying height is lower than the highest point of terrain model!"},
        {{0.0, 100.0, 100.5, 344.999}, "Overlap should be between 0 - 100%."},
        {{0.0, 100.0, -0.1, 500.0}, "Overlap should be between 0 - 100%."},
        {{0.0, 0.0, 100.5, 344.999}, "Velocity should be positive!"},
        {{0.0, kNan, 30.0, 500.0}, "Velocity should be positive!"},
        {{180.01, 0.0, 100.5, 344.999}, "Flight Orientation should be between 0 - 180 degrees!"},
        {{kNan, 100.0, 30.0, 500.0}, "Flight Orientation should be between 0 - 180 degrees!"},
    };
    for (const auto& c : flight) EXPECT_EQ(validate_flight_values(c.first, 345.0).toStdString(), c.second.toStdString());
    // prf, scan frequency, fov across, fov along (looked at only for an ellipse), pattern.
    const std::pair<ScannerParameters, QString> scanner[] = {
        {{0.0, 0.0, 180.0, 500.0, Spherical}, ok},  // zero rate and frequency are accepted
        {{0.0, 0.0, 60.0, 500.0, Elliptical}, fov},
        {{0.0, 0.0, -1.0, 0.0, ZigZagLines}, fov},
        {{0.0, -1.0, -1.0, 0.0, ZigZagLines}, "Scanning Frequency should be greater than 0."},
        {{-1.0, -1.0, -1.0, 0.0, ZigZagLines}, "PRF should be greater than 0."},
    };
    for (const auto& c : scanner) EXPECT_EQ(validate_scanner_values(c.first).toStdString(), c.second.toStdString());
}

TEST(WizardChecks, SuggestionsArePowersOfTenWithFallbacks) {
    const double huge = 1.5e308;  // no power of ten above it: the top itself
    const double heights[][2] = {{345, 1000}, {1000, 10000}, {0.5, 10}, {0, 100}, {-20, 100}, {kNan, 100}, {huge, huge}};
    for (const auto& h : heights) EXPECT_EQ(suggested_flying_height(h[0]), h[1]) << h[0];
    const double velocities[][2] = {{400, 100}, {1000, 1000}, {0.5, 1}, {0, 100}, {-3, 100}, {HUGE_VAL, 100}};
    for (const auto& v : velocities) EXPECT_EQ(suggested_velocity(v[0]), v[1]) << v[0];
}
