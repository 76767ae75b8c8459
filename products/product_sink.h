#pragma once
#include "app/progress.h"
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
// chunks that bring none, and the returns' attributes.
class ProductSink : public SurveySink {
public:
    ~ProductSink() override;
    // Puts the file in place under its final name.
    void finish() override;
    void abandon() noexcept override;

protected:
    ProductSink(const QString& path, const ProductSettings& settings, Progress* progress);
    // Makes the run's pulse timing (and, when asked, the returns'
    // attributes), then creates the file.
    void open(const SurveyContext& context, bool withAttributes);
    // The chunk's infos: its own, or worked out here.
    const PulseInfo* infos(const PulseChunk& chunk);
    Progress& progress() { return progress_ ? *progress_ : quiet_; }

    QString path_;
    ProductSettings settings_;
    std::unique_ptr<ProductFile> file_;
    std::unique_ptr<ReturnAttributes> attributes_;

private:
    Progress* progress_;
    NullProgress quiet_;
    std::unique_ptr<PulseTiming> timing_;
    std::vector<PulseInfo> infos_;  // the chunk's infos when the chunk brings none
};
