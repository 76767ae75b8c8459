#include "batch_run.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <chrono>
#include <cmath>
#include <ctime>
#include <iomanip>
#include <limits>
#include <new>
#include <utility>

#include "app/failure.h"
#include "app/simulation_data.h"
#include "app/uniform_source.h"
#include "batch_coverage.h"
#include "batch_options.h"
#include "errors/error_model.h"
#include "errors/error_tasks.h"
#include "flight/flight_tasks.h"
#include "lidar/lidar_tasks.h"
#include "output/output_tasks.h"
#include "output/writing_loop.h"
#include "products/product_tasks.h"
#include "terminal_progress.h"
#include "terrain/sample_scene.h"
#include "terrain/terrain_tasks.h"

namespace {

// File names reach the file system in the local 8-bit encoding, as the
// desktop program passes them.
QString file_name(const std::string& arg) { return QString::fromLocal8Bit(arg.c_str()); }

// The progress signals carry doubles; the bar takes them truncated toward zero.
int truncate_to_int(double value) {
    if (!(value == value)) return 0;
    if (value >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (value <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

// Whether the file could be created or overwritten, without touching it.
// A file is replaced through a new one made beside it, so its folder must
// take new files; a device such as /dev/null is written directly.
QString unwritable_reason(const std::string& path) {
    const QString name = file_name(path);
    const QFileInfo info(name);
    if (info.exists()) {
        if (info.isDir()) return QStringLiteral("is a folder");
        if (!info.isFile()) {
            if (::access(QFile::encodeName(name).constData(), W_OK) != 0) return QStringLiteral("is not writable");
            return QString();
        }
    }
    // A link is followed to the file it names.
    const QFileInfo folder(info.exists() ? QFileInfo(info.canonicalFilePath()).absolutePath() : info.absolutePath());
    if (!folder.exists() || !folder.isDir()) return QStringLiteral("is in a folder that does not exist");
    if (::access(QFile::encodeName(folder.absoluteFilePath()).constData(), W_OK | X_OK) != 0) {
        return QStringLiteral("is in a folder that is not writable");
    }
    if (info.exists() && ::access(QFile::encodeName(name).constData(), W_OK) != 0) {
        return QStringLiteral("is not writable");
    }
    return QString();
}

class StageClock {
public:
    void start(const char* name) {
        name_ = name;
        begin_ = std::chrono::steady_clock::now();
    }
    void stop() {
        if (!name_) return;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
        stages.emplace_back(name_, s);
        name_ = nullptr;
    }
    std::vector<std::pair<const char*, double>> stages;

private:
    const char* name_ = nullptr;
    std::chrono::steady_clock::time_point begin_;
};

// The ASCII mesh load path of "Open Mesh", fed with the generated sample
// scene instead of a file: the same log and status texts, the same counts.
void load_sample_scene(SimulationData& data, std::size_t triangles, Progress& progress) {
    open_mesh_begin(data);
    progress.showStatus(QStringLiteral("Loading file.."));
    make_sample_scene(data.vertices, data.faces, triangles, data.faceClasses);
    progress.setRange(0, 5);
    progress.setValue(0);
    progress.setValue(1);
    prepare_model(data, ModelSource::AsciiMesh, QStringLiteral("z axis"), progress);
    progress.showStatus(QStringLiteral("     Uploaded mesh. Task completed.."));
    ++data.taskCount;
}

struct Run {
    const BatchOptions& options;
    std::ostream& out;
    std::ostream& err;
    SimulationData data;
    TerminalProgress progress;
    StageClock clock;
    int status = kBatchOk;
    int expectedHits = 0;
    bool cast = false;
    BatchCoverage coverage;

    Run(const BatchOptions& o, std::ostream& outStream, std::ostream& errStream, bool bars)
        : options(o), out(outStream), err(errStream), progress(errStream, bars), coverage(o) {}

    void message(const QString& text) {
        progress.endStage();
        err << "Error: " << text.toStdString() << "\n";
    }
    // A step the desktop program would refuse with an "Error" box.
    void refused(const QString& text) {
        message(text);
        if (status == kBatchOk) status = kBatchRefused;
    }
    void failed(const QString& text) {
        message(text);
        status = kBatchFailed;
    }

    void begin(const char* stage, const char* label) {
        clock.start(stage);
        progress.beginStage(label);
    }
    void end() {
        clock.stop();
        progress.endStage();
    }

    bool loadModel() {
        begin("model", "Loading model");
        if (options.model != ModelKind::SampleScene && QFileInfo(file_name(options.modelFile)).isDir()) {
            failed(QStringLiteral("Cannot read '%1': it is a folder.").arg(file_name(options.modelFile)));
            return false;
        }
        data.classTable = options.classTable;
        try {
            switch (options.model) {
            case ModelKind::SampleScene:
                load_sample_scene(data, options.sampleTriangles, progress);
                break;
            case ModelKind::Mesh:
                open_mesh_begin(data);
                load_mesh_task(data, file_name(options.modelFile), progress);
                break;
            case ModelKind::Obj:
                open_obj_begin(data);
                obj_file_chosen(data, progress);
                load_obj_task(data, file_name(options.modelFile), options.verticalAxisAnswer, options.unitChoice,
                              progress);
                break;
            }
        } catch (const InputError& e) {
            failed(QString::fromStdString(e.what()));
            return false;
        }
        end();
        return true;
    }

    WizardValues wizardValues() const {
        WizardValues values;
        values.flight.orientation = options.orientation;
        values.flight.velocity = options.velocity ? *options.velocity : suggested_velocity((data.maxX - data.minX) / 5);
        values.flight.overlap = options.overlap;
        values.flight.meanHeight = options.height ? *options.height : suggested_flying_height(data.maxZ);
        values.scanner = options.scanner;
        values.realisticTrajectory = options.realisticTrajectory;
        values.trajectoryTerms = options.trajectoryTerms;
        if (options.planAboveGround) values.flight.spacingGround = data.maxZ;
        return values;
    }

    // The dialogs' checks; the first failing one gives the message.
    QString validate(const WizardValues& values) const {
        QString text = validate_flight_values(values.flight, data.maxZ);
        if (text.isEmpty()) text = validate_scanner_values(values.scanner);
        if (text.isEmpty() && options.errorStep) text = validate_error_settings(options.errors);
        if (text.isEmpty()) text = coverage.refusal(data);
        return text;
    }

    QString checkOutputs() const {
        for (const std::string* path :
             {&options.pointsFile, &options.trajectoryFile, &options.saveMeshFile, &options.logFile,
              &options.coverageFile, &options.coveragePngFile, &options.reportFile,
              &options.las14File, &options.csvFile, &options.trajectoryCsvFile}) {
            if (path->empty()) continue;
            const QString reason = unwritable_reason(*path);
            if (!reason.isEmpty()) return QStringLiteral("Cannot write '%1': it %2.").arg(file_name(*path), reason);
        }
        return QString();
    }

    bool generateLasers(const WizardValues& values) {
        begin("lasers", "Generating lasers");
        // "Scanner and Flight details" counts as a task when the wizard opens.
        ++data.taskCount;
        const auto maxConnection = QObject::connect(&data.laserlines, &Laserlines::max_limit,
                                                    [this](double v) { progress.setRange(0, truncate_to_int(v)); });
        const auto valueConnection = QObject::connect(&data.laserlines, &Laserlines::value_changed,
                                                      [this](double v) { progress.setValue(truncate_to_int(v)); });
        // The desktop program seeds the trajectory signs with the clock.
        const std::uint32_t signSeed = options.seed ? *options.seed : static_cast<std::uint32_t>(std::time(nullptr));
        bool generated = true;
        try {
            generate_lasers_task(data, values, signSeed, progress);
        } catch (const InputError& e) {
            // A run too large for memory: a refused value, before anything is written.
            message(QString::fromStdString(e.what()));
            status = kBatchBadUsage;
            generated = false;
        }
        QObject::disconnect(maxConnection);
        QObject::disconnect(valueConnection);
        if (!generated) {
            clock.stop();
            return false;
        }
        expectedHits =
            data.laserlines.count_expected_hits(data.maxX, data.maxY, data.maxZ, data.minX, data.minY, data.minZ);
        end();
        return true;
    }

    void simulate() {
        begin("cast", "Casting lasers");
        try {
            simulate_lidar_task(data, progress, options.threads);
            cast = true;
        } catch (const Refused& e) {
            refused(QString::fromStdString(e.what()));
        }
        end();
    }

    void introduceErrors() {
        const QString refusal = refusal_error_simulation(data);
        if (!refusal.isEmpty()) return refused(refusal);
        begin("errors", "Introducing errors");
        introduce_errors_task(data, options.errors, progress);
        end();
    }

    // Runs one save; the core writers report a file they could not write
    // (OutputError naming it and the system's reason).
    template <typename Save>
    void save(const char* stage, const char* label, const std::string& path, const QString& refusal, Save&& run) {
        if (!refusal.isEmpty()) return refused(refusal);
        begin(stage, label);
        try {
            run(file_name(path));
        } catch (const OutputError& e) {
            failed(QString::fromStdString(e.what()));
            clock.stop();
            return;
        }
        end();
    }

    // The wizard's Done and the actions after it, in the desktop program's
    // order. A refused step does not stop the independent ones after it.
    void survey(const WizardValues& values) {
        if (!generateLasers(values)) return;
        simulate();
        if (options.errorStep) introduceErrors();
        if (cast) analyseCoverage();
        if (!options.pointsFile.empty()) {
            save("points", "Saving points", options.pointsFile, refusal_save_points(data),
                 [this](const QString& path) { save_points_task(data, path, progress); });
        }
        if (!options.trajectoryFile.empty()) {
            save("trajectory", "Saving trajectory", options.trajectoryFile, refusal_save_trajectory(data),
                 [this](const QString& path) {
                     save_trajectory_task(data, path, options.trajectoryFormatCode, progress);
                 });
        }
        if (!options.saveMeshFile.empty()) {
            save("mesh", "Saving mesh", options.saveMeshFile, refusal_save_mesh(data),
                 [this](const QString& path) { save_mesh_task(data, path, progress); });
        }
        saveSurveyProducts();
    }

    // The survey products (LAS 1.4, text, timed trajectory) as sinks fed
    // with the whole in-memory survey in one chunk.
    void saveSurveyProducts() {
        SurveyProductFiles files;
        files.las14 = options.las14File.empty() ? QString() : file_name(options.las14File);
        files.csv = options.csvFile.empty() ? QString() : file_name(options.csvFile);
        files.trajectoryCsv = options.trajectoryCsvFile.empty() ? QString() : file_name(options.trajectoryCsvFile);
        if (!files.any()) return;
        const QString pointRefusal = refusal_save_points(data);
        if (!pointRefusal.isEmpty() && (!files.las14.isEmpty() || !files.csv.isEmpty())) return refused(pointRefusal);
        const QString trajectoryRefusal = refusal_save_trajectory(data);
        if (!trajectoryRefusal.isEmpty() && !files.trajectoryCsv.isEmpty()) return refused(trajectoryRefusal);
        begin("products", "Saving survey products");
        try {
            std::vector<std::unique_ptr<SurveySink>> sinks = make_product_sinks(files, options.products, &progress);
            feed_survey(data, sinks);
        } catch (const OutputError& e) {
            failed(QString::fromStdString(e.what()));
            clock.stop();
            return;
        }
        end();
    }

    // The coverage raster, its GeoTIFF and picture; timed for the report
    // only, so the summary's stage table stays as it was.
    std::vector<std::pair<const char*, double>> coverageStages;
    void analyseCoverage() {
        const auto start = std::chrono::steady_clock::now();
        try {
            coverage.analyse(data);
        } catch (const OutputError& e) {
            failed(QString::fromStdString(e.what()));
        }
        coverageStages.emplace_back("coverage",
                                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    void writeReport() {
        std::vector<std::pair<const char*, double>> stages = clock.stages;
        stages.insert(stages.end(), coverageStages.begin(), coverageStages.end());
        try {
            coverage.writeReport(data, expectedHits, stages);
        } catch (const OutputError& e) {
            failed(QString::fromStdString(e.what()));
        }
    }

    void writeLog() {
        const QByteArray text = data.logText.toUtf8();
        try {
            ChunkedFile file(file_name(options.logFile));
            file.write_raw(text.constData(), static_cast<std::size_t>(text.size()));
            file.close();
        } catch (const OutputError& e) {
            failed(QString::fromStdString(e.what()));
        }
    }

    void summary() {
        const double density = expected_point_density(data, expectedHits);
        out << "Lasers:                 " << data.lasers().size() << "\n"
            << "Points:                 " << data.points.size() << "\n"
            << "Expected intersections: " << expectedHits << "\n"
            << "Point density:          " << QString::number(density, 'f', 3).toStdString()
            << " per Sq m\n"
            << "Seconds per stage:\n";
        double total = 0.0;
        for (const auto& [name, seconds] : clock.stages) {
            out << "  " << std::left << std::setw(12) << name << std::right << std::fixed << std::setprecision(3)
                << seconds << "\n";
            total += seconds;
        }
        out << "  " << std::left << std::setw(12) << "total" << std::right << std::fixed << std::setprecision(3)
            << total << "\n";
        out.unsetf(std::ios::floatfield);
        out << std::setprecision(6);
    }
};

int run_batch_steps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
    int exitCode = 0;
    const std::optional<BatchOptions> parsed = parse_batch_options(args, out, err, &exitCode);
    if (!parsed) return exitCode;
    const BatchOptions& options = *parsed;

    // A freshly started program: the random source at its seed, no cached
    // normal deviate, the welcome text in the log.
    uniform_source().seed(options.seed ? *options.seed : 1u);
    reset_normal_deviate();
    Run run(options, out, err, showProgress && !options.quiet);
    log_welcome(run.data);

    if (!run.loadModel()) return run.status;

    const WizardValues values = run.wizardValues();
    const QString invalid = run.validate(values);
    if (!invalid.isEmpty()) {
        run.message(invalid);
        return kBatchBadUsage;
    }
    const QString unwritable = run.checkOutputs();
    if (!unwritable.isEmpty()) {
        run.message(unwritable);
        return kBatchFailed;
    }

    run.survey(values);
    if (run.status == kBatchBadUsage) return kBatchBadUsage;
    if (!options.logFile.empty()) run.writeLog();
    if (!options.reportFile.empty()) run.writeReport();
    run.progress.endStage();
    if (!options.quiet) {
        run.summary();
        run.coverage.printSummary(out);
    }
    return run.status;
}

}  // namespace

int run_batch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
    try {
        return run_batch_steps(args, out, err, showProgress);
    } catch (const std::bad_alloc&) {
        err << "Error: Not enough memory for this run.\n";
    } catch (const std::exception& e) {
        err << "Error: " << e.what() << "\n";
    }
    return kBatchFailed;
}
