#pragma once
#include "app/progress.h"
#include "output/piece_formatter.h"
#include "products/product_file.h"
#include "products/product_settings.h"
#include "products/return_attributes.h"
#include "survey/pulse_timing.h"
#include "survey/survey_sink.h"

#include <QString>
#include <memory>
#include <vector>

// What the survey product files share: the target and the settings, the
// file while it is written, the pulse timing that works out the infos of
// chunks that bring none, and the formatter of their records. A chunk is
// summarised and formatted by the sink's PieceFormatter (the one that
// pieceFormatter makes for any process of a run) and written in order,
// with the writers' progress protocol over the chunk.
class ProductSink : public PiecewiseSink {
public:
    ~ProductSink() override;
    void consume(const PulseChunk& chunk) final;
    void consumeFormatted(std::uint64_t first, std::size_t count, const FormattedPiece& piece) final;
    // Puts the file in place under its final name.
    void finish() override;
    void abandon() noexcept override;

protected:
    ProductSink(const QString& path, const ProductSettings& settings, Progress* progress);
    // Makes the run's pulse timing and the formatter, then creates the file.
    void open(const SurveyContext& context);
    // Takes what the file needs from pulses [first, first + count) before
    // their bytes are written (the default: nothing but a refusal, thrown
    // as OutputError).
    virtual void absorb(std::uint64_t first, std::size_t count, const PieceSummary& summary);
    Progress& progress() { return progress_ ? *progress_ : quiet_; }

    QString path_;
    ProductSettings settings_;
    std::unique_ptr<ProductFile> file_;

private:
    // The chunk's infos: its own, or worked out here.
    const PulseInfo* infos(const PulseChunk& chunk);

    Progress* progress_;
    NullProgress quiet_;
    std::unique_ptr<PulseTiming> timing_;
    std::unique_ptr<PieceFormatter> formatter_;
    std::vector<PulseInfo> infos_;  // the chunk's infos when the chunk brings none
};
