#include "output/point_file.h"

#include "app/failure.h"
#include "output/fast_number_text.h"

PointTextSink::PointTextSink(const QString& path, unsigned threads, Progress* progress)
    : FileSink(path, "w", threads, progress) {}

namespace {

// "x y z" of every return.
class PointTextFormatter final : public PieceFormatter {
public:
    void format(const PulseChunk& chunk, std::size_t begin, std::size_t end, TextBuffer& out) const override {
        const LaserLine* const lasers = chunk.lasers;
        for (std::size_t i = begin; i < end; ++i) {
            const LaserLine& laser = lasers[i];
            if (laser.hitFaceIndex == -1) continue;  // no return, no point
            char* p = out.room(3 * kMaxG6Text + 3);
            p = put_g6_fast(p, laser.hitPoint.x);
            *p++ = ' ';
            p = put_g6_fast(p, laser.hitPoint.y);
            *p++ = ' ';
            p = put_g6_fast(p, laser.hitPoint.z);
            *p++ = '\n';
            out.commit(p);
        }
    }
};

}  // namespace

std::unique_ptr<PieceFormatter> PointTextSink::pieceFormatter(const SurveyContext&) const {
    return std::make_unique<PointTextFormatter>();
}

void write_point_file(const std::vector<LaserLine>& lasers, const QString& path, Progress& progress,
                      unsigned threads) {
    PointTextSink sink(path, threads, &progress);
    feed_whole_survey(sink, lasers);
}
