#include "products/product_tasks.h"

#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "products/csv_products.h"
#include "products/las14_writer.h"
#include "survey/pulse_timing.h"

ProductSettings product_settings(const std::string& crs, const std::string& startTime, bool intensity,
                                 double trajectoryRate, unsigned threads) {
    ProductSettings settings;
    settings.start = parse_survey_start(startTime.empty() ? std::string(kDefaultStartTime) : startTime);
    if (!crs.empty()) settings.crs = resolve_crs(crs);
    settings.intensity = intensity;
    settings.trajectoryRate = trajectoryRate;
    settings.threads = threads;
    return settings;
}

std::vector<std::unique_ptr<SurveySink>> make_product_sinks(const SurveyProductFiles& files,
                                                            const ProductSettings& settings, Progress* progress) {
    std::vector<std::unique_ptr<SurveySink>> sinks;
    if (!files.las14.isEmpty()) sinks.push_back(std::make_unique<Las14Sink>(files.las14, settings, progress));
    if (!files.csv.isEmpty()) sinks.push_back(std::make_unique<PointCsvSink>(files.csv, settings, progress));
    if (!files.trajectoryCsv.isEmpty())
        sinks.push_back(std::make_unique<TrajectoryCsvSink>(files.trajectoryCsv, settings, progress));
    return sinks;
}

void feed_survey(const SimulationData& data, std::vector<std::unique_ptr<SurveySink>>& sinks) {
    const std::vector<LaserLine>& lasers = data.lasers();
    std::vector<PulseInfo> infos(lasers.size());
    PulseTiming(data).fill(0, infos.size(), infos.data());
    PulseChunk chunk;
    chunk.first = 0;
    chunk.lasers = lasers.data();
    chunk.info = infos.data();
    chunk.count = lasers.size();
    SurveyContext context;
    context.data = &data;
    context.pulseCount = lasers.size();
    std::size_t finished = 0;
    try {
        for (auto& sink : sinks) sink->begin(context);
        for (auto& sink : sinks) sink->consume(chunk);
        for (auto& sink : sinks) {
            sink->finish();
            ++finished;
        }
    } catch (...) {
        for (std::size_t i = finished; i < sinks.size(); ++i) sinks[i]->abandon();
        throw;
    }
}

void export_survey_task(SimulationData& data, const QString& path, const ProductSettings& settings,
                        Progress& progress) {
    const QString refusal = refusal_save_points(data);
    if (!refusal.isEmpty()) throw Refused(refusal.toStdString());
    SurveyProductFiles files;
    if (path.endsWith(QLatin1String(".las"), Qt::CaseInsensitive)) {
        files.las14 = path;
    } else if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
        files.csv = path;
    } else {
        throw OutputError(
            QStringLiteral("The survey point cloud file name '%1' must end in .las or .csv").arg(path).toStdString());
    }
    std::vector<std::unique_ptr<SurveySink>> sinks = make_product_sinks(files, settings, &progress);
    feed_survey(data, sinks);
    data.pendingMessage = QStringLiteral("Survey point cloud exported, Path : %1\n").arg(path);
    data.appendLog();
    progress.showStatus(QStringLiteral("     Survey point cloud exported. Task completed.."));
    ++data.taskCount;
}
