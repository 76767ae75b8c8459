#include "output/trajectory_file.h"

#include "app/failure.h"
#include "output/fast_number_text.h"
#include "output/writing_loop.h"

namespace {

void append_triple(std::string& out, const Vec3& v) {
    append_g6_fast(out, v.x);
    out += ' ';
    append_g6_fast(out, v.y);
    out += ' ';
    append_g6_fast(out, v.z);
}

void append_attitude(std::string& out, const LaserLine& laser) {
    append_g6_fast(out, laser.roll);
    out += ' ';
    append_g6_fast(out, laser.pitch);
    out += ' ';
    append_g6_fast(out, laser.yaw);
}

}  // namespace

bool write_trajectory_file(const std::vector<LaserLine>& lasers, const QString& path, Progress& progress,
                           int formatCode) {
    if (formatCode != kTrajectoryPositionCosines && formatCode != kTrajectoryPositionAngles &&
        formatCode != kTrajectoryPositionCosinesAngles) {
        throw OutputError("Unknown trajectory format code " + std::to_string(formatCode) +
                          " (3: position, direction cosines and Euler angles; 2: position and Euler angles; "
                          "1: position and direction cosines).");
    }
    const bool cosines = formatCode != kTrajectoryPositionAngles;
    const bool angles = formatCode != kTrajectoryPositionCosines;

    ChunkedFile file(path, "w");
    const std::size_t n = lasers.size();
    WritingLoopProgress loop(progress, n);
    std::string& out = file.buffer();
    for (std::size_t i = 0; i < n; ++i) {
        loop.before(i);
        const LaserLine& laser = lasers[i];
        append_triple(out, laser.origin);
        if (cosines) {
            out += ' ';
            append_triple(out, laser.direction);
        }
        if (angles) {
            out += ' ';
            append_attitude(out, laser);
        }
        out += '\n';
        file.flush_if_full();
    }
    const bool ok = file.close();
    loop.finish();
    return ok;
}
