#include "output/fast_number_text.h"

#include <charconv>
#include <cmath>

namespace g6_detail {

namespace {

// 10^-5 .. 10^6 as the nearest doubles.
constexpr double kPowersFrom1em5[12] = {1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};

constexpr ExponentSteps make_exponent_steps() {
    ExponentSteps t{};
    for (int e2 = -17; e2 <= 19; ++e2) {
        ExponentStep& s = t.of[e2 + 17];
        // floor(e2 log10 2) for every e2 of this range: 1233 / 4096 is
        // log10 2 to within 5e-6, and no e2 log10 2 here but 0 is that
        // close to a whole number.
        s.rough = (e2 * 1233) >> 12;
        s.next = kPowersFrom1em5[s.rough + 1 + 5];
    }
    return t;
}

constexpr Triples make_triples() {
    Triples t{};
    for (int i = 0; i < 1000; ++i)
        t.of[i] = static_cast<std::uint32_t>('0' + i / 100) | static_cast<std::uint32_t>('0' + i / 10 % 10) << 8 |
                  static_cast<std::uint32_t>('0' + i % 10) << 16;
    return t;
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

}  // namespace

constexpr ExponentSteps kExponentSteps = make_exponent_steps();
constexpr Powers kPow10 = {{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22}};
constexpr Triples kTriples = make_triples();

namespace {

// |v| scaled by 10^(5 - e) with one rounding: multiplication or division by
// an exact power of ten.
inline double scale(double a, int e) { return e <= 5 ? a * kPow10.of[5 - e] : a / kPow10.of[e - 5]; }

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

}  // namespace

char* put_scientific(char* p, std::uint64_t w, int last, int e) {
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

char* put_wide(char* p, double value) {
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
    const std::uint64_t w = digit_chars(digits);
    const int last = last_digit(w);
    if (value < 0) *p++ = '-';
    if (e >= 0 && e < 6) return put_fixed(p, w, last, e);
    if (e < 0 && e >= -4) return put_small(p, w, last, e);
    return put_scientific(p, w, last, e);
}

}  // namespace g6_detail

void append_g6_fast(std::string& out, double value) {
    char text[kMaxG6Text];
    out.append(text, put_g6_fast(text, value));
}
