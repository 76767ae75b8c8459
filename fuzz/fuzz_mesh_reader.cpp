// The ASCII mesh reader with the model preparation and the octree build:
// the fuzz input is the file. A bad file must be refused with InputError and
// leave no model; any other exception, a crash or a sanitizer report is a
// finding.
#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "model_checks.h"
#include "terrain/terrain_tasks.h"

// Keeps the octree build cheap: some 2,000 faces at most.
constexpr std::size_t kMaxInput = 64 * 1024;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput) return -1;
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
