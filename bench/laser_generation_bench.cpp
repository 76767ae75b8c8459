// Laser generation speed and memory: origin and direction passes over about
// ten million pulses, realistic trajectory off and on.
//
//   laser_generation_bench [off|on|both] [pulses in millions, default 10]
//
// Prints pulses per second of each pass and of both together, and the peak
// resident memory against the size of the laser records themselves. Run one
// mode per process for a clean peak figure.
#include "bench/bench_support.h"
#include "flight/laserlines.h"

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void run(bool realistic, double millions) {
    // Model 1000 x 1000 m, flown at 500 m with fov 60 and overlap 50 at
    // 30 degrees: the flight lines cover about 3.2 km of track; prf is set
    // so the run gives the requested number of pulses.
    const double trackSeconds = 31.97;  // the track length (3197 m) at 100 m/s
    const double prf = millions * 1e6 / trackSeconds;
    TrajectoryTerms terms(6, std::vector<double>(4, 0.0));
    terms[0] = {0.3, 0.5, 0.2, 0.7};
    terms[1] = {0.2, 0.4, 0.1, 0.9};
    terms[2] = {0.1, 0.3, 0.3, 0.2};
    terms[3] = {0.5, 0.2, 0.1, 0.6};
    terms[4] = {0.4, 0.3, 0.2, 0.5};
    terms[5] = {0.3, 0.1, 0.4, 0.3};

    Laserlines lines;
    bench::Stopwatch watch;
    std::clock_t cpu = std::clock();
    lines.compute_origins(prf, 100.0, 30.0, 50.0, 500.0, 30.0, 0.0, 0.0, 0.0, 1000.0, 1000.0, 100.0, realistic, terms,
                          12345u);
    const double origins = watch.seconds();
    const double originsCpu = double(std::clock() - cpu) / CLOCKS_PER_SEC;
    watch.restart();
    cpu = std::clock();
    lines.compute_directions(prf, 30.0, 30.0, ZigZagLines, 50.0, 0.0, realistic, terms, 12345u);
    const double directions = watch.seconds();
    const double directionsCpu = double(std::clock() - cpu) / CLOCKS_PER_SEC;

    const double n = static_cast<double>(lines.lasers.size());
    const double recordsMib = n * sizeof(LaserLine) / (1024.0 * 1024.0);
    std::printf("realistic %-3s  pulses %.0f (prf %.0f Hz)\n", realistic ? "on" : "off", n, prf);
    // Wall time, and the process's processor time (user + system), which a
    // busy machine disturbs less.
    auto line = [n](const char* name, double wall, double cpuSeconds) {
        std::printf("  %-15s wall %7.3f s %6.2f M pulses/s   cpu %7.3f s %6.2f M pulses/s\n", name, wall,
                    n / wall / 1e6, cpuSeconds, n / cpuSeconds / 1e6);
    };
    line("origin pass", origins, originsCpu);
    line("direction pass", directions, directionsCpu);
    line("both", origins + directions, originsCpu + directionsCpu);
    std::printf("  records %.1f MiB (%zu bytes each), capacity %zu, peak resident %.1f MiB\n", recordsMib,
                sizeof(LaserLine), lines.lasers.capacity(), bench::peak_memory_mib());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "both";
    const double millions = argc > 2 ? std::atof(argv[2]) : 10.0;
    if (mode == "off" || mode == "both") run(false, millions);
    if (mode == "on" || mode == "both") run(true, millions);
    return 0;
}
