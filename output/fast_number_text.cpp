#include "output/fast_number_text.h"

#include "app/number_text.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// 10^0 .. 10^22: every one is an exact double.
constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// |v| scaled by 10^(5 - e) with one rounding: multiplication or division by
// an exact power of ten.
inline double scale(double a, int e) { return e <= 5 ? a * kPow10[5 - e] : a / kPow10[e - 5]; }

// Decimal exponent of a (>= 1e-17, < 1e28), possibly off by one; the caller
// corrects it.
inline int rough_exponent(double a) {
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int e2 = static_cast<int>((bits >> 52) & 0x7ff) - 1023;  // a = 1.f * 2^e2
    return (e2 * 1233) >> 12;                                       // about e2 * log10(2)
}

}  // namespace

void append_g6_fast(std::string& out, double value) {
    const double a = std::fabs(value);
    // Outside this range (and for 0, NaN, infinities) the general routine
    // does the work.
    if (!(a >= 1e-17 && a < 1e27)) {
        append_g6(out, value);
        return;
    }
    int e = rough_exponent(a);
    if (e < -17) e = -17;
    if (e > 26) e = 26;
    double m = scale(a, e);
    // Bring m into [1e5, 1e6): rounding is monotone and both bounds are
    // exact, so these comparisons see the exact product's side.
    while (m < 1e5 && e > -17) m = scale(a, --e);
    while (m >= 1e6 && e < 26) m = scale(a, ++e);
    if (m < 1e5 || m >= 1e6) {
        append_g6(out, value);
        return;
    }
    // m is within half an ulp (< 1.2e-10) of the exact scaled value, so
    // rounding m gives the exact value's rounding unless the fraction is
    // next to one half: leave those to the exact routine.
    const std::uint32_t whole = static_cast<std::uint32_t>(m);
    const double frac = m - static_cast<double>(whole);
    if (std::fabs(frac - 0.5) < 1e-8) {
        append_g6(out, value);
        return;
    }
    std::uint32_t digits = whole + (frac > 0.5 ? 1u : 0u);
    if (digits == 1000000u) {  // 999999.6 -> 1.00000 of the next decade
        digits = 100000u;
        ++e;
    }

    char d[6];
    for (int i = 5; i >= 0; --i) {
        d[i] = static_cast<char>('0' + digits % 10u);
        digits /= 10u;
    }
    int last = 5;  // trailing zeros are dropped
    while (last > 0 && d[last] == '0') --last;

    // At most "-0.0000dddddd" or "-d.ddddde+XX".
    char text[16];
    char* p = text;
    if (value < 0) *p++ = '-';
    if (e >= -4 && e < 6) {
        // Fixed notation.
        if (e >= 0) {
            for (int i = 0; i <= e; ++i) *p++ = d[i];
            if (last > e) {
                *p++ = '.';
                for (int i = e + 1; i <= last; ++i) *p++ = d[i];
            }
        } else {
            *p++ = '0';
            *p++ = '.';
            for (int i = -1; i > e; --i) *p++ = '0';
            for (int i = 0; i <= last; ++i) *p++ = d[i];
        }
    } else {
        // Scientific: d.ddddde+XX, at least two exponent digits.
        *p++ = d[0];
        if (last > 0) {
            *p++ = '.';
            for (int i = 1; i <= last; ++i) *p++ = d[i];
        }
        *p++ = 'e';
        *p++ = e < 0 ? '-' : '+';
        const int x = e < 0 ? -e : e;
        *p++ = static_cast<char>('0' + x / 10);
        *p++ = static_cast<char>('0' + x % 10);
    }
    out.append(text, static_cast<std::size_t>(p - text));
}
