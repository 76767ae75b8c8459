#include "terrain/mesh_file.h"

#include "app/failure.h"
#include "support/test_support.h"
#include "tests/terrain/recording_progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
};

Mesh read_text(const TempDir& dir, const std::string& text) {
    const std::string path = dir.file("mesh.txt");
    write_file(path, text);
    Mesh m;
    NullProgress progress;
    read_mesh_file(m.vertices, m.faces, QString::fromStdString(path), progress);
    return m;
}

void expect_same(const Mesh& expected, const Mesh& actual, const std::string& label) {
    ASSERT_EQ(actual.vertices.size(), expected.vertices.size()) << label;
    ASSERT_EQ(actual.faces.size(), expected.faces.size()) << label;
    for (std::size_t i = 0; i < expected.vertices.size(); ++i) {
        EXPECT_EQ(actual.vertices[i].x, expected.vertices[i].x) << label << " vertex " << i;
        EXPECT_EQ(actual.vertices[i].y, expected.vertices[i].y) << label << " vertex " << i;
        EXPECT_EQ(actual.vertices[i].z, expected.vertices[i].z) << label << " vertex " << i;
    }
    for (std::size_t j = 0; j < expected.faces.size(); ++j) {
        for (int k = 0; k < 3; ++k) EXPECT_EQ(actual.faces[j].v[k], expected.faces[j].v[k]) << label << " face " << j;
    }
}

double rounded_g6(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return std::strtod(text, nullptr);
}

TEST(MeshFile, WriteThenReadGivesTheFacesAndTheVerticesToSixDigits) {
    TempDir dir;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> coordinate(-2e6, 2e6);
    std::uniform_real_distribution<double> small(-1e-3, 1e-3);
    Mesh model;
    for (int i = 0; i < 300; ++i) {
        model.vertices.push_back({coordinate(random), i % 3 == 0 ? small(random) : coordinate(random) / 1000,
                                  123.4567 + i});
    }
    model.vertices.push_back({0.0, -0.0, 2.5});
    for (int j = 0; j < 200; ++j) model.faces.push_back({{j + 1, 301 - j, (j * 7) % 301 + 1}});

    const std::string path = dir.file("saved.txt");
    NullProgress progress;
    write_mesh_file(model.vertices, model.faces, QString::fromStdString(path), progress);
    const std::string text = read_file(path);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "301 200 0\n");
    EXPECT_NE(text.find("\n0 -0 2.5\n"), std::string::npos);

    Mesh back;
    read_mesh_file(back.vertices, back.faces, QString::fromStdString(path), progress);
    Mesh expected = model;
    for (Vertex& v : expected.vertices) v = {rounded_g6(v.x), rounded_g6(v.y), rounded_g6(v.z)};
    expect_same(expected, back, "round trip");
}

TEST(MeshFile, AnyWhiteSpaceLayoutAndNumberFormReadsTheSame) {
    TempDir dir;
    const Mesh canonical = read_text(dir,
                                     "4 2 0\n"
                                     "0 0 10\n"
                                     "15 0 -2.5\n"
                                     "15 20 0.001\n"
                                     "0 20 1500000\n"
                                     "1 2 3\n"
                                     "1 3 4\n");
    ASSERT_EQ(canonical.vertices.size(), 4u);
    EXPECT_EQ(canonical.vertices[3].z, 1500000);

    const std::pair<const char*, const char*> variants[] = {
        {"one line", "4 2 0 0 0 10 15 0 -2.5 15 20 0.001 0 20 1500000 1 2 3 1 3 4"},
        {"one number per line", "4\n2\n0\n0\n0\n10\n15\n0\n-2.5\n15\n20\n0.001\n0\n20\n1500000\n1\n2\n3\n1\n3\n4\n"},
        {"tabs and CRLF", "4\t2\t0\r\n0\t0\t10\r\n15\t0\t-2.5\r\n15\t20\t0.001\r\n0\t20\t1500000\r\n1\t2\t3\r\n1\t3\t4\r\n"},
        {"signs and exponents", "+4 +2 +0\n+0 -0 1e1\n1.5E+01 0. -25e-1\n15.0 2e1 1e-3\n.0 +20 1.5e+06\n+1 2 +3\n1 3 4\n"},
        {"third header number not 0", "4 2 17\n0 0 10\n15 0 -2.5\n15 20 0.001\n0 20 1500000\n1 2 3\n1 3 4\n"},
        {"blank lines, no final line break, data after the counts",
         "\n\n  4 2 0\n\n0 0 10\n15 0 -2.5\n15 20 0.001\n0 20 1500000\n1 2 3\n1 3 4 99 junk"},
    };
    for (const auto& [label, text] : variants) expect_same(canonical, read_text(dir, text), label);
}

TEST(MeshFile, NoFacesLoadsTheVerticesOnly) {
    TempDir dir;
    const Mesh m = read_text(dir, "2 0 0\n1 2 3\n4 5 6\n");
    EXPECT_EQ(m.vertices.size(), 2u);
    EXPECT_TRUE(m.faces.empty());
}

TEST(MeshFile, BadFilesAreRejectedNamingTheFileThePlaceAndTheText) {
    TempDir dir;
    struct Case {
        const char* label;
        const char* text;
        std::vector<std::string> expected;  // parts of the message
    };
    const Case cases[] = {
        {"header word", "3 x 0\n", {"line 1", "\"x\"", "three non-negative integers"}},
        {"negative count", "3\n-1 0\n", {"line 2", "\"-1\"", "three non-negative integers"}},
        {"fractional count", "3 1.0 0\n", {"line 1", "\"1.0\""}},
        {"short header", "3 1", {"ends inside its header"}},
        {"empty file", "", {"ends inside its header"}},
        {"no vertices", "0 0 0\n", {"line 1", "no vertices"}},
        {"too few vertices", "3 1 0\n0 0 0\n1 0 0\n", {"ends at line 3", "vertex 3 of the 3"}},
        {"too few faces", "3 2 0\n0 0 0\n1 0 0\n0 1 0\n1 2 3\n1 2\n", {"ends at line 6", "face 2 of the 2"}},
        {"not a number", "3 1 0\n0 0 0\n1 1.2.3 0\n0 1 0\n1 2 3\n", {"line 3", "\"1.2.3\"", "y of vertex 2"}},
        {"number glued to text", "3 1 0\n0 0 0\n1 0 0\n0 1 5m\n1 2 3\n", {"line 4", "\"5m\"", "z of vertex 3"}},
        {"infinity", "3 1 0\n0 0 0\ninf 0 0\n0 1 0\n1 2 3\n", {"line 3", "\"inf\"", "x of vertex 2"}},
        {"index too big", "3 1 0\n0 0 0\n1 0 0\n0 1 0\n1 2 4\n", {"line 5", "face 1 refers to vertex 4", "1 to 3"}},
        {"index 0", "3 2 0\n0 0 0\n1 0 0\n0 1 0\n1 2 3\n\n0 2 3\n", {"line 7", "face 2 refers to vertex 0"}},
        {"fractional index", "3 1 0\n0 0 0\n1 0 0\n0 1 0\n1 2.5 3\n", {"line 5", "\"2.5\"", "face 1"}},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("bad.txt");
        write_file(path, c.text);
        std::vector<Vertex> vertices;
        std::vector<Face> faces;
        NullProgress progress;
        try {
            read_mesh_file(vertices, faces, QString::fromStdString(path), progress);
            ADD_FAILURE() << c.label << ": no error";
        } catch (const InputError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(path), std::string::npos) << c.label << ": " << message;
            for (const std::string& part : c.expected)
                EXPECT_NE(message.find(part), std::string::npos) << c.label << ": " << message;
        }
    }
}

TEST(MeshFile, AMissingFileIsAnInputError) {
    TempDir dir;
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    NullProgress progress;
    const std::string path = dir.file("absent.txt");
    try {
        read_mesh_file(vertices, faces, QString::fromStdString(path), progress);
        ADD_FAILURE() << "no error";
    } catch (const InputError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open the mesh file \"" + path + "\""), std::string::npos);
    }
}

// A mesh of n vertices and m faces in canonical layout.
Mesh strip(int n, int m) {
    Mesh mesh;
    for (int i = 0; i < n; ++i) mesh.vertices.push_back({double(i), double(i % 2), 0.5});
    for (int j = 0; j < m; ++j) mesh.faces.push_back({{1, 2, 3}});
    return mesh;
}

std::vector<std::string> values(int count, int step, int base) {
    std::vector<std::string> out;
    for (int i = 0; i < count; i += step) out.push_back("value " + std::to_string(base + i));
    return out;
}

TEST(MeshFile, ProgressEveryTwentiethOfTheVerticesAndOfTheFaces) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("p.txt"));
    // 19 vertices: the step is 0, so every vertex shows; 40: every second.
    for (const auto& [nV, nF, vStep, fStep] : {std::array<int, 4>{19, 3, 1, 1}, std::array<int, 4>{40, 40, 2, 2},
                                               std::array<int, 4>{45, 0, 2, 1}}) {
        const Mesh mesh = strip(nV, nF);
        const std::string label = std::to_string(nV) + " vertices, " + std::to_string(nF) + " faces";

        RecordingProgress writing;
        write_mesh_file(mesh.vertices, mesh.faces, path, writing);
        std::vector<std::string> expected = {"range 0 " + std::to_string(nV + nF), "value 0"};
        for (const auto& v : values(nV, vStep, 0)) expected.push_back(v);
        for (const auto& v : values(nF, fStep, nV)) expected.push_back(v);
        expected.push_back("value " + std::to_string(nV + nF));
        EXPECT_EQ(writing.events, expected) << "writing " << label;

        RecordingProgress reading;
        Mesh back;
        read_mesh_file(back.vertices, back.faces, path, reading);
        expected = {"value 0", "range 0 " + std::to_string(nV + nF)};
        for (const auto& v : values(nV, vStep, 0)) expected.push_back(v);
        for (const auto& v : values(nF, fStep, nV)) expected.push_back(v);
        expected.push_back("value 0");
        EXPECT_EQ(reading.events, expected) << "reading " << label;
    }
}

}  // namespace
