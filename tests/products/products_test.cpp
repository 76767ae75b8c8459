// The survey products: the LAS 1.4 file read back field by field, the CSV
// and trajectory texts, chunked feeding, the time base, PROJ's systems and
// the intensity model.
#include "app/failure.h"
#include "app/simulation_data.h"
#include "products/csv_products.h"
#include "products/las14_writer.h"
#include "products/product_tasks.h"
#include "products/return_attributes.h"
#include "support/test_support.h"
#include "survey/pulse_timing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>

using testing::HasSubstr;
using testing::ThrowsMessage;
using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// A small survey of the sample scene, in memory.
struct Survey {
    SimulationData data;
    explicit Survey(ScanPattern pattern = ZigZagLines, double orientation = 30.0) {
        testing_support::sample_survey(data, 6000, {orientation, 150, 30, 600}, {2000, 10, 50, 20, pattern});
    }
};

template <typename T>
T at(const std::string& b, std::size_t offset) {
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

std::vector<std::unique_ptr<SurveySink>> sinks_for(const TempDir& dir, const std::string& tag,
                                                   const ProductSettings& settings) {
    SurveyProductFiles files;
    files.las14 = QString::fromStdString(dir.file(tag + ".las"));
    files.csv = QString::fromStdString(dir.file(tag + ".csv"));
    files.trajectoryCsv = QString::fromStdString(dir.file(tag + "-trajectory.csv"));
    return make_product_sinks(files, settings, nullptr);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(Las14File, EveryFieldAgreesWithTheSurvey) {
    Survey s;
    TempDir dir;
    ProductSettings settings = product_settings("EPSG:28992", "2025-03-14T09:30:00Z", true);
    auto sinks = sinks_for(dir, "a", settings);
    feed_survey(s.data, sinks);
    const std::string b = read_file(dir.file("a.las"));

    const std::vector<LaserLine>& lasers = s.data.lasers();
    std::vector<PulseInfo> infos(lasers.size());
    PulseTiming(s.data).fill(0, infos.size(), infos.data());

    // Header.
    ASSERT_GE(b.size(), 375u);
    EXPECT_EQ(b.substr(0, 4), "LASF");
    EXPECT_STREQ(b.data() + 26, "SIMULATION");
    EXPECT_STREQ(b.data() + 58, "Pointfall 4.0");
    // Offset, width in bytes and value: source ID, global encoding, version
    // 1.4, 14 March 2025, header size, one VLR, point format 6 of 30 bytes.
    const std::uint64_t fields[][3] = {{4, 2, 0},     {6, 2, 1 | 16}, {24, 1, 1},  {25, 1, 4},  {90, 2, 31 + 28 + 14},
                                       {92, 2, 2025}, {94, 2, 375},   {100, 4, 1}, {104, 1, 6}, {105, 2, 30}};
    for (const auto& f : fields) {
        std::uint64_t v = 0;
        std::memcpy(&v, b.data() + f[0], f[1]);
        EXPECT_EQ(v, f[2]) << "offset " << f[0];
    }
    for (std::size_t o = 107; o < 131; ++o) EXPECT_EQ(b[o], 0) << "legacy count byte " << o;
    for (std::size_t o = 227; o < 247; ++o) EXPECT_EQ(b[o], 0) << "waveform/EVLR byte " << o;
    const double offset[3] = {at<double>(b, 155), at<double>(b, 163), at<double>(b, 171)};
    EXPECT_EQ(offset[0], 0.0);  // the sample scene starts at 0 m
    EXPECT_EQ(offset[2], std::floor(s.data.minZ / 1000) * 1000);
    for (int a = 0; a < 3; ++a) EXPECT_EQ(at<double>(b, 131 + 8 * a), 0.001);

    // The WKT record.
    const std::size_t vlr = 375;
    EXPECT_STREQ(b.data() + vlr + 2, "LASF_Projection");
    EXPECT_EQ(at<std::uint16_t>(b, vlr + 18), 2112);
    const std::uint16_t wktLength = at<std::uint16_t>(b, vlr + 20);
    const std::string wkt(b.data() + vlr + 54, wktLength - 1u);
    EXPECT_EQ(wkt, settings.crs->wkt);
    EXPECT_NE(wkt.find("AUTHORITY[\"EPSG\",\"28992\"]"), std::string::npos);
    const std::uint32_t pointOffset = at<std::uint32_t>(b, 96);
    EXPECT_EQ(pointOffset, vlr + 54 + wktLength);

    // Records: one per return, in survey order.
    const std::uint64_t count = at<std::uint64_t>(b, 247);
    EXPECT_EQ(count, s.data.points.size());
    EXPECT_EQ(at<std::uint64_t>(b, 255), count);
    for (int r = 1; r < 15; ++r) EXPECT_EQ(at<std::uint64_t>(b, 255 + 8 * r), 0u);
    ASSERT_EQ(b.size(), pointOffset + 30 * count);
    std::int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX}, hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    std::size_t r = 0;
    std::set<std::uint8_t> classes;
    for (std::size_t k = 0; k < lasers.size(); ++k) {
        const LaserLine& l = lasers[k];
        if (l.hitFaceIndex == -1) continue;
        const std::size_t p = pointOffset + 30 * r++;
        const double v[3] = {l.hitPoint.x, l.hitPoint.y, l.hitPoint.z};
        for (int a = 0; a < 3; ++a) {
            const std::int32_t q = at<std::int32_t>(b, p + 4 * a);
            lo[a] = std::min(lo[a], q);
            hi[a] = std::max(hi[a], q);
            ASSERT_LE(std::fabs(q * 0.001 + offset[a] - v[a]), 0.0005 + 1e-9) << "pulse " << k;
        }
        ASSERT_EQ(static_cast<std::uint8_t>(b[p + 14]), 0x11);
        const std::uint8_t flags = static_cast<std::uint8_t>(b[p + 15]);
        ASSERT_EQ((flags & 0x40) != 0, (infos[k].flags & PulseInfo::kScanForward) != 0);
        ASSERT_EQ((flags & 0x80) != 0, (infos[k].flags & PulseInfo::kSweepEdge) != 0);
        ASSERT_EQ(flags & 0x3f, 0);
        const std::uint8_t cls = static_cast<std::uint8_t>(b[p + 16]);
        ASSERT_EQ(cls, s.data.faceClasses[static_cast<std::size_t>(l.hitFaceIndex)]);
        classes.insert(cls);
        ASSERT_EQ(b[p + 17], 0);
        const double angle = at<std::int16_t>(b, p + 18) * 0.006;
        ASSERT_NEAR(angle, scan_angle_degrees(l.direction, flight_line_heading(30.0, infos[k].line - 1)), 0.003001);
        ASSERT_LE(std::fabs(angle), 25.0 + 0.01);  // within half the field of view
        ASSERT_EQ(at<std::uint16_t>(b, p + 20), infos[k].line);
        ASSERT_EQ(at<double>(b, p + 22), settings.start.adjustedGpsTime + infos[k].time);
    }
    EXPECT_EQ(classes, (std::set<std::uint8_t>{2, 6}));
    // The bounds are the extents of the stored coordinates.
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(at<double>(b, 179 + 16 * a), hi[a] * 0.001 + offset[a]) << "axis " << a;
        EXPECT_EQ(at<double>(b, 187 + 16 * a), lo[a] * 0.001 + offset[a]) << "axis " << a;
    }
}

TEST(SurveyProducts, CsvAndTrajectoryTexts) {
    Survey s;
    TempDir dir;
    ProductSettings settings = product_settings("", "", false);
    auto sinks = sinks_for(dir, "p", settings);
    feed_survey(s.data, sinks);
    const std::vector<std::string> points = lines_of(read_file(dir.file("p.csv")));
    ASSERT_EQ(points.size(), s.data.points.size() + 1);
    EXPECT_EQ(points[0],
              "x,y,z,gps_time,intensity,classification,flight_line,scan_angle_deg,return_number,number_of_returns");
    const LaserLine* first = nullptr;
    for (const LaserLine& l : s.data.lasers())
        if (!first && l.hitFaceIndex != -1) first = &l;
    char expected[128];
    std::snprintf(expected, sizeof expected, "%.3f,%.3f,%.3f,", first->hitPoint.x, first->hitPoint.y,
                  first->hitPoint.z);
    EXPECT_EQ(points[1].substr(0, std::strlen(expected)), expected);
    EXPECT_NE(points[1].find(",0,"), std::string::npos);  // intensity off

    // One trajectory line per pulse, full precision: every value reads back.
    const std::vector<std::string> trajectory = lines_of(read_file(dir.file("p-trajectory.csv")));
    ASSERT_EQ(trajectory.size(), s.data.lasers().size() + 1);
    EXPECT_EQ(trajectory[0], "time,x,y,z,roll,pitch,yaw");
    const std::size_t k = s.data.lasers().size() / 2;
    const LaserLine& l = s.data.lasers()[k];
    std::vector<double> values;
    std::istringstream row(trajectory[k + 1]);
    for (std::string cell; std::getline(row, cell, ',');) values.push_back(std::strtod(cell.c_str(), nullptr));
    ASSERT_EQ(values.size(), 7u);
    double t = 0.0;
    for (std::size_t i = 0; i < k; ++i) t = t + 1.0 / 2000.0;
    EXPECT_EQ(values[0], settings.start.adjustedGpsTime + t);
    EXPECT_EQ(values[1], l.origin.x);
    EXPECT_EQ(values[2], l.origin.y);
    EXPECT_EQ(values[3], l.origin.z);
    EXPECT_EQ(values[6], l.yaw);
}

TEST(SurveyProducts, ResampledTrajectoryLiesOnTheFlightLines) {
    Survey s(ZigZagLines, 90.0);
    TempDir dir;
    SurveyProductFiles files;
    files.trajectoryCsv = QString::fromStdString(dir.file("t.csv"));
    auto sinks = make_product_sinks(files, product_settings("", "", true, 200.0), nullptr);
    feed_survey(s.data, sinks);
    const std::vector<std::string> lines = lines_of(read_file(dir.file("t.csv")));
    const double start = parse_survey_start(kDefaultStartTime).adjustedGpsTime;
    std::vector<PulseInfo> infos(s.data.lasers().size());
    PulseTiming(s.data).fill(0, infos.size(), infos.data());
    ASSERT_GT(lines.size(), 100u);
    double previous = -1.0;
    std::size_t k = 0;  // the pulse at or before the sample
    for (std::size_t i = 1; i < lines.size(); ++i) {
        double v[7];
        ASSERT_EQ(std::sscanf(lines[i].c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                              &v[6]),
                  7);
        const double t = v[0] - start;
        // Exact multiples of 5 ms, increasing.
        ASSERT_NEAR(t * 200.0, std::round(t * 200.0), 1e-4) << lines[i];
        ASSERT_GT(t, previous);
        previous = t;
        // Vertical lines: x stays on one line's x, z at the flying height.
        while (k + 1 < infos.size() && infos[k + 1].time <= t) ++k;
        ASSERT_NEAR(v[1], s.data.lasers()[k].origin.x, 1e-6);
        ASSERT_NEAR(v[3], 600.0, 1e-9);
        if (k + 1 < infos.size()) {
            ASSERT_EQ(infos[k].line, infos[k + 1].line) << "a sample in a turn";
        }
    }
    const double duration = infos.back().time;
    EXPECT_NEAR(static_cast<double>(lines.size() - 1), duration * 200.0, 200.0 * s.data.laserlines.lineStarts.size());
}

TEST(SurveyTime, IsoTimesBecomeAdjustedGpsTime) {
    struct Case {
        const char* text;
        double adjusted;
        int year, day;
    };
    const Case cases[] = {
        {"2024-01-01T00:00:00Z", 1704067200.0 - 315964800.0 + 18 - 1e9, 2024, 1},
        {"2024-01-01", 1704067200.0 - 315964800.0 + 18 - 1e9, 2024, 1},
        {"2024-01-01T01:00:00+01:00", 1704067200.0 - 315964800.0 + 18 - 1e9, 2024, 1},
        {"2023-12-31 19:00-05:00", 1704067200.0 - 315964800.0 + 18 - 1e9, 2024, 1},
        {"2016-12-31T23:59:59Z", 1483228799.0 - 315964800.0 + 17 - 1e9, 2016, 366},
        {"2017-01-01T00:00:00Z", 1483228800.0 - 315964800.0 + 18 - 1e9, 2017, 1},  // a leap second between
        {"1980-01-06T00:00:00Z", -1e9, 1980, 6},
        {"2025-03-14T09:30:00.25Z", 1741944600.25 - 315964800.0 + 18 - 1e9, 2025, 73},
    };
    for (const Case& c : cases) {
        const SurveyStart s = parse_survey_start(c.text);
        EXPECT_EQ(s.adjustedGpsTime, c.adjusted) << c.text;
        EXPECT_EQ(s.year, c.year) << c.text;
        EXPECT_EQ(s.dayOfYear, c.day) << c.text;
    }
    for (const char* bad : {"", "2024-02-30", "2024-1-01", "2024-01-01T24:00", "2024-01-01T10:60",
                            "1980-01-05T23:59:59Z", "yesterday", "2024-01-01T00:00:00Zjunk", "2024-01-01T00:00:00+5"}) {
        EXPECT_THAT([&] { parse_survey_start(bad); },
                    ThrowsMessage<InputError>(HasSubstr(std::string("\"") + bad + "\"")));
    }
}

TEST(Crs, ProjGivesTheWktOrRefusesTheCode) {
    const SurveyCrs rd = resolve_crs("epsg:28992");
    EXPECT_EQ(rd.name, "Amersfoort / RD New");
    EXPECT_EQ(rd.wkt.rfind("PROJCS[\"Amersfoort / RD New\"", 0), 0u);
    EXPECT_NE(resolve_crs("EPSG:4326").wkt.find("AUTHORITY[\"EPSG\",\"4326\"]"), std::string::npos);

    TempDir dir;
    write_file(dir.file("rd.wkt"), rd.wkt + "\n");
    EXPECT_EQ(resolve_crs(dir.file("rd.wkt")).wkt, rd.wkt);
    write_file(dir.file("junk.wkt"), "GEOGCS[nonsense");
    const std::pair<std::string, std::string> refused[] = {
        {"EPSG:99999999", "no EPSG code 99999999"},
        {"EPSG:abc", "no EPSG code abc"},
        {"EPSG:", "no EPSG code"},
        {dir.file("missing.wkt"), "give EPSG:NNNN or the name of a file holding WKT"},
        {dir.file("junk.wkt"), "junk.wkt"},
    };
    for (const auto& [crsText, text] : refused) {
        EXPECT_THAT([&] { resolve_crs(crsText); }, ThrowsMessage<InputError>(HasSubstr(text))) << crsText;
    }
}

TEST(Intensity, ReflectanceTimesCosineOverRangeSquaredScaledToSixteenBits) {
    // One flat triangle at z = 0 (normal up), flown at 500 m.
    SimulationData data;
    data.vertices = {{0, 0, 0}, {1000, 0, 0}, {0, 1000, 0}};
    data.faces = {Face{{1, 2, 3}}};
    data.flight.meanHeight = 500.0;
    data.faceClasses = {2};
    const ReturnAttributes on(data, true, 1), off(data, false, 1);
    auto laser = [](double range, double tilt) {
        LaserLine l;
        l.direction = Vec3{std::sin(tilt), 0.0, -std::cos(tilt)};
        l.range = range;
        l.hitFaceIndex = 0;
        return l;
    };
    const double sixty = 3.14159265358979 / 3;
    struct Case {
        LaserLine l;
        std::uint8_t cls;
        int expected;
    };
    const Case cases[] = {
        {laser(500, 0), 2, 32768},          // ground at nadir from the nominal height: the middle
        {laser(500, sixty), 2, 16384},      // 60 degrees incidence: half
        {laser(1000, 0), 2, 8192},          // twice the range: a quarter
        {laser(500, 0), 9, 6554},           // water
        {laser(500, 0), 5, 58982},          // vegetation
        {laser(200, 0), 5, 65535},          // saturates rather than overflows
        {laser(0, 0), 2, 0},                // no range at all
    };
    for (const Case& c : cases) EXPECT_EQ(on.intensity(c.l, c.cls), c.expected) << int(c.cls) << " " << c.l.range;
    EXPECT_EQ(off.intensity(laser(500, 0), 2), 0);
    EXPECT_EQ(on.classification(0), 2);
    EXPECT_EQ(on.classification(7), 1);  // beyond the list: unclassified
}

TEST(FixedText, MatchesPrintfAwayFromTies) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    char mine[kMaxFixedText], theirs[kMaxFixedText];
    for (int i = 0; i < 200000; ++i) {
        const int decimals = i % 2 ? 3 : 6;
        const double value = unit(random) * std::pow(10.0, (i % 23) - 8);
        const double scaled = value * std::pow(10.0, decimals);
        if (std::fabs(scaled - std::floor(scaled) - 0.5) < 1e-6) continue;
        *put_fixed(mine, value, decimals) = '\0';
        std::snprintf(theirs, sizeof theirs, "%.*f", decimals, value);
        ASSERT_STREQ(mine, theirs) << value;
    }
    for (double special : {0.0, -0.0, 1e300, -1e20, 0.0004}) {
        *put_fixed(mine, special, 3) = '\0';
        std::snprintf(theirs, sizeof theirs, "%.3f", special);
        EXPECT_STREQ(mine, theirs) << special;
    }
}
