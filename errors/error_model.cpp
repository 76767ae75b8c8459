#include "errors/error_model.h"

#include "app/uniform_source.h"

#include <cmath>

namespace {
// The second deviate of the last polar draw, waiting for the next call.
double g_cached_deviate = 0.0;
bool g_cache_valid = false;
}  // namespace

double normal_deviate(double mean, double sigma) {
    if (g_cache_valid) {
        g_cache_valid = false;
        return mean + sigma * g_cached_deviate;
    }
    UniformSource& source = uniform_source();
    double u, v, s;
    do {
        const int r1 = source.next();
        const int r2 = source.next();
        u = 2.0 * r1 / 32767.0 - 1.0;
        v = 2.0 * r2 / 32767.0 - 1.0;
        s = u * u + v * v;
    } while (s == 0.0 || s > 1.0);  // s == 1 is accepted
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    g_cached_deviate = v * f;
    g_cache_valid = true;
    return mean + sigma * (u * f);
}

void reset_normal_deviate() {
    g_cached_deviate = 0.0;
    g_cache_valid = false;
}

namespace {

inline void recompute_hit_point(LaserLine& laser) {
    laser.hitPoint = laser.origin + laser.direction * laser.range;
}

}  // namespace

void apply_systematic_error(std::vector<LaserLine>& lasers, const std::vector<double>& values) {
    const double x = values.at(0), y = values.at(1), z = values.at(2);
    const double roll = values.at(3), pitch = values.at(4), yaw = values.at(5), range = values.at(6);
    // The same turn for every laser: its sines and cosines once.
    const AttitudeTrig trig = attitude_trig(roll, pitch, yaw);
    for (LaserLine& laser : lasers) {
        laser.origin = laser.origin + Vec3{x, y, z};
        laser.range += range;
        laser.rotate_direction(trig);
        recompute_hit_point(laser);
    }
}

void apply_random_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas) {
    const double sx = sigmas.at(0), sy = sigmas.at(1), sz = sigmas.at(2);
    const double sRoll = sigmas.at(3), sPitch = sigmas.at(4), sYaw = sigmas.at(5), sRange = sigmas.at(6);
    for (LaserLine& laser : lasers) {
        // The draw order (Z before Y before X) fixes which deviate goes
        // where for a given random state; keep it.
        const double eZ = normal_deviate(0.0, sz);
        const double eY = normal_deviate(0.0, sy);
        const double eX = normal_deviate(0.0, sx);
        const double eRoll = normal_deviate(0.0, sRoll);
        const double ePitch = normal_deviate(0.0, sPitch);
        const double eYaw = normal_deviate(0.0, sYaw);
        const double eRange = normal_deviate(0.0, sRange);
        laser.origin = laser.origin + Vec3{eX, eY, eZ};
        laser.range += eRange;
        laser.rotate_direction(eRoll, ePitch, eYaw);
        recompute_hit_point(laser);
    }
}

void apply_overall_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas) {
    const double sx = sigmas.at(0), sy = sigmas.at(1), sz = sigmas.at(2);
    for (LaserLine& laser : lasers) {
        const double eZ = normal_deviate(0.0, sz);
        const double eY = normal_deviate(0.0, sy);
        const double eX = normal_deviate(0.0, sx);
        laser.hitPoint = laser.hitPoint + Vec3{eX, eY, eZ};
    }
}
