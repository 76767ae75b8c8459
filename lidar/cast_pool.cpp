#include "lidar/cast_pool.h"

#include <algorithm>

CastPool::CastPool(unsigned threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    workers_.reserve(threads - 1);
    for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this] { worker_loop(); });
}

CastPool::~CastPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& w : workers_) w.join();
}

void CastPool::cast(const CastTree& tree, LaserLine* lasers, std::size_t count, std::uint8_t* hit) {
    if (count == 0) return;
    // Chunks small enough to balance the load (rays differ a lot in cost),
    // large enough that handing them out costs nothing.
    const std::size_t chunk = std::clamp<std::size_t>(count / (threads() * 16), 64, 4096);
    if (workers_.empty() || count <= chunk) {
        for (std::size_t i = 0; i < count; ++i) hit[i] = tree.cast(lasers[i]) ? 1 : 0;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tree_ = &tree;
        lasers_ = lasers;
        hit_ = hit;
        count_ = count;
        chunk_ = chunk;
        cursor_.store(0, std::memory_order_relaxed);
        busy_ = static_cast<unsigned>(workers_.size());
        ++generation_;
    }
    wake_.notify_all();
    run_chunks();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
}

void CastPool::run_chunks() {
    for (;;) {
        const std::size_t begin = cursor_.fetch_add(chunk_, std::memory_order_relaxed);
        if (begin >= count_) return;
        const std::size_t end = std::min(count_, begin + chunk_);
        for (std::size_t i = begin; i < end; ++i) hit_[i] = tree_->cast(lasers_[i]) ? 1 : 0;
    }
}

void CastPool::worker_loop() {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
        }
        run_chunks();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --busy_;
        }
        done_.notify_one();
    }
}
