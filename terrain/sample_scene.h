#pragma once
#include "terrain/mesh.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A made-up survey area for demonstrations and benchmarks: 2 km x 2 km of
// rolling terrain (x and y from 0 to 2000 m) with a hill, a winding valley and
// a small town of box buildings with flat and gabled roofs on a levelled
// patch. The same target always gives the same scene.
//
// Appends about targetTriangles faces (and their vertices) to the lists;
// faces are 1-based as the model files give them. The town takes about 2000
// triangles (fewer buildings below a target of about 8,000), the terrain
// grid the rest, at least two triangles.
void make_sample_scene(std::vector<Vertex>& vertices, std::vector<Face>& faces, std::size_t targetTriangles);
// The same scene, also appending one ASPRS class per face to `faceClasses`:
// 2 (ground) for the terrain grid, 6 (building) for the town.
void make_sample_scene(std::vector<Vertex>& vertices, std::vector<Face>& faces, std::size_t targetTriangles,
                       std::vector<std::uint8_t>& faceClasses);

// Height of the scene's ground at (x, y), metres.
double sample_ground_height(double x, double y);
