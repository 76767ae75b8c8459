// The sines and cosines of the scanner's angles: every value must be the C
// library's, bit for bit, whether the table and series or the library gave
// it.
#include "app/library_trig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

bool same(double ours, double library) {
    return bits(ours) == bits(library) || (std::isnan(ours) && std::isnan(library));
}

// Counts the angles whose sine or cosine differs from the library's in any
// bit, and reports the first few.
int differences(const std::vector<double>& angles) {
    std::vector<double> sines(angles.size(), -7.0), cosines(angles.size(), -7.0);
    library_sin_cos(angles.data(), angles.size(), sines.data(), cosines.data());
    int wrong = 0;
    for (std::size_t i = 0; i < angles.size(); ++i) {
        const double x = angles[i];
        const double s = std::sin(x), c = std::cos(x);
        if (!same(sines[i], s) || !same(cosines[i], c)) {
            if (++wrong <= 5) {
                ADD_FAILURE() << std::hexfloat << "angle " << x << ": sine " << sines[i] << " (library " << s
                              << "), cosine " << cosines[i] << " (library " << c << ")";
            }
        }
    }
    return wrong;
}

TEST(LibrarySinCos, TheScannersTurningAngles) {
    // A circular or elliptical scan turns through w t radians: 50 turns a
    // second at 100 kHz over a long survey, and a slow scanner at an odd
    // rate, so that the angles fall everywhere in their quadrants.
    std::vector<double> angles;
    const double fast = 50 * 6.28318, slow = 7.3 * 6.28318;
    for (int i = 0; i < 1500000; ++i) angles.push_back(fast * (i * 6.7e-5));
    for (int i = 0; i < 300000; ++i) angles.push_back(slow * (i * 1.3e-4));
    EXPECT_EQ(differences(angles), 0);
}

TEST(LibrarySinCos, RandomAnglesOfEverySizeBothSigns) {
    // From below the reduced range (asked of the library) to beyond its top.
    std::mt19937_64 random(20261206);
    std::vector<double> angles;
    for (int e = -30; e <= 23; ++e) {
        std::uniform_real_distribution<double> uniform(-std::ldexp(1.0, e), std::ldexp(1.0, e));
        for (int i = 0; i < 20000; ++i) angles.push_back(uniform(random));
    }
    EXPECT_EQ(differences(angles), 0);
}

TEST(LibrarySinCos, AnglesWhereTheReductionIsHardest) {
    // Next to multiples of pi/2 the reduced angle is tiny and the sine or
    // cosine has far fewer leading bits than the angle; next to (j + 1/2)/16
    // past a quadrant's start the table entry changes.
    std::vector<double> angles;
    const double inf = std::numeric_limits<double>::infinity();
    for (long k = -600000; k <= 600000; k += 997) {
        const double quarter = static_cast<double>(k) * 1.5707963267948966;
        for (const double offset : {0.0, 0.5 / 16, 1.5 / 16, 7.5 / 16, 12.5 / 16, -0.5 / 16, -12.5 / 16}) {
            double x = quarter + offset;
            for (int step = 0; step < 3; ++step) x = std::nextafter(x, -inf);
            for (int step = 0; step < 7; ++step, x = std::nextafter(x, inf)) angles.push_back(x);
        }
    }
    EXPECT_EQ(differences(angles), 0);
}

TEST(LibrarySinCos, EdgesSignsAndAnglesTheLibraryMustAnswer) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> angles = {0.0, -0.0, std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                                  1e-300, 0x1p-26, std::nextafter(0x1p-26, 0.0), -0x1p-26, 0x1p20,
                                  std::nextafter(0x1p20, inf), -0x1p20, 1e300, -1e300, inf, -inf,
                                  std::numeric_limits<double>::quiet_NaN(), 0.5, 1.0, -3.0, 100.0, 0.7853981633974483};
    for (int e = -30; e <= 24; ++e) {
        const double p = std::ldexp(1.0, e);
        for (const double v : {p, std::nextafter(p, 0.0), std::nextafter(p, inf)}) {
            angles.push_back(v);
            angles.push_back(-v);
        }
    }
    // Groups of eight with one odd angle among ordinary ones: the others
    // keep their own values.
    for (std::size_t odd = 0; odd < 8; ++odd)
        for (std::size_t i = 0; i < 8; ++i) angles.push_back(i == odd ? inf : 1000.0 + 0.37 * i);
    EXPECT_EQ(differences(angles), 0);
    double s, c;
    const double minusZero = -0.0;
    library_sin_cos(&minusZero, 1, &s, &c);
    EXPECT_TRUE(std::signbit(s));
    EXPECT_EQ(c, 1.0);
}

TEST(LibrarySinCos, EveryRunLengthFillsExactlyItsValues) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> uniform(-3e4, 3e4);
    for (std::size_t count = 0; count <= 34; ++count) {
        std::vector<double> angles(count + 1);
        for (double& a : angles) a = uniform(random);
        std::vector<double> sines(count + 1, -7.0), cosines(count + 1, -7.0);
        library_sin_cos(angles.data(), count, sines.data(), cosines.data());
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(bits(sines[i]), bits(std::sin(angles[i]))) << count << " at " << i;
            EXPECT_EQ(bits(cosines[i]), bits(std::cos(angles[i]))) << count << " at " << i;
        }
        EXPECT_EQ(sines[count], -7.0) << count;
        EXPECT_EQ(cosines[count], -7.0) << count;
    }
}

}  // namespace
