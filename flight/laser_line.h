#pragma once
#include "app/vec3.h"

#include <cstdint>

// Sines and cosines of one attitude (roll, pitch, yaw). A run whose attitude
// never changes computes them once and hands them to every pulse.
struct AttitudeTrig {
    double cr = 1.0, sr = 0.0;  // roll
    double cp = 1.0, sp = 0.0;  // pitch
    double cy = 1.0, sy = 0.0;  // yaw
};

// The sines and cosines of an attitude given in degrees (pi = 3.14159).
AttitudeTrig attitude_trig(double roll, double pitch, double yaw);

// Turns d by the attitude: the yaw matrix first, then pitch, then roll, each
// applied to the vector on its own. The three matrices are deliberately not
// multiplied together beforehand: that would round differently.
Vec3 rotate_vector(const Vec3& d, const AttitudeTrig& trig);

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
    // The same turn with the sines and cosines already known; bit for bit
    // the result of rotate_direction with the angles they came from.
    void rotate_direction(const AttitudeTrig& trig);
};
