#pragma once
#include "app/progress.h"
#include "app/simulation_data.h"

#include <QString>

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

// The log text of a completed simulation with `pointCount` returns.
QString lidar_simulation_message(std::size_t pointCount);
