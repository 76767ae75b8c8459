#include "survey/pulse_timing.h"

#include "app/angles.h"
#include "app/simulation_data.h"
#include "flight/flight_lines.h"
#include "flight/laser_line.h"

#include <algorithm>
#include <cmath>
#include <utility>

Vec3 flight_line_heading(double orientation, std::size_t lineIndex) {
    Vec3 h;
    if (is_horizontal(orientation)) {
        h = Vec3{-1.0, 0.0, 0.0};  // the first line flies from the east end to the west end
    } else if (is_vertical(orientation)) {
        h = Vec3{0.0, 1.0, 0.0};  // south to north
    } else {
        const double r = deg_to_rad(orientation);
        h = Vec3{std::cos(r), std::sin(r), 0.0};
        if (h.y > 0.0) h = Vec3{-h.x, -h.y, 0.0};  // from the higher end down
    }
    if (lineIndex % 2 == 1) h = Vec3{-h.x, -h.y, 0.0};
    return h;
}

double scan_angle_degrees(const Vec3& d, const Vec3& heading) {
    // Right of the track: heading x up.
    const double rightX = heading.y;
    const double rightY = -heading.x;
    const double across = d.x * rightX + d.y * rightY;
    return std::atan2(across, -d.z) * (180.0 / 3.14159265358979323846);
}

PulseTiming::PulseTiming(const ScannerParameters& scanner, const FlightParameters& flight,
                         std::vector<std::size_t> lineStarts, std::uint64_t pulseCount)
    : lineStarts_(std::move(lineStarts)), pulseCount_(pulseCount) {
    // The same quantities, computed the same way, as the direction pass.
    const double halfFovAcross = scanner.fovAcross * 0.5;
    theta_ = deg_to_rad(halfFovAcross);
    amplitude_ = std::tan(theta_);
    parallel_ = scanner.pattern == ParallelLines;
    w_ = parallel_ ? 4.0 * theta_ * scanner.scanFrequency : scanner.scanFrequency * kFullTurn;
    dt_ = 1.0 / scanner.prf;
    dphi_ = w_ / scanner.prf;
    orientation_ = flight.orientation;

    // The scanner's +y axis is turned by the fixed yaw -orientation; whether
    // it points right or left of the track depends on the line's sense.
    const Vec3 bodyY = rotate_vector(Vec3{0.0, 1.0, 0.0}, attitude_trig(0.0, 0.0, -orientation_));
    bodyYToRight_.resize(std::max<std::size_t>(lineStarts_.size(), 1));
    for (std::size_t i = 0; i < bodyYToRight_.size(); ++i) {
        const Vec3 h = flight_line_heading(orientation_, i);
        bodyYToRight_[i] = (bodyY.x * h.y - bodyY.y * h.x) > 0.0 ? 1 : 0;
    }
    restart();
}

PulseTiming::PulseTiming(const SimulationData& data)
    : PulseTiming(data.scanner, data.flight, data.laserlines.lineStarts, data.lasers().size()) {}

std::uint32_t PulseTiming::line_of(std::uint64_t index) const {
    if (lineStarts_.empty()) return 1;
    // The last line starting at or before the pulse (an empty line starts
    // where the next one does, so it is never the answer).
    const auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), index,
                                     [](std::uint64_t v, std::size_t s) { return v < s; });
    const std::size_t i = it == lineStarts_.begin() ? 0 : static_cast<std::size_t>(it - lineStarts_.begin()) - 1;
    return static_cast<std::uint32_t>(i + 1);
}

bool PulseTiming::sweep_forward_at(double t) const {
    if (parallel_) return dphi_ > 0.0;
    // d/dt of -a sin(w t) is -a w cos(w t).
    return -amplitude_ * w_ * std::cos(w_ * t) > 0.0;
}

void PulseTiming::restart() {
    next_ = 0;
    t_ = 0.0;
    phi_ = 0.0 + dphi_;
    if (!(phi_ < theta_)) phi_ = -theta_;
    line_ = line_of(0) - 1;
    forward_ = sweep_forward_at(t_);
    forwardNext_ = sweep_forward_at(t_ + dt_);
}

void PulseTiming::advance() {
    t_ = t_ + dt_;
    if (parallel_) {
        phi_ = phi_ + dphi_;
        if (!(phi_ < theta_)) phi_ = -theta_;
    } else {
        forward_ = forwardNext_;
        forwardNext_ = sweep_forward_at(t_ + dt_);
    }
    ++next_;
    while (line_ + 1 < lineStarts_.size() && lineStarts_[line_ + 1] <= next_) ++line_;
}

bool PulseTiming::next_is_turn() const {
    if (next_ + 1 >= pulseCount_) return false;
    if (parallel_) return !(phi_ + dphi_ < theta_);
    return forward_ != forwardNext_;
}

void PulseTiming::fill(std::uint64_t first, std::size_t count, PulseInfo* out) {
    if (first < next_) restart();
    while (next_ < first) advance();
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) advance();
        PulseInfo& info = out[i];
        info.time = t_;
        info.line = static_cast<std::uint32_t>(lineStarts_.empty() ? 1 : line_ + 1);
        const bool toRight = bodyYToRight_[std::min(line_, bodyYToRight_.size() - 1)] != 0;
        std::uint8_t flags = 0;
        if (forward_ == toRight) flags |= PulseInfo::kScanForward;
        if (next_is_turn()) flags |= PulseInfo::kSweepEdge;
        info.flags = flags;
    }
    // Leave the cursor on the pulse after the chunk, ready for the next one.
    if (count != 0) advance();
}
