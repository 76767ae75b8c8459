#include "products/product_sink.h"

#include "app/failure.h"
#include "app/simulation_data.h"

ProductSink::ProductSink(const QString& path, const ProductSettings& settings, Progress* progress)
    : path_(path), settings_(settings), progress_(progress) {}

ProductSink::~ProductSink() { abandon(); }

void ProductSink::open(const SurveyContext& context) {
    const SimulationData& data = *context.data;
    timing_ = std::make_unique<PulseTiming>(data.scanner, data.flight, data.laserlines.lineStarts,
                                            context.pulseCount);
    formatter_ = pieceFormatter(context);
    file_ = std::make_unique<ProductFile>(path_);
}

const PulseInfo* ProductSink::infos(const PulseChunk& chunk) {
    if (chunk.info) return chunk.info;
    infos_.resize(chunk.count);
    timing_->fill(chunk.first, chunk.count, infos_.data());
    return infos_.data();
}

void ProductSink::absorb(std::uint64_t, std::size_t, const PieceSummary& summary) {
    if (!summary.refusal.empty()) throw OutputError(summary.refusal);
}

void ProductSink::consume(const PulseChunk& given) {
    PulseChunk chunk = given;
    if (formatter_->needsInfo()) chunk.info = infos(given);
    const unsigned threads = writer_threads(settings_.threads);
    PieceSummary summary;
    formatter_->summarise(chunk, threads, summary);
    absorb(chunk.first, chunk.count, summary);
    const PieceFormatter& formatter = *formatter_;
    WritingLoopProgress loop(progress(), chunk.count);
    write_in_order(file_->file(), loop, chunk.count, threads,
                   [&formatter, &chunk](TextBuffer& out, std::size_t begin, std::size_t end) {
                       formatter.format(chunk, begin, end, out);
                   });
    loop.finish();
}

void ProductSink::consumeFormatted(std::uint64_t first, std::size_t count, const FormattedPiece& piece) {
    absorb(first, count, piece.summary);
    WritingLoopProgress loop(progress(), count);
    for (std::size_t i = 0; i < count; ++i) loop.before(i);
    file_->file().write_raw(piece.bytes.data(), piece.bytes.size());
    loop.finish();
}

void ProductSink::finish() {
    file_->finish();
    file_.reset();
}

void ProductSink::abandon() noexcept {
    if (file_) file_->abandon();
    file_.reset();
}
