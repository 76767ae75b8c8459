#include "output/point_file.h"
#include "output/trajectory_file.h"
#include "output/writing_loop.h"

#include "app/failure.h"
#include "app/number_text.h"
#include "support/test_support.h"
#include "recording_progress.h"

#include <gtest/gtest.h>

#include <QString>
#include <random>
#include <sstream>

using testing_support::read_file;
using testing_support::TempDir;

namespace {

// Lasers with varied values; every third one has no return.
std::vector<LaserLine> make_lasers(std::size_t n, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coord(-1000.0, 500000.0);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> angle(-30.0, 30.0);
    std::vector<LaserLine> lasers(n);
    for (std::size_t i = 0; i < n; ++i) {
        LaserLine& l = lasers[i];
        l.origin = {coord(rng), coord(rng) * 10.0, 500.0 + unit(rng)};
        l.direction = {unit(rng) * 1e-5, unit(rng), -1.0};
        l.roll = angle(rng);
        l.pitch = angle(rng);
        l.yaw = angle(rng) * 1e-6;
        if (i % 3 != 2) {
            l.hitFaceIndex = static_cast<int>(i);
            l.hitPoint = {coord(rng), coord(rng) * 10.0, unit(rng) * 1e-7};
            l.range = 500.0;
        }
    }
    return lasers;
}

// The lines a C++ stream writes for these values, one blank between.
std::string stream_line(std::initializer_list<double> values) {
    std::ostringstream s;
    bool first = true;
    for (double v : values) {
        if (!first) s << ' ';
        s << v;
        first = false;
    }
    s << '\n';
    return s.str();
}

QString qpath(const std::string& p) { return QString::fromStdString(p); }

TEST(PointFile, OneStreamFormattedLinePerReturnInLaserOrder) {
    TempDir dir;
    const auto lasers = make_lasers(301);
    NullProgress progress;
    ASSERT_TRUE(write_point_file(lasers, qpath(dir.file("points.txt")), progress));

    std::string expected;
    std::size_t returns = 0;
    for (const LaserLine& l : lasers) {
        if (l.hitFaceIndex == -1) continue;
        expected += stream_line({l.hitPoint.x, l.hitPoint.y, l.hitPoint.z});
        ++returns;
    }
    const std::string text = read_file(dir.file("points.txt"));
    EXPECT_EQ(text, expected);
    EXPECT_EQ(returns, 201u);
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), returns);
}

TEST(PointFile, NoReturnsGivesEmptyFileAndTruncatesOldContent) {
    TempDir dir;
    testing_support::write_file(dir.file("p.txt"), "old content\n");
    std::vector<LaserLine> lasers(5);  // none has a return
    NullProgress progress;
    ASSERT_TRUE(write_point_file(lasers, qpath(dir.file("p.txt")), progress));
    EXPECT_EQ(read_file(dir.file("p.txt")), "");
}

TEST(PointFile, UnopenableFileIsReportedByResultAndProgressStillRuns) {
    TempDir dir;
    RecordingProgress progress;
    const auto lasers = make_lasers(3);
    EXPECT_FALSE(write_point_file(lasers, qpath(dir.file("no/such/dir/p.txt")), progress));
    ASSERT_FALSE(progress.values.empty());
    EXPECT_EQ(progress.values.back(), 3);
}

TEST(PointFile, BigOutputCrossesBufferChunksIntact) {
    // More than one 4 MiB chunk of text: nothing lost or doubled at the seams.
    TempDir dir;
    const auto lasers = make_lasers(300000, 5);
    NullProgress progress;
    ASSERT_TRUE(write_point_file(lasers, qpath(dir.file("big.txt")), progress));
    std::string expected;
    for (const LaserLine& l : lasers)
        if (l.hitFaceIndex != -1) expected += stream_line({l.hitPoint.x, l.hitPoint.y, l.hitPoint.z});
    ASSERT_GT(expected.size(), ChunkedFile::kChunk);
    EXPECT_TRUE(read_file(dir.file("big.txt")) == expected);
}

TEST(TrajectoryFile, ThreeLayoutsOneLinePerLaser) {
    TempDir dir;
    const auto lasers = make_lasers(47);
    NullProgress progress;
    struct Layout {
        int code;
        std::size_t values;
    };
    for (Layout layout : {Layout{3, 9}, Layout{2, 6}, Layout{1, 6}}) {
        const std::string path = dir.file("t" + std::to_string(layout.code) + ".txt");
        ASSERT_TRUE(write_trajectory_file(lasers, qpath(path), progress, layout.code));
        std::string expected;
        for (const LaserLine& l : lasers) {
            const Vec3& o = l.origin;
            const Vec3& d = l.direction;
            if (layout.code == 3) expected += stream_line({o.x, o.y, o.z, d.x, d.y, d.z, l.roll, l.pitch, l.yaw});
            if (layout.code == 2) expected += stream_line({o.x, o.y, o.z, l.roll, l.pitch, l.yaw});
            if (layout.code == 1) expected += stream_line({o.x, o.y, o.z, d.x, d.y, d.z});
        }
        const std::string text = read_file(path);
        EXPECT_EQ(text, expected) << "format " << layout.code;

        // Every line: the layout's number of values, single blanks, no
        // trailing blank; one line for every laser, returns or not.
        std::istringstream lines(text);
        std::string line;
        std::size_t count = 0;
        while (std::getline(lines, line)) {
            ++count;
            EXPECT_EQ(static_cast<std::size_t>(std::count(line.begin(), line.end(), ' ')), layout.values - 1);
            EXPECT_NE(line.back(), ' ');
            EXPECT_EQ(line.find("  "), std::string::npos);
        }
        EXPECT_EQ(count, lasers.size());
    }
}

TEST(TrajectoryFile, UnknownFormatCodeIsRefusedBeforeTheFileIsTouched) {
    TempDir dir;
    testing_support::write_file(dir.file("t.txt"), "keep");
    NullProgress progress;
    EXPECT_THROW(write_trajectory_file(make_lasers(2), qpath(dir.file("t.txt")), progress, 4), OutputError);
    EXPECT_THROW(write_trajectory_file(make_lasers(2), qpath(dir.file("t.txt")), progress, 0), OutputError);
    EXPECT_EQ(read_file(dir.file("t.txt")), "keep");
}

// The writing loop's progress: value 0, range 0..n, then i whenever i
// reaches the double threshold that grows by n / 20, and n at the end.
std::vector<std::string> expected_loop_events(int n, std::initializer_list<int> marks) {
    std::vector<std::string> e = {"value 0", "range 0 " + std::to_string(n)};
    for (int m : marks) e.push_back("value " + std::to_string(m));
    e.push_back("value " + std::to_string(n));
    return e;
}

TEST(WritingLoop, NineteenLasersReportBeforeEveryLaser) {
    TempDir dir;
    const auto lasers = make_lasers(19);
    const auto expected = expected_loop_events(19, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18});
    RecordingProgress points, trajectory;
    write_point_file(lasers, qpath(dir.file("p.txt")), points);
    write_trajectory_file(lasers, qpath(dir.file("t.txt")), trajectory, 2);
    EXPECT_EQ(points.events, expected);
    EXPECT_EQ(trajectory.events, expected);
}

TEST(WritingLoop, HundredLasersReportEveryFifth) {
    TempDir dir;
    const auto lasers = make_lasers(100);
    RecordingProgress progress;
    write_point_file(lasers, qpath(dir.file("p.txt")), progress);
    EXPECT_EQ(progress.events,
              expected_loop_events(100, {0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95}));
}

TEST(WritingLoop, UnevenCountAndEmptyList) {
    TempDir dir;
    // 41 lasers: step 2, so 0, 2, ..., 40 (21 marks) and then 41.
    RecordingProgress uneven;
    write_trajectory_file(make_lasers(41), qpath(dir.file("t.txt")), uneven, 3);
    std::vector<int> marks;
    for (int i = 0; i <= 40; i += 2) marks.push_back(i);
    std::vector<int> expected = {0};
    expected.insert(expected.end(), marks.begin(), marks.end());
    expected.push_back(41);
    EXPECT_EQ(uneven.values, expected);

    RecordingProgress empty;
    write_point_file({}, qpath(dir.file("e.txt")), empty);
    EXPECT_EQ(empty.events, (std::vector<std::string>{"value 0", "range 0 0", "value 0"}));
}

}  // namespace
