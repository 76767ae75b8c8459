// The model stage of the end-to-end survey alone: the sample scene, the
// triangle list sorted by height and the cast tree, each timed in one fresh
// process (page faults on fresh memory are part of the cost), followed by
// a digest of the sorted list and of the tree, so that two builds can be
// checked for identical results as well as timed.
//
//   model_bench [threads, default 1] [triangles, default 1000000]
#include "bench/bench_support.h"
#include "lidar/cast_tree.h"
#include "terrain/mesh.h"
#include "terrain/sample_scene.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <vector>

namespace {

// Processor time and page faults (without reading from disk) so far.
struct Cpu {
    double user = 0.0, system = 0.0;
    long faults = 0;
    static Cpu now() {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return {double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) * 1e-6,
                double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) * 1e-6, u.ru_minflt};
    }
};

struct Timer {
    bench::Stopwatch wall;
    Cpu cpu = Cpu::now();
    void report(const char* name) {
        const Cpu to = Cpu::now();
        std::printf("  %-16s wall %7.3f s   cpu %7.3f s (user %7.3f, system %6.3f), %ld page faults\n", name,
                    wall.seconds(), to.user - cpu.user + to.system - cpu.system, to.user - cpu.user,
                    to.system - cpu.system, to.faults - cpu.faults);
        wall.restart();
        cpu = Cpu::now();
    }
};

// FNV-1a over the triangles' fields (the records have padding).
std::uint64_t digest(const std::vector<Triangle>& triangles) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    const auto word = [&h](const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        for (std::size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 0x100000001b3ull;
    };
    for (const Triangle& t : triangles) {
        word(t.cornerIndices.data(), sizeof t.cornerIndices);
        word(&t.topZ, sizeof t.topZ);
        word(&t.faceIndex, sizeof t.faceIndex);
        for (const Vec3* v : {&t.a, &t.b, &t.c, &t.normal}) {
            word(&v->x, sizeof v->x);
            word(&v->y, sizeof v->y);
            word(&v->z, sizeof v->z);
        }
    }
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned threads = argc > 1 ? unsigned(std::atoi(argv[1])) : 1u;
    const std::size_t count = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
    std::printf("model_bench: %u thread(s), %zu triangles\n", threads, count);

    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    Timer timer;
    make_sample_scene(vertices, faces, count);
    timer.report("scene");
    const ModelLimits l = compute_limits(vertices);
    std::vector<Triangle> triangles;
    generate_sorted_mesh(vertices, faces, triangles);
    timer.report("sorted triangles");
    const CastTree tree(triangles, Vec3{l.maxX, l.maxY, l.maxZ}, Vec3{l.minX, l.minY, l.minZ}, threads);
    timer.report("cast tree");
    std::printf("  triangles %016llx  tree %016llx  (%zu nodes, %zu entries, %zu records), peak %.0f MiB\n",
                static_cast<unsigned long long>(digest(triangles)), static_cast<unsigned long long>(tree.digest()),
                tree.node_count(), tree.entry_count(), tree.record_count(), bench::peak_memory_mib());
    return 0;
}
