// Coverage analysis of ten million returns on one thread: builds a flat
// two-triangle model of 2 km x 2 km and a survey of N pulses laid as back
// and forth lines, then times analyse_coverage and summarise_coverage.
//   coverage_bench [millions of pulses, default 10] [cell m, default automatic]
#include <cstdio>
#include <cstdlib>

#include "app/simulation_data.h"
#include "bench_support.h"
#include "coverage/coverage_grid.h"
#include "terrain/mesh.h"

int main(int argc, char** argv) {
    const double millions = argc > 1 ? std::atof(argv[1]) : 10.0;
    const double cell = argc > 2 ? std::atof(argv[2]) : 0.0;
    const std::size_t n = std::size_t(millions * 1e6);
    SimulationData data;
    data.vertices = {{0, 0, 0}, {2000, 0, 0}, {2000, 2000, 50}, {0, 2000, 50}};
    Face f1, f2;
    f1.v[0] = 1, f1.v[1] = 2, f1.v[2] = 3;
    f2.v[0] = 1, f2.v[1] = 3, f2.v[2] = 4;
    data.faces = {f1, f2};
    generate_mesh(data.vertices, data.faces, data.triangles);
    data.setLimits(compute_limits(data.vertices));

    // Ten lines along x, each a zigzag sweep 240 m wide.
    const int lines = 10;
    auto& lasers = data.lasers();
    lasers.resize(n);
    for (int l = 0; l < lines; ++l) data.laserlines.lineStarts.push_back(n / lines * l);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t l = i / (n / lines);
        const double t = double(i % (n / lines)) / double(n / lines);
        const double sweep = double(i % 500) / 500.0;
        lasers[i].hitPoint = {l % 2 ? 2000 * (1 - t) : 2000 * t, 100 + 200.0 * double(l) + 240 * (sweep - 0.5), 25};
        lasers[i].hitFaceIndex = (i % 97 == 0) ? -1 : 0;
    }

    double best = 1e9;
    CoverageSummary summary;
    for (int run = 0; run < 3; ++run) {
        bench::Stopwatch clock;
        const CoverageGrid grid = analyse_coverage(data, cell);
        summary = summarise_coverage(grid, data, 2.0);
        const double s = clock.seconds();
        best = std::min(best, s);
        std::printf("run %d: %.3f s, %.1f M pulses/s (%d x %d cells of %g m)\n", run + 1, s, n / s / 1e6,
                    grid.columns, grid.rows, grid.cell);
    }
    std::printf("best %.3f s for %zu pulses; mean density %.3f, %zu line pairs; peak memory %.0f MiB\n", best, n,
                summary.meanDensity, summary.overlaps.size(), bench::peak_memory_mib());
    return 0;
}
