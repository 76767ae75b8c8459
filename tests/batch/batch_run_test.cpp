#include "batch_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
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

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// The desktop program's start-up text, written out here on purpose: the
// batch log must begin exactly like the panel of a freshly started program.
const char* const kWelcome =
    "Welcome to Pointfall 4.0.....\n\nPlease upload a 3D model(.obj) or a mesh(.txt).\n"
    "In case of uploading a mesh, please look at it's specified format in 'Help' section.\n";

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& args, bool progress = false) {
    std::ostringstream out, err;
    Outcome o;
    o.status = run_batch(args, out, err, progress);
    o.out = out.str();
    o.err = err.str();
    return o;
}

std::vector<std::string> files_in(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A small sample scene saved as an ASCII mesh: 2 km square, about 200 m high.
std::string write_scene_mesh(const TempDir& dir) {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    make_sample_scene(vertices, faces, 1500);
    const std::string path = dir.file("scene.txt");
    NullProgress progress;
    write_mesh_file(vertices, faces, QString::fromStdString(path), progress);
    return path;
}

// A 100 m square of gentle waves as an OBJ in centimetres with y up, quads
// written with texture references, as exporters do.
std::string write_wave_obj(const TempDir& dir) {
    std::ostringstream obj;
    obj << "# waves\no ground\n";
    const int n = 11;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const double height = 300 + 150 * std::sin(i * 0.7) * std::cos(j * 0.5);
            obj << "v " << i * 1000 << ' ' << height << ' ' << j * 1000 << "\n";
        }
    }
    obj << "vt 0 0\n";
    for (int j = 0; j + 1 < n; ++j) {
        for (int i = 0; i + 1 < n; ++i) {
            const int a = j * n + i + 1;
            obj << "f " << a << "/1 " << a + 1 << "/1 " << a + n + 1 << "/1 " << a + n << "/1\n";
        }
    }
    const std::string path = dir.file("waves.obj");
    write_file(path, obj.str());
    return path;
}

// The same survey done by calling the core tasks in the desktop program's
// order, as its menu actions and dialogs do.
struct DesktopSurvey {
    std::string meshFile, objFile;
    int axis = 0, unit = 1;
    // Left unset: the values the wizard suggests for the model.
    std::optional<double> velocity, height;
    WizardValues values;
    std::uint32_t seed = 1;
    std::optional<ErrorSettings> errors;
    std::string points, trajectory, savedMesh;
    int formatCode = 3;

    std::string run() {
        SimulationData data;
        NullProgress progress;
        uniform_source().seed(seed);
        reset_normal_deviate();
        data.pendingMessage = QString::fromLatin1(kWelcome);
        data.appendLog();
        if (!meshFile.empty()) {
            open_mesh_begin(data);
            load_mesh_task(data, QString::fromStdString(meshFile), progress);
        } else {
            open_obj_begin(data);
            obj_file_chosen(data, progress);
            load_obj_task(data, QString::fromStdString(objFile), axis, unit, progress);
        }
        values.flight.velocity = velocity ? *velocity : suggested_velocity((data.maxX - data.minX) / 5);
        values.flight.meanHeight = height ? *height : suggested_flying_height(data.maxZ);
        ++data.taskCount;  // opening the wizard
        generate_lasers_task(data, values, seed, progress);
        simulate_lidar_task(data, progress, 1);
        if (errors) introduce_errors_task(data, *errors, progress);
        if (!points.empty()) save_points_task(data, QString::fromStdString(points), progress);
        if (!trajectory.empty()) save_trajectory_task(data, QString::fromStdString(trajectory), formatCode, progress);
        if (!savedMesh.empty()) save_mesh_task(data, QString::fromStdString(savedMesh), progress);
        return data.logText.toStdString();
    }
};

TEST(BatchRun, MeshSurveyWithErrorsMatchesTheDesktopStepsByteForByte) {
    TempDir dir;
    const std::string mesh = write_scene_mesh(dir);
    const Outcome o = run({"--mesh",
                           mesh,
                           "--prf",
                           "1",
                           "--velocity",
                           "250",
                           "--orientation",
                           "30",
                           "--pattern",
                           "parallel",
                           "--term-x",
                           "0.5,0.2,0,0",
                           "--term-roll",
                           "0,0,0.3,1",
                           "--systematic",
                           "0.1,0,-0.2,0.01,0,0,0.05",
                           "--random",
                           "0.05,0.05,0.1,0,0.001,0,0.02",
                           "--seed",
                           "7",
                           "--points",
                           dir.file("p.txt"),
                           "--trajectory",
                           dir.file("t.txt"),
                           "--trajectory-format",
                           "2",
                           "--save-mesh",
                           dir.file("m.txt"),
                           "--log",
                           dir.file("log.txt"),
                           "--threads",
                           "2"});
    ASSERT_EQ(o.status, kBatchOk) << o.err;

    DesktopSurvey desk;
    desk.meshFile = mesh;
    desk.velocity = 250;
    desk.values.flight.orientation = 30;
    desk.values.flight.overlap = 30;
    desk.values.scanner.prf = 1000;
    desk.values.scanner.scanFrequency = 20;
    desk.values.scanner.fovAcross = 60;
    desk.values.scanner.fovAlong = 0;
    desk.values.scanner.pattern = ParallelLines;
    desk.values.realisticTrajectory = true;
    desk.values.trajectoryTerms = {{0.5, 0.2, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0},
                                   {0, 0, 0.3, 1},   {0, 0, 0, 0}, {0, 0, 0, 0}};
    desk.seed = 7;
    ErrorSettings errors;
    errors.systematicOn = errors.randomOn = true;
    errors.systematic = {0.1, 0, -0.2, 0.01, 0, 0, 0.05};
    errors.random = {0.05, 0.05, 0.1, 0, 0.001, 0, 0.02};
    desk.errors = errors;
    desk.points = dir.file("p-desk.txt");
    desk.trajectory = dir.file("t-desk.txt");
    desk.formatCode = 2;
    desk.savedMesh = dir.file("m-desk.txt");
    std::string deskLog = desk.run();

    // The desktop log names its own files; the rest must be identical.
    for (const char* name : {"p", "t", "m"}) {
        const std::string from = dir.file(std::string(name) + "-desk.txt");
        const std::string to = dir.file(std::string(name) + ".txt");
        deskLog.replace(deskLog.find(from), from.size(), to);
        EXPECT_EQ(read_file(to), read_file(from)) << name;
    }
    EXPECT_GT(read_file(dir.file("p.txt")).size(), 1000u);
    EXPECT_EQ(read_file(dir.file("log.txt")), deskLog);
    EXPECT_EQ(deskLog.rfind(kWelcome, 0), 0u);
    EXPECT_NE(deskLog.find("Systematic Error Added"), std::string::npos);
    EXPECT_NE(deskLog.find("Realistic Trajectory =  Yes"), std::string::npos);
}

TEST(BatchRun, ObjSurveyToLasMatchesTheDesktopStepsByteForByte) {
    TempDir dir;
    const std::string obj = write_wave_obj(dir);
    const Outcome o = run({"--obj",        obj,
                           "--up",         "y",
                           "--unit",       "cm",
                           "--height",     "50",
                           "--velocity",   "50",
                           "--prf",        "2",
                           "--overall",    "0.02,0.02,0.05",
                           "--points",     dir.file("p.las"),
                           "--trajectory", dir.file("t.txt"),
                           "--log",        dir.file("log.txt"),
                           "--quiet"});
    ASSERT_EQ(o.status, kBatchOk) << o.err;
    EXPECT_EQ(o.out, "");  // --quiet: no summary

    DesktopSurvey desk;
    desk.objFile = obj;
    desk.axis = 1;
    desk.unit = 2;
    desk.height = 50;
    desk.velocity = 50;
    desk.values.flight.overlap = 30;
    desk.values.scanner.prf = 2000;
    desk.values.scanner.scanFrequency = 20;
    desk.values.trajectoryTerms = TrajectoryTerms(6, std::vector<double>(4, 0.0));
    ErrorSettings errors;
    errors.overallOn = true;
    errors.overall = {0.02, 0.02, 0.05};
    desk.errors = errors;
    desk.points = dir.file("p-desk.las");
    desk.trajectory = dir.file("t-desk.txt");
    std::string deskLog = desk.run();
    for (const char* name : {"p-desk.las", "t-desk.txt"}) {
        const std::string from = dir.file(name);
        std::string to = from;
        to.erase(to.find("-desk"), 5);
        deskLog.replace(deskLog.find(from), from.size(), to);
        EXPECT_EQ(read_file(to), read_file(from)) << name;
    }
    EXPECT_EQ(read_file(dir.file("p.las")).substr(0, 4), "LASF");
    EXPECT_EQ(read_file(dir.file("log.txt")), deskLog);
    EXPECT_NE(deskLog.find("Original Vertical Axis = y axis"), std::string::npos);
}

TEST(BatchRun, OutputsDoNotDependOnTheThreadCount) {
    TempDir dir;
    const std::string mesh = write_scene_mesh(dir);
    std::vector<std::string> base = {"--mesh", mesh,        "--prf",     "1",        "--velocity",
                                     "200",    "--pattern", "spherical", "--random", "0.1,0.1,0.1,0.01,0.01,0.01,0.01",
                                     "--quiet"};
    for (const char* threads : {"1", "2"}) {
        std::vector<std::string> args = base;
        const std::string tag = threads;
        args.insert(args.end(), {"--threads", tag, "--points", dir.file("p" + tag + ".las"), "--log",
                                 dir.file("log" + tag + ".txt")});
        ASSERT_EQ(run(args).status, kBatchOk);
    }
    EXPECT_GT(read_file(dir.file("p1.las")).size(), 227u);
    EXPECT_EQ(read_file(dir.file("p1.las")), read_file(dir.file("p2.las")));
    std::string log1 = read_file(dir.file("log1.txt"));
    const std::string log2 = read_file(dir.file("log2.txt"));
    log1.replace(log1.find("p1.las"), 6, "p2.las");
    EXPECT_EQ(log1, log2);
}

TEST(BatchRun, DialogRefusalsEndWithExitTwoAndWriteNothing) {
    TempDir dir;
    const std::string mesh = write_scene_mesh(dir);
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    // The scene's top is near 200 m, so the suggested height is 1000 m.
    const std::vector<Case> cases = {
        {{"--orientation", "180.5"}, "Flight Orientation should be between 0 - 180 degrees!"},
        {{"--velocity", "-1"}, "Velocity should be positive!"},
        {{"--overlap", "101"}, "Overlap should be between 0 - 100%."},
        {{"--height", "150"}, "Flying height is lower than the highest point of terrain model!"},
        {{"--prf", "-0.5"}, "PRF should be greater than 0."},
        {{"--scan-frequency", "-20"}, "Scanning Frequency should be greater than 0."},
        {{"--fov-across", "181"}, "FOV should be between 0 - 180 degrees."},
        {{"--pattern", "elliptical", "--fov-along", "-1"}, "FOV should be between 0 - 180 degrees."},
        {{"--random", "0,0,-0.1,0,0,0,0"}, "Standard Deviation should be non-negative!"},
        {{"--overall", "0,-1,0"}, "Standard Deviation should be non-negative!"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {
            "--mesh",          mesh,          "--points",        dir.file("p.las"), "--trajectory",
            dir.file("t.txt"), "--save-mesh", dir.file("m.txt"), "--log",           dir.file("log.txt")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome o = run(args);
        EXPECT_EQ(o.status, kBatchBadUsage) << c.message;
        EXPECT_EQ(o.err, std::string("Error: ") + c.message + "\n");
        EXPECT_EQ(files_in(dir), std::vector<std::string>{"scene.txt"}) << c.message;
    }
    // A flying height equal to the model top is accepted.
    NullProgress progress;
    SimulationData data;
    load_mesh_task(data, QString::fromStdString(mesh), progress);
    std::ostringstream height;
    height.precision(17);
    height << data.maxZ;
    EXPECT_EQ(run({"--mesh", mesh, "--height", height.str(), "--prf", "0.2", "--velocity", "400", "--quiet"}).status,
              kBatchOk);
}

TEST(BatchRun, UnreadableModelsAndOutputsEndWithExitOne) {
    TempDir dir;
    write_file(dir.file("broken.txt"), "3 1 0\n0 0 0\n1 0 0\n0 1\n");
    Outcome o = run({"--mesh", dir.file("broken.txt"), "--log", dir.file("log.txt")});
    EXPECT_EQ(o.status, kBatchFailed);
    EXPECT_NE(o.err.find("broken.txt"), std::string::npos) << o.err;
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"broken.txt"});

    o = run({"--mesh", dir.file("missing.txt")});
    EXPECT_EQ(o.status, kBatchFailed);
    EXPECT_NE(o.err.find("missing.txt"), std::string::npos);

    o = run({"--obj", dir.file("broken.txt")});  // not named .obj: nothing is read
    EXPECT_EQ(o.status, kBatchFailed);

    // A folder that does not exist is found before anything runs.
    const std::string mesh = write_scene_mesh(dir);
    o = run({"--mesh", mesh, "--points", dir.file("no/such/folder/p.las"), "--log", dir.file("log.txt")});
    EXPECT_EQ(o.status, kBatchFailed);
    EXPECT_NE(o.err.find("no/such/folder/p.las"), std::string::npos);
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"broken.txt", "scene.txt"}));

    // Coordinates beyond what LAS holds in 32 bits: no point file, the other
    // outputs are still written.
    write_file(dir.file("far.txt"),
               "4 2 0\n30000000 0 0\n30000100 0 0\n30000100 100 5\n30000000 100 5\n1 2 3\n1 3 4\n");
    o = run({"--mesh", dir.file("far.txt"), "--height", "50", "--velocity", "50", "--prf", "1", "--points",
             dir.file("far.las"), "--save-mesh", dir.file("far-mesh.txt"), "--log", dir.file("far-log.txt")});
    EXPECT_EQ(o.status, kBatchFailed) << o.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("far.las")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("far-mesh.txt")));
    EXPECT_EQ(read_file(dir.file("far-log.txt")).find("LiDAR data saved"), std::string::npos);
}

TEST(BatchRun, StepsWithoutLasersAreRefusedAndTheRestStillRuns) {
    TempDir dir;
    const std::string mesh = write_scene_mesh(dir);
    const Outcome o =
        run({"--mesh", mesh, "--fov-across", "0", "--systematic", "0,0,1,0,0,0,0", "--points", dir.file("p.txt"),
             "--trajectory", dir.file("t.txt"), "--save-mesh", dir.file("m.txt"), "--log", dir.file("log.txt")});
    EXPECT_EQ(o.status, kBatchRefused);
    EXPECT_EQ(o.err,
              "Error: Please generate flight trajectory first!\n"
              "Error: no LiDAR data is in use!\n"
              "Error: No LiDAR data in use, please generate LiDAR data first!\n"
              "Error: No Lasers in use. Please generate lasers first!\n");
    EXPECT_EQ(files_in(dir), (std::vector<std::string>{"log.txt", "m.txt", "scene.txt"}));
    EXPECT_EQ(read_file(dir.file("m.txt")), read_file(mesh));
    const std::string log = read_file(dir.file("log.txt"));
    EXPECT_NE(log.find("Total no. of Lasers = 0\n"), std::string::npos);
    EXPECT_EQ(log.find("Intersection points calculated"), std::string::npos);
    EXPECT_EQ(log.find("Error Introduced"), std::string::npos);
    EXPECT_NE(log.find("ASCII file of extracted mesh data saved, Path : " + dir.file("m.txt") + "\n"),
              std::string::npos);
    EXPECT_NE(o.out.find("Lasers:                 0\n"), std::string::npos);
}

// Runs in a fresh folder as the current directory, as the demo command does.
class InFolder {
public:
    explicit InFolder(const std::string& path) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

TEST(BatchRun, WithoutModelAndPointsTheSampleSceneGoesToTheDemoFile) {
    TempDir dir;
    {
        InFolder here(dir.path());
        const Outcome o = run({"--sample-triangles", "3000", "--prf", "1", "--velocity", "200"}, true);
        ASSERT_EQ(o.status, kBatchOk) << o.err;
        // One bar per stage, drawn in place.
        for (const char* stage : {"Loading model", "Generating lasers", "Casting lasers", "Saving points"}) {
            EXPECT_NE(o.err.find(stage), std::string::npos) << stage;
        }
        EXPECT_NE(o.err.find("100%"), std::string::npos);
        EXPECT_NE(o.err.find('\r'), std::string::npos);
        EXPECT_NE(o.out.find("Points:"), std::string::npos);
        EXPECT_NE(o.out.find("Expected intersections:"), std::string::npos);
        EXPECT_NE(o.out.find("per Sq m"), std::string::npos);
        EXPECT_NE(o.out.find("  cast "), std::string::npos);
    }
    EXPECT_EQ(files_in(dir), std::vector<std::string>{"pointfall-demo.las"});
    EXPECT_EQ(read_file(dir.file("pointfall-demo.las")).substr(0, 4), "LASF");

    // The sample scene is logged like an opened mesh.
    const Outcome o = run({"--sample-triangles", "3000", "--prf", "0.2", "--velocity", "400", "--points",
                           dir.file("s.txt"), "--log", dir.file("log.txt"), "--quiet"});
    ASSERT_EQ(o.status, kBatchOk);
    EXPECT_EQ(o.err, "");
    const std::string log = read_file(dir.file("log.txt"));
    EXPECT_EQ(log.rfind(std::string(kWelcome) + "\n\nFile has been been loaded successfully\n", 0), 0u);
    EXPECT_NE(log.find("Original Vertical Axis = z axis"), std::string::npos);
    EXPECT_EQ(log.find("You may also save the extracted mesh."), std::string::npos);
}

TEST(BatchRun, TheProgramReportsItsExitStatus) {
    auto shell = [](const std::string& args, std::string& output) {
        const std::string command = std::string(POINTFALL_BATCH_EXE) + " " + args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[256];
        output.clear();
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string output;
    EXPECT_EQ(shell("--version", output), 0);
    EXPECT_EQ(output, "pointfall-batch 4.0\n");
    EXPECT_EQ(shell("--overlap lots", output), 2);
    EXPECT_EQ(output, "Error: --overlap: 'lots' is not a number.\n");
    EXPECT_EQ(shell("--mesh /nonexistent/mesh.txt", output), 1);
}

}  // namespace
