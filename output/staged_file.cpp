#include "output/staged_file.h"

#include "app/failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

std::atomic<unsigned> g_serial{0};

QString temporary_name(const QString& path) {
    const QFileInfo info(path);
    return info.dir().filePath(QStringLiteral(".%1.%2-%3.part")
                                   .arg(info.fileName())
                                   .arg(static_cast<qlonglong>(::getpid()))
                                   .arg(g_serial.fetch_add(1)));
}

}  // namespace

StagedFile::StagedFile(const QString& path, const char* mode) : path_(path), temporary_(temporary_name(path)) {
    // "x": never write into a file somebody else made under the same name.
    const std::string exclusive = std::string(mode) + "x";
    errno = 0;
    file_ = std::make_unique<ChunkedFile>(temporary_, exclusive.c_str());
    if (!file_->is_open()) openError_ = errno ? std::strerror(errno) : "it could not be created";
}

StagedFile::~StagedFile() { discard(); }

void StagedFile::patch_at_commit(std::uint64_t offset, const void* data, std::size_t size) {
    patchOffset_ = offset;
    patch_.assign(static_cast<const char*>(data), size);
}

void StagedFile::fail(const std::string& reason) {
    discard();
    throw OutputError(QStringLiteral("Could not write '%1': %2.")
                          .arg(path_, QString::fromLocal8Bit(reason.c_str()))
                          .toStdString());
}

void StagedFile::commit() {
    if (done_) return;
    if (!openError_.empty()) fail(openError_);
    errno = 0;
    if (!file_->close()) fail(errno ? std::strerror(errno) : "not every byte reached the file");
    const QByteArray local = QFile::encodeName(temporary_);
    if (!patch_.empty()) {
        std::FILE* f = std::fopen(local.constData(), "r+b");
        bool ok = f != nullptr;
        if (ok) ok = std::fseek(f, static_cast<long>(patchOffset_), SEEK_SET) == 0 &&
                     std::fwrite(patch_.data(), 1, patch_.size(), f) == patch_.size();
        const int error = errno;
        if (f && std::fclose(f) != 0) ok = false;
        if (!ok) fail(error ? std::strerror(error) : "the header could not be written");
    }
    if (std::rename(local.constData(), QFile::encodeName(path_).constData()) != 0) fail(std::strerror(errno));
    done_ = true;
}

void StagedFile::discard() noexcept {
    if (done_) return;
    done_ = true;
    if (file_) file_->close();
    std::remove(QFile::encodeName(temporary_).constData());
}
