// pointfall-batch with outputs that cannot be written: exit 1, the file and
// the system's reason on stderr, nothing left behind, the log claiming no save.
#include "batch_run.h"
#include "batch_test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "app/progress.h"
#include "support/failing_folder.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/sample_scene.h"

using namespace testing_support;
using namespace batch_test;

namespace {

// A small sample scene as an ASCII mesh in an ordinary folder.
std::string scene_mesh(const TempDir& dir) {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    make_sample_scene(vertices, faces, 1500);
    NullProgress progress;
    write_mesh_file(vertices, faces, QString::fromStdString(dir.file("scene.txt")), progress);
    return dir.file("scene.txt");
}

// Each output option once, by the file name it writes.
const std::vector<std::pair<std::string, std::string>> kOutputs = {
    {"--points", "p.txt"}, {"--points", "p.las"}, {"--trajectory", "t.txt"},
    {"--save-mesh", "m.txt"}, {"--log", "log.txt"},
};

}  // namespace

TEST(BatchFailedWrites, EveryOutputEndsWithExitOneAndTheReason) {
    TempDir dir;
    const std::string mesh = scene_mesh(dir);
    const std::string log = dir.file("run.log");
    // The full disk is found while writing; the read-only folder already by
    // the check before the survey. "p.las" exists beforehand.
    const std::map<std::string, std::string> existing = {{"p.las", "old points"}};
    for (FailingFolder::Kind kind : {FailingFolder::ReadOnly, FailingFolder::Full}) {
        FailingFolder folder(kind, existing);
        if (!folder.unavailable().empty()) GTEST_SKIP() << "No failing folder: " << folder.unavailable();
        for (const auto& [option, name] : kOutputs) {
            const std::string path = folder.file(name);
            SCOPED_TRACE(option + " " + path);
            Names args = {"--mesh", mesh, "--prf", "1", "--quiet", option, path};
            if (option != "--log") args.insert(args.end(), {"--log", log});
            const Outcome result = run(args);
            EXPECT_EQ(result.status, kBatchFailed);
            const std::string& err = result.err;
            std::string expected = "Could not write '" + path + "': " + folder.reason() + ".";
            if (kind == FailingFolder::ReadOnly)
                expected = "Cannot write '" + path + "': it is in a folder that is not writable.";
            EXPECT_EQ(err, "Error: " + expected + "\n");
            // The run's log, when it was written, claims no save of the file.
            if (option != "--log" && kind == FailingFolder::Full) {
                EXPECT_EQ(read_file(log).find(path), std::string::npos);
            }
        }
        EXPECT_EQ(folder_entries(folder.path()), Names{"p.las"});
        EXPECT_EQ(read_file(folder.file("p.las")), "old points");
    }
}

TEST(BatchFailedWrites, AFullDeviceIsReported) {
    TempDir dir;
    const std::string mesh = scene_mesh(dir);
    for (const char* option : {"--trajectory", "--save-mesh", "--log"}) {
        const Outcome result = run({"--mesh", mesh, "--prf", "1", "--quiet", option, "/dev/full"});
        EXPECT_EQ(result.status, kBatchFailed) << option;
        EXPECT_EQ(result.err, "Error: Could not write '/dev/full': " + std::string(std::strerror(ENOSPC)) + ".\n");
    }
}

TEST(BatchFailedWrites, TheProgramOnAFullDiskExitsOneAndLeavesNoFile) {
    TempDir dir;
    const std::string mesh = scene_mesh(dir);
    FailingFolder folder(FailingFolder::Full, {});
    if (!folder.unavailable().empty()) GTEST_SKIP() << "No failing folder: " << folder.unavailable();
    // The child process sees the tmpfs: it inherits this thread's mounts.
    const std::string command = std::string(POINTFALL_BATCH_EXE) + " --quiet --prf 1 --mesh '" + mesh + "' --points '" +
                                folder.file("p.txt") + "' --trajectory '" + folder.file("t.txt") + "' 2>'" +
                                dir.file("err.txt") + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kBatchFailed);
    const std::string reason = folder.reason();
    EXPECT_EQ(read_file(dir.file("err.txt")), "Error: Could not write '" + folder.file("p.txt") + "': " + reason +
                                                  ".\nError: Could not write '" + folder.file("t.txt") + "': " +
                                                  reason + ".\n");
    EXPECT_EQ(folder_entries(folder.path()), Names{});
}
