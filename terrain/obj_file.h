#pragma once
#include "terrain/mesh.h"
#include "terrain/surface_classes.h"

#include <QString>
#include <cstddef>
#include <vector>

// Wavefront OBJ import: vertex positions ("v" lines) and faces ("f" lines)
// only; every other line is skipped.

// What the reader passed over: face lines with fewer than three vertex
// references, a reference 0, one beyond the vertices read so far, or a
// reference that is not a number.
struct ObjReadReport {
    std::size_t skippedFaceLines = 0;
    std::size_t firstSkippedLine = 0;  // 1-based line number, 0 when none was skipped
};

// Divisor from the unit of the unit dialog to metres: 1 Meters (none),
// 2 Centimeters 100, 3 Millimeters 1000, 4 Feet 3.28084, 5 Inches 39.3701.
// Any other choice is taken as metres.
double obj_unit_divisor(int unitChoice);

// Appends the file's vertices, converted to metres, and its faces to the
// lists (the caller has emptied them; face numbers count the file's vertices
// from 1). A face line with four or more references gives the faces
// (r1, r2, r3) and (r1, r4, r3); references after the fourth are ignored.
// Negative references count back from the latest vertex line.
// Throws InputError when the file cannot be read, or when a vertex line does
// not hold three numbers (its faces would refer to the wrong vertices).
ObjReadReport read_obj_file(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                            int unitChoice);
// The same, also appending one class per face to `faceClasses`: the class
// of the material in effect ("usemtl" line), or without one of the latest
// object or group ("o", "g"), by class_of_name with `table`; 1 before any.
ObjReadReport read_obj_file(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                            int unitChoice, std::vector<std::uint8_t>& faceClasses, const ClassTable& table);

// (x, y, z) -> (x, z, y) for every vertex: a model with y as its vertical
// axis gets z up. This mirrors the model; it does not rotate it.
void swap_y_z(std::vector<Vertex>& vertices);
