// Our cast against Embree's single-ray rtcIntersect1 on the same triangles
// and the same rays, one thread each, in one run: the model and the pulses of
// the end-to-end bench survey (bench/e2e_bench.sh: the sample scene at about
// a million triangles, 100 kHz, 100 m/s, 1000 m, 50 Hz, zig-zag, 60 degrees).
// The two casts take turns, so that a busy machine slows both alike; every
// round prints both rates and their ratio, then the minimum and median.
// A memory report per triangle and per pulse follows. Before the timing,
// every ray is checked bit for bit against the reference cast (cast_laser on
// the pointer octree); the exit status is 1 if any differs.
//
//   cast_vs_embree [triangles] [rounds]      (defaults 1000000 and 5)
//
// Built only where Embree 3 (Debian libembree-dev) is installed; nothing
// else in the project uses it.
#include "app/progress.h"
#include "app/simulation_data.h"
#include "bench/bench_support.h"
#include "flight/flight_tasks.h"
#include "flight/parameters.h"
#include "lidar/cast_tree.h"
#include "lidar/ray_cast.h"
#include "terrain/octree.h"
#include "terrain/sample_scene.h"
#include "terrain/terrain_tasks.h"

#include <embree3/rtcore.h>
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Bytes the allocator has handed out and not taken back.
std::size_t allocated_bytes() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

// CPU seconds of this thread: on a busy machine the wall clock also counts
// the time the thread waited for a core.
double thread_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Embree's own allocations, counted through its memory monitor.
std::int64_t embreeBytes = 0;
bool count_embree_bytes(void*, ssize_t bytes, bool) {
    embreeBytes += bytes;
    return true;
}

struct PointerTreeSize {
    std::size_t nodes = 0, listed = 0, bytes = 0;
};

void size_of(const OctreeNode& n, PointerTreeSize& s) {
    ++s.nodes;
    s.bytes += sizeof(OctreeNode) + n.triangleIndices.capacity() * sizeof(std::uint32_t);
    s.listed += n.triangleIndices.size();
    if (!n.isLeaf)
        for (const auto& c : n.children) size_of(*c, s);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t targetTriangles = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    SimulationData data;
    NullProgress progress;
    bench::Stopwatch watch;
    const std::size_t before = allocated_bytes();
    make_sample_scene(data.vertices, data.faces, targetTriangles);
    prepare_model(data, AsciiMesh, QStringLiteral("z axis"), progress);
    const std::size_t modelBytes = allocated_bytes() - before;
    const std::size_t triangles = data.triangles.size();
    std::printf("model: %zu vertices, %zu triangles; scene and preparation %.2f s\n", data.vertices.size(),
                triangles, watch.seconds());

    // The pulses of the end-to-end survey.
    WizardValues values;
    values.flight.velocity = 100.0;
    values.flight.meanHeight = 1000.0;
    values.flight.overlap = 30.0;
    values.scanner.prf = 100000.0;
    values.scanner.scanFrequency = 50.0;
    values.scanner.fovAcross = 60.0;
    values.scanner.pattern = ZigZagLines;
    std::size_t beforeLasers = allocated_bytes();
    generate_lasers_task(data, values, 1, progress);
    const std::size_t laserBytes = allocated_bytes() - beforeLasers;
    std::vector<LaserLine>& lasers = data.lasers();
    const std::size_t n = lasers.size();
    std::printf("rays: %zu\n", n);

    // The model keeps only the cast tree; the octree it came from is built
    // again here to time both builds and to size the pointer tree.
    PointerTreeSize pointer;
    double octreeSeconds = 0.0, treeSeconds = 0.0;
    std::size_t treeAllocated = 0;
    std::size_t referenceDifferences = 0;
    {
        OctreeNode root;
        watch.restart();
        create_octree(data.triangles, root, {data.maxX, data.maxY, data.maxZ}, {data.minX, data.minY, data.minZ});
        octreeSeconds = watch.seconds();
        size_of(root, pointer);
        const std::size_t beforeTree = allocated_bytes();
        watch.restart();
        const CastTree copy(root, data.triangles);
        treeSeconds = watch.seconds();
        treeAllocated = allocated_bytes() - beforeTree;

        // Every ray bit for bit against the reference cast on the pointer
        // octree: the same return or none, the same point, range and face.
        std::vector<LidarPoint> points;
        watch.restart();
        for (const LaserLine& l : lasers) {
            LaserLine reference = l, ours = l;
            cast_laser(root, reference, points, data.triangles);
            points.clear();
            data.castTree->cast(ours);
            if (std::memcmp(&reference.hitPoint, &ours.hitPoint, sizeof(Vec3)) != 0 ||
                std::memcmp(&reference.range, &ours.range, sizeof(double)) != 0 ||
                reference.hitFaceIndex != ours.hitFaceIndex)
                ++referenceDifferences;
        }
        std::printf("reference check: %zu of %zu rays differ from the reference cast (%.2f s)\n",
                    referenceDifferences, n, watch.seconds());
    }
    const CastTree& tree = *data.castTree;
    std::printf("octree: %.2f s to build (all hardware threads); cast tree: %.2f s to build; %zu nodes, %zu leaves, "
                "%zu entries, %zu triangle records\n",
                octreeSeconds, treeSeconds, tree.node_count(), tree.leaf_count(), tree.entry_count(),
                tree.record_count());

    // Embree on the same vertices (as floats) and faces.
    RTCDevice device = rtcNewDevice("threads=1");
    rtcSetDeviceMemoryMonitorFunction(device, count_embree_bytes, nullptr);
    RTCScene scene = rtcNewScene(device);
    RTCGeometry geometry = rtcNewGeometry(device, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* vb = static_cast<float*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                           3 * sizeof(float), data.vertices.size()));
    for (std::size_t i = 0; i < data.vertices.size(); ++i) {
        vb[3 * i] = static_cast<float>(data.vertices[i].x);
        vb[3 * i + 1] = static_cast<float>(data.vertices[i].y);
        vb[3 * i + 2] = static_cast<float>(data.vertices[i].z);
    }
    auto* ib = static_cast<unsigned*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                              3 * sizeof(unsigned), data.faces.size()));
    for (std::size_t i = 0; i < data.faces.size(); ++i)
        for (int k = 0; k < 3; ++k) ib[3 * i + k] = static_cast<unsigned>(data.faces[i].v[k] - 1);
    rtcCommitGeometry(geometry);
    rtcAttachGeometry(scene, geometry);
    rtcReleaseGeometry(geometry);
    watch.restart();
    const std::int64_t embreeBuffers = embreeBytes;
    rtcCommitScene(scene);
    std::printf("embree: %.2f s to build (1 thread)\n", watch.seconds());
    const std::int64_t embreeBvh = embreeBytes - embreeBuffers;

    std::vector<std::int32_t> ours(n, -1), theirs(n, -1);
    std::vector<double> ourRates, embreeRates, ratios;
    std::printf("\nrays per CPU second of the casting thread\n%-6s %14s %14s %8s\n", "round", "ours M rays/s",
                "embree M/s", "ratio");
    for (int r = 0; r < rounds; ++r) {
        double start = thread_seconds();
        for (std::size_t i = 0; i < n; ++i) {
            LaserLine& l = lasers[i];
            ours[i] = tree.cast(l) ? l.hitFaceIndex : -1;
        }
        const double oursRate = static_cast<double>(n) / (thread_seconds() - start);

        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        start = thread_seconds();
        for (std::size_t i = 0; i < n; ++i) {
            const LaserLine& l = lasers[i];
            RTCRayHit rh;
            rh.ray.org_x = static_cast<float>(l.origin.x);
            rh.ray.org_y = static_cast<float>(l.origin.y);
            rh.ray.org_z = static_cast<float>(l.origin.z);
            rh.ray.dir_x = static_cast<float>(l.direction.x);
            rh.ray.dir_y = static_cast<float>(l.direction.y);
            rh.ray.dir_z = static_cast<float>(l.direction.z);
            rh.ray.tnear = 0.0f;
            rh.ray.tfar = std::numeric_limits<float>::infinity();
            rh.ray.time = 0.0f;
            rh.ray.mask = 0xffffffffu;
            rh.ray.id = 0;
            rh.ray.flags = 0;
            rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
            rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
            rtcIntersect1(scene, &context, &rh);
            theirs[i] = rh.hit.geomID == RTC_INVALID_GEOMETRY_ID ? -1 : static_cast<std::int32_t>(rh.hit.primID);
        }
        const double embreeRate = static_cast<double>(n) / (thread_seconds() - start);
        ourRates.push_back(oursRate);
        embreeRates.push_back(embreeRate);
        ratios.push_back(oursRate / embreeRate);
        std::printf("%-6d %14.2f %14.2f %8.3f\n", r + 1, oursRate / 1e6, embreeRate / 1e6, oursRate / embreeRate);
    }
    std::printf("%-6s %14.2f %14.2f %8.3f\n", "min", *std::min_element(ourRates.begin(), ourRates.end()) / 1e6,
                *std::min_element(embreeRates.begin(), embreeRates.end()) / 1e6,
                *std::min_element(ratios.begin(), ratios.end()));
    std::printf("%-6s %14.2f %14.2f %8.3f\n", "median", median(ourRates) / 1e6, median(embreeRates) / 1e6,
                median(ratios));

    std::size_t bothHit = 0, sameFace = 0, onlyOurs = 0, onlyEmbree = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (ours[i] >= 0 && theirs[i] >= 0) {
            ++bothHit;
            sameFace += ours[i] == theirs[i];
        } else if (ours[i] >= 0) {
            ++onlyOurs;
        } else if (theirs[i] >= 0) {
            ++onlyEmbree;
        }
    }
    std::printf("\nreturns: both %zu (same face %.4f %%), only ours %zu, only embree %zu\n", bothHit,
                bothHit ? 100.0 * static_cast<double>(sameFace) / static_cast<double>(bothHit) : 0.0, onlyOurs,
                onlyEmbree);

    const double t = static_cast<double>(triangles);
    std::printf("\nmemory per triangle (%zu triangles):\n", triangles);
    std::printf("  cast tree            %7.1f B  (%zu B held; %.2f entries per triangle)\n",
                static_cast<double>(tree.memory_bytes()) / t, tree.memory_bytes(),
                static_cast<double>(tree.entry_count()) / t);
    std::printf("  cast tree allocated  %7.1f B\n", static_cast<double>(treeAllocated) / t);
    std::printf("  pointer octree       %7.1f B  (%zu nodes, %zu listed; only while a model is prepared)\n", static_cast<double>(pointer.bytes) / t,
                pointer.nodes, pointer.listed);
    std::printf("  triangle list        %7.1f B\n",
                static_cast<double>(data.triangles.capacity() * sizeof(Triangle)) / t);
    std::printf("  vertices and faces   %7.1f B\n",
                static_cast<double>(data.vertices.capacity() * sizeof(Vertex) + data.faces.capacity() * sizeof(Face)) /
                    t);
    std::printf("  model allocated      %7.1f B  (the whole model as a load leaves it: vertices, faces, triangle list, "
                "cast tree)\n",
                static_cast<double>(modelBytes) / t);
    std::printf("  embree BVH           %7.1f B  (its buffers %.1f B)\n", static_cast<double>(embreeBvh) / t,
                static_cast<double>(embreeBuffers) / t);
    std::printf("memory per pulse (%zu pulses):\n", n);
    std::printf("  laser record         %7zu B\n", sizeof(LaserLine));
    std::printf("  lasers allocated     %7.1f B\n", static_cast<double>(laserBytes) / static_cast<double>(n));
    std::printf("peak memory: %.0f MiB\n", bench::peak_memory_mib());

    rtcReleaseScene(scene);
    rtcReleaseDevice(device);
    return referenceDifferences == 0 ? 0 : 1;
}
