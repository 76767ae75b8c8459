#include "flight/laser_line.h"

#include "app/angles.h"

#include <cmath>

void LaserLine::reset_laser() {
    origin = Vec3{};
    hitPoint = Vec3{};
    direction = Vec3{};
    range = -1.0;
    hitFaceIndex = -1;
}

void LaserLine::set_direction(double dx, double dy, double dz) { direction = Vec3{dx, dy, dz}; }

void LaserLine::set_attitude(double r, double p, double y) {
    roll = r;
    pitch = p;
    yaw = y;
}

AttitudeTrig attitude_trig(double roll, double pitch, double yaw) {
    const double r = deg_to_rad(roll);
    const double p = deg_to_rad(pitch);
    const double y = deg_to_rad(yaw);
    AttitudeTrig trig;
    trig.cr = std::cos(r);
    trig.sr = std::sin(r);
    trig.cp = std::cos(p);
    trig.sp = std::sin(p);
    trig.cy = std::cos(y);
    trig.sy = std::sin(y);
    return trig;
}

namespace {

// Matrix (rows top to bottom) times column vector, every entry included, so
// the zeros of the matrix take part exactly as written.
inline Vec3 times(const double m[3][3], const Vec3& v) {
    return Vec3{m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,  //
                m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,  //
                m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

}  // namespace

Vec3 rotate_vector(const Vec3& d, const AttitudeTrig& t) {
    const double yawMatrix[3][3] = {{t.cy, t.sy, 0.0}, {-t.sy, t.cy, 0.0}, {0.0, 0.0, 1.0}};
    const double pitchMatrix[3][3] = {{t.cp, 0.0, -t.sp}, {0.0, 1.0, 0.0}, {t.sp, 0.0, t.cp}};
    const double rollMatrix[3][3] = {{1.0, 0.0, 0.0}, {0.0, t.cr, t.sr}, {0.0, -t.sr, t.cr}};
    // Yaw, then pitch, then roll; never one combined matrix.
    return times(rollMatrix, times(pitchMatrix, times(yawMatrix, d)));
}

void LaserLine::rotate_direction(double r, double p, double y) { rotate_direction(attitude_trig(r, p, y)); }

void LaserLine::rotate_direction(const AttitudeTrig& trig) { direction = rotate_vector(direction, trig); }
