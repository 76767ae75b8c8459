#include "batch_run.h"

#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QDate>
#include <QString>
#include <chrono>
#include <csignal>
#include <memory>
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
#include "output/las_writer.h"
#include "output/output_tasks.h"
#include "output/piece_formatter.h"
#include "output/point_file.h"
#include "output/trajectory_file.h"
#include "output/writing_loop.h"
#include "products/product_tasks.h"
#include "survey/survey_run.h"
#include "survey_team.h"
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

// Ctrl-C and SIGTERM ask the run to stop between two chunks; the handler
// only notes the signal (and gives the next one its default action, so a
// second Ctrl-C ends the program at once).
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void note_stop_signal(int signal) { g_stopSignal = signal; }

class StopSignals {
public:
    StopSignals() {
        g_stopSignal = 0;
        struct sigaction action {};
        action.sa_handler = note_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopSignals() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    static int caught() { return g_stopSignal; }

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

std::string gib_text(double bytes) { return QString::number(bytes / double(1 << 30), 'f', 1).toStdString() + " GiB"; }

// Stage times; a stage run several times (once per chunk) adds up.
class StageClock {
public:
    void start(const char* name) {
        name_ = name;
        begin_ = std::chrono::steady_clock::now();
    }
    void stop() {
        if (!name_) return;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin_).count();
        bool found = false;
        for (auto& stage : stages) {
            if (std::string(stage.first) == name_) {
                stage.second += s;
                found = true;
            }
        }
        if (!found) stages.emplace_back(name_, s);
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
    BatchCoverage coverage;
    SurveyTeam* team;
    // The desktop program seeds the trajectory signs with the clock.
    std::uint32_t signSeed = 1;

    Run(const BatchOptions& o, std::ostream& outStream, std::ostream& errStream, bool bars, SurveyTeam* t)
        : options(o), out(outStream), err(errStream), progress(errStream, bars), coverage(o), team(t) {
        signSeed = options.seed ? *options.seed : static_cast<std::uint32_t>(std::time(nullptr));
        if (team) signSeed = team->leaderValue(signSeed);
    }
    bool leader() const { return !team || team->leader(); }

    // A member of a team other than the leader: lays, casts, perturbs and
    // formats the pieces the leader deals out, once the leader has planned
    // the survey and said which products it writes.
    void castForTheLeader(const WizardValues& values) {
        if (!team->leaderVerdict(true)) return;
        const std::uint32_t asked = team->leaderValue(0);
        begin_laser_generation(data, values);
        // The leader's sinks, made here only for their formatters: no file
        // is opened.
        const std::vector<Product> products = makeProducts(asked, nullptr);
        SurveyTeam::CastJob job;
        job.seed = signSeed;
        job.threads = options.threads;
        job.errors = &options.errors;  // applied when the leader says so
        job.formatters = [&products](const SurveyContext& context) { return formatters_of(products, context); };
        team->beginCast(data, job);
    }

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
        data.preparationThreads = options.threads;
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

    // The survey's products, in the desktop program's save order.
    struct Product {
        const char* stage;
        const char* label;
        std::string path;  // "" for the coverage raster (its files are its own)
        SurveySink* sink;
        std::unique_ptr<SurveySink> owned;
        void (*logSaved)(SimulationData&, const QString&);
    };
    // The products a run writes, as the leader tells the others.
    enum ProductKind : std::uint32_t {
        kCoverageProduct = 1,
        kPointsProduct = 2,
        kTrajectoryProduct = 4,
        kSurveyProducts = 8,  // LAS 1.4, text, timed trajectory: those asked for
    };

    SurveyProductFiles productFiles() const {
        SurveyProductFiles files;
        files.las14 = options.las14File.empty() ? QString() : file_name(options.las14File);
        files.csv = options.csvFile.empty() ? QString() : file_name(options.csvFile);
        files.trajectoryCsv = options.trajectoryCsvFile.empty() ? QString() : file_name(options.trajectoryCsvFile);
        return files;
    }

    // The sinks of the products asked for: adding one is one line here.
    std::vector<Product> makeProducts(std::uint32_t kinds, Progress* bars) {
        const unsigned threads = options.threads;
        std::vector<Product> products;
        // The coverage raster first: its summary is ready for whatever shows it.
        if (kinds & kCoverageProduct)
            products.push_back({"coverage", "Analysing coverage", "", &coverage.sink(), {}, nullptr});
        if (kinds & kPointsProduct) {
            const QString path = file_name(options.pointsFile);
            std::unique_ptr<SurveySink> sink;
            if (path.endsWith(QLatin1String(".las"))) {
                sink = std::make_unique<LasSink>(path, QDate::currentDate(), threads, bars);
            } else {
                sink = std::make_unique<PointTextSink>(path, threads, bars);
            }
            products.push_back({"points", "Saving points", options.pointsFile, sink.get(), std::move(sink),
                                log_points_saved});
        }
        if (kinds & kTrajectoryProduct) {
            auto sink = std::make_unique<TrajectorySink>(file_name(options.trajectoryFile), options.trajectoryFormatCode,
                                                         threads, bars);
            products.push_back({"trajectory", "Saving trajectory", options.trajectoryFile, sink.get(), std::move(sink),
                                log_trajectory_saved});
        }
        // The survey products (LAS 1.4, text, timed trajectory).
        if (kinds & kSurveyProducts) {
            std::vector<std::unique_ptr<SurveySink>> sinks = make_product_sinks(productFiles(), options.products, bars);
            std::vector<std::string> paths;
            for (const std::string* path : {&options.las14File, &options.csvFile, &options.trajectoryCsvFile})
                if (!path->empty()) paths.push_back(*path);
            for (std::size_t i = 0; i < sinks.size(); ++i) {
                SurveySink* sink = sinks[i].get();
                products.push_back({"products", "Saving survey products", i < paths.size() ? paths[i] : std::string(),
                                    sink, std::move(sinks[i]), nullptr});
            }
        }
        return products;
    }

    // The formatters of the products that format piece by piece, in their
    // order (that of ChunkPieces::Piece::formatted, the products being the
    // run's sinks in the same order).
    static SurveyTeam::Formatters formatters_of(const std::vector<Product>& products, const SurveyContext& context) {
        SurveyTeam::Formatters formatters;
        for (const Product& product : products)
            if (const auto* sink = dynamic_cast<const PiecewiseSink*>(product.sink))
                formatters.push_back(sink->pieceFormatter(context));
        return formatters;
    }

    // Hears the pipeline: stage bars and times for a survey in memory, one
    // bar over all pulses for a streamed one.
    struct Observer final : SurveyObserver {
        Run& run;
        const std::vector<Product>& products;
        bool streamed;
        Observer(Run& r, const std::vector<Product>& p, bool s) : run(r), products(p), streamed(s) {}

        void stageBegin(SurveyStage stage, std::size_t sink) override {
            const char* name = "lasers";
            const char* label = "Generating lasers";
            switch (stage) {
            case SurveyStage::Lasers: break;
            case SurveyStage::Cast: name = "cast", label = "Casting lasers"; break;
            case SurveyStage::Errors: name = "errors", label = "Introducing errors"; break;
            case SurveyStage::Sink: name = products[sink].stage, label = products[sink].label; break;
            }
            if (streamed) {
                run.clock.start(name);
            } else {
                run.begin(name, label);
            }
        }
        void stageEnd(SurveyStage, std::size_t) override {
            if (streamed) {
                run.clock.stop();
            } else {
                run.end();
            }
        }
        void stageProgress(std::uint64_t done, std::uint64_t total) override {
            if (streamed) return;
            run.progress.setRange(0, truncate_to_int(double(total)));
            run.progress.setValue(truncate_to_int(double(done)));
        }
        void chunkDone(std::uint64_t done, std::uint64_t total) override {
            if (streamed) run.progress.setCount(done, total, "pulses");
        }
        bool stopRequested() override { return StopSignals::caught() != 0; }
    };

    std::string streamedBecause;  // empty: the survey ran in memory
    std::uint64_t chunkPulses = 0;
    std::uint64_t lasers = 0, points = 0;
    std::uint64_t expectedHits = 0;
    std::uint64_t pulsesDone = 0;
    std::vector<std::string> removed;  // unfinished outputs of an interrupted run

    // Whether the survey streams: asked for; by default, whenever it spans
    // more than one chunk (the same bytes, with memory bounded by the model
    // and a chunk, and no fresh memory to fill for a whole survey's
    // records); with --memory-budget, when it would need more than that.
    bool decideStreaming(const SurveyRun& plan) {
        const double perPulse = double(sizeof(LaserLine) + sizeof(LidarPoint));
        const double estimate = plan.estimatedPulses() * perPulse;
        if (options.stream) {
            streamedBecause = "asked for with --stream";
        } else if (!options.memoryBudget) {
            if (plan.estimatedPulses() > double(options.chunkPulses))
                streamedBecause = "the survey spans more than one chunk; --memory-budget keeps it in memory";
        } else if (estimate > double(*options.memoryBudget) &&
                   options.memoryBudget != std::numeric_limits<std::uint64_t>::max()) {
            streamedBecause = "the survey's estimated " + gib_text(estimate) + " exceeds the memory budget of " +
                              gib_text(double(*options.memoryBudget));
        }
        return !streamedBecause.empty();
    }

    // The wizard's Done and the actions after it, in the desktop program's
    // order, as one pipeline over chunks of pulses. A refused step does not
    // stop the independent ones after it.
    void survey(const WizardValues& values) {
        begin("lasers", "Generating lasers");
        // "Scanner and Flight details" counts as a task when the wizard opens.
        ++data.taskCount;
        // The desktop program seeds the trajectory signs with the clock.
        SurveyRun::Settings settings;
        settings.signSeed = signSeed;
        settings.threads = options.threads;
        begin_laser_generation(data, values);
        SurveyRun plan(data, settings);
        if (decideStreaming(plan)) {
            chunkPulses = options.chunkPulses;
            if (!options.chunkPulsesGiven && writer_threads(options.threads) == 1)
                chunkPulses = std::min(chunkPulses, kOneThreadChunkPulses);
            plan.stream(chunkPulses);
        } else {
            try {
                plan.refuse_beyond_memory();
            } catch (const InputError& e) {
                // A run too large for memory: a refused value, before anything is written.
                message(QString::fromStdString(e.what()));
                status = kBatchBadUsage;
                clock.stop();
                if (team) team->leaderVerdict(false);
                return;
            }
        }
        plan.count();
        log_origins_computed(data);
        lasers = plan.pulses();
        clock.stop();

        // The steps the desktop program refuses, decided before the run
        // from the counts the lists will have.
        const QString castRefusal = refusal_lidar_simulation(data, lasers);
        const SurveyProductFiles files = productFiles();
        const bool wantPoints =
            options.errorStep || !options.pointsFile.empty() || !files.las14.isEmpty() || !files.csv.isEmpty();
        std::uint64_t anyPoint = 0;
        if (castRefusal.isEmpty() && wantPoints) {
            // A survey without returns casts every pulse here; a signal stops it.
            const std::optional<bool> any = plan.anyReturn([] { return StopSignals::caught() != 0; });
            if (!any) {
                if (team) team->leaderVerdict(false);
                return;
            }
            anyPoint = *any ? 1 : 0;
        }
        const QString errorRefusal = options.errorStep ? refusal_error_simulation(anyPoint) : QString();
        const QString pointsRefusal = options.pointsFile.empty() ? QString() : refusal_save_points(anyPoint);
        const QString trajectoryRefusal =
            options.trajectoryFile.empty() ? QString() : refusal_save_trajectory(lasers);
        if (options.errorStep && errorRefusal.isEmpty()) store_error_settings(data, options.errors);

        // The survey products are refused as a group like the saves they
        // stand beside.
        QString productRefusal;
        if (files.any()) {
            if (!files.las14.isEmpty() || !files.csv.isEmpty()) productRefusal = refusal_save_points(anyPoint);
            if (productRefusal.isEmpty() && !files.trajectoryCsv.isEmpty())
                productRefusal = refusal_save_trajectory(lasers);
        }
        std::uint32_t kinds = 0;
        // The raster only where something shows it: the summary, its files
        // or the report (in a run over several processes it is what makes
        // the hits travel).
        const bool coverageShown = !options.quiet || !options.coverageFile.empty() ||
                                   !options.coveragePngFile.empty() || !options.reportFile.empty();
        if (castRefusal.isEmpty() && coverageShown) kinds |= kCoverageProduct;
        if (!options.pointsFile.empty() && pointsRefusal.isEmpty()) kinds |= kPointsProduct;
        if (!options.trajectoryFile.empty() && trajectoryRefusal.isEmpty()) kinds |= kTrajectoryProduct;
        if (files.any() && productRefusal.isEmpty()) kinds |= kSurveyProducts;
        std::vector<Product> products = makeProducts(kinds, plan.inMemory() ? &progress : nullptr);
        if (kinds & kSurveyProducts) plan.setPulseInfo(true);
        for (Product& product : products) plan.addSink(product.sink);
        plan.setCast(castRefusal.isEmpty());
        plan.setErrorStep(options.errorStep && errorRefusal.isEmpty());
        if (team) {
            // The others cast, perturb and format pieces of every chunk; the
            // sinks' files and the log stay here.
            team->leaderVerdict(true);
            team->leaderValue(kinds);
            SurveyTeam::CastJob job;
            job.seed = signSeed;
            job.threads = options.threads;
            job.errors = options.errorStep && errorRefusal.isEmpty() ? &options.errors : nullptr;
            job.pulses = lasers;
            job.formatters = [&products](const SurveyContext& context) { return formatters_of(products, context); };
            // Of the records, only what the other sinks read comes back.
            job.records = plan.recordsElsewhere();
            team->beginCast(data, job);
            plan.castElsewhere([this](std::uint64_t first, LaserLine* records, std::size_t count,
                                      std::vector<LidarPoint>& found, ChunkPieces& pieces,
                                      const std::function<void(std::size_t)>& done) {
                team->castChunk(first, records, count, found, pieces, done);
            });
        }

        Observer observer(*this, products, !plan.inMemory());
        if (!plan.inMemory()) progress.beginStage("Surveying");
        bool completed = false;
        try {
            completed = plan.run(observer);
        } catch (...) {
            if (team) team->endCast();
            throw;
        }
        if (team) team->endCast();
        progress.endStage();
        pulsesDone = plan.pulsesDone();
        expectedHits = plan.expectedHits();
        points = plan.points();
        if (!completed) {
            for (const Product& product : products)
                if (!product.path.empty()) removed.push_back(product.path);
            return;
        }

        // The log and the messages in the order of the desktop's steps.
        log_laser_totals(data, lasers, expectedHits);
        if (!castRefusal.isEmpty()) {
            refused(castRefusal);
        } else {
            log_lidar_simulation(data, static_cast<std::size_t>(points));
        }
        if (options.errorStep) {
            if (!errorRefusal.isEmpty()) {
                refused(errorRefusal);
            } else {
                log_errors_introduced(data);
                ++data.taskCount;
            }
        }
        std::size_t index = 0;
        if (kinds & kCoverageProduct) {
            const std::string& failure = plan.failures()[index++];
            if (!failure.empty()) failed(QString::fromStdString(failure));
        }
        for (const auto& [requested, refusal] :
             {std::pair<const std::string*, QString>{&options.pointsFile, pointsRefusal},
              {&options.trajectoryFile, trajectoryRefusal}}) {
            if (requested->empty()) continue;
            if (!refusal.isEmpty()) {
                refused(refusal);
                continue;
            }
            const Product& product = products[index];
            const std::string& failure = plan.failures()[index++];
            // A refused coordinate or a file that could not be written is
            // reported and not logged, as the save tasks do.
            if (failure.empty()) {
                product.logSaved(data, file_name(product.path));
            } else {
                failed(QString::fromStdString(failure));
            }
        }
        if (!options.saveMeshFile.empty()) {
            save("mesh", "Saving mesh", options.saveMeshFile, refusal_save_mesh(data),
                 [this](const QString& path) { save_mesh_task(data, path, progress); });
        }
        if (!productRefusal.isEmpty()) refused(productRefusal);
        for (; index < products.size(); ++index) {
            const std::string& failure = plan.failures()[index];
            if (!failure.empty()) {
                failed(QString::fromStdString(failure));
                break;  // one message for the group, as when they were written together
            }
        }
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

    // The report: every stage's time, the coverage's too (which the
    // summary's stage table leaves out, so that it stays as it was).
    void writeReport() {
        try {
            coverage.writeReport(data, lasers, points, static_cast<int>(expectedHits), clock.stages);
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

    // Ends a run stopped by a signal: says what is complete under its
    // final name and what was removed; the status is 128 + the signal.
    int interrupted() {
        progress.endStage();
        const int signal = StopSignals::caught();
        std::vector<std::string> kept;
        if (removed.empty() && pulsesDone == lasers) {
            for (const std::string* path :
                 {&options.pointsFile, &options.trajectoryFile, &options.saveMeshFile, &options.logFile}) {
                if (!path->empty() && QFileInfo::exists(file_name(*path))) kept.push_back(*path);
            }
        }
        auto list = [](const std::vector<std::string>& names) {
            std::string text;
            for (const std::string& name : names) text += (text.empty() ? "'" : ", '") + name + "'";
            return text.empty() ? std::string("nothing") : text;
        };
        err << "Interrupted by " << (signal == SIGTERM ? "SIGTERM" : "SIGINT") << " after " << pulsesDone << " of "
            << lasers << " pulses. Kept: " << list(kept) << ".";
        if (!removed.empty()) err << " Removed the unfinished " << list(removed) << ".";
        err << "\n";
        return 128 + signal;
    }

    void summary() {
        const double density = expected_point_density(data, static_cast<double>(expectedHits));
        out << "Lasers:                 " << lasers << "\n"
            << "Points:                 " << points << "\n"
            << "Expected intersections: " << expectedHits << "\n"
            << "Point density:          " << QString::number(density, 'f', 3).toStdString()
            << " per Sq m\n";
        if (!streamedBecause.empty()) {
            out << "Streamed:               in chunks of at most " << chunkPulses << " pulses (" << streamedBecause
                << ")\n";
        }
        out << "Seconds per stage:\n";
        double total = 0.0;
        for (const auto& [name, seconds] : clock.stages) {
            if (std::string(name) == "coverage") continue;  // in the report only
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

int run_batch_steps(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress,
                    SurveyTeam* team) {
    int exitCode = 0;
    const std::optional<BatchOptions> parsed = parse_batch_options(args, out, err, &exitCode);
    if (!parsed) return exitCode;
    const BatchOptions& options = *parsed;

    // From here on Ctrl-C and SIGTERM stop the run between two chunks.
    const StopSignals stopSignals;

    // A freshly started program: the random source at its seed, no cached
    // normal deviate, the welcome text in the log.
    uniform_source().seed(options.seed ? *options.seed : 1u);
    reset_normal_deviate();
    Run run(options, out, err, showProgress && !options.quiet, team);
    log_welcome(run.data);

    const bool loaded = run.loadModel();
    if (team && !team->allAgree(loaded)) {
        if (loaded) {
            run.failed(QStringLiteral(
                "Another process of this run could not read the model (is the file there on every machine?)."));
        }
        return kBatchFailed;
    }
    if (!loaded) return run.status;

    const WizardValues values = run.wizardValues();
    const QString invalid = run.validate(values);
    if (team && !team->allAgree(invalid.isEmpty())) {
        // The same model and options give the same verdict everywhere.
        if (run.leader()) {
            run.message(invalid.isEmpty() ? QStringLiteral("Another process of this run refused its values.")
                                          : invalid);
        }
        return kBatchBadUsage;
    }
    if (!invalid.isEmpty()) {
        run.message(invalid);
        return kBatchBadUsage;
    }
    const QString unwritable = run.leader() ? run.checkOutputs() : QString();
    if (team && !team->leaderVerdict(unwritable.isEmpty())) {
        if (run.leader()) run.message(unwritable);
        return kBatchFailed;
    }
    if (!unwritable.isEmpty()) {
        run.message(unwritable);
        return kBatchFailed;
    }

    if (!run.leader()) {
        run.castForTheLeader(values);
        return kBatchOk;
    }
    if (StopSignals::caught()) return run.interrupted();
    run.survey(values);
    if (run.status == kBatchBadUsage) return kBatchBadUsage;
    if (StopSignals::caught()) return run.interrupted();
    if (!options.logFile.empty()) run.writeLog();
    if (StopSignals::caught()) return run.interrupted();
    if (!options.reportFile.empty()) run.writeReport();
    run.progress.endStage();
    if (!options.quiet) {
        run.summary();
        run.coverage.printSummary(out);
    }
    return run.status;
}

}  // namespace

int run_batch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress,
              SurveyTeam* team) {
    try {
        return run_batch_steps(args, out, err, showProgress, team);
    } catch (const std::bad_alloc&) {
        err << "Error: Not enough memory for this run.\n";
    } catch (const std::exception& e) {
        err << "Error: " << e.what() << "\n";
    }
    return kBatchFailed;
}
