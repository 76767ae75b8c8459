// Loading and preparing a big terrain model: the sample scene (about a
// million triangles by default) is written as an ASCII mesh and as an OBJ
// file, then each step of a load is timed on its own, and the whole load
// through the task functions.
//
//   terrain_load_bench [targetTriangles]
#include "app/number_text.h"
#include "app/simulation_data.h"
#include "bench/bench_support.h"
#include "terrain/mesh_file.h"
#include "terrain/obj_file.h"
#include "terrain/octree.h"
#include "terrain/sample_scene.h"
#include "terrain/terrain_tasks.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

void write_obj(const std::vector<Vertex>& vertices, const std::vector<Face>& faces, const std::string& path) {
    std::string text = "# sample scene\n";
    for (const Vertex& v : vertices) {
        text += "v ";
        append_g6(text, v.x);
        text += ' ';
        append_g6(text, v.y);
        text += ' ';
        append_g6(text, v.z);
        text += '\n';
    }
    char digits[16];
    for (const Face& f : faces) {
        text += 'f';
        for (int k = 0; k < 3; ++k) {
            text += ' ';
            text.append(digits, std::to_chars(digits, digits + sizeof digits, f.v[k]).ptr);
        }
        text += '\n';
    }
    std::ofstream(path, std::ios::binary) << text;
}

struct TreeStats {
    std::size_t nodes = 0, leaves = 0, entries = 0, largestLeaf = 0;
    int depth = 0;
};

void gather(const OctreeNode& node, int depth, TreeStats& s) {
    ++s.nodes;
    s.depth = std::max(s.depth, depth);
    if (node.isLeaf) {
        ++s.leaves;
        s.entries += node.triangleIndices.size();
        s.largestLeaf = std::max(s.largestLeaf, node.triangleIndices.size());
        return;
    }
    for (const auto& child : node.children) gather(*child, depth + 1, s);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t target = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "pointfall-terrain-bench-XXXXXX").string();
    if (!mkdtemp(dirTemplate.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string meshPath = dirTemplate + "/scene.txt";
    const std::string objPath = dirTemplate + "/scene.obj";
    NullProgress progress;
    bench::Stopwatch watch;

    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    make_sample_scene(vertices, faces, target);
    std::printf("sample scene: %zu vertices, %zu triangles (%.3f s)\n", vertices.size(), faces.size(),
                watch.seconds());

    watch.restart();
    write_mesh_file(vertices, faces, QString::fromStdString(meshPath), progress);
    std::printf("write_mesh_file    %7.3f s  (%.1f MB)\n", watch.seconds(),
                std::filesystem::file_size(meshPath) / 1e6);
    write_obj(vertices, faces, objPath);
    vertices.clear();
    vertices.shrink_to_fit();
    faces.clear();
    faces.shrink_to_fit();

    // The steps one by one.
    std::vector<Vertex> v;
    std::vector<Face> f;
    std::vector<Triangle> triangles;
    watch.restart();
    read_mesh_file(v, f, QString::fromStdString(meshPath), progress);
    std::printf("read_mesh_file     %7.3f s\n", watch.seconds());
    watch.restart();
    const ModelLimits l = compute_limits(v);
    std::printf("compute_limits     %7.3f s\n", watch.seconds());
    watch.restart();
    generate_mesh(v, f, triangles);
    std::printf("generate_mesh      %7.3f s\n", watch.seconds());
    watch.restart();
    sort_mesh(triangles);
    std::printf("sort_mesh          %7.3f s\n", watch.seconds());
    watch.restart();
    {
        OctreeNode root;
        create_octree(triangles, root, {l.maxX, l.maxY, l.maxZ}, {l.minX, l.minY, l.minZ});
        const double seconds = watch.seconds();
        TreeStats s;
        gather(root, 0, s);
        std::printf("create_octree      %7.3f s  (%zu nodes, %zu leaves, depth %d, %zu entries, largest leaf %zu)\n",
                    seconds, s.nodes, s.leaves, s.depth, s.entries, s.largestLeaf);
    }
    v = {};
    f = {};
    triangles = {};

    // The whole loads, as the program runs them.
    {
        SimulationData data;
        watch.restart();
        const std::clock_t cpu = std::clock();
        open_mesh_begin(data);
        load_mesh_task(data, QString::fromStdString(meshPath), progress);
        std::printf("whole mesh load    %7.3f s  (load_mesh_task: read + prepare; CPU %.3f s)\n", watch.seconds(),
                    static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    }
    {
        std::vector<Vertex> ov;
        std::vector<Face> of;
        watch.restart();
        read_obj_file(ov, of, QString::fromStdString(objPath), 1);
        std::printf("read_obj_file      %7.3f s  (%zu faces, %.1f MB)\n", watch.seconds(), of.size(),
                    std::filesystem::file_size(objPath) / 1e6);
    }
    {
        SimulationData data;
        watch.restart();
        const std::clock_t cpu = std::clock();
        open_obj_begin(data);
        obj_file_chosen(data, progress);
        load_obj_task(data, QString::fromStdString(objPath), 0, 1, progress);
        std::printf("whole OBJ load     %7.3f s  (load_obj_task: read + prepare; CPU %.3f s)\n", watch.seconds(),
                    static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    }
    std::printf("process CPU time   %7.3f s\n", static_cast<double>(std::clock()) / CLOCKS_PER_SEC);
    std::printf("peak memory        %7.1f MiB\n", bench::peak_memory_mib());

    std::filesystem::remove_all(dirTemplate);
    return 0;
}
