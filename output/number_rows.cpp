#include "output/number_rows.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
// The intrinsics' headers start vectors from an undefined value, which
// GCC 12 reports as (possibly) uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#define POINTFALL_NUMBER_ROWS_AVX512 1
#endif

namespace g6_detail {

namespace {

// One value at a time; with the column count known, the columns' calls
// are inlined one after the other, as a hand-written line would be.
template <int N>
__attribute__((flatten)) char* put_rows(char* p, const NumberRows& rows, std::size_t begin, std::size_t end) {
    const int columns = N > 0 ? N : rows.columns;
    for (std::size_t r = begin; r < end; ++r) {
        const unsigned char* record = rows.first + r * rows.stride;
#pragma GCC unroll 12
        for (int c = 0; c < columns; ++c) {
            double v;
            std::memcpy(&v, record + rows.offsets[c], sizeof v);
            p = put_g6_fast(p, v);
            *p++ = c == columns - 1 ? '\n' : ' ';
        }
    }
    return p;
}

}  // namespace

char* put_number_rows_scalar(char* p, const NumberRows& rows, std::size_t begin, std::size_t end) {
    switch (rows.columns) {
    case 3: return put_rows<3>(p, rows, begin, end);
    case 6: return put_rows<6>(p, rows, begin, end);
    case 9: return put_rows<9>(p, rows, begin, end);
    default: return put_rows<0>(p, rows, begin, end);
    }
}

#if POINTFALL_NUMBER_ROWS_AVX512

bool number_rows_avx512_available() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512cd");
}

#define POINTFALL_AVX512 __attribute__((target("avx512f,avx512dq,avx512bw,avx512vl,avx512cd")))

namespace {

// The texts of eight values, each with its separator: bytes 0..7 in lo,
// 8..15 in hi, `len` of them in use.
struct alignas(64) Texts8 {
    std::uint64_t lo[8], hi[8], len[8];
};

// A text of up to 16 bytes per lane.
struct Text8 {
    __m512i lo, hi, len;
};

POINTFALL_AVX512 inline __m512i constant(long long v) { return _mm512_set1_epi64(v); }
// A constant factor the compiler cannot see: it would turn the one
// multiplication into a longer chain of shifts and additions.
POINTFALL_AVX512 inline __m512i factor64(long long v) {
    __m512i x = _mm512_set1_epi64(v);
    asm("" : "+v"(x));
    return x;
}
POINTFALL_AVX512 inline __m512i factor32(int v) {
    __m512i x = _mm512_set1_epi32(v);
    asm("" : "+v"(x));
    return x;
}
// The lane's bytes below byte n (n <= 8); a shift by 64 or more gives 0.
POINTFALL_AVX512 inline __m512i low_bytes(__m512i x, __m512i n8) {
    return _mm512_andnot_si512(_mm512_sllv_epi64(constant(-1), n8), x);
}

// The three notations of six digit characters w (the first in the low byte)
// with decimal exponent e, `last` the index of the last digit that is not '0'.

// Fixed, e in 0..5: k = e + 1 digits, the point, the others; no point
// when none of them is left (it lies beyond the text).
POINTFALL_AVX512 inline Text8 fixed_texts(__m512i w, __m512i last, __m512i e) {
    const __m512i k = _mm512_add_epi64(e, constant(1));
    const __m512i k8 = _mm512_slli_epi64(k, 3);
    const __m512i lo = _mm512_or_si512(
        _mm512_or_si512(low_bytes(w, k8), _mm512_sllv_epi64(constant('.'), k8)),
        _mm512_sllv_epi64(_mm512_srlv_epi64(w, k8), _mm512_add_epi64(k8, constant(8))));
    const __m512i len =
        _mm512_mask_blend_epi64(_mm512_cmplt_epi64_mask(last, k), _mm512_add_epi64(last, constant(2)), k);
    return {lo, _mm512_setzero_si512(), len};
}

// Fixed, e in -4..-1: "0.", -e - 1 zeros and the digits from byte s = 1 - e.
POINTFALL_AVX512 inline Text8 small_texts(__m512i w, __m512i last, __m512i e) {
    const __m512i s = _mm512_sub_epi64(constant(1), e);
    const __m512i s8 = _mm512_slli_epi64(s, 3);
    const __m512i lo = _mm512_or_si512(low_bytes(constant(0x3030303030302e30), s8),  // "0.000000"
                                       _mm512_sllv_epi64(w, s8));
    const __m512i hi = _mm512_srlv_epi64(w, _mm512_sub_epi64(constant(64), s8));
    return {lo, hi, _mm512_add_epi64(_mm512_add_epi64(s, last), constant(1))};
}

// Scientific: the first digit, the point and the others when one is not
// '0' (n bytes), then "e", the exponent's sign and two digits (|e| < 100).
POINTFALL_AVX512 inline Text8 scientific_texts(__m512i w, __m512i last, __m512i e) {
    const __mmask8 point = _mm512_cmpgt_epi64_mask(last, _mm512_setzero_si512());
    const __m512i n = _mm512_mask_blend_epi64(point, constant(1), _mm512_add_epi64(last, constant(2)));
    const __m512i n8 = _mm512_slli_epi64(n, 3);
    const __m512i mantissa = low_bytes(
        _mm512_or_si512(_mm512_or_si512(_mm512_and_si512(w, constant(0xff)), constant('.' << 8)),
                        _mm512_slli_epi64(_mm512_srli_epi64(w, 8), 16)),
        n8);
    const __m512i ae = _mm512_abs_epi64(e);
    const __m512i tens = _mm512_srli_epi64(_mm512_mullo_epi64(ae, factor64(103)), 10);
    const __m512i units = _mm512_sub_epi64(ae, _mm512_mullo_epi64(tens, factor64(10)));
    const __m512i exponent = _mm512_or_si512(
        _mm512_mask_blend_epi64(_mm512_cmplt_epi64_mask(e, _mm512_setzero_si512()),
                                constant('e' | '+' << 8 | 0x3030 << 16), constant('e' | '-' << 8 | 0x3030 << 16)),
        _mm512_or_si512(_mm512_slli_epi64(tens, 16), _mm512_slli_epi64(units, 24)));
    return {_mm512_or_si512(mantissa, _mm512_sllv_epi64(exponent, n8)),
            _mm512_srlv_epi64(exponent, _mm512_sub_epi64(constant(64), n8)), _mm512_add_epi64(n, constant(4))};
}

POINTFALL_AVX512 inline Text8 blend(__mmask8 k, const Text8& a, const Text8& b) {
    return {_mm512_mask_blend_epi64(k, a.lo, b.lo), _mm512_mask_blend_epi64(k, a.hi, b.hi),
            _mm512_mask_blend_epi64(k, a.len, b.len)};
}

// put_g6_fast's steps for eight values at once, lane by lane the same
// floating-point operations (this file is compiled without contraction, so
// a product and a sum stay two roundings), for the lanes in `fast`: the
// values of [1e-5, 1e6) that are no near-tie. The others are left as
// they come.
POINTFALL_AVX512 inline Text8 fast_texts(__m512d a, __mmask8 inRange, __mmask8& fast) {
    const __m512i one = constant(1);
    // The decimal exponent: floor(e2 log10 2) from the binary one, plus one
    // from the next power of ten on (as kExponentSteps has them).
    const __m512i e2 = _mm512_sub_epi64(_mm512_srli_epi64(_mm512_castpd_si512(a), 52), constant(1023));
    const __m512i rough = _mm512_srai_epi64(_mm512_mullo_epi64(e2, factor64(1233)), 12);
    // 10^-5 .. 10^6 at indices 0..11 (the permutation reads 4 index bits).
    const __m512d next = _mm512_permutex2var_pd(_mm512_setr_pd(1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2),
                                                _mm512_add_epi64(rough, constant(6)),
                                                _mm512_setr_pd(1e3, 1e4, 1e5, 1e6, 1e6, 1e6, 1e6, 1e6));
    __m512i e = _mm512_mask_add_epi64(rough, _mm512_cmp_pd_mask(a, next, _CMP_GE_OQ), rough, one);
    // 10^0 .. 10^15 at indices 0..15; 5 - e is 0..10 in range.
    const __m512d scale = _mm512_permutex2var_pd(_mm512_setr_pd(1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7),
                                                 _mm512_sub_epi64(constant(5), e),
                                                 _mm512_setr_pd(1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15));
    const __m512d m = _mm512_mul_pd(a, scale);
    const __m512d kRound = _mm512_set1_pd(6755399441055744.0);  // 1.5 * 2^52
    const __m512d shifted = _mm512_add_pd(m, kRound);
    const __m512d rest = _mm512_sub_pd(m, _mm512_sub_pd(shifted, kRound));
    fast = _mm512_mask_cmp_pd_mask(inRange, m, _mm512_set1_pd(1e5), _CMP_GE_OQ);
    fast = _mm512_mask_cmp_pd_mask(fast, m, _mm512_set1_pd(1e6), _CMP_LT_OQ);
    fast = _mm512_mask_cmp_pd_mask(fast, _mm512_abs_pd(rest), _mm512_set1_pd(0.5 - 1e-8), _CMP_LE_OQ);

    __m512i digits = _mm512_and_si512(_mm512_castpd_si512(shifted), constant(0xffffffff));
    const __mmask8 carry = _mm512_cmpeq_epi64_mask(digits, constant(1000000));
    digits = _mm512_mask_mov_epi64(digits, carry, constant(100000));
    e = _mm512_mask_add_epi64(e, carry, e, one);

    // Six digit characters, the first in the low byte: the two halves of
    // three digits in the two 32-bit halves of the lane, then hundreds,
    // tens and units by multiplications.
    const __m512i high = _mm512_srli_epi64(_mm512_mul_epu32(digits, constant(4294968)), 32);  // / 1000
    const __m512i low = _mm512_sub_epi64(digits, _mm512_mullo_epi64(high, factor64(1000)));
    const __m512i x = _mm512_or_si512(high, _mm512_slli_epi64(low, 32));
    const __m512i hundreds = _mm512_srli_epi32(_mm512_mullo_epi32(x, factor32(41)), 12);
    const __m512i r = _mm512_sub_epi32(x, _mm512_mullo_epi32(hundreds, factor32(100)));
    const __m512i tens = _mm512_srli_epi32(_mm512_mullo_epi32(r, factor32(103)), 10);
    const __m512i units = _mm512_sub_epi32(r, _mm512_mullo_epi32(tens, factor32(10)));
    const __m512i triples =
        _mm512_or_si512(_mm512_or_si512(hundreds, _mm512_slli_epi32(tens, 8)),
                        _mm512_or_si512(_mm512_slli_epi32(units, 16), _mm512_set1_epi32(0x303030)));
    const __m512i w = _mm512_or_si512(_mm512_and_si512(triples, constant(0xffffffff)),
                                      _mm512_slli_epi64(_mm512_srli_epi64(triples, 32), 24));
    const __m512i last = _mm512_srli_epi64(
        _mm512_sub_epi64(constant(63), _mm512_lzcnt_epi64(_mm512_xor_si512(w, constant(0x303030303030)))), 3);

    // The notation of each lane. A column of a file mostly has one, which
    // is all that is worked out then.
    const __mmask8 isFixed = _mm512_mask_cmple_epi64_mask(_mm512_cmpge_epi64_mask(e, _mm512_setzero_si512()), e,
                                                          constant(5));
    const __mmask8 isSmall =
        _mm512_mask_cmplt_epi64_mask(_mm512_cmpge_epi64_mask(e, constant(-4)), e, _mm512_setzero_si512());
    if ((isFixed & fast) == fast) return fixed_texts(w, last, e);
    if ((isSmall & fast) == fast) return small_texts(w, last, e);
    const Text8 scientific = scientific_texts(w, last, e);
    if (((isFixed | isSmall) & fast) == 0) return scientific;
    return blend(isFixed, blend(isSmall, scientific, small_texts(w, last, e)), fixed_texts(w, last, e));
}

// The lanes in `wide` of v written by put_wide, each followed by the
// separator.
POINTFALL_AVX512 __attribute__((noinline)) void put_wide_lanes(__m512d v, unsigned wide, std::uint64_t separator,
                                                               Texts8& out) {
    alignas(64) double values[8];
    _mm512_store_pd(values, v);
    do {
        const int lane = __builtin_ctz(wide);
        wide &= wide - 1;
        char text[kMaxG6Text + 8] = {};
        char* end = put_wide(text, values[lane]);
        *end++ = static_cast<char>(separator);
        std::memcpy(&out.lo[lane], text, 8);
        std::memcpy(&out.hi[lane], text + 8, 8);
        out.len[lane] = static_cast<std::uint64_t>(end - text);
    } while (wide != 0);
}

// The texts of eight values, as put_g6_fast writes them, each followed by
// the separator. Inlined: eight rows of a file are this once per column.
POINTFALL_AVX512 __attribute__((always_inline)) inline void texts8(__m512d v, std::uint64_t separator, Texts8& out) {
    const __m512i one = constant(1);
    const __m512d a = _mm512_abs_pd(v);
    const __mmask8 negative = _mm512_movepi64_mask(_mm512_castpd_si512(v));
    const __mmask8 zero = _mm512_cmp_pd_mask(a, _mm512_setzero_pd(), _CMP_EQ_OQ);
    const __mmask8 inRange = _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(a, _mm512_set1_pd(1e-5), _CMP_GE_OQ), a,
                                                     _mm512_set1_pd(1e6), _CMP_LT_OQ);
    // Zeros are "0" (the sign comes below).
    Text8 t{constant('0'), _mm512_setzero_si512(), one};
    __mmask8 fast = 0;
    if (inRange != 0) {
        const Text8 f = fast_texts(a, inRange, fast);
        t = zero == 0 ? f : blend(zero, f, t);
    }

    // A minus sign in front: the text moves up one byte.
    t.hi = _mm512_mask_or_epi64(t.hi, negative, _mm512_slli_epi64(t.hi, 8), _mm512_srli_epi64(t.lo, 56));
    t.lo = _mm512_mask_or_epi64(t.lo, negative, _mm512_slli_epi64(t.lo, 8), constant('-'));
    t.len = _mm512_mask_add_epi64(t.len, negative, t.len, one);

    // The separator after the text, in lo or in hi (the other half stays
    // as it is: a shift by 64 or more gives 0).
    const __m512i sep = constant(static_cast<long long>(separator));
    const __m512i len8 = _mm512_slli_epi64(t.len, 3);
    t.lo = _mm512_or_si512(low_bytes(t.lo, len8), _mm512_sllv_epi64(sep, len8));
    const __m512i len8High = _mm512_sub_epi64(len8, constant(64));
    t.hi = _mm512_or_si512(low_bytes(t.hi, len8High), _mm512_sllv_epi64(sep, len8High));

    _mm512_store_si512(out.lo, t.lo);
    _mm512_store_si512(out.hi, t.hi);
    _mm512_store_si512(out.len, _mm512_add_epi64(t.len, one));

    // The rest: what put_g6_fast hands to put_wide.
    const unsigned wide = static_cast<unsigned>(~(fast | zero)) & 0xffu;
    if (wide != 0) put_wide_lanes(v, wide, separator, out);
}

// Three consecutive doubles at p of eight records `stride` bytes apart,
// as the eight first, second and third ones: loads of the triples turned
// around, cheaper than three gathers.
POINTFALL_AVX512 inline __m512d triple_pair(const unsigned char* p, std::size_t stride) {
    // [x y z 0] of the record at p and of the next one (the masked loads
    // read nothing beyond the triples).
    return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_maskz_loadu_pd(0x7, p)),
                              _mm256_maskz_loadu_pd(0x7, p + stride), 1);
}
POINTFALL_AVX512 inline void load_triples(const unsigned char* p, std::size_t stride, __m512d& x, __m512d& y,
                                          __m512d& z) {
    const __m512d r01 = triple_pair(p, stride), r23 = triple_pair(p + 2 * stride, stride),
                  r45 = triple_pair(p + 4 * stride, stride), r67 = triple_pair(p + 6 * stride, stride);
    const __m512i firstSecond = _mm512_setr_epi64(0, 4, 8, 12, 1, 5, 9, 13);
    const __m512i third = _mm512_setr_epi64(2, 6, 10, 14, 2, 6, 10, 14);
    const __m512d xy03 = _mm512_permutex2var_pd(r01, firstSecond, r23);  // x0..x3 y0..y3
    const __m512d xy47 = _mm512_permutex2var_pd(r45, firstSecond, r67);
    const __m512d z03 = _mm512_permutex2var_pd(r01, third, r23);
    const __m512d z47 = _mm512_permutex2var_pd(r45, third, r67);
    x = _mm512_shuffle_f64x2(xy03, xy47, _MM_SHUFFLE(1, 0, 1, 0));
    y = _mm512_shuffle_f64x2(xy03, xy47, _MM_SHUFFLE(3, 2, 3, 2));
    z = _mm512_shuffle_f64x2(z03, z47, _MM_SHUFFLE(1, 0, 1, 0));
}

}  // namespace

POINTFALL_AVX512 char* put_number_rows_avx512(char* p, const NumberRows& rows, std::size_t begin, std::size_t end) {
    const int columns = rows.columns;
    const __m512i recordOffsets = _mm512_mullo_epi64(_mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7),
                                                     _mm512_set1_epi64(static_cast<long long>(rows.stride)));
    Texts8 texts[NumberRows::kMaxColumns];
    __m512d values[NumberRows::kMaxColumns];
    char separators[NumberRows::kMaxColumns];
    // Columns c, c + 1, c + 2 that are three consecutive doubles.
    bool triple[NumberRows::kMaxColumns] = {};
    for (int c = 0; c < columns; ++c) {
        separators[c] = c == columns - 1 ? '\n' : ' ';
        triple[c] = c + 2 < columns && rows.offsets[c + 1] == rows.offsets[c] + 8 &&
                    rows.offsets[c + 2] == rows.offsets[c] + 16;
    }
    constexpr std::size_t kBlocksAhead = 4;
    std::size_t r = begin;
    for (; r + 8 <= end; r += 8) {
        const unsigned char* block = rows.first + r * rows.stride;
        // Eight records at a time do not start the hardware's prefetching
        // as a walk through them would: fetch the records of a later block
        // now.
        const std::size_t ahead = std::min(end, r + 8 * kBlocksAhead + 8);
        for (const unsigned char* q = rows.first + (r + 8 * kBlocksAhead) * rows.stride;
             q < rows.first + ahead * rows.stride; q += 64)
            _mm_prefetch(reinterpret_cast<const char*>(q), _MM_HINT_T0);
        for (int c = 0; c < columns;) {
            if (triple[c]) {
                load_triples(block + rows.offsets[c], rows.stride, values[c], values[c + 1], values[c + 2]);
                c += 3;
            } else {
                values[c] = _mm512_i64gather_pd(recordOffsets, block + rows.offsets[c], 1);
                ++c;
            }
        }
        // One copy of the column step, for all columns.
#pragma GCC unroll 1
        for (int c = 0; c < columns; ++c) texts8(values[c], separators[c], texts[c]);
        for (int lane = 0; lane < 8; ++lane) {
            for (int c = 0; c < columns; ++c) {
                store8(p, texts[c].lo[lane]);
                store8(p + 8, texts[c].hi[lane]);
                p += texts[c].len[lane];
            }
        }
    }
    return put_number_rows_scalar(p, rows, r, end);
}

#else

bool number_rows_avx512_available() { return false; }
char* put_number_rows_avx512(char* p, const NumberRows& rows, std::size_t begin, std::size_t end) {
    return put_number_rows_scalar(p, rows, begin, end);
}

#endif

}  // namespace g6_detail

namespace {

using RowsFunction = char* (*)(char*, const NumberRows&, std::size_t, std::size_t);

RowsFunction choose_rows_function() {
    return g6_detail::number_rows_avx512_available() ? g6_detail::put_number_rows_avx512
                                                     : g6_detail::put_number_rows_scalar;
}

}  // namespace

char* put_number_rows(char* p, const NumberRows& rows, std::size_t begin, std::size_t end) {
    static const RowsFunction function = choose_rows_function();
    return function(p, rows, begin, end);
}
