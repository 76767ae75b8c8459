#pragma once
#include "output/writing_loop.h"

#include <QString>
#include <cstdint>
#include <memory>

// A product file written under a temporary name in the target folder and
// put in place under its final name by finish(); abandon() (or destruction
// without finish) removes the temporary file, so an existing file of the
// final name is never half overwritten.
class ProductFile {
public:
    explicit ProductFile(const QString& path);
    ~ProductFile();
    ProductFile(const ProductFile&) = delete;
    ProductFile& operator=(const ProductFile&) = delete;

    ChunkedFile& file() { return *file_; }
    // Closes the file, overwrites `size` bytes at `offset` with `bytes` when
    // size > 0 (a header known only at the end), and renames it over the
    // final name. Throws OutputError naming the file and the system's reason.
    void finish(const void* patch = nullptr, std::size_t size = 0, std::uint64_t offset = 0);
    void abandon() noexcept;
    const QString& path() const { return path_; }

private:
    QString path_;
    QString temporary_;
    std::unique_ptr<ChunkedFile> file_;
    bool open_ = false;
};
