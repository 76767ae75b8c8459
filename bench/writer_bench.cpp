// Write speed of the three output files for a large synthetic survey, next
// to the speed of writing raw bytes to the same disk.
//   writer_bench [LASERS=10000000] [DIR=/tmp] [THREADS=0]
// THREADS is the writers' formatting thread count, 0 for one per hardware
// thread.
#include "app/progress.h"
#include "bench/bench_support.h"
#include "output/las_writer.h"
#include "output/point_file.h"
#include "output/trajectory_file.h"
#include "output/writing_loop.h"

#include <QDate>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <ctime>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

double file_mb(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0.0;
    return static_cast<double>(st.st_size) / 1e6;
}

// User + system time of this process: the machine may be shared, so the
// wall clock alone can mislead.
double cpu_seconds() {
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct Timer {
    bench::Stopwatch wall;
    double cpu0 = cpu_seconds();
    void restart() {
        wall.restart();
        cpu0 = cpu_seconds();
    }
};

void report(const char* what, const std::string& path, const Timer& t) {
    const double mb = file_mb(path);
    const double wall = t.wall.seconds();
    const double cpu = cpu_seconds() - t.cpu0;
    std::printf("%-28s %9.1f MB  wall %6.2f s = %7.1f MB/s   cpu %6.2f s = %7.1f MB/s\n", what, mb, wall,
                mb / wall, cpu, mb / cpu);
}

// Typical projected coordinates, about 90 % of the pulses with a return.
std::vector<LaserLine> make_survey(std::size_t n, std::vector<LidarPoint>& points) {
    std::mt19937_64 rng(2026);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<LaserLine> lasers(n);
    points.clear();
    for (std::size_t i = 0; i < n; ++i) {
        LaserLine& l = lasers[i];
        const double along = 84600.0 + 550.0 * unit(rng);
        const double across = 447400.0 + 350.0 * unit(rng);
        l.origin = {along, across, 500.0 + unit(rng)};
        l.direction = {0.3 * (unit(rng) - 0.5), 0.3 * (unit(rng) - 0.5), -0.95};
        l.roll = 2.0 * unit(rng) - 1.0;
        l.pitch = 2.0 * unit(rng) - 1.0;
        l.yaw = 90.0 * unit(rng);
        if (unit(rng) < 0.9) {
            l.hitFaceIndex = static_cast<std::int32_t>(i % 28619);
            l.hitPoint = {along + 20.0 * unit(rng), across + 20.0 * unit(rng), 2.0 + 30.0 * unit(rng)};
            l.range = 480.0;
            points.push_back({l.hitPoint.x, l.hitPoint.y, l.hitPoint.z});
        }
    }
    return lasers;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
    const std::string dir = argc > 2 ? argv[2] : "/tmp";
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 0;
    const std::string pointsPath = dir + "/writer_bench_points.txt";
    const std::string trajectoryPath = dir + "/writer_bench_trajectory.txt";
    const std::string lasPath = dir + "/writer_bench.las";
    const std::string rawPath = dir + "/writer_bench_raw.bin";

    std::vector<LidarPoint> points;
    bench::Stopwatch make;
    const std::vector<LaserLine> lasers = make_survey(n, points);
    std::printf("%zu lasers, %zu returns (made in %.1f s); files in %s; %u writer threads\n", lasers.size(),
                points.size(), make.seconds(), dir.c_str(), writer_threads(threads));

    NullProgress progress;
    Timer watch;
    write_point_file(lasers, QString::fromStdString(pointsPath), progress, threads);
    report("ASCII point file", pointsPath, watch);

    watch.restart();
    write_trajectory_file(lasers, QString::fromStdString(trajectoryPath), progress, 3, threads);
    report("trajectory file, format 3", trajectoryPath, watch);

    watch.restart();
    write_las_file(points, lasers, QString::fromStdString(lasPath), progress, QDate::currentDate(), threads);
    report("LAS 1.2 file", lasPath, watch);

    // Raw bytes through the same kind of 4 MiB writes, as large as the
    // trajectory file; once to the page cache, once through to the disk.
    const std::size_t rawBytes = static_cast<std::size_t>(file_mb(trajectoryPath) * 1e6);
    std::vector<char> chunk(std::size_t(4) << 20, 'x');
    for (bool sync : {false, true}) {
        watch.restart();
        std::FILE* f = std::fopen(rawPath.c_str(), "wb");
        if (!f) return 1;
        for (std::size_t written = 0; written < rawBytes; written += chunk.size())
            std::fwrite(chunk.data(), 1, std::min(chunk.size(), rawBytes - written), f);
        std::fflush(f);
        if (sync) fsync(fileno(f));
        std::fclose(f);
        report(sync ? "raw bytes, with fsync" : "raw bytes, page cache", rawPath, watch);
    }
    std::printf("peak memory %.0f MiB\n", bench::peak_memory_mib());

    for (const std::string& p : {pointsPath, trajectoryPath, lasPath, rawPath}) std::remove(p.c_str());
    return 0;
}
