// Writes that fail: a full disk, a read-only folder, /dev/full. The error
// names the file and the system's reason, nothing is logged, no temporary
// or partial file is left and an existing file keeps its bytes.
#include "app/failure.h"
#include "app/simulation_data.h"
#include "output/las_writer.h"
#include "output/output_tasks.h"
#include "output/point_file.h"
#include "output/trajectory_file.h"
#include "output/writing_loop.h"
#include "support/failing_folder.h"
#include "support/recording_progress.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/terrain_tasks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

using namespace testing_support;
using Names = std::vector<std::string>;

namespace {

// A model, lasers and points: enough for every save.
void survey(SimulationData& data) {
    data.vertices = {{0, 0, 0}, {100, 0, 3}, {100, 80, 12}};
    data.faces = {Face{{1, 2, 3}}};
    data.lasers() = {hit(1.5, 2.5, 3.5), LaserLine{}, hit(-1, -2, -3)};
    data.points = {{1.5, 2.5, 3.5}, {-1, -2, -3}};
}

using SaveTask = std::function<void(SimulationData&, const QString&, Progress&)>;

// Every kind of file the desktop program saves, by the name it is saved under.
const std::vector<std::pair<std::string, SaveTask>>& save_tasks() {
    static const std::vector<std::pair<std::string, SaveTask>> tasks = {
        {"p.txt", [](SimulationData& d, const QString& f, Progress& p) { save_points_task(d, f, p); }},
        {"p.las", [](SimulationData& d, const QString& f, Progress& p) { save_points_task(d, f, p); }},
        {"t.txt", [](SimulationData& d, const QString& f, Progress& p) { save_trajectory_task(d, f, 3, p); }},
        {"m.txt", [](SimulationData& d, const QString& f, Progress& p) { save_mesh_task(d, f, p); }},
    };
    return tasks;
}

std::string failure(const std::string& path, const std::string& reason) {
    return "Could not write '" + path + "': " + reason + ".";
}

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TEST(FailedWrites, SaveTasksThrowBeforeLoggingAndLeaveTheFolderAsItWas) {
    // Two names exist beforehand (replaced through a temporary file), two do not.
    const std::map<std::string, std::string> existing = {{"p.las", "old points"}, {"m.txt", "old mesh"}};
    for (FailingFolder::Kind kind : {FailingFolder::ReadOnly, FailingFolder::Full}) {
        FailingFolder folder(kind, existing);
        if (!folder.unavailable().empty()) GTEST_SKIP() << "No failing folder: " << folder.unavailable();
        for (const auto& [name, save] : save_tasks()) {
            SCOPED_TRACE(folder.file(name));
            SimulationData data;
            survey(data);
            const QString log = data.logText;
            RecordingProgress progress;
            EXPECT_EQ(output_error([&] { save(data, q(folder.file(name)), progress); }),
                      failure(folder.file(name), folder.reason()));
            EXPECT_EQ(data.logText, log);
            EXPECT_EQ(data.taskCount, 0u);
            EXPECT_TRUE(progress.statuses.isEmpty());
        }
        EXPECT_EQ(folder_entries(folder.path()), (Names{"m.txt", "p.las"}));
        for (const auto& [name, bytes] : existing) EXPECT_EQ(read_file(folder.file(name)), bytes);
    }
}

TEST(FailedWrites, EveryWriterReportsAFullDevice) {
    SimulationData data;
    survey(data);
    const QString full = QStringLiteral("/dev/full");
    const std::string expected = failure("/dev/full", std::strerror(ENOSPC));
    NullProgress none;
    const std::vector<std::function<void()>> writers = {
        [&] { write_point_file(data.lasers(), full, none); },
        [&] { write_las_file(data.points, data.lasers(), full, none, QDate(2026, 1, 1)); },
        [&] { write_trajectory_file(data.lasers(), full, none, 2); },
        [&] { write_mesh_file(data.vertices, data.faces, full, none); },
        // The first write fails while workers format ahead: they stop too.
        [&] { write_trajectory_file(std::vector<LaserLine>(100000, hit(1, 2, 3)), full, none, 3, 3); },
    };
    for (std::size_t i = 0; i < writers.size(); ++i) EXPECT_EQ(output_error(writers[i]), expected) << "writer " << i;
}

TEST(FailedWrites, TargetsThatCannotBeWrittenAreNamedWithTheReason) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder"));
    const std::vector<std::pair<std::string, int>> cases = {
        {dir.file("folder"), EISDIR},
        {dir.file("missing/p.txt"), ENOENT},
        {"", ENOENT},
    };
    for (const auto& [path, error] : cases) {
        EXPECT_EQ(output_error([&] { ChunkedFile file(q(path)); }), failure(path, std::strerror(error)));
    }
    EXPECT_EQ(folder_entries(dir.path()), Names{"folder"});
}

TEST(FailedWrites, AnUnfinishedFileIsRemovedAndTheOldOneStays) {
    TempDir dir;
    const std::string path = dir.file("f.txt");
    write_file(path, "old");
    {
        ChunkedFile file(q(path));
        file.write_raw("new bytes", 9);
        EXPECT_EQ(folder_entries(dir.path()).size(), 2u);  // the temporary file beside it
    }  // not closed
    EXPECT_EQ(folder_entries(dir.path()), Names{"f.txt"});
    EXPECT_EQ(read_file(path), "old");

    // A formatter that fails half-way, with workers formatting ahead.
    for (unsigned threads : {1u, 3u}) {
        EXPECT_THROW(
            {
                ChunkedFile file(q(path));
                NullProgress none;
                WritingLoopProgress loop(none, 200000);
                write_in_order(file, loop, 200000, threads, [](TextBuffer& out, std::size_t begin, std::size_t) {
                    if (begin >= 100000) throw OutputError("formatting failed");
                    out.commit(out.room(100) + 100);
                });
                file.close();
            },
            OutputError);
        EXPECT_EQ(folder_entries(dir.path()), Names{"f.txt"}) << threads;
        EXPECT_EQ(read_file(path), "old");
    }
}

TEST(FailedWrites, AReplacedFileKeepsItsModeAndLinksStayLinks) {
    TempDir dir;
    auto mode_of = [](const std::string& path) {
        struct stat s {};
        ::stat(path.c_str(), &s);
        return s.st_mode & 07777;
    };
    auto write = [](const std::string& path, const char* bytes) {
        ChunkedFile file(q(path));
        file.write_raw(bytes, std::strlen(bytes));
        file.close();
    };
    // A new file: what fopen would make under the umask.
    const mode_t mask = ::umask(027);
    write(dir.file("new.txt"), "new");
    ::umask(mask);
    EXPECT_EQ(mode_of(dir.file("new.txt")), 0640u);
    // A replaced one keeps its mode.
    write_file(dir.file("old.txt"), "old");
    ::chmod(dir.file("old.txt").c_str(), 0604);
    write(dir.file("old.txt"), "replaced");
    EXPECT_EQ(mode_of(dir.file("old.txt")), 0604u);
    EXPECT_EQ(read_file(dir.file("old.txt")), "replaced");
    // Through a symbolic link the file it names is replaced.
    std::filesystem::create_symlink("old.txt", dir.file("link.txt"));
    write(dir.file("link.txt"), "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
    EXPECT_EQ(read_file(dir.file("old.txt")), "through the link");
    EXPECT_EQ(folder_entries(dir.path()), (Names{"link.txt", "new.txt", "old.txt"}));
}
