#include "products/return_attributes.h"

#include "app/simulation_data.h"
#include "survey/pulse_timing.h"

#include <cmath>

double class_reflectance(std::uint8_t classification) {
    switch (classification) {
    case 2: return 0.25;   // ground
    case 3:
    case 4:
    case 5: return 0.45;   // vegetation
    case 6: return 0.30;   // building
    case 9: return 0.05;   // water
    case 11: return 0.15;  // road
    case 17: return 0.20;  // bridge
    default: return 0.25;
    }
}

ReturnAttributes::ReturnAttributes(const SimulationData& data, bool intensityOn, std::size_t lineCount)
    : classes_(data.faceClasses),
      vertices_(data.vertices),
      faces_(data.faces),
      intensityOn_(intensityOn),
      nominalRange_(data.flight.meanHeight),
      orientation_(data.flight.orientation) {
    headings_.reserve(lineCount == 0 ? 1 : lineCount);
    for (std::size_t i = 0; i < (lineCount == 0 ? 1 : lineCount); ++i)
        headings_.push_back(flight_line_heading(orientation_, i));
}

std::uint16_t ReturnAttributes::intensity(const LaserLine& laser, std::uint8_t classification) const {
    if (!intensityOn_) return 0;
    double range = laser.range;
    if (!(range > 0.0)) {
        const Vec3 d = laser.hitPoint - laser.origin;
        range = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    }
    if (!(range > 0.0) || !std::isfinite(range)) return 0;
    double cosine = 1.0;
    const std::int32_t f = laser.hitFaceIndex;
    if (f >= 0 && static_cast<std::size_t>(f) < faces_.size()) {
        const Face& face = faces_[static_cast<std::size_t>(f)];
        const std::size_t a = static_cast<std::size_t>(face.v[0] - 1), b = static_cast<std::size_t>(face.v[1] - 1),
                          c = static_cast<std::size_t>(face.v[2] - 1);
        if (a < vertices_.size() && b < vertices_.size() && c < vertices_.size()) {
            const Vec3 u = vertices_[b] - vertices_[a];
            const Vec3 v = vertices_[c] - vertices_[a];
            const Vec3 n{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
            const Vec3& d = laser.direction;
            const double nn = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            const double dd = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            if (nn > 0.0 && dd > 0.0) cosine = std::fabs(n.x * d.x + n.y * d.y + n.z * d.z) / (nn * dd);
        }
    }
    const double ratio = nominalRange_ > 0.0 ? nominalRange_ / range : 1.0;
    const double value = 131072.0 * class_reflectance(classification) * cosine * ratio * ratio;
    if (!(value < 65535.0)) return value >= 65535.0 ? 65535 : 0;
    return static_cast<std::uint16_t>(std::lround(value));
}

double ReturnAttributes::scan_angle(const LaserLine& laser, std::uint32_t line) const {
    const std::size_t i = line == 0 ? 0 : line - 1;
    const Vec3 h = i < headings_.size() ? headings_[i] : flight_line_heading(orientation_, i);
    return scan_angle_degrees(laser.direction, h);
}
