#include "output/trajectory_file.h"

#include "app/failure.h"
#include "output/fast_number_text.h"
#include "output/writing_loop.h"

namespace {

inline char* put_triple(char* p, const Vec3& v) {
    p = put_g6_fast(p, v.x);
    *p++ = ' ';
    p = put_g6_fast(p, v.y);
    *p++ = ' ';
    return put_g6_fast(p, v.z);
}

inline char* put_attitude(char* p, const LaserLine& laser) {
    p = put_g6_fast(p, laser.roll);
    *p++ = ' ';
    p = put_g6_fast(p, laser.pitch);
    *p++ = ' ';
    return put_g6_fast(p, laser.yaw);
}

// The longest line: nine numbers, their blanks and the line end.
constexpr std::size_t kMaxLine = 9 * (kMaxG6Text + 1);

}  // namespace

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
    TrajectoryTextFormatter(bool cosines, bool angles) : cosines_(cosines), angles_(angles) {}
    void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const override {
        const LaserLine* const lasers = chunk.lasers;
        for (std::size_t i = begin; i < end; ++i) {
            const LaserLine& laser = lasers[i];
            char* p = put_triple(out.room(kMaxLine), laser.origin);
            if (cosines_) {
                *p++ = ' ';
                p = put_triple(p, laser.direction);
            }
            if (angles_) {
                *p++ = ' ';
                p = put_attitude(p, laser);
            }
            *p++ = '\n';
            out.commit(p);
        }
    }

private:
    bool cosines_, angles_;
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
