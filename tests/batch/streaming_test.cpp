#include "batch_run.h"
#include "batch_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <QJsonDocument>
#include <QJsonObject>

#include "app/progress.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/sample_scene.h"

using namespace testing_support;
using namespace batch_test;

namespace {

// Every output a survey can write, named in `folder`; the log and the
// report too (compared without its stage times and thread count).
Names all_outputs(const std::string& folder, const std::string& points) {
    return {"--points",        folder + "/" + points,   "--trajectory",  folder + "/t.txt",
            "--log",           folder + "/log.txt",     "--las14",       folder + "/p14.las",
            "--csv",           folder + "/p.csv",       "--trajectory-csv", folder + "/t.csv",
            "--coverage-png",  folder + "/c.png",       "--report",      folder + "/r.json"};
}

std::string without_stage_times(const std::string& report) {
    QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(report)).object();
    root.remove(QStringLiteral("secondsPerStage"));
    QJsonObject parameters = root.value(QStringLiteral("parameters")).toObject();
    parameters.remove(QStringLiteral("threads"));
    root.insert(QStringLiteral("parameters"), parameters);
    return QJsonDocument(root).toJson().toStdString();
}

// The run in memory on one thread is the reference; streamed runs in
// chunks small enough to split every flight line, on several thread
// counts, must write the same bytes into every file, log included (the
// folder names in the log are the only difference and are kept equal by
// running in the same folder one after the other).
void expect_streams_like_memory(const TempDir& dir, const Names& scene, const std::string& points) {
    const std::string folder = dir.file("out");
    auto survey = [&](const Names& extra) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        Names args = scene;
        const Names outputs = all_outputs(folder, points);
        args.insert(args.end(), outputs.begin(), outputs.end());
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome o = run(args);
        EXPECT_EQ(o.status, 0) << o.err;
        std::vector<std::pair<std::string, std::string>> files;
        for (const std::string& name : files_in(folder)) {
            const std::string bytes = read_file(folder + "/" + name);
            files.emplace_back(name, name == "r.json" ? without_stage_times(bytes) : bytes);
        }
        return std::make_pair(files, o);
    };
    const auto [reference, memory] = survey({"--threads", "1"});
    ASSERT_EQ(reference.size(), 8u);
    EXPECT_EQ(memory.out.find("Streamed:"), std::string::npos);
    for (const std::string threads : {"1", "2", "3"}) {
        SCOPED_TRACE("threads " + threads);
        const auto [files, streamed] = survey({"--stream", "--chunk-pulses", "777", "--threads", threads});
        EXPECT_NE(streamed.out.find("Streamed:               in chunks of at most 777 pulses (asked for"),
                  std::string::npos)
            << streamed.out;
        ASSERT_EQ(files.size(), reference.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            EXPECT_EQ(files[i].first, reference[i].first);
            // Not EXPECT_EQ: its diff of two large files takes too long.
            EXPECT_TRUE(files[i].second == reference[i].second) << files[i].first << " differs";
        }
    }
}

TEST(StreamedRun, WritesTheBytesOfTheRunInMemory) {
    TempDir dir;
    // The Delft model with systematic and random errors.
    expect_streams_like_memory(dir,
                               {"--obj", real_data_path("3dfier/testarea.obj"), "--prf", "2", "--systematic",
                                "0.1,0,-0.2,0.01,0,0,0.05", "--random", "0.05,0.05,0.1,0.01,0.001,0.002,0.02",
                                "--seed", "5", "--trajectory-format", "1"},
                               "p.las");
    // A realistic trajectory (its terms re-signed for every line and pulse),
    // the saw-tooth pattern whose phase runs on over the lines, text points.
    expect_streams_like_memory(dir,
                               {"--sample-triangles", "3000", "--prf", "1", "--pattern", "parallel", "--term-x",
                                "0.5,0.2,0,0", "--term-roll", "0,0,0.3,1", "--term-yaw", "0.1,2,0,0", "--random",
                                "0.05,0.05,0.1,0,0.001,0,0.02", "--seed", "9", "--trajectory-format", "2"},
                               "p.txt");
    // The overall error and an ellipse, lines at an angle.
    expect_streams_like_memory(dir,
                               {"--sample-triangles", "3000", "--prf", "1", "--pattern", "elliptical", "--fov-along",
                                "20", "--orientation", "30", "--overall", "0.02,0.02,0.05", "--trajectory-format",
                                "3"},
                               "p.las");
}

TEST(StreamedRun, StreamsOnItsOwnAboveTheMemoryBudget) {
    TempDir dir;
    const Outcome o = run({"--sample-triangles", "2000", "--prf", "1", "--memory-budget", "1M", "--points",
                           dir.file("p.las")});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(" exceeds the memory budget of 0.0 GiB)"), std::string::npos) << o.out;
    const Outcome big = run({"--sample-triangles", "2000", "--prf", "1", "--memory-budget", "1G", "--points",
                             dir.file("q.las")});
    EXPECT_EQ(big.out.find("Streamed:"), std::string::npos) << big.out;
    EXPECT_TRUE(read_file(dir.file("p.las")) == read_file(dir.file("q.las")));
    // Without a budget, a survey of more than one chunk streams; "none"
    // keeps it in memory whatever its size.
    const Names chunked = {"--sample-triangles", "2000", "--prf", "1", "--chunk-pulses", "5000", "--points"};
    Names streamedArgs = chunked, wholeArgs = chunked;
    streamedArgs.push_back(dir.file("s.las"));
    wholeArgs.insert(wholeArgs.end(), {dir.file("w.las"), "--memory-budget", "none"});
    const Outcome streamed = run(streamedArgs);
    EXPECT_NE(streamed.out.find("Streamed:               in chunks of at most 5000 pulses (the survey spans more than "
                                "one chunk; --memory-budget keeps it in memory)"),
              std::string::npos)
        << streamed.out;
    const Outcome whole = run(wholeArgs);
    EXPECT_EQ(whole.out.find("Streamed:"), std::string::npos) << whole.out;
    EXPECT_TRUE(read_file(dir.file("s.las")) == read_file(dir.file("p.las")));
    EXPECT_TRUE(read_file(dir.file("w.las")) == read_file(dir.file("p.las")));
    for (const std::string bad : {"0", "12X", "-1G", "G"}) {
        const Outcome refused = run({"--memory-budget", bad});
        EXPECT_EQ(refused.status, kBatchBadUsage) << bad;
        EXPECT_EQ(refused.err, "Error: --memory-budget: '" + bad + "' is not a size such as 512M or 4G.\n");
    }
}

// Without --chunk-pulses a run on one thread takes smaller chunks than one
// on more threads; the bytes are the same.
TEST(StreamedRun, OneThreadTakesSmallerChunksUnlessToldOtherwise) {
    TempDir dir;
    const Names survey = {"--sample-triangles", "2000", "--prf", "1", "--stream", "--trajectory"};
    auto streamed = [&](const char* threads, const std::string& file, Names extra) {
        Names args = survey;
        args.push_back(dir.file(file));
        args.insert(args.end(), {"--threads", threads});
        args.insert(args.end(), extra.begin(), extra.end());
        return run(args);
    };
    const Outcome one = streamed("1", "one.txt", {});
    const Outcome two = streamed("2", "two.txt", {});
    const Outcome told = streamed("1", "told.txt", {"--chunk-pulses", "262144"});
    EXPECT_NE(one.out.find("Streamed:               in chunks of at most 32768 pulses"), std::string::npos) << one.out;
    EXPECT_NE(two.out.find("Streamed:               in chunks of at most 262144 pulses"), std::string::npos) << two.out;
    EXPECT_NE(told.out.find("Streamed:               in chunks of at most 262144 pulses"), std::string::npos) << told.out;
    EXPECT_TRUE(read_file(dir.file("one.txt")) == read_file(dir.file("two.txt")));
    EXPECT_TRUE(read_file(dir.file("one.txt")) == read_file(dir.file("told.txt")));
}

// A signal in the middle of a streamed run: the program stops between two
// chunks, removes what it had started and leaves no file under a final
// name, with status 128 + the signal.
TEST(StreamedRun, ASignalLeavesNoHalfWrittenOutput) {
    TempDir dir;
    // The last survey is absurd (some 10^16 pulses): it must still be
    // counted and under way at once, and stop on the signal.
    for (const auto& [signal, prf] : {std::pair<int, const char*>{SIGINT, "40"}, {SIGTERM, "40"}, {SIGINT, "1e12"}}) {
        SCOPED_TRACE(std::to_string(signal) + " " + prf);
        const std::string folder = dir.file(std::string(signal == SIGINT ? "int" : "term") + prf);
        std::filesystem::create_directory(folder);
        write_file(folder + "/t.txt", "an older trajectory\n");
        const std::string program = POINTFALL_BATCH_EXE;
        // About two million pulses in chunks of 2000: long enough to be
        // caught mid-run.
        const Names args = {program,          "--quiet",          "--sample-triangles", "20000", "--prf", prf,
                            "--stream",       "--chunk-pulses",   "2000",               "--points",
                            folder + "/p.las", "--trajectory",    folder + "/t.txt",    "--log", folder + "/log.txt"};
        const pid_t child = fork();
        if (child == 0) {
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stdout);
            freopen((folder + ".err").c_str(), "w", stderr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        ASSERT_GT(child, 0);
        // Wait for the first files under their temporary names.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool started = false;
        while (!started && std::chrono::steady_clock::now() < deadline) {
            for (const std::string& name : files_in(folder)) started = started || name.front() == '.';
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!started) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        ASSERT_TRUE(started);
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        // Only the older trajectory, as it was.
        EXPECT_EQ(files_in(folder), Names{"t.txt"});
        EXPECT_EQ(read_file(folder + "/t.txt"), "an older trajectory\n");
        const std::string err = read_file(folder + ".err");
        EXPECT_NE(err.find(std::string("Interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + " after "),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("Kept: nothing. Removed the unfinished '" + folder + "/p.las', '" + folder + "/t.txt'."),
                  std::string::npos)
            << err;
    }
}

}  // namespace
