#pragma once
// Shared pieces of the fuzz targets: a scratch folder in memory, files
// written from the fuzz input, and checks that stop the run with a message.
#include <QString>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzz {

// A folder of this process for the files of one input: in /dev/shm where it
// exists (no disk traffic at thousands of runs a second), else in TMPDIR.
inline char g_scratch[256];

inline void remove_scratch() {
    for (const char* name : {"model.txt", "model.obj", "points.las", "points.txt", "trajectory.txt", "mesh.txt"})
        unlink((std::string(g_scratch) + "/" + name).c_str());
    rmdir(g_scratch);
}

inline const char* scratch_folder() {
    if (g_scratch[0] == 0) {
        const char* tmp = std::getenv("TMPDIR");
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp ? tmp : "/tmp");
        std::snprintf(g_scratch, sizeof g_scratch, "%s/pointfall-fuzz-%ld", base, static_cast<long>(getpid()));
        if (mkdir(g_scratch, 0700) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "cannot create %s\n", g_scratch);
            std::abort();
        }
        // The folder goes when the process ends normally; a crash leaves it
        // for inspection.
        std::atexit(remove_scratch);
    }
    return g_scratch;
}

inline QString scratch_file(const char* name) {
    return QString::fromLocal8Bit(scratch_folder()) + QLatin1Char('/') + QLatin1String(name);
}

inline void write_file(const QString& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!f) {
        std::fprintf(stderr, "cannot create %s\n", path.toLocal8Bit().constData());
        std::abort();
    }
    if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
}

inline std::string read_file(const QString& path) {
    std::string out;
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!f) return out;
    char block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) != 0) out.append(block, n);
    std::fclose(f);
    return out;
}

[[noreturn]] inline void fail(const char* what, const std::string& detail = std::string()) {
    std::fprintf(stderr, "fuzz check failed: %s %s\n", what, detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(cond, ...)                                    \
    do {                                                         \
        if (!(cond)) ::fuzz::fail(#cond, ##__VA_ARGS__);         \
    } while (0)

}  // namespace fuzz
