#pragma once
#include "flight/laser_line.h"
#include "flight/parameters.h"

#include <QObject>
#include <cstdint>
#include <vector>

// Owns the laser list and reports laser-generation progress through its two
// signals (their values are truncated toward zero by the receiver).
class Laserlines : public QObject {
    Q_OBJECT
public:
    explicit Laserlines(QObject* parent = nullptr) : QObject(parent) {}

    std::vector<LaserLine> lasers;
    // lineStarts[i]: index in `lasers` of the first pulse of flight line i
    // (0-based, flight order); a line without pulses starts where the next
    // one does. Set by the origin pass.
    std::vector<std::size_t> lineStarts;

    // Origin pass: lays the flight lines and appends one record per pulse.
    void compute_origins(double prf, double velocity, double halfFovAcross, double overlap, double meanHeight,
                         double orientation, double minX, double minY, double minZ, double maxX, double maxY,
                         double maxZ, bool realistic, const TrajectoryTerms& terms);
    // Direction pass: gives every record its direction and attitude.
    void compute_directions(double prf, double halfFovAcross, double orientation, ScanPattern pattern,
                            double scanFrequency, double halfFovAlong, bool realistic, const TrajectoryTerms& terms);
    // The same two passes with the seed of the realistic trajectory's sign
    // draws given (the overloads above seed with the current time in whole
    // seconds). compute_origins throws InputError, before appending anything
    // or signalling, when the pulses of the run could not fit in memory.
    // The line spacing is worked out for the flying height above z =
    // spacingGround (the wizard plans above z = 0).
    void compute_origins(double prf, double velocity, double halfFovAcross, double overlap, double meanHeight,
                         double orientation, double minX, double minY, double minZ, double maxX, double maxY,
                         double maxZ, bool realistic, const TrajectoryTerms& terms, std::uint32_t seed,
                         double spacingGround = 0.0);
    void compute_directions(double prf, double halfFovAcross, double orientation, ScanPattern pattern,
                            double scanFrequency, double halfFovAlong, bool realistic, const TrajectoryTerms& terms,
                            std::uint32_t seed);
    // Lasers whose ray meets the plane z = minZ inside the model's xy limits.
    int count_expected_hits(double maxX, double maxY, double maxZ, double minX, double minY, double minZ) const;

signals:
    void value_changed(double value);
    void max_limit(double value);
};
