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

void simulate_lidar_task(SimulationData& data, Progress& progress, unsigned threads) {
    data.points.clear();
    const QString refusal = refusal_lidar_simulation(data);
    if (!refusal.isEmpty()) throw Refused(refusal.toStdString());

    std::vector<LaserLine>& lasers = data.lasers();
    const std::size_t n = lasers.size();
    progress.setValue(0);
    progress.setRange(0, static_cast<int>(n));

    const CastTree empty;
    const CastTree* prepared = prepared_cast_tree(data);
    const CastTree& tree = prepared ? *prepared : empty;
    CastPool pool(threads);

    // The one-thread loop sets the bar to i whenever i reaches the threshold
    // and then raises the threshold by step = n / 50; the casts between two
    // such values form a block. With fewer than 50 lasers step is 0 and
    // every laser is a block of its own. Each block is cast in parallel and
    // its points are appended in laser order before the next value is set.
    const std::size_t step = n / 50;
    const std::size_t blockSize = std::max<std::size_t>(step, 1);
    std::vector<std::uint8_t> hit(std::min(blockSize, n));
    for (std::size_t begin = 0; begin < n; begin += blockSize) {
        progress.setValue(static_cast<int>(begin));
        const std::size_t count = std::min(blockSize, n - begin);
        pool.cast(tree, lasers.data() + begin, count, hit.data());
        for (std::size_t j = 0; j < count; ++j) {
            if (!hit[j]) continue;
            const Vec3& p = lasers[begin + j].hitPoint;
            data.points.push_back({p.x, p.y, p.z});
        }
    }
    progress.setValue(static_cast<int>(n));

    progress.showStatus(QStringLiteral("     LiDAR data generated. Task completed.."));
    data.pendingMessage = lidar_simulation_message(data.points.size());
    data.appendLog();
    ++data.taskCount;
}
