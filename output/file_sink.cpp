#include "output/file_sink.h"

FileSink::FileSink(const QString& path, const char* mode, unsigned threads, Progress* progress)
    : path_(path), mode_(mode), threads_(threads), progress_(progress ? progress : &silent_) {}

void FileSink::begin(const SurveyContext& context) {
    pulseCount_ = context.pulseCount;
    loop_.reset();
    file_ = std::make_unique<ChunkedFile>(path_, mode_);
}

WritingLoopProgress& FileSink::loop() {
    if (!loop_) loop_ = std::make_unique<WritingLoopProgress>(*progress_, static_cast<std::size_t>(pulseCount_));
    return *loop_;
}

void FileSink::write(const PulseChunk& chunk, const RangeFormatter& format) {
    write_in_order(*file_, loop(), chunk.first, chunk.count, threads_, format);
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
