// The batch runner's option parsing. The input is the argument list, one
// argument per line (a NUL byte separates too, so that an argument may hold a
// line feed only where it is escaped as NUL). The parser must never throw:
// it returns options with exit code 0, or nothing with 0 (help, version, text
// on out) or 2 (message on err). Returned options hold only usable values.
#include "batch_options.h"
#include "fuzz_support.h"

#include <cmath>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return -1;
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n' || c == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) args.push_back(current);

    std::ostringstream out, err;
    int exitCode = -1;
    const std::optional<BatchOptions> options = parse_batch_options(args, out, err, &exitCode);
    if (!options) {
        FUZZ_CHECK(exitCode == 0 || exitCode == 2, std::to_string(exitCode));
        if (exitCode == 2) FUZZ_CHECK(!err.str().empty());
        else FUZZ_CHECK(!out.str().empty());
        return 0;
    }
    FUZZ_CHECK(exitCode == 0, std::to_string(exitCode));
    FUZZ_CHECK(err.str().empty(), err.str());
    const BatchOptions& o = *options;
    FUZZ_CHECK(o.verticalAxisAnswer == 0 || o.verticalAxisAnswer == 1);
    FUZZ_CHECK(o.unitChoice >= 1 && o.unitChoice <= 5);
    FUZZ_CHECK(o.trajectoryFormatCode >= 1 && o.trajectoryFormatCode <= 3);
    FUZZ_CHECK(o.sampleTriangles > 0);
    FUZZ_CHECK(o.model == ModelKind::SampleScene || !o.modelFile.empty());
    FUZZ_CHECK(o.threads <= 4096);
    for (double v : {o.orientation, o.overlap, o.scanner.scanFrequency, o.scanner.fovAcross, o.scanner.fovAlong})
        FUZZ_CHECK(std::isfinite(v));
    // kHz times 1000 may leave the finite range; the runner's checks refuse it.
    FUZZ_CHECK(!std::isnan(o.scanner.prf));
    if (o.velocity) FUZZ_CHECK(std::isfinite(*o.velocity));
    if (o.height) FUZZ_CHECK(std::isfinite(*o.height));
    FUZZ_CHECK(o.trajectoryTerms.size() == 6);
    for (const auto& set : o.trajectoryTerms) {
        FUZZ_CHECK(set.size() == 4);
        for (double v : set) FUZZ_CHECK(std::isfinite(v));
    }
    if (o.errors.systematicOn) FUZZ_CHECK(o.errors.systematic.size() == 7);
    if (o.errors.randomOn) FUZZ_CHECK(o.errors.random.size() == 7);
    if (o.errors.overallOn) FUZZ_CHECK(o.errors.overall.size() == 3);
    if (!o.pointsFile.empty()) {
        const std::string end = o.pointsFile.size() >= 4 ? o.pointsFile.substr(o.pointsFile.size() - 4) : "";
        FUZZ_CHECK(end == ".txt" || end == ".las", o.pointsFile);
    }
    return 0;
}
