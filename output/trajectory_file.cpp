#include "output/trajectory_file.h"

#include "app/failure.h"
#include "output/number_rows.h"
#include "output/writing_loop.h"

#include <algorithm>
#include <cstddef>

TrajectorySink::TrajectorySink(const QString& path, int formatCode, unsigned threads, Progress* progress)
    : FileSink(path, "w", threads, progress) {
    if (formatCode != kTrajectoryPositionCosines && formatCode != kTrajectoryPositionAngles &&
        formatCode != kTrajectoryPositionCosinesAngles) {
        throw OutputError("Unknown trajectory format code " + std::to_string(formatCode) +
                          " (3: position, direction cosines and Euler angles; 2: position and Euler angles; "
                          "1: position and direction cosines).");
    }
    cosines_ = formatCode != kTrajectoryPositionAngles;
    angles_ = formatCode != kTrajectoryPositionCosines;
}

namespace {

// One line per pulse: the origin, then the direction, the attitude or both.
class TrajectoryTextFormatter final : public PieceFormatter {
public:
    TrajectoryTextFormatter(bool cosines, bool angles) {
        const auto columns = [this](std::size_t a, std::size_t b, std::size_t c) {
            for (std::size_t offset : {a, b, c}) rows_.offsets[rows_.columns++] = static_cast<std::uint32_t>(offset);
        };
        const std::size_t origin = offsetof(LaserLine, origin), direction = offsetof(LaserLine, direction);
        columns(origin + offsetof(Vec3, x), origin + offsetof(Vec3, y), origin + offsetof(Vec3, z));
        if (cosines)
            columns(direction + offsetof(Vec3, x), direction + offsetof(Vec3, y), direction + offsetof(Vec3, z));
        if (angles) columns(offsetof(LaserLine, roll), offsetof(LaserLine, pitch), offsetof(LaserLine, yaw));
        rows_.stride = sizeof(LaserLine);
    }
    void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const override {
        NumberRows rows = rows_;
        rows.first = reinterpret_cast<const unsigned char*>(chunk.lasers);
        // The room of a block of lines at a time.
        constexpr std::size_t kBlock = 256;
        const std::size_t room = kBlock * row_room(rows.columns);
        for (std::size_t i = begin; i < end; i += kBlock) {
            const std::size_t blockEnd = std::min(end, i + kBlock);
            out.commit(put_number_rows(out.room(room), rows, i, blockEnd));
        }
    }

private:
    NumberRows rows_;
};

}  // namespace

std::unique_ptr<PieceFormatter> TrajectorySink::pieceFormatter(const SurveyContext&) const {
    return std::make_unique<TrajectoryTextFormatter>(cosines_, angles_);
}

void write_trajectory_file(const std::vector<LaserLine>& lasers, const QString& path, Progress& progress,
                           int formatCode, unsigned threads) {
    TrajectorySink sink(path, formatCode, threads, &progress);
    feed_whole_survey(sink, lasers);
}
