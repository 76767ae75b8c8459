#pragma once
// Doubles rounded to float outwards, for bounds that must hold what they
// bound: the nearest float, or the next one beyond it when the nearest lies
// on the wrong side (the step std::nextafter takes, worked out on the bits
// without branches: half the time the nearest float is the wrong side).
#include <cstdint>
#include <cstring>

namespace float_rounding {

// v rounded up to float: the float nearest to v, or the next one above
// when that is below v. A NaN stays NaN.
inline float float_up(double v) {
    const float f = static_cast<float>(v);
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    // Up from a positive number or +0: one more; from a negative number:
    // one less; from -0: the smallest positive number.
    const std::uint32_t negative = bits >> 31, zero = (bits & 0x7fffffffu) == 0;
    const std::uint32_t next = negative ? (zero ? 1u : bits - 1) : bits + 1;
    const std::uint32_t result = static_cast<double>(f) < v ? next : bits;
    float r;
    std::memcpy(&r, &result, sizeof r);
    return r;
}

// v rounded down to float likewise.
inline float float_down(double v) {
    const float f = static_cast<float>(v);
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    // Down from a negative number or -0: one more (in magnitude); from a
    // positive number: one less; from +0: the smallest negative number.
    const std::uint32_t negative = bits >> 31, zero = (bits & 0x7fffffffu) == 0;
    const std::uint32_t next = negative ? bits + 1 : (zero ? 0x80000001u : bits - 1);
    const std::uint32_t result = static_cast<double>(f) > v ? next : bits;
    float r;
    std::memcpy(&r, &result, sizeof r);
    return r;
}

}  // namespace float_rounding
