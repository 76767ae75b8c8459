#include "flight/repeated_sum.h"

#include <cmath>

namespace {

constexpr std::uint64_t kTop = std::uint64_t(1) << 53;  // the binade's end, in units

// The additions of dt to t that all stay in t's binade and move t by the
// same number of units. False where that does not hold yet (t not a normal
// number of at least dt, or a tie from an odd multiple): take one addition
// then.
struct Run {
    int exponent = 0;      // unit = 2^exponent
    std::uint64_t k = 0;   // t = k units
    std::uint64_t d = 0;   // units per addition
    std::uint64_t room = 0;  // additions that surely stay in the binade
};

bool constant_run(double t, double dt, Run& run) {
    if (!(t >= dt) || !(dt > 0.0) || !std::isnormal(t) || !std::isfinite(t) || !std::isfinite(dt)) return false;
    run.exponent = std::ilogb(t) - 52;
    const double unit = std::ldexp(1.0, run.exponent);
    run.k = static_cast<std::uint64_t>(std::ldexp(t, -run.exponent));
    const double r = std::fmod(dt, unit);                   // exact
    const auto q = static_cast<std::uint64_t>(std::ldexp(dt - r, -run.exponent));  // exact: dt < 2t
    const double half = unit / 2.0;
    if (r == half) {
        if (run.k % 2 != 0) return false;
        run.d = q % 2 == 0 ? q : q + 1;  // from an even multiple, the even neighbour
    } else {
        run.d = r > half ? q + 1 : q;
    }
    // An addition stays in the binade while its exact sum is below the top
    // minus one unit: k + q + 1 < 2^53 before it.
    if (run.d == 0) {
        run.room = 0;
    } else if (run.k + q + 2 <= kTop) {
        run.room = (kTop - q - 2 - run.k) / run.d + 1;
    } else {
        run.room = 0;
    }
    return true;
}

double at(const Run& run, std::uint64_t additions) {
    return std::ldexp(static_cast<double>(run.k + additions * run.d), run.exponent);
}

}  // namespace

double repeated_sum(double t, double dt, std::uint64_t n) {
    while (n > 0) {
        Run run;
        if (n > 4 && constant_run(t, dt, run)) {
            if (run.d == 0) return t;  // every addition leaves t as it is
            if (run.room > 1) {
                const std::uint64_t take = run.room - 1 < n ? run.room - 1 : n;
                t = at(run, take);
                n -= take;
                continue;
            }
        }
        t = t + dt;
        --n;
    }
    return t;
}

std::uint64_t count_below(double dt, double limit) {
    std::uint64_t count = 0;
    double t = 0.0;
    while (t < limit) {
        Run run;
        if (constant_run(t, dt, run) && run.d > 0 && run.room > 2) {
            // The times t, t + d, ... below the limit, of those in the run.
            const double estimate = std::floor((limit - t) / std::ldexp(static_cast<double>(run.d), run.exponent));
            std::uint64_t take = run.room - 1;
            if (estimate < static_cast<double>(take)) take = estimate > 2.0 ? static_cast<std::uint64_t>(estimate) - 2 : 0;
            if (take > 0 && at(run, take - 1) < limit) {
                count += take;
                t = at(run, take);
                continue;
            }
        }
        ++count;
        if (t + dt == t) break;  // dt too small to move t on
        t += dt;
    }
    return count;
}
