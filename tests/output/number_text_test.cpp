// The writers format numbers without a stream; the text must be exactly what
// a default-formatted std::ostream writes, from the general routine and from
// the writers' fast one alike.
#include "app/number_text.h"
#include "output/fast_number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

namespace {

// Both routines against the stream; a failure names the value in full.
::testing::AssertionResult same_as_stream(double v) {
    std::ostringstream stream;
    stream << v;
    std::string fast = "x";  // appends to what is there
    append_g6_fast(fast, v);
    if (format_g6(v) == stream.str() && fast == "x" + stream.str()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << ::testing::PrintToString(v) << ": stream " << stream.str() << ", general "
                                         << format_g6(v) << ", fast " << fast.substr(1);
}

}  // namespace

TEST(NumberText, SpecialValuesAndDecadeEdgesMatchStream) {
    using limits = std::numeric_limits<double>;
    for (double v : {0.0, -0.0, 999999.5, 123456.5, 5447512.345, 5e-324, limits::max(), limits::min(),
                     limits::infinity(), -limits::infinity(), limits::quiet_NaN(), -limits::quiet_NaN()})
        EXPECT_TRUE(same_as_stream(v));
    for (int e = -20; e <= 30; ++e) {  // every decade edge, exact and one ulp either side
        const double p = std::pow(10.0, e);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), 9.999995 * p, 9.999994999 * p})
            EXPECT_TRUE(same_as_stream(v)) << e;
    }
}

TEST(NumberText, RandomValuesAndRoundingTiesMatchStream) {
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 12), digits(100000, 999999), shift(-8, 8);
    std::uniform_int_distribution<std::uint64_t> bits;
    for (int i = 0; i < 200000; ++i) {
        // Ordinary magnitudes around the switch to scientific notation...
        ASSERT_TRUE(same_as_stream(mantissa(rng) * std::pow(10.0, exponent(rng))));
        // ...arbitrary bit patterns (subnormals, huge values, NaNs)...
        const std::uint64_t b = bits(rng);
        double w;
        std::memcpy(&w, &b, sizeof w);
        ASSERT_TRUE(same_as_stream(w));
        // ...and values whose seventh digit is 5, with a neighbour an ulp away.
        const double tie = (digits(rng) * 10 + 5) * std::pow(10.0, shift(rng) - 6);
        ASSERT_TRUE(same_as_stream(tie));
        ASSERT_TRUE(same_as_stream(-std::nextafter(tie, 0.0)));
    }
}

// The writers' common range, [1e-5, 1e6), is formatted inline from the
// binary exponent: every binary exponent's edges, every decimal layout
// (fixed with 0..5 digits before the point, "0.000ddd", the scientific
// ends) with each count of trailing zeros, and the values that round up
// into the next decade. Nothing is written beyond the promised room.
TEST(NumberText, FastRangeEdgesAndLayoutsMatchStream) {
    std::vector<double> values;
    for (int e2 = -18; e2 <= 21; ++e2) {
        const double p = std::ldexp(1.0, e2);
        for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, HUGE_VAL), 1.5 * p}) values.push_back(v);
    }
    for (int e = -6; e <= 6; ++e) {
        for (int digits : {123456, 123450, 123400, 123000, 120000, 100000, 999999, 100001}) {
            values.push_back(digits * std::pow(10.0, e - 5));
        }
        const double edge = std::pow(10.0, e);
        for (double v : {0.9999995 * edge, 0.99999949 * edge, 0.99999951 * edge}) values.push_back(v);
    }
    for (double v : values) {
        for (double signed_ : {v, -v}) {
            ASSERT_TRUE(same_as_stream(signed_));
            char text[kMaxG6Text + 8];
            std::memset(text, 0x7f, sizeof text);
            put_g6_fast(text, signed_);
            for (std::size_t i = kMaxG6Text; i < sizeof text; ++i) ASSERT_EQ(text[i], 0x7f) << signed_;
        }
    }
}
