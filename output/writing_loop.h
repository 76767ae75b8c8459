#pragma once
#include "app/progress.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
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
    // Items between two reports; 0 below twenty items (a report before each).
    std::size_t step() const { return step_; }

private:
    Progress& progress_;
    std::size_t n_;
    std::size_t step_;
    double threshold_ = 0.0;
};

// An output file written in large pieces from the caller's memory, with
// no buffering of its own.
class ChunkedFile {
public:
    // The writers hand over about this many bytes at a time.
    static constexpr std::size_t kChunk = std::size_t(4) << 20;

    // mode "w" (text) or "wb" (bytes). The path is converted to the local
    // 8-bit encoding.
    ChunkedFile(const QString& path, const char* mode);
    ~ChunkedFile();
    ChunkedFile(const ChunkedFile&) = delete;
    ChunkedFile& operator=(const ChunkedFile&) = delete;

    // Appends bytes to the file (nothing when it could not be opened).
    void write_raw(const void* data, std::size_t size);
    // Closes; true when every byte reached the file.
    bool close();
    bool is_open() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    bool ok_ = false;
};

// Formatting threads for a writer: `requested`, or one per hardware thread
// when it is 0.
unsigned writer_threads(unsigned requested);

// A growing byte buffer that formatting code writes into through a raw
// pointer: room(n) makes space for n more bytes (nothing is filled in) and
// commit(end) keeps what was written up to `end`.
class TextBuffer {
public:
    char* room(std::size_t n) {
        if (capacity_ - size_ < n) grow(n);
        return data_.get() + size_;
    }
    void commit(char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }

private:
    void grow(std::size_t n);

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Formats items [begin, end) and appends their bytes to `out`.
using RangeFormatter = std::function<void(TextBuffer& out, std::size_t begin, std::size_t end)>;

// The writers' main loop. Items [0, n) are cut into runs of at most a few
// thousand that never straddle a progress report, so the report for item i
// is made before the bytes of item i are written, exactly as an item by
// item loop would do. With several threads, workers format runs ahead into
// a small ring of buffers (memory stays bounded whatever n is) while this
// thread reports progress and writes the buffers in item order; the bytes
// are the same for any thread count. Small jobs start no thread.
void write_in_order(ChunkedFile& file, WritingLoopProgress& loop, std::size_t n, unsigned threads,
                    const RangeFormatter& format);
// The same for items [first, first + n) of a longer sequence written piece
// by piece (progress reports and runs fall where the whole loop has them).
void write_in_order(ChunkedFile& file, WritingLoopProgress& loop, std::uint64_t first, std::size_t n,
                    unsigned threads, const RangeFormatter& format);

// Runs body(c) once for every c in [0, count), on up to `threads` threads
// (this one included), and returns when all are done. The first exception
// thrown by a body is rethrown here.
void run_parallel(unsigned threads, std::size_t count, const std::function<void(std::size_t)>& body);
