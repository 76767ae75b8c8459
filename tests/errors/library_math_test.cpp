// The sines and cosines of the attitude error's angles: every value must be
// the C library's, bit for bit, whether the series or the library gave it.
#include "errors/library_math.h"

#include "app/angles.h"

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

using SinesCosinesFunction = void (*)(const double*, std::size_t, double*, double*);

struct SinesCosinesWay {
    const char* name;
    SinesCosinesFunction sinesCosines;
};

std::vector<SinesCosinesWay> sines_cosines_ways() {
    std::vector<SinesCosinesWay> ways = {{"library_sines_cosines", library_sines_cosines},
                                         {"portable", library_math_detail::library_sines_cosines_portable}};
    if (library_math_detail::logs_avx512_available())
        ways.push_back({"avx512", library_math_detail::library_sines_cosines_avx512});
    return ways;
}

// Counts the angles whose sine or cosine differs from the library's in any
// bit, for every way the processor offers, and reports the first few.
int differences(const std::vector<double>& angles) {
    int wrong = 0;
    for (const SinesCosinesWay& way : sines_cosines_ways()) {
        std::vector<double> sines(angles.size(), -7.0), cosines(angles.size(), -7.0);
        way.sinesCosines(angles.data(), angles.size(), sines.data(), cosines.data());
        for (std::size_t i = 0; i < angles.size(); ++i) {
            const double x = angles[i];
            const double s = std::sin(x), c = std::cos(x);
            const bool sameSine = bits(sines[i]) == bits(s) || (std::isnan(s) && std::isnan(sines[i]));
            const bool sameCosine = bits(cosines[i]) == bits(c) || (std::isnan(c) && std::isnan(cosines[i]));
            if (!sameSine || !sameCosine) {
                if (++wrong <= 5) {
                    ADD_FAILURE() << way.name << std::hexfloat << ": angle " << x << ": sine " << sines[i]
                                  << " (library " << s << "), cosine " << cosines[i] << " (library " << c << ")";
                }
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
    for (const SinesCosinesWay& way : sines_cosines_ways()) {
        double s, c;
        const double minusZero = -0.0;
        way.sinesCosines(&minusZero, 1, &s, &c);
        EXPECT_TRUE(std::signbit(s)) << way.name;
        EXPECT_EQ(c, 1.0) << way.name;
    }
}

TEST(LibrarySinesCosines, EveryRunLengthFillsExactlyItsValues) {
    // Runs of one, odd lengths and across the passes of 64 fill every value
    // and nothing beyond the run.
    std::mt19937_64 random(7);
    std::normal_distribution<double> normal(0.0, 1e-4);
    const std::vector<std::size_t> counts = {0, 1, 2, 7, 9, 63, 64, 65, 129};
    for (const SinesCosinesWay& way : sines_cosines_ways())
        for (const std::size_t count : counts) {
            std::vector<double> angles(count + 1);
            for (double& a : angles) a = normal(random);
            std::vector<double> sines(count + 1, -7.0), cosines(count + 1, -7.0);
            way.sinesCosines(angles.data(), count, sines.data(), cosines.data());
            for (std::size_t i = 0; i < count; ++i) {
                EXPECT_EQ(bits(sines[i]), bits(std::sin(angles[i]))) << way.name << ", " << count << " at " << i;
                EXPECT_EQ(bits(cosines[i]), bits(std::cos(angles[i]))) << way.name << ", " << count << " at " << i;
            }
            EXPECT_EQ(sines[count], -7.0) << way.name << ", " << count;
            EXPECT_EQ(cosines[count], -7.0) << way.name << ", " << count;
        }
}

}  // namespace

// The logarithms of the polar method's s = u^2 + v^2: every value must be
// the library's, bit for bit, whichever way library_logs works here.
namespace {

using LogsFunction = std::size_t (*)(const double*, std::size_t, double*);

struct LogsWay {
    const char* name;
    LogsFunction logs;
};

std::vector<LogsWay> logs_ways() {
    std::vector<LogsWay> ways = {{"library_logs", library_logs},
                                 {"portable", library_math_detail::library_logs_portable}};
    if (library_math_detail::logs_avx512_available())
        ways.push_back({"avx512", library_math_detail::library_logs_avx512});
    return ways;
}

// Counts the values whose logarithm differs from the library's in any bit
// (reporting the first few); *asked gets how many the library answered.
int log_differences(const LogsWay& way, const std::vector<double>& values, std::size_t* asked = nullptr) {
    std::vector<double> logs(values.size(), -7.0);
    const std::size_t n = way.logs(values.data(), values.size(), logs.data());
    if (asked) *asked = n;
    int wrong = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double expected = std::log(values[i]);
        if (bits(logs[i]) != bits(expected) && ++wrong <= 5)
            ADD_FAILURE() << way.name << std::hexfloat << ": log " << values[i] << " = " << logs[i] << ", library "
                          << expected;
    }
    return wrong;
}

double polar_coordinate(int r) { return 2.0 * r / 32767.0 - 1.0; }

TEST(LibraryLogs, ThePolarMethodsValuesForOneFirstDrawIn251) {
    // Every accepted pair of one first draw in 251 (3.4 million values; the
    // bench tool library_logs_check goes through all of them). Most of them
    // are the table's and series' own: were they all asked of the library,
    // the values would still agree but nothing would be gained.
    std::vector<double> s;
    for (int r1 = 5; r1 < 32768; r1 += 251) {
        const double u = polar_coordinate(r1);
        for (int r2 = 0; r2 < 32768; ++r2) {
            const double v = polar_coordinate(r2);
            const double t = u * u + v * v;
            if (t != 0.0 && t <= 1.0) s.push_back(t);
        }
    }
    ASSERT_GT(s.size(), 3000000u);
    for (const LogsWay& way : logs_ways()) {
        std::size_t asked = 0;
        EXPECT_EQ(log_differences(way, s, &asked), 0) << way.name;
        EXPECT_LT(static_cast<double>(asked), 0.12 * static_cast<double>(s.size())) << way.name;
        EXPECT_GT(static_cast<double>(asked), 0.09 * static_cast<double>(s.size())) << way.name;
    }
}

TEST(LibraryLogs, EdgesBinadesAndValuesNextToOne) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0, -0.0, 1.0, -1.0, inf, -inf, std::numeric_limits<double>::quiet_NaN(),
                                  -std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(), std::numeric_limits<double>::denorm_min(),
                                  -std::numeric_limits<double>::min(), 0x1.8p-1030, 2.718281828459045,
                                  0.1, 1e-300, 1e300};
    // Next to 1, where log x is as small as x - 1 and every bit of it counts.
    for (int k = 1; k <= 30000; ++k) {
        values.push_back(1.0 - k * 0x1p-53);
        values.push_back(1.0 + k * 0x1p-52);
    }
    for (int e = 12; e <= 52; ++e) {
        values.push_back(1.0 - std::ldexp(1.0, -e));
        values.push_back(1.0 + std::ldexp(1.0, -e));
    }
    // Powers of two and their neighbours in every binade (log x a multiple
    // of ln 2, r = 0), and the edges of the table's entries (z from
    // 0.671875 in steps of 1/64 below 1 and 1/32 above) in a few binades.
    for (int e = -1074; e <= 1023; ++e) {
        const double p = std::ldexp(1.0, e);
        for (const double v : {p, std::nextafter(p, 0.0), std::nextafter(p, inf)}) values.push_back(v);
    }
    for (int e : {-1022, -30, -1, 0, 1, 700, 1022})
        for (double z = 0.671875; z < 1.35; z += z < 1.0 ? 1.0 / 64 : 1.0 / 32)
            for (const double v : {z, std::nextafter(z, 0.0), std::nextafter(z, inf)}) values.push_back(std::ldexp(v, e));
    // Random bit patterns: every binade, both signs, subnormals, a few
    // infinities and NaNs; and random values in (0, 1] and around 1.
    std::mt19937_64 random(20261206);
    for (int i = 0; i < 300000; ++i) {
        const std::uint64_t b = random();
        double v;
        std::memcpy(&v, &b, sizeof v);
        values.push_back(v);
    }
    std::uniform_real_distribution<double> unit(0.0, 1.0), nearOne(0.96, 1.04);
    for (int i = 0; i < 300000; ++i) {
        values.push_back(unit(random));
        values.push_back(nearOne(random));
    }
    for (const LogsWay& way : logs_ways()) EXPECT_EQ(log_differences(way, values), 0) << way.name;
}

TEST(LibraryLogs, EveryRunLengthFillsExactlyItsValues) {
    // Runs shorter than one vector, a vector's tail, and across the passes
    // of 256 fill every value and nothing beyond the run; values the
    // library answers (x <= 0) among them land where they belong.
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> unit(-0.1, 1.0);
    for (const LogsWay& way : logs_ways()) {
        for (std::size_t count = 0; count <= 130; ++count) {
            for (const std::size_t extra : {std::size_t{0}, std::size_t{256}}) {
                const std::size_t n = count + extra;
                std::vector<double> values(n + 1), logs(n + 1, -7.0);
                for (double& v : values) v = unit(random);
                way.logs(values.data(), n, logs.data());
                for (std::size_t i = 0; i < n; ++i)
                    ASSERT_EQ(bits(logs[i]), bits(std::log(values[i]))) << way.name << " " << n << " at " << i;
                ASSERT_EQ(logs[n], -7.0) << way.name << " " << n;
            }
        }
    }
}

}  // namespace

namespace {

TEST(LibraryLogs, TheTableAndSeriesStayWithinTheirBound) {
    // The bound (0.0033 units of d) against the long double logarithm
    // (within a few 2^-64 of the true value, a thousandth of d's unit): a
    // wrong table entry or series coefficient shows here long before it
    // changes a value the library would give.
    if (std::numeric_limits<long double>::digits < 64) GTEST_SKIP() << "no long double logarithm to compare with";
    std::vector<double> values;
    for (int r1 = 7; r1 < 32768; r1 += 1021)
        for (int r2 = 0; r2 < 32768; r2 += 3) {
            const double u = polar_coordinate(r1), v = polar_coordinate(r2);
            const double t = u * u + v * v;
            if (t != 0.0 && t <= 1.0) values.push_back(t);
        }
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> nearOne(0.95, 1.05), wide(-30.0, 30.0);
    for (int i = 0; i < 200000; ++i) {
        values.push_back(nearOne(random));
        values.push_back(std::exp2(wide(random)));
    }
    double worst = 0.0;
    for (const double x : values) {
        double rest;
        const double d = library_math_detail::log_and_rest(x, &rest);
        if (d == 0.0) continue;  // x = 1: asked of the library
        const long double error = (static_cast<long double>(d) + rest) - std::log(static_cast<long double>(x));
        const double unit = std::ldexp(1.0, std::ilogb(d) - 52);
        worst = std::max(worst, static_cast<double>(std::fabs(error) / unit));
    }
    EXPECT_LT(worst, 0.0045);
}

}  // namespace

namespace {

TEST(DegreesToRadians, EveryWayGivesDegToRadsDoubles) {
    // The attitude error's angles at every size, whole and short-fraction
    // degrees, the edges where the check sends a value to the division
    // (zeros, tiny, subnormal, huge, infinite, not a number) and random bit
    // patterns, through every way the processor offers, in place and not.
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> degrees = {0.0, -0.0, 180.0, -180.0, 90.0, 360.0, 1.0, 1e-300, -1e-300, 0x1p-900,
                                   std::nextafter(0x1p-900, 0.0), 0x1p1000, std::nextafter(0x1p1000, inf),
                                   std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                                   std::numeric_limits<double>::max(), inf, -inf,
                                   std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 random(180);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (const double scale : {1e-6, 5e-3, 0.05, 1.0, 30.0, 1e5})
        for (int i = 0; i < 200000; ++i) degrees.push_back(scale * normal(random));
    for (int i = -3600; i <= 3600; ++i) degrees.push_back(0.125 * i);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t b = random();
        double v;
        std::memcpy(&v, &b, sizeof v);
        degrees.push_back(v);
    }
    using Function = void (*)(const double*, std::size_t, double*);
    std::vector<std::pair<const char*, Function>> ways = {{"degrees_to_radians", degrees_to_radians},
                                                          {"portable", library_math_detail::degrees_to_radians_portable}};
    if (library_math_detail::logs_avx512_available())
        ways.push_back({"avx512", library_math_detail::degrees_to_radians_avx512});
    for (const auto& way : ways) {
        // Every run length up to two vectors and beyond, then all at once.
        for (std::size_t count = 0; count <= 19; ++count) {
            std::vector<double> radians(count + 1, -7.0);
            way.second(degrees.data() + 3, count, radians.data());
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(bits(radians[i]), bits(deg_to_rad(degrees[3 + i]))) << way.first << ", " << count;
            ASSERT_EQ(radians[count], -7.0) << way.first << ", " << count;
        }
        std::vector<double> radians = degrees;
        way.second(radians.data(), radians.size(), radians.data());
        int wrong = 0;
        for (std::size_t i = 0; i < degrees.size(); ++i) {
            const double expected = deg_to_rad(degrees[i]);
            const bool same = bits(radians[i]) == bits(expected) || (std::isnan(expected) && std::isnan(radians[i]));
            if (!same && ++wrong <= 5)
                ADD_FAILURE() << way.first << std::hexfloat << ": " << degrees[i] << " degrees gave " << radians[i]
                              << ", deg_to_rad " << expected;
        }
        EXPECT_EQ(wrong, 0) << way.first;
    }
}

}  // namespace
