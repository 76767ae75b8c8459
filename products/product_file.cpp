#include "products/product_file.h"

#include "app/failure.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string reason() { return errno != 0 ? std::strerror(errno) : "unknown error"; }

}  // namespace

ProductFile::ProductFile(const QString& path) : path_(path) {
    const QFileInfo info(path);
    temporary_ = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".partial");
    errno = 0;
    // Probe the folder first: ChunkedFile keeps quiet about a failed open.
    std::FILE* probe = std::fopen(QFile::encodeName(temporary_).constData(), "wb");
    if (!probe)
        throw OutputError("Cannot write \"" + path.toStdString() + "\": " + reason() + ".");
    std::fclose(probe);
    file_ = std::make_unique<ChunkedFile>(temporary_, "wb");
    open_ = true;
}

ProductFile::~ProductFile() { abandon(); }

void ProductFile::finish(const void* patch, std::size_t size, std::uint64_t offset) {
    const std::string name = path_.toStdString();
    errno = 0;
    const bool written = file_->close();
    if (!written) {
        const std::string why = reason();
        abandon();
        throw OutputError("Cannot write \"" + name + "\": " + why + ".");
    }
    const QByteArray temporary = QFile::encodeName(temporary_);
    if (size != 0) {
        errno = 0;
        std::FILE* f = std::fopen(temporary.constData(), "r+b");
        bool ok = f != nullptr && std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
                  std::fwrite(patch, 1, size, f) == size;
        if (f && std::fclose(f) != 0) ok = false;
        if (!ok) {
            const std::string why = reason();
            abandon();
            throw OutputError("Cannot write \"" + name + "\": " + why + ".");
        }
    }
    errno = 0;
    if (std::rename(temporary.constData(), QFile::encodeName(path_).constData()) != 0) {
        const std::string why = reason();
        abandon();
        throw OutputError("Cannot put \"" + name + "\" in place: " + why + ".");
    }
    open_ = false;
}

void ProductFile::abandon() noexcept {
    if (!open_) return;
    open_ = false;
    if (file_) file_->close();
    std::remove(QFile::encodeName(temporary_).constData());
}
