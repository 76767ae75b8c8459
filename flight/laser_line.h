#pragma once
#include "app/vec3.h"

#include <cstdint>

// One emitted pulse. hitFaceIndex -1 means the pulse has no return.
struct LaserLine {
    Vec3 origin;
    Vec3 hitPoint;
    Vec3 direction;
    double range = -1.0;
    std::int32_t hitFaceIndex = -1;
    double roll = 0.0;   // degrees
    double pitch = 0.0;  // degrees
    double yaw = 0.0;    // degrees

    // origin, hitPoint and direction 0, range -1, no return; attitude untouched.
    void reset_laser();
    void set_direction(double dx, double dy, double dz);
    void set_attitude(double r, double p, double y);
    // Turns the direction by the attitude (degrees): yaw first, then pitch,
    // then roll, each matrix applied on its own.
    void rotate_direction(double r, double p, double y);
};
