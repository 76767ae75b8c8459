#pragma once
#include "app/progress.h"

#include <QString>
#include <cstddef>
#include <cstdio>
#include <string>

// The progress protocol every file writer follows: value 0 and range 0..n
// before the first item, the item number about every twentieth item (before
// every item when there are fewer than 20), n after the file is closed.
class WritingLoopProgress {
public:
    WritingLoopProgress(Progress& progress, std::size_t n);
    // Call before item i.
    void before(std::size_t i) {
        // The threshold is a double on purpose: with step 0 (n < 20) every
        // item passes it.
        if (static_cast<double>(i) >= threshold_) {
            progress_.setValue(static_cast<int>(i));
            threshold_ += static_cast<double>(step_);
        }
    }
    void finish() { progress_.setValue(static_cast<int>(n_)); }

private:
    Progress& progress_;
    std::size_t n_;
    std::size_t step_;
    double threshold_ = 0.0;
};

// A file written from a big memory buffer: callers append text or bytes to
// buffer() and call flush_if_full() now and then; nothing goes to the
// system per record.
class ChunkedFile {
public:
    static constexpr std::size_t kChunk = std::size_t(4) << 20;

    // mode "w" (text) or "wb" (bytes). The path is converted to the local
    // 8-bit encoding.
    ChunkedFile(const QString& path, const char* mode);
    ~ChunkedFile();
    ChunkedFile(const ChunkedFile&) = delete;
    ChunkedFile& operator=(const ChunkedFile&) = delete;

    std::string& buffer() { return buffer_; }
    void flush_if_full() {
        if (buffer_.size() >= kChunk) flush();
    }
    void flush();
    // Writes bytes straight to the file after what is buffered.
    void write_raw(const void* data, std::size_t size);
    // Writes what is left and closes; true when every byte reached the file.
    bool close();

private:
    std::FILE* file_ = nullptr;
    std::string buffer_;
    bool ok_ = false;
};
