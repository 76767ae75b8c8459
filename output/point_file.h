#pragma once
#include "flight/laser_line.h"
#include "output/file_sink.h"

#include <QString>
#include <vector>

class Progress;

// The ASCII point file as a survey sink, fed chunk by chunk.
class PointTextSink final : public FileSink {
public:
    explicit PointTextSink(const QString& path, unsigned threads = 0, Progress* progress = nullptr);
    std::unique_ptr<PieceFormatter> pieceFormatter(const SurveyContext& context) const override;
};

// The ASCII LiDAR point file: one line "x y z" (hitPoint) for every laser
// with a return, in laser order, numbers as a C++ stream writes them by
// default. Progress: value 0, range 0..n, about every twentieth laser, then
// n after closing.
// The file is written atomically through ChunkedFile: one that cannot be
// created or fully written throws OutputError naming it and the system's
// reason, and an existing file of that name stays as it was.
// The text is formatted on `threads` threads (0: one per hardware thread);
// the file is the same for any number.
void write_point_file(const std::vector<LaserLine>& lasers, const QString& path, Progress& progress,
                      unsigned threads = 0);
