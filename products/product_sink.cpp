#include "products/product_sink.h"

#include "app/simulation_data.h"

ProductSink::ProductSink(const QString& path, const ProductSettings& settings, Progress* progress)
    : path_(path), settings_(settings), progress_(progress) {}

ProductSink::~ProductSink() { abandon(); }

void ProductSink::open(const SurveyContext& context, bool withAttributes) {
    const SimulationData& data = *context.data;
    timing_ = std::make_unique<PulseTiming>(data.scanner, data.flight, data.laserlines.lineStarts,
                                            context.pulseCount);
    if (withAttributes)
        attributes_ = std::make_unique<ReturnAttributes>(data, settings_.intensity, data.laserlines.lineStarts.size());
    file_ = std::make_unique<ProductFile>(path_);
}

const PulseInfo* ProductSink::infos(const PulseChunk& chunk) {
    if (chunk.info) return chunk.info;
    infos_.resize(chunk.count);
    timing_->fill(chunk.first, chunk.count, infos_.data());
    return infos_.data();
}

void ProductSink::finish() {
    file_->finish();
    file_.reset();
}

void ProductSink::abandon() noexcept {
    if (file_) file_->abandon();
    file_.reset();
}
