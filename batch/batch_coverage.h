#pragma once
#include <QString>
#include <cstdint>
#include <memory>
#include <ostream>
#include <utility>
#include <vector>

#include "batch_options.h"
#include "coverage/coverage_grid.h"
#include "coverage/coverage_sink.h"

class SimulationData;

// The coverage part of a batch run: the raster sink with the GeoTIFF and
// the picture as its products, the summary lines and the JSON report.
class BatchCoverage {
public:
    explicit BatchCoverage(const BatchOptions& options);
    BatchCoverage(const BatchCoverage&) = delete;  // its products point back at it
    BatchCoverage& operator=(const BatchCoverage&) = delete;

    // Why the chosen cell cannot be used on this model ("" when it can).
    QString refusal(const SimulationData& data) const;
    // The sink the survey feeds; its finish makes the summary and writes
    // the GeoTIFF and the picture.
    SurveySink& sink() { return sink_; }
    // The in-memory run: the whole survey as one chunk. Throws OutputError.
    void analyse(const SimulationData& data);
    bool analysed() const { return analysed_; }

    void printSummary(std::ostream& out) const;
    // Throws OutputError naming the file. The counts are the survey's (a
    // streamed run keeps no lists).
    void writeReport(const SimulationData& data, std::uint64_t lasers, std::uint64_t points, int expectedHits,
                     const std::vector<std::pair<const char*, double>>& stages) const;

private:
    const BatchOptions& options_;
    CoverageSink sink_;
    CoverageSummary summary_;
    bool analysed_ = false;
};
