// The writers format numbers without a stream; the text must be exactly what
// a default-formatted std::ostream writes, from the general routine and from
// the writers' fast one alike.
#include "app/number_text.h"
#include "output/fast_number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>

namespace {

std::string stream_text(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

std::string fast_text(double v) {
    std::string s = "x";  // appends to what is there
    append_g6_fast(s, v);
    return s.substr(1);
}

// Both routines against the stream; a gtest assertion failure names the value.
::testing::AssertionResult same_as_stream(double v) {
    const std::string expected = stream_text(v);
    const std::string general = format_g6(v);
    const std::string fast = fast_text(v);
    if (general == expected && fast == expected) return ::testing::AssertionSuccess();
    char bits[40];
    std::snprintf(bits, sizeof bits, "%.17g", v);
    return ::testing::AssertionFailure() << "value " << bits << ": stream \"" << expected << "\", general \""
                                         << general << "\", fast \"" << fast << "\"";
}

TEST(NumberText, SpecialValuesMatchStream) {
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {0.0, -0.0, 1.0, -1.0, 123.4567, 500.0, 3.5e6, -1e-5, 1e-4, 9.999995e-5, 0.0001,
                             999999.4, 999999.5, 999999.6, 1e6, 123456.5, 1234567.0, 447512.345, 84612.3456,
                             0.1, 0.29, 0.03, 1e-300, 5e-324, std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(), 1e21, 1e100, -2.5e-7, 0.5, 1.5, 2.5, 100000.5,
                             inf, -inf};
    for (double v : values) EXPECT_TRUE(same_as_stream(v));
    // Not-a-number: quiet, with and without the sign bit.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(same_as_stream(nan));
    EXPECT_TRUE(same_as_stream(-nan));
    // Every decade edge, exact and one ulp either side.
    for (int e = -20; e <= 30; ++e) {
        const double p = std::pow(10.0, e);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), 9.999995 * p, 9.999994999 * p})
            EXPECT_TRUE(same_as_stream(v)) << e;
    }
}

TEST(NumberText, DocumentedExamples) {
    EXPECT_EQ(format_g6(123.4567), "123.457");
    EXPECT_EQ(format_g6(500.0), "500");
    EXPECT_EQ(format_g6(3.5e6), "3.5e+06");
    EXPECT_EQ(format_g6(-0.00001), "-1e-05");
    // A typical easting keeps no decimals, a northing loses its last digit.
    EXPECT_EQ(format_g6(447512.345), "447512");
    EXPECT_EQ(format_g6(5447512.345), "5.44751e+06");
}

TEST(NumberText, RandomValuesMatchStream) {
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    std::uniform_int_distribution<std::uint64_t> bits;
    for (int i = 0; i < 200000; ++i) {
        // Ordinary magnitudes around the switch to scientific notation...
        const double v = mantissa(rng) * std::pow(10.0, exponent(rng));
        ASSERT_TRUE(same_as_stream(v));
        // ...and arbitrary bit patterns (subnormals, huge values, NaNs).
        const std::uint64_t b = bits(rng);
        double w;
        std::memcpy(&w, &b, sizeof w);
        ASSERT_TRUE(same_as_stream(w));
    }
}

TEST(NumberText, RoundingTiesNearSixDigitsMatchStream) {
    // Values whose seventh digit is 5, and their neighbours one ulp away,
    // where rounding decides the text.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> digits(100000, 999999);
    std::uniform_int_distribution<int> shift(-8, 8);
    for (int i = 0; i < 50000; ++i) {
        const double v = (digits(rng) * 10 + 5) * std::pow(10.0, shift(rng) - 6);
        ASSERT_TRUE(same_as_stream(v));
        ASSERT_TRUE(same_as_stream(std::nextafter(v, 0.0)));
        ASSERT_TRUE(same_as_stream(-std::nextafter(v, HUGE_VAL)));
    }
}

TEST(NumberText, SurveyLikeValuesMatchStream) {
    // Eastings, northings, heights, direction cosines and angles, with few
    // decimals as typed or computed.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> easting(80000.0, 900000.0), northing(1e6, 9e6), unit(-1.0, 1.0);
    std::uniform_int_distribution<int> decimals(0, 4);
    for (int i = 0; i < 100000; ++i) {
        const double scale = std::pow(10.0, decimals(rng));
        for (double v : {easting(rng), northing(rng), 500.0 * unit(rng), unit(rng), 30.0 * unit(rng)}) {
            ASSERT_TRUE(same_as_stream(v));
            ASSERT_TRUE(same_as_stream(std::round(v * scale) / scale));
        }
    }
}

}  // namespace
