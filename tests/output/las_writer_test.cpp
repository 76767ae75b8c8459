#include "output/las_writer.h"

#include "app/failure.h"
#include "support/test_support.h"
#include "recording_progress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using testing_support::read_file;
using testing_support::TempDir;

namespace {

QString qpath(const std::string& p) { return QString::fromStdString(p); }

LaserLine hit(double x, double y, double z) {
    LaserLine l;
    l.hitPoint = {x, y, z};
    l.hitFaceIndex = 0;
    l.range = 1.0;
    return l;
}

// Little-endian byte builders for the expected file, written independently
// of the writer's own serializer.
struct Bytes {
    std::string s;
    Bytes& raw(const char* text, std::size_t n) {
        s.append(text, n);
        return *this;
    }
    Bytes& zeros(std::size_t n) {
        s.append(n, '\0');
        return *this;
    }
    Bytes& le(std::uint64_t v, int size) {
        for (int i = 0; i < size; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
        return *this;
    }
    Bytes& f64(double d) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        return le(bits, 8);
    }
};

TEST(LasWriter, TinyFileMatchesHandBuiltBytes) {
    // Two returns, one miss in between; points[0] lies outside the returns
    // (as after error introduction), so it widens the bounds.
    std::vector<LaserLine> lasers = {hit(1.5, -2.25, 10.0), LaserLine{}, hit(-3.0, 4.0, 0.07)};
    std::vector<LidarPoint> points = {{2.0, 0.0, -1.0}, {-3.0, 4.0, 0.07}};
    TempDir dir;
    NullProgress progress;
    ASSERT_TRUE(write_las_file(points, lasers, qpath(dir.file("tiny.las")), progress, QDate(2024, 3, 1)));

    Bytes e;
    e.raw("LASF", 4).le(0, 2).le(0, 2);         // signature, source ID, global encoding
    e.le(0, 4).le(0, 2).le(0, 2).zeros(8);      // project GUID
    e.le(1, 1).le(2, 1);                        // version 1.2
    e.zeros(32);                                // system identifier
    e.raw("Pointfall", 9).zeros(23);            // generating software
    e.le(61, 2).le(2024, 2);                    // 1 March of a leap year
    e.le(227, 2).le(227, 4).le(0, 4);           // header size, offset to points, no VLRs
    e.le(0, 1).le(20, 2).le(2, 4);              // format 0, record length, points.size()
    e.zeros(20);                                // points by return
    e.f64(0.01).f64(0.01).f64(0.01).f64(0).f64(0).f64(0);
    e.f64(2.0).f64(-3.0).f64(4.0).f64(-2.25).f64(10.0).f64(-1.0);  // max/min x, y, z
    ASSERT_EQ(e.s.size(), 227u);
    auto record = [&](std::int32_t x, std::int32_t y, std::int32_t z) {
        e.le(static_cast<std::uint32_t>(x), 4).le(static_cast<std::uint32_t>(y), 4).le(static_cast<std::uint32_t>(z), 4);
        e.le(0, 2).le(0, 1).le(1, 1).le(1, 1).le(1, 1).le(1, 2);
    };
    record(150, -225, 1000);
    record(-300, 400, 7);  // 0.07 * 100 is exactly 7.000000000000000666...
    const std::string file = read_file(dir.file("tiny.las"));
    ASSERT_EQ(file.size(), 227u + 2 * 20u);
    for (std::size_t i = 0; i < file.size(); ++i) ASSERT_EQ(file[i], e.s[i]) << "byte " << i;
}

TEST(LasWriter, CoordinatesAreExactProductsTruncatedTowardZero) {
    struct Case {
        double metres;
        std::int32_t stored;
    };
    const Case cases[] = {{0.29, 28},   {-0.29, -28},     {12.345, 1234},   {0.03, 2},       {-0.03, -2},
                          {0.07, 7},    {1.0, 100},       {-0.001, 0},      {0.0, 0},        {-0.0, 0},
                          {447512.345, 44751234},         {21474836.47, 2147483646},  // 21474836.47 lies below
                          {-21474836.48, -2147483648},    {21474836.475, 2147483647}};
    for (const Case& c : cases) {
        std::int32_t v = 123;
        ASSERT_TRUE(las_scaled_coordinate(c.metres, v)) << c.metres;
        EXPECT_EQ(v, c.stored) << c.metres;
        std::int32_t w = 123;
        ASSERT_TRUE(las_detail::scaled_coordinate_fma(c.metres, w)) << c.metres;
        EXPECT_EQ(w, c.stored) << c.metres;
    }
    // Beyond the signed 32-bit range, or not a number: cannot be stored.
    for (double bad : {21474836.48, -21474836.5, 1e300, -1e300, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        std::int32_t v;
        EXPECT_FALSE(las_scaled_coordinate(bad, v)) << bad;
        EXPECT_FALSE(las_detail::scaled_coordinate_fma(bad, v)) << bad;
    }
}

TEST(LasWriter, ExtendedAndFusedTruncationAgreeOnRandomValues) {
    // Centimetre values with tiny offsets around whole centimetres, where a
    // product rounded to double would go wrong.
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<std::int64_t> cm(-2000000000LL, 2000000000LL);
    std::uniform_int_distribution<int> nudge(-3, 3);
    int differ_from_rounded = 0;
    for (int i = 0; i < 300000; ++i) {
        double v = static_cast<double>(cm(rng)) / 100.0;
        for (int k = nudge(rng); k != 0; k += (k > 0 ? -1 : 1)) v = std::nextafter(v, k > 0 ? HUGE_VAL : -HUGE_VAL);
        std::int32_t a, b;
        ASSERT_TRUE(las_scaled_coordinate(v, a));
        ASSERT_TRUE(las_detail::scaled_coordinate_fma(v, b));
        ASSERT_EQ(a, b) << "value " << v;
        if (a != static_cast<std::int32_t>(v * 100.0)) ++differ_from_rounded;
    }
    // The exact product matters for a good share of such values.
    EXPECT_GT(differ_from_rounded, 1000);
}

TEST(LasWriter, RecordsHoldTheExactTruncationOfEveryReturn) {
    // Whole-centimetre values nudged by a few ulps, through the file.
    std::mt19937_64 rng(9);
    std::uniform_int_distribution<std::int64_t> cm(-2140000000LL, 2140000000LL);
    std::uniform_int_distribution<int> nudge(-2, 2);
    auto value = [&] {
        double v = static_cast<double>(cm(rng)) / 100.0;
        for (int k = nudge(rng); k != 0; k += (k > 0 ? -1 : 1)) v = std::nextafter(v, k > 0 ? HUGE_VAL : -HUGE_VAL);
        return v;
    };
    // The extremes that still fit first.
    std::vector<LaserLine> lasers = {hit(21474836.47, -21474836.48, 21474836.475), hit(-0.03, 0.03, 0.29)};
    for (int i = 0; i < 20000; ++i) lasers.push_back(hit(value(), value() / 1000.0, value() / 1e6));
    TempDir dir;
    NullProgress progress;
    ASSERT_TRUE(write_las_file({{0, 0, 0}}, lasers, qpath(dir.file("r.las")), progress, QDate(2026, 6, 1)));
    const std::string file = read_file(dir.file("r.las"));
    ASSERT_EQ(file.size(), 227u + 20u * lasers.size());
    for (std::size_t i = 0; i < lasers.size(); ++i) {
        std::int32_t stored[3];
        std::memcpy(stored, file.data() + 227 + 20 * i, 12);
        const double metres[3] = {lasers[i].hitPoint.x, lasers[i].hitPoint.y, lasers[i].hitPoint.z};
        for (int k = 0; k < 3; ++k) {
            std::int32_t expected;
            ASSERT_TRUE(las_scaled_coordinate(metres[k], expected));
            ASSERT_EQ(stored[k], expected) << "laser " << i << " axis " << k << " value " << metres[k];
        }
    }
}

TEST(LasWriter, DayOfYear) {
    EXPECT_EQ(day_of_year(1, 1, 2026), 1);
    EXPECT_EQ(day_of_year(1, 3, 2024), 61);
    EXPECT_EQ(day_of_year(1, 3, 2026), 60);
    EXPECT_EQ(day_of_year(31, 12, 2026), 365);
    EXPECT_EQ(day_of_year(31, 12, 2024), 366);
    EXPECT_EQ(day_of_year(31, 12, 2000), 366);  // divisible by 400
    EXPECT_EQ(day_of_year(31, 12, 1900), 365);  // divisible by 100 only
    EXPECT_EQ(day_of_year(29, 2, 2024), 60);
    // Agrees with the calendar on every day of a few years.
    for (int year : {1999, 2000, 2024, 2100}) {
        for (QDate d(year, 1, 1); d.year() == year; d = d.addDays(1))
            ASSERT_EQ(day_of_year(d.day(), d.month(), d.year()), d.dayOfYear()) << d.toString().toStdString();
    }
}

TEST(LasWriter, BoundsStartFromFirstPointAndIncludeOnlyReturns) {
    std::vector<LaserLine> lasers = {hit(1, 1, 1), hit(5, -2, 3)};
    LaserLine miss;
    miss.hitPoint = {1000, -1000, 1000};  // no return: ignored
    lasers.push_back(miss);
    // points[0] is not among the (perturbed) hitPoints; later points are
    // never looked at.
    const LasBounds b = las_bounds({{0, 10, 2}, {-500, -500, -500}}, lasers);
    EXPECT_EQ(b.maxX, 5);
    EXPECT_EQ(b.minX, 0);
    EXPECT_EQ(b.maxY, 10);
    EXPECT_EQ(b.minY, -2);
    EXPECT_EQ(b.maxZ, 3);
    EXPECT_EQ(b.minZ, 1);
    const LasBounds only = las_bounds({{7, 8, 9}}, {});
    EXPECT_EQ(only.maxX, 7);
    EXPECT_EQ(only.minZ, 9);
    EXPECT_THROW(las_bounds({}, lasers), std::invalid_argument);
}

TEST(LasWriter, RecordsOnlyForReturnsAndCountFromPoints) {
    TempDir dir;
    std::vector<LaserLine> lasers;
    for (int i = 0; i < 50; ++i) lasers.push_back(i % 4 == 0 ? LaserLine{} : hit(i, 2 * i, -i));
    std::vector<LidarPoint> points(3, LidarPoint{1, 1, 1});  // header count comes from here
    RecordingProgress progress;
    ASSERT_TRUE(write_las_file(points, lasers, qpath(dir.file("a.las")), progress, QDate(2026, 12, 31)));
    const std::string file = read_file(dir.file("a.las"));
    ASSERT_EQ(file.size(), 227u + 20u * 37u);
    std::uint32_t count;
    std::memcpy(&count, file.data() + 107, 4);
    EXPECT_EQ(count, 3u);
    std::uint16_t day;
    std::memcpy(&day, file.data() + 90, 2);
    EXPECT_EQ(day, 365);
    // The last record is laser 49.
    std::int32_t xyz[3];
    std::memcpy(xyz, file.data() + file.size() - 20, 12);
    EXPECT_EQ(xyz[0], 4900);
    EXPECT_EQ(xyz[1], 9800);
    EXPECT_EQ(xyz[2], -4900);
    // Same progress protocol as the text writers: every second laser here.
    EXPECT_EQ(progress.values.front(), 0);
    EXPECT_EQ(progress.values.size(), 1u + 25u + 1u);
    EXPECT_EQ(progress.values.back(), 50);
}

TEST(LasWriter, CoordinateOutOfRangeRefusesAndLeavesExistingFileUntouched) {
    TempDir dir;
    const std::string path = dir.file("old.las");
    testing_support::write_file(path, "previous survey");
    std::vector<LaserLine> lasers = {hit(1, 2, 3), hit(4, 5, 6), hit(7, -3.0e7, 9)};
    RecordingProgress progress;
    try {
        write_las_file({{1, 2, 3}}, lasers, qpath(path), progress, QDate(2026, 1, 1));
        FAIL() << "expected OutputError";
    } catch (const OutputError& e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find("the y coordinate -30000000 of laser 3"), std::string::npos) << msg;
        EXPECT_NE(msg.find("old.las"), std::string::npos) << msg;
    }
    EXPECT_EQ(read_file(path), "previous survey");
    EXPECT_TRUE(progress.events.empty());

    // A missed laser's far-away hitPoint is never written, so it is no obstacle.
    LaserLine far;
    far.hitPoint = {1e12, 0, 0};
    EXPECT_TRUE(write_las_file({{1, 2, 3}}, {hit(1, 2, 3), far}, qpath(path), progress, QDate(2026, 1, 1)));
    EXPECT_EQ(read_file(path).size(), 247u);
}

}  // namespace
