#pragma once
#include "flight/laserlines.h"
#include "flight/parameters.h"
#include "lidar/lidar_point.h"
#include "terrain/mesh.h"
#include "terrain/octree.h"
#include "terrain/surface_classes.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The working data of one session: the model, the wizard values, the lasers,
// the points, the error settings and the log. The desktop program has one
// for the whole process (instance()); tests and the batch runner may make
// their own.
class CastTree;

class SimulationData {
public:
    SimulationData() = default;
    SimulationData(const SimulationData&) = delete;
    SimulationData& operator=(const SimulationData&) = delete;

    static SimulationData& instance();

    // Model
    std::vector<Vertex> vertices;
    std::vector<Face> faces;
    std::vector<Triangle> triangles;
    // ASPRS class of each face (same order as faces); empty: every face is 1.
    std::vector<std::uint8_t> faceClasses;
    // Keyword table the OBJ loader labels faces with; empty: the default.
    ClassTable classTable;
    // A model load keeps only castTree, the cast's compact copy of the
    // octree (lidar/cast_tree.h), built straight from the triangles, for as
    // long as the model lives; octreeRoot stays empty. castTreeRoot is the
    // octree a copy was made from when an octree is put here by other means
    // (lidar_tasks.h: prepared_cast_tree). Whoever replaces or drops the
    // model resets all three.
    std::unique_ptr<OctreeNode> octreeRoot;
    std::shared_ptr<const CastTree> castTree;
    const OctreeNode* castTreeRoot = nullptr;
    double minX = 0.0, minY = 0.0, minZ = 0.0;
    double maxX = 0.0, maxY = 0.0, maxZ = 0.0;
    QString modelPath;
    std::int32_t verticalAxisAnswer = 0;
    // Threads a model's preparation (its octree) may use; 0: one per
    // hardware thread. The batch runner passes its --threads on.
    unsigned preparationThreads = 0;

    // Wizard values of the last laser generation
    FlightParameters flight;
    ScannerParameters scanner;
    bool realisticTrajectory = false;
    TrajectoryTerms trajectoryTerms;

    // Lasers (held by laserlines) and returns
    Laserlines laserlines;
    std::vector<LaserLine>& lasers() { return laserlines.lasers; }
    const std::vector<LaserLine>& lasers() const { return laserlines.lasers; }
    std::vector<LidarPoint> points;

    // Error settings of the last Done in the error dialog
    std::vector<double> systematicError, randomError, overallError;
    bool systematicErrorOn = false, randomErrorOn = false, overallErrorOn = false;

    // Log state
    QString logText;
    QString pendingMessage;
    std::uint32_t taskCount = 0;
    QString savePath;

    // Called with the whole log text after every appendLog (the main window
    // shows it in its log panel).
    std::function<void(const QString&)> logListener;

    // Appends pendingMessage and a line feed to logText, empties
    // pendingMessage and tells the listener.
    void appendLog();
    // Empties everything a new model load invalidates: the model lists, the
    // lasers and points, the error values and the trajectory terms. Limits,
    // octree, flags, parameters, strings and taskCount stay.
    void discardAll();

    ModelLimits limits() const { return {minX, minY, minZ, maxX, maxY, maxZ}; }
    void setLimits(const ModelLimits& l);
};

// Preconditions of the menu actions. Each returns the refusal message, or an
// empty string when the action may go on.
QString refusal_save_mesh(const SimulationData& data);
QString refusal_save_trajectory(const SimulationData& data);
QString refusal_save_points(const SimulationData& data);
QString refusal_flight_wizard(const SimulationData& data);
QString refusal_lidar_simulation(const SimulationData& data);
QString refusal_error_simulation(const SimulationData& data);
// The same checks for a run that does not keep its lists, from the counts
// the lists would have.
QString refusal_lidar_simulation(const SimulationData& data, std::uint64_t lasers);
QString refusal_save_trajectory(std::uint64_t lasers);
QString refusal_save_points(std::uint64_t points);
QString refusal_error_simulation(std::uint64_t points);

// The log line written before a load when earlier work is thrown away.
extern const char* const kDiscardMessage;

// The first text of the log of a freshly started program: puts the welcome
// message into pendingMessage and appends it.
void log_welcome(SimulationData& data);
