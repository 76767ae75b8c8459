#pragma once
#include "app/progress.h"
#include "terrain/mesh.h"

#include <QString>
#include <vector>

// The program's own ASCII mesh format: a header "nV nF 0", nV lines "x y z",
// nF lines of three 1-based vertex numbers. Any white space separates the
// numbers; the line structure is not required when reading.

// Appends the file's vertices and faces to the lists (the caller has emptied
// them). Progress: value 0, range 0..nV+nF, the position every twentieth of
// the vertices and of the faces, value 0 at the end.
// Throws InputError naming the file, the line and the offending text when the
// file cannot be opened, the header is not three non-negative integers, a
// value is not a number, the file ends before the announced values, a face
// refers to a vertex outside 1..nV, or the file holds no vertices. The lists
// may then hold part of the file.
void read_mesh_file(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                    Progress& progress);

// Creates or truncates the file and writes the lists; coordinates with six
// significant digits. Progress: range 0..nV+nF, value 0, the position every
// twentieth of the vertices and of the faces, nV+nF at the end. Written
// atomically through ChunkedFile: a file that cannot be created or fully
// written throws OutputError naming it and the system's reason, and an
// existing file of that name stays as it was.
void write_mesh_file(const std::vector<Vertex>& vertices, const std::vector<Face>& faces,
                     const QString& fileName, Progress& progress);
