#pragma once
#include "app/progress.h"
#include "app/simulation_data.h"

#include "lidar/cast_pool.h"
#include "lidar/cast_tree.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class CastTree;

// "LiDAR Data Simulation": casts every laser through the octree. Each return
// is written into its laser record (hitPoint, range, hitFaceIndex) and
// appended to data.points in laser order.
//
// The points list is emptied first, also when the action is then refused:
// without a model or without lasers it throws Refused with the message.
// Progress: value 0, range 0..n, then the value of every fiftieth laser
// (every laser when there are fewer than 50), then n.
//
// threads = 0 casts on every hardware thread. The points, the laser records
// and the progress values are the same for any thread count.
void simulate_lidar_task(SimulationData& data, Progress& progress, unsigned threads = 0);

// The cast tree of the model in `data`, kept in data.castTree while the model
// lives, so that casting any run of lasers (CastPool::cast) costs nothing
// more. A model load makes it (prepare_model); an octree put into the data by
// other means gets its copy here, on the first call. Null without either.
const CastTree* prepared_cast_tree(SimulationData& data);

// The cast of runs of lasers through one model, for the task above and for
// runs that cast a survey piece by piece: the tree is flattened once and
// the pool's threads are kept between runs.
class PulseCaster {
public:
    // Casts through the model's prepared tree (prepared_cast_tree).
    PulseCaster(SimulationData& data, unsigned threads);
    // Casts lasers[0, count) into their records and appends the returns in
    // laser order. With blockSize > 0 the run is cast in blocks of that many
    // lasers and beforeBlock(offset) is called before each.
    void cast(LaserLine* lasers, std::size_t count, std::vector<LidarPoint>& points, std::size_t blockSize = 0,
              const std::function<void(std::size_t)>& beforeBlock = {});

private:
    CastTree empty_;
    const CastTree* tree_;
    CastPool pool_;
    std::vector<std::uint8_t> hit_;
};

// Appends the log text of a completed simulation with `pointCount` returns
// and counts the task.
void log_lidar_simulation(SimulationData& data, std::size_t pointCount);

// The log text of a completed simulation with `pointCount` returns.
QString lidar_simulation_message(std::size_t pointCount);
