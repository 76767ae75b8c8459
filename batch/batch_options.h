#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "errors/error_settings.h"
#include "flight/parameters.h"
#include "products/product_settings.h"
#include "terrain/surface_classes.h"

// The command line of pointfall-batch, read into the values the desktop
// program's dialogs would hold.

enum class ModelKind { SampleScene, Mesh, Obj };

struct BatchOptions {
    // Model: the sample scene unless --mesh or --obj is given.
    ModelKind model = ModelKind::SampleScene;
    std::string modelFile;
    int verticalAxisAnswer = 0;  // 0 = z up, 1 = y up (OBJ only)
    int unitChoice = 1;          // 1 m, 2 cm, 3 mm, 4 ft, 5 in (OBJ only)
    std::size_t sampleTriangles = 300000;

    // Flight page; velocity and height default to the wizard's suggestions
    // for the loaded model.
    double orientation = 0.0;
    std::optional<double> velocity;
    double overlap = 30.0;
    std::optional<double> height;

    // Scanner page (prf already in Hz) and realistic-trajectory page.
    ScannerParameters scanner;
    bool realisticTrajectory = false;
    TrajectoryTerms trajectoryTerms;  // always six sets of four

    // Error dialog: one Done with the boxes of the given options checked.
    ErrorSettings errors;
    bool errorStep = false;

    // Outputs; empty = not asked for.
    std::string pointsFile;
    std::string trajectoryFile;
    int trajectoryFormatCode = 3;  // code of the dialog's "Format 1"
    std::string saveMeshFile;
    std::string logFile;

    // Coverage: the density raster of the returns and what is made of it;
    // the summary always goes to stdout after the run's own.
    std::string coverageFile;     // GeoTIFF, float32 points per m2
    std::string coveragePngFile;  // picture with legend and scale bar
    std::string reportFile;       // JSON: summary, parameters, stage timings
    double targetDensity = 2.0;   // points per m2
    double coverageCell = 0.0;    // m; 0 = automatic
    // Line spacing from the flying height above the model's top instead of
    // above z = 0.
    bool planAboveGround = false;

    // Survey products (LAS 1.4, full-precision text, timed trajectory); the
    // CRS and start time already checked and resolved.
    std::string las14File;
    std::string csvFile;
    std::string trajectoryCsvFile;
    ProductSettings products;
    ClassTable classTable;  // from --classes; empty: the default keywords

    // Run
    std::optional<std::uint32_t> seed;
    unsigned threads = 0;  // 0 = all cores
    bool quiet = false;
    // Streaming: always with --stream, else when the survey's estimated
    // memory exceeds the budget (nothing: half the physical memory).
    bool stream = false;
    std::optional<std::uint64_t> memoryBudget;
    std::uint64_t chunkPulses = std::uint64_t(1) << 18;
    bool chunkPulsesGiven = false;  // else a run on one thread takes kOneThreadChunkPulses

    BatchOptions();
};

// A value on the command line that cannot be used; the message names the
// option and the value.
// The chunk of a streamed run on one thread when --chunk-pulses is not
// given: a few megabytes of records, which each pass over the chunk finds in
// the cache the pass before left them in. With more threads the bigger
// chunk spreads the start of every parallel pass over more pulses.
constexpr std::uint64_t kOneThreadChunkPulses = std::uint64_t(1) << 15;

class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments (without the program name). Returns the options, or
// nothing when the run should end at once with *exitCode: 0 after --help or
// --version (text on out), 2 after a bad option or value (message on err).
std::optional<BatchOptions> parse_batch_options(const std::vector<std::string>& args, std::ostream& out,
                                                std::ostream& err, int* exitCode);

// Number conversion for option values: the whole text must be one finite
// number. Throw OptionError naming the option.
double parse_number(const std::string& text, const std::string& option);
// A size in bytes: a whole number, or one with a K, M, G or T suffix
// (powers of 1024, "B" or "iB" may follow). Throws OptionError.
std::uint64_t parse_size(const std::string& text, const std::string& option);
// Exactly `count` numbers separated by commas.
std::vector<double> parse_number_list(const std::string& text, std::size_t count, const std::string& option);
