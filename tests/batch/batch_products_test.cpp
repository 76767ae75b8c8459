// The survey product and coverage options of pointfall-batch: refused
// before anything runs, written beside the other outputs without changing
// them.
#include "batch_options.h"
#include "batch_run.h"
#include "batch_test_support.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/test_support.h"

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

using namespace batch_test;

const Names kSmallSurvey = {"--sample-triangles", "3000", "--prf", "2", "--seed", "5", "--quiet"};

}  // namespace

TEST(BatchProducts, OptionsAreReadAndBadValuesRefusedBeforeAnythingRuns) {
    std::ostringstream out, err;
    int code = -1;
    const auto o = parse_batch_options({"--las14", "a.las", "--csv", "a.csv", "--trajectory-csv", "t.csv",
                                        "--trajectory-rate", "200", "--crs", "EPSG:4326", "--start-time",
                                        "2020-02-02T02:02:02Z", "--intensity", "off", "--coverage", "d.tif",
                                        "--coverage-png", "d.png", "--report", "r.json", "--target-density", "8",
                                        "--cell", "0.5", "--plan-above-ground"},
                                       out, err, &code);
    ASSERT_TRUE(o) << err.str();
    EXPECT_EQ(o->las14File, "a.las");
    EXPECT_EQ(o->csvFile, "a.csv");
    EXPECT_EQ(o->trajectoryCsvFile, "t.csv");
    EXPECT_EQ(o->products.trajectoryRate, 200.0);
    ASSERT_TRUE(o->products.crs);
    EXPECT_EQ(o->products.crs->name, "WGS 84");
    EXPECT_EQ(o->products.start.year, 2020);
    EXPECT_FALSE(o->products.intensity);
    EXPECT_EQ(o->coverageFile, "d.tif");
    EXPECT_EQ(o->coveragePngFile, "d.png");
    EXPECT_EQ(o->reportFile, "r.json");
    EXPECT_EQ(o->targetDensity, 8.0);
    EXPECT_EQ(o->coverageCell, 0.5);
    EXPECT_TRUE(o->planAboveGround);

    const auto d = parse_batch_options({}, out, err, &code);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->products.crs);
    EXPECT_TRUE(d->products.intensity);
    EXPECT_EQ(d->products.trajectoryRate, 0.0);
    EXPECT_TRUE(d->classTable.empty());
    EXPECT_EQ(d->targetDensity, 2.0);
    EXPECT_EQ(d->coverageCell, 0.0);
    EXPECT_FALSE(d->planAboveGround);

    TempDir dir;
    const std::vector<std::pair<Names, std::string>> cases = {
        {{"--crs", "EPSG:99999999"}, "--crs: Unknown coordinate reference system \"EPSG:99999999\""},
        {{"--crs", "NAD83"}, "--crs: Unknown coordinate reference system \"NAD83\""},
        {{"--start-time", "2024-02-30"}, "--start-time: Start time \"2024-02-30\""},
        {{"--intensity", "maybe"}, "--intensity: 'maybe' is not one of on, off."},
        {{"--trajectory-rate", "0"}, "--trajectory-rate: '0' is not above 0."},
        {{"--trajectory-rate", "fast"}, "--trajectory-rate: 'fast' is not a number."},
        {{"--classes", dir.file("none.txt")}, "--classes: Cannot open the class table"},
        {{"--las14", ""}, "--las14: the file name is empty."},
        // A whole message ends with its new line.
        {{"--cell", "0"}, "--cell: '0' is not above 0.\n"},
        {{"--target-density", "-1"}, "--target-density: '-1' is below 0.\n"},
        {{"--target-density", "QL2"}, "--target-density: 'QL2' is not a number.\n"},
        {{"--report", ""}, "--report: the file name is empty.\n"},
    };
    for (const auto& [extra, message] : cases) {
        SCOPED_TRACE(extra[0] + " " + extra[1]);
        Names args = {"--points", dir.file("p.las"), "--csv", dir.file("p.csv")};
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome r = run(args);
        EXPECT_EQ(r.status, kBatchBadUsage);
        if (message.back() == '\n')
            EXPECT_EQ(r.err, "Error: " + message);
        else
            EXPECT_EQ(r.err.rfind("Error: " + message, 0), 0u) << r.err;
        EXPECT_TRUE(files_in(dir.path()).empty());
    }
}

TEST(BatchProducts, ProductsComeBesideTheOtherOutputsWhichStayTheSame) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("plain"));
    std::filesystem::create_directory(dir.file("both"));
    auto outputs = [&dir](const std::string& folder) {
        return Names{"--points", dir.file(folder + "/p.txt"), "--trajectory", dir.file(folder + "/t.txt"),
                     "--log", dir.file(folder + "/log.txt")};
    };
    Names plain = kSmallSurvey, both = kSmallSurvey;
    for (const std::string& a : outputs("plain")) plain.push_back(a);
    for (const std::string& a : outputs("both")) both.push_back(a);
    for (const std::string& a : Names{"--las14", dir.file("both/s.las"), "--csv", dir.file("both/s.csv"),
                                      "--trajectory-csv", dir.file("both/s-trajectory.csv"), "--crs", "EPSG:28992"})
        both.push_back(a);
    ASSERT_EQ(run(plain).status, kBatchOk);
    const Outcome r = run(both);
    ASSERT_EQ(r.status, kBatchOk) << r.err;
    EXPECT_EQ(files_in(dir.file("both")),
              (Names{"log.txt", "p.txt", "s-trajectory.csv", "s.csv", "s.las", "t.txt"}));
    EXPECT_TRUE(read_file(dir.file("plain/p.txt")) == read_file(dir.file("both/p.txt")));
    EXPECT_TRUE(read_file(dir.file("plain/t.txt")) == read_file(dir.file("both/t.txt")));
    std::string plainLog = read_file(dir.file("plain/log.txt")), bothLog = read_file(dir.file("both/log.txt"));
    for (const auto& [log, folder] : {std::pair<std::string*, const char*>{&plainLog, "plain/"}, {&bothLog, "both/"}}) {
        const std::string prefix = dir.file(folder);
        for (std::size_t at; (at = log->find(prefix)) != std::string::npos;) log->erase(at, prefix.size());
    }
    EXPECT_EQ(plainLog, bothLog);
    // As many CSV lines as LAS 1.2-style text points, one trajectory line per pulse.
    const std::string points = read_file(dir.file("both/p.txt")), csv = read_file(dir.file("both/s.csv"));
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n') - 1, std::count(points.begin(), points.end(), '\n'));
    const std::string t = read_file(dir.file("both/t.txt")), tc = read_file(dir.file("both/s-trajectory.csv"));
    EXPECT_EQ(std::count(tc.begin(), tc.end(), '\n') - 1, std::count(t.begin(), t.end(), '\n'));
}

TEST(BatchProducts, ClassTableFileRelabelsTheObjModel) {
    TempDir dir;
    // Two 100 m squares side by side, one per material.
    write_file(dir.file("m.obj"),
               "v 0 0 0\nv 100 0 5\nv 100 100 5\nv 0 100 0\nv 200 0 10\nv 200 100 10\n"
               "usemtl Lawn\nf 1 2 3 4\nusemtl Parking\nf 2 5 6 3\n");
    write_file(dir.file("classes.txt"), "lawn 2\nparking 11\n");
    const Names base = {"--obj", dir.file("m.obj"), "--height", "300", "--prf", "2", "--quiet", "--csv"};
    auto classes_in = [&](const Names& extra) {
        Names args = base;
        args.push_back(dir.file("c.csv"));
        args.insert(args.end(), extra.begin(), extra.end());
        const Outcome r = run(args);
        EXPECT_EQ(r.status, kBatchOk) << r.err;
        std::istringstream in(read_file(dir.file("c.csv")));
        std::string line;
        std::getline(in, line);
        std::vector<int> seen;
        while (std::getline(in, line)) {
            std::istringstream cells(line);
            std::string cell;
            for (int k = 0; k < 6; ++k) std::getline(cells, cell, ',');
            seen.push_back(std::stoi(cell));
        }
        std::sort(seen.begin(), seen.end());
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        return seen;
    };
    EXPECT_EQ(classes_in({}), (std::vector<int>{1}));
    EXPECT_EQ(classes_in({"--classes", dir.file("classes.txt")}), (std::vector<int>{2, 11}));
}

// A small run of the sample scene with every coverage output: the summary
// comes after the run's own lines, which stay as they were, and the report
// holds what the run counted.
TEST(BatchCoverageRun, OutputsSummaryAndReport) {
    TempDir dir;
    const Names base = {"--sample-triangles", "2000", "--prf", "2", "--points", dir.file("p.las")};
    const Outcome plain = run(base);
    Names args = base;
    for (const char* a : {"--coverage", "d.tif", "--coverage-png", "d.png", "--report", "r.json"}) {
        args.push_back(a[0] == '-' ? std::string(a) : dir.file(a));
    }
    args.insert(args.end(), {"--target-density", "0.05"});
    const Outcome full = run(args);
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.err, "");
    const std::string head = plain.out.substr(0, plain.out.find("Seconds per stage"));
    EXPECT_EQ(full.out.substr(0, head.size()), head);
    const std::size_t coverage = full.out.find("Coverage (20 m cells, 101 x 101):\n");
    ASSERT_NE(coverage, std::string::npos) << full.out;
    EXPECT_GT(coverage, full.out.find("  total "));
    EXPECT_NE(full.out.find("  Meeting 0.05 per Sq m: "), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("  Side overlap 1-2: "), std::string::npos) << full.out;
    EXPECT_EQ(files_in(dir.path()).size(), 4u);  // nothing left under a temporary name

    const QJsonObject report =
        QJsonDocument::fromJson(QByteArray::fromStdString(read_file(dir.file("r.json")))).object();
    const QJsonObject c = report["coverage"].toObject();
    const std::string points = full.out.substr(full.out.find("Points:") + 24);
    EXPECT_EQ(c["returns"].toDouble(), std::stod(points.substr(0, points.find('\n'))));
    EXPECT_EQ(c["targetDensity"].toDouble(), 0.05);
    EXPECT_EQ(c["coveredArea"].toDouble(), 4e6);  // the scene's 2 km square
    EXPECT_EQ(report["parameters"].toObject()["planAboveGround"].toBool(), false);
    EXPECT_EQ(report["parameters"].toObject()["cell"].toString(), "automatic");
    const QJsonObject stages = report["secondsPerStage"].toObject();
    for (const char* stage : {"model", "lasers", "cast", "points", "coverage", "total"})
        EXPECT_TRUE(stages[stage].isDouble()) << stage;
}

TEST(BatchCoverageRun, RefusedBeforeAnythingIsWritten) {
    TempDir dir;
    const Outcome fine =
        run({"--sample-triangles", "2000", "--cell", "0.25", "--points", dir.file("p.las"), "--quiet"});
    EXPECT_EQ(fine.status, 2);
    EXPECT_EQ(fine.err, "Error: --cell: 0.25 m makes 8001 x 8001 cells on this model; at most 4096 on a side.\n");
    const Outcome lost = run({"--sample-triangles", "2000", "--points", dir.file("p.las"), "--coverage",
                               dir.file("none/d.tif"), "--quiet"});
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lost.err, "Error: Cannot write '" + dir.file("none/d.tif") +
                            "': it is in a folder that does not exist.\n");
    EXPECT_EQ(files_in(dir.path()).size(), 0u);
}
