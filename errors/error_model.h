#pragma once
#include "flight/laser_line.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Perturbation of the laser records by the error dialog's settings. The
// records are changed in place and the changes accumulate over calls.

// A normal deviate by the polar method, drawing two values at a time from
// uniform_source() and caching the second deviate for the next call. The
// cache is process-wide: it carries over between error introductions.
double normal_deviate(double mean, double sigma);
// Forgets the cached deviate (tests).
void reset_normal_deviate();

// Where the normal deviates stand: the state of the default uniform
// generator and the cached second deviate. A survey split over processes
// hands it to each piece so every piece draws what the one-process run
// draws at its first laser.
struct NormalDeviateState {
    std::uint32_t uniform = 1;
    bool cached = false;
    double deviate = 0.0;
    bool operator==(const NormalDeviateState& o) const {
        return uniform == o.uniform && cached == o.cached && (!cached || deviate == o.deviate);
    }
};
// The process-wide state. Throws std::logic_error when another uniform
// source than the default generator is installed.
NormalDeviateState normal_deviate_state();
void restore_normal_deviate_state(const NormalDeviateState& state);
// The state after `count` more calls of normal_deviate from `from`,
// without the deviates: only the polar method's rejection loop is replayed
// (two uniform draws and a comparison per try); the logarithm and square
// root are taken once, for a second deviate left in the cache. The pairs
// the method accepts are looked up in a table made on first use.
NormalDeviateState skip_normal_deviates(NormalDeviateState from, std::uint64_t count);
// The polar method's verdict on the draws r1, r2 (0..32767) as the bulk
// draws look it up; the same as normal_deviate's for every pair.
bool polar_pair_accepted(int r1, int r2);
// Deviates one laser draws in the error step with these settings (7 for
// random error, 3 for overall error, none for systematic error only).
std::uint64_t deviates_per_laser(bool random, bool overall);

// The error dialog's settings as one step over runs of laser records. A
// survey may be perturbed in one call or run by run in survey order: the
// deviates are drawn one thread at a time, laser by laser in the order
// the whole-list functions below draw them, and applied on `threads`
// threads (0: one per hardware thread), so the records are the same for
// any split and any thread count. With the default generator only the
// draws themselves (generator steps and the polar method's verdicts) are
// made in turn, block by block (with several threads, a block's draws on a
// thread of their own while the block before is applied; apply returns
// with none pending); the deviates are worked out from the drawn pairs
// where they are applied. (With random and overall error both on,
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
    std::vector<std::uint32_t> pairs_;  // the accepted polar pairs of a block
    std::vector<std::uint32_t> pairsAhead_;  // and of the next one, drawn meanwhile
};

// values: X, Y, Z (metres), Roll, Pitch, Yaw (degrees), Range (metres).
void apply_systematic_error(std::vector<LaserLine>& lasers, const std::vector<double>& values);
// sigmas: standard deviations of X, Y, Z, Roll, Pitch, Yaw, Range.
void apply_random_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas);
// sigmas: standard deviations of x, y, z added to every hitPoint.
void apply_overall_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas);
