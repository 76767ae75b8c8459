#include "app/simulation_data.h"

const char* const kDiscardMessage =
    "All the old data i.e. 3D model, laserlines ,intersection points etc. have been discarded..\n";

void log_welcome(SimulationData& data) {
    data.pendingMessage = QStringLiteral(
        "Welcome to Pointfall 4.0.....\n\nPlease upload a 3D model(.obj) or a mesh(.txt).\n"
        "In case of uploading a mesh, please look at it's specified format in 'Help' section.\n");
    data.appendLog();
}

SimulationData& SimulationData::instance() {
    static SimulationData data;
    return data;
}

void SimulationData::appendLog() {
    logText += pendingMessage;
    logText += QLatin1Char('\n');
    pendingMessage.clear();
    if (logListener) logListener(logText);
}

void SimulationData::discardAll() {
    vertices.clear();
    faces.clear();
    faceClasses.clear();
    triangles.clear();
    lasers().clear();
    laserlines.lineStarts.clear();
    points.clear();
    systematicError.clear();
    randomError.clear();
    overallError.clear();
    trajectoryTerms.clear();
}

void SimulationData::setLimits(const ModelLimits& l) {
    minX = l.minX;
    minY = l.minY;
    minZ = l.minZ;
    maxX = l.maxX;
    maxY = l.maxY;
    maxZ = l.maxZ;
}

QString refusal_save_mesh(const SimulationData& data) {
    return data.vertices.empty() ? QStringLiteral("No model is in use, please import a 3D model first!") : QString();
}

QString refusal_save_trajectory(const SimulationData& data) { return refusal_save_trajectory(data.lasers().size()); }

QString refusal_save_trajectory(std::uint64_t lasers) {
    return lasers == 0 ? QStringLiteral("No Lasers in use. Please generate lasers first!") : QString();
}

QString refusal_save_points(const SimulationData& data) { return refusal_save_points(data.points.size()); }

QString refusal_save_points(std::uint64_t points) {
    return points == 0 ? QStringLiteral("No LiDAR data in use, please generate LiDAR data first!") : QString();
}

QString refusal_flight_wizard(const SimulationData& data) {
    return data.vertices.empty() ? QStringLiteral("Please open a terrain model first!") : QString();
}

QString refusal_lidar_simulation(const SimulationData& data) {
    return refusal_lidar_simulation(data, data.lasers().size());
}

QString refusal_lidar_simulation(const SimulationData& data, std::uint64_t lasers) {
    if (data.vertices.empty()) return QStringLiteral("Please open a terrain model first!");
    if (lasers == 0) return QStringLiteral("Please generate flight trajectory first!");
    return QString();
}

QString refusal_error_simulation(const SimulationData& data) { return refusal_error_simulation(data.points.size()); }

QString refusal_error_simulation(std::uint64_t points) {
    return points == 0 ? QStringLiteral("no LiDAR data is in use!") : QString();
}
