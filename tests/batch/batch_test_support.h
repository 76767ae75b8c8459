#pragma once
// What the batch runner's tests share: a run in this process with its
// status and both streams, the sorted names in a folder and a small model.
#include "app/progress.h"
#include "batch_run.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/sample_scene.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace batch_test {

using Names = std::vector<std::string>;

struct Outcome {
    int status = -1;
    std::string out, err;
};

inline Outcome run(const Names& args, SurveyTeam* team = nullptr) {
    std::ostringstream out, err;
    const int status = run_batch(args, out, err, false, team);
    return {status, out.str(), err.str()};
}

inline Names files_in(const std::string& folder) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A small sample scene saved as an ASCII mesh: 2 km square, about 200 m high.
inline std::string write_scene_mesh(const testing_support::TempDir& dir) {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    make_sample_scene(vertices, faces, 1500);
    NullProgress progress;
    write_mesh_file(vertices, faces, QString::fromStdString(dir.file("scene.txt")), progress);
    return dir.file("scene.txt");
}

}  // namespace batch_test
