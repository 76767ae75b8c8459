#include "products/product_file.h"

ProductFile::ProductFile(const QString& path) : file_(std::make_unique<ChunkedFile>(path, "wb")) {}

ProductFile::~ProductFile() { abandon(); }

void ProductFile::finish(const void* patch, std::size_t size, std::uint64_t offset) {
    if (size != 0) file_->write_at(offset, patch, size);
    file_->close();
}

void ProductFile::abandon() noexcept { file_->abandon(); }
