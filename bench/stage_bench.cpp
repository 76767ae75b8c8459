// The stages of the end-to-end survey (bench/e2e_bench.sh) timed one by
// one inside one process, without the file system: the model's preparation
// step by step, then the survey pipeline (lasers, cast, errors, LAS points
// and trajectory written to /dev/null). Each line gives the wall time and
// the processor time of the whole process (all threads), which a busy
// machine disturbs less than the wall clock.
//
//   stage_bench [threads, default 1] [triangles, default 1000000] [prf kHz, default 100]
#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "bench/bench_support.h"
#include "errors/error_model.h"
#include "errors/error_tasks.h"
#include "flight/flight_tasks.h"
#include "lidar/cast_tree.h"
#include "output/las_writer.h"
#include "output/trajectory_file.h"
#include "survey/survey_run.h"
#include "terrain/mesh.h"
#include "terrain/octree.h"
#include "terrain/sample_scene.h"

#include <QDate>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <memory>

namespace {

// Processor time of the process so far, in user and system mode.
struct Cpu {
    double user = 0.0, system = 0.0;
    static Cpu now() {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return {double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) * 1e-6,
                double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) * 1e-6};
    }
};

void print(const char* name, double wall, const Cpu& from) {
    const Cpu to = Cpu::now();
    std::printf("  %-14s wall %7.3f s   cpu %7.3f s (user %7.3f, system %6.3f)\n", name, wall,
                to.user - from.user + to.system - from.system, to.user - from.user, to.system - from.system);
}

struct Timer {
    bench::Stopwatch wall;
    Cpu cpu = Cpu::now();
    void report(const char* name) {
        print(name, wall.seconds(), cpu);
        wall.restart();
        cpu = Cpu::now();
    }
};

struct Observer final : SurveyObserver {
    Timer timer;
    void stageBegin(SurveyStage, std::size_t) override { timer = Timer(); }
    void stageEnd(SurveyStage stage, std::size_t sink) override {
        static const char* const sinks[] = {"points (LAS)", "trajectory"};
        switch (stage) {
        case SurveyStage::Lasers: timer.report("lasers"); break;
        case SurveyStage::Cast: timer.report("cast"); break;
        case SurveyStage::Errors: timer.report("errors"); break;
        case SurveyStage::Sink: timer.report(sinks[sink < 2 ? sink : 1]); break;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    const unsigned threads = argc > 1 ? unsigned(std::atoi(argv[1])) : 1u;
    const std::size_t triangles = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
    const double prf = argc > 3 ? std::atof(argv[3]) * 1000.0 : 100000.0;
    std::printf("stage_bench: %u thread(s), %zu triangles, prf %.0f Hz\n", threads, triangles, prf);

    SimulationData data;
    Timer timer;
    bench::Stopwatch total;
    const Cpu totalCpu = Cpu::now();
    make_sample_scene(data.vertices, data.faces, triangles, data.faceClasses);
    timer.report("scene");
    data.setLimits(compute_limits(data.vertices));
    // The records made in sorted order, as a model load makes them.
    generate_sorted_mesh(data.vertices, data.faces, data.triangles);
    timer.report("sorted triangles");
    data.castTree = std::make_shared<const CastTree>(data.triangles, Vec3{data.maxX, data.maxY, data.maxZ},
                                                     Vec3{data.minX, data.minY, data.minZ}, threads);
    timer.report("cast tree");

    WizardValues values;
    values.flight.velocity = 100.0;
    values.flight.meanHeight = 1000.0;
    values.flight.overlap = 30.0;
    values.scanner.prf = prf;
    values.scanner.scanFrequency = 50.0;
    begin_laser_generation(data, values);
    ErrorSettings errors;
    errors.systematicOn = errors.randomOn = true;
    errors.systematic = {0.05, 0.05, 0.1, 0.01, 0.01, 0.01, 0.02};
    errors.random = {0.05, 0.05, 0.05, 0.005, 0.005, 0.005, 0.01};
    store_error_settings(data, errors);
    uniform_source().seed(1);
    reset_normal_deviate();

    SurveyRun::Settings settings;
    settings.threads = threads;
    SurveyRun run(data, settings);
    run.count();
    timer.report("count");
    LasSink las(QStringLiteral("/dev/null"), QDate(2026, 1, 1), threads);
    TrajectorySink trajectory(QStringLiteral("/dev/null"), 3, threads);
    run.addSink(&las);
    run.addSink(&trajectory);
    run.setErrorStep(true);
    Observer observer;
    run.run(observer);
    print("total", total.seconds(), totalCpu);
    std::printf("  %zu triangles, %llu pulses, %llu points, peak %.0f MiB\n", data.triangles.size(),
                static_cast<unsigned long long>(run.pulses()), static_cast<unsigned long long>(run.points()),
                bench::peak_memory_mib());
    return 0;
}
