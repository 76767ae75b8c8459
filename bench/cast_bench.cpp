// Ray-casting throughput: a sample scene of about a million triangles,
// prepared as a load prepares it, and some ten million pulses from the real
// flight generator, cast on one and on two threads.
//
//   cast_bench [triangles] [prf]      (defaults 1000000 and 100000)
//
// Prints the preparation times, the tree's shape, rays per second for the
// flattened tree on 1 and 2 threads, the pointer-tree reference on a slice,
// and the whole "LiDAR Data Simulation" task end to end.
#include "app/progress.h"
#include "app/simulation_data.h"
#include "bench/bench_support.h"
#include "lidar/cast_pool.h"
#include "lidar/cast_tree.h"
#include "lidar/lidar_tasks.h"
#include "lidar/ray_cast.h"
#include "terrain/mesh.h"
#include "terrain/octree.h"
#include "terrain/sample_scene.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

// CPU seconds of the whole process: on a busy machine wall time says little
// about the code, CPU time does.
double process_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

struct TreeShape {
    std::size_t leaves = 0, emptyLeaves = 0, listed = 0;
    int depth = 0;
};

void shape_of(const OctreeNode& n, int depth, TreeShape& s) {
    s.depth = std::max(s.depth, depth);
    if (n.isLeaf) {
        ++s.leaves;
        s.listed += n.triangleIndices.size();
        if (n.triangleIndices.empty()) ++s.emptyLeaves;
        return;
    }
    for (const auto& c : n.children) shape_of(*c, depth + 1, s);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t targetTriangles = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const double prf = argc > 2 ? std::atof(argv[2]) : 100000.0;

    SimulationData data;
    bench::Stopwatch watch;
    make_sample_scene(data.vertices, data.faces, targetTriangles);
    std::printf("scene: %zu vertices, %zu faces (%.2f s)\n", data.vertices.size(), data.faces.size(),
                watch.seconds());

    // Prepared as a load prepares it.
    watch.restart();
    data.setLimits(compute_limits(data.vertices));
    generate_mesh(data.vertices, data.faces, data.triangles);
    sort_mesh(data.triangles);
    data.octreeRoot = std::make_unique<OctreeNode>();
    create_octree(data.triangles, *data.octreeRoot, {data.maxX, data.maxY, data.maxZ},
                  {data.minX, data.minY, data.minZ});
    std::printf("prepare (limits, mesh, sort, octree): %.2f s; z %.1f .. %.1f m\n", watch.seconds(), data.minZ,
                data.maxZ);
    TreeShape shape;
    shape_of(*data.octreeRoot, 0, shape);
    std::printf("octree: depth %d, %zu leaves (%zu empty), %.1f triangles per non-empty leaf\n", shape.depth,
                shape.leaves, shape.emptyLeaves,
                static_cast<double>(shape.listed) / static_cast<double>(shape.leaves - shape.emptyLeaves));

    // The real flight generator: zig-zag scanner, 60 degree field of view.
    watch.restart();
    const double halfFov = 30.0, meanHeight = data.maxZ + 1000.0, velocity = 50.0;
    data.laserlines.compute_origins(prf, velocity, halfFov, 50.0, meanHeight, 30.0, data.minX, data.minY,
                                    data.minZ, data.maxX, data.maxY, data.maxZ, false, {});
    data.laserlines.compute_directions(prf, halfFov, 30.0, ZigZagLines, 50.0, 0.0, false, {});
    std::vector<LaserLine>& lasers = data.lasers();
    const std::size_t n = lasers.size();
    std::printf("lasers: %zu (prf %.0f Hz, %.0f m/s, height %.0f m) (%.2f s)\n", n, prf, velocity, meanHeight,
                watch.seconds());

    watch.restart();
    const CastTree tree(*data.octreeRoot, data.triangles);
    std::printf("flattened tree: %zu nodes, %zu leaves, %zu entries, %.0f MiB (%.2f s)\n", tree.node_count(),
                tree.leaf_count(), tree.entry_count(), tree.memory_bytes() / 1048576.0, watch.seconds());

    std::vector<std::uint8_t> hit(n);
    double oneThread = 0.0;
    for (unsigned threads : {1u, 2u}) {
        CastPool pool(threads);
        const double cpu0 = process_cpu_seconds();
        watch.restart();
        pool.cast(tree, lasers.data(), n, hit.data());
        const double s = watch.seconds();
        const double cpu = process_cpu_seconds() - cpu0;
        const std::size_t returns = static_cast<std::size_t>(std::count(hit.begin(), hit.end(), 1));
        const double rate = static_cast<double>(n) / s;
        if (threads == 1) oneThread = rate;
        std::printf("flattened, %u thread%s: %.2f s wall, %.2f M rays/s (%.2f M per thread); %.2f CPU s, %.2f M rays "
                    "per CPU second; %zu returns\n",
                    threads, threads == 1 ? "" : "s", s, rate / 1e6, rate / 1e6 / threads, cpu,
                    static_cast<double>(n) / cpu / 1e6, returns);
        if (threads == 2) std::printf("scaling 1 -> 2 threads (wall): %.2fx\n", rate / oneThread);
    }

    // The pointer-tree reference on every tenth laser, for comparison.
    {
        std::vector<LaserLine> sample;
        std::size_t flatReturns = 0;
        for (std::size_t i = 0; i < n; i += 10) {
            sample.push_back(lasers[i]);
            flatReturns += hit[i];
        }
        std::vector<LidarPoint> points;
        points.reserve(sample.size());
        const double cpu0 = process_cpu_seconds();
        for (LaserLine& l : sample) cast_laser(*data.octreeRoot, l, points, data.triangles);
        const double s = process_cpu_seconds() - cpu0;
        std::printf("pointer tree, 1 thread, every tenth laser (%zu): %.2f CPU s, %.2f M rays per CPU second (%zu "
                    "returns, flattened %zu)\n",
                    sample.size(), s, static_cast<double>(sample.size()) / s / 1e6, points.size(), flatReturns);
    }

    // The whole task, as the program runs it (tree copy, cast, points).
    for (unsigned threads : {1u, 2u}) {
        NullProgress progress;
        watch.restart();
        simulate_lidar_task(data, progress, threads);
        std::printf("simulate_lidar_task, %u thread%s: %.2f s, %zu points\n", threads, threads == 1 ? "" : "s",
                    watch.seconds(), data.points.size());
    }
    std::printf("peak memory: %.0f MiB; hardware threads: %u\n", bench::peak_memory_mib(),
                std::thread::hardware_concurrency());
    return 0;
}
