#include "output/writing_loop.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

WritingLoopProgress::WritingLoopProgress(Progress& progress, std::size_t n)
    : progress_(progress), n_(n), step_(n / 20) {
    progress_.setValue(0);
    progress_.setRange(0, static_cast<int>(n));
}

ChunkedFile::ChunkedFile(const QString& path, const char* mode) {
    const QByteArray local = QFile::encodeName(path);
    file_ = std::fopen(local.constData(), mode);
    ok_ = file_ != nullptr;
    if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);  // the callers' pieces are big enough
}

ChunkedFile::~ChunkedFile() { close(); }

void ChunkedFile::write_raw(const void* data, std::size_t size) {
    if (file_ && size != 0 && std::fwrite(data, 1, size, file_) != size) ok_ = false;
}

bool ChunkedFile::close() {
    if (file_) {
        if (std::fclose(file_) != 0) ok_ = false;
        file_ = nullptr;
    }
    return ok_;
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
        TextBuffer out;
        for (std::size_t r = 0; r < runs; ++r) {
            loop.before(starts[r]);
            format(out, starts[r], starts[r + 1]);
            if (out.size() >= ChunkedFile::kChunk) {
                file.write_raw(out.data(), out.size());
                out.clear();
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
