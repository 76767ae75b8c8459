#pragma once
#include "flight/laser_line.h"
#include "lidar/cast_tree.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A small fork-join pool for casting runs of lasers on several cores. The
// caller's thread works too, so a pool of one thread starts no thread at all.
//
// Each laser is cast exactly once, by exactly one thread, and only its own
// record is written, so the results do not depend on the thread count or the
// scheduling; the caller collects the points afterwards in laser order.
class CastPool {
public:
    // threads = 0 takes one per hardware thread.
    explicit CastPool(unsigned threads);
    ~CastPool();
    CastPool(const CastPool&) = delete;
    CastPool& operator=(const CastPool&) = delete;

    unsigned threads() const { return static_cast<unsigned>(workers_.size()) + 1; }

    // Casts lasers[0, count) into their records; hit[i] becomes 1 when laser
    // i got a return in this cast and 0 otherwise. Returns when all are done.
    void cast(const CastTree& tree, LaserLine* lasers, std::size_t count, std::uint8_t* hit);

private:
    void worker_loop();
    void run_chunks();

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::uint64_t generation_ = 0;  // bumped for every job
    unsigned busy_ = 0;             // workers still on the current job
    bool stopping_ = false;

    // The current job (written under the mutex before a generation starts).
    const CastTree* tree_ = nullptr;
    LaserLine* lasers_ = nullptr;
    std::uint8_t* hit_ = nullptr;
    std::size_t count_ = 0;
    std::size_t chunk_ = 0;
    alignas(64) std::atomic<std::size_t> cursor_{0};  // next laser to hand out
};
