// The point, trajectory and LAS writers and the two save tasks.
#include "app/failure.h"
#include "app/simulation_data.h"
#include "output/las_writer.h"
#include "output/output_tasks.h"
#include "output/point_file.h"
#include "output/trajectory_file.h"
#include "output/writing_loop.h"
#include "support/recording_progress.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

using testing_support::hit;
using testing_support::read_file;

namespace {

// Lasers with varied values; every third one has no return.
std::vector<LaserLine> make_lasers(std::size_t n) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> coord(-1000.0, 500000.0), unit(-1.0, 1.0);
    std::vector<LaserLine> lasers(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 3 != 2) lasers[i] = hit(coord(rng), coord(rng) * 10.0, unit(rng) * 1e-7);
        lasers[i].origin = {coord(rng), coord(rng) * 10.0, 500.0 + unit(rng)};
        lasers[i].direction = {unit(rng) * 1e-5, unit(rng), -1.0};
        lasers[i].set_attitude(30.0 * unit(rng), 30.0 * unit(rng), 3e-5 * unit(rng));
    }
    return lasers;
}

// The line a C++ stream writes for these values, one blank between.
std::string stream_line(std::initializer_list<double> values) {
    std::ostringstream s;
    for (double v : values) s << (s.tellp() > 0 ? " " : "") << v;
    return s.str() + "\n";
}

// The writing loop's progress: value 0, range 0..n, then i whenever i
// reaches the threshold that grows by n / 20, and n at the end.
std::vector<std::string> loop_events(int n, int step) {
    std::vector<std::string> e = {"value 0", "range 0 " + std::to_string(n)};
    for (int i = 0; i < n; i += step) e.push_back("value " + std::to_string(i));
    e.push_back("value " + std::to_string(n));
    return e;
}

// Little-endian bytes of the expected file, built apart from the writer.
struct Bytes {
    std::string s;
    Bytes& le(std::uint64_t v, int size) {
        for (int i = 0; i < size; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
        return *this;
    }
    Bytes& f64(double d) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        return le(bits, 8);
    }
    Bytes& text(const std::string& t, std::size_t width) {
        s += t + std::string(width - t.size(), '\0');
        return *this;
    }
};

class Writers : public ::testing::Test {
protected:
    QString at(const std::string& name) const { return QString::fromStdString(dir.file(name)); }
    testing_support::TempDir dir;
    NullProgress none;
};

}  // namespace

TEST_F(Writers, LasFileMatchesHandBuiltBytes) {
    // Two returns and a miss. The count comes from points, the bounds start
    // from points[0], which lies outside the returns (as after error
    // introduction), and take in only lasers with a return; later points
    // are never looked at. Coordinates are truncated toward zero: -7.896
    // and 0.29 (28.999999999999996 cm) would round to -790 and 29.
    LaserLine miss;
    miss.hitPoint = {1000, -1000, 1000};
    const std::vector<LaserLine> lasers = {hit(1.5, -7.896, 10.0), miss, hit(-3.0, 0.29, 0.07)};
    ASSERT_NO_THROW(write_las_file({{2.0, 0.0, -1.0}, {-3.0, 0.29, 0.07}, {9, 9, 9}}, lasers, at("tiny.las"), none,
                                   QDate(2024, 3, 1)));
    Bytes e;
    e.text("LASF", 4).le(0, 2).le(0, 2);                          // signature, source ID, global encoding
    e.text("", 16).le(1, 1).le(2, 1);                             // project GUID, version 1.2
    e.text("", 32).text("Pointfall", 32);                         // system identifier, generating software
    e.le(61, 2).le(2024, 2);                                      // 1 March of a leap year
    e.le(227, 2).le(227, 4).le(0, 4);                             // header size, offset to points, no VLRs
    e.le(0, 1).le(20, 2).le(3, 4).text("", 20);                   // format 0, record length, count, by return
    e.f64(0.01).f64(0.01).f64(0.01).f64(0).f64(0).f64(0);         // scales, offsets
    e.f64(2.0).f64(-3.0).f64(0.29).f64(-7.896).f64(10.0).f64(-1.0);  // max/min x, y, z
    // x y z in centimetres; intensity 0, flags 0, class 1, scan angle 1, user data 1, source 1.
    e.le(150, 4).le(std::uint32_t(-789), 4).le(1000, 4).le(0, 2).le(0, 1).le(1, 1).le(1, 1).le(1, 1).le(1, 2);
    e.le(std::uint32_t(-300), 4).le(28, 4).le(7, 4).le(0, 2).le(0, 1).le(1, 1).le(1, 1).le(1, 1).le(1, 2);
    EXPECT_EQ(read_file(dir.file("tiny.las")), e.s);
}

TEST(LasWriter, CoordinatesAreExactProductsTruncatedTowardZero) {
    const std::pair<double, std::int32_t> cases[] = {
        {0.29, 28}, {-0.29, -28}, {12.345, 1234}, {0.03, 2}, {-0.03, -2}, {0.07, 7}, {-0.001, 0}, {-0.0, 0},
        {21474836.47, 2147483646}, {-21474836.48, -2147483648}, {21474836.475, 2147483647}};
    for (const auto& c : cases) {
        std::int32_t v = 123, w = 123;
        EXPECT_TRUE(las_scaled_coordinate(c.first, v) && las_detail::scaled_coordinate_fma(c.first, w)) << c.first;
        EXPECT_EQ(v, c.second) << c.first;
        EXPECT_EQ(w, c.second) << c.first;
    }
    for (double bad : {21474836.48, -21474836.5, 1e300, std::nan(""), -HUGE_VAL}) {
        std::int32_t v;
        EXPECT_FALSE(las_scaled_coordinate(bad, v) || las_detail::scaled_coordinate_fma(bad, v)) << bad;
    }
    // Whole centimetres nudged by a few ulps, where a product rounded to
    // double often goes wrong: both exact routines agree.
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<std::int64_t> cm(-2000000000LL, 2000000000LL);
    for (int i = 0; i < 300000; ++i) {
        double v = static_cast<double>(cm(rng)) / 100.0;
        for (int k = static_cast<int>(rng() % 4); k > 0; --k) v = std::nextafter(v, i % 2 ? HUGE_VAL : -HUGE_VAL);
        std::int32_t a, b;
        ASSERT_TRUE(las_scaled_coordinate(v, a) && las_detail::scaled_coordinate_fma(v, b)) << v;
        ASSERT_EQ(a, b) << "value " << v;
    }
}

TEST(LasWriter, DayOfYear) {
    const int days[][4] = {{1, 1, 2026, 1},     {1, 3, 2024, 61},    {1, 3, 2026, 60},    {31, 12, 2026, 365},
                           {31, 12, 2024, 366}, {31, 12, 2000, 366}, {31, 12, 1900, 365}};
    for (const auto& d : days) EXPECT_EQ(day_of_year(d[0], d[1], d[2]), d[3]) << d[0] << "." << d[1] << "." << d[2];
}

TEST_F(Writers, LasCoordinateOutOfRangeRefusesAndLeavesExistingFileUntouched) {
    testing_support::write_file(dir.file("old.las"), "previous survey");
    RecordingProgress progress;
    EXPECT_THROW(write_las_file({{1, 2, 3}}, {hit(1, 2, 3), hit(7, -3.0e7, 9)}, at("old.las"), progress,
                                QDate(2026, 1, 1)),
                 OutputError);
    EXPECT_EQ(read_file(dir.file("old.las")), "previous survey");
    EXPECT_TRUE(progress.sequence.empty());
}

TEST_F(Writers, SaveTasksChooseTheFormatByEndingAndLog) {
    SimulationData data;
    data.lasers() = {hit(1.25, 2.5, 3.75), LaserLine{}, hit(-1, -2, -3)};
    data.lasers()[1].origin = {7, 8, 500};
    data.points = {{1.25, 2.5, 3.75}, {-1, -2, -3}};
    RecordingProgress progress;
    save_points_task(data, at("survey.txt"), progress);
    EXPECT_EQ(read_file(dir.file("survey.txt")), "1.25 2.5 3.75\n-1 -2 -3\n");
    EXPECT_EQ(data.logText.toStdString(), ("LiDAR data saved, Path : " + at("survey.txt") + "\n\n").toStdString());
    save_points_task(data, at("survey.las"), progress);
    EXPECT_EQ(read_file(dir.file("survey.las")).size(), 227u + 2 * 20u);
    save_trajectory_task(data, at("flight.txt"), 2, progress);
    EXPECT_EQ(read_file(dir.file("flight.txt")), "0 0 0 0 0 0\n7 8 500 0 0 0\n0 0 0 0 0 0\n");
    EXPECT_TRUE(data.logText.endsWith("\n\nFlight trajectory saved in, Path : " + at("flight.txt") + "\n\n"));
    EXPECT_EQ(progress.statuses, (QStringList{"     Generated LiDAR data saved. Task completed..",
                                              "     Generated LiDAR data saved. Task completed..",
                                              "     Flight trajectory saved. Task completed.."}));
    EXPECT_EQ(data.taskCount, 3u);
    // Endings are case-sensitive; others, and a LAS value beyond 32 bits, write and log nothing.
    data.lasers()[2].hitPoint.z = 5e7;
    for (const char* name : {"survey.TXT", "survey.Las", "survey", "survey.txt.bak", "far.las"}) {
        EXPECT_THROW(save_points_task(data, at(name), progress), OutputError) << name;
        EXPECT_FALSE(QFileInfo::exists(at(name))) << name;
    }
    EXPECT_EQ(data.taskCount, 3u);
    data.points.clear();
    EXPECT_THROW(save_points_task(data, at("x.las"), progress), Refused);
}

TEST_F(Writers, FilesHoldOneStreamLinePerRecordWhateverTheThreadCount) {
    // Not a multiple of the report step nor of the formatting runs. Hit
    // heights are signed zeros, so the LAS box depends on which equal value
    // wins: it must be the one a single pass over the lasers finds.
    auto lasers = make_lasers(320003);
    std::vector<LidarPoint> points;
    for (std::size_t i = 0; i < lasers.size(); ++i) {
        LaserLine& l = lasers[i];
        if (l.hitFaceIndex == -1) continue;
        l.hitPoint.z = (i / 5) % 2 ? -0.0 : 0.0;
        points.push_back({l.hitPoint.x, l.hitPoint.y, l.hitPoint.z});
    }
    auto far = lasers;  // two coordinates out of range, far apart: the first one is named
    far[200000] = hit(1, 2, 3e7);
    far[70001] = hit(1, -3e7, 3);
    // For the point file, the three trajectory layouts and the LAS file: the
    // bytes, then the progress events; last the refusal's message.
    auto write_all = [&](unsigned threads) {
        std::vector<std::vector<std::string>> out;
        for (int layout : {0, 1, 2, 3, 4}) {
            RecordingProgress p;
            if (layout == 0)
                EXPECT_NO_THROW(write_point_file(lasers, at("f"), p, threads));
            else if (layout == 4)
                EXPECT_NO_THROW(write_las_file(points, lasers, at("f"), p, QDate(2026, 5, 4), threads));
            else
                EXPECT_NO_THROW(write_trajectory_file(lasers, at("f"), p, layout, threads));
            out.push_back({read_file(dir.file("f"))});
            out.push_back(p.events);
        }
        out.push_back({testing_support::output_error(
            [&] { write_las_file(points, far, at("far.las"), none, QDate(2026, 5, 4), threads); })});
        return out;
    };
    const auto one = write_all(1);
    // Layout 0 is the point file (returns only), 1..3 the trajectory formats.
    for (int layout : {0, 1, 2, 3}) {
        std::string expected;
        for (const LaserLine& l : lasers) {
            const Vec3 &o = l.origin, &d = l.direction, &p = l.hitPoint;
            if (layout == 0 && l.hitFaceIndex != -1) expected += stream_line({p.x, p.y, p.z});
            if (layout == 1) expected += stream_line({o.x, o.y, o.z, d.x, d.y, d.z});
            if (layout == 2) expected += stream_line({o.x, o.y, o.z, l.roll, l.pitch, l.yaw});
            if (layout == 3) expected += stream_line({o.x, o.y, o.z, d.x, d.y, d.z, l.roll, l.pitch, l.yaw});
        }
        ASSERT_GT(expected.size(), ChunkedFile::kChunk);  // nothing lost or doubled at the seams
        EXPECT_TRUE(one[2 * layout][0] == expected) << "layout " << layout;
    }
    EXPECT_EQ(one[1], loop_events(320003, 16000));
    RecordingProgress nineteen;  // below twenty lasers: a report before every one
    write_point_file(make_lasers(19), at("n.txt"), nineteen);
    EXPECT_EQ(nineteen.events, loop_events(19, 1));
    ASSERT_EQ(one.size(), 11u);
    EXPECT_NE(one[10][0].find("the y coordinate -30000000 of laser 70002"), std::string::npos) << one[10][0];
    const LasBounds b = las_bounds(points, lasers);
    ASSERT_EQ(one[8][0].size(), 227 + 20 * points.size());
    EXPECT_EQ(std::memcmp(one[8][0].data() + 179, &b, sizeof b), 0);  // bit for bit, host is little-endian
    for (unsigned threads : {2u, 5u}) EXPECT_TRUE(write_all(threads) == one) << threads << " threads";
}

TEST(AddExtensionForFilter, AddsTheSelectedFiltersEndingWhenThereIsNone) {
    const QString txt = "ASCII Format .txt files(*.txt)", las = " LAS 1.2 and Point Data Format 0(*.las)";
    const QString cases[][3] = {{"/d/run1", txt, "/d/run1.txt"},         {"/d/run1", las, "/d/run1.las"},
                                {"/d/run1.txt", las, "/d/run1.txt"},     {"/d/run1.las", txt, "/d/run1.las"},
                                {"/d/run.v2", las, "/d/run.v2.las"},     {"", las, ""},
                                {"/d/run1", "", "/d/run1"}};
    for (const auto& c : cases) EXPECT_EQ(add_extension_for_filter(c[0], c[1]).toStdString(), c[2].toStdString());
}

// A file long enough to be written behind (its first windows handed to the
// disk and dropped from the cache while later ones are appended) keeps every
// byte where it was written, including bytes overwritten in a dropped
// window and appends of uneven sizes across window edges.
TEST(ChunkedFileWriteBehind, EveryByteOfALongFileIsInPlace) {
    testing_support::TempDir dir;
    const std::string path = dir.file("long.bin");
    const std::size_t total = std::size_t(90) << 20;
    std::string expected(total, '\0');
    std::uint32_t x = 12345;
    for (char& c : expected) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    {
        ChunkedFile file(QString::fromStdString(path));
        std::size_t at = 0, piece = 1;
        while (at < total) {
            const std::size_t n = std::min(total - at, piece);
            file.write_raw(expected.data() + at, n);
            at += n;
            piece = piece * 7 % (std::size_t(5) << 20) + 1;  // 1 byte up to 5 MB
        }
        // A header completed at the end, and bytes far back in the file.
        for (std::size_t offset : {std::size_t(0), std::size_t(3) << 20, (std::size_t(8) << 20) - 3}) {
            const std::string patch = "patched at " + std::to_string(offset);
            expected.replace(offset, patch.size(), patch);
            file.write_at(offset, patch.data(), patch.size());
        }
        file.close();
    }
    const std::string written = read_file(path);
    ASSERT_EQ(written.size(), total);
    EXPECT_TRUE(written == expected);
}
