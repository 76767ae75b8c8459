#pragma once
#include "app/simulation_data.h"
#include "terrain/mesh.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A file under tests/data.
std::string data_path(const std::string& name);
// A file of the real-world models shipped beside the project (shared/data/real).
std::string real_data_path(const std::string& name);

// A fresh directory removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// The message of the OutputError `action` throws; "" when it throws none.
std::string output_error(const std::function<void()>& action);

// A laser with a return at (x, y, z).
LaserLine hit(double x, double y, double z);
// A survey in memory: the model in `data` prepared as an ASCII mesh with z
// up, lasers laid by the wizard's values (seed 1) and cast on one thread.
void survey(SimulationData& data, const FlightParameters& flight, const ScannerParameters& scanner);
// The same over the sample scene of about `triangles` faces, with its classes.
void sample_survey(SimulationData& data, std::size_t triangles, const FlightParameters& flight,
                   const ScannerParameters& scanner);

// The same triangles with every coordinate multiplied by `factor`.
std::vector<Triangle> scaled(const std::vector<Triangle>& triangles, double factor);

}  // namespace testing_support
