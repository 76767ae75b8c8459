// Round trips of the writers. The input becomes lasers: each takes 25 bytes,
// a flag byte (bit 0: the pulse has a return) and three raw doubles used as
// hit point, origin, direction and attitude; the first input byte picks the
// trajectory layout. Then:
// - the text point file and the trajectory file must equal the text a C++
//   stream writes with its default formatting, and read back (strtod) to the
//   values within their six significant digits;
// - the LAS 1.2 file, read back by the small reader below, must hold the
//   header this program writes, the bounds of the returns and one record per
//   return with the coordinates in hundredths truncated toward zero; a
//   coordinate that does not fit must be refused before the file is created;
// - the ASCII mesh of those points (faces from the flag bytes) must read back
//   through the mesh reader to the written six-digit values and the same faces.
#include "app/failure.h"
#include "app/progress.h"
#include "fuzz_support.h"
#include "lidar/lidar_point.h"
#include "output/las_writer.h"
#include "output/point_file.h"
#include "output/trajectory_file.h"
#include "terrain/mesh_file.h"

#include <QDate>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

constexpr std::size_t kLaserBytes = 25;
constexpr std::size_t kMaxLasers = 256;

double raw_double(const std::uint8_t* p) {
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::string stream_text(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// The six-digit text read back, as the stream's text says.
void check_read_back(const std::string& text, double original) {
    FUZZ_CHECK(text == stream_text(original), text);
    if (!std::isfinite(original)) return;
    const double back = std::strtod(text.c_str(), nullptr);
    const double tolerance = std::fabs(original) * 5e-6;
    FUZZ_CHECK(std::fabs(back - original) <= tolerance || std::fabs(original) < DBL_MIN, text);
}

// Splits a text file into lines of blank-separated fields.
std::vector<std::vector<std::string>> fields_of(const std::string& text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::vector<std::string> fields;
        std::string f;
        while (ls >> f) fields.push_back(f);
        lines.push_back(fields);
    }
    return lines;
}

// Little-endian reads of the LAS file, independent of the writer's code.
std::uint32_t u16_at(const std::string& b, std::size_t at) {
    return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8;
}
std::uint32_t u32_at(const std::string& b, std::size_t at) { return u16_at(b, at) | u16_at(b, at + 2) << 16; }
double f64_at(const std::string& b, std::size_t at) {
    const std::uint64_t bits = std::uint64_t(u32_at(b, at)) | std::uint64_t(u32_at(b, at + 4)) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Hundredths truncated toward zero; the long double product of a double and
// 100 is exact on this platform. false when it leaves the 32-bit range.
bool hundredths(double v, std::int32_t& out) {
    static_assert(LDBL_MANT_DIG >= 64, "the check needs an exact product");
    const long double p = static_cast<long double>(v) * 100.0L;
    if (!(p > -2147483649.0L && p < 2147483648.0L)) return false;
    out = static_cast<std::int32_t>(p);
    return true;
}

void check_las(const std::vector<LaserLine>& lasers, const std::vector<LidarPoint>& points) {
    static const QString path = fuzz::scratch_file("points.las");
    unlink(path.toLocal8Bit().constData());
    bool fits = true;
    for (const LidarPoint& p : points) {
        std::int32_t unused;
        fits = fits && hundredths(p.x, unused) && hundredths(p.y, unused) && hundredths(p.z, unused);
    }
    NullProgress progress;
    try {
        write_las_file(points, lasers, path, progress, QDate(2024, 2, 29), 1);
    } catch (const OutputError& e) {
        FUZZ_CHECK(!fits, e.what());
        FUZZ_CHECK(access(path.toLocal8Bit().constData(), F_OK) != 0, "a refused LAS file was created");
        return;
    }
    FUZZ_CHECK(fits, "a coordinate beyond the format was written");
    const std::string b = fuzz::read_file(path);
    const std::size_t n = points.size();
    FUZZ_CHECK(b.size() == 227 + 20 * n, std::to_string(b.size()));
    FUZZ_CHECK(b.compare(0, 4, "LASF") == 0);
    FUZZ_CHECK(b[24] == 1 && b[25] == 2);
    FUZZ_CHECK(u16_at(b, 90) == 60 && u16_at(b, 92) == 2024);  // 29 February is day 60
    FUZZ_CHECK(u16_at(b, 94) == 227 && u32_at(b, 96) == 227 && u32_at(b, 100) == 0);
    FUZZ_CHECK(b[104] == 0 && u16_at(b, 105) == 20 && u32_at(b, 107) == n);
    for (std::size_t k = 0; k < 3; ++k) {
        FUZZ_CHECK(f64_at(b, 131 + 8 * k) == 0.01);
        FUZZ_CHECK(f64_at(b, 155 + 8 * k) == 0.0);
    }
    double mx[3] = {points[0].x, points[0].y, points[0].z};
    double mn[3] = {mx[0], mx[1], mx[2]};
    for (const LidarPoint& p : points) {
        const double v[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
            mx[k] = std::max(mx[k], v[k]);
            mn[k] = std::min(mn[k], v[k]);
        }
    }
    for (int k = 0; k < 3; ++k) {
        FUZZ_CHECK(f64_at(b, 179 + 16 * k) == mx[k], std::to_string(k));
        FUZZ_CHECK(f64_at(b, 187 + 16 * k) == mn[k], std::to_string(k));
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = 227 + 20 * i;
        const double v[3] = {points[i].x, points[i].y, points[i].z};
        for (int k = 0; k < 3; ++k) {
            std::int32_t expected = 0;
            hundredths(v[k], expected);
            FUZZ_CHECK(static_cast<std::int32_t>(u32_at(b, r + 4 * k)) == expected, stream_text(v[k]));
        }
        FUZZ_CHECK(u16_at(b, r + 12) == 0 && b[r + 14] == 0 && b[r + 15] == 1 && b[r + 16] == 1 && b[r + 17] == 1 &&
                   u16_at(b, r + 18) == 1);
    }
}

void check_point_file(const std::vector<LaserLine>& lasers, const std::vector<LidarPoint>& points) {
    static const QString path = fuzz::scratch_file("points.txt");
    NullProgress progress;
    write_point_file(lasers, path, progress, 1);  // throws on a failed write
    const auto lines = fields_of(fuzz::read_file(path));
    FUZZ_CHECK(lines.size() == points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        FUZZ_CHECK(lines[i].size() == 3);
        check_read_back(lines[i][0], points[i].x);
        check_read_back(lines[i][1], points[i].y);
        check_read_back(lines[i][2], points[i].z);
    }
}

void check_trajectory_file(const std::vector<LaserLine>& lasers, int code) {
    static const QString path = fuzz::scratch_file("trajectory.txt");
    NullProgress progress;
    write_trajectory_file(lasers, path, progress, code, 1);  // throws on a failed write
    const auto lines = fields_of(fuzz::read_file(path));
    FUZZ_CHECK(lines.size() == lasers.size());
    for (std::size_t i = 0; i < lasers.size(); ++i) {
        const LaserLine& l = lasers[i];
        std::vector<double> expected = {l.origin.x, l.origin.y, l.origin.z};
        if (code != 2) expected.insert(expected.end(), {l.direction.x, l.direction.y, l.direction.z});
        if (code != 1) expected.insert(expected.end(), {l.roll, l.pitch, l.yaw});
        FUZZ_CHECK(lines[i].size() == expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) check_read_back(lines[i][k], expected[k]);
    }
}

void check_mesh_file(const std::vector<LaserLine>& lasers, const std::uint8_t* flags) {
    std::vector<Vertex> vertices;
    for (const LaserLine& l : lasers) vertices.push_back(l.hitPoint);
    for (const Vertex& v : vertices)
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) return;  // the reader takes no inf
    std::vector<Face> faces;
    const auto nV = static_cast<std::int32_t>(vertices.size());
    for (std::int32_t i = 0; i < nV; ++i) {
        Face f;
        for (int k = 0; k < 3; ++k) f.v[k] = 1 + (flags[i * kLaserBytes] >> (2 * k) & 0xff) % nV;
        faces.push_back(f);
    }
    static const QString path = fuzz::scratch_file("mesh.txt");
    NullProgress progress;
    write_mesh_file(vertices, faces, path, progress);
    std::vector<Vertex> readVertices;
    std::vector<Face> readFaces;
    read_mesh_file(readVertices, readFaces, path, progress);
    FUZZ_CHECK(readVertices.size() == vertices.size() && readFaces.size() == faces.size());
    for (std::size_t i = 0; i < vertices.size(); ++i) {
        const double v[3] = {vertices[i].x, vertices[i].y, vertices[i].z};
        const double r[3] = {readVertices[i].x, readVertices[i].y, readVertices[i].z};
        for (int k = 0; k < 3; ++k) {
            const double expected = std::strtod(stream_text(v[k]).c_str(), nullptr);
            // The reader takes a number below the double range as 0.
            FUZZ_CHECK(r[k] == expected || (r[k] == 0.0 && std::fabs(expected) < DBL_MIN), stream_text(v[k]));
        }
    }
    for (std::size_t j = 0; j < faces.size(); ++j)
        for (int k = 0; k < 3; ++k) FUZZ_CHECK(readFaces[j].v[k] == faces[j].v[k]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 + kLaserBytes || size > 1 + kLaserBytes * kMaxLasers) return -1;
    const int code = 1 + data[0] % 3;
    const std::uint8_t* laserBytes = data + 1;
    const std::size_t count = (size - 1) / kLaserBytes;
    std::vector<LaserLine> lasers(count);
    std::vector<LidarPoint> points;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* p = laserBytes + i * kLaserBytes;
        const double x = raw_double(p + 1), y = raw_double(p + 9), z = raw_double(p + 17);
        LaserLine& l = lasers[i];
        l.hitPoint = Vec3{x, y, z};
        l.origin = Vec3{y, z, x};
        l.direction = Vec3{z, x, y};
        l.roll = x, l.pitch = -y, l.yaw = z;
        if (p[0] & 1) {
            l.hitFaceIndex = static_cast<std::int32_t>(i);
            l.range = 1.0;
            points.push_back(LidarPoint{x, y, z});
        }
    }
    check_point_file(lasers, points);
    check_trajectory_file(lasers, code);
    if (!points.empty()) check_las(lasers, points);
    check_mesh_file(lasers, laserBytes);
    return 0;
}
