#pragma once
#include "app/vec3.h"
#include "flight/laser_line.h"
#include "terrain/mesh.h"

#include <cstdint>
#include <vector>

class SimulationData;

// The class, intensity and scan angle of returns, from the model and the
// flight plan. Built once per product; const afterwards, so formatting
// threads share it.
//
// Intensity, a simple radiometric model of a 1064 nm scanner:
//     I = min(65535, round(131072 * rho * cos(i) * (H / R)^2))
// rho the reflectance of the hit triangle's class (below), i the incidence
// angle between the pulse and the triangle's normal, R the range and H the
// flight's mean height above the origin of z, the survey's nominal range,
// which keeps the scale independent of the flying height: a ground return
// at nadir from the nominal height (rho 0.25) is 32768, the middle of the
// 16-bit range; brighter or closer returns saturate at 65535 rather than
// overflow. Reflectances: ground 0.25, vegetation 0.45, building 0.30,
// water 0.05, road 0.15, bridge 0.20, any other class 0.25.
class ReturnAttributes {
public:
    ReturnAttributes(const SimulationData& data, bool intensityOn, std::size_t lineCount);

    std::uint8_t classification(std::int32_t face) const {
        return face >= 0 && static_cast<std::size_t>(face) < classes_.size() ? classes_[static_cast<std::size_t>(face)]
                                                                            : std::uint8_t{1};
    }
    std::uint16_t intensity(const LaserLine& laser, std::uint8_t classification) const;
    // Degrees, signed as LAS 1.4 counts it, on flight line `line` (1-based).
    double scan_angle(const LaserLine& laser, std::uint32_t line) const;

private:
    const std::vector<std::uint8_t>& classes_;
    const std::vector<Vertex>& vertices_;
    const std::vector<Face>& faces_;
    bool intensityOn_;
    double nominalRange_;
    double orientation_;
    std::vector<Vec3> headings_;
};

// Reflectance of an ASPRS class in the intensity model.
double class_reflectance(std::uint8_t classification);
