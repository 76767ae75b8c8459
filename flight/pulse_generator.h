#pragma once
#include "flight/flight_lines.h"
#include "flight/laser_line.h"
#include "flight/parameters.h"
#include "flight/realistic_trajectory.h"
#include "terrain/mesh.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class SimulationData;

// The two passes of laser generation as plans that lay any run of
// consecutive pulses on demand, so a survey can be generated a piece at a
// time (or from any pulse on) with exactly the records the whole-survey
// passes give. A cursor holds the state at a pulse: which line, and the
// times and phase that the passes accumulate by repeated addition. A cursor
// can be moved on without laying records (skip), which replays only the
// additions.

// Origin pass: the flight lines and the pulses on each.
class OriginPlan {
public:
    OriginPlan(double prf, double velocity, double halfFovAcross, double overlap, double meanHeight,
               double orientation, const ModelLimits& limits, bool realistic, const TrajectoryTerms& terms,
               std::uint32_t seed, double spacingGround = 0.0);

    // False when no flight line is laid at all (no line, no progress).
    bool laid() const { return lineCount_ >= 0; }
    int lines() const { return static_cast<int>(lines_.size()); }
    // The origin pass's progress maximum: 1 for a single line, else N.
    double progressMaximum() const { return single_ ? 1.0 : static_cast<double>(lineCount_); }

    // The quick size of the run, line by line duration / dt + 2, summed
    // until it passes `stopAbove` (the sum so far is returned then).
    double estimate(double stopAbove) const;
    // Throws InputError ("Too many lasers: ...") when the run's records
    // could not fit in this machine's memory.
    void refuse_beyond_memory() const;

    // Counts the pulses of every line exactly (one addition per pulse) and
    // re-signs the position terms of a realistic run when it has pulses,
    // drawing from the process-wide source as the pass does. Call once,
    // before generating.
    void count();
    std::uint64_t pulses() const { return total_; }
    // Index of the first pulse of line i (0-based flight order).
    std::uint64_t lineStart(int i) const { return lines_[static_cast<std::size_t>(i)].first; }
    std::uint64_t linePulses(int i) const { return lines_[static_cast<std::size_t>(i)].count; }

    struct Cursor {
        std::size_t line = 0;      // line of the next pulse
        std::uint64_t inLine = 0;  // its index on that line
        double t = 0.0;            // its time on that line
    };
    // Sets the origins of the next `count` pulses (out[0..count)) and moves
    // the cursor on. The other fields of the records are left alone.
    void origins(Cursor& cursor, std::size_t count, LaserLine* out) const;
    void skip(Cursor& cursor, std::uint64_t count) const;

private:
    struct Line {
        Vec3 start, velocity;
        double duration = 0.0;  // 0: no pulse
        std::uint64_t first = 0, count = 0;
    };
    std::vector<Line> lines_;
    int lineCount_ = -1;
    bool single_ = false;
    double dt_ = 0.0;
    bool pulsing_ = false;
    bool realistic_ = false;
    const TrajectoryTerms* terms_;
    std::uint32_t seed_;
    TermSetTriple position_;  // signed x, y, z terms
    std::uint64_t total_ = 0;
};

// Direction pass: the scanner pattern and the attitude of every pulse.
class DirectionPlan {
public:
    // `pulses` is the number of pulses the run will have: a realistic run
    // with pulses re-signs its attitude terms here, drawing from the
    // process-wide source as the pass does.
    DirectionPlan(double prf, double halfFovAcross, double orientation, ScanPattern pattern, double scanFrequency,
                  double halfFovAlong, bool realistic, const TrajectoryTerms& terms, std::uint32_t seed,
                  std::uint64_t pulses);

    struct Cursor {
        double t = 0.0;    // runs on over all lines
        double phi = 0.0;  // sweep angle of the parallel-lines pattern
    };
    // Sets direction and attitude of out[0..count) and moves the cursor on.
    void directions(Cursor& cursor, std::size_t count, LaserLine* out) const;
    void skip(Cursor& cursor, std::uint64_t count) const;

private:
    double theta_, a_, b_, w_, dt_, dphi_;
    bool parallel_;
    // Additions of dphi from -theta until the sweep jumps back to -theta:
    // the sweep angle repeats with this period after its first jump. 0 when
    // unknown (a sweep too long to time once).
    std::uint64_t sweep_ = 0;
    // One period of the sweep from its jump back (angle, sine, cosine of
    // each pulse), when it is short enough to table; empty otherwise.
    std::vector<double> sweepPhi_, sweepSin_, sweepCos_;
    // Index in that period of an angle the sweep reaches after a jump
    // back, or -1.
    std::ptrdiff_t sweepIndex(double phi) const;
    bool realistic_;
    double orientation_;
    AttitudeTrig fixedTrig_;
    double fixedYaw_;
    TermSetTriple attitude_;  // signed roll, pitch, yaw terms
};

// Both passes over the wizard values stored in a SimulationData: the whole
// survey as a source of runs of finished laser records.
class PulseGenerator {
public:
    // Plans the lines from data's flight and scanner values and limits.
    // Nothing is counted or drawn yet.
    PulseGenerator(const SimulationData& data, std::uint32_t seed);

    const OriginPlan& origins() const { return origins_; }
    // Counts the pulses and draws the trajectory signs (see OriginPlan::count).
    void count();
    std::uint64_t pulses() const { return origins_.pulses(); }

    struct Cursor {
        std::uint64_t pulse = 0;  // survey index of the next pulse
        OriginPlan::Cursor origin;
        DirectionPlan::Cursor direction;
    };
    // The next `count` records, as the two passes lay them.
    void generate(Cursor& cursor, std::size_t count, LaserLine* out) const;
    void skip(Cursor& cursor, std::uint64_t count) const;
    // Survey index just past the last pulse of the cursor's line.
    std::uint64_t lineEnd(const Cursor& cursor) const;

private:
    OriginPlan origins_;
    const SimulationData& data_;
    std::uint32_t seed_;
    std::vector<DirectionPlan> directions_;  // one once counted
};

// Lasers whose ray meets the plane z = minZ inside the model's xy limits.
std::uint64_t count_expected_hits(const LaserLine* lasers, std::size_t count, const ModelLimits& limits);
