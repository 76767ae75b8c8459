#pragma once
// What the batch runner's tests share: a run in this process with its
// status and both streams, and the sorted names in a folder.
#include "batch_run.h"

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

inline Outcome run(const Names& args) {
    std::ostringstream out, err;
    const int status = run_batch(args, out, err);
    return {status, out.str(), err.str()};
}

inline Names files_in(const std::string& folder) {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace batch_test
