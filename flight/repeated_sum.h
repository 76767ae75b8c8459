#pragma once
#include <cstdint>

// A pulse's time is reached by adding the pulse interval again and again
// (t = t + dt, rounded to nearest), so the n-th time is not n * dt. These
// give what such a loop gives, in a few steps per binade of t instead of
// one per addition: within a binade every value is a multiple of the same
// unit and every addition of dt moves t on by the same number of units
// (a tie rounds to an even multiple, which after the first addition is the
// same every time too), up to the top of the binade.

// t after n additions of dt.
double repeated_sum(double t, double dt, std::uint64_t n);

// How many of the times 0, dt, dt + dt, ... lie below `limit`. Once an
// addition no longer moves t on, that time is the last one counted.
std::uint64_t count_below(double dt, double limit);
