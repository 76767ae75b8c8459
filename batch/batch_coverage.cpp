#include "batch_coverage.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "app/failure.h"
#include "app/simulation_data.h"
#include "coverage/geotiff/coverage_geotiff.h"
#include "coverage/picture/coverage_picture.h"
#include "flight/flight_tasks.h"

namespace {

QString file_name(const std::string& arg) { return QString::fromLocal8Bit(arg.c_str()); }

// JSON has no infinity: a figure without meaning is null.
QJsonValue number(double value) { return std::isfinite(value) ? QJsonValue(value) : QJsonValue(); }

std::string fixed(double value, int decimals) {
    if (!std::isfinite(value)) return "-";
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

}  // namespace

BatchCoverage::BatchCoverage(const BatchOptions& options) : options_(options), sink_(options.coverageCell) {
    // First the summary, which the picture shows: whoever drives the sink
    // (one chunk or many) gets it with the products at finish.
    sink_.addProduct([this](const CoverageGrid& grid) {
        summary_ = summarise_coverage(grid, *sink_.data(), options_.targetDensity);
        analysed_ = true;
    });
    const CoverageSummary* summary = &summary_;
    if (!options.coverageFile.empty()) {
        // The products work's --crs feeds the second argument; until then
        // the raster carries no CRS.
        const QString path = file_name(options.coverageFile);
        sink_.addProduct([path](const CoverageGrid& grid) { write_coverage_geotiff(grid, path, std::string()); });
    }
    if (!options.coveragePngFile.empty()) {
        const QString path = file_name(options.coveragePngFile);
        sink_.addProduct([path, summary](const CoverageGrid& grid) { write_coverage_png(grid, *summary, path); });
    }
}

QString BatchCoverage::refusal(const SimulationData& data) const {
    if (!(options_.coverageCell > 0)) return QString();
    const CoverageLayout layout = coverage_layout(data.minX, data.minY, data.maxX, data.maxY, options_.coverageCell);
    if (layout.columns <= kMaxCoverageSide && layout.rows <= kMaxCoverageSide) return QString();
    return QStringLiteral("--cell: %1 m makes %2 x %3 cells on this model; at most %4 on a side.")
        .arg(options_.coverageCell)
        .arg(layout.columns, 0, 'f', 0)
        .arg(layout.rows, 0, 'f', 0)
        .arg(kMaxCoverageSide);
}

void BatchCoverage::analyse(const SimulationData& data) {
    const std::vector<LaserLine>& lasers = data.lasers();
    sink_.begin(SurveyContext{&data, lasers.size()});
    sink_.consume(PulseChunk{0, lasers.data(), nullptr, lasers.size()});
    sink_.finish();
}

void BatchCoverage::printSummary(std::ostream& out) const {
    if (!analysed_) return;
    const CoverageGrid& g = sink_.grid();
    const CoverageSummary& s = summary_;
    out << "Coverage (" << fixed(g.cell, g.cell < 1 ? 2 : 0) << " m cells, " << g.columns << " x " << g.rows << "):\n"
        << "  Covered area:           " << fixed(s.coveredArea, 0) << " Sq m\n"
        << "  Density mean:           " << fixed(s.meanDensity, 3) << " per Sq m\n"
        << "  Density median:         " << fixed(s.medianDensity, 3) << " per Sq m\n"
        << "  Density 5th percentile: " << fixed(s.p5Density, 3) << " per Sq m\n"
        << "  Nominal pulse spacing:  " << fixed(s.nominalPulseSpacing, 2) << " m\n"
        << "  Meeting " << fixed(s.targetDensity, 2) << " per Sq m: " << fixed(s.shareMeetingTarget * 100, 1)
        << " % of the covered cells\n"
        << "  Empty covered area:     " << fixed(s.emptyCoveredArea, 0) << " Sq m\n";
    for (const LineOverlap& o : s.overlaps) {
        out << "  Side overlap " << o.lineA << "-" << o.lineB << ": " << fixed(o.share * 100, 1) << " % (5th percentile), "
            << fixed(o.meanShare * 100, 1) << " % mean of the swath";
        if (o.gapLength > 0) out << ", gap along " << fixed(o.gapLength, 0) << " m";
        out << "\n";
    }
}

void BatchCoverage::writeReport(const SimulationData& data, std::uint64_t lasers, std::uint64_t points,
                                int expectedHits,
                                const std::vector<std::pair<const char*, double>>& stages) const {
    const BatchOptions& o = options_;
    QJsonObject model;
    model["kind"] = o.model == ModelKind::SampleScene ? "sample scene" : o.model == ModelKind::Mesh ? "mesh" : "obj";
    if (o.model != ModelKind::SampleScene) model["file"] = file_name(o.modelFile);
    if (o.model == ModelKind::SampleScene) model["sampleTriangles"] = double(o.sampleTriangles);
    model["triangles"] = double(data.triangles.size());
    model["limits"] = QJsonArray{data.minX, data.minY, data.minZ, data.maxX, data.maxY, data.maxZ};

    QJsonObject parameters;
    parameters["orientation"] = data.flight.orientation;
    parameters["velocity"] = data.flight.velocity;
    parameters["overlap"] = data.flight.overlap;
    parameters["flyingHeight"] = data.flight.meanHeight;
    parameters["planAboveGround"] = o.planAboveGround;
    parameters["prfHz"] = data.scanner.prf;
    parameters["scanFrequency"] = data.scanner.scanFrequency;
    parameters["fovAcross"] = data.scanner.fovAcross;
    parameters["fovAlong"] = data.scanner.fovAlong;
    parameters["pattern"] = pattern_name(data.scanner.pattern);
    parameters["realisticTrajectory"] = data.realisticTrajectory;
    parameters["errorStep"] = o.errorStep;
    parameters["seed"] = o.seed ? QJsonValue(double(*o.seed)) : QJsonValue();
    parameters["threads"] = double(o.threads);
    parameters["targetDensity"] = o.targetDensity;
    parameters["cell"] = o.coverageCell > 0 ? QJsonValue(o.coverageCell) : QJsonValue("automatic");

    QJsonObject run;
    run["lasers"] = double(lasers);
    run["points"] = double(points);
    run["expectedIntersections"] = expectedHits;
    run["expectedPointDensity"] = number(expected_point_density(data, expectedHits));

    QJsonObject coverage;
    if (analysed_) {
        const CoverageGrid& g = sink_.grid();
        const CoverageSummary& s = summary_;
        coverage["cell"] = g.cell;
        coverage["columns"] = g.columns;
        coverage["rows"] = g.rows;
        coverage["originX"] = g.originX;
        coverage["originY"] = g.originY;
        coverage["returns"] = double(s.returns);
        coverage["returnsOutsideRaster"] = double(g.outside);
        coverage["coveredCells"] = double(s.coveredCells);
        coverage["coveredArea"] = s.coveredArea;
        coverage["meanDensity"] = s.meanDensity;
        coverage["medianDensity"] = s.medianDensity;
        coverage["p5Density"] = s.p5Density;
        coverage["nominalPulseSpacing"] = number(s.nominalPulseSpacing);
        coverage["targetDensity"] = s.targetDensity;
        coverage["shareMeetingTarget"] = s.shareMeetingTarget;
        coverage["emptyCoveredArea"] = s.emptyCoveredArea;
        QJsonArray overlaps;
        for (const LineOverlap& l : s.overlaps) {
            QJsonObject item;
            item["lines"] = QJsonArray{l.lineA, l.lineB};
            item["share"] = l.share;
            item["meanShare"] = l.meanShare;
            item["gapLength"] = l.gapLength;
            overlaps.append(item);
        }
        coverage["sideOverlaps"] = overlaps;
    }

    QJsonObject timings;
    double total = 0.0;
    for (const auto& [name, seconds] : stages) {
        timings[name] = timings[name].toDouble() + seconds;
        total += seconds;
    }
    timings["total"] = total;

    QJsonObject root;
    root["model"] = model;
    root["parameters"] = parameters;
    root["run"] = run;
    root["coverage"] = analysed_ ? QJsonValue(coverage) : QJsonValue();
    root["secondsPerStage"] = timings;

    const QString path = file_name(o.reportFile);
    QSaveFile file(path);
    const QByteArray text = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        throw OutputError("Could not write '" + path.toStdString() + "': " + file.errorString().toStdString() + ".");
    }
}
