#include "terrain/mesh_file.h"

#include "app/failure.h"
#include "app/number_text.h"
#include "output/writing_loop.h"
#include "terrain/text_scan.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <string>

using terrain_text::is_space;
using terrain_text::quoted_excerpt;

namespace {

// Walks the file's text token by token, counting lines for the messages.
class TokenScanner {
public:
    TokenScanner(const std::string& text, std::string fileName)
        : p_(text.data()), end_(text.data() + text.size()), fileName_(std::move(fileName)) {}

    // The next white-space separated token; false at the end of the text.
    bool next(const char*& b, const char*& e) {
        while (p_ != end_ && is_space(*p_)) {
            if (*p_ == '\n') ++line_;
            ++p_;
        }
        if (p_ == end_) return false;
        tokenLine_ = line_;
        b = p_;
        while (p_ != end_ && !is_space(*p_)) ++p_;
        e = p_;
        return true;
    }

    [[noreturn]] void fail_at_line(const std::string& what) const {
        throw InputError("Mesh file \"" + fileName_ + "\", line " + std::to_string(line_) + ": " + what);
    }
    [[noreturn]] void fail_at_end(const std::string& inside, std::size_t number, std::size_t count) const {
        throw InputError("Mesh file \"" + fileName_ + "\" ends at line " + std::to_string(tokenLine_) + " inside " +
                         inside + " " + std::to_string(number) + " of the " + std::to_string(count) +
                         " announced by its header.");
    }

private:
    const char* p_;
    const char* end_;
    std::size_t line_ = 1;
    std::size_t tokenLine_ = 1;  // line of the latest token: where the text ends
    std::string fileName_;
};

const char* const kHeaderRule = "the header must hold three non-negative integers (vertex count, face count, 0)";

// The progress rule of both directions: before item i, when i has reached the
// threshold, show base + i and move the threshold on by a twentieth of the
// items (with fewer than 20 items the step is 0 and every item shows).
class ProgressSteps {
public:
    ProgressSteps(Progress& progress, std::size_t count, std::size_t base)
        : progress_(progress), step_(count / 20), base_(base) {}
    void before(std::size_t i) {
        if (i >= threshold_) {
            progress_.setValue(static_cast<int>(base_ + i));
            threshold_ += step_;
        }
    }

private:
    Progress& progress_;
    std::size_t threshold_ = 0;
    std::size_t step_;
    std::size_t base_;
};

}  // namespace

void read_mesh_file(std::vector<Vertex>& vertices, std::vector<Face>& faces, const QString& fileName,
                    Progress& progress) {
    const std::string name = fileName.toStdString();
    std::string text;
    if (!terrain_text::read_whole_file(fileName, text))
        throw InputError("Cannot open the mesh file \"" + name + "\" for reading.");
    TokenScanner scan(text, name);
    const char* b = nullptr;
    const char* e = nullptr;

    // Header: vertex count, face count and a third number that is ignored.
    std::uint64_t header[3] = {0, 0, 0};
    for (std::uint64_t& value : header) {
        if (!scan.next(b, e)) scan.fail_at_line(std::string("the file ends inside its header; ") + kHeaderRule + ".");
        if (!terrain_text::parse_integer(b, e, value))
            scan.fail_at_line(std::string(kHeaderRule) + ", but " + quoted_excerpt(b, e) + " is not one.");
    }
    const std::uint64_t nV = header[0];
    const std::uint64_t nF = header[1];
    if (nV == 0) scan.fail_at_line("the header announces no vertices; a mesh needs at least one.");
    // Face numbers are 32-bit and the progress bar counts to nV + nF in an int.
    if (nV + nF > static_cast<std::uint64_t>(INT_MAX) || nV > INT32_MAX || nF > INT32_MAX)
        scan.fail_at_line("the header announces " + std::to_string(nV) + " vertices and " + std::to_string(nF) +
                          " faces, more than this program can hold.");

    progress.setValue(0);
    progress.setRange(0, static_cast<int>(nV + nF));

    // Every value takes at least two characters, so a header announcing more
    // than the file can hold must not make us reserve for it.
    const std::uint64_t valuesPossible = text.size() / 2 + 1;
    vertices.reserve(vertices.size() + static_cast<std::size_t>(std::min(nV, valuesPossible / 3)));
    faces.reserve(faces.size() + static_cast<std::size_t>(std::min(nF, valuesPossible / 3)));

    static const char* const kAxis[3] = {"x", "y", "z"};
    ProgressSteps vertexSteps(progress, nV, 0);
    for (std::size_t i = 0; i < nV; ++i) {
        vertexSteps.before(i);
        double xyz[3];
        for (int k = 0; k < 3; ++k) {
            if (!scan.next(b, e)) scan.fail_at_end("vertex", i + 1, nV);
            if (!terrain_text::parse_double(b, e, xyz[k]))
                scan.fail_at_line(quoted_excerpt(b, e) + " is not a number (" + kAxis[k] + " of vertex " +
                                  std::to_string(i + 1) + ").");
        }
        vertices.push_back(Vertex{xyz[0], xyz[1], xyz[2]});
    }

    ProgressSteps faceSteps(progress, nF, nV);
    for (std::size_t j = 0; j < nF; ++j) {
        faceSteps.before(j);
        Face f;
        for (int k = 0; k < 3; ++k) {
            if (!scan.next(b, e)) scan.fail_at_end("face", j + 1, nF);
            std::int64_t index = 0;
            if (!terrain_text::parse_integer(b, e, index))
                scan.fail_at_line(quoted_excerpt(b, e) + " is not a vertex number (face " + std::to_string(j + 1) +
                                  ").");
            if (index < 1 || static_cast<std::uint64_t>(index) > nV)
                scan.fail_at_line("face " + std::to_string(j + 1) + " refers to vertex " + std::to_string(index) +
                                  ", but the vertices are numbered 1 to " + std::to_string(nV) + ".");
            f.v[k] = static_cast<std::int32_t>(index);
        }
        faces.push_back(f);
    }
    // Numbers after the announced ones are never read.
    progress.setValue(0);
}

namespace {

// Collects the text in a big buffer and hands it to the file in large
// blocks: a million-triangle model is some 60 MB of text.
class BlockWriter {
public:
    explicit BlockWriter(const QString& fileName) : file_(fileName) { buffer_.reserve(kBlock + 256); }
    std::string& buffer() { return buffer_; }
    void flush_if_full() {
        if (buffer_.size() >= kBlock) flush();
    }
    void flush() {
        file_.write_raw(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    void close() {
        flush();
        file_.close();
    }

private:
    static constexpr std::size_t kBlock = ChunkedFile::kChunk;
    ChunkedFile file_;
    std::string buffer_;
};

void append_int(std::string& out, long long value) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, r.ptr);
}

}  // namespace

void write_mesh_file(const std::vector<Vertex>& vertices, const std::vector<Face>& faces,
                     const QString& fileName, Progress& progress) {
    const std::size_t nV = vertices.size();
    const std::size_t nF = faces.size();
    progress.setRange(0, static_cast<int>(nV + nF));

    BlockWriter writer(fileName);
    std::string& out = writer.buffer();
    append_int(out, static_cast<long long>(nV));
    out += ' ';
    append_int(out, static_cast<long long>(nF));
    out += " 0\n";
    progress.setValue(0);

    ProgressSteps vertexSteps(progress, nV, 0);
    for (std::size_t i = 0; i < nV; ++i) {
        vertexSteps.before(i);
        const Vertex& v = vertices[i];
        append_g6(out, v.x);
        out += ' ';
        append_g6(out, v.y);
        out += ' ';
        append_g6(out, v.z);
        out += '\n';
        writer.flush_if_full();
    }

    ProgressSteps faceSteps(progress, nF, nV);
    for (std::size_t j = 0; j < nF; ++j) {
        faceSteps.before(j);
        const Face& f = faces[j];
        append_int(out, f.v[0]);
        out += ' ';
        append_int(out, f.v[1]);
        out += ' ';
        append_int(out, f.v[2]);
        out += '\n';
        writer.flush_if_full();
    }
    writer.close();
    progress.setValue(static_cast<int>(nV + nF));
}
