// LAS 1.4 (point format 6) writing on one thread, beside a raw write of the
// same bytes to the same disk.
//   las14_writer_bench [POINTS=10000000] [DIR=/tmp]
// The survey is fed as the streamed run feeds it: chunks of a million
// pulses without pulse infos, so the writer works out the times, lines and
// flags itself. Every pulse has a return; a quarter hit a building.
#include "app/progress.h"
#include "app/simulation_data.h"
#include "bench/bench_support.h"
#include "output/writing_loop.h"
#include "products/las14_writer.h"
#include "products/product_tasks.h"

#include <QString>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double file_mb(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) / 1e6 : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
    const std::string dir = argc > 2 ? argv[2] : "/tmp";
    const std::string lasPath = dir + "/pointfall-bench-survey14.las";
    const std::string rawPath = dir + "/pointfall-bench-raw.bin";
    constexpr std::size_t kChunk = 1000000;

    // A model of two triangles (ground and roof) in Dutch RD coordinates.
    SimulationData data;
    data.vertices = {{84000, 447000, 0}, {86000, 447000, 1}, {86000, 449000, 2}, {84000, 449000, 10}};
    data.faces = {Face{{1, 2, 3}}, Face{{1, 3, 4}}};
    data.faceClasses = {2, 6};
    data.minX = 84000;
    data.minY = 447000;
    data.minZ = 0;
    data.flight.meanHeight = 1000.0;
    data.flight.orientation = 30.0;
    data.scanner.prf = 500000.0;
    data.laserlines.lineStarts = {0, n / 2};

    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<LaserLine> lasers(std::min(n, kChunk));
    for (LaserLine& l : lasers) {
        const double a = (u(random) - 0.5) * 0.6;
        l.origin = Vec3{84000 + 2000 * u(random), 447000 + 2000 * u(random), 1000.0};
        l.direction = Vec3{std::sin(a) * 0.5, std::sin(a) * 0.86, -std::cos(a)};
        l.range = 1000.0 / std::cos(a);
        l.hitPoint = l.origin + l.direction * l.range;
        l.hitFaceIndex = u(random) < 0.25 ? 1 : 0;
    }

    ProductSettings settings = product_settings("EPSG:28992", "", true);
    settings.threads = 1;
    NullProgress progress;
    bench::Stopwatch wall;
    double cpu0 = cpu_seconds();
    {
        Las14Sink sink(QString::fromStdString(lasPath), settings, &progress);
        sink.begin(SurveyContext{&data, n});
        for (std::size_t first = 0; first < n; first += kChunk) {
            const std::size_t count = std::min(kChunk, n - first);
            sink.consume(PulseChunk{first, lasers.data(), nullptr, count});
        }
        sink.finish();
    }
    const double lasWall = wall.seconds(), lasCpu = cpu_seconds() - cpu0;

    // The same bytes written raw, in the writers' piece size.
    std::vector<char> bytes(static_cast<std::size_t>(file_mb(lasPath) * 1e6 + 0.5));
    {
        std::FILE* f = std::fopen(lasPath.c_str(), "rb");
        if (!f || std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) return 1;
        std::fclose(f);
    }
    wall.restart();
    cpu0 = cpu_seconds();
    {
        ChunkedFile raw(QString::fromStdString(rawPath), "wb");
        for (std::size_t at = 0; at < bytes.size(); at += ChunkedFile::kChunk)
            raw.write_raw(bytes.data() + at, std::min(ChunkedFile::kChunk, bytes.size() - at));
        raw.close();
    }
    const double rawWall = wall.seconds(), rawCpu = cpu_seconds() - cpu0;

    const double mb = static_cast<double>(bytes.size()) / 1e6;
    std::printf("%zu points, %.1f MB\n", n, mb);
    std::printf("LAS 1.4 writer, 1 thread   wall %6.2f s = %7.1f MB/s   cpu %6.2f s\n", lasWall, mb / lasWall, lasCpu);
    std::printf("raw write of the same bytes wall %6.2f s = %7.1f MB/s   cpu %6.2f s\n", rawWall, mb / rawWall, rawCpu);
    std::printf("ratio (wall)               %6.2f\n", lasWall / rawWall);
    std::remove(lasPath.c_str());
    std::remove(rawPath.c_str());
    return 0;
}
