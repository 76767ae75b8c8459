#include "output/writing_loop.h"

#include "app/failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

WritingLoopProgress::WritingLoopProgress(Progress& progress, std::size_t n)
    : progress_(progress), n_(n), step_(n / 20) {
    progress_.setValue(0);
    progress_.setRange(0, static_cast<int>(n));
}

namespace {

// Write-behind: the window whose disk write is started at once, and how far
// behind the end a written window is dropped from the file cache.
constexpr std::uint64_t kBehindWindow = std::uint64_t(8) << 20;
constexpr std::uint64_t kBehindLag = 8 * kBehindWindow;

// Longest name of one folder entry.
constexpr int kMaxNameBytes = 255;

// Six letters or digits for a temporary name. Not the program's random
// source: the survey's draws must not depend on how many files were saved.
QByteArray unique_suffix(unsigned attempt) {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    x ^= (static_cast<std::uint64_t>(::getpid()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ attempt;
    // splitmix64 finaliser
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray out(6, '\0');
    for (char& c : out) {
        c = kAlphabet[x % 62];
        x /= 62;
    }
    return out;
}

// Creates ".<name>.XXXXXX" beside `target` (O_EXCL: never an existing
// file) with mode 0666 less the umask. Returns the descriptor, or -1 with
// errno set.
int create_temporary(const QByteArray& target, QByteArray& temporary) {
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = target.left(slash + 1);
    QByteArray name = target.mid(slash + 1);
    const int room = kMaxNameBytes - 8;  // the dot, the dot and six characters
    if (name.size() > room) name.truncate(room);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + '.' + name + '.' + unique_suffix(attempt);
        const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) temporary.clear();
            return fd;
        }
    }
    temporary.clear();
    errno = EEXIST;
    return -1;
}

}  // namespace

QString write_failure_text(const QString& path, int error) {
    return QStringLiteral("Could not write '%1': %2.")
        .arg(path, QString::fromLocal8Bit(std::generic_category().message(error).c_str()));
}

ChunkedFile::ChunkedFile(const QString& path, const char* /*mode*/) : path_(path) {
    QByteArray target = QFile::encodeName(path);
    if (target.isEmpty()) fail(ENOENT);
    struct stat existing;
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) fail(EISDIR);
    if (exists && !S_ISREG(existing.st_mode)) {
        fd_ = ::open(target.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0) fail(errno);
        return;
    }
    if (exists) {
        // A file fopen could not open for writing is not replaced either.
        if (::access(target.constData(), W_OK) != 0) fail(errno);
        if (char* real = ::realpath(target.constData(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    final_ = target;
    fd_ = create_temporary(final_, temporary_);
    if (fd_ < 0) fail(errno);
    if (exists) {
        // As when the file is overwritten in place, its mode, owner and
        // group stay. Best effort: where that is not allowed the new file
        // keeps its own (the write itself is not at stake).
        bool kept = ::fchmod(fd_, existing.st_mode & 07777) == 0;
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
            kept = ::fchown(fd_, existing.st_uid, existing.st_gid) == 0 && kept;
        static_cast<void>(kept);
    }
}

ChunkedFile::~ChunkedFile() { abandon(); }

void ChunkedFile::write_raw(const void* data, std::size_t size) {
    if (fd_ < 0) fail(EBADF);
    const char* p = static_cast<const char*>(data);
    while (size != 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        if (n == 0) fail(ENOSPC);  // nothing taken and no reason given
        p += n;
        size -= static_cast<std::size_t>(n);
        appended_ += static_cast<std::uint64_t>(n);
    }
    if (appended_ - handedTo_ >= kBehindWindow) write_behind();
}

void ChunkedFile::write_behind() {
    // Advice only: a call that fails or is not supported (a device, a file
    // system without it) changes nothing, and a failed disk write is
    // reported where it would be without it.
    while (appended_ - handedTo_ >= kBehindWindow) {
#ifdef __linux__
        if (!temporary_.isEmpty()) {
            ::sync_file_range(fd_, static_cast<off_t>(handedTo_), static_cast<off_t>(kBehindWindow),
                              SYNC_FILE_RANGE_WRITE);
            if (handedTo_ >= kBehindLag)
                ::posix_fadvise(fd_, static_cast<off_t>(handedTo_ - kBehindLag), static_cast<off_t>(kBehindWindow),
                                POSIX_FADV_DONTNEED);
        }
#endif
        handedTo_ += kBehindWindow;
    }
}

void ChunkedFile::write_at(std::uint64_t offset, const void* data, std::size_t size) {
    if (fd_ < 0) fail(EBADF);
    const char* p = static_cast<const char*>(data);
    while (size != 0) {
        const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        if (n == 0) fail(ENOSPC);
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
}

void ChunkedFile::close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is released even when close reports an error; EINTR
    // loses nothing on this system.
    if (::close(fd) != 0 && errno != EINTR) fail(errno);
    if (!temporary_.isEmpty()) {
        if (::rename(temporary_.constData(), final_.constData()) != 0) fail(errno);
        temporary_.clear();
    }
}

void ChunkedFile::abandon() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.isEmpty()) {
        ::unlink(temporary_.constData());
        temporary_.clear();
    }
}

void ChunkedFile::fail(int error) {
    abandon();
    throw OutputError(write_failure_text(path_, error).toStdString());
}

void TextBuffer::grow(std::size_t n) {
    const std::size_t capacity = std::max(size_ + n, 2 * capacity_);
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
}

unsigned writer_threads(unsigned requested) {
    if (requested != 0) return requested;
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

// Items per run: a run of trajectory lines is about a megabyte.
constexpr std::size_t kRunItems = 16384;
// On one thread the bytes are written once this many are formatted, while
// they are still in the core's cache: the system's copy of a few megabytes
// gathered first reads them back from memory (on the end-to-end survey the
// trajectory's writes took about half a second more system time that way).
constexpr std::size_t kHotWrite = std::size_t(512) << 10;
// Items formatted before the size is looked at again: a few hundred
// kilobytes of trajectory lines.
constexpr std::size_t kHotItems = 4096;

// Run starts, with n at the end. A run ends at the next report threshold
// (a multiple of the step; every item when the step is 0).
std::vector<std::size_t> run_starts(std::size_t first, std::size_t n, std::size_t step) {
    std::vector<std::size_t> starts;
    starts.reserve(n / kRunItems + (step ? n / step : n) + 2);
    const std::size_t end = first + n;
    for (std::size_t pos = first; pos < end;) {
        starts.push_back(pos);
        const std::size_t nextReport = step == 0 ? pos + 1 : (pos / step + 1) * step;
        pos = std::min({pos + kRunItems, nextReport, end});
    }
    starts.push_back(end);
    return starts;
}

// Workers format runs into a ring of buffers; run r goes to slot r % size
// once run r - size has been written.
class OrderedFormatting {
public:
    OrderedFormatting(const std::vector<std::size_t>& starts, unsigned workers, const RangeFormatter& format)
        : starts_(starts),
          runs_(starts.size() - 1),
          format_(format),
          ring_(std::min<std::size_t>(2 * std::size_t(workers) + 2, 34)) {
        threads_.reserve(workers);
        for (unsigned t = 0; t < workers; ++t) threads_.emplace_back([this] { work(); });
    }
    ~OrderedFormatting() { stop(); }

    // Waits for run r (in order, one after the other); nullptr when a worker failed.
    const TextBuffer* wait_for(std::size_t r) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return failed_ || ring_[r % ring_.size()].run == r; });
        return failed_ ? nullptr : &ring_[r % ring_.size()].text;
    }
    // Run r is written: its slot may take a later run.
    void release(std::size_t r) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            written_ = r + 1;
        }
        free_.notify_all();
    }
    // Joins the workers and rethrows a worker's exception.
    void finish() {
        stop();
        if (error_) std::rethrow_exception(error_);
    }

private:
    struct Slot {
        TextBuffer text;
        std::size_t run = static_cast<std::size_t>(-1);  // run held, when ready
    };

    void work() {
        for (;;) {
            std::size_t r;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                free_.wait(lock, [&] { return failed_ || next_ == runs_ || next_ < written_ + ring_.size(); });
                if (failed_ || next_ == runs_) return;
                r = next_++;
            }
            Slot& slot = ring_[r % ring_.size()];
            try {
                slot.text.clear();
                format_(slot.text, starts_[r], starts_[r + 1]);
            } catch (...) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (!error_) error_ = std::current_exception();
                    failed_ = true;
                }
                ready_.notify_all();
                free_.notify_all();
                return;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slot.run = r;
            }
            ready_.notify_one();  // only the writing thread waits for runs
        }
    }

    void stop() {
        {
            // After the last run this changes nothing; before it (an
            // exception on the writing side) it sends the workers home.
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = true;
        }
        free_.notify_all();
        for (std::thread& t : threads_) t.join();
        threads_.clear();
    }

    const std::vector<std::size_t>& starts_;
    const std::size_t runs_;
    const RangeFormatter& format_;
    std::vector<Slot> ring_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable ready_;  // a run was formatted (or a worker failed)
    std::condition_variable free_;   // a run was written (or the job stops)
    std::size_t next_ = 0;           // next run to format
    std::size_t written_ = 0;        // runs written so far
    bool failed_ = false;
    std::exception_ptr error_;
};

}  // namespace

void write_in_order(ChunkedFile& file, WritingLoopProgress& loop, std::size_t n, unsigned threads,
                    const RangeFormatter& format) {
    write_in_order(file, loop, 0, n, threads, format);
}

void write_in_order(ChunkedFile& file, WritingLoopProgress& loop, std::uint64_t first, std::size_t n,
                    unsigned threads, const RangeFormatter& format) {
    const std::vector<std::size_t> starts = run_starts(static_cast<std::size_t>(first), n, loop.step());
    const std::size_t runs = starts.size() - 1;
    threads = writer_threads(threads);
    // Below a couple of runs' worth of items, starting threads costs more
    // than it saves.
    if (threads == 1 || n < 2 * kRunItems) {
        // One buffer per thread for every call: each chunk of a streamed
        // survey starts with the room the ones before made, rather than
        // growing a new buffer (copying it as it doubles) every time. A run
        // is formatted in parts, so that what is written is still in the
        // core's own cache.
        static thread_local TextBuffer out;
        out.clear();
        for (std::size_t r = 0; r < runs; ++r) {
            loop.before(starts[r]);
            for (std::size_t part = starts[r]; part < starts[r + 1]; part += kHotItems) {
                format(out, part, std::min(part + kHotItems, starts[r + 1]));
                if (out.size() >= kHotWrite) {
                    file.write_raw(out.data(), out.size());
                    out.clear();
                }
            }
        }
        file.write_raw(out.data(), out.size());
        return;
    }
    // This thread only reports and writes; the workers format.
    OrderedFormatting formatting(starts, static_cast<unsigned>(std::min<std::size_t>(threads, runs)), format);
    for (std::size_t r = 0; r < runs; ++r) {
        loop.before(starts[r]);
        const TextBuffer* text = formatting.wait_for(r);
        if (!text) break;
        file.write_raw(text->data(), text->size());
        formatting.release(r);
    }
    formatting.finish();
}

void run_parallel(unsigned threads, std::size_t count, const std::function<void(std::size_t)>& body) {
    threads = static_cast<unsigned>(std::min<std::size_t>(writer_threads(threads), count));
    if (threads <= 1) {
        for (std::size_t c = 0; c < count; ++c) body(c);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr error;
    auto work = [&] {
        try {
            for (std::size_t c; (c = next.fetch_add(1)) < count;) body(c);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!error) error = std::current_exception();
            next.store(count);  // the others stop after their current item
        }
    };
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work);
    work();
    for (std::thread& t : helpers) t.join();
    if (error) std::rethrow_exception(error);
}
