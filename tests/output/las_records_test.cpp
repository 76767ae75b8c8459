// The LAS records are made while the coordinates are checked and copied
// out by the formatting runs afterwards: every record must still be the
// laser's, for any pattern of returns and any cut of the runs.
#include "app/progress.h"
#include "output/las_writer.h"
#include "output/piece_formatter.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QDate>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// The records built apart from the writer: the exact products, then the
// fixed fields.
std::string expected_records(const std::vector<LaserLine>& lasers) {
    std::string out;
    for (const LaserLine& laser : lasers) {
        if (laser.hitFaceIndex == -1) continue;
        for (double v : {laser.hitPoint.x, laser.hitPoint.y, laser.hitPoint.z}) {
            std::int32_t c = 0;
            EXPECT_TRUE(las_scaled_coordinate(v, c)) << v;
            for (int b = 0; b < 4; ++b) out += static_cast<char>(static_cast<std::uint32_t>(c) >> 8 * b);
        }
        out += std::string("\0\0\0\1\1\1\1\0", 8);
    }
    return out;
}

// Returns in runs, alone, in whole blocks of 64 and none in others, over
// several of the check's runs of lasers; coordinates that need the exact
// product (0.03 is just below 3 cm).
std::vector<LaserLine> patterned_lasers(std::size_t n) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> coord(-5000.0, 5000.0);
    std::vector<LaserLine> lasers(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t block = i / 64;
        const bool hit = block % 5 == 0 ? true : block % 5 == 1 ? false : block % 5 == 2 ? rng() % 2 == 0 : i % 61 == 7;
        if (!hit) continue;
        lasers[i].hitFaceIndex = static_cast<std::int32_t>(i);
        lasers[i].hitPoint = {i % 7 == 0 ? 0.03 : coord(rng), i % 11 == 0 ? -0.29 : coord(rng), coord(rng)};
    }
    return lasers;
}

}  // namespace

TEST(LasRecords, EveryRecordIsItsLasersForAnyThreadCountAndPiece) {
    testing_support::TempDir dir;
    NullProgress none;
    const std::vector<LaserLine> lasers = patterned_lasers(3 * 65536 + 777);
    const std::string expected = expected_records(lasers);
    const std::vector<LidarPoint> points = {{1, 2, 3}};
    const auto expect_file = [&](const std::vector<LaserLine>& all, const std::string& records, unsigned threads) {
        const std::string path = dir.file("t" + std::to_string(threads) + ".las");
        write_las_file(points, all, QString::fromStdString(path), none, QDate(2026, 1, 1), threads);
        const std::string file = testing_support::read_file(path);
        ASSERT_EQ(file.size(), LasHeader::kSize + records.size());
        EXPECT_TRUE(file.compare(LasHeader::kSize, std::string::npos, records) == 0) << threads << " threads";
    };
    for (unsigned threads : {1u, 3u}) expect_file(lasers, expected, threads);
    // A whole survey of more than a million lasers is read twice instead.
    std::vector<LaserLine> many((std::size_t(1) << 20) + 3);
    for (std::size_t i = 0; i < many.size(); i += 1 + i % 1000) many[i] = lasers[i % lasers.size()];
    expect_file(many, expected_records(many), 1);
    // A piece formatted elsewhere: summarised, then formatted in uneven
    // runs; and a piece formatted without a check before (the records are
    // made from the lasers then).
    LasSink sink(QString::fromStdString(dir.file("p.las")), QDate(2026, 1, 1), 1);
    SurveyContext context;
    context.pulseCount = lasers.size();
    const std::unique_ptr<PieceFormatter> formatter = sink.pieceFormatter(context);
    PulseChunk chunk;
    chunk.first = 1000;
    chunk.lasers = lasers.data() + 1000;
    chunk.count = lasers.size() - 1000;
    const std::string expectedPiece = expected_records({lasers.begin() + 1000, lasers.end()});
    FormattedPiece piece;
    format_piece(*formatter, chunk, 2, piece);
    EXPECT_EQ(std::string(piece.bytes.data(), piece.bytes.size()), expectedPiece);
    for (bool checked : {true, false}) {
        PieceSummary summary;
        if (checked) formatter->summarise(chunk, 1, summary);
        TextBuffer out;
        for (std::size_t begin = 0, step = 1; begin < chunk.count; begin += step, step = step * 3 + 5)
            formatter->format(chunk, begin, std::min(chunk.count, begin + step), out);
        EXPECT_EQ(std::string(out.data(), out.size()), expectedPiece) << (checked ? "checked" : "not checked");
        // The next chunk summarised in place of the other: not mistaken for it.
        PulseChunk other = chunk;
        other.first = 0;
        other.lasers = lasers.data();
        formatter->summarise(other, 1, summary);
    }
}
