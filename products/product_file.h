#pragma once
#include "output/writing_loop.h"

#include <QString>
#include <cstdint>
#include <memory>

// A product file: a ChunkedFile (written under a temporary name and put in
// place by a successful finish, so an existing file of the final name is
// never half overwritten) that can complete its header at the end.
class ProductFile {
public:
    // Throws OutputError naming the file and the system's reason.
    explicit ProductFile(const QString& path);
    ~ProductFile();
    ProductFile(const ProductFile&) = delete;
    ProductFile& operator=(const ProductFile&) = delete;

    ChunkedFile& file() { return *file_; }
    // Overwrites `size` bytes at `offset` with `patch` when size > 0 (a
    // header known only at the end), closes the file and puts it in place.
    // Throws OutputError naming the file and the system's reason.
    void finish(const void* patch = nullptr, std::size_t size = 0, std::uint64_t offset = 0);
    // Removes what was written; the final name stays as it was.
    void abandon() noexcept;

private:
    std::unique_ptr<ChunkedFile> file_;
};
