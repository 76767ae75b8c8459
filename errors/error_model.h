#pragma once
#include "flight/laser_line.h"

#include <cstddef>
#include <vector>

// Perturbation of the laser records by the error dialog's settings. The
// records are changed in place and the changes accumulate over calls.

// A normal deviate by the polar method, drawing two values at a time from
// uniform_source() and caching the second deviate for the next call. The
// cache is process-wide: it carries over between error introductions.
double normal_deviate(double mean, double sigma);
// Forgets the cached deviate (tests).
void reset_normal_deviate();

// The error dialog's settings as one step over runs of laser records. A
// survey may be perturbed in one call or run by run in survey order: the
// deviates are drawn on the calling thread, laser by laser in the order
// the whole-list functions below draw them, and applied on `threads`
// threads (0: one per hardware thread), so the records are the same for
// any split and any thread count. (With random and overall error both on,
// the whole-list order draws all random deviates first; only a single run
// reproduces it.)
class ErrorStep {
public:
    ErrorStep(const std::vector<double>* systematic, const std::vector<double>* random,
              const std::vector<double>* overall, unsigned threads);
    bool active() const { return systematic_ || random_ || overall_; }
    void apply(LaserLine* lasers, std::size_t count);

private:
    const std::vector<double>* systematic_;
    const std::vector<double>* random_;
    const std::vector<double>* overall_;
    unsigned threads_;
    std::vector<double> deviates_;
};

// values: X, Y, Z (metres), Roll, Pitch, Yaw (degrees), Range (metres).
void apply_systematic_error(std::vector<LaserLine>& lasers, const std::vector<double>& values);
// sigmas: standard deviations of X, Y, Z, Roll, Pitch, Yaw, Range.
void apply_random_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas);
// sigmas: standard deviations of x, y, z added to every hitPoint.
void apply_overall_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas);
