#pragma once
#include "app/progress.h"

#include <QByteArray>
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
// no buffering of its own, put in place only when it is complete.
//
// The bytes go to a temporary file beside the final one (same folder, so
// the same file system; a hidden name ".<name>.XXXXXX"), created with the
// permissions a plain fopen would give: 0666 less the umask for a new file,
// those of the file it replaces otherwise. A symbolic link is followed: the
// file it names is replaced and the link stays. close() closes the
// temporary file, checks that, and renames it over the final name. Any
// failure, or destruction without a successful close(), removes the
// temporary file; an existing file of the final name is never touched.
//
// A target that exists and is not a regular file (a device such as
// /dev/null or /dev/full, a pipe) has nothing to replace: it is written
// directly, with every write checked the same way.
//
// Every failure throws OutputError "Could not write '<path>': <the system's
// reason>." with the path as given, for example "Could not write
// 'out/p.las': No space left on device."
//
// A large file is written behind: every few megabytes appended, the disk
// write of that window is started, and a window some tens of megabytes back
// is dropped from the file cache once it is on disk (a window still being
// written stays). The cache then holds a bounded tail of the file, and its
// pages are the ones just released instead of fresh memory, which is what
// the copy into the cache mostly costs on a large survey's outputs. Nothing
// waits for the disk; the bytes and the failure reports are as without it.
class ChunkedFile {
public:
    // The writers hand over about this many bytes at a time.
    static constexpr std::size_t kChunk = std::size_t(4) << 20;

    // Creates the temporary file (or opens the device); throws OutputError
    // when that fails. The mode is kept for the callers' sake: text and
    // bytes are the same here. The path is converted to the local 8-bit
    // encoding.
    explicit ChunkedFile(const QString& path, const char* mode = "wb");
    // Abandons the file unless close() succeeded.
    ~ChunkedFile();
    ChunkedFile(const ChunkedFile&) = delete;
    ChunkedFile& operator=(const ChunkedFile&) = delete;

    // Appends bytes; a failed write abandons the file and throws OutputError.
    void write_raw(const void* data, std::size_t size);
    // Overwrites bytes written before, at `offset` from the start (a header
    // completed at the end); the end of the file stays where it was. A
    // failure abandons the file and throws OutputError.
    void write_at(std::uint64_t offset, const void* data, std::size_t size);
    // Closes the file and puts it in place under the final name; a failure
    // abandons it and throws OutputError. Closing again does nothing.
    void close();
    // Removes the temporary file (a direct write is just closed); the final
    // name stays as it was. Nothing happens after a successful close().
    void abandon() noexcept;

    // The path as given.
    const QString& path() const { return path_; }

private:
    [[noreturn]] void fail(int error);

    QString path_;
    // Hands the file system the bytes appended so far, window by window.
    void write_behind();

    QByteArray final_;      // the name to rename to (links resolved)
    QByteArray temporary_;  // empty when writing directly or when done
    int fd_ = -1;
    std::uint64_t appended_ = 0;  // bytes written by write_raw
    std::uint64_t handedTo_ = 0;  // end of the windows whose write-back has started
};

// The message of a failed write: "Could not write '<path>': <reason>."
// where the reason is the system's text for the error number.
QString write_failure_text(const QString& path, int error);

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
