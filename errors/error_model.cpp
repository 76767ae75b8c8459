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
