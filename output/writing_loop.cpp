#include "output/writing_loop.h"

#include <QFile>

WritingLoopProgress::WritingLoopProgress(Progress& progress, std::size_t n)
    : progress_(progress), n_(n), step_(n / 20) {
    progress_.setValue(0);
    progress_.setRange(0, static_cast<int>(n));
}

ChunkedFile::ChunkedFile(const QString& path, const char* mode) {
    const QByteArray local = QFile::encodeName(path);
    file_ = std::fopen(local.constData(), mode);
    ok_ = file_ != nullptr;
    if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);  // our own buffer is big enough
    buffer_.reserve(kChunk + (std::size_t(64) << 10));
}

ChunkedFile::~ChunkedFile() { close(); }

void ChunkedFile::flush() {
    if (file_ && !buffer_.empty()) {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) ok_ = false;
    }
    buffer_.clear();
}

void ChunkedFile::write_raw(const void* data, std::size_t size) {
    flush();
    if (file_ && size != 0 && std::fwrite(data, 1, size, file_) != size) ok_ = false;
}

bool ChunkedFile::close() {
    if (file_) {
        flush();
        if (std::fclose(file_) != 0) ok_ = false;
        file_ = nullptr;
    }
    buffer_.clear();
    return ok_;
}
