#include "output/point_file.h"

#include "output/fast_number_text.h"
#include "output/writing_loop.h"

bool write_point_file(const std::vector<LaserLine>& lasers, const QString& path, Progress& progress) {
    ChunkedFile file(path, "w");
    const std::size_t n = lasers.size();
    WritingLoopProgress loop(progress, n);
    std::string& out = file.buffer();
    for (std::size_t i = 0; i < n; ++i) {
        loop.before(i);
        const LaserLine& laser = lasers[i];
        if (laser.hitFaceIndex == -1) continue;  // no return, no point
        append_g6_fast(out, laser.hitPoint.x);
        out += ' ';
        append_g6_fast(out, laser.hitPoint.y);
        out += ' ';
        append_g6_fast(out, laser.hitPoint.z);
        out += '\n';
        file.flush_if_full();
    }
    const bool ok = file.close();
    loop.finish();
    return ok;
}
