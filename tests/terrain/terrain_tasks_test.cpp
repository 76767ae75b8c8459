#include "terrain/terrain_tasks.h"

#include "app/failure.h"
#include "support/test_support.h"
#include "terrain/mesh_file.h"
#include "terrain/sample_scene.h"
#include "tests/terrain/recording_progress.h"

#include <gtest/gtest.h>

#include <algorithm>

using testing_support::read_file;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

const std::string kSmallMesh =
    "4 2 0\n"
    "-2.5 100 10\n"
    "10 100 12.345\n"
    "10 107.2 -0.004\n"
    "-2.5 107.2 3\n"
    "1 2 3\n"
    "1 3 4\n";

const std::string kRule(133, '_');

std::string details(const std::string& axis, bool obj) {
    return "File has been been loaded successfully\n"
           "File Details: \n"
           "No. of Vertices = 4 \n"
           "No. of Triangles =  2\n"
           "X Range = -2.50 m : 10.00 m\n"
           "Y Range = 100.00 m : 107.20 m\n"
           "Z Range = -0.00 m : 12.35 m\n"
           "Original Vertical Axis = " + axis + "\n"
           "Bounding Box Area = 90.00 Sq m\n"
           "\n" + kRule + "\n"
           "Now, please go to 'Scanner and Flight details' under 'Simulation' for entering scanner movement and "
           "flight trajectory details.\n"
           "You may take help from 'Flight Planning' under 'Tools'.\n" +
           (obj ? "You may also save the extracted mesh.\n" : "") + kRule + "\n";
}

TEST(ModelDetails, BothVariantsWordForWord) {
    const ModelLimits l{-2.5, 100, -0.004, 10, 107.2, 12.345};
    EXPECT_EQ(model_details_message(AsciiMesh, 4, 2, l, "z axis").toStdString(), details("z axis", false));
    EXPECT_EQ(model_details_message(ObjModel, 4, 2, l, "y axis").toStdString(), details("y axis", true));
    EXPECT_EQ(model_details_message(AsciiMesh, 4, 2, l, "z axis").count('\n'), 14);
    EXPECT_EQ(model_details_message(ObjModel, 4, 2, l, "z axis").count('\n'), 15);
}

TEST(LoadMeshTask, LoadsPreparesAndReportsInOrder) {
    TempDir dir;
    const std::string path = dir.file("small.txt");
    write_file(path, kSmallMesh);
    SimulationData data;
    RecordingProgress progress;
    open_mesh_begin(data);
    load_mesh_task(data, QString::fromStdString(path), progress);

    EXPECT_EQ(data.logText.toStdString(), "\n" + details("z axis", false) + "\n");
    EXPECT_EQ(data.taskCount, 1u);
    EXPECT_EQ(data.modelPath.toStdString(), path);
    ASSERT_EQ(data.triangles.size(), 2u);
    EXPECT_GE(data.triangles[0].topZ, data.triangles[1].topZ);
    ASSERT_TRUE(data.octreeRoot);
    EXPECT_EQ(data.octreeRoot->triangleIndices, (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(data.maxZ, 12.345);

    const std::vector<std::string> expected = {
        "status Loading file..",
        // the reader: 4 vertices and 2 faces, step 0
        "value 0", "range 0 6", "value 0", "value 1", "value 2", "value 3", "value 4", "value 5", "value 0",
        // the six stages
        "range 0 5", "value 0", "value 1", "status Calculating limits..", "value 2", "status Generating Mesh class..",
        "value 3", "status Sorting Mesh..", "value 4", "status Creating Octree structure..", "value 5", "status ",
        "status      Uploaded mesh. Task completed.."};
    EXPECT_EQ(progress.events, expected);
}

TEST(LoadMeshTask, ABadFileLeavesNoModelAndNoCompletedTask) {
    TempDir dir;
    const std::string good = dir.file("good.txt");
    const std::string bad = dir.file("bad.txt");
    write_file(good, kSmallMesh);
    write_file(bad, "4 2 0\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n1 2 3\n1 3 9\n");
    SimulationData data;
    NullProgress progress;
    load_mesh_task(data, QString::fromStdString(good), progress);
    open_mesh_begin(data);
    EXPECT_THROW(load_mesh_task(data, QString::fromStdString(bad), progress), InputError);
    EXPECT_TRUE(data.vertices.empty());
    EXPECT_TRUE(data.faces.empty());
    EXPECT_TRUE(data.triangles.empty());
    EXPECT_FALSE(data.octreeRoot);
    EXPECT_EQ(data.taskCount, 1u);
}

TEST(OpenMeshBegin, DiscardsAndLogsTheDiscardOnlyAfterACompletedTask) {
    SimulationData data;
    data.vertices.push_back({1, 2, 3});
    data.points.push_back({});
    open_mesh_begin(data);
    EXPECT_EQ(data.logText, "\n");
    EXPECT_TRUE(data.vertices.empty());
    EXPECT_TRUE(data.points.empty());

    data.taskCount = 3;
    data.vertices.push_back({1, 2, 3});
    open_mesh_begin(data);
    EXPECT_EQ(data.logText, QString("\n") + kDiscardMessage + "\n");
    EXPECT_TRUE(data.vertices.empty());
    EXPECT_EQ(data.taskCount, 3u);
}

TEST(OpenObj, FlushesTheLogFirstAndDiscardsOnlyOnceAFileWasChosen) {
    SimulationData data;
    RecordingProgress progress;
    data.vertices.push_back({1, 2, 3});
    open_obj_begin(data);
    EXPECT_EQ(data.logText, "\n");
    EXPECT_EQ(data.vertices.size(), 1u);
    obj_file_chosen(data, progress);
    EXPECT_EQ(data.logText, "\n");  // nothing completed yet: no discard message
    EXPECT_TRUE(data.vertices.empty());
    EXPECT_EQ(progress.events, (std::vector<std::string>{"range 0 5", "value 0", "status Loading file.."}));

    data.taskCount = 1;
    obj_file_chosen(data, progress);
    EXPECT_EQ(data.logText, QString("\n") + kDiscardMessage + "\n");
}

TEST(LoadObjTask, YUpModelIsSwappedAndSaidSo) {
    TempDir dir;
    const std::string path = dir.file("up.obj");
    write_file(path, "v 1 2 3\nv 4 2 3\nv 1 5 6\nf 1 2 3\n");
    SimulationData data;
    NullProgress progress;
    load_obj_task(data, QString::fromStdString(path), 1, 3, progress);
    ASSERT_EQ(data.vertices.size(), 3u);
    EXPECT_EQ(data.vertices[2].y, 0.006);
    EXPECT_EQ(data.vertices[2].z, 0.005);
    EXPECT_TRUE(data.logText.contains("Original Vertical Axis = y axis\n"));
    EXPECT_TRUE(data.logText.contains("You may also save the extracted mesh.\n"));
    EXPECT_EQ(data.taskCount, 1u);
}

TEST(LoadObjTask, SkippedFaceLinesAreLoggedAfterTheDetails) {
    TempDir dir;
    const std::string path = dir.file("skips.obj");
    write_file(path, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2\nf 1 2 7\n");
    SimulationData data;
    NullProgress progress;
    load_obj_task(data, QString::fromStdString(path), 0, 1, progress);
    const QString skipped = skipped_face_lines_message(2, 5);
    EXPECT_TRUE(skipped.startsWith("2 face lines were skipped (first at line 5)"));
    EXPECT_TRUE(data.logText.endsWith(QString::fromStdString(kRule) + "\n\n" + skipped + "\n"))
        << data.logText.toStdString();
    EXPECT_EQ(data.faces.size(), 1u);
    EXPECT_TRUE(skipped_face_lines_message(1, 9).startsWith("1 face line was skipped (at line 9)"));
}

TEST(LoadObjTask, NothingReadGivesAnErrorAndNoModel) {
    TempDir dir;
    const std::string capitals = dir.file("model.OBJ");
    const std::string noVertex = dir.file("empty.obj");
    write_file(capitals, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    write_file(noVertex, "# nothing\nvt 0 0\n");
    for (const std::string& path : {capitals, noVertex}) {
        SimulationData data;
        NullProgress progress;
        try {
            load_obj_task(data, QString::fromStdString(path), 0, 1, progress);
            ADD_FAILURE() << path << ": no error";
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_TRUE(data.vertices.empty());
        EXPECT_TRUE(data.triangles.empty());
        EXPECT_EQ(data.taskCount, 0u);
    }
}

TEST(SaveMeshTask, WritesTheModelAndLogsThePath) {
    TempDir dir;
    const std::string in = dir.file("in.txt");
    const std::string out = dir.file("saved mesh.txt");
    write_file(in, kSmallMesh);
    SimulationData data;
    NullProgress progress;
    load_mesh_task(data, QString::fromStdString(in), progress);
    data.logText.clear();
    save_mesh_task(data, QString::fromStdString(out), progress);
    EXPECT_EQ(data.logText.toStdString(), "ASCII file of extracted mesh data saved, Path : " + out + "\n\n");
    EXPECT_EQ(read_file(out), "4 2 0\n-2.5 100 10\n10 100 12.345\n10 107.2 -0.004\n-2.5 107.2 3\n1 2 3\n1 3 4\n");
    EXPECT_EQ(data.taskCount, 2u);

    SimulationData empty;
    EXPECT_THROW(save_mesh_task(empty, QString::fromStdString(dir.file("none.txt")), progress), Refused);
}

TEST(PrepareModel, VerticesWithoutFacesGiveAnEmptyRootLeaf) {
    SimulationData data;
    data.vertices = {{0, 0, 0}, {2, 3, 4}};
    NullProgress progress;
    prepare_model(data, AsciiMesh, "z axis", progress);
    EXPECT_TRUE(data.triangles.empty());
    ASSERT_TRUE(data.octreeRoot);
    EXPECT_TRUE(data.octreeRoot->isLeaf);
    EXPECT_TRUE(data.octreeRoot->triangleIndices.empty());
    EXPECT_TRUE(data.logText.contains("No. of Triangles =  0\n"));
    EXPECT_TRUE(data.logText.contains("Bounding Box Area = 6.00 Sq m\n"));
}

TEST(SampleScene, DeterministicNearTheTargetAndWellFormed) {
    for (const std::size_t target : {std::size_t(60), std::size_t(20000), std::size_t(300000)}) {
        std::vector<Vertex> vertices, again;
        std::vector<Face> faces, facesAgain;
        make_sample_scene(vertices, faces, target);
        make_sample_scene(again, facesAgain, target);
        ASSERT_EQ(vertices.size(), again.size());
        ASSERT_EQ(faces.size(), facesAgain.size());
        EXPECT_TRUE(std::equal(vertices.begin(), vertices.end(), again.begin(),
                               [](const Vertex& a, const Vertex& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }));
        EXPECT_NEAR(static_cast<double>(faces.size()), static_cast<double>(target), 0.02 * target + 4) << target;
        for (const Face& f : faces) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_GE(f.v[k], 1);
                ASSERT_LE(static_cast<std::size_t>(f.v[k]), vertices.size());
            }
        }
        const ModelLimits l = compute_limits(vertices);
        EXPECT_EQ(l.minX, 0);
        EXPECT_EQ(l.maxX, 2000);
        EXPECT_EQ(l.maxY, 2000);
        // Buildings stand well above the levelled town ground.
        if (target < 20000) continue;
        const bool town = std::any_of(vertices.begin(), vertices.end(), [](const Vertex& v) {
            return v.z > sample_ground_height(v.x, v.y) + 4.0;
        });
        EXPECT_TRUE(town) << target;
    }
}

}  // namespace
