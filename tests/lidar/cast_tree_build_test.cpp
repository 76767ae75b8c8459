// The cast's copy built straight from the triangles against the copy of the
// pointer octree: the same arrays to the bit, on any number of threads.
#include "lidar/cast_tree.h"
#include "support/test_support.h"
#include "terrain/obj_file.h"
#include "terrain/sample_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

using testing_support::scaled;

struct Model {
    std::string label;
    std::vector<Triangle> triangles;
    ModelLimits limits;
};

// Triangles sorted and limited as a model load makes them.
Model model_of(std::string label, const std::vector<Vertex>& vertices, const std::vector<Face>& faces) {
    Model m{std::move(label), {}, compute_limits(vertices)};
    generate_mesh(vertices, faces, m.triangles);
    sort_mesh(m.triangles);
    return m;
}

// Triangles given directly (each its own three vertices).
Model model_of(std::string label, const std::vector<Triangle>& triangles) {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    for (const Triangle& t : triangles) {
        const auto n = static_cast<std::int32_t>(vertices.size());
        vertices.insert(vertices.end(), {t.a, t.b, t.c});
        faces.push_back({{n + 1, n + 2, n + 3}});
    }
    return model_of(std::move(label), vertices, faces);
}

Model real_model(const std::string& path) {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    read_obj_file(vertices, faces, QString::fromStdString(testing_support::real_data_path(path)), 1);
    return model_of(path, vertices, faces);
}

TEST(CastTreeBuild, StraightFromTheTrianglesEqualsTheCopyOfTheOctree) {
    std::vector<Model> models;
    {
        std::vector<Vertex> vertices;
        std::vector<Face> faces;
        make_sample_scene(vertices, faces, 80000);  // enough for the root to split on several threads
        models.push_back(model_of("sample", vertices, faces));
    }
    models.push_back(real_model("3dfier/testarea.obj"));
    models.push_back(real_model("mountain/mountain.obj"));
    // 120 triangles fanned around one corner (split down to the depth bound),
    // 400 copies of one triangle (the node budget runs out, so the parallel
    // build is given up), one plane (a root box without height), copies of a
    // point (a root box without extent), a lone triangle, nothing at all, and
    // coordinates where the quick overlap verdict stands aside.
    std::vector<Triangle> fan;
    const Vertex hub{3.1, 4.7, 2.3};
    const auto rim = [&](double a) {
        return Vertex{hub.x + 10 * std::cos(a), hub.y + 10 * std::sin(a), hub.z + 3 * std::sin(2 * a)};
    };
    for (std::uint32_t i = 0; i < 120; ++i)
        fan.push_back(make_triangle(hub, rim(6.28318 * i / 120), rim(6.28318 * (i + 1) / 120), {0, 1, 2}, i));
    models.push_back(model_of("fan", fan));
    models.push_back(model_of("pile", std::vector<Triangle>(400, make_triangle({0, 0, 0}, {10, 0, 1}, {0, 10, 2}, {0, 1, 2}, 0))));
    std::vector<Triangle> plane;
    for (int i = 0; i < 60; ++i)
        for (int j = 0; j < 60; ++j)
            plane.push_back(make_triangle({i * 1.0, j * 1.0, 5}, {i + 1.0, j * 1.0, 5}, {i * 1.0, j + 1.0, 5}, {0, 1, 2}, 0));
    models.push_back(model_of("plane", plane));
    models.push_back(model_of("point", std::vector<Triangle>(150, make_triangle({4, 5, 6}, {4, 5, 6}, {4, 5, 6}, {0, 1, 2}, 0))));
    models.push_back(model_of("one", {make_triangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 1, 2}, 0)}));
    models.push_back(Model{"none", {}, ModelLimits{0, 0, 0, 1, 1, 1}});
    models.push_back(model_of("tiny", scaled(models[2].triangles, 0x1p-1040)));
    models.push_back(model_of("huge", scaled(models[2].triangles, 0x1p190)));

    for (const Model& m : models) {
        const ModelLimits& l = m.limits;
        const Vec3 maxCorner{l.maxX, l.maxY, l.maxZ}, minCorner{l.minX, l.minY, l.minZ};
        OctreeNode root;
        create_octree(m.triangles, root, maxCorner, minCorner, 1);
        const CastTree expected(root, m.triangles);
        for (const unsigned threads : {1u, 2u, 8u}) {
            const CastTree direct(m.triangles, maxCorner, minCorner, threads);
            EXPECT_TRUE(direct.identical(expected)) << m.label << " on " << threads << " threads";
            EXPECT_EQ(direct.memory_bytes(), expected.memory_bytes()) << m.label;  // no slack in the arrays
        }
        if (m.label == "sample") {
            ASSERT_GT(expected.leaf_count(), 500u);  // a tree worth comparing
        }
    }
}

}  // namespace

// An entry's four cells, worked out for x and y at once, are the cells of
// lower_cell and upper_cell, also for bounds outside the leaf, infinite or
// NaN, on the cells' edges, and for grids of no or infinite scale.
TEST(CastTreeBuild, EntryCellsAreTheCellsOfEachBound) {
    const float inf = HUGE_VALF, nan = std::nanf("");
    const float values[] = {-inf, -1e30f, -3.5f, -0.0f, 0.0f, 0.25f, 1.0f, 7.99f, 8.0f, 8.01f, 63.75f, 64.0f, 200.0f,
                            inf, nan};
    struct Grid {
        double minX, minY, scaleX, scaleY;
    };
    const Grid grids[] = {{0.0, 0.0, 4.0, 4.0}, {-3.5, 1.0, 1e-3, 255.0 / 64.0}, {1.0, -1e30, HUGE_VAL, 0.0}};
    int checked = 0;
    for (const Grid& g : grids)
        for (const float xLo : values)
            for (const float xHi : values)
                for (const float yLo : {values[0], values[3], values[7], values[13], values[14]})
                    for (const float yHi : {values[1], values[4], values[9], values[12], values[14]}) {
                        const float bounds[4] = {xLo, xHi, yLo, yHi};
                        const CastTree::EntryCells c = CastTree::entry_cells(bounds, g.minX, g.minY, g.scaleX, g.scaleY);
                        ASSERT_EQ(c.xLo, CastTree::lower_cell(xLo, g.minX, g.scaleX)) << xLo;
                        ASSERT_EQ(c.yLo, CastTree::lower_cell(yLo, g.minY, g.scaleY)) << yLo;
                        ASSERT_EQ(c.xHiFlipped, 255 - CastTree::upper_cell(xHi, g.minX, g.scaleX)) << xHi;
                        ASSERT_EQ(c.yHiFlipped, 255 - CastTree::upper_cell(yHi, g.minY, g.scaleY)) << yHi;
                        ++checked;
                    }
    EXPECT_EQ(checked, 3 * 15 * 15 * 5 * 5);
}
