// The outward rounding to float must give std::nextafter's answers bit for
// bit: the cast tree's bounds were made with them.
#include "lidar/float_rounding.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::uint32_t bits_of(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

float reference_up(double v) {
    float f = static_cast<float>(v);
    if (static_cast<double>(f) < v) f = std::nextafter(f, HUGE_VALF);
    return f;
}

float reference_down(double v) {
    float f = static_cast<float>(v);
    if (static_cast<double>(f) > v) f = std::nextafter(f, -HUGE_VALF);
    return f;
}

TEST(FloatRounding, StepsAsNextafterDoes) {
    std::vector<double> values = {0.0, -0.0, HUGE_VAL, -HUGE_VAL, std::nan(""), FLT_MAX, -FLT_MAX,
                                  static_cast<double>(FLT_MAX) * (1 + 0x1p-30), -static_cast<double>(FLT_MAX) * (1 + 0x1p-30),
                                  1e300, -1e300, FLT_MIN, -FLT_MIN, FLT_TRUE_MIN, -FLT_TRUE_MIN, 0x1p-160, -0x1p-160,
                                  1e-300, -1e-300, 1.0, -1.0, 0.1, -0.1, 2000.0 / 3, -2000.0 / 3};
    // Numbers just beside floats (and half-way between two), and random
    // numbers of every size.
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> unit(-1, 1);
    for (int i = 0; i < 20000; ++i) {
        const double f = static_cast<float>(unit(random) * std::ldexp(1.0, static_cast<int>(random() % 300) - 150));
        const double ulp = std::fabs(static_cast<double>(std::nextafter(static_cast<float>(f), HUGE_VALF)) - f);
        values.push_back(f);
        values.push_back(f + ulp / 2);
        values.push_back(f - ulp * 0x1p-20);
        values.push_back(unit(random) * std::ldexp(1.0, static_cast<int>(random() % 2100) - 1050));
    }
    for (const double v : values) {
        ASSERT_EQ(bits_of(float_rounding::float_up(v)), bits_of(reference_up(v))) << v;
        ASSERT_EQ(bits_of(float_rounding::float_down(v)), bits_of(reference_down(v))) << v;
    }
}

}  // namespace
