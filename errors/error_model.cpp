#include "errors/error_model.h"

#include "app/uniform_source.h"

#include "output/writing_loop.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>

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

}  // namespace

bool polar_pair_accepted(int r1, int r2) {
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

}  // namespace

ErrorStep::ErrorStep(const std::vector<double>* systematic, const std::vector<double>* random,
                     const std::vector<double>* overall, unsigned threads)
    : systematic_(systematic), random_(random), overall_(overall), threads_(threads) {
    if (systematic_ && systematic_->size() < 7) throw std::invalid_argument("systematic error needs 7 values");
    if (random_ && random_->size() < 7) throw std::invalid_argument("random error needs 7 values");
    if (overall_ && overall_->size() < 3) throw std::invalid_argument("overall error needs 3 values");
}

void ErrorStep::apply(LaserLine* lasers, std::size_t count) {
    if (systematic_) {
        const std::vector<double>& v = *systematic_;
        const Vec3 offset{v[0], v[1], v[2]};
        const double range = v[6];
        // The same turn for every laser: its sines and cosines once.
        const AttitudeTrig trig = attitude_trig(v[3], v[4], v[5]);
        in_pieces(threads_, count, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                LaserLine& laser = lasers[i];
                laser.origin = laser.origin + offset;
                laser.range += range;
                laser.rotate_direction(trig);
                recompute_hit_point(laser);
            }
        });
    }
    if (random_) {
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
    if (overall_) {
        const std::vector<double>& s = *overall_;
        deviates_.resize(3 * std::min(count, kDrawBlock));
        for (std::size_t block = 0; block < count; block += kDrawBlock) {
            const std::size_t n = std::min(kDrawBlock, count - block);
            double* e = deviates_.data();
            for (std::size_t i = 0; i < n; ++i, e += 3) {
                e[2] = normal_deviate(0.0, s[2]);
                e[1] = normal_deviate(0.0, s[1]);
                e[0] = normal_deviate(0.0, s[0]);
            }
            LaserLine* run = lasers + block;
            const double* drawn = deviates_.data();
            in_pieces(threads_, n, [&](std::size_t begin, std::size_t end) {
                for (std::size_t i = begin; i < end; ++i) {
                    const double* d = drawn + 3 * i;
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
