#include "support/test_support.h"
#include "terrain/obj_file.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Faces = std::vector<std::array<int, 3>>;

struct Obj {
    std::vector<Vertex> vertices;
    Faces faces;
    ObjReadReport report;
};

Obj read_obj(const std::string& path, int unit = 1) {
    Obj o;
    std::vector<Face> faces;
    o.report = read_obj_file(o.vertices, faces, QString::fromStdString(path), unit);
    for (const Face& f : faces) o.faces.push_back({f.v[0], f.v[1], f.v[2]});
    return o;
}

Obj read_obj_text(const std::string& text, int unit = 1) {
    TempDir dir;
    write_file(dir.file("model.obj"), text);
    return read_obj(dir.file("model.obj"), unit);
}

const std::string kFourVertices = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

TEST(ObjFile, FaceLinesInEveryReferenceForm) {
    const std::vector<std::pair<std::string, Faces>> cases = {
        {"f 1 2 3", {{1, 2, 3}}},
        {"f 1/1 2/2 3/3", {{1, 2, 3}}},
        {"f 1//1 2//2 3//3", {{1, 2, 3}}},
        {"f 1/1/1 2/2/2 3/3/3", {{1, 2, 3}}},
        {"f -4/1/1 2//7 -2", {{1, 2, 3}}},
        {"f 1 2 3 4", {{1, 2, 3}, {1, 4, 3}}},
        {"f 1/1 2/2 3/3 4/4 x", {{1, 2, 3}, {1, 4, 3}}},              // a fifth reference is never looked at
        {"f -4 -3 -2\nv 1 1 0\nf -1 -2 -3", {{1, 2, 3}, {5, 4, 3}}},  // counted back from the latest vertex
    };
    for (const auto& [lines, faces] : cases) {
        const Obj o = read_obj_text(kFourVertices + lines + "\n");
        EXPECT_EQ(o.faces, faces) << lines;
        EXPECT_EQ(o.report.skippedFaceLines, 0u) << lines;
    }
}

TEST(ObjFile, OnlyVAndFLinesCountEverythingElseIsSkipped) {
    const Obj o = read_obj_text(
        "# a comment\r\nmtllib scene.mtl\r\n\r\n\r\no terrain\r\nvt 0.5 0.5\r\nvn 0 0 1\r\nv\t1 2 3\r\n"
        "v  4   5\t6 1.0\r\nvp 0.1 0.2\r\nusemtl ground\r\ns off\r\nv +7 -8e0 9.5E1\r\ng one\r\n"
        "f\t1\t2 3\r\nfo 1 2 3\r\nf 3 2 1");  // no line break at the end
    ASSERT_EQ(o.vertices.size(), 3u);
    EXPECT_EQ((std::vector<double>{o.vertices[0].x, o.vertices[1].x, o.vertices[1].z, o.vertices[2].y, o.vertices[2].z}),
              (std::vector<double>{1, 4, 6, -8, 95}));
    EXPECT_EQ(o.faces, (Faces{{1, 2, 3}, {3, 2, 1}}));
    EXPECT_EQ(o.report.skippedFaceLines, 0u);
}

TEST(ObjFile, MalformedFaceLinesAreSkippedAndCounted) {
    const Obj o = read_obj_text(kFourVertices +  // lines 1-4
                                "f 1 2\n"        // 5: two references
                                "f 1 2 3\n"      // 6: fine
                                "f 0 1 2\n"      // 7: reference 0
                                "f 1 2 5\n"      // 8: beyond the vertices read so far
                                "f -5 1 2\n"     // 9: counts back too far
                                "f 1 2 3 9\n"    // 10: a bad fourth reference spoils the line
                                "f a b c\n"      // 11: not numbers
                                "f\n"            // 12: no references
                                "f /1 2 3\n"     // 13: no vertex number
                                "v 5 5 5\nf 1 2 5\n");
    EXPECT_EQ(o.faces, (Faces{{1, 2, 3}, {1, 2, 5}}));
    EXPECT_EQ(o.report.skippedFaceLines, 7u);
    EXPECT_EQ(o.report.firstSkippedLine, 5u);
}

TEST(ObjFile, CoordinatesAreConvertedToMetres) {
    for (const auto& [unit, divisor] : {std::pair{1, 1.0}, {2, 100.0}, {3, 1000.0}, {4, 3.28084}, {5, 39.3701}}) {
        const Obj o = read_obj_text("v 1500 2500 100\n", unit);
        EXPECT_TRUE(o.vertices[0].x == 1500 / divisor && o.vertices[0].y == 2500 / divisor && o.vertices[0].z == 100 / divisor) << unit;
    }
}

TEST(ObjFile, TheRealModelsLoadCompletely) {
    for (const auto& [path, vertexCount, faceCount] : {std::tuple{"3dfier/testarea.obj", 14760u, 28619u},
                                                       std::tuple{"mountain/mountain.obj", 25600u, 50562u}}) {
        const Obj o = read_obj(real_data_path(path));
        EXPECT_EQ(o.vertices.size(), vertexCount) << path;
        EXPECT_EQ(o.faces.size(), faceCount) << path;
        EXPECT_EQ(o.report.skippedFaceLines, 0u) << path;
    }
}

}  // namespace
