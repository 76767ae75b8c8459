#pragma once
#include "app/vec3.h"

#include <cstdint>

#include <emmintrin.h>

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
// multiplied together beforehand: that would round differently. Every entry
// of each matrix takes part, zeros and ones included, exactly as written
// (a product with a zero entry decides the sign of a zero result). Inline:
// laser generation and the error step turn every pulse.
inline Vec3 rotate_vector(const Vec3& d, const AttitudeTrig& t) {
    // Yaw: rows (cy, sy, 0), (-sy, cy, 0), (0, 0, 1).
    const Vec3 a{t.cy * d.x + t.sy * d.y + 0.0 * d.z,  //
                 -t.sy * d.x + t.cy * d.y + 0.0 * d.z,  //
                 0.0 * d.x + 0.0 * d.y + 1.0 * d.z};
    // Pitch: rows (cp, 0, -sp), (0, 1, 0), (sp, 0, cp).
    const Vec3 b{t.cp * a.x + 0.0 * a.y + -t.sp * a.z,  //
                 0.0 * a.x + 1.0 * a.y + 0.0 * a.z,  //
                 t.sp * a.x + 0.0 * a.y + t.cp * a.z};
    // Roll: rows (1, 0, 0), (0, cr, sr), (0, -sr, cr).
    return Vec3{1.0 * b.x + 0.0 * b.y + 0.0 * b.z,  //
                0.0 * b.x + t.cr * b.y + t.sr * b.z,  //
                0.0 * b.x + -t.sr * b.y + t.cr * b.z};
}

// Three coordinates of two vectors, one vector per lane.
struct Lanes3 {
    __m128d x, y, z;
};

// rotate_vector on both lanes (the laser generation and the error step
// turn two pulses at a time), term for term (each lane its own sines and
// cosines).
inline Lanes3 rotate_lanes(const Lanes3& d, __m128d cr, __m128d sr, __m128d cp, __m128d sp, __m128d cy, __m128d sy) {
    const __m128d zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    const __m128d sign = _mm_set1_pd(-0.0);
    auto row = [](__m128d p, __m128d q, __m128d r, const Lanes3& v) {
        return _mm_add_pd(_mm_add_pd(_mm_mul_pd(p, v.x), _mm_mul_pd(q, v.y)), _mm_mul_pd(r, v.z));
    };
    const __m128d minusSy = _mm_xor_pd(sy, sign), minusSp = _mm_xor_pd(sp, sign), minusSr = _mm_xor_pd(sr, sign);
    const Lanes3 a{row(cy, sy, zero, d), row(minusSy, cy, zero, d), row(zero, zero, one, d)};
    const Lanes3 b{row(cp, zero, minusSp, a), row(zero, one, zero, a), row(sp, zero, cp, a)};
    return Lanes3{row(one, zero, zero, b), row(zero, cr, sr, b), row(zero, minusSr, cr, b)};
}

// Lane 0 into `first`, lane 1 into `second`.
inline void store_lanes(__m128d x, __m128d y, __m128d z, Vec3& first, Vec3& second) {
    _mm_storel_pd(&first.x, x);
    _mm_storel_pd(&first.y, y);
    _mm_storel_pd(&first.z, z);
    _mm_storeh_pd(&second.x, x);
    _mm_storeh_pd(&second.y, y);
    _mm_storeh_pd(&second.z, z);
}

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
    void set_direction(double dx, double dy, double dz) { direction = Vec3{dx, dy, dz}; }
    void set_attitude(double r, double p, double y) {
        roll = r;
        pitch = p;
        yaw = y;
    }
    // Turns the direction by the attitude (degrees): yaw first, then pitch,
    // then roll, each matrix applied on its own.
    void rotate_direction(double r, double p, double y);
    // The same turn with the sines and cosines already known; bit for bit
    // the result of rotate_direction with the angles they came from.
    void rotate_direction(const AttitudeTrig& trig) { direction = rotate_vector(direction, trig); }
};
