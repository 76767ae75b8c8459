// The batch runner's team path without MPI: the survey laid, cast and
// perturbed in pieces taken out of order gives the one-process records,
// log and files.
#include "batch_run.h"
#include "survey_team.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/sample_scene.h"

using namespace testing_support;
using Names = std::vector<std::string>;

namespace {

// A team of one that casts and formats the survey as a team of several
// would: in pieces of `piece` pulses, handed out last first, each laid and
// cast in a buffer of its own; the chunk's records get of the cast ones
// only what the job wants back.
class PiecewiseTeam final : public SurveyTeam {
public:
    explicit PiecewiseTeam(std::uint64_t piece) : piece_(piece) {}
    bool leader() const override { return true; }
    int size() const override { return 1; }
    std::uint32_t leaderValue(std::uint32_t value) override { return value; }
    bool leaderVerdict(bool ok) override { return ok; }
    bool allAgree(bool ok) override { return ok; }
    void beginCast(SimulationData& data, const CastJob& job) override {
        pieces_ = std::make_unique<SurveyPieces>(data, job.seed, 2, job.errors, normal_deviate_state());
        ASSERT_EQ(pieces_->pulses(), job.pulses);
        Formatters formatters;
        if (job.formatters) formatters = job.formatters(SurveyContext{&data, job.pulses});
        formatting_ = std::make_unique<PieceFormatting>(data, job.pulses, std::move(formatters), 2);
        records = job.records;
    }
    void castChunk(std::uint64_t first, LaserLine* lasers, std::size_t count, std::vector<LidarPoint>& points,
                   ChunkPieces& out, const std::function<void(std::size_t)>& progress) override {
        const std::uint64_t n = (count + piece_ - 1) / piece_;
        std::vector<std::vector<LidarPoint>> returns(n);
        out.pieces.clear();
        out.pieces.resize(n);
        out.records = records;
        std::size_t done = 0;
        std::vector<LaserLine> own;
        for (std::uint64_t i = n; i-- > 0;) {
            const std::uint64_t at = i * piece_;
            const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(piece_, count - at));
            own.assign(size, LaserLine());
            pieces_->run(first + at, size, own.data(), returns[i]);
            out.pieces[i].first = first + at;
            out.pieces[i].count = size;
            formatting_->format(first + at, size, own.data(), returns[i], out.pieces[i].formatted);
            out.returns += returns[i].size();
            if (records == ChunkRecords::Whole) std::copy(own.begin(), own.end(), lasers + at);
            if (records == ChunkRecords::Hits) {
                for (std::size_t k = 0; k < size; ++k) {
                    lasers[at + k].hitFaceIndex = own[k].hitFaceIndex;
                    lasers[at + k].hitPoint = own[k].hitPoint;
                }
            }
            progress(done += size);
        }
        if (records == ChunkRecords::Whole)
            for (const auto& r : returns) points.insert(points.end(), r.begin(), r.end());
        ++casts;
    }
    void endCast() override { restore_normal_deviate_state(pieces_->endState()); }
    int casts = 0;
    ChunkRecords records = ChunkRecords::Whole;

private:
    std::uint64_t piece_;
    std::unique_ptr<SurveyPieces> pieces_;
    std::unique_ptr<PieceFormatting> formatting_;
};

struct Outcome {
    int status;
    std::string out, err;
};

Outcome run(const Names& args, SurveyTeam* team) {
    std::ostringstream out, err;
    const int status = run_batch(args, out, err, false, team);
    return {status, out.str(), err.str()};
}

// The summary without its seconds.
std::string counts(const std::string& summary) { return summary.substr(0, summary.find("Seconds per stage")); }

}  // namespace

TEST(SurveyTeam, PiecesOutOfOrderGiveTheOneProcessFiles) {
    TempDir dir;
    {
        std::vector<Vertex> vertices;
        std::vector<Face> faces;
        make_sample_scene(vertices, faces, 1500);
        NullProgress progress;
        write_mesh_file(vertices, faces, QString::fromStdString(dir.file("scene.txt")), progress);
    }
    const Names base = {"--mesh", dir.file("scene.txt"), "--prf", "2", "--seed", "5", "--threads", "1"};
    // Random error (a variable number of draws per laser), overall error,
    // the realistic trajectory's signs, several patterns and outputs.
    const std::vector<Names> scenes = {
        {"--term-x", "0.5,0.2,0,0", "--term-yaw", "0,0.01,0.3,1", "--systematic", "0.1,0,-0.2,0.01,0,0,0.05",
         "--random", "0.05,0.05,0.1,0,0.001,0,0.02", "--points", "p.las", "--trajectory", "t.txt", "--las14",
         "p14.las", "--csv", "p.csv", "--trajectory-csv", "tt.csv", "--trajectory-rate", "50", "--coverage",
         "c.tif"},
        // Quiet, without coverage: no records come back, only formatted pieces.
        {"--pattern", "elliptical", "--fov-along", "12", "--overall", "0.02,0.02,0.05", "--points", "p.txt",
         "--trajectory", "t.txt", "--trajectory-format", "3", "--quiet"},
        {"--pattern", "parallel", "--points", "p.las"},
        // Streamed in chunks that split lines: every chunk cast in pieces.
        {"--stream", "--chunk-pulses", "3000", "--random", "0.05,0.05,0.1,0,0.001,0,0.02", "--points", "p.las",
         "--trajectory", "t.txt"},
        // Streamed, pieces that split the resampled trajectory's steps.
        {"--stream", "--chunk-pulses", "2500", "--term-x", "0.5,0.2,0,0", "--points", "p.txt", "--trajectory",
         "t.txt", "--trajectory-format", "2", "--las14", "p14.las", "--csv", "p.csv", "--trajectory-csv", "tt.csv",
         "--trajectory-rate", "200", "--coverage", "c.tif"},
    };
    int scene = 0;
    for (const Names& options : scenes) {
        ++scene;
        Outcome outcomes[2];
        for (int k = 0; k < 2; ++k) {
            const std::string folder = dir.file("s" + std::to_string(scene) + (k ? "team" : "alone"));
            std::filesystem::create_directory(folder);
            Names args = base;
            for (std::size_t i = 0; i < options.size(); ++i) {
                const bool file = i > 0 && (options[i - 1] == "--points" || options[i - 1] == "--trajectory" ||
                                            options[i - 1] == "--las14" || options[i - 1] == "--csv" ||
                                            options[i - 1] == "--trajectory-csv" || options[i - 1] == "--coverage");
                args.push_back(file ? folder + "/" + options[i] : options[i]);
            }
            args.insert(args.end(), {"--log", folder + "/run.log"});
            PiecewiseTeam team(997);  // pieces that split lines anywhere
            outcomes[k] = run(args, k ? &team : nullptr);
            ASSERT_EQ(outcomes[k].status, kBatchOk) << outcomes[k].err;
            if (k) {
                EXPECT_GE(team.casts, 1);
                // Only the coverage raster reads records, and only their hits.
                const bool quiet = std::find(options.begin(), options.end(), "--quiet") != options.end();
                EXPECT_EQ(team.records, quiet ? ChunkRecords::None : ChunkRecords::Hits) << "scene " << scene;
            }
        }
        EXPECT_EQ(counts(outcomes[1].out), counts(outcomes[0].out));
        const std::string alone = dir.file("s" + std::to_string(scene) + "alone/");
        const std::string together = dir.file("s" + std::to_string(scene) + "team/");
        std::string log = read_file(alone + "run.log");
        for (std::size_t at; (at = log.find(alone)) != std::string::npos;) log.replace(at, alone.size(), together);
        EXPECT_EQ(read_file(together + "run.log"), log) << "scene " << scene;
        for (const char* name : {"p.las", "p.txt", "t.txt", "p14.las", "p.csv", "tt.csv", "c.tif"}) {
            if (!std::filesystem::exists(alone + name)) continue;
            EXPECT_TRUE(read_file(alone + name) == read_file(together + name)) << "scene " << scene << ": " << name;
        }
    }
}
