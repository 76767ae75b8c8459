#pragma once
// The program converts angles with pi written to five decimals, not the
// full-precision constant. Results (flight lines, scan angles, the
// calculator) depend on it, so keep these exact values.

constexpr double kPi = 3.14159;
constexpr double kFullTurn = 6.28318;  // the scanner's full turn, not 2 * kPi

inline double deg_to_rad(double degrees) { return degrees * kPi / 180.0; }
