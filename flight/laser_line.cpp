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

void LaserLine::rotate_direction(double r, double p, double y) { rotate_direction(attitude_trig(r, p, y)); }
