#pragma once
// Small helpers shared by the benchmark programs.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace bench {

// Peak resident set size of this process in MiB (VmHWM), 0 when unknown.
inline double peak_memory_mib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
    void restart() { start_ = std::chrono::steady_clock::now(); }

private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace bench
