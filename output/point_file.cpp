#include "output/point_file.h"

#include "output/fast_number_text.h"
#include "output/writing_loop.h"

void write_point_file(const std::vector<LaserLine>& lasers, const QString& path, Progress& progress,
                      unsigned threads) {
    ChunkedFile file(path, "w");
    const std::size_t n = lasers.size();
    WritingLoopProgress loop(progress, n);
    const LaserLine* const all = lasers.data();
    write_in_order(file, loop, n, threads, [all](TextBuffer& out, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const LaserLine& laser = all[i];
            if (laser.hitFaceIndex == -1) continue;  // no return, no point
            char* p = out.room(3 * kMaxG6Text + 3);
            p = put_g6_fast(p, laser.hitPoint.x);
            *p++ = ' ';
            p = put_g6_fast(p, laser.hitPoint.y);
            *p++ = ' ';
            p = put_g6_fast(p, laser.hitPoint.z);
            *p++ = '\n';
            out.commit(p);
        }
    });
    file.close();
    loop.finish();
}
