#pragma once
#include "app/progress.h"
#include "output/piece_formatter.h"
#include "output/writing_loop.h"
#include "survey/survey_sink.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// What the file products have in common as survey sinks: the file is
// written through ChunkedFile (under a temporary name, put in place by
// finish, removed by abandon; failures throw OutputError);
// the records of every chunk are formatted by the sink's PieceFormatter on
// `threads` threads and written in order, with the writers' progress
// protocol counted over the whole survey (value 0 and range 0..n before the
// first record, about every twentieth pulse, n after the file is in place),
// reported to `progress` when one is given. A chunk fed as the whole survey
// gives the bytes and the progress of the one-piece writers. Pieces
// formatted elsewhere (consumeFormatted) are appended as they are.
class FileSink : public PiecewiseSink {
public:
    void begin(const SurveyContext& context) override;
    void consume(const PulseChunk& chunk) final;
    void consumeFormatted(std::uint64_t first, std::size_t count, const FormattedPiece& piece) final;
    void finish() override;
    void abandon() noexcept override;

protected:
    FileSink(const QString& path, const char* mode, unsigned threads, Progress* progress);
    // Takes what the header needs from pulses [first, first + count) before
    // their bytes are written; throws OutputError for a refused piece. The
    // default refuses only what the formatter refused.
    virtual void absorb(std::uint64_t first, std::size_t count, const PieceSummary& summary);
    ChunkedFile& file() { return *file_; }
    const QString& path() const { return path_; }
    std::uint64_t pulseCount() const { return pulseCount_; }

private:
    WritingLoopProgress& loop();

    QString path_;
    const char* mode_;
    unsigned threads_;
    Progress* progress_;
    NullProgress silent_;
    std::uint64_t pulseCount_ = 0;
    std::unique_ptr<PieceFormatter> formatter_;
    std::unique_ptr<ChunkedFile> file_;
    std::unique_ptr<WritingLoopProgress> loop_;
};

// Feeds a whole in-memory survey to a sink as one chunk: begin, consume,
// finish; abandons it and rethrows when any of them throws.
void feed_as_one_chunk(SurveySink& sink, const SurveyContext& context, const PulseChunk& chunk);
// The same for an in-memory survey: its laser records and, where the sink
// reads them, its cast returns.
void feed_whole_survey(SurveySink& sink, const std::vector<LaserLine>& lasers,
                       const std::vector<LidarPoint>* points = nullptr);
