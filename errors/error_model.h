#pragma once
#include "flight/laser_line.h"

#include <vector>

// Perturbation of the laser records by the error dialog's settings. The
// records are changed in place and the changes accumulate over calls.

// A normal deviate by the polar method, drawing two values at a time from
// uniform_source() and caching the second deviate for the next call. The
// cache is process-wide: it carries over between error introductions.
double normal_deviate(double mean, double sigma);
// Forgets the cached deviate (tests).
void reset_normal_deviate();

// values: X, Y, Z (metres), Roll, Pitch, Yaw (degrees), Range (metres).
void apply_systematic_error(std::vector<LaserLine>& lasers, const std::vector<double>& values);
// sigmas: standard deviations of X, Y, Z, Roll, Pitch, Yaw, Range.
void apply_random_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas);
// sigmas: standard deviations of x, y, z added to every hitPoint.
void apply_overall_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas);
