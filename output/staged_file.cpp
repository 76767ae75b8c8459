#include "output/staged_file.h"

// ChunkedFile does the staging: a temporary file beside the final one,
// renamed over it when complete, a device written directly, every failure
// an OutputError naming the file and the system's reason.
StagedFile::StagedFile(const QString& path, const char* mode)
    : path_(path), file_(std::make_unique<ChunkedFile>(path, mode)) {}

StagedFile::~StagedFile() { discard(); }

void StagedFile::patch_at_commit(std::uint64_t offset, const void* data, std::size_t size) {
    patchOffset_ = offset;
    patch_.assign(static_cast<const char*>(data), size);
}


void StagedFile::commit() {
    if (done_) return;
    if (!patch_.empty()) file_->write_at(patchOffset_, patch_.data(), patch_.size());
    file_->close();
    done_ = true;
}

void StagedFile::discard() noexcept {
    if (done_) return;
    done_ = true;
    file_->abandon();
}
