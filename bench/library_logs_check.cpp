// library_logs against std::log: every s = u^2 + v^2 the polar method of
// the random error can take its logarithm of, compared bit for bit (some
// 10^8 distinct values, a few seconds), and the time per value of both on
// a run of s as the method draws them.
//
//   library_logs_check [check|time|both]      (default both)
#include "errors/library_math.h"

#include "bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The method's coordinate of a draw r, with its own expression.
double coordinate(int r) { return 2.0 * r / 32767.0 - 1.0; }

using Logs = std::size_t (*)(const double*, std::size_t, double*);

struct Tally {
    std::size_t values = 0, asked = 0, differ = 0;
};

void compare(Logs logs, const std::vector<double>& s, std::vector<double>& out, Tally& tally, const char* name) {
    out.assign(s.size(), 0.0);
    tally.asked += logs(s.data(), s.size(), out.data());
    tally.values += s.size();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (bits(out[i]) != bits(std::log(s[i]))) {
            if (++tally.differ <= 10)
                std::printf("  %s differs at s = %a: %a, library %a\n", name, s[i], out[i], std::log(s[i]));
        }
    }
}

// s depends on the squares u*u and v*v alone, and not on their order: the
// distinct squares, every pair of them with s in (0, 1], in 16 slices of s
// (each sorted and made distinct) to keep the memory small.
bool check_every_polar_input() {
    std::vector<double> squares;
    for (int r = 0; r < 32768; ++r) squares.push_back(coordinate(r) * coordinate(r));
    std::sort(squares.begin(), squares.end());
    squares.erase(std::unique(squares.begin(), squares.end()), squares.end());
    std::printf("check: %zu distinct squares u*u\n", squares.size());

    const bool avx512 = library_math_detail::logs_avx512_available();
    Tally vector, portable;
    std::size_t pairs = 0;
    std::vector<double> slice, out;
    bench::Stopwatch watch;
    constexpr int kSlices = 16;
    for (int p = 0; p < kSlices; ++p) {
        const double low = double(p) / kSlices, high = double(p + 1) / kSlices;
        slice.clear();
        for (std::size_t i = 0; i < squares.size(); ++i) {
            const double w = squares[i];
            // u*u + v*v rises with v*v: the pairs of this slice are a range.
            auto first = std::partition_point(squares.begin() + static_cast<std::ptrdiff_t>(i), squares.end(),
                                              [&](double v) { return !(w + v >= low) || w + v == 0.0; });
            for (auto it = first; it != squares.end(); ++it) {
                const double s = w + *it;
                if (p + 1 < kSlices ? s >= high : s > 1.0) break;
                slice.push_back(s);
            }
        }
        pairs += slice.size();
        std::sort(slice.begin(), slice.end());
        slice.erase(std::unique(slice.begin(), slice.end()), slice.end());
        if (avx512) compare(library_math_detail::library_logs_avx512, slice, out, vector, "avx512");
        compare(library_math_detail::library_logs_portable, slice, out, portable, "portable");
    }
    std::printf("check: %zu pairs of squares, %zu distinct s in (0, 1], %.1f s\n", pairs, portable.values,
                watch.seconds());
    if (avx512)
        std::printf("check: avx512   %zu differ, %zu asked of the library (%.2f%%)\n", vector.differ, vector.asked,
                    100.0 * double(vector.asked) / double(vector.values));
    std::printf("check: portable %zu differ, %zu asked of the library (%.2f%%)\n", portable.differ, portable.asked,
                100.0 * double(portable.asked) / double(portable.values));
    return vector.differ == 0 && portable.differ == 0;
}

// The method's s in the order it draws them (uniform draws, the rejected
// pairs left out), timed through std::log and through library_logs.
void time_per_value() {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> draw(0, 32767);
    std::vector<double> s;
    while (s.size() < (std::size_t(1) << 22)) {
        const double u = coordinate(draw(random)), v = coordinate(draw(random));
        const double t = u * u + v * v;
        if (t != 0.0 && t <= 1.0) s.push_back(t);
    }
    std::vector<double> out(s.size());
    const auto time = [&](const char* name, auto&& run) {
        double best = 1e9;
        std::size_t asked = 0;
        for (int round = 0; round < 5; ++round) {
            bench::Stopwatch watch;
            asked = run();
            best = std::min(best, watch.seconds());
        }
        std::printf("time: %-22s %6.3f ns per value, %.2f%% asked of the library\n", name,
                    1e9 * best / double(s.size()), 100.0 * double(asked) / double(s.size()));
    };
    time("std::log", [&] {
        for (std::size_t i = 0; i < s.size(); ++i) out[i] = std::log(s[i]);
        return s.size();
    });
    time("library_logs", [&] { return library_logs(s.data(), s.size(), out.data()); });
    if (library_math_detail::logs_avx512_available())
        time("library_logs (avx512)",
             [&] { return library_math_detail::library_logs_avx512(s.data(), s.size(), out.data()); });
    time("library_logs (portable)",
         [&] { return library_math_detail::library_logs_portable(s.data(), s.size(), out.data()); });
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "both";
    if (what != "check" && what != "time" && what != "both") {
        std::fprintf(stderr, "usage: library_logs_check [check|time|both]\n");
        return 2;
    }
    bool same = true;
    if (what != "check") time_per_value();
    if (what != "time") same = check_every_polar_input();
    return same ? 0 : 1;
}
