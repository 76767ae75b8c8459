#pragma once
#include <cstdint>
#include <vector>

// The values of the first wizard page.
struct FlightParameters {
    double orientation = 0.0;  // degrees, counter-clockwise from the x axis, 0..180
    double velocity = 100.0;   // m/s
    double overlap = 50.0;     // percent of half the swath
    double meanHeight = 500.0; // m, the z of every pulse origin
    // The ground the line spacing is worked out above: the wizard plans
    // above z = 0; a plan above the highest ground keeps the overlap there.
    double spacingGround = 0.0; // m
};

enum ScanPattern : std::int32_t {
    ZigZagLines = 0,
    ParallelLines = 1,
    Spherical = 2,
    Elliptical = 3,
};

// The values of the second wizard page.
struct ScannerParameters {
    double prf = 10000.0;        // Hz (the page holds kHz)
    double scanFrequency = 25.0; // scanner cycles per second
    double fovAcross = 60.0;     // degrees, full angle across the flight
    double fovAlong = 0.0;       // degrees, full angle along the flight (Elliptical)
    ScanPattern pattern = ZigZagLines;
};

// Six sets of four terms (A, B, C, D): x, y, z, roll, pitch, yaw.
using TrajectoryTerms = std::vector<std::vector<double>>;

// Everything the three wizard pages hand to laser generation.
struct WizardValues {
    FlightParameters flight;
    ScannerParameters scanner;
    bool realisticTrajectory = false;
    TrajectoryTerms trajectoryTerms;
};
