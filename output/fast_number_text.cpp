#include "output/fast_number_text.h"

#include <charconv>
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

// The general routine's text: the same call as append_g6.
char* put_g6_general(char* p, double value) {
    return std::to_chars(p, p + kMaxG6Text, value, std::chars_format::general, 6).ptr;
}

// "00" to "99", two characters each, the first in the low byte.
struct PairTable {
    std::uint16_t v[100];
};
constexpr PairTable make_pairs() {
    PairTable t{};
    for (int i = 0; i < 100; ++i) t.v[i] = static_cast<std::uint16_t>(('0' + i / 10) | ('0' + i % 10) << 8);
    return t;
}
constexpr PairTable kPairs = make_pairs();

// The eight bytes of w at p, lowest first.
inline void store8(char* p, std::uint64_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &w, 8);
#else
    for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(w >> (8 * i));
#endif
}

// Index of the highest non-zero byte of z (z != 0).
inline int last_nonzero_digit(std::uint64_t z) {
#if defined(__GNUC__)
    return (63 - __builtin_clzll(z)) >> 3;
#else
    int i = 7;
    while ((z >> (8 * i)) == 0) --i;
    return i;
#endif
}

}  // namespace

void append_g6_fast(std::string& out, double value) {
    char text[kMaxG6Text];
    out.append(text, put_g6_fast(text, value));
}

char* put_g6_fast(char* p, double value) {
    const double a = std::fabs(value);
    // Outside this range (and for NaN, infinities) the general routine does
    // the work. Zeros are common (the attitude angles of a plain
    // trajectory): "0" or "-0", as the general routine writes them.
    if (!(a >= 1e-17 && a < 1e27)) {
        if (a == 0.0) {
            if (std::signbit(value)) *p++ = '-';
            *p = '0';
            return p + 1;
        }
        return put_g6_general(p, value);
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
        return put_g6_general(p, value);
    }
    // m is within half an ulp (< 1.2e-10) of the exact scaled value, so
    // rounding m gives the exact value's rounding unless the fraction is
    // next to one half: leave those to the exact routine.
    const std::uint32_t whole = static_cast<std::uint32_t>(m);
    const double frac = m - static_cast<double>(whole);
    if (std::fabs(frac - 0.5) < 1e-8) {
        return put_g6_general(p, value);
    }
    std::uint32_t digits = whole + (frac > 0.5 ? 1u : 0u);
    if (digits == 1000000u) {  // 999999.6 -> 1.00000 of the next decade
        digits = 100000u;
        ++e;
    }

    // The six digits as eight characters in a register, the first in the
    // lowest byte (two trailing '0's as padding).
    const std::uint64_t w = std::uint64_t(kPairs.v[digits / 10000u]) |
                            std::uint64_t(kPairs.v[digits / 100u % 100u]) << 16 |
                            std::uint64_t(kPairs.v[digits % 100u]) << 32 | std::uint64_t(0x3030) << 48;
    // Trailing zeros are dropped: `last` is the last digit that is not '0'
    // (the first never is).
    const int last = last_nonzero_digit((w ^ 0x303030303030ull) & 0xffffffffffffull);

    // At most "-0.0000dddddd" or "-d.ddddde+XX". The stores are 8 bytes
    // wide whatever the count; what lands beyond the text stays within the
    // caller's kMaxG6Text and is overwritten or cut off by the caller.
    if (value < 0) *p++ = '-';
    if (e >= 0 && e < 6) {
        // Fixed notation, digits 0..e before the point.
        store8(p, w);
        if (last <= e) return p + e + 1;
        p[e + 1] = '.';
        store8(p + e + 2, w >> (8 * (e + 1)));
        return p + last + 2;
    }
    if (e < 0 && e >= -4) {
        // Fixed notation, "0." and -e - 1 zeros before the digits.
        std::memcpy(p, "0.000000", 8);
        store8(p + 1 - e, w);
        return p + 2 - e + last;
    }
    // Scientific: d.ddddde+XX, at least two exponent digits (|e| <= 26).
    *p = static_cast<char>(w);
    if (last > 0) {
        p[1] = '.';
        store8(p + 2, w >> 8);
        p += last + 2;
    } else {
        ++p;
    }
    const std::uint16_t x = kPairs.v[e < 0 ? -e : e];
    p[0] = 'e';
    p[1] = e < 0 ? '-' : '+';
    p[2] = static_cast<char>(x);
    p[3] = static_cast<char>(x >> 8);
    return p + 4;
}
