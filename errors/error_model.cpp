#include "errors/error_model.h"

#include "app/angles.h"
#include "app/uniform_source.h"
#include "errors/library_math.h"

#include "output/writing_loop.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <stdexcept>

#include <emmintrin.h>

#if defined(__x86_64__) && defined(__GNUC__)
// The intrinsics' headers start vectors from an undefined value, which
// GCC 12 reports as (possibly) uninitialised.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#define POINTFALL_DRAWS_AVX512 1
#endif

namespace {
// The second deviate of the last polar draw, waiting for the next call.
double g_cached_deviate = 0.0;
bool g_cache_valid = false;
}  // namespace

double normal_deviate(double mean, double sigma) {
    if (g_cache_valid) {
        g_cache_valid = false;
        return mean + sigma * g_cached_deviate;
    }
    UniformSource& source = uniform_source();
    double u, v, s;
    do {
        const int r1 = source.next();
        const int r2 = source.next();
        u = 2.0 * r1 / 32767.0 - 1.0;
        v = 2.0 * r2 / 32767.0 - 1.0;
        s = u * u + v * v;
    } while (s == 0.0 || s > 1.0);  // s == 1 is accepted
    const double f = std::sqrt(-2.0 * std::log(s) / s);
    g_cached_deviate = v * f;
    g_cache_valid = true;
    return mean + sigma * (u * f);
}

void reset_normal_deviate() {
    g_cached_deviate = 0.0;
    g_cache_valid = false;
}

namespace {
CExampleGenerator& default_generator() {
    auto* generator = dynamic_cast<CExampleGenerator*>(&uniform_source());
    if (!generator) throw std::logic_error("the random state can be handed over only with the default generator");
    return *generator;
}
}  // namespace

NormalDeviateState normal_deviate_state() {
    NormalDeviateState state;
    state.uniform = default_generator().state();
    state.cached = g_cache_valid;
    state.deviate = g_cache_valid ? g_cached_deviate : 0.0;
    return state;
}

void restore_normal_deviate_state(const NormalDeviateState& state) {
    default_generator().seed(state.uniform);
    g_cache_valid = state.cached;
    g_cached_deviate = state.cached ? state.deviate : 0.0;
}

namespace {

// The polar method's verdict on a pair of draws, with normal_deviate's own
// expressions (so the same doubles and the same verdicts).
inline bool polar_verdict(int r1, int r2, double* u, double* v, double* s) {
    *u = 2.0 * r1 / 32767.0 - 1.0;
    *v = 2.0 * r2 / 32767.0 - 1.0;
    *s = *u * *u + *v * *v;
    return !(*s == 0.0 || *s > 1.0);
}

bool polar_verdict(int r1, int r2) {
    double u, v, s;
    return polar_verdict(r1, r2, &u, &v, &s);
}

// The method's coordinate 2 r / 32767 - 1 of every draw r, with its own
// expression (so the same double): a look-up instead of a division.
struct PolarCoordinates {
    double of[32768];
};

PolarCoordinates build_polar_coordinates() {
    PolarCoordinates c{};
    for (int r = 0; r < 32768; ++r) c.of[r] = 2.0 * r / 32767.0 - 1.0;
    return c;
}

const PolarCoordinates& polar_coordinates() {
    static const PolarCoordinates table = build_polar_coordinates();
    return table;
}

// For each first draw r1, the second draws the method accepts: the interval
// [low, low + width). v rises with r2, |v| falls up to r2 = 16383 and rises
// from 16384, and rounding keeps every step monotone, so the accepted r2
// are those around the middle: found by two binary searches per r1.
struct PolarTable {
    std::uint16_t low[32768];
    std::uint16_t width[32768];
};

PolarTable build_polar_table() {
    PolarTable t{};
    for (int r1 = 0; r1 < 32768; ++r1) {
        int a = 0, b = 16384;  // first accepted r2 below the middle (b: none)
        while (a < b) {
            const int m = (a + b) / 2;
            if (polar_verdict(r1, m)) b = m; else a = m + 1;
        }
        const int low = a;
        int c = 16384, d = 32768;  // first rejected r2 above the middle
        while (c < d) {
            const int m = (c + d) / 2;
            if (polar_verdict(r1, m)) c = m + 1; else d = m;
        }
        const int high = c;  // one past the last accepted
        // Nothing accepted below the middle: the interval starts above it.
        const int first = low < 16384 ? low : 16384;
        t.low[r1] = static_cast<std::uint16_t>(first);
        t.width[r1] = static_cast<std::uint16_t>(high > first ? high - first : 0);
    }
    return t;
}

const PolarTable& polar_table() {
    static const PolarTable table = build_polar_table();
    return table;
}

// The accepted interval is symmetric about the middle, r2 in [low,
// 32768 - low), and low is the same for r1 and 32767 - r1: the verdict
// then needs only the lows of the first half. With r folded onto the
// first half (32767 - r is r with its fifteen bits flipped), a pair is
// accepted when fold(r2) >= low[fold(r1)]. The symmetry is checked
// against the full table when the table is made; without it (it holds
// for the method's doubles) the full table is used.
struct FoldedPolarTable {
    std::uint16_t low[16384 + 2];  // two beyond: the gathers read four bytes at each entry
    bool valid = false;

    static std::uint32_t fold(std::uint32_t r) { return r ^ ((0u - (r >> 14)) & 0x7fffu); }
    bool accepts(std::uint32_t r1, std::uint32_t r2) const { return fold(r2) >= low[fold(r1)]; }
};

FoldedPolarTable build_folded_polar_table() {
    const PolarTable& t = polar_table();
    FoldedPolarTable f{};
    bool symmetric = true;
    for (int r1 = 0; r1 < 32768; ++r1) {
        symmetric = symmetric && t.low[r1] <= 16384 && t.width[r1] == 32768 - 2 * t.low[r1] &&
                    t.low[r1] == t.low[32767 - r1];
        if (r1 < 16384) f.low[r1] = t.low[r1];
    }
    f.valid = symmetric;
    return f;
}

const FoldedPolarTable& folded_polar_table() {
    static const FoldedPolarTable table = build_folded_polar_table();
    return table;
}

#if POINTFALL_DRAWS_AVX512

bool draws_avx512_available() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f");
}

// The tries sixteen at a time, one per lane, while sixteen more accepted
// pairs are wanted: each lane's two states jump 32 steps per group (the
// affine map composed), the verdicts are the folded table's (gathered),
// and the accepted pairs are packed in order. Advances the state `x` past
// the groups and returns the pairs stored.
__attribute__((target("avx512f"))) std::size_t draw_pairs_avx512(std::uint32_t& x, std::uint32_t* out,
                                                                  std::size_t wanted, const FoldedPolarTable& table) {
    alignas(64) std::uint32_t firstA[16], firstC[16], secondA[16], secondC[16];
    for (std::uint32_t k = 0; k < 16; ++k) {
        firstC[k] = CExampleGenerator::jump(0u, 2 * k + 1);
        firstA[k] = CExampleGenerator::jump(1u, 2 * k + 1) - firstC[k];
        secondC[k] = CExampleGenerator::jump(0u, 2 * k + 2);
        secondA[k] = CExampleGenerator::jump(1u, 2 * k + 2) - secondC[k];
    }
    const std::uint32_t c32 = CExampleGenerator::jump(0u, 32);
    const std::uint32_t a32 = CExampleGenerator::jump(1u, 32) - c32;
    const __m512i start = _mm512_set1_epi32(static_cast<int>(x));
    __m512i first = _mm512_add_epi32(_mm512_mullo_epi32(start, _mm512_load_si512(firstA)), _mm512_load_si512(firstC));
    __m512i second =
        _mm512_add_epi32(_mm512_mullo_epi32(start, _mm512_load_si512(secondA)), _mm512_load_si512(secondC));
    const __m512i jumpA = _mm512_set1_epi32(static_cast<int>(a32)), jumpC = _mm512_set1_epi32(static_cast<int>(c32));
    const __m512i draw = _mm512_set1_epi32(0x7fff);
    std::size_t j = 0;
    while (j + 16 <= wanted) {
        const __m512i r1 = _mm512_and_si512(_mm512_srli_epi32(first, 16), draw);
        const __m512i r2 = _mm512_and_si512(_mm512_srli_epi32(second, 16), draw);
        const __m512i pair = _mm512_or_si512(r1, _mm512_slli_epi32(r2, 16));
        // fold(r) = min(r, 32767 - r).
        const __m512i fold1 = _mm512_min_epu32(r1, _mm512_sub_epi32(draw, r1));
        const __m512i fold2 = _mm512_min_epu32(r2, _mm512_sub_epi32(draw, r2));
        const __m512i low = _mm512_and_si512(_mm512_i32gather_epi32(fold1, table.low, 2), _mm512_set1_epi32(0xffff));
        const __mmask16 accepted = _mm512_cmpge_epu32_mask(fold2, low);
        _mm512_storeu_si512(out + j, _mm512_maskz_compress_epi32(accepted, pair));
        j += static_cast<unsigned>(__builtin_popcount(accepted));
        first = _mm512_add_epi32(_mm512_mullo_epi32(first, jumpA), jumpC);
        second = _mm512_add_epi32(_mm512_mullo_epi32(second, jumpA), jumpC);
        x = x * a32 + c32;
    }
    return j;
}

#else

bool draws_avx512_available() { return false; }
std::size_t draw_pairs_avx512(std::uint32_t&, std::uint32_t*, std::size_t, const FoldedPolarTable&) { return 0; }

#endif

}  // namespace

bool polar_pair_accepted(int r1, int r2) {
    const FoldedPolarTable& folded = folded_polar_table();
    if (folded.valid) return folded.accepts(static_cast<std::uint32_t>(r1), static_cast<std::uint32_t>(r2));
    const PolarTable& t = polar_table();
    return static_cast<unsigned>(r2 - t.low[r1]) < t.width[r1];
}

NormalDeviateState skip_normal_deviates(NormalDeviateState from, std::uint64_t count) {
    if (count == 0) return from;
    if (from.cached) {
        from.cached = false;
        from.deviate = 0.0;
        --count;
    }
    // Each polar draw gives two deviates; an odd count leaves the second
    // one of the last draw in the cache.
    const std::uint64_t draws = (count + 1) / 2;
    const PolarTable& t = polar_table();
    // Two steps of the generator as one affine map, so each try waits for
    // one multiplication: x -> x * a2 + c2.
    const std::uint32_t c2 = CExampleGenerator::jump(0u, 2);
    const std::uint32_t a2 = CExampleGenerator::jump(1u, 2) - c2;
    std::uint32_t x = from.uniform, first = 0;
    // Without a branch per try: count the accepted tries and stop right
    // after the one that completes the draws.
    for (std::uint64_t accepted = 0; accepted < draws;) {
        first = CExampleGenerator::step(x);
        x = x * a2 + c2;
        const int r1 = CExampleGenerator::draw_of(first);
        const int r2 = CExampleGenerator::draw_of(x);
        accepted += static_cast<unsigned>(r2 - t.low[r1]) < t.width[r1];
    }
    from.uniform = x;
    if (count % 2 == 1) {
        double u, v, s;
        polar_verdict(CExampleGenerator::draw_of(first), CExampleGenerator::draw_of(x), &u, &v, &s);
        from.cached = true;
        from.deviate = v * std::sqrt(-2.0 * std::log(s) / s);
    }
    return from;
}

std::uint64_t deviates_per_laser(bool random, bool overall) { return (random ? 7u : 0u) + (overall ? 3u : 0u); }

namespace {

inline void recompute_hit_point(LaserLine& laser) {
    laser.hitPoint = laser.origin + laser.direction * laser.range;
}

}  // namespace

namespace {

// Lasers per block of drawn deviates: a few megabytes at most.
constexpr std::size_t kDrawBlock = std::size_t(1) << 16;
// Lasers per piece of parallel work.
constexpr std::size_t kApplyPiece = 4096;

void in_pieces(unsigned threads, std::size_t count, const std::function<void(std::size_t, std::size_t)>& body) {
    const std::size_t pieces = (count + kApplyPiece - 1) / kApplyPiece;
    run_parallel(threads, pieces, [&](std::size_t p) { body(p * kApplyPiece, std::min(count, (p + 1) * kApplyPiece)); });
}

// A run of standard deviates (normal_deviate(0, 1) in a row) as drawn in
// bulk: the deviate cached before the run, if any, then the two deviates of
// every accepted polar pair in turn. The draws (the generator steps and the
// verdicts) are made in order on one thread; turning a pair into its
// deviates (logarithm, square root) depends on the pair alone, so any
// thread may do it for any part of the run.
struct DeviateRun {
    bool leading = false;  // whether the run starts with the cached deviate
    double lead = 0.0;
    const std::uint32_t* pairs = nullptr;  // r1 | r2 << 16 per accepted pair

    // normal_deviate's expressions for the pair's two deviates.
    static void pair_deviates(std::uint32_t pair, double* first, double* second) {
        const int r1 = static_cast<int>(pair & 0xffffu);
        const int r2 = static_cast<int>(pair >> 16);
        const double u = 2.0 * r1 / 32767.0 - 1.0;
        const double v = 2.0 * r2 / 32767.0 - 1.0;
        const double s = u * u + v * v;
        const double f = std::sqrt(-2.0 * std::log(s) / s);
        *first = u * f;
        *second = v * f;
    }

    // Deviates [begin, end) of the run into out[0, end - begin).
    void fill(std::size_t begin, std::size_t end, double* out) const {
        std::size_t k = begin;
        if (k < end && leading && k == 0) {
            *out++ = lead;
            ++k;
        }
        std::size_t m = k - (leading ? 1 : 0);  // position among the pairs' deviates
        double first, second;
        if (k < end && m % 2 == 1) {
            pair_deviates(pairs[m / 2], &first, &second);
            *out++ = second;
            ++k, ++m;
        }
        // The whole pairs in blocks, in two passes: every s and its
        // logarithm first (library_logs, the library's doubles), then the
        // rest. The coordinates are looked up (the same doubles as the
        // method's expressions).
        const double* const coordinate = polar_coordinates().of;
        const std::size_t whole = (end - k) / 2;
        const std::uint32_t* p = pairs + m / 2;
        constexpr std::size_t kBlock = 256;
        double uBlock[kBlock], vBlock[kBlock], sBlock[kBlock], logBlock[kBlock];
        for (std::size_t block = 0; block < whole; block += kBlock) {
            const std::size_t n = std::min(kBlock, whole - block);
            const std::uint32_t* const q = p + block;
            double* const o = out + 2 * block;
            for (std::size_t j = 0; j < n; ++j) {
                const double u = coordinate[q[j] & 0xffffu];
                const double v = coordinate[q[j] >> 16];
                uBlock[j] = u;
                vBlock[j] = v;
                sBlock[j] = u * u + v * v;
            }
            library_logs(sBlock, n, logBlock);
            // Two pairs at a time: the same divisions and square roots
            // (both correctly rounded, packed or not), side by side.
            std::size_t j = 0;
            const __m128d minusTwo = _mm_set1_pd(-2.0);
            for (; j + 2 <= n; j += 2) {
                const __m128d s = _mm_loadu_pd(sBlock + j), logS = _mm_loadu_pd(logBlock + j);
                const __m128d f = _mm_sqrt_pd(_mm_div_pd(_mm_mul_pd(minusTwo, logS), s));
                const __m128d uf = _mm_mul_pd(_mm_loadu_pd(uBlock + j), f);
                const __m128d vf = _mm_mul_pd(_mm_loadu_pd(vBlock + j), f);
                _mm_storeu_pd(o + 2 * j, _mm_unpacklo_pd(uf, vf));
                _mm_storeu_pd(o + 2 * j + 2, _mm_unpackhi_pd(uf, vf));
            }
            for (; j < n; ++j) {
                const double f = std::sqrt(-2.0 * logBlock[j] / sBlock[j]);
                o[2 * j] = uBlock[j] * f;
                o[2 * j + 1] = vBlock[j] * f;
            }
        }
        out += 2 * whole;
        k += 2 * whole;
        m += 2 * whole;
        if (k < end) {
            pair_deviates(pairs[m / 2], &first, &second);
            *out = first;
        }
    }
};

// Draws the next `count` deviates from the default generator as
// normal_deviate calls would, leaving the generator and the cached
// deviate where those calls leave them; the accepted pairs go to `pairs`.
DeviateRun draw_deviates(CExampleGenerator& generator, std::size_t count, std::vector<std::uint32_t>& pairs) {
    DeviateRun run;
    if (count == 0) return run;
    if (g_cache_valid) {
        run.leading = true;
        run.lead = g_cached_deviate;
        g_cache_valid = false;
        --count;
    }
    const std::size_t wanted = (count + 1) / 2;
    pairs.resize(std::max<std::size_t>(wanted, 1));
    const PolarTable& t = polar_table();
    // Two steps of the generator as one affine map; no branch per try: the
    // pair is stored and kept (its slot passed) only when accepted.
    const std::uint32_t c2 = CExampleGenerator::jump(0u, 2);
    const std::uint32_t a2 = CExampleGenerator::jump(1u, 2) - c2;
    std::uint32_t x = generator.state();
    std::uint32_t* out = pairs.data();
    const FoldedPolarTable& folded = folded_polar_table();
    if (folded.valid) {
        // The folded table (a quarter of the size, in the nearest cache).
        static const bool wide = draws_avx512_available();
        std::size_t j = wide ? draw_pairs_avx512(x, out, wanted, folded) : 0;
        while (j < wanted) {
            const std::uint32_t first = CExampleGenerator::step(x);
            x = x * a2 + c2;
            const auto r1 = static_cast<std::uint32_t>(CExampleGenerator::draw_of(first));
            const auto r2 = static_cast<std::uint32_t>(CExampleGenerator::draw_of(x));
            out[j] = r1 | r2 << 16;
            j += folded.accepts(r1, r2);
        }
    } else {
        for (std::size_t j = 0; j < wanted;) {
            const std::uint32_t first = CExampleGenerator::step(x);
            x = x * a2 + c2;
            const auto r1 = static_cast<std::uint32_t>(CExampleGenerator::draw_of(first));
            const auto r2 = static_cast<std::uint32_t>(CExampleGenerator::draw_of(x));
            out[j] = r1 | r2 << 16;
            j += static_cast<std::uint32_t>(r2 - t.low[r1]) < t.width[r1];
        }
    }
    generator.seed(x);
    if (count % 2 == 1) {
        // The last pair's second deviate waits for the next draw.
        double first;
        DeviateRun::pair_deviates(pairs[wanted - 1], &first, &g_cached_deviate);
        g_cache_valid = true;
    }
    run.pairs = pairs.data();
    return run;
}

inline void apply_systematic(LaserLine& laser, const Vec3& offset, double range, const AttitudeTrig& trig) {
    laser.origin = laser.origin + offset;
    laser.range += range;
    laser.rotate_direction(trig);
    recompute_hit_point(laser);
}

// The systematic error: the same for every laser.
struct Systematic {
    Vec3 offset;
    double range;
    AttitudeTrig trig;
};


// Lasers per block of turns: their angles, then the sines and cosines
// (the library's values, see library_sines_cosines), then the records.
constexpr std::size_t kTurnBlock = 64;

// The systematic error (when given) and the random error with seven
// standard deviates z per laser, laser by laser; the same steps and the
// same roundings as apply_systematic followed by the random error's
// offsets, range and turn (rotate_direction with the angles), its hit
// point recomputed once at the end (the systematic one is overwritten).
void perturb(LaserLine* lasers, std::size_t count, const double* z, const Systematic* fixed, const double* s) {
    double angle[3][kTurnBlock], sine[3][kTurnBlock], cosine[3][kTurnBlock];
    for (std::size_t block = 0; block < count; block += kTurnBlock, z += 7 * kTurnBlock) {
        const std::size_t n = std::min(kTurnBlock, count - block);
        LaserLine* const run = lasers + block;
        // normal_deviate(0, sigma) is 0.0 + sigma * z.
        for (std::size_t i = 0; i < n; ++i) {
            angle[0][i] = 0.0 + s[3] * z[7 * i + 3];
            angle[1][i] = 0.0 + s[4] * z[7 * i + 4];
            angle[2][i] = 0.0 + s[5] * z[7 * i + 5];
        }
        for (int a = 0; a < 3; ++a) {
            degrees_to_radians(angle[a], n, angle[a]);
            library_sines_cosines(angle[a], n, sine[a], cosine[a]);
        }
        // Two lasers at a time, one in each lane: the same products and
        // sums in the same order as the loop below (which takes the last
        // laser of an odd block).
        std::size_t pair = 0;
        for (; pair + 2 <= n; pair += 2) {
            LaserLine& l0 = run[pair];
            LaserLine& l1 = run[pair + 1];
            const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(run + pair) + 16 * sizeof(LaserLine);
            __builtin_prefetch(reinterpret_cast<const void*>(ahead), 1);
            __builtin_prefetch(reinterpret_cast<const void*>(ahead + 64), 1);
            __builtin_prefetch(reinterpret_cast<const void*>(ahead + 128), 1);
            __builtin_prefetch(reinterpret_cast<const void*>(ahead + 192), 1);
            const double* const d0 = z + 7 * pair;
            const double* const d1 = d0 + 7;
            Lanes3 origin{_mm_set_pd(l1.origin.x, l0.origin.x), _mm_set_pd(l1.origin.y, l0.origin.y),
                          _mm_set_pd(l1.origin.z, l0.origin.z)};
            Lanes3 direction{_mm_set_pd(l1.direction.x, l0.direction.x), _mm_set_pd(l1.direction.y, l0.direction.y),
                             _mm_set_pd(l1.direction.z, l0.direction.z)};
            __m128d range = _mm_set_pd(l1.range, l0.range);
            if (fixed) {
                origin.x = _mm_add_pd(origin.x, _mm_set1_pd(fixed->offset.x));
                origin.y = _mm_add_pd(origin.y, _mm_set1_pd(fixed->offset.y));
                origin.z = _mm_add_pd(origin.z, _mm_set1_pd(fixed->offset.z));
                range = _mm_add_pd(range, _mm_set1_pd(fixed->range));
                const AttitudeTrig& f = fixed->trig;
                direction = rotate_lanes(direction, _mm_set1_pd(f.cr), _mm_set1_pd(f.sr), _mm_set1_pd(f.cp),
                                         _mm_set1_pd(f.sp), _mm_set1_pd(f.cy), _mm_set1_pd(f.sy));
            }
            auto deviate = [&](int k, int sigma) {
                return _mm_add_pd(_mm_setzero_pd(), _mm_mul_pd(_mm_set1_pd(s[sigma]), _mm_set_pd(d1[k], d0[k])));
            };
            origin.x = _mm_add_pd(origin.x, deviate(2, 0));
            origin.y = _mm_add_pd(origin.y, deviate(1, 1));
            origin.z = _mm_add_pd(origin.z, deviate(0, 2));
            range = _mm_add_pd(range, deviate(6, 6));
            direction = rotate_lanes(direction, _mm_loadu_pd(cosine[0] + pair), _mm_loadu_pd(sine[0] + pair),
                                     _mm_loadu_pd(cosine[1] + pair), _mm_loadu_pd(sine[1] + pair),
                                     _mm_loadu_pd(cosine[2] + pair), _mm_loadu_pd(sine[2] + pair));
            const __m128d hx = _mm_add_pd(origin.x, _mm_mul_pd(direction.x, range));
            const __m128d hy = _mm_add_pd(origin.y, _mm_mul_pd(direction.y, range));
            const __m128d hz = _mm_add_pd(origin.z, _mm_mul_pd(direction.z, range));
            store_lanes(origin.x, origin.y, origin.z, l0.origin, l1.origin);
            store_lanes(direction.x, direction.y, direction.z, l0.direction, l1.direction);
            store_lanes(hx, hy, hz, l0.hitPoint, l1.hitPoint);
            _mm_storel_pd(&l0.range, range);
            _mm_storeh_pd(&l1.range, range);
        }
        for (std::size_t i = pair; i < n; ++i) {
            LaserLine& laser = run[i];
#if defined(__GNUC__)
            // The records a few ahead, both of their cache lines (a hint:
            // past the end it fetches nothing that matters).
            const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(run + i) + 16 * sizeof(LaserLine);
            __builtin_prefetch(reinterpret_cast<const void*>(ahead), 1);
            __builtin_prefetch(reinterpret_cast<const void*>(ahead + 64), 1);
#endif
            const double* const d = z + 7 * i;
            Vec3 origin = laser.origin;
            Vec3 direction = laser.direction;
            double range = laser.range;
            if (fixed) {
                origin = origin + fixed->offset;
                range += fixed->range;
                direction = rotate_vector(direction, fixed->trig);
            }
            // The draw order (Z before Y before X) fixes which deviate goes
            // where.
            origin = origin + Vec3{0.0 + s[0] * d[2], 0.0 + s[1] * d[1], 0.0 + s[2] * d[0]};
            range += 0.0 + s[6] * d[6];
            direction = rotate_vector(direction, AttitudeTrig{cosine[0][i], sine[0][i], cosine[1][i], sine[1][i],
                                                                   cosine[2][i], sine[2][i]});
            laser.origin = origin;
            laser.direction = direction;
            laser.range = range;
            laser.hitPoint = origin + direction * range;
        }
    }
}

}  // namespace

ErrorStep::ErrorStep(const std::vector<double>* systematic, const std::vector<double>* random,
                     const std::vector<double>* overall, unsigned threads)
    : systematic_(systematic), random_(random), overall_(overall), threads_(threads) {
    if (systematic_ && systematic_->size() < 7) throw std::invalid_argument("systematic error needs 7 values");
    if (random_ && random_->size() < 7) throw std::invalid_argument("random error needs 7 values");
    if (overall_ && overall_->size() < 3) throw std::invalid_argument("overall error needs 3 values");
}

void ErrorStep::apply(LaserLine* lasers, std::size_t count) {
    // Each laser goes through systematic, then random, then overall error;
    // the lasers do not depend on each other, so a laser may take all its
    // steps at once. Only the order of the draws matters, and the draws
    // are made in survey order on this thread.
    Vec3 offset;
    double range = 0.0;
    AttitudeTrig trig;
    if (systematic_) {
        const std::vector<double>& v = *systematic_;
        offset = Vec3{v[0], v[1], v[2]};
        range = v[6];
        // The same turn for every laser: its sines and cosines once.
        trig = attitude_trig(v[3], v[4], v[5]);
    }
    auto* generator = dynamic_cast<CExampleGenerator*>(&uniform_source());
    if (random_ && generator) {
        const std::vector<double>& sd = *random_;
        const double s[7] = {sd[0], sd[1], sd[2], sd[3], sd[4], sd[5], sd[6]};
        const bool systematic = systematic_ != nullptr;
        const Systematic fixed{offset, range, trig};
        deviates_.resize(7 * std::min(count, kDrawBlock));
        // With several threads the next block's draws are made on a thread
        // of their own while this block is applied (the draws stay in
        // order, one block after the other); on one thread, in turn.
        const bool ahead = writer_threads(threads_) > 1 && count > kDrawBlock;
        std::vector<std::uint32_t>* buffers[2] = {&pairs_, &pairsAhead_};
        DeviateRun drawn = draw_deviates(*generator, 7 * std::min(kDrawBlock, count), *buffers[0]);
        for (std::size_t block = 0, b = 0; block < count; block += kDrawBlock, ++b) {
            const std::size_t n = std::min(kDrawBlock, count - block);
            const std::size_t nextBlock = block + kDrawBlock;
            const std::size_t nextCount = nextBlock < count ? std::min(kDrawBlock, count - nextBlock) : 0;
            std::future<DeviateRun> next;
            std::vector<std::uint32_t>& nextPairs = *buffers[(b + 1) % 2];
            if (nextCount > 0 && ahead)
                next = std::async(std::launch::async,
                                  [generator, nextCount, &nextPairs] { return draw_deviates(*generator, 7 * nextCount, nextPairs); });
            LaserLine* run = lasers + block;
            double* const deviates = deviates_.data();
            in_pieces(threads_, n, [&](std::size_t begin, std::size_t end) {
                double* const z = deviates + 7 * begin;
                drawn.fill(7 * begin, 7 * end, z);
                perturb(run + begin, end - begin, z, systematic ? &fixed : nullptr, s);
            });
            if (next.valid()) {
                drawn = next.get();
            } else if (nextCount > 0) {
                drawn = draw_deviates(*generator, 7 * nextCount, nextPairs);
            }
        }
    } else {
        if (systematic_) {
            in_pieces(threads_, count, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) apply_systematic(lasers[i], offset, range, trig);
            });
        }
        if (random_) {
            // Another uniform source than the default generator: drawn call
            // by call.
            const std::vector<double>& s = *random_;
            deviates_.resize(7 * std::min(count, kDrawBlock));
            for (std::size_t block = 0; block < count; block += kDrawBlock) {
                const std::size_t n = std::min(kDrawBlock, count - block);
                double* e = deviates_.data();
                // The draw order (Z before Y before X) fixes which deviate goes
                // where for a given random state; keep it.
                for (std::size_t i = 0; i < n; ++i, e += 7) {
                    e[2] = normal_deviate(0.0, s[2]);
                    e[1] = normal_deviate(0.0, s[1]);
                    e[0] = normal_deviate(0.0, s[0]);
                    e[3] = normal_deviate(0.0, s[3]);
                    e[4] = normal_deviate(0.0, s[4]);
                    e[5] = normal_deviate(0.0, s[5]);
                    e[6] = normal_deviate(0.0, s[6]);
                }
                LaserLine* run = lasers + block;
                const double* drawn = deviates_.data();
                in_pieces(threads_, n, [&](std::size_t begin, std::size_t end) {
                    for (std::size_t i = begin; i < end; ++i) {
                        const double* d = drawn + 7 * i;
                        LaserLine& laser = run[i];
                        laser.origin = laser.origin + Vec3{d[0], d[1], d[2]};
                        laser.range += d[6];
                        laser.rotate_direction(d[3], d[4], d[5]);
                        recompute_hit_point(laser);
                    }
                });
            }
        }
    }
    if (overall_) {
        const std::vector<double>& s = *overall_;
        deviates_.resize(3 * std::min(count, kDrawBlock));
        for (std::size_t block = 0; block < count; block += kDrawBlock) {
            const std::size_t n = std::min(kDrawBlock, count - block);
            LaserLine* run = lasers + block;
            double* const deviates = deviates_.data();
            if (generator) {
                const DeviateRun drawn = draw_deviates(*generator, 3 * n, pairs_);
                in_pieces(threads_, n, [&](std::size_t begin, std::size_t end) {
                    double* z = deviates + 3 * begin;
                    drawn.fill(3 * begin, 3 * end, z);
                    for (std::size_t i = begin; i < end; ++i, z += 3) {
                        const Vec3 d{0.0 + s[0] * z[2], 0.0 + s[1] * z[1], 0.0 + s[2] * z[0]};
                        run[i].hitPoint = run[i].hitPoint + d;
                    }
                });
                continue;
            }
            double* e = deviates;
            for (std::size_t i = 0; i < n; ++i, e += 3) {
                e[2] = normal_deviate(0.0, s[2]);
                e[1] = normal_deviate(0.0, s[1]);
                e[0] = normal_deviate(0.0, s[0]);
            }
            in_pieces(threads_, n, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) {
                    const double* d = deviates + 3 * i;
                    run[i].hitPoint = run[i].hitPoint + Vec3{d[0], d[1], d[2]};
                }
            });
        }
    }
}

void apply_systematic_error(std::vector<LaserLine>& lasers, const std::vector<double>& values) {
    (void)values.at(6);
    ErrorStep(&values, nullptr, nullptr, 1).apply(lasers.data(), lasers.size());
}

void apply_random_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas) {
    (void)sigmas.at(6);
    ErrorStep(nullptr, &sigmas, nullptr, 1).apply(lasers.data(), lasers.size());
}

void apply_overall_error(std::vector<LaserLine>& lasers, const std::vector<double>& sigmas) {
    (void)sigmas.at(2);
    ErrorStep(nullptr, nullptr, &sigmas, 1).apply(lasers.data(), lasers.size());
}
