#pragma once
#include "flight/laser_line.h"
#include "output/file_sink.h"

#include <QString>
#include <vector>

class Progress;

// Layout codes of the trajectory file (the format dialog's "Format 1" gives
// 3, "Format 3" gives 1).
enum TrajectoryFormat {
    kTrajectoryPositionCosines = 1,         // origin, direction
    kTrajectoryPositionAngles = 2,          // origin, roll pitch yaw
    kTrajectoryPositionCosinesAngles = 3,   // origin, direction, roll pitch yaw
};

// The trajectory file as a survey sink, fed chunk by chunk. A code other
// than 1, 2 or 3 throws OutputError here, before any file is made.
class TrajectorySink final : public FileSink {
public:
    TrajectorySink(const QString& path, int formatCode, unsigned threads = 0, Progress* progress = nullptr);
    std::unique_ptr<PieceFormatter> pieceFormatter(const SurveyContext& context) const override;

private:
    bool cosines_, angles_;
};

// One line per laser, returns or not. Progress as write_point_file.
// Written and reported as write_point_file. A code other than 1, 2 or 3
// throws OutputError before the file is opened.
// Threads as write_point_file.
void write_trajectory_file(const std::vector<LaserLine>& lasers, const QString& path, Progress& progress,
                           int formatCode, unsigned threads = 0);
