// Pulse times by repeated addition, taken in big strides: the same bits as
// adding one interval at a time, across binades, ties and stuck sums.
#include "flight/repeated_sum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Intervals of common pulse rates, awkward ones, and ones whose low bits
// make every addition in some binade a tie.
std::vector<double> intervals() {
    std::vector<double> dts;
    for (double prf : {1.0, 3.0, 7000.0, 1e4, 33333.0, 1e5, 3e5, 1e6, 2.5e6}) dts.push_back(1.0 / prf);
    dts.push_back(0.1);
    dts.push_back(0.75);                        // 1.5 * 2^-1
    dts.push_back(std::ldexp(3.0, -30));        // odd units of 2^-30
    dts.push_back(std::ldexp(0x1FFFFFFFFFFFFF, -60));  // all 53 bits set
    dts.push_back(1.0 + std::ldexp(1.0, -52));
    std::mt19937_64 random(11);
    for (int i = 0; i < 6; ++i) dts.push_back(std::ldexp(double(random() >> 11), -70 - int(random() % 10)));
    return dts;
}

TEST(RepeatedSum, StridesGiveTheBitsOfOneAdditionAtATime) {
    const std::vector<std::uint64_t> checkpoints = {0, 1, 2, 5, 6, 100, 4097, 65536, 1000003, 3000000};
    for (double dt : intervals()) {
        // From zero, from a pulse time, and from odd multiples of the unit
        // (where a tie first rounds up, then stays even).
        for (double start : {0.0, dt * 7.0, std::nextafter(1.0, 2.0), std::ldexp(1.0, -3) + std::ldexp(1.0, -55)}) {
            SCOPED_TRACE(testing::Message() << "dt " << dt << " start " << start);
            double t = start;
            std::uint64_t n = 0;
            for (std::uint64_t stop : checkpoints) {
                for (; n < stop; ++n) t += dt;
                ASSERT_EQ(bits(repeated_sum(start, dt, n)), bits(t)) << n << " additions";
            }
        }
    }
}

TEST(RepeatedSum, CountsTheTimesBelowALimitAsTheLoopDoes) {
    for (double dt : intervals()) {
        for (double limit : {0.0, dt, dt * 0.5, 1.0, 2.0, 3.7, 12.000001}) {
            std::uint64_t expected = 0;
            for (double t = 0.0; t < limit && expected < 20000000; t += dt) {
                ++expected;
                if (t + dt == t) break;
            }
            if (expected >= 20000000) continue;  // too long for the loop here
            EXPECT_EQ(count_below(dt, limit), expected) << "dt " << dt << " limit " << limit;
        }
    }
    // An interval that stops moving the time on: 0, 1, ..., 2^53, where
    // adding 1 rounds back to 2^53.
    EXPECT_EQ(count_below(1.0, 1e300), (std::uint64_t(1) << 53) + 1);
    EXPECT_EQ(bits(repeated_sum(0.0, 1.0, std::uint64_t(1) << 60)), bits(std::ldexp(1.0, 53)));
    // Nothing to add, or nothing that moves.
    EXPECT_EQ(count_below(0.0, 1.0), 1u);
    EXPECT_EQ(repeated_sum(5.0, 0.0, 1000), 5.0);
}

}  // namespace
