#include "batch_options.h"
#include "batch_run.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <sstream>

#include "support/test_support.h"

using namespace testing_support;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

Result batch(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = run_batch(args, out, err);
    return {status, out.str(), err.str()};
}

std::size_t files_in(const std::string& folder) {
    return std::size_t(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(BatchCoverageOptions, ValuesAndRefusals) {
    std::ostringstream out, err;
    int code = -1;
    const auto o = parse_batch_options({"--coverage", "d.tif", "--coverage-png", "d.png", "--report", "r.json",
                                        "--target-density", "8", "--cell", "0.5", "--plan-above-ground"},
                                       out, err, &code);
    ASSERT_TRUE(o) << err.str();
    EXPECT_EQ(o->coverageFile, "d.tif");
    EXPECT_EQ(o->coveragePngFile, "d.png");
    EXPECT_EQ(o->reportFile, "r.json");
    EXPECT_EQ(o->targetDensity, 8.0);
    EXPECT_EQ(o->coverageCell, 0.5);
    EXPECT_TRUE(o->planAboveGround);
    const auto plain = parse_batch_options({}, out, err, &code);
    EXPECT_EQ(plain->targetDensity, 2.0);
    EXPECT_EQ(plain->coverageCell, 0.0);
    EXPECT_FALSE(plain->planAboveGround);

    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"--cell", "0"}, "--cell: '0' is not above 0."},
        {{"--cell", "-2"}, "--cell: '-2' is not above 0."},
        {{"--target-density", "-1"}, "--target-density: '-1' is below 0."},
        {{"--target-density", "QL2"}, "--target-density: 'QL2' is not a number."},
        {{"--report", ""}, "--report: the file name is empty."},
    };
    for (const auto& [args, message] : refused) {
        std::ostringstream o2, e2;
        EXPECT_FALSE(parse_batch_options(args, o2, e2, &code)) << args[0];
        EXPECT_EQ(code, 2);
        EXPECT_EQ(e2.str(), std::string("Error: ") + message + "\n");
    }
}

// A small run of the sample scene with every coverage output: the summary
// comes after the run's own lines, which stay as they were, and the report
// holds what the run counted.
TEST(BatchCoverageRun, OutputsSummaryAndReport) {
    TempDir dir;
    const std::vector<std::string> base = {"--sample-triangles", "2000", "--prf", "2", "--points",
                                           dir.file("p.las")};
    const Result plain = batch(base);
    std::vector<std::string> args = base;
    for (const char* a : {"--coverage", "d.tif", "--coverage-png", "d.png", "--report", "r.json"}) {
        args.push_back(a[0] == '-' ? std::string(a) : dir.file(a));
    }
    args.insert(args.end(), {"--target-density", "0.05"});
    const Result full = batch(args);
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.err, "");
    const std::string head = plain.out.substr(0, plain.out.find("Seconds per stage"));
    EXPECT_EQ(full.out.substr(0, head.size()), head);
    const std::size_t coverage = full.out.find("Coverage (20 m cells, 101 x 101):\n");
    ASSERT_NE(coverage, std::string::npos) << full.out;
    EXPECT_GT(coverage, full.out.find("  total "));
    EXPECT_NE(full.out.find("  Meeting 0.05 per Sq m: "), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("  Side overlap 1-2: "), std::string::npos) << full.out;
    EXPECT_EQ(files_in(dir.path()), 4u);  // nothing left under a temporary name

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
    const Result fine =
        batch({"--sample-triangles", "2000", "--cell", "0.25", "--points", dir.file("p.las"), "--quiet"});
    EXPECT_EQ(fine.status, 2);
    EXPECT_EQ(fine.err, "Error: --cell: 0.25 m makes 8001 x 8001 cells on this model; at most 4096 on a side.\n");
    const Result lost = batch({"--sample-triangles", "2000", "--points", dir.file("p.las"), "--coverage",
                               dir.file("none/d.tif"), "--quiet"});
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lost.err, "Error: Cannot write '" + dir.file("none/d.tif") +
                            "': it is in a folder that does not exist.\n");
    EXPECT_EQ(files_in(dir.path()), 0u);
}

}  // namespace
