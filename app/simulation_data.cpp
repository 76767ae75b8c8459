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

QString refusal_save_trajectory(const SimulationData& data) {
    return data.lasers().empty() ? QStringLiteral("No Lasers in use. Please generate lasers first!") : QString();
}

QString refusal_save_points(const SimulationData& data) {
    return data.points.empty() ? QStringLiteral("No LiDAR data in use, please generate LiDAR data first!")
                               : QString();
}

QString refusal_flight_wizard(const SimulationData& data) {
    return data.vertices.empty() ? QStringLiteral("Please open a terrain model first!") : QString();
}

QString refusal_lidar_simulation(const SimulationData& data) {
    if (data.vertices.empty()) return QStringLiteral("Please open a terrain model first!");
    if (data.lasers().empty()) return QStringLiteral("Please generate flight trajectory first!");
    return QString();
}

QString refusal_error_simulation(const SimulationData& data) {
    return data.points.empty() ? QStringLiteral("no LiDAR data is in use!") : QString();
}
