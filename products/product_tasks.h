#pragma once
#include "products/product_settings.h"
#include "survey/survey_sink.h"

#include <QString>
#include <memory>
#include <string>
#include <vector>

class SimulationData;
class Progress;

// The files of one run's survey products; an empty name is not asked for.
struct SurveyProductFiles {
    QString las14;          // LAS 1.4, point data record format 6
    QString csv;            // the returns as comma-separated text
    QString trajectoryCsv;  // the timed trajectory
    bool any() const { return !las14.isEmpty() || !csv.isEmpty() || !trajectoryCsv.isEmpty(); }
};

// The settings from their texts: an empty start time is the default one,
// an empty CRS none. Throws InputError naming the value PROJ or the time
// reader refused.
ProductSettings product_settings(const std::string& crs, const std::string& startTime, bool intensity,
                                 double trajectoryRate = 0.0, unsigned threads = 0);

// One sink per file asked for, in the order LAS 1.4, CSV, trajectory.
std::vector<std::unique_ptr<SurveySink>> make_product_sinks(const SurveyProductFiles& files,
                                                            const ProductSettings& settings, Progress* progress);

// Feeds the in-memory survey of `data` (its lasers after the cast and the
// error step) to the sinks as one chunk, the pulse infos worked out once for
// all of them: begin every sink, consume, finish every sink. When one
// throws, the sinks not yet finished are abandoned and the error goes on.
void feed_survey(const SimulationData& data, std::vector<std::unique_ptr<SurveySink>>& sinks);

// "Export Survey Point Cloud...": a name ending in ".las" writes LAS 1.4
// (format 6), ".csv" the text of the returns (endings compared without
// case). Refused like "Save Generated LiDAR Data" when there are no points;
// another ending throws OutputError and writes nothing. Logs the export.
void export_survey_task(SimulationData& data, const QString& path, const ProductSettings& settings,
                        Progress& progress);
