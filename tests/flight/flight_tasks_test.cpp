// Laser generation as one task: working data, log text, progress; and the
// wizard's value checks and suggestions.
#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "flight/flight_tasks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

class RecordingProgress final : public Progress {
public:
    std::vector<std::string> calls;
    void setRange(int minimum, int maximum) override {
        calls.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void setValue(int value) override { calls.push_back("value " + std::to_string(value)); }
    void showStatus(const QString& message) override { calls.push_back("status " + message.toStdString()); }
};

void set_model(SimulationData& data) {
    data.setLimits(ModelLimits{0.0, 0.0, 0.0, 100.0, 100.0, 10.0});
}

// One line at y = 50 from x = 131.25 to -25 (W / S = 0.36), 100 m/s, 10
// pulses a second: t = 0, 0.1, ..., 1.5, so 16 lasers. The scanner stands
// still (0 Hz), so every pulse points down; those at x 91.25 .. 1.25 (t =
// 0.4 .. 1.3) land inside the model: 10 expected intersections.
WizardValues small_run() {
    WizardValues v;
    v.flight = FlightParameters{0.0, 100.0, 50.0, 500.0};
    v.scanner.prf = 10.0;
    v.scanner.scanFrequency = 0.0;
    v.scanner.fovAcross = 60.0;
    v.scanner.fovAlong = 0.0;
    v.scanner.pattern = ZigZagLines;
    return v;
}

const std::string kRule(72, '_');

}  // namespace

TEST(GenerateLasersTask, LogTextOfOneRun) {
    SimulationData data;
    set_model(data);
    data.points.resize(3);
    data.trajectoryTerms = {{1, 2, 3, 4}};
    data.realisticTrajectory = true;
    RecordingProgress progress;
    generate_lasers_task(data, small_run(), 1u, progress);

    const std::string expected =
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
        "Realistic Trajectory =  No\n"
        "\n"
        "Flight Trajectory/Lasers origin Computed\n"
        "Lasers Direction Computed\n"
        "Total no. of Lasers = 16\n"
        "\n"
        "Expected Intersections = 10\n"
        "Expected Point density = 0.001 per Sq m\n"
        "\n" +
        kRule + "\nNow, you can generate LiDAR data under 'LiDAR data simulation'.\n" + kRule + "\n\n";
    EXPECT_EQ(data.logText.toStdString(), expected);
    EXPECT_TRUE(data.pendingMessage.isEmpty());
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_EQ(data.lasers().size(), 16u);
    EXPECT_TRUE(data.points.empty());
    EXPECT_TRUE(data.trajectoryTerms.empty());
    EXPECT_FALSE(data.realisticTrajectory);
    EXPECT_EQ(data.flight.meanHeight, 500.0);
    EXPECT_EQ(data.scanner.prf, 10.0);
    const std::vector<std::string> calls{
        "value 0", "value 0", "range 0 1", "value 1",
        "status         Flight trajectory and scanner movement simulated. Task completed.."};
    EXPECT_EQ(progress.calls, calls);
}

TEST(GenerateLasersTask, ParameterBlockFormatsAndNames) {
    const char* names[] = {"Zig Zag Lines", "Parallel Lines", "Spherical", "Elliptical", ""};
    for (int p = 0; p < 5; ++p) {
        SimulationData data;
        set_model(data);
        WizardValues v = small_run();
        v.flight.velocity = 1234567.0;  // 'g', 6
        v.flight.overlap = 12.3456789;
        v.scanner.fovAcross = 0.0;  // no line: nothing to lay
        v.scanner.fovAlong = 1e-7;
        v.scanner.pattern = static_cast<ScanPattern>(p);
        v.realisticTrajectory = true;
        v.trajectoryTerms = TrajectoryTerms(6, std::vector<double>(4, 0.0));
        NullProgress progress;
        generate_lasers_task(data, v, 1u, progress);
        const QString log = data.logText;
        EXPECT_TRUE(log.contains("Flight Speed = 1.23457e+06 m/s\n"));
        EXPECT_TRUE(log.contains("Swath Overlap = 12.3457 %\n"));
        EXPECT_TRUE(log.contains("Field of View along = 1e-07 degree\n"));
        EXPECT_TRUE(log.contains(QString("Scanner Movement =  %1\n").arg(names[p]))) << p;
        EXPECT_TRUE(log.contains("Realistic Trajectory =  Yes\n"));
        EXPECT_TRUE(log.contains("Total no. of Lasers = 0\n"));
        EXPECT_TRUE(log.contains("Expected Intersections = 0\nExpected Point density = 0.000 per Sq m\n"));
        EXPECT_TRUE(data.realisticTrajectory);
        EXPECT_EQ(data.trajectoryTerms.size(), 6u);
    }
}

TEST(GenerateLasersTask, ModelWithoutAreaReportsZeroDensity) {
    SimulationData data;
    data.setLimits(ModelLimits{5.0, 0.0, 0.0, 5.0, 100.0, 10.0});
    NullProgress progress;
    generate_lasers_task(data, small_run(), 1u, progress);
    EXPECT_TRUE(data.logText.contains("Expected Point density = 0.000 per Sq m\n"));
}

TEST(GenerateLasersTask, RunTooLargeForMemoryIsRefusedUncounted) {
    SimulationData data;
    set_model(data);
    WizardValues v = small_run();
    v.scanner.prf = 1e300;
    NullProgress progress;
    EXPECT_THROW(generate_lasers_task(data, v, 1u, progress), InputError);
    EXPECT_TRUE(data.lasers().empty());
    EXPECT_EQ(data.taskCount, 0u);
}

TEST(FlightValues, ChecksInOrder) {
    const double top = 345.0;
    FlightParameters f{0.0, 100.0, 30.0, 345.0};
    EXPECT_EQ(validate_flight_values(f, top), QString());  // equal height passes
    f.meanHeight = 344.999;
    EXPECT_EQ(validate_flight_values(f, top), "Flying height is lower than the highest point of terrain model!");
    f.overlap = 100.5;
    EXPECT_EQ(validate_flight_values(f, top), "Overlap should be between 0 - 100%.");
    f.velocity = 0.0;
    EXPECT_EQ(validate_flight_values(f, top), "Velocity should be positive!");
    f.orientation = 180.01;
    EXPECT_EQ(validate_flight_values(f, top), "Flight Orientation should be between 0 - 180 degrees!");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(validate_flight_values(FlightParameters{nan, 100.0, 30.0, 500.0}, top).isEmpty());
    EXPECT_FALSE(validate_flight_values(FlightParameters{0.0, nan, 30.0, 500.0}, top).isEmpty());
    EXPECT_FALSE(validate_flight_values(FlightParameters{0.0, 100.0, -0.1, 500.0}, top).isEmpty());
    EXPECT_FALSE(validate_flight_values(FlightParameters{0.0, 100.0, 30.0, nan}, top).isEmpty());
    EXPECT_TRUE(validate_flight_values(FlightParameters{180.0, 1e-9, 100.0, 500.0}, top).isEmpty());
}

TEST(ScannerValues, ChecksInOrder) {
    ScannerParameters s;
    s.prf = 0.0;  // zero rate and frequency are accepted
    s.scanFrequency = 0.0;
    s.fovAlong = 500.0;  // not looked at unless Elliptical
    EXPECT_EQ(validate_scanner_values(s), QString());
    s.pattern = Elliptical;
    EXPECT_EQ(validate_scanner_values(s), "FOV should be between 0 - 180 degrees.");
    s.fovAcross = -1.0;
    EXPECT_EQ(validate_scanner_values(s), "FOV should be between 0 - 180 degrees.");
    s.scanFrequency = -1.0;
    EXPECT_EQ(validate_scanner_values(s), "Scanning Frequency should be greater than 0.");
    s.prf = -1.0;
    EXPECT_EQ(validate_scanner_values(s), "PRF should be greater than 0.");
    ScannerParameters ok;
    ok.fovAcross = 180.0;
    EXPECT_EQ(validate_scanner_values(ok), QString());
}

TEST(Suggestions, PowersOfTenWithFallbacks) {
    EXPECT_EQ(suggested_flying_height(345.0), 1000.0);
    EXPECT_EQ(suggested_flying_height(1000.0), 10000.0);
    EXPECT_EQ(suggested_flying_height(0.5), 10.0);  // trunc(-0.3) = 0
    EXPECT_EQ(suggested_flying_height(0.0), 100.0);
    EXPECT_EQ(suggested_flying_height(-20.0), 100.0);
    EXPECT_EQ(suggested_flying_height(std::numeric_limits<double>::quiet_NaN()), 100.0);
    const double huge = 1.5e308;  // no power of ten above it: the top itself
    EXPECT_EQ(suggested_flying_height(huge), huge);

    EXPECT_EQ(suggested_velocity(2000.0 / 5.0), 100.0);
    EXPECT_EQ(suggested_velocity(1000.0), 1000.0);
    EXPECT_EQ(suggested_velocity(0.5), 1.0);
    EXPECT_EQ(suggested_velocity(0.0), 100.0);
    EXPECT_EQ(suggested_velocity(-3.0), 100.0);
    EXPECT_EQ(suggested_velocity(std::numeric_limits<double>::infinity()), 100.0);
}
