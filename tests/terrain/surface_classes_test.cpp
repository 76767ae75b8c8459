// Class labels of the model's triangles: keyword matching, the keyword file,
// the OBJ reader's labels, the sample scene's, and the Delft model checked
// against counts taken straight from its text.
#include "app/failure.h"
#include "app/progress.h"
#include "app/simulation_data.h"
#include "support/test_support.h"
#include "terrain/obj_file.h"
#include "terrain/sample_scene.h"
#include "terrain/surface_classes.h"
#include "terrain/terrain_tasks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

using testing::AllOf;
using testing::HasSubstr;
using testing::ThrowsMessage;
using testing_support::TempDir;
using testing_support::write_file;

TEST(SurfaceClasses, KeywordsAreWholeWordsOfTheName) {
    const std::pair<const char*, int> cases[] = {
        {"Terrain", 2},        {"BuildingWall", 6}, {"RoadWall", 11},    {"TerrainWall", 2}, {"Separation", 1},
        {"SeparationWall", 6}, {"WATER", 9},        {"bridge-deck", 17}, {"street_trees", 5}, {"Streets", 1},
        {"roofs", 6},          {"groundwork", 1},   {"my tree 3", 5},    {"", 1},            {"Forest2", 1},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(class_of_name(name, {}), expected) << name;

    const ClassTable own = {{"street", 11}, {"roof", 20}};
    EXPECT_EQ(class_of_name("Streets", own), 11);
    EXPECT_EQ(class_of_name("RoofTerrain", own), 20);
    EXPECT_EQ(class_of_name("Terrain", own), 1);  // the file replaces the whole table
}

TEST(SurfaceClasses, TableFileIsReadOrRefusedWithItsLine) {
    TempDir dir;
    write_file(dir.file("ok.txt"), "# my classes\n\nStreet 11\r\n  pylon\t15 \n");
    const ClassTable table = read_class_table(QString::fromStdString(dir.file("ok.txt")));
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].word, "street");
    EXPECT_EQ(table[1].classCode, 15);
    const std::pair<const char*, const char*> bad[] = {
        {"street\n", "line 1"},        {"street 256\n", "line 1"}, {"a 1\nstreet eleven\n", "line 2"},
        {"two words 3\n", "line 1"},   {"# nothing\n", "holds no"},
    };
    for (const auto& [text, where] : bad) {
        write_file(dir.file("bad.txt"), text);
        EXPECT_THAT([&] { read_class_table(QString::fromStdString(dir.file("bad.txt"))); },
                    ThrowsMessage<InputError>(AllOf(HasSubstr(where), HasSubstr("bad.txt"))))
            << text;
    }
    EXPECT_THROW(read_class_table(QString::fromStdString(dir.file("missing.txt"))), InputError);
}

TEST(SurfaceClasses, ObjFacesTakeTheMaterialElseTheGroup) {
    TempDir dir;
    write_file(dir.file("m.obj"),
               "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
               "f 1 2 3\n"             // before any name: 1
               "o Tree_17\nf 1 2 3 4\n"  // a quad: two faces of the object's class
               "g roofs\nf 1 2 3\n"
               "usemtl Water\nf 1 2 3\n"
               "g Building\nf 1 2 3\n"  // the material still holds
               "usemtl\tRoadSurface\r\nf 1 2 3\n"
               "f 1 2 9\n");           // skipped face: no class either
    std::vector<Vertex> v;
    std::vector<Face> f;
    std::vector<std::uint8_t> classes;
    read_obj_file(v, f, QString::fromStdString(dir.file("m.obj")), 1, classes, {});
    EXPECT_EQ(classes, (std::vector<std::uint8_t>{1, 5, 5, 6, 9, 9, 11}));
    ASSERT_EQ(f.size(), classes.size());
}

TEST(SurfaceClasses, SampleSceneLabelsGroundAndBuildings) {
    std::vector<Vertex> v1, v2;
    std::vector<Face> f1, f2;
    std::vector<std::uint8_t> classes;
    make_sample_scene(v1, f1, 20000);
    make_sample_scene(v2, f2, 20000, classes);
    ASSERT_EQ(f1.size(), f2.size());
    ASSERT_EQ(classes.size(), f2.size());
    // Ground faces lie on the terrain grid; buildings stand on the town's patch.
    std::size_t ground = 0;
    for (std::size_t i = 0; i < f2.size(); ++i) {
        EXPECT_EQ(f1[i].v[0], f2[i].v[0]);
        const Vertex& a = v2[static_cast<std::size_t>(f2[i].v[0] - 1)];
        if (classes[i] == 2) {
            ++ground;
            EXPECT_NEAR(a.z, sample_ground_height(a.x, a.y), 1e-9) << "face " << i;
        } else {
            EXPECT_EQ(classes[i], 6);
        }
    }
    EXPECT_GT(ground, f2.size() * 3 / 4);
    EXPECT_LT(ground, f2.size());
}

namespace {

// The Delft model read with nothing but text scanning: the faces of each
// material (a quad counts twice).
std::map<std::string, std::size_t> faces_by_material(const std::string& path) {
    std::istringstream in(testing_support::read_file(path));
    std::map<std::string, std::size_t> out;
    std::string material = "(none)";
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string key, word;
        fields >> key;
        if (key == "usemtl") fields >> material;
        int refs = 0;
        while (key == "f" && fields >> word) ++refs;
        out[material] += std::min(std::max(refs - 2, 0), 2);
    }
    return out;
}

}  // namespace

TEST(SurfaceClasses, DelftModelLabelsMatchItsMaterials) {
    const std::string path = testing_support::real_data_path("3dfier/testarea.obj");
    // Each material of the file and the class its name stands for.
    const std::map<std::string, int> expectedClass = {
        {"Terrain", 2},  {"TerrainWall", 2},  {"Forest", 5},   {"ForestWall", 5},    {"Building", 6},
        {"BuildingWall", 6}, {"Water", 9},   {"WaterWall", 9}, {"Road", 11},         {"RoadWall", 11},
        {"Bridge", 17},  {"BridgeWall", 17}, {"Separation", 1}, {"SeparationWall", 6},
    };
    std::map<int, std::size_t> facesByClass;
    for (const auto& [material, faces] : faces_by_material(path)) {
        if (!faces) continue;
        ASSERT_TRUE(expectedClass.count(material)) << "unexpected material " << material;
        facesByClass[expectedClass.at(material)] += faces;
    }

    SimulationData data;
    NullProgress progress;
    open_obj_begin(data);
    obj_file_chosen(data, progress);
    load_obj_task(data, QString::fromStdString(path), 0, 1, progress);
    ASSERT_EQ(data.faceClasses.size(), data.faces.size());
    std::map<int, std::size_t> loaded;
    for (std::uint8_t c : data.faceClasses) ++loaded[c];
    EXPECT_EQ(loaded, facesByClass);
}
