#pragma once
#include "app/vec3.h"
#include "flight/parameters.h"
#include "survey/pulse_chunk.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class SimulationData;

// Works out the PulseInfo of every pulse of a run (emission time, flight
// line, scan direction and sweep-edge flags) from the wizard values and the
// flight lines' first pulses, without looking at the laser records, so a
// streamed run can ask for them chunk by chunk.
//
// - time: the direction pass's run time, t = 0 for the first pulse of the
//   run and t + dt (dt = 1 / prf, added again and again) for each pulse
//   after it, over all lines; the value is bit for bit the one the scanner
//   pattern used.
// - line: 1-based flight line in flight order, from the lines' first pulses.
// - kScanForward: the sweep moves towards positive scan angles, that is to
//   the right of the aircraft's track (see flight_line_heading). Zig-zag,
//   spherical and elliptical patterns sweep across as -tan(half fov) *
//   sin(w t), so the sense is the sign of the derivative -cos(w t) (times
//   the signs of the amplitude and w); the parallel pattern's saw-tooth
//   always moves the way its step goes.
// - kSweepEdge: the last pulse before the sweep turns (for the saw-tooth:
//   the pulse before the jump back), as the LAS edge-of-flight-line flag
//   wants it. The last pulse of the run has no turn after it.
//
// fill() continues from the pulse after the last one filled at no extra
// cost; any other first pulse is reached by replaying the additions from
// the nearest earlier state (from the start when going back).
class PulseTiming {
public:
    PulseTiming(const ScannerParameters& scanner, const FlightParameters& flight,
                std::vector<std::size_t> lineStarts, std::uint64_t pulseCount);
    // The wizard values, flight lines and laser count of `data`.
    explicit PulseTiming(const SimulationData& data);

    // Writes infos for pulses [first, first + count) into out[0..count).
    void fill(std::uint64_t first, std::size_t count, PulseInfo* out);

    // 1-based flight line of pulse `index` (1 when the run has no lines).
    std::uint32_t line_of(std::uint64_t index) const;
    std::uint64_t pulse_count() const { return pulseCount_; }
    std::size_t line_count() const { return lineStarts_.size(); }

private:
    void restart();
    void advance();  // state_ moves from pulse next_ to pulse next_ + 1
    bool sweep_forward_at(double t) const;
    bool next_is_turn() const;

    // Scanner
    double dt_ = 0.0;
    double w_ = 0.0;
    double amplitude_ = 0.0;  // tan(half fov across), signed
    double theta_ = 0.0;      // half fov across in radians (saw-tooth)
    double dphi_ = 0.0;
    bool parallel_ = false;
    double orientation_ = 0.0;

    // Lines
    std::vector<std::size_t> lineStarts_;
    std::vector<std::uint8_t> bodyYToRight_;  // per line: the body's +y axis points right of the track
    std::uint64_t pulseCount_ = 0;

    // Cursor: the state of pulse next_
    std::uint64_t next_ = 0;
    double t_ = 0.0;
    double phi_ = 0.0;
    std::size_t line_ = 0;  // 0-based line of pulse next_
    bool forward_ = false;      // the scanner's sweep moves towards its +y axis at pulse next_
    bool forwardNext_ = false;  // ... and at pulse next_ + 1
};

// Horizontal unit vector of the direction the aircraft flies on flight line
// `lineIndex` (0-based, flight order): lines alternate, the first one flying
// west on a horizontal plan, north on a vertical one and from the higher end
// to the lower one on an oblique one.
Vec3 flight_line_heading(double orientation, std::size_t lineIndex);

// The signed scan angle of a pulse direction in degrees, as seen from the
// aircraft on a track `heading`: 0 straight down, positive to the right of
// the track (counter-clockwise seen from behind, as LAS 1.4 counts it).
// The roll and pitch of the pulse are in its direction already.
double scan_angle_degrees(const Vec3& direction, const Vec3& heading);
