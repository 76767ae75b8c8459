#include "app/failure.h"
#include "support/recording_progress.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/sample_scene.h"
#include "terrain/terrain_tasks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

using namespace testing_support;

namespace {

// Every digit of a mesh, for exact comparisons.
std::string dump(const std::vector<Vertex>& vertices, const std::vector<Face>& faces) {
    std::ostringstream out;
    out.precision(17);
    for (const Vertex& v : vertices) out << v.x << ' ' << v.y << ' ' << v.z << '\n';
    for (const Face& f : faces) out << f.v[0] << ' ' << f.v[1] << ' ' << f.v[2] << '\n';
    return out.str();
}

NullProgress quiet;

std::string read_dump(const std::string& path, Progress& progress = quiet) {
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    read_mesh_file(vertices, faces, QString::fromStdString(path), progress);
    return dump(vertices, faces);
}

TEST(ModelLimits, ExtremesPerAxisAndTiesMoveOnlyTheMaximum) {
    const ModelLimits l = compute_limits({{5, -2, 7}, {-1, 4, 3}, {2, 9, -6}, {8, 0, 1}});
    EXPECT_EQ((std::vector<double>{l.minX, l.maxX, l.minY, l.maxY, l.minZ, l.maxZ}),
              (std::vector<double>{-1, 8, -2, 9, -6, 7}));
    // 0.0 and -0.0 compare equal: the maximum takes the later one (>=), the minimum keeps the first.
    const ModelLimits z = compute_limits({{0.0, 0.0, 0.0}, {-0.0, -0.0, -0.0}});
    EXPECT_TRUE(std::signbit(z.maxX) && std::signbit(z.maxZ) && !std::signbit(z.minX) && !std::signbit(z.minZ));
}

TEST(GenerateMesh, OneTrianglePerFaceInFaceOrderWithTopZAndNormal) {
    std::vector<Triangle> t;
    // The highest corner comes third, first, then second.
    generate_mesh({{1, 1, 1}, {4, 1, 2}, {1, 3, 5}}, {{{1, 2, 3}}, {{3, 1, 2}}, {{2, 3, 1}}}, t);
    ASSERT_EQ(t.size(), 3u);
    // e1 = (3, 0, 1), e2 = (0, 2, 4): e1 x e2 = (-2, -12, 6).
    EXPECT_TRUE(t[0].normal.x == -2 && t[0].normal.y == -12 && t[0].normal.z == 6);
    EXPECT_TRUE(t[0].topZ == 5 && t[1].topZ == 5 && t[2].topZ == 5);
    EXPECT_TRUE(t[2].faceIndex == 2 && t[2].a.x == 4 && t[2].c.z == 1);
}

TEST(SortMesh, GreatestTopZFirstAndNothingLost) {
    std::vector<Triangle> triangles;
    for (std::uint32_t i = 0; i < 5000; ++i)  // many equal heights
        triangles.push_back(make_triangle({0, 0, 0}, {1, 0, i * 37 % 101 + 0.5}, {0, 1, 0}, {0, 1, 2}, i));
    sort_mesh(triangles);
    EXPECT_TRUE(std::is_sorted(triangles.begin(), triangles.end(), [](auto& a, auto& b) { return a.topZ > b.topZ; }));
    std::set<std::uint32_t> seen;
    for (const Triangle& t : triangles) seen.insert(t.faceIndex);
    EXPECT_EQ(seen.size(), 5000u);
}

// Making the records in sorted order at once gives generate_mesh and
// sort_mesh's records to the byte, equal heights in the same order: on the
// sample scene, on a pile of equal heights with signed zeros, and when
// appending to records already there.
TEST(SortMesh, SortedGenerationMatchesGeneratingThenSorting) {
    // Field by field and bit by bit (the records' padding is not compared).
    const auto same = [](const std::vector<Triangle>& a, const std::vector<Triangle>& b) {
        const auto bits = [](const auto& x, const auto& y) { return std::memcmp(&x, &y, sizeof x) == 0; };
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!bits(a[i].cornerIndices, b[i].cornerIndices) || !bits(a[i].topZ, b[i].topZ) ||
                a[i].faceIndex != b[i].faceIndex || !bits(a[i].a, b[i].a) || !bits(a[i].b, b[i].b) ||
                !bits(a[i].c, b[i].c) || !bits(a[i].normal, b[i].normal))
                return false;
        return true;
    };
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    make_sample_scene(vertices, faces, 20000);
    std::vector<Vertex> pile;
    std::vector<Face> pileFaces;
    for (int i = 0; i < 3000; ++i) {
        pile.push_back({double(i % 17), double(i % 29), (i % 3 == 0 ? -0.0 : 0.0) + double(i * 7 % 5)});
        if (i >= 2) pileFaces.push_back(Face{{i - 1, i, i + 1}});
    }
    for (const auto& [v, f] : {std::make_pair(&vertices, &faces), std::make_pair(&pile, &pileFaces)}) {
        std::vector<Triangle> expected, fused;
        generate_mesh(*v, *f, expected);
        sort_mesh(expected);
        generate_sorted_mesh(*v, *f, fused);
        EXPECT_TRUE(same(expected, fused)) << f->size() << " faces";
        // Appending: the records already there take part in the sort.
        generate_mesh(*v, *f, expected);
        sort_mesh(expected);
        generate_sorted_mesh(*v, *f, fused);
        EXPECT_TRUE(same(expected, fused)) << f->size() << " faces, appended";
    }
}

TEST(MeshFile, WritesSixSignificantDigits) {
    TempDir dir;
    write_mesh_file({{1234567.89, -0.000123456789, 100}, {1, 2, 3}, {4, 5, 6}}, {{{3, 1, 2}}},
                    QString::fromStdString(dir.file("m.txt")), quiet);
    EXPECT_EQ(read_file(dir.file("m.txt")), "3 1 0\n1.23457e+06 -0.000123457 100\n1 2 3\n4 5 6\n3 1 2\n");
}

TEST(MeshFile, AnyWhiteSpaceLayoutAndNumberFormReadsTheSame) {
    TempDir dir;
    const std::string expected = dump({{0, 0, 10}, {15, 0, -2.5}, {15, 20, 0.001}, {0, 20, 1500000}}, {{{1, 2, 3}}, {{1, 3, 4}}});
    for (const char* text : {
             "4 2 0\n0 0 10\n15 0 -2.5\n15 20 0.001\n0 20 1500000\n1 2 3\n1 3 4\n",
             "4 2 0 0 0 10 15 0 -2.5 15 20 0.001 0 20 1500000 1 2 3 1 3 4",  // one line, no line break
             "4\t2\t0\r\n0\t0\t10\r\n15\t0\t-2.5\r\n15\t20\t0.001\r\n0\t20\t1500000\r\n1\t2\t3\r\n1\t3\t4\r\n",
             "+4 +2 +0\n+0 0e5 1e1\n1.5E+01 0. -25e-1\n15.0 2e1 1e-3\n.0 +20 1.5e+06\n+1 2 +3\n1 3 4\n",
             "4 2 0\n1e-400 0 10\n15 0 -2.5\n15 20 0.001\n0 20 1500000\n1 2 3\n1 3 4\n",  // too small: 0
             // the third header number and anything after the last face are ignored
             "4 2 17\n0 0 10\n15 0 -2.5\n15 20 0.001\n0 20 1500000\n1 2 3\n1 3 4 99 junk"}) {
        write_file(dir.file("m.txt"), text);
        EXPECT_EQ(read_dump(dir.file("m.txt")), expected) << text;
    }
}

TEST(MeshFile, BadFilesAreRejectedNamingTheFileAndThePlace) {
    TempDir dir;
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {nullptr, {"Cannot open the mesh file"}},
        {"3\n-1 0\n", {"line 2", "\"-1\"", "three non-negative integers"}},
        {"3 1", {"ends inside its header"}},
        {"0 0 0\n", {"line 1", "no vertices"}},
        {"3 1 0\n0 0 0\n1 0 0\n", {"ends at line 3", "vertex 3 of the 3"}},
        {"3 2 0\n0 0 0\n1 0 0\n0 1 0\n1 2 3\n1 2\n", {"ends at line 6", "face 2 of the 2"}},
        {"3 1 0\n0 0 0\n1 1.2.3 0\n0 1 0\n1 2 3\n", {"line 3", "\"1.2.3\"", "y of vertex 2"}},
        {"3 1 0\n0 0 0\n1e400 0 0\n0 1 0\n1 2 3\n", {"line 3", "\"1e400\"", "x of vertex 2"}},
        {"3 1 0\n0 0 0\n1 0 0\n0 1 0\n1 2.5 3\n", {"line 5", "\"2.5\"", "face 1"}},
        {"3 1 0\n0 0 0\n1 0 0\n0 1 0\n1 2 4\n", {"line 5", "face 1 refers to vertex 4", "1 to 3"}},
        {"3 2 0\n0 0 0\n1 0 0\n0 1 0\n1 2 3\n\n0 2 3\n", {"line 7", "face 2 refers to vertex 0"}},
    };
    for (const auto& [text, parts] : cases) {
        const std::string path = dir.file(text ? "bad.txt" : "absent.txt");
        if (text) write_file(path, text);
        try {
            read_dump(path);
            ADD_FAILURE() << (text ? text : path) << ": no error";
        } catch (const InputError& e) {
            for (const std::string& part : parts) EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("\"" + path + "\""), std::string::npos) << e.what();
        }
    }
}

TEST(MeshFile, ProgressEveryTwentiethOfTheVerticesAndOfTheFaces) {
    TempDir dir;
    // 19 vertices: the step is 0, so every item shows; 39: step 1; 40 and 40: every second one.
    for (const auto& [nV, nF, step] : {std::array<int, 3>{19, 3, 1}, {39, 0, 1}, {40, 40, 2}}) {
        RecordingProgress writing, reading;
        write_mesh_file(std::vector<Vertex>(nV), std::vector<Face>(nF, Face{{1, 2, 3}}),
                        QString::fromStdString(dir.file("p.txt")), writing);
        read_dump(dir.file("p.txt"), reading);
        const std::string range = "range 0 " + std::to_string(nV + nF);
        std::vector<std::string> written{range, "value 0"}, read{"value 0", range};
        for (int i = 0; i < nV + nF; i += step) {
            written.push_back("value " + std::to_string(i));
            read.push_back(written.back());
        }
        written.push_back("value " + std::to_string(nV + nF));
        read.push_back("value 0");
        EXPECT_EQ(writing.events, written) << nV;
        EXPECT_EQ(reading.events, read) << nV;
    }
}

const std::string kSmallMesh = "4 2 0\n-2.5 100 10\n10 100 12.345\n10 107.2 -0.004\n-2.5 107.2 3\n1 2 3\n1 3 4\n";
const std::string kRule(133, '_');

std::string details(const std::string& axis, bool obj) {
    return "File has been been loaded successfully\nFile Details: \nNo. of Vertices = 4 \nNo. of Triangles =  2\n"
           "X Range = -2.50 m : 10.00 m\nY Range = 100.00 m : 107.20 m\nZ Range = -0.00 m : 12.35 m\n"
           "Original Vertical Axis = " + axis + "\nBounding Box Area = 90.00 Sq m\n\n" + kRule + "\n"
           "Now, please go to 'Scanner and Flight details' under 'Simulation' for entering scanner movement and "
           "flight trajectory details.\nYou may take help from 'Flight Planning' under 'Tools'.\n" +
           (obj ? "You may also save the extracted mesh.\n" : "") + kRule + "\n";
}

TEST(MeshTasks, ObjLoadSwapsYUpConvertsUnitsAndLogsSkippedFaceLinesAfterTheDetails) {
    TempDir dir;
    // The small mesh in millimetres with y up, and two faces to skip.
    write_file(dir.file("up.obj"), "v -2500 10000 100000\nv 10000 12345 100000\nv 10000 -4 107200\nv -2500 3000 107200\n"
                                   "f 1 2 3\nf 1 2\nf 1 3 4\nf 1 2 7\n");
    SimulationData data;
    load_obj_task(data, QString::fromStdString(dir.file("up.obj")), 1, 3, quiet);
    EXPECT_EQ(data.logText.toStdString(), details("y axis", true) + "\n2 face lines were skipped (first at line 6): a face "
                                          "needs three vertex references, each a vertex already read.\n\n");
    EXPECT_TRUE(skipped_face_lines_message(1, 9).startsWith("1 face line was skipped (at line 9)"));
    EXPECT_EQ(data.taskCount, 1u);
}

TEST(MeshTasks, LoadReportsInOrderAndSaveWritesTheModelBack) {
    TempDir dir;
    write_file(dir.file("in.txt"), kSmallMesh);
    SimulationData data;
    RecordingProgress progress;
    open_mesh_begin(data);
    load_mesh_task(data, QString::fromStdString(dir.file("in.txt")), progress);
    EXPECT_EQ(data.logText.toStdString(), "\n" + details("z axis", false) + "\n");
    EXPECT_EQ(progress.sequence,
              (std::vector<std::string>{
                  "status Loading file..", "value 0", "range 0 6", "value 0", "value 1", "value 2", "value 3",
                  "value 4", "value 5", "value 0", "range 0 5", "value 0", "value 1", "status Calculating limits..",
                  "value 2", "status Generating Mesh class..", "value 3", "status Sorting Mesh..", "value 4",
                  "status Creating Octree structure..", "value 5", "status ",
                  "status      Uploaded mesh. Task completed.."}));

    const std::string out = dir.file("saved mesh.txt");
    data.logText.clear();
    save_mesh_task(data, QString::fromStdString(out), progress);
    EXPECT_EQ(data.logText.toStdString(), "ASCII file of extracted mesh data saved, Path : " + out + "\n\n");
    EXPECT_EQ(read_file(out), kSmallMesh);
    EXPECT_EQ(data.taskCount, 2u);
}

// A new model must not let the lasers, points, errors or terms of the old
// survey through: the actions that need them are refused again (the
// refusals follow from these lists being empty).
TEST(MeshTasks, BothOpenActionsDiscardTheWholeSurveyAndSaySoOnlyAfterACompletedTask) {
    for (const bool obj : {false, true}) {
        for (const unsigned tasks : {0u, 1u}) {
            SimulationData data;
            data.taskCount = tasks;
            data.vertices.push_back({1, 2, 3});
            data.lasers().assign(3, LaserLine{});
            data.laserlines.lineStarts = {0};
            data.points.assign(2, LidarPoint{1, 2, 3});
            data.systematicError.assign(7, 0.5);
            data.randomError.assign(7, 0.1);
            data.overallError.assign(3, 0.2);
            data.trajectoryTerms.assign(6, std::vector<double>(4, 1.0));
            if (obj) {
                open_obj_begin(data);  // logs its empty line, discards only once a file was chosen
                EXPECT_EQ(data.vertices.size(), 1u);
                obj_file_chosen(data, quiet);
            } else {
                open_mesh_begin(data);
            }
            SCOPED_TRACE(obj ? "OBJ" : "mesh");
            EXPECT_EQ(data.logText, tasks ? QString(obj ? "\n" : "") + kDiscardMessage + "\n" : QString("\n"));
            EXPECT_TRUE(data.vertices.empty() && data.lasers().empty() && data.laserlines.lineStarts.empty());
            EXPECT_TRUE(data.points.empty() && data.systematicError.empty() && data.randomError.empty());
            EXPECT_TRUE(data.overallError.empty() && data.trajectoryTerms.empty());
            EXPECT_EQ(data.taskCount, tasks);
        }
    }
}

TEST(MeshTasks, AFailedLoadLeavesNoModel) {
    TempDir dir;
    write_file(dir.file("good.txt"), kSmallMesh);
    for (const auto& [name, text] : {std::pair{"bad.txt", "4 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n1 2 3\n1 3 9\n"},
                                     {"novertex.obj", "# nothing\nvt 0 0\n"}}) {
        write_file(dir.file(name), text);
        SimulationData data;
        load_mesh_task(data, QString::fromStdString(dir.file("good.txt")), quiet);
        const QString path = QString::fromStdString(dir.file(name));
        if (path.endsWith(".txt")) {
            EXPECT_THROW(load_mesh_task(data, path, quiet), InputError);
        } else {
            obj_file_chosen(data, quiet);
            EXPECT_THROW(load_obj_task(data, path, 0, 1, quiet), InputError);
        }
        EXPECT_TRUE(data.vertices.empty() && data.faces.empty() && data.triangles.empty() && !data.octreeRoot) << name;
        EXPECT_EQ(data.taskCount, 1u) << name;
    }
}

}  // namespace
