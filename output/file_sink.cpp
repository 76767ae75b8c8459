#include "output/file_sink.h"

#include "app/failure.h"

FileSink::FileSink(const QString& path, const char* mode, unsigned threads, Progress* progress)
    : path_(path), mode_(mode), threads_(threads), progress_(progress ? progress : &silent_) {}

void FileSink::begin(const SurveyContext& context) {
    pulseCount_ = context.pulseCount;
    loop_.reset();
    formatter_ = pieceFormatter(context);
    file_ = std::make_unique<ChunkedFile>(path_, mode_);
}

WritingLoopProgress& FileSink::loop() {
    if (!loop_) loop_ = std::make_unique<WritingLoopProgress>(*progress_, static_cast<std::size_t>(pulseCount_));
    return *loop_;
}

void FileSink::absorb(std::uint64_t, std::size_t, const PieceSummary& summary) {
    if (!summary.refusal.empty()) throw OutputError(summary.refusal);
}

void FileSink::consume(const PulseChunk& chunk) {
    PieceSummary summary;
    formatter_->summarise(chunk, threads_, summary);
    absorb(chunk.first, chunk.count, summary);
    const PieceFormatter& formatter = *formatter_;
    const std::uint64_t first = chunk.first;
    write_in_order(*file_, loop(), first, chunk.count, threads_,
                   [&formatter, &chunk, first](TextBuffer& out, std::size_t begin, std::size_t end) {
                       formatter.format(chunk, static_cast<std::size_t>(begin - first),
                                        static_cast<std::size_t>(end - first), out);
                   });
}

void FileSink::consumeFormatted(std::uint64_t first, std::size_t count, const FormattedPiece& piece) {
    absorb(first, count, piece.summary);
    WritingLoopProgress& progress = loop();
    for (std::uint64_t i = first; i < first + count; ++i) progress.before(static_cast<std::size_t>(i));
    file_->write_raw(piece.bytes.data(), piece.bytes.size());
}

void FileSink::finish() {
    WritingLoopProgress& progress = loop();
    file_->close();
    progress.finish();
}

void FileSink::abandon() noexcept {
    if (file_) file_->abandon();
}

void feed_as_one_chunk(SurveySink& sink, const SurveyContext& context, const PulseChunk& chunk) {
    try {
        sink.begin(context);
        sink.consume(chunk);
        sink.finish();
    } catch (...) {
        sink.abandon();
        throw;
    }
}

void feed_whole_survey(SurveySink& sink, const std::vector<LaserLine>& lasers, const std::vector<LidarPoint>* points) {
    SurveyContext context;
    context.pulseCount = lasers.size();
    PulseChunk chunk;
    chunk.lasers = lasers.data();
    chunk.count = lasers.size();
    if (points) {
        chunk.points = points->data();
        chunk.pointCount = points->size();
    }
    feed_as_one_chunk(sink, context, chunk);
}
