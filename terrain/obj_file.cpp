#include "terrain/obj_file.h"

#include "app/failure.h"
#include "terrain/text_scan.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

using terrain_text::quoted_excerpt;

namespace {

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Blank- or tab-separated fields of one line.
class LineFields {
public:
    LineFields(const char* b, const char* e) : p_(b), end_(e) {}
    bool next(const char*& b, const char*& e) {
        while (p_ != end_ && is_blank(*p_)) ++p_;
        if (p_ == end_) return false;
        b = p_;
        while (p_ != end_ && !is_blank(*p_)) ++p_;
        e = p_;
        return true;
    }

private:
    const char* p_;
    const char* end_;
};

// The vertex number of one face reference ("i", "i/t", "i//n", "i/t/n"),
// resolved against the vertices read so far. 0 when it is not usable.
std::int64_t resolve_reference(const char* b, const char* e, std::int64_t vertexCount) {
    const char* slash = static_cast<const char*>(std::memchr(b, '/', static_cast<std::size_t>(e - b)));
    std::int64_t i = 0;
    if (!terrain_text::parse_integer(b, slash ? slash : e, i)) return 0;
    // Negative numbers count back from the latest vertex: -1 is the last one.
    if (i < 0) i = vertexCount + i + 1;
    if (i < 1 || i > vertexCount) return 0;
    return i;
}

ObjReadReport read_obj(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                       int unitChoice, std::vector<std::uint8_t>* faceClasses, const ClassTable* table);

// The rest of a line after its keyword, without surrounding blanks.
std::string trimmed_name(const char* b, const char* e) {
    while (b != e && is_blank(*b)) ++b;
    while (e != b && is_blank(e[-1])) --e;
    return std::string(b, e);
}

}  // namespace

double obj_unit_divisor(int unitChoice) {
    switch (unitChoice) {
    case 2: return 100.0;
    case 3: return 1000.0;
    case 4: return 3.28084;
    case 5: return 39.3701;
    default: return 1.0;
    }
}

ObjReadReport read_obj_file(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                            int unitChoice) {
    return read_obj(vertices, faces, fileName, unitChoice, nullptr, nullptr);
}

ObjReadReport read_obj_file(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                            int unitChoice, std::vector<std::uint8_t>& faceClasses, const ClassTable& table) {
    return read_obj(vertices, faces, fileName, unitChoice, &faceClasses, &table);
}

namespace {

ObjReadReport read_obj(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                       int unitChoice, std::vector<std::uint8_t>* faceClasses, const ClassTable* table) {
    const std::string name = fileName.toStdString();
    std::string text;
    if (!terrain_text::read_whole_file(fileName, text))
        throw InputError("Cannot open the 3D model file \"" + name + "\" for reading.");

    const double divisor = obj_unit_divisor(unitChoice);
    const bool convert = divisor != 1.0;  // metres are taken as they are
    ObjReadReport report;
    const std::size_t vertexBase = vertices.size();

    // A rough guess that saves most of the regrowing on big files.
    vertices.reserve(vertexBase + text.size() / 64);
    faces.reserve(faces.size() + text.size() / 48);
    if (faceClasses) faceClasses->reserve(faceClasses->size() + text.size() / 48);
    std::uint8_t currentClass = kUnclassified;
    bool materialSet = false;

    const char* p = text.data();
    const char* const end = p + text.size();
    std::size_t lineNumber = 0;
    while (p != end) {
        ++lineNumber;
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* next = lineEnd ? lineEnd + 1 : end;
        if (!lineEnd) lineEnd = end;
        const char* lineStart = p;
        p = next;
        if (faceClasses && lineStart[0] == 'u' && lineEnd - lineStart > 6 && std::memcmp(lineStart, "usemtl", 6) == 0 &&
            is_blank(lineStart[6])) {
            currentClass = class_of_name(trimmed_name(lineStart + 6, lineEnd), *table);
            materialSet = true;
            continue;
        }
        if (lineEnd - lineStart < 2 || (lineStart[1] != ' ' && lineStart[1] != '\t')) continue;
        if (faceClasses && !materialSet && (lineStart[0] == 'o' || lineStart[0] == 'g')) {
            currentClass = class_of_name(trimmed_name(lineStart + 2, lineEnd), *table);
            continue;
        }

        if (lineStart[0] == 'v') {
            LineFields fields(lineStart + 2, lineEnd);
            double xyz[3];
            for (double& value : xyz) {
                const char* b = nullptr;
                const char* e = nullptr;
                if (!fields.next(b, e) || !terrain_text::parse_double(b, e, value)) {
                    while (lineEnd != lineStart && is_blank(lineEnd[-1])) --lineEnd;
                    throw InputError("3D model file \"" + name + "\", line " + std::to_string(lineNumber) +
                                     ": a vertex line must hold three numbers x y z, but it reads " +
                                     quoted_excerpt(lineStart, lineEnd) + ".");
                }
            }
            if (convert) {
                for (double& value : xyz) value /= divisor;
            }
            vertices.push_back(Vertex{xyz[0], xyz[1], xyz[2]});
        } else if (lineStart[0] == 'f') {
            const auto vertexCount = static_cast<std::int64_t>(vertices.size() - vertexBase);
            LineFields fields(lineStart + 2, lineEnd);
            std::int64_t refs[4];
            int count = 0;
            bool usable = true;
            const char* b = nullptr;
            const char* e = nullptr;
            while (count < 4 && fields.next(b, e)) {
                refs[count] = resolve_reference(b, e, vertexCount);
                if (refs[count] == 0) {
                    usable = false;
                    break;
                }
                ++count;
            }
            if (!usable || count < 3) {
                if (report.skippedFaceLines++ == 0) report.firstSkippedLine = lineNumber;
                continue;
            }
            Face f;
            f.v[0] = static_cast<std::int32_t>(refs[0]);
            f.v[1] = static_cast<std::int32_t>(refs[1]);
            f.v[2] = static_cast<std::int32_t>(refs[2]);
            faces.push_back(f);
            if (faceClasses) faceClasses->push_back(currentClass);
            if (count == 4) {
                f.v[1] = static_cast<std::int32_t>(refs[3]);
                faces.push_back(f);
                if (faceClasses) faceClasses->push_back(currentClass);
            }
        }
    }
    return report;
}

}  // namespace

void swap_y_z(std::vector<Vertex>& vertices) {
    for (Vertex& v : vertices) std::swap(v.y, v.z);
}
