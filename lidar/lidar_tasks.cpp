#include "lidar/lidar_tasks.h"

#include "app/failure.h"
#include "lidar/cast_pool.h"
#include "lidar/cast_tree.h"

#include <algorithm>
#include <memory>
#include <cstdint>
#include <vector>

QString lidar_simulation_message(std::size_t pointCount) {
    const QString rule = QString(130, QLatin1Char('_')) + QLatin1Char('\n');
    return QStringLiteral("Intersection points calculated\nLiDAR data generated, Total Points : %1\n\n")
               .arg(static_cast<qulonglong>(pointCount)) +
           rule +
           QStringLiteral(
               "Now, you can save the generated LiDAR data or you may introduce error in it under 'Error "
               "Simulation' and then save it.\nFor more information regarding error simulation, please go to "
               "'help' section.\nThe saved data can be viewed in softwares like CloudCompare, etc.\n") +
           rule;
}

const CastTree* prepared_cast_tree(SimulationData& data) {
    if (data.octreeRoot && (!data.castTree || data.castTreeRoot != data.octreeRoot.get())) {
        data.castTree.reset();
        data.castTree = std::make_shared<const CastTree>(*data.octreeRoot, data.triangles);
        data.castTreeRoot = data.octreeRoot.get();
    }
    return data.castTree.get();
}

PulseCaster::PulseCaster(SimulationData& data, unsigned threads) : pool_(threads) {
    const CastTree* prepared = prepared_cast_tree(data);
    tree_ = prepared ? prepared : &empty_;
}

void PulseCaster::cast(LaserLine* lasers, std::size_t count, std::vector<LidarPoint>& points, std::size_t blockSize,
                       const std::function<void(std::size_t)>& beforeBlock) {
    if (blockSize == 0) blockSize = std::max<std::size_t>(count, 1);
    hit_.resize(std::min(blockSize, count));
    for (std::size_t begin = 0; begin < count; begin += blockSize) {
        if (beforeBlock) beforeBlock(begin);
        const std::size_t n = std::min(blockSize, count - begin);
        pool_.cast(*tree_, lasers + begin, n, hit_.data());
        for (std::size_t j = 0; j < n; ++j) {
            if (!hit_[j]) continue;
            const Vec3& p = lasers[begin + j].hitPoint;
            points.push_back({p.x, p.y, p.z});
        }
    }
}

void log_lidar_simulation(SimulationData& data, std::size_t pointCount) {
    data.pendingMessage = lidar_simulation_message(pointCount);
    data.appendLog();
    ++data.taskCount;
}

void simulate_lidar_task(SimulationData& data, Progress& progress, unsigned threads) {
    data.points.clear();
    const QString refusal = refusal_lidar_simulation(data);
    if (!refusal.isEmpty()) throw Refused(refusal.toStdString());

    std::vector<LaserLine>& lasers = data.lasers();
    const std::size_t n = lasers.size();
    progress.setValue(0);
    progress.setRange(0, static_cast<int>(n));

    // The one-thread loop sets the bar to i whenever i reaches the threshold
    // and then raises the threshold by step = n / 50; the casts between two
    // such values form a block. With fewer than 50 lasers step is 0 and
    // every laser is a block of its own. Each block is cast in parallel and
    // its points are appended in laser order before the next value is set.
    const std::size_t step = n / 50;
    PulseCaster caster(data, threads);
    caster.cast(lasers.data(), n, data.points, std::max<std::size_t>(step, 1),
                [&progress](std::size_t begin) { progress.setValue(static_cast<int>(begin)); });
    progress.setValue(static_cast<int>(n));

    progress.showStatus(QStringLiteral("     LiDAR data generated. Task completed.."));
    log_lidar_simulation(data, data.points.size());
}
