#include "terrain/sample_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double kSide = 2000.0;  // metres, both x and y
constexpr double kTwoPi = 6.283185307179586;

// The town: a levelled disc of ground with buildings on a grid of lots.
constexpr double kTownX = 1450.0, kTownY = 1350.0;
constexpr double kTownRadius = 230.0;  // lots lie inside it
constexpr double kTownGround = 128.0;
constexpr double kLot = 26.0;

double smoothstep01(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Variety without touching the process-wide random source.
class LocalLcg {
public:
    explicit LocalLcg(std::uint32_t seed) : state_(seed) {}
    double uniform() {  // [0, 1)
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 16777216.0;
    }
    double between(double lo, double hi) { return lo + (hi - lo) * uniform(); }

private:
    std::uint32_t state_;
};

class MeshBuilder {
public:
    MeshBuilder(std::vector<Vertex>& vertices, std::vector<Face>& faces) : vertices_(vertices), faces_(faces) {}
    // 1-based number of the new vertex.
    std::int32_t vertex(double x, double y, double z) {
        vertices_.push_back(Vertex{x, y, z});
        return static_cast<std::int32_t>(vertices_.size());
    }
    void face(std::int32_t a, std::int32_t b, std::int32_t c) {
        Face f;
        f.v[0] = a;
        f.v[1] = b;
        f.v[2] = c;
        faces_.push_back(f);
    }
    void quad(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
        face(a, b, c);
        face(a, c, d);
    }

private:
    std::vector<Vertex>& vertices_;
    std::vector<Face>& faces_;
};

struct Building {
    double x0, y0, x1, y1;  // footprint
    double eave;            // wall height above the ground
    double rise;            // gable height above the eaves, 0 for a flat roof
};

std::vector<Building> plan_town() {
    std::vector<Building> town;
    LocalLcg lcg(20240611u);
    const int lots = static_cast<int>(kTownRadius / kLot);
    for (int j = -lots; j <= lots; ++j) {
        for (int i = -lots; i <= lots; ++i) {
            const double cx = kTownX + i * kLot;
            const double cy = kTownY + j * kLot;
            const double r = std::hypot(cx - kTownX, cy - kTownY);
            // The same number of draws for every lot keeps the plan stable.
            const double w = lcg.between(10.0, 20.0);
            const double d = lcg.between(9.0, 18.0);
            const double storeys = lcg.uniform();
            const double roof = lcg.uniform();
            const double empty = lcg.uniform();
            if (r > kTownRadius || empty < 0.12 || (i == 0 || j == 0)) continue;  // main streets stay free
            Building b;
            b.x0 = cx - w / 2;
            b.x1 = cx + w / 2;
            b.y0 = cy - d / 2;
            b.y1 = cy + d / 2;
            // Taller blocks in the centre, houses at the edge.
            const double centreness = 1.0 - r / kTownRadius;
            b.eave = 5.0 + storeys * (8.0 + 32.0 * centreness * centreness);
            b.rise = (roof < 0.5 && b.eave < 20.0) ? 2.5 + 3.0 * roof : 0.0;
            town.push_back(b);
        }
    }
    return town;
}

std::size_t building_triangles(const Building& b) { return b.rise > 0.0 ? 14 : 10; }

// A closed box without floor; a gabled roof has its ridge along the longer
// side. Faces wind counter-clockwise seen from outside.
void add_building(MeshBuilder& mesh, const Building& b) {
    const double base = kTownGround - 0.5;  // sunk a little into the ground
    const double top = kTownGround + b.eave;
    const std::int32_t g0 = mesh.vertex(b.x0, b.y0, base), g1 = mesh.vertex(b.x1, b.y0, base);
    const std::int32_t g2 = mesh.vertex(b.x1, b.y1, base), g3 = mesh.vertex(b.x0, b.y1, base);
    const std::int32_t t0 = mesh.vertex(b.x0, b.y0, top), t1 = mesh.vertex(b.x1, b.y0, top);
    const std::int32_t t2 = mesh.vertex(b.x1, b.y1, top), t3 = mesh.vertex(b.x0, b.y1, top);
    mesh.quad(g0, g1, t1, t0);
    mesh.quad(g1, g2, t2, t1);
    mesh.quad(g2, g3, t3, t2);
    mesh.quad(g3, g0, t0, t3);
    if (b.rise <= 0.0) {
        mesh.quad(t0, t1, t2, t3);
        return;
    }
    const double ridge = top + b.rise;
    if (b.x1 - b.x0 >= b.y1 - b.y0) {  // ridge along x
        const double ym = (b.y0 + b.y1) / 2;
        const std::int32_t r0 = mesh.vertex(b.x0, ym, ridge), r1 = mesh.vertex(b.x1, ym, ridge);
        mesh.face(t1, t2, r1);
        mesh.face(t3, t0, r0);
        mesh.quad(t0, t1, r1, r0);
        mesh.quad(t2, t3, r0, r1);
    } else {  // ridge along y
        const double xm = (b.x0 + b.x1) / 2;
        const std::int32_t r0 = mesh.vertex(xm, b.y0, ridge), r1 = mesh.vertex(xm, b.y1, ridge);
        mesh.face(t0, t1, r0);
        mesh.face(t2, t3, r1);
        mesh.quad(t1, t2, r1, r0);
        mesh.quad(t3, t0, r0, r1);
    }
}

}  // namespace

double sample_ground_height(double x, double y) {
    const double rolling = 18.0 * std::sin(kTwoPi * x / 900.0 + 0.4) * std::cos(kTwoPi * y / 1100.0) +
                           7.0 * std::sin(kTwoPi * (x + 0.6 * y) / 380.0) +
                           3.0 * std::sin(kTwoPi * (0.7 * x - y) / 170.0);
    const double hill = 70.0 * std::exp(-((x - 450.0) * (x - 450.0) + (y - 1500.0) * (y - 1500.0)) /
                                        (2.0 * 260.0 * 260.0));
    // A valley winding along x.
    const double valleyY = 700.0 + 150.0 * std::sin(kTwoPi * x / 1300.0);
    const double valley = -35.0 * std::exp(-(y - valleyY) * (y - valleyY) / (2.0 * 110.0 * 110.0));
    const double natural = 120.0 + rolling + hill + valley;
    // The town's ground is levelled, blending into the land around it.
    const double r = std::hypot(x - kTownX, y - kTownY);
    const double wild = smoothstep01((r - (kTownRadius + 30.0)) / 120.0);
    return kTownGround + (natural - kTownGround) * wild;
}

namespace {

// Small targets get a smaller town: at most a quarter of the triangles.
// Keeps the buildings that fit and returns their triangles.
std::size_t fit_town(std::vector<Building>& town, std::size_t targetTriangles) {
    std::size_t townTriangles = 0;
    std::size_t keep = 0;
    while (keep < town.size() && (townTriangles + building_triangles(town[keep])) * 4 <= targetTriangles) {
        townTriangles += building_triangles(town[keep]);
        ++keep;
    }
    town.resize(keep);
    return townTriangles;
}

std::size_t sample_town_triangles(std::size_t targetTriangles) {
    std::vector<Building> town = plan_town();
    return fit_town(town, targetTriangles);
}

}  // namespace

void make_sample_scene(std::vector<Vertex>& vertices, std::vector<Face>& faces, std::size_t targetTriangles) {
    std::vector<Building> town = plan_town();
    const std::size_t townTriangles = fit_town(town, targetTriangles);

    const std::size_t groundTarget = targetTriangles > townTriangles ? targetTriangles - townTriangles : 2;
    const auto cells = static_cast<std::size_t>(
        std::max(1.0, std::round(std::sqrt(static_cast<double>(groundTarget) / 2.0))));

    vertices.reserve(vertices.size() + (cells + 1) * (cells + 1) + town.size() * 10);
    faces.reserve(faces.size() + 2 * cells * cells + townTriangles);
    MeshBuilder mesh(vertices, faces);

    // The ground: a regular grid, two triangles per cell, normals up.
    const auto first = static_cast<std::int32_t>(vertices.size() + 1);
    const auto n = static_cast<double>(cells);
    for (std::size_t j = 0; j <= cells; ++j) {
        const double y = kSide * static_cast<double>(j) / n;  // the far edge is exactly kSide
        for (std::size_t i = 0; i <= cells; ++i) {
            const double x = kSide * static_cast<double>(i) / n;
            mesh.vertex(x, y, sample_ground_height(x, y));
        }
    }
    const auto row = static_cast<std::int32_t>(cells + 1);
    for (std::size_t j = 0; j < cells; ++j) {
        for (std::size_t i = 0; i < cells; ++i) {
            const std::int32_t v00 = first + static_cast<std::int32_t>(j) * row + static_cast<std::int32_t>(i);
            mesh.quad(v00, v00 + 1, v00 + 1 + row, v00 + row);
        }
    }

    for (const Building& b : town) add_building(mesh, b);
}

void make_sample_scene(std::vector<Vertex>& vertices, std::vector<Face>& faces, std::size_t targetTriangles,
                       std::vector<std::uint8_t>& faceClasses) {
    const std::size_t before = faces.size();
    make_sample_scene(vertices, faces, targetTriangles);
    // The ground grid comes first, two triangles per cell, then the town.
    const std::size_t added = faces.size() - before;
    const std::size_t townTriangles = sample_town_triangles(targetTriangles);
    const std::size_t ground = added - townTriangles;
    faceClasses.insert(faceClasses.end(), ground, std::uint8_t{2});
    faceClasses.insert(faceClasses.end(), townTriangles, std::uint8_t{6});
}
