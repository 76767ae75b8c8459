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
// number: those are asked of the library.
void library_sines_cosines(const double* angles, std::size_t count, double* sines, double* cosines);
