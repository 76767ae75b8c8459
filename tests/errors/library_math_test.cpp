// The sines and cosines of the attitude error's angles: every value must be
// the C library's, bit for bit, whether the series or the library gave it.
#include "errors/library_math.h"

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

// Counts the angles whose sine or cosine differs from the library's in any
// bit, and reports the first few.
int differences(const std::vector<double>& angles) {
    std::vector<double> sines(angles.size(), -7.0), cosines(angles.size(), -7.0);
    library_sines_cosines(angles.data(), angles.size(), sines.data(), cosines.data());
    int wrong = 0;
    for (std::size_t i = 0; i < angles.size(); ++i) {
        const double x = angles[i];
        const double s = std::sin(x), c = std::cos(x);
        const bool sameSine = bits(sines[i]) == bits(s) || (std::isnan(s) && std::isnan(sines[i]));
        const bool sameCosine = bits(cosines[i]) == bits(c) || (std::isnan(c) && std::isnan(cosines[i]));
        if (!sameSine || !sameCosine) {
            if (++wrong <= 5) {
                ADD_FAILURE() << std::hexfloat << "angle " << x << ": sine " << sines[i] << " (library " << s
                              << "), cosine " << cosines[i] << " (library " << c << ")";
            }
        }
    }
    return wrong;
}

TEST(LibrarySinesCosines, RandomAnglesOfEverySizeTheSeriesServes) {
    // The attitude error's angles (hundredths of a degree and less), up to
    // the series' limit and just beyond it, and angles with short
    // fractions, whose sines and cosines land on or near ties more often.
    std::mt19937_64 random(20261206);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(-0x1p-7, 0x1p-7);
    std::vector<double> angles;
    for (const double scale : {1e-9, 1e-6, 8.7e-5, 1e-3, 3e-3})
        for (int i = 0; i < 400000; ++i) angles.push_back(scale * normal(random));
    for (int i = 0; i < 400000; ++i) angles.push_back(uniform(random));
    for (int i = 0; i < 100000; ++i) angles.push_back(0x1p-7 * (1.0 + 1e-3 * std::fabs(normal(random))));
    for (int i = 0; i < 400000; ++i) {
        double shortFraction = 1e-4 * normal(random);
        std::uint64_t b = bits(shortFraction) & ~std::uint64_t{0xffffff};
        std::memcpy(&shortFraction, &b, sizeof b);
        angles.push_back(shortFraction);
    }
    EXPECT_EQ(differences(angles), 0);
}

TEST(LibrarySinesCosines, EdgesSignsAndAnglesTheLibraryMustAnswer) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> angles = {0.0, -0.0, 0x1p-7, -0x1p-7, std::nextafter(0x1p-7, 1.0), std::nextafter(0x1p-7, 0.0),
                                  std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::min(), 1e-300, -1e-160, 0.5, 1.0, -3.0, 100.0, 1e300,
                                  inf, -inf, std::numeric_limits<double>::quiet_NaN()};
    // Powers of two and their neighbours: the sines of the small ones are
    // powers of two or next to them.
    for (int e = -1074; e <= 3; ++e) {
        const double p = std::ldexp(1.0, e);
        for (const double v : {p, std::nextafter(p, 0.0), std::nextafter(p, inf)}) {
            angles.push_back(v);
            angles.push_back(-v);
        }
    }
    EXPECT_EQ(differences(angles), 0);
    // The sign of a zero survives.
    double s, c;
    const double minusZero = -0.0;
    library_sines_cosines(&minusZero, 1, &s, &c);
    EXPECT_TRUE(std::signbit(s));
    EXPECT_EQ(c, 1.0);
}

TEST(LibrarySinesCosines, EveryRunLengthFillsExactlyItsValues) {
    // Runs of one, odd lengths and across the passes of 64 fill every value
    // and nothing beyond the run.
    std::mt19937_64 random(7);
    std::normal_distribution<double> normal(0.0, 1e-4);
    for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{63}, std::size_t{64},
                                    std::size_t{65}, std::size_t{129}}) {
        std::vector<double> angles(count + 1);
        for (double& a : angles) a = normal(random);
        std::vector<double> sines(count + 1, -7.0), cosines(count + 1, -7.0);
        library_sines_cosines(angles.data(), count, sines.data(), cosines.data());
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(bits(sines[i]), bits(std::sin(angles[i]))) << count << " at " << i;
            EXPECT_EQ(bits(cosines[i]), bits(std::cos(angles[i]))) << count << " at " << i;
        }
        EXPECT_EQ(sines[count], -7.0) << count;
        EXPECT_EQ(cosines[count], -7.0) << count;
    }
}

}  // namespace
