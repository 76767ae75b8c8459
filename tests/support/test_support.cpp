#include "support/test_support.h"

#include "test_config.h"

#include "app/failure.h"
#include "app/progress.h"
#include "flight/flight_tasks.h"
#include "lidar/lidar_tasks.h"
#include "terrain/mesh.h"
#include "terrain/sample_scene.h"
#include "terrain/terrain_tasks.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

std::string data_path(const std::string& name) { return std::string(POINTFALL_TEST_DATA_DIR) + "/" + name; }

std::string real_data_path(const std::string& name) { return std::string(POINTFALL_REAL_DATA_DIR) + "/" + name; }

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pointfall-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string output_error(const std::function<void()>& action) {
    try {
        action();
    } catch (const OutputError& e) {
        return e.what();
    }
    return "";
}

LaserLine hit(double x, double y, double z) {
    LaserLine l;
    l.hitPoint = {x, y, z};
    l.hitFaceIndex = 0;
    return l;
}

void survey(SimulationData& data, const FlightParameters& flight, const ScannerParameters& scanner) {
    NullProgress progress;
    WizardValues values;
    values.flight = flight;
    values.scanner = scanner;
    prepare_model(data, AsciiMesh, QStringLiteral("z axis"), progress);
    generate_lasers_task(data, values, 1u, progress);
    simulate_lidar_task(data, progress, 1);
}

void sample_survey(SimulationData& data, std::size_t triangles, const FlightParameters& flight,
                   const ScannerParameters& scanner) {
    make_sample_scene(data.vertices, data.faces, triangles, data.faceClasses);
    survey(data, flight, scanner);
}

std::vector<Triangle> scaled(const std::vector<Triangle>& triangles, double factor) {
    std::vector<Triangle> out;
    out.reserve(triangles.size());
    for (const Triangle& t : triangles)
        out.push_back(make_triangle(t.a * factor, t.b * factor, t.c * factor, t.cornerIndices, t.faceIndex));
    return out;
}

}  // namespace testing_support
