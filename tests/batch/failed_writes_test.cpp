// pointfall-batch with outputs that cannot be written: exit 1, the file and
// the system's reason on stderr, nothing left behind, the log claiming no save.
#include "batch_run.h"
#include "batch_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "support/failing_folder.h"
#include "support/test_support.h"

using namespace testing_support;
using namespace batch_test;

namespace {

// Each output option once, by the file name it writes.
const std::vector<std::pair<std::string, std::string>> kOutputs = {
    {"--points", "p.txt"}, {"--points", "p.las"}, {"--trajectory", "t.txt"},
    {"--save-mesh", "m.txt"}, {"--log", "log.txt"},
};

}  // namespace

TEST(BatchFailedWrites, EveryOutputEndsWithExitOneAndTheReason) {
    TempDir dir;
    const std::string mesh = write_scene_mesh(dir);
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

// A failed output does not stop the others: each is tried and reported.
TEST(BatchFailedWrites, AFullDeviceIsReportedForEveryOutput) {
    TempDir dir;
    const Outcome result = run({"--mesh", write_scene_mesh(dir), "--prf", "1", "--quiet", "--trajectory", "/dev/full",
                                "--save-mesh", "/dev/full", "--log", "/dev/full"});
    EXPECT_EQ(result.status, kBatchFailed);
    const std::string line = "Error: Could not write '/dev/full': " + std::string(std::strerror(ENOSPC)) + ".\n";
    EXPECT_EQ(result.err, line + line + line);
}
