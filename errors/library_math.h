#pragma once
#include <cstddef>

// Values of the C library's mathematical functions, worked out faster
// where the library's value is certain.

// The sines and cosines of a run of angles (radians), each exactly the
// double std::sin and std::cos give for it.
//
// The random attitude error turns every pulse by three small angles (a few
// hundredths of a degree), and their library sines and cosines were a large
// part of the error stage. For |x| <= 2^-7 a short series gives sin x and
// cos x to within about 1e-4 of a unit in the last place, together with how
// far the value lies from the double it rounds to. The C library's sin and
// cos stay within 0.55 units of the true value for such angles (they are
// correctly rounded in all but a few near-ties), so wherever the true value
// lies within 0.45 units of that double, the library returns that double
// too: any other double is at least 0.55 units away. About one value in ten
// lies closer to the midway point, or the angle is larger, zero or not a
// number: those are asked of the library. With AVX-512 the series takes
// eight angles at a time, elsewhere two.
void library_sines_cosines(const double* angles, std::size_t count, double* sines, double* cosines);

// The natural logarithms of a run of values, each exactly the double
// std::log gives for it; returns how many of them were asked of the library.
//
// The polar method of the random error takes the logarithm of every
// accepted pair's s = u^2 + v^2 in (0, 1], and the library's logarithm was
// the largest library cost left in the error stage. A short table and
// series give log x to about 0.0032 units in the last place, together
// with how far the value lies from the double it rounds to. The C
// library's log stays within about 0.52 units of the true value (it is
// correctly rounded but for some values near a tie), so wherever the true
// value lies within 0.45 units of that double, the library returns that
// double too: any other double is more than 0.55 units away. About one
// value in nine lies closer to the midway point, or is not a positive
// normal number, or its logarithm rounds to a power of two: those are
// asked of the library. Without AVX-512 every value is asked of it.
std::size_t library_logs(const double* values, std::size_t count, double* logs);

// deg_to_rad of a run of angles (in place too): the same doubles, worked
// out without a division where the processor has AVX-512 (the random
// attitude error converts three angles per pulse).
void degrees_to_radians(const double* degrees, std::size_t count, double* radians);

namespace library_math_detail {
// The method eight values at a time with AVX-512 (library_logs' way where
// the processor has it; elsewhere library_logs calls the library for every
// value), and one value at a time anywhere (slower than the library: the
// reference for the tests and the bench tool). Both give the library's
// doubles.
bool logs_avx512_available();
std::size_t library_logs_avx512(const double* values, std::size_t count, double* logs);
std::size_t library_logs_portable(const double* values, std::size_t count, double* logs);
// The table's and series' log x as d + *rest (d the double library_logs
// gives when it is sure), for a positive normal x.
double log_and_rest(double x, double* rest);
// library_sines_cosines eight angles at a time with AVX-512 (where
// logs_avx512_available) and two at a time anywhere: the same values.
void library_sines_cosines_avx512(const double* angles, std::size_t count, double* sines, double* cosines);
void library_sines_cosines_portable(const double* angles, std::size_t count, double* sines, double* cosines);
// degrees_to_radians eight angles at a time with AVX-512 and one at a time
// anywhere.
void degrees_to_radians_avx512(const double* degrees, std::size_t count, double* radians);
void degrees_to_radians_portable(const double* degrees, std::size_t count, double* radians);
}  // namespace library_math_detail
