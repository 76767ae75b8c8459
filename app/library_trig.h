#pragma once
#include <cstddef>

// The sines and cosines of a run of angles (radians), each exactly the
// double std::sin and std::cos give for it, worked out several at a time
// where the library's value is certain.
//
// The scanner's circular and elliptical patterns turn through thousands of
// radians in a survey, and the library's sin and cos of such angles (with
// their range reduction) were a large part of laser generation. For
// 2^-26 <= |x| <= 2^20 the angle is reduced to r in [-pi/4, pi/4] with pi/2
// in three parts, and sin r and cos r are taken from a table at multiples
// of 1/64 and short series, as a sum of two doubles within about 0.005 of a
// unit in the last place of the result. The C library's sin and cos stay
// within 0.55 units of the true value (they are correctly rounded in all
// but a few near-ties), so wherever the true value lies within 0.45 units
// of the double the sum rounds to, the library returns that double too: any
// other double is at least 0.55 units away. The rest (near a midway point,
// other angles, results that are powers of two, not a number) is asked of
// the library, as is everything on a processor without AVX-512 and FMA.
void library_sin_cos(const double* angles, std::size_t count, double* sines, double* cosines);
