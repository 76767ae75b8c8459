#pragma once
#include "coverage/coverage_grid.h"
#include "survey/survey_sink.h"

#include <functional>
#include <vector>

// Builds the coverage raster of a survey chunk by chunk. begin lays the
// raster over the model and marks the cells its triangles cover; consume
// counts the returns of a chunk; finish hands the raster to the products
// (a GeoTIFF, a picture), in the order they were added. Linear in the
// number of pulses, no allocation per pulse.
class CoverageSink : public SurveySink {
public:
    // Writes one product of the raster; throws OutputError naming the file.
    using Product = std::function<void(const CoverageGrid&)>;

    explicit CoverageSink(double requestedCell = 0.0) : requestedCell_(requestedCell) {}
    void addProduct(Product product) { products_.push_back(std::move(product)); }

    // The raster reads the hits only (and the lines, from the infos or the
    // plan).
    RecordUse recordUse() const override { return RecordUse::Hits; }
    void begin(const SurveyContext& context) override;
    void consume(const PulseChunk& chunk) override;
    void finish() override;
    void abandon() noexcept override {}

    // The survey of the last begin (its model and plan).
    const SimulationData* data() const { return data_; }
    const CoverageGrid& grid() const { return grid_; }
    CoverageGrid& grid() { return grid_; }

private:
    double requestedCell_;
    std::vector<Product> products_;
    CoverageGrid grid_;
    const SimulationData* data_ = nullptr;
    std::size_t nextLine_ = 0;  // flight lines (0-based) that start at or before the pulse in hand
    double cosO_ = 1.0, sinO_ = 0.0;
};
