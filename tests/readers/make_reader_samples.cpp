// Writes the sample files that the independent readers check:
//   <dir>/sample.las  and  <dir>/sample_points.txt
// from a few hand-made lasers. The readers' scripts hold the values they
// expect to read back; keep the two in step.
#include "app/failure.h"
#include "app/progress.h"
#include "output/las_writer.h"
#include "output/point_file.h"

#include <QDate>
#include <QDir>
#include <QString>
#include <cstdio>
#include <vector>

namespace {

LaserLine laser(double x, double y, double z, bool hit) {
    LaserLine l;
    l.origin = {x, y, 1000.0};
    l.direction = {0.0, 0.0, -1.0};
    if (hit) {
        l.hitPoint = {x, y, z};
        l.hitFaceIndex = 7;
        l.range = 1000.0 - z;
    }
    return l;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    const std::vector<LaserLine> lasers = {
        laser(1.5, 2.25, 3.0, true),
        laser(9999.0, 9999.0, 9999.0, false),  // a miss: no record, no line
        laser(447512.345, 5447512.349, 12.345, true),
        laser(-0.29, 0.03, -12.5, true),
        laser(100.0, -200.0, 0.0, true),
    };
    // points[0] slightly off the first return, as after an overall error:
    // the header box starts from it.
    const std::vector<LidarPoint> points = {{1.4, 2.3, 3.1}, {447512.345, 5447512.349, 12.345},
                                            {-0.29, 0.03, -12.5}, {100.0, -200.0, 0.0}};
    NullProgress progress;
    try {
        write_las_file(points, lasers, dir + "/sample.las", progress, QDate(2024, 2, 29));
        write_point_file(lasers, dir + "/sample_points.txt", progress);
    } catch (const OutputError& e) {
        std::fprintf(stderr, "could not write the samples into %s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
