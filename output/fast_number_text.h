#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

// append_g6 (stream-default "%g", six significant digits) made fast for the
// file writers, which format tens of millions of values. Ordinary values
// are formatted with one multiplication and integer digits; anything that
// could round differently (near-ties, zeros, huge, tiny, NaN, infinities)
// goes through the general routine, so the text is always exactly
// append_g6's.
void append_g6_fast(std::string& out, double value);

// The longest text put_g6_fast writes ("-1.23457e+308" and the like are
// 13 characters), with a margin.
constexpr std::size_t kMaxG6Text = 24;

// The same text written at p, which must have room for kMaxG6Text
// characters (bytes beyond the text may be written too); returns the end
// of the text. Inline: the writers put several numbers on every line.
inline char* put_g6_fast(char* p, double value);

namespace g6_detail {

// For a binary exponent e2 of -17..19 (the values of [1e-5, 1e6)): the
// decimal exponent of 2^e2, floor(e2 log10 2), and the next power of ten
// (the nearest double); a value of that binary exponent has the decimal
// exponent `rough`, or rough + 1 from `next` on.
struct ExponentStep {
    int rough;
    double next;
};
struct ExponentSteps {
    ExponentStep of[37];
};
extern const ExponentSteps kExponentSteps;
// 10^0 .. 10^22: every one is an exact double.
struct Powers {
    double of[23];
};
extern const Powers kPow10;
// "000" to "999", three characters each, the first in the low byte.
struct Triples {
    std::uint32_t of[1000];
};
extern const Triples kTriples;

// Every value the inline part leaves: zeros, the values outside [1e-5, 1e6)
// and near-ties.
char* put_wide(char* p, double value);
// Scientific notation d.ddddde+XX of six digits w (as digit_chars lays
// them, `last` the index of the last one that is not '0') with decimal
// exponent e (|e| <= 26).
char* put_scientific(char* p, std::uint64_t w, int last, int e);

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

// The six digits of `digits` (100000..999999) as eight characters in a
// register, the first in the lowest byte (two '0's after them as padding).
inline std::uint64_t digit_chars(std::uint32_t digits) {
    const std::uint32_t high = digits / 1000u;
    return std::uint64_t(kTriples.of[high]) | std::uint64_t(kTriples.of[digits - high * 1000u]) << 24 |
           std::uint64_t(0x3030) << 48;
}
// Index of the last digit of w that is not '0' (the first never is).
inline int last_digit(std::uint64_t w) { return last_nonzero_digit((w ^ 0x303030303030ull) & 0xffffffffffffull); }

// The texts of six digits w with decimal exponent e. The stores are 8
// bytes wide whatever the count; what lands beyond the text stays within
// the caller's kMaxG6Text and is overwritten or cut off by the caller.

// Fixed notation, e in 0..5: digits 0..e before the point, the rest after
// it without trailing zeros (no point when none is left: it is written
// anyway, beyond the text).
inline char* put_fixed(char* p, std::uint64_t w, int last, int e) {
    store8(p, w);
    p[e + 1] = '.';
    store8(p + e + 2, w >> (8 * (e + 1)));
    return p + (last <= e ? e + 1 : last + 2);
}

// Fixed notation, e in -4..-1: "0." and -e - 1 zeros before the digits.
inline char* put_small(char* p, std::uint64_t w, int last, int e) {
    std::memcpy(p, "0.000000", 8);
    store8(p + 1 - e, w);
    return p + 2 - e + last;
}

}  // namespace g6_detail

inline char* put_g6_fast(char* p, double value) {
    using namespace g6_detail;
    const double a = std::fabs(value);
    // The common case, values of [1e-5, 1e6) (coordinates, direction
    // cosines), along one short chain of dependent steps (a core works on
    // several values at once only while each one's chain is short); the
    // branches here go the same way for almost every value.
    if (!(a >= 1e-5 && a < 1e6)) {
        // Zeros are common (the attitude angles of a plain trajectory):
        // "0" or "-0", as the general routine writes them.
        if (a == 0.0) {
            *p = '-';
            p += std::signbit(value);
            *p = '0';
            return p + 1;
        }
        return put_wide(p, value);
    }
    // The decimal exponent e of a from its binary one: one of two, told
    // apart by a comparison with the next power of ten.
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const ExponentStep& step = kExponentSteps.of[(bits >> 52) - (1023 - 17)];
    int e = step.rough + (a >= step.next);
    const double m = a * kPow10.of[5 - e];  // one rounding of the exact product
    // m rounded to an integer: the magic addend leaves it in the low bits
    // (to nearest; ties and near-ties go to the careful routine), and the
    // rest m - round(m) is exact.
    constexpr double kRound = 6755399441055744.0;  // 1.5 * 2^52
    const double shifted = m + kRound;
    std::uint64_t rounded;
    std::memcpy(&rounded, &shifted, sizeof rounded);
    const double rest = m - (shifted - kRound);
    // m is within half an ulp (< 1.2e-10) of the exact scaled value, so its
    // rounding is the exact value's unless the rest is next to one half.
    // Outside [1e5, 1e6) is an exponent missed at a power of ten's edge.
    if (!(m >= 1e5 && m < 1e6) || std::fabs(rest) > 0.5 - 1e-8) return put_wide(p, value);
    std::uint32_t digits = static_cast<std::uint32_t>(rounded);
    if (digits == 1000000u) {  // 999999.6 -> 1.00000 of the next decade
        digits = 100000u;
        ++e;
    }
    const std::uint64_t w = digit_chars(digits);
    const int last = last_digit(w);
    *p = '-';
    p += value < 0;
    if (e >= 0 && e < 6) return put_fixed(p, w, last, e);
    if (e < 0 && e >= -4) return put_small(p, w, last, e);
    return put_scientific(p, w, last, e);
}
