// The OBJ reader with the model preparation and the octree build. The first
// byte of the input picks the unit dialog's answers (bit 0: y axis up; the
// rest: the unit choice, 0..5, 0 standing for an unknown choice), the rest is
// the file. A bad file must be refused with InputError and leave no model.
#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "model_checks.h"
#include "terrain/terrain_tasks.h"

constexpr std::size_t kMaxInput = 64 * 1024;
// At most 100 faces (a face line gives one or two), as in the mesh target:
// past 100, a few stacked triangles make the octree build spend its whole
// node budget, a second for one input.
constexpr std::size_t kMaxFaceLines = 50;

std::size_t face_lines(const std::uint8_t* data, std::size_t size) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < size; ++i)
        if (data[i] == 'f' && (i == 0 || data[i - 1] == '\n')) ++count;
    return count;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInput || face_lines(data + 1, size - 1) > kMaxFaceLines) return -1;
    const int axis = data[0] & 1;
    const int unit = (data[0] >> 1) % 6;
    static const QString path = fuzz::scratch_file("model.obj");
    fuzz::write_file(path, data + 1, size - 1);
    SimulationData sim;
    NullProgress progress;
    obj_file_chosen(sim, progress);
    try {
        load_obj_task(sim, path, axis, unit, progress);
    } catch (const InputError& e) {
        FUZZ_CHECK(std::string(e.what()).find("3D model file") != std::string::npos, e.what());
        fuzz::check_no_model(sim);
        return 0;
    }
    fuzz::check_loaded_model(sim);
    return 0;
}
