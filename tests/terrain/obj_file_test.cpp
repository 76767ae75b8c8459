#include "terrain/obj_file.h"

#include "app/failure.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using testing_support::real_data_path;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

struct Obj {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    ObjReadReport report;
};

Obj read_obj_text(const std::string& text, int unit = 1) {
    TempDir dir;
    const std::string path = dir.file("model.obj");
    write_file(path, text);
    Obj o;
    o.report = read_obj_file(o.vertices, o.faces, QString::fromStdString(path), unit);
    return o;
}

std::vector<std::array<int, 3>> face_list(const Obj& o) {
    std::vector<std::array<int, 3>> out;
    for (const Face& f : o.faces) out.push_back({f.v[0], f.v[1], f.v[2]});
    return out;
}

using Faces = std::vector<std::array<int, 3>>;
const char* const kFourVertices = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

TEST(ObjFile, EveryReferenceFormGivesTheVertexNumberOnly) {
    for (const char* line : {"f 1 2 3", "f 1/1/1 2/2/2 3/3/3", "f 1//1 2//2 3//3", "f 1/1 2/2 3/3",
                             "f 1/1/1 2//2 3", "f -4 -3 -2", "f -4/1/1 2//7 -2/9"}) {
        const Obj o = read_obj_text(std::string(kFourVertices) + line + "\n");
        EXPECT_EQ(face_list(o), (Faces{{1, 2, 3}})) << line;
        EXPECT_EQ(o.report.skippedFaceLines, 0u) << line;
    }
}

TEST(ObjFile, AQuadGivesTwoFacesAndLaterReferencesAreIgnored) {
    EXPECT_EQ(face_list(read_obj_text(std::string(kFourVertices) + "f 1 2 3 4\n")), (Faces{{1, 2, 3}, {1, 4, 3}}));
    EXPECT_EQ(face_list(read_obj_text(std::string(kFourVertices) + "v 5 5 5\nf 1 2 3 4 5\n")),
              (Faces{{1, 2, 3}, {1, 4, 3}}));
    // Even a broken fifth reference is never looked at.
    EXPECT_EQ(face_list(read_obj_text(std::string(kFourVertices) + "f 1/1 2/2 3/3 4/4 x\n")),
              (Faces{{1, 2, 3}, {1, 4, 3}}));
}

TEST(ObjFile, NegativeReferencesCountBackFromTheLatestVertex) {
    const Obj o = read_obj_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\nv 1 1 0\nf -1 -2 -3\n");
    EXPECT_EQ(face_list(o), (Faces{{1, 2, 3}, {4, 3, 2}}));
}

TEST(ObjFile, OnlyVAndFLinesCountEverythingElseIsSkipped) {
    const std::string text =
        "# a comment\r\n"
        "mtllib scene.mtl\r\n"
        "\r\n"
        "\r\n"
        "o terrain\r\n"
        "vt 0.5 0.5\r\n"
        "vn 0 0 1\r\n"
        "v\t1 2 3\r\n"
        "v  4   5\t6 1.0\r\n"  // two blanks after v, a w value
        "vp 0.1 0.2\r\n"
        "usemtl ground\r\n"
        "s off\r\n"
        "v +7 -8e0 9.5E1\r\n"
        "g one\r\n"
        "f\t1\t2 3\r\n"
        "fo 1 2 3\r\n"
        "f 3 2 1";  // no line break at the end
    const Obj o = read_obj_text(text);
    ASSERT_EQ(o.vertices.size(), 3u);
    EXPECT_EQ(o.vertices[0].x, 1);
    EXPECT_EQ(o.vertices[1].x, 4);
    EXPECT_EQ(o.vertices[1].z, 6);
    EXPECT_EQ(o.vertices[2].x, 7);
    EXPECT_EQ(o.vertices[2].y, -8);
    EXPECT_EQ(o.vertices[2].z, 95);
    EXPECT_EQ(face_list(o), (Faces{{1, 2, 3}, {3, 2, 1}}));
    EXPECT_EQ(o.report.skippedFaceLines, 0u);
}

TEST(ObjFile, MalformedFaceLinesAreSkippedAndCounted) {
    const std::string text = std::string(kFourVertices) +  // lines 1-4
                             "f 1 2\n"                     // 5: two references
                             "f 1 2 3\n"                   // 6: fine
                             "f 0 1 2\n"                   // 7: reference 0
                             "f 1 2 5\n"                   // 8: beyond the vertices read so far
                             "f -5 1 2\n"                  // 9: counts back too far
                             "f 1 2 3 9\n"                 // 10: bad fourth reference spoils the line
                             "f a b c\n"                   // 11: not numbers
                             "f\n"                         // 12: not a face line at all ("f" alone)
                             "f /1 2 3\n"                  // 13: no vertex number
                             "v 5 5 5\n"
                             "f 1 2 5\n";                  // now vertex 5 exists
    const Obj o = read_obj_text(text);
    EXPECT_EQ(face_list(o), (Faces{{1, 2, 3}, {1, 2, 5}}));
    EXPECT_EQ(o.report.skippedFaceLines, 7u);
    EXPECT_EQ(o.report.firstSkippedLine, 5u);
}

TEST(ObjFile, CoordinatesAreConvertedToMetres) {
    const std::string line = "v 1500 2500 100\n";
    const struct {
        int unit;
        double divisor;
    } units[] = {{1, 1.0}, {2, 100.0}, {3, 1000.0}, {4, 3.28084}, {5, 39.3701}};
    for (const auto& u : units) {
        const Obj o = read_obj_text(line, u.unit);
        ASSERT_EQ(o.vertices.size(), 1u);
        EXPECT_EQ(o.vertices[0].x, 1500 / u.divisor) << "unit " << u.unit;
        EXPECT_EQ(o.vertices[0].y, 2500 / u.divisor) << "unit " << u.unit;
        EXPECT_EQ(o.vertices[0].z, 100 / u.divisor) << "unit " << u.unit;
    }
    const Obj mm = read_obj_text(line, 3);
    EXPECT_EQ(mm.vertices[0].x, 1.5);
    EXPECT_EQ(mm.vertices[0].y, 2.5);
    EXPECT_EQ(mm.vertices[0].z, 0.1);
}

TEST(ObjFile, SwapYZExchangesWithoutChangingSigns) {
    std::vector<Vertex> vertices = {{1, 2, 3}, {-4, 5, -6}};
    swap_y_z(vertices);
    EXPECT_EQ(vertices[0].y, 3);
    EXPECT_EQ(vertices[0].z, 2);
    EXPECT_EQ(vertices[1].x, -4);
    EXPECT_EQ(vertices[1].y, -6);
    EXPECT_EQ(vertices[1].z, 5);
}

TEST(ObjFile, AVertexLineWithoutThreeNumbersIsAnError) {
    for (const char* bad : {"v 1 2\n", "v 1 two 3\n", "v 1,5 2 3\n"}) {
        try {
            read_obj_text(std::string("# header\nv 0 0 0\n") + bad + "f 1 2 3\n");
            ADD_FAILURE() << bad << ": no error";
        } catch (const InputError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("line 3"), std::string::npos) << message;
            EXPECT_NE(message.find(std::string(bad, std::string(bad).size() - 1)), std::string::npos) << message;
        }
    }
}

TEST(ObjFile, AMissingFileIsAnError) {
    TempDir dir;
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    EXPECT_THROW(read_obj_file(vertices, faces, QString::fromStdString(dir.file("none.obj")), 1), InputError);
}

TEST(ObjFile, TheRealModelsLoadCompletely) {
    struct Model {
        const char* path;
        std::size_t vertices, faces;
    };
    for (const Model& m : {Model{"3dfier/testarea.obj", 14760, 28619}, Model{"mountain/mountain.obj", 25600, 50562}}) {
        std::vector<Vertex> vertices;
        std::vector<Face> faces;
        const ObjReadReport report =
            read_obj_file(vertices, faces, QString::fromStdString(real_data_path(m.path)), 1);
        EXPECT_EQ(vertices.size(), m.vertices) << m.path;
        EXPECT_EQ(faces.size(), m.faces) << m.path;
        EXPECT_EQ(report.skippedFaceLines, 0u) << m.path;
        for (const Face& f : faces) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_GE(f.v[k], 1) << m.path;
                ASSERT_LE(static_cast<std::size_t>(f.v[k]), vertices.size()) << m.path;
            }
        }
    }
}

}  // namespace
