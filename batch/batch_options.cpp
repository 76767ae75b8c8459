#include "batch_options.h"

#include "app/failure.h"
#include "products/product_tasks.h"

#include <QString>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr const char* kVersionText = "pointfall-batch 4.0";

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// A whole-text unsigned integer no greater than `maximum`.
std::uint64_t parse_count(const std::string& text, const std::string& option, std::uint64_t maximum) {
    std::uint64_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (first == last || ec != std::errc() || end != last || value > maximum) {
        throw OptionError(option + ": " + quoted(text) + " is not a whole number from 0 to " + std::to_string(maximum) +
                          ".");
    }
    return value;
}

// The text of an option that names one of a few choices, as its position.
int parse_choice(const std::string& text, const std::string& option, const std::vector<std::string>& choices) {
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (text == choices[i]) return static_cast<int>(i);
    }
    std::string list;
    for (std::size_t i = 0; i < choices.size(); ++i) list += (i == 0 ? "" : ", ") + choices[i];
    throw OptionError(option + ": " + quoted(text) + " is not one of " + list + ".");
}

}  // namespace

std::uint64_t parse_size(const std::string& text, const std::string& option) {
    // A whole number of bytes, or one with K, M, G, T, P or E (powers of 1024),
    // optionally followed by "B" or "iB": 512M, 4G, 1.5GiB.
    std::string number = text;
    std::uint64_t unit = 1;
    auto strip = [&number](const char* ending) {
        const std::size_t n = std::char_traits<char>::length(ending);
        if (number.size() > n && number.compare(number.size() - n, n, ending) == 0) {
            number.resize(number.size() - n);
            return true;
        }
        return false;
    };
    if (!strip("iB")) strip("B");
    if (!number.empty()) {
        const char last = static_cast<char>(std::toupper(static_cast<unsigned char>(number.back())));
        const std::string units = "KMGTPE";
        const std::size_t at = units.find(last);
        if (at != std::string::npos) {
            unit = std::uint64_t(1) << (10 * (at + 1));
            number.pop_back();
        }
    }
    double value = -1.0;
    try {
        value = parse_number(number, option);
    } catch (const OptionError&) {
        value = -1.0;
    }
    const double bytes = value * static_cast<double>(unit);
    if (!(value > 0.0) || !(bytes < 1.8e19)) {
        throw OptionError(option + ": " + quoted(text) + " is not a size such as 512M or 4G.");
    }
    return static_cast<std::uint64_t>(bytes);
}

namespace {

struct RawOptions {
    std::string mesh, obj, up, unit, sampleTriangles;
    std::string orientation, velocity, overlap, height;
    std::string prf, scanFrequency, fovAcross, fovAlong, pattern;
    std::string terms[6];
    std::string systematic, random, overall;
    std::string points, trajectory, trajectoryFormat, saveMesh, log;
    std::string coverage, coveragePng, report, targetDensity, cell;
    bool planAboveGround = false;
    std::string las14, csv, trajectoryCsv, trajectoryRate, crs, startTime, classes, intensity;
    std::string seed, threads;
    bool quiet = false;
    bool stream = false;
    std::string memoryBudget, chunkPulses;
};

// The dialogs' own blank-field messages: the flight page ends with two
// exclamation marks, the scanner page and the error dialog with one.
constexpr const char* kFlightBlank = "One or more entires are left blank!!";
constexpr const char* kBlank = "One or more entires are left blank!";

// An error dialog's boxes as one comma list: an empty box is refused with
// the dialog's message before the values are read.
std::vector<double> parse_error_list(const std::string& text, std::size_t count, const std::string& option) {
    const std::size_t boxes = std::size_t(std::count(text.begin(), text.end(), ',')) + 1;
    const bool emptyBox =
        text.empty() || text.front() == ',' || text.back() == ',' || text.find(",,") != std::string::npos;
    if (emptyBox && (text.empty() || boxes == count)) {
        throw OptionError(kBlank);
    }
    return parse_number_list(text, count, option);
}

const char* const kTermOptions[6] = {"--term-x", "--term-y", "--term-z", "--term-roll", "--term-pitch", "--term-yaw"};

}  // namespace

BatchOptions::BatchOptions() : trajectoryTerms(6, std::vector<double>(4, 0.0)) {
    scanner.prf = 10 * 1000.0;  // the scanner page starts at 10 kHz
    scanner.scanFrequency = 20.0;
    scanner.fovAcross = 60.0;
    scanner.fovAlong = 0.0;
    scanner.pattern = ZigZagLines;
}

double parse_number(const std::string& text, const std::string& option) {
    double value = 0.0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    // from_chars takes no plus sign; a leading one is harmless on a command line.
    if (first != last && *first == '+' && first + 1 != last && first[1] != '-') ++first;
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (first == last || ec != std::errc() || end != last || !std::isfinite(value)) {
        throw OptionError(option + ": " + quoted(text) + " is not a number.");
    }
    return value;
}

std::vector<double> parse_number_list(const std::string& text, std::size_t count, const std::string& option) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (parts.size() != count) {
        throw OptionError(option + ": expected " + std::to_string(count) + " comma-separated values, got " +
                          std::to_string(parts.size()) + " in " + quoted(text) + ".");
    }
    std::vector<double> values;
    values.reserve(count);
    for (const std::string& part : parts) values.push_back(parse_number(part, option));
    return values;
}

std::optional<BatchOptions> parse_batch_options(const std::vector<std::string>& args, std::ostream& out,
                                                std::ostream& err, int* exitCode) {
    CLI::App app{
        "Simulates an airborne LiDAR survey of a terrain model without the desktop window.\n"
        "Without --mesh or --obj the bundled sample scene is surveyed; without a model\n"
        "option and --points the points go to pointfall-demo.las.",
        "pointfall-batch"};
    app.set_version_flag("--version", kVersionText, "Print the version and exit");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("Error: ") + e.what() + "\nRun with --help for more information.\n";
    });
    app.get_formatter()->column_width(34);

    RawOptions raw;
    const std::string model = "Model (at most one; none = the sample scene)";
    app.add_option("--mesh", raw.mesh, "ASCII mesh file, as \"Open Mesh\" reads it")->type_name("FILE")->group(model);
    app.add_option("--obj", raw.obj, "Wavefront OBJ file, as \"Open 3D model\" reads it")
        ->type_name("FILE")
        ->group(model);
    app.add_option("--up", raw.up, "Vertical axis of the OBJ model: z or y (default z)")
        ->type_name("z|y")
        ->group(model);
    app.add_option("--unit", raw.unit, "Unit of the OBJ model: m, cm, mm, ft or in (default m)")
        ->type_name("UNIT")
        ->group(model);
    // Size of the generated sample scene, for benchmarks and quick checks.
    app.add_option("--sample-triangles", raw.sampleTriangles)->group("");

    const std::string flight = "Flight";
    app.add_option("--orientation", raw.orientation, "Flight direction from the x axis, 0..180 (default 0)")
        ->type_name("DEG")
        ->group(flight);
    app.add_option("--velocity", raw.velocity, "Flight velocity (default: the wizard's suggestion)")
        ->type_name("M_PER_S")
        ->group(flight);
    app.add_option("--overlap", raw.overlap, "Overlap of neighbouring lines, 0..100 (default 30)")
        ->type_name("PERCENT")
        ->group(flight);
    app.add_option("--height", raw.height, "Mean flying height (default: the wizard's suggestion)")
        ->type_name("M")
        ->group(flight);
    app.add_flag("--plan-above-ground", raw.planAboveGround,
                 "Space the lines for the flying height above the model's top, not above z = 0")
        ->group(flight);

    const std::string scanner = "Scanner";
    app.add_option("--prf", raw.prf, "Pulse repetition frequency (default 10)")->type_name("KHZ")->group(scanner);
    app.add_option("--scan-frequency", raw.scanFrequency, "Scanning frequency (default 20)")
        ->type_name("HZ")
        ->group(scanner);
    app.add_option("--fov-across", raw.fovAcross, "Field of view across the flight, 0..180 (default 60)")
        ->type_name("DEG")
        ->group(scanner);
    app.add_option("--fov-along", raw.fovAlong, "Field of view along the flight, 0..180 (default 0)")
        ->type_name("DEG")
        ->group(scanner);
    app.add_option("--pattern", raw.pattern, "zigzag, parallel, spherical or elliptical (default zigzag)")
        ->type_name("NAME")
        ->group(scanner);

    const std::string realistic = "Realistic trajectory (any of these switches it on; term = A cos(Bt) + C sin(Dt))";
    const char* const termHelp[6] = {"x", "y", "z", "roll", "pitch", "yaw"};
    for (int i = 0; i < 6; ++i) {
        app.add_option(kTermOptions[i], raw.terms[i], std::string("Terms of ") + termHelp[i])
            ->type_name("A,B,C,D")
            ->group(realistic);
    }

    const std::string errors = "Errors (applied after the cast, in one error step)";
    app.add_option("--systematic", raw.systematic, "Offsets; angles in degrees")
        ->type_name("X,Y,Z,ROLL,PITCH,YAW,RANGE")
        ->group(errors);
    app.add_option("--random", raw.random, "Standard deviations of the same seven")
        ->type_name("SX,SY,SZ,SROLL,SPITCH,SYAW,SRANGE")
        ->group(errors);
    app.add_option("--overall", raw.overall, "Standard deviations added to every point (excludes the others)")
        ->type_name("SX,SY,SZ")
        ->group(errors);

    const std::string output = "Output";
    app.add_option("--points", raw.points, "Point file: .las (LAS 1.2) or .txt (x y z)")
        ->type_name("FILE")
        ->group(output);
    app.add_option("--trajectory", raw.trajectory, "Trajectory file (one line per pulse)")
        ->type_name("FILE")
        ->group(output);
    app.add_option("--trajectory-format", raw.trajectoryFormat,
                   "1: position, direction, angles; 2: position, angles; 3: position, direction (default 1)")
        ->type_name("1|2|3")
        ->group(output);
    app.add_option("--save-mesh", raw.saveMesh, "Write the model as an ASCII mesh")->type_name("FILE")->group(output);
    app.add_option("--log", raw.log, "Write the text of the log panel")->type_name("FILE")->group(output);

    const std::string coverage = "Coverage (the summary also goes to stdout)";
    app.add_option("--coverage", raw.coverage, "Density raster as a float32 GeoTIFF, points per m2")
        ->type_name("FILE.tif")
        ->group(coverage);
    app.add_option("--coverage-png", raw.coveragePng, "Density map with legend and scale bar")
        ->type_name("FILE.png")
        ->group(coverage);
    app.add_option("--report", raw.report, "Coverage summary, run parameters and stage timings as JSON")
        ->type_name("FILE.json")
        ->group(coverage);
    app.add_option("--target-density", raw.targetDensity, "Points per m2 a cell should reach (default 2)")
        ->type_name("D")
        ->group(coverage);
    app.add_option("--cell", raw.cell, "Cell size of the raster (default: automatic)")->type_name("M")->group(coverage);

    const std::string products = "Survey products (beside the outputs above)";
    app.add_option("--las14", raw.las14,
                   "LAS 1.4 point file (format 6: GPS time, scan angle, flight line, intensity, class)")
        ->type_name("FILE")
        ->group(products);
    app.add_option("--csv", raw.csv, "The returns as text: x,y,z to 1 mm, gps_time, intensity, class, line, ...")
        ->type_name("FILE")
        ->group(products);
    app.add_option("--trajectory-csv", raw.trajectoryCsv, "Timed trajectory: time,x,y,z,roll,pitch,yaw")
        ->type_name("FILE")
        ->group(products);
    app.add_option("--trajectory-rate", raw.trajectoryRate,
                   "Trajectory samples per second, interpolated (default: one line per pulse)")
        ->type_name("HZ")
        ->group(products);
    app.add_option("--crs", raw.crs, "Coordinate reference system of the LAS 1.4 file: EPSG:NNNN or a WKT file")
        ->type_name("CODE")
        ->group(products);
    app.add_option("--start-time", raw.startTime,
                   std::string("UTC time of the first pulse, ISO 8601 (default ") + kDefaultStartTime + ")")
        ->type_name("ISO")
        ->group(products);
    app.add_option("--classes", raw.classes, "Keyword table for the model's class labels: lines \"keyword class\"")
        ->type_name("FILE")
        ->group(products);
    app.add_option("--intensity", raw.intensity, "Intensity from the radiometric model, or 0 (default on)")
        ->type_name("on|off")
        ->group(products);

    const std::string run = "Run";
    app.add_option("--seed", raw.seed,
                   "Seed of the random source (default 1) and of the trajectory signs (default: the clock)")
        ->type_name("N")
        ->group(run);
    app.add_option("--threads", raw.threads, "Threads of the cast; 0 = all cores (default)")
        ->type_name("N")
        ->group(run);
    app.add_flag("--quiet", raw.quiet, "No progress bars and no summary")->group(run);
    app.add_flag("--stream", raw.stream,
                 "Survey in chunks of pulses, each written and dropped: memory bounded by the model and a chunk")
        ->group(run);
    app.add_option("--memory-budget", raw.memoryBudget,
                   "Keep the survey in memory up to SIZE, stream beyond (default: stream whenever it spans more than one chunk; none: never stream on its own)")
        ->type_name("SIZE")
        ->group(run);
    app.add_option("--chunk-pulses", raw.chunkPulses,
                   "Pulses per chunk of a streamed run (default 262144; 32768 on one thread); a flight line is never shared")
        ->type_name("N")
        ->group(run);

    try {
        // CLI11 takes the arguments last first.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        *exitCode = code == 0 ? 0 : 2;
        return std::nullopt;
    }

    BatchOptions options;
    try {
        auto given = [&app](const char* name) { return app.count(name) > 0; };

        if (given("--mesh") && given("--obj")) {
            throw OptionError("--mesh and --obj: give at most one model.");
        }
        if ((given("--up") || given("--unit")) && !given("--obj")) {
            throw OptionError("--up and --unit describe an OBJ model: they need --obj.");
        }
        if (given("--mesh")) {
            options.model = ModelKind::Mesh;
            options.modelFile = raw.mesh;
        } else if (given("--obj")) {
            options.model = ModelKind::Obj;
            options.modelFile = raw.obj;
            if (given("--up")) options.verticalAxisAnswer = parse_choice(raw.up, "--up", {"z", "y"});
            if (given("--unit"))
                options.unitChoice = 1 + parse_choice(raw.unit, "--unit", {"m", "cm", "mm", "ft", "in"});
        }
        if (given("--sample-triangles")) {
            options.sampleTriangles = static_cast<std::size_t>(
                parse_count(raw.sampleTriangles, "--sample-triangles", std::uint64_t(1) << 32));
            if (options.sampleTriangles == 0) throw OptionError("--sample-triangles: the scene needs triangles.");
        }

        // An empty value is a field left blank on the page.
        auto blank = [&given](const char* name, const std::string& text) { return given(name) && text.empty(); };
        if (blank("--orientation", raw.orientation) || blank("--velocity", raw.velocity) ||
            blank("--overlap", raw.overlap) || blank("--height", raw.height)) {
            throw OptionError(kFlightBlank);
        }
        if (blank("--prf", raw.prf) || blank("--scan-frequency", raw.scanFrequency) ||
            blank("--fov-across", raw.fovAcross) || blank("--fov-along", raw.fovAlong)) {
            throw OptionError(kBlank);
        }
        if (given("--orientation")) options.orientation = parse_number(raw.orientation, "--orientation");
        if (given("--velocity")) options.velocity = parse_number(raw.velocity, "--velocity");
        if (given("--overlap")) options.overlap = parse_number(raw.overlap, "--overlap");
        if (given("--height")) options.height = parse_number(raw.height, "--height");

        // The scanner page holds kHz; the wizard hands Hz on.
        if (given("--prf")) options.scanner.prf = parse_number(raw.prf, "--prf") * 1000;
        if (given("--scan-frequency"))
            options.scanner.scanFrequency = parse_number(raw.scanFrequency, "--scan-frequency");
        if (given("--fov-across")) options.scanner.fovAcross = parse_number(raw.fovAcross, "--fov-across");
        if (given("--fov-along")) options.scanner.fovAlong = parse_number(raw.fovAlong, "--fov-along");
        if (given("--pattern")) {
            options.scanner.pattern = static_cast<ScanPattern>(
                parse_choice(raw.pattern, "--pattern", {"zigzag", "parallel", "spherical", "elliptical"}));
        }

        for (int i = 0; i < 6; ++i) {
            if (!given(kTermOptions[i])) continue;
            options.trajectoryTerms[i] = parse_number_list(raw.terms[i], 4, kTermOptions[i]);
            options.realisticTrajectory = true;
        }

        if (given("--overall") && (given("--systematic") || given("--random"))) {
            throw OptionError("--overall excludes --systematic and --random.");
        }
        if (given("--systematic")) {
            options.errors.systematicOn = true;
            options.errors.systematic = parse_error_list(raw.systematic, 7, "--systematic");
        }
        if (given("--random")) {
            options.errors.randomOn = true;
            options.errors.random = parse_error_list(raw.random, 7, "--random");
        }
        if (given("--overall")) {
            options.errors.overallOn = true;
            options.errors.overall = parse_error_list(raw.overall, 3, "--overall");
        }
        options.errorStep = options.errors.systematicOn || options.errors.randomOn || options.errors.overallOn;

        if (given("--points")) {
            const std::string& p = raw.points;
            auto endsWith = [&p](const std::string& ending) {
                return p.size() >= ending.size() && p.compare(p.size() - ending.size(), ending.size(), ending) == 0;
            };
            // Compared case-sensitively, as the save action does.
            if (!endsWith(".txt") && !endsWith(".las")) {
                throw OptionError("--points: " + quoted(p) + " ends in neither \".txt\" nor \".las\".");
            }
            options.pointsFile = p;
        } else if (options.model == ModelKind::SampleScene) {
            options.pointsFile = "pointfall-demo.las";
        }
        if (given("--trajectory")) options.trajectoryFile = raw.trajectory;
        if (given("--trajectory-format")) {
            // The dialog's "Format 1" sets code 3 and "Format 3" code 1.
            const int caption = 1 + parse_choice(raw.trajectoryFormat, "--trajectory-format", {"1", "2", "3"});
            options.trajectoryFormatCode = 4 - caption;
        }
        if (given("--save-mesh")) options.saveMeshFile = raw.saveMesh;
        if (given("--log")) options.logFile = raw.log;
        if (given("--coverage")) options.coverageFile = raw.coverage;
        if (given("--coverage-png")) options.coveragePngFile = raw.coveragePng;
        if (given("--report")) options.reportFile = raw.report;
        if (given("--target-density")) {
            options.targetDensity = parse_number(raw.targetDensity, "--target-density");
            if (options.targetDensity < 0)
                throw OptionError("--target-density: " + (quoted)(raw.targetDensity) + " is below 0.");
        }
        if (given("--cell")) {
            options.coverageCell = parse_number(raw.cell, "--cell");
            if (!(options.coverageCell > 0)) throw OptionError("--cell: " + (quoted)(raw.cell) + " is not above 0.");
        }
        options.planAboveGround = raw.planAboveGround;

        if (given("--las14")) options.las14File = raw.las14;
        if (given("--csv")) options.csvFile = raw.csv;
        if (given("--trajectory-csv")) options.trajectoryCsvFile = raw.trajectoryCsv;
        double rate = 0.0;
        if (given("--trajectory-rate")) {
            rate = parse_number(raw.trajectoryRate, "--trajectory-rate");
            if (!(rate > 0.0)) throw OptionError(std::string("--trajectory-rate: '") + raw.trajectoryRate + "' is not above 0.");
        }
        bool intensity = true;
        if (given("--intensity")) intensity = parse_choice(raw.intensity, "--intensity", {"on", "off"}) == 0;
        // Refused here, before anything runs.
        auto checked = [](const char* option, auto&& read) {
            try {
                read();
            } catch (const InputError& e) {
                throw OptionError(std::string(option) + ": " + e.what());
            }
        };
        checked("--start-time", [&] { options.products = product_settings("", raw.startTime, intensity, rate); });
        checked("--crs", [&] {
            if (given("--crs")) options.products.crs = resolve_crs(raw.crs);
        });
        checked("--classes", [&] {
            if (given("--classes")) options.classTable = read_class_table(QString::fromLocal8Bit(raw.classes.c_str()));
        });

        if (given("--seed")) {
            options.seed =
                static_cast<std::uint32_t>(parse_count(raw.seed, "--seed", std::numeric_limits<std::uint32_t>::max()));
        }
        if (given("--threads")) options.threads = static_cast<unsigned>(parse_count(raw.threads, "--threads", 4096));
        options.quiet = raw.quiet;
        options.stream = raw.stream;
        if (given("--memory-budget")) {
            // "none": never stream on its own.
            options.memoryBudget = raw.memoryBudget == "none" ? std::numeric_limits<std::uint64_t>::max()
                                                               : parse_size(raw.memoryBudget, "--memory-budget");
        }
        if (given("--chunk-pulses")) {
            options.chunkPulses = parse_count(raw.chunkPulses, "--chunk-pulses", std::uint64_t(1) << 32);
            if (options.chunkPulses == 0) throw OptionError("--chunk-pulses: a chunk needs at least one pulse.");
            options.chunkPulsesGiven = true;
        }

        for (const auto& [name, file] : {std::pair<const char*, const std::string*>{"--mesh", &raw.mesh},
                                         {"--obj", &raw.obj},
                                         {"--points", &raw.points},
                                         {"--trajectory", &raw.trajectory},
                                         {"--save-mesh", &raw.saveMesh},
                                         {"--log", &raw.log},
                                         {"--coverage", &raw.coverage},
                                         {"--coverage-png", &raw.coveragePng},
                                         {"--report", &raw.report},
                                         {"--las14", &raw.las14},
                                         {"--csv", &raw.csv},
                                         {"--trajectory-csv", &raw.trajectoryCsv}}) {
            if (given(name) && file->empty()) throw OptionError(std::string(name) + ": the file name is empty.");
        }
    } catch (const OptionError& e) {
        err << "Error: " << e.what() << "\n";
        *exitCode = 2;
        return std::nullopt;
    }
    *exitCode = 0;
    return options;
}
