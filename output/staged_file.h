#pragma once
#include "output/writing_loop.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// An output file written under a temporary name in its target folder and
// put in place under its final name only when complete (a ChunkedFile): an
// interrupted or failed write leaves an existing file of that name as it
// was and no half-written file under it; a device is written directly.
class StagedFile {
public:
    // mode "w" or "wb". Throws OutputError when the file cannot be created.
    StagedFile(const QString& path, const char* mode);
    ~StagedFile();  // discards when not committed
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    ChunkedFile& file() { return *file_; }
    const QString& path() const { return path_; }

    // Overwrites bytes at `offset` from the start (a header counted at the
    // end) once all is written: done at commit, before the rename.
    void patch_at_commit(std::uint64_t offset, const void* data, std::size_t size);
    // Closes, applies the patch and renames over the final name. Throws
    // OutputError naming the file and the system's reason, with the
    // temporary file removed, when any step failed.
    void commit();
    // Closes and removes the temporary file.
    void discard() noexcept;

private:

    QString path_;
    std::unique_ptr<ChunkedFile> file_;
    std::uint64_t patchOffset_ = 0;
    std::string patch_;
    bool done_ = false;
};
