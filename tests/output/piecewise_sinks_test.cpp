// Sinks fed pieces formatted elsewhere (as the processes of an MPI run
// format theirs) write the bytes of a sink that consumes the whole survey:
// every file kind, headers merged from the pieces' summaries, refusals.
#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "flight/flight_tasks.h"
#include "lidar/lidar_tasks.h"
#include "output/las_writer.h"
#include "output/piece_formatter.h"
#include "output/point_file.h"
#include "output/trajectory_file.h"
#include "products/csv_products.h"
#include "products/las14_writer.h"
#include "products/product_tasks.h"
#include "support/test_support.h"
#include "survey/pulse_timing.h"
#include "terrain/sample_scene.h"
#include "terrain/terrain_tasks.h"

#include <gtest/gtest.h>

#include <QDate>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

using testing_support::read_file;
using testing_support::TempDir;

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// A small survey of the sample scene, cast, in memory.
struct Survey {
    SimulationData data;
    std::vector<PulseInfo> infos;
    Survey() {
        NullProgress progress;
        make_sample_scene(data.vertices, data.faces, 3000, data.faceClasses);
        prepare_model(data, AsciiMesh, QStringLiteral("z axis"), progress);
        WizardValues v;
        v.flight.orientation = 20.0;
        v.flight.velocity = 150.0;
        v.flight.overlap = 30.0;
        v.flight.meanHeight = 600.0;
        v.scanner.prf = 1500.0;
        v.scanner.scanFrequency = 10.0;
        v.scanner.fovAcross = 50.0;
        v.scanner.fovAlong = 20.0;
        v.scanner.pattern = ZigZagLines;
        generate_lasers_task(data, v, 1u, progress);
        simulate_lidar_task(data, progress, 1);
        infos.resize(data.lasers().size());
        PulseTiming(data).fill(0, infos.size(), infos.data());
    }
};

// Pulses [first, first + count) of a survey's records, with their returns.
PulseChunk piece_of(const std::vector<LaserLine>& lasers, const std::vector<LidarPoint>& points,
                    const PulseInfo* infos, std::size_t first, std::size_t count) {
    std::size_t before = 0, in = 0;
    for (std::size_t i = 0; i < first + count; ++i) {
        if (lasers[i].hitFaceIndex == -1) continue;
        (i < first ? before : in) += 1;
    }
    PulseChunk chunk;
    chunk.first = first;
    chunk.lasers = lasers.data() + first;
    chunk.info = infos ? infos + first : nullptr;
    chunk.count = count;
    chunk.points = in ? points.data() + before : nullptr;
    chunk.pointCount = in;
    return chunk;
}

// Feeds the survey to `sink` in uneven pieces: every other one formatted
// by a formatter from `twin` (another sink of the same file, never begun,
// as another process makes it) on three threads, the rest consumed. Throws
// what the sink throws.
void feed_in_pieces(PiecewiseSink& sink, const PiecewiseSink& twin, const SurveyContext& context,
                    const std::vector<LaserLine>& lasers, const std::vector<LidarPoint>& points,
                    const PulseInfo* infos) {
    const std::unique_ptr<PieceFormatter> formatter = twin.pieceFormatter(context);
    sink.begin(context);
    std::size_t pos = 0, size = 1;
    bool elsewhere = true;
    while (pos < lasers.size()) {
        const std::size_t n = std::min(size, lasers.size() - pos);
        const PulseChunk chunk = piece_of(lasers, points, infos, pos, n);
        if (elsewhere) {
            FormattedPiece piece;
            format_piece(*formatter, chunk, 3, piece);
            sink.consumeFormatted(pos, n, piece);
        } else {
            sink.consume(chunk);
        }
        elsewhere = !elsewhere;
        pos += n;
        size = size * 2 + 1;
    }
    sink.finish();
}

using SinkMaker = std::function<std::unique_ptr<PiecewiseSink>(const std::string& path)>;

}  // namespace

TEST(PiecewiseSinks, PiecesFormattedElsewhereGiveTheWholeSurveysBytes) {
    Survey s;
    TempDir dir;
    const QDate day(2024, 2, 29);
    const ProductSettings settings = product_settings("", "2024-05-01T08:00:00Z", true, 0.0, 2);
    ProductSettings resampled = settings;
    resampled.trajectoryRate = 1400.0;  // a line between most two pulses
    const std::vector<std::pair<const char*, SinkMaker>> kinds = {
        {"points.txt", [](const std::string& p) { return std::make_unique<PointTextSink>(qs(p), 2); }},
        {"points.las", [day](const std::string& p) { return std::make_unique<LasSink>(qs(p), day, 2); }},
        {"trajectory.txt", [](const std::string& p) { return std::make_unique<TrajectorySink>(qs(p), 3, 2); }},
        {"survey.las", [settings](const std::string& p) { return std::make_unique<Las14Sink>(qs(p), settings); }},
        {"survey.csv", [settings](const std::string& p) { return std::make_unique<PointCsvSink>(qs(p), settings); }},
        {"trajectory.csv",
         [settings](const std::string& p) { return std::make_unique<TrajectoryCsvSink>(qs(p), settings); }},
        {"resampled.csv",
         [resampled](const std::string& p) { return std::make_unique<TrajectoryCsvSink>(qs(p), resampled); }},
    };
    const SurveyContext context{&s.data, s.data.lasers().size()};
    for (const auto& [name, make] : kinds) {
        const std::string whole = dir.file(std::string("whole-") + name);
        const std::string parts = dir.file(std::string("parts-") + name);
        const std::unique_ptr<PiecewiseSink> one = make(whole);
        PulseChunk all = piece_of(s.data.lasers(), s.data.points, s.infos.data(), 0, s.data.lasers().size());
        feed_as_one_chunk(*one, context, all);
        const std::unique_ptr<PiecewiseSink> sink = make(parts), twin = make(parts);
        feed_in_pieces(*sink, *twin, context, s.data.lasers(), s.data.points, s.infos.data());
        const std::string expected = read_file(whole);
        EXPECT_GT(expected.size(), 2000u) << name;
        EXPECT_TRUE(expected == read_file(parts)) << name;
    }
}

// The LAS 1.2 box starts from the first cast return (before the error
// step) and widens over the hit points: maxima take equal values, minima
// only smaller ones, so the sign of a zero depends on which point comes
// first. Pieces merged in order keep that, whatever the cuts.
TEST(PiecewiseSinks, LasBoundsMergeAsOnePassOverThePoints) {
    TempDir dir;
    std::vector<LaserLine> lasers(12);
    const double zero = 0.0, minus = -0.0;
    const Vec3 hits[] = {{minus, zero, 1}, {zero, minus, 1}, {minus, minus, 2}, {zero, zero, 2},
                         {-1, 3, minus},   {-1, 3, zero},    {minus, 3, zero},  {zero, -2, 0.5}};
    std::size_t k = 0;
    for (std::size_t i = 0; i < lasers.size(); ++i) {
        if (i % 3 == 1) continue;  // misses
        lasers[i].hitFaceIndex = 0;
        lasers[i].hitPoint = hits[k++];
    }
    // The cast returns before the error step: the first differs.
    std::vector<LidarPoint> points;
    for (const LaserLine& l : lasers)
        if (l.hitFaceIndex != -1) points.push_back({l.hitPoint.x, l.hitPoint.y, l.hitPoint.z});
    points[0] = {5.0, -7.0, 1.5};
    const SurveyContext context{nullptr, lasers.size()};
    const QDate day(2023, 1, 2);
    LasSink one(qs(dir.file("one.las")), day, 1);
    feed_as_one_chunk(one, context, piece_of(lasers, points, nullptr, 0, lasers.size()));
    LasSink sink(qs(dir.file("parts.las")), day, 1), twin(qs(dir.file("parts.las")), day, 1);
    feed_in_pieces(sink, twin, context, lasers, points, nullptr);
    const std::string a = read_file(dir.file("one.las")), b = read_file(dir.file("parts.las"));
    ASSERT_EQ(a.size(), LasHeader::kSize + 8u * LasHeader::kPointRecordLength);
    EXPECT_TRUE(a == b);
    // The box of one pass: from the cast return, minZ -0 (the first zero).
    double box[6];
    std::memcpy(box, a.data() + 179, sizeof box);
    const double expected[6] = {5.0, -1.0, 3.0, -7.0, 2.0, -0.0};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(box[i], expected[i]) << i;
        EXPECT_EQ(std::signbit(box[i]), std::signbit(expected[i])) << i;
    }
}

// A piece whose coordinate the format cannot hold is refused when the sink
// takes it, with the message of the whole survey's refusal (the laser's
// survey index), and nothing is left under the file's name.
TEST(PiecewiseSinks, ARefusedPieceFailsTheFileAsTheWholeSurveyDoes) {
    Survey s;
    TempDir dir;
    std::vector<LaserLine> lasers = s.data.lasers();
    std::size_t bad = lasers.size() * 2 / 3;
    while (lasers[bad].hitFaceIndex == -1) ++bad;
    lasers[bad].hitPoint.y = 3.0e7;  // beyond both LAS formats' range
    const ProductSettings settings = product_settings("", "", true, 0.0, 1);
    const std::vector<std::pair<const char*, SinkMaker>> kinds = {
        {"points.las", [](const std::string& p) { return std::make_unique<LasSink>(qs(p), QDate(2024, 1, 1), 1); }},
        {"survey.las", [settings](const std::string& p) { return std::make_unique<Las14Sink>(qs(p), settings); }},
    };
    const SurveyContext context{&s.data, lasers.size()};
    for (const auto& [name, make] : kinds) {
        std::string expected;
        const std::string path = dir.file(name);
        const std::unique_ptr<PiecewiseSink> one = make(path);
        try {
            feed_as_one_chunk(*one, context, piece_of(lasers, s.data.points, s.infos.data(), 0, lasers.size()));
            ADD_FAILURE() << name << ": the whole survey was not refused";
        } catch (const OutputError& e) {
            expected = e.what();
        }
        EXPECT_NE(expected.find(std::to_string(bad + 1)), std::string::npos) << expected;
        const std::unique_ptr<PiecewiseSink> sink = make(path), twin = make(path);
        try {
            feed_in_pieces(*sink, *twin, context, lasers, s.data.points, s.infos.data());
            ADD_FAILURE() << name << ": the pieces were not refused";
        } catch (const OutputError& e) {
            EXPECT_EQ(std::string(e.what()), expected);
        }
        sink->abandon();
        EXPECT_FALSE(std::filesystem::exists(path)) << name;
    }
}
