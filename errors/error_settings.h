#pragma once
#include <vector>

// The error dialog's choices at its last Done.
struct ErrorSettings {
    bool systematicOn = false;
    bool randomOn = false;
    bool overallOn = false;
    std::vector<double> systematic;  // X, Y, Z, Roll, Pitch, Yaw, Range (7 when on)
    std::vector<double> random;      // standard deviations of the same seven (7 when on)
    std::vector<double> overall;     // standard deviations of X, Y, Z (3 when on)
};
