// The ASCII mesh reader with the model preparation and the octree build:
// the fuzz input is the file. A bad file must be refused with InputError and
// leave no model; any other exception, a crash or a sanitizer report is a
// finding.
#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "model_checks.h"
#include "terrain/terrain_tasks.h"

#include <algorithm>
#include <cctype>

constexpr std::size_t kMaxInput = 64 * 1024;
// The octree of a model with few triangles is cheap, but above 100 (the most
// a leaf takes before it is split) a few stacked triangles make the build
// spend its whole node budget, a million nodes: a second for one input. The
// fuzzer would spend its time there and nowhere else.
constexpr std::uint64_t kMaxFaces = 100;

// The face count of the header (its second number), when it has one.
std::uint64_t announced_faces(const std::uint8_t* data, std::size_t size) {
    std::uint64_t numbers[2] = {0, 0};
    std::size_t i = 0;
    for (std::uint64_t& n : numbers) {
        while (i < size && std::isspace(data[i])) ++i;
        if (i < size && data[i] == '+') ++i;
        while (i < size && std::isdigit(data[i])) n = std::min<std::uint64_t>(n * 10 + (data[i++] - '0'), 1u << 30);
    }
    return numbers[1];
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput || announced_faces(data, size) > kMaxFaces) return -1;
    static const QString path = fuzz::scratch_file("model.txt");
    fuzz::write_file(path, data, size);
    SimulationData sim;
    NullProgress progress;
    try {
        load_mesh_task(sim, path, progress);
    } catch (const InputError& e) {
        FUZZ_CHECK(std::string(e.what()).find("Mesh") != std::string::npos ||
                       std::string(e.what()).find("mesh") != std::string::npos,
                   e.what());
        fuzz::check_no_model(sim);
        return 0;
    }
    fuzz::check_loaded_model(sim);
    return 0;
}
