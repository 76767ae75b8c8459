#include "batch_options.h"
#include "batch_run.h"
#include "batch_test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "errors/error_model.h"
#include "errors/error_tasks.h"
#include "flight/flight_tasks.h"
#include "lidar/lidar_tasks.h"
#include "output/output_tasks.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/sample_scene.h"
#include "terrain/terrain_tasks.h"

using namespace testing_support;
using namespace batch_test;

namespace {

BatchOptions parsed(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int exitCode = -1;
    const std::optional<BatchOptions> options = parse_batch_options(args, out, err, &exitCode);
    EXPECT_TRUE(options && exitCode == 0) << err.str();
    return options.value_or(BatchOptions());
}

// The wizard pages' other start values are checked by the surveys compared
// with the desktop program's steps below.
TEST(BatchOptions, DefaultsAndValuesBecomeWhatTheDialogsHandOn) {
    const BatchOptions demo = parsed({});
    EXPECT_EQ(demo.scanner.prf, 10000.0);  // the scanner page's 10 kHz
    EXPECT_EQ(demo.pointsFile, "pointfall-demo.las");
    // A model of one's own writes points only when asked.
    EXPECT_EQ(parsed({"--mesh", "m.txt"}).pointsFile, "");

    const BatchOptions o = parsed({"--prf", "+2.5", "--pattern", "elliptical", "--fov-along=12"});
    EXPECT_EQ(o.scanner.prf, 2500.0);  // kHz on the page, Hz for the wizard
    EXPECT_EQ(o.scanner.pattern, Elliptical);
    EXPECT_EQ(o.scanner.fovAlong, 12.0);
    // The dialog's "Format 1" sets code 3 and "Format 3" code 1.
    for (const auto& [caption, code] : {std::pair<const char*, int>{"1", 3}, {"2", 2}, {"3", 1}})
        EXPECT_EQ(parsed({"--trajectory-format", caption}).trajectoryFormatCode, code) << caption;
}

// A small sample scene saved as an ASCII mesh: 2 km square, about 200 m high.
std::string write_scene_mesh(const TempDir& dir) {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    make_sample_scene(vertices, faces, 1500);
    NullProgress progress;
    write_mesh_file(vertices, faces, QString::fromStdString(dir.file("scene.txt")), progress);
    return dir.file("scene.txt");
}

// The same survey done by calling the core tasks in the desktop program's
// order, as its menu actions and dialogs do. Outputs go to <dir>/desk/.
struct DesktopSurvey {
    std::string meshFile, objFile;
    int axis = 0, unit = 1, formatCode = 3;
    WizardValues values;  // a velocity or height of 0: the wizard's suggestion
    std::uint32_t seed = 1;
    std::optional<ErrorSettings> errors;
    Names outputs;  // file names of the points, trajectory and mesh; "" = not saved

    std::string run(const TempDir& dir) const {
        std::filesystem::create_directory(dir.file("desk"));
        auto path = [&dir](const std::string& name) { return QString::fromStdString(dir.file("desk/" + name)); };
        SimulationData data;
        NullProgress progress;
        uniform_source().seed(seed);
        reset_normal_deviate();
        log_welcome(data);
        if (!meshFile.empty()) {
            open_mesh_begin(data);
            load_mesh_task(data, QString::fromStdString(meshFile), progress);
        } else {
            open_obj_begin(data);
            obj_file_chosen(data, progress);
            load_obj_task(data, QString::fromStdString(objFile), axis, unit, progress);
        }
        WizardValues v = values;
        if (v.flight.velocity == 0) v.flight.velocity = suggested_velocity((data.maxX - data.minX) / 5);
        if (v.flight.meanHeight == 0) v.flight.meanHeight = suggested_flying_height(data.maxZ);
        ++data.taskCount;  // opening the wizard
        generate_lasers_task(data, v, seed, progress);
        simulate_lidar_task(data, progress, 1);
        if (errors) introduce_errors_task(data, *errors, progress);
        if (!outputs[0].empty()) save_points_task(data, path(outputs[0]), progress);
        if (!outputs[1].empty()) save_trajectory_task(data, path(outputs[1]), formatCode, progress);
        if (!outputs[2].empty()) save_mesh_task(data, path(outputs[2]), progress);
        return data.logText.toStdString();
    }
};

// Runs the batch with its outputs and log in <dir>/<folder>/ and compares
// them byte for byte with the desktop's; the logs differ only in the folder.
Outcome expect_same_as_desktop(const TempDir& dir, const std::string& folder, Names args, const DesktopSurvey& desk) {
    std::filesystem::create_directory(dir.file(folder));
    const std::string from = dir.file("desk/"), to = dir.file(folder + "/");
    const Names options = {"--points", "--trajectory", "--save-mesh"};
    for (std::size_t i = 0; i < 3; ++i)
        if (!desk.outputs[i].empty()) args.insert(args.end(), {options[i], to + desk.outputs[i]});
    args.insert(args.end(), {"--log", to + "log.txt"});
    const Outcome o = run(args);
    EXPECT_EQ(o.status, kBatchOk) << o.err;
    std::string deskLog = desk.run(dir);
    for (std::size_t at; (at = deskLog.find(from)) != std::string::npos;) deskLog.replace(at, from.size(), to);
    EXPECT_EQ(read_file(to + "log.txt"), deskLog);
    // Not EXPECT_EQ: its diff of two large files takes too long.
    for (const std::string& name : desk.outputs)
        EXPECT_TRUE(name.empty() || read_file(to + name) == read_file(from + name)) << name << " differs";
    return o;
}

TEST(BatchRun, SurveysMatchTheDesktopStepsByteForByte) {
    TempDir dir;
    DesktopSurvey mesh;
    mesh.meshFile = write_scene_mesh(dir);
    // Flight, scanner and trajectory pages, with the suggested velocity and height.
    mesh.values = {{30, 0, 30, 0}, {1000, 20, 60, 0, ParallelLines}, true,
                   {{0.5, 0.2, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0.3, 1}, {0, 0, 0, 0}, {0, 0, 0, 0}}};
    mesh.seed = 7;
    mesh.errors = ErrorSettings{true, true, false, {0.1, 0, -0.2, 0.01, 0, 0, 0.05},
                                {0.05, 0.05, 0.1, 0, 0.001, 0, 0.02}, {}};
    mesh.outputs = {"p.txt", "t.txt", "m.txt"};
    mesh.formatCode = 2;
    // The cast in one or two threads gives the same points.
    for (const std::string threads : {"1", "2"}) {
        expect_same_as_desktop(dir, "threads" + threads,
                               {"--mesh", mesh.meshFile, "--prf", "1", "--orientation", "30", "--pattern", "parallel",
                                "--term-x", "0.5,0.2,0,0", "--term-roll", "0,0,0.3,1", "--systematic",
                                "0.1,0,-0.2,0.01,0,0,0.05", "--random", "0.05,0.05,0.1,0,0.001,0,0.02", "--seed", "7",
                                "--trajectory-format", "2", "--threads", threads},
                               mesh);
    }

    // A 100 m square of two quads in centimetres with y up, with texture
    // references, as exporters write them; everything else at its default.
    write_file(dir.file("waves.obj"),
               "o ground\nv 0 300 0\nv 5000 420 0\nv 10000 310 0\nv 0 360 10000\nv 5000 450 10000\n"
               "v 10000 330 10000\nvt 0 0\nf 1/1 2/1 5/1 4/1\nf 2/1 3/1 6/1 5/1\n");
    DesktopSurvey obj;
    obj.objFile = dir.file("waves.obj");
    obj.axis = 1;
    obj.unit = 2;
    obj.values = {{0, 50, 30, 50}, {10000, 20, 60, 0, ZigZagLines}, false, TrajectoryTerms(6, {0, 0, 0, 0})};
    obj.errors = ErrorSettings{false, false, true, {}, {}, {0.02, 0.02, 0.05}};
    obj.outputs = {"p.las", "t.txt", ""};
    const Outcome o = expect_same_as_desktop(dir, "obj",
                                             {"--obj", obj.objFile, "--up", "y", "--unit", "cm", "--height", "50",
                                              "--velocity", "50", "--overall", "0.02,0.02,0.05", "--quiet"},
                                             obj);
    EXPECT_EQ(o.out, "");  // --quiet: no summary
    EXPECT_GT(read_file(dir.file("desk/p.las")).size(), 1000u);
}

TEST(BatchRun, RefusedValuesEndWithExitTwoTheDialogsMessageAndNothingWritten) {
    TempDir dir;
    const std::string mesh = write_scene_mesh(dir);
    const std::vector<std::pair<Names, std::string>> cases = {
        // The wizard's and the error dialog's checks; the scene's top is near 200 m.
        {{"--orientation", "180.5"}, "Flight Orientation should be between 0 - 180 degrees!"},
        {{"--velocity", "-1"}, "Velocity should be positive!"},
        {{"--overlap", "101"}, "Overlap should be between 0 - 100%."},
        {{"--height", "150"}, "Flying height is lower than the highest point of terrain model!"},
        {{"--prf", "-0.5"}, "PRF should be greater than 0."},
        {{"--scan-frequency", "-20"}, "Scanning Frequency should be greater than 0."},
        {{"--fov-across", "181"}, "FOV should be between 0 - 180 degrees."},
        {{"--pattern", "elliptical", "--fov-along", "-1"}, "FOV should be between 0 - 180 degrees."},
        {{"--random", "0,0,-0.1,0,0,0,0"}, "Standard Deviation should be non-negative!"},
        // Empty values are the pages' blank fields; a run too large for memory is refused too.
        {{"--velocity", ""}, "One or more entires are left blank!!"},
        {{"--fov-along", ""}, "One or more entires are left blank!"},
        // (Asked for in memory: with a budget it would stream.)
        {{"--prf", "1e12", "--memory-budget", "none"},
         "Too many lasers: about 3.13e+16 pulses would not fit in memory. "
         "Please lower the pulse repetition frequency."},
        // Values the command line cannot hand on.
        {{"--velocity", "fast"}, "--velocity: 'fast' is not a number."},
        {{"--overlap", "nan"}, "--overlap: 'nan' is not a number."},
        {{"--term-x", "1,,2,3"}, "--term-x: '' is not a number."},
        {{"--systematic", "1,2,3"}, "--systematic: expected 7 comma-separated values, got 3 in '1,2,3'."},
        {{"--points", "out.LAS"}, "--points: 'out.LAS' ends in neither \".txt\" nor \".las\"."},
        {{"--overall", "1,1,1", "--random", "0,0,0,0,0,0,0"}, "--overall excludes --systematic and --random."},
    };
    for (const auto& [extra, message] : cases) {
        SCOPED_TRACE(extra[0] + " " + extra[1]);
        Names args = {"--mesh", mesh, "--trajectory", dir.file("t.txt"), "--save-mesh", dir.file("m.txt"),
                      "--log", dir.file("log.txt")};
        if (extra[0] != "--points") args.insert(args.end(), {"--points", dir.file("p.las")});
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome o = run(args);
        EXPECT_EQ(o.status, kBatchBadUsage);
        EXPECT_EQ(o.err, "Error: " + message + "\n");
        EXPECT_EQ(files_in(dir.path()), Names{"scene.txt"});
    }
}

TEST(BatchRun, ABrokenMeshOrALasCoordinateBeyond32BitsEndsWithExitOne) {
    TempDir dir;
    write_file(dir.file("broken.txt"), "3 1 0\n0 0 0\n1 0 0\n0 1\n");
    Outcome o = run({"--mesh", dir.file("broken.txt"), "--log", dir.file("log.txt")});
    EXPECT_EQ(o.status, kBatchFailed);
    EXPECT_NE(o.err.find("broken.txt"), std::string::npos) << o.err;
    EXPECT_EQ(files_in(dir.path()), Names{"broken.txt"});

    // No point file; the other outputs are still written.
    write_file(dir.file("far.txt"),
               "4 2 0\n30000000 0 0\n30000100 0 0\n30000100 100 5\n30000000 100 5\n1 2 3\n1 3 4\n");
    o = run({"--mesh", dir.file("far.txt"), "--height", "50", "--velocity", "50", "--points", dir.file("far.las"),
             "--save-mesh", dir.file("far-mesh.txt"), "--log", dir.file("far-log.txt")});
    EXPECT_EQ(o.status, kBatchFailed);
    EXPECT_EQ(o.err.rfind("Error: Cannot save '" + dir.file("far.las") + "' as LAS", 0), 0u) << o.err;
    EXPECT_EQ(files_in(dir.path()), (Names{"broken.txt", "far-log.txt", "far-mesh.txt", "far.txt"}));
}

TEST(BatchRun, WithoutLasersTheLaterStepsAreRefusedAndTheMeshIsStillSaved) {
    TempDir dir;
    const Outcome o = run({"--mesh", write_scene_mesh(dir), "--fov-across", "0", "--systematic", "0,0,1,0,0,0,0",
                           "--points", dir.file("p.txt"), "--trajectory", dir.file("t.txt"), "--save-mesh",
                           dir.file("m.txt"), "--log", dir.file("log.txt")});
    EXPECT_EQ(o.status, kBatchRefused);
    EXPECT_EQ(o.err,
              "Error: Please generate flight trajectory first!\n"
              "Error: no LiDAR data is in use!\n"
              "Error: No LiDAR data in use, please generate LiDAR data first!\n"
              "Error: No Lasers in use. Please generate lasers first!\n");
    EXPECT_EQ(files_in(dir.path()), (Names{"log.txt", "m.txt", "scene.txt"}));
    EXPECT_NE(read_file(dir.file("log.txt")).find("Total no. of Lasers = 0\n"), std::string::npos);
}

TEST(BatchRun, TheProgramReportsItsVersionAndExitStatus) {
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "pointfall-batch 4.0\n");
    const std::string program = POINTFALL_BATCH_EXE;
    EXPECT_EQ(WEXITSTATUS(std::system((program + " --overlap lots 2>/dev/null").c_str())), kBatchBadUsage);
}

}  // namespace
