#pragma once
#include "flight/laser_line.h"
#include "views/height_raster.h"

#include <cstddef>
#include <vector>

struct PlanPoint {
    double x = 0.0, y = 0.0;
};

// One flight line as the plan shows it: where the aircraft flies and where
// the edges of its swath meet the ground.
struct PlannedLine {
    int number = 0;             // 1-based, flight order
    PlanPoint start, end;       // first and last pulse origin
    std::vector<PlanPoint> left, right;  // swath edges on the ground, from start to end
};

// The swaths of the laid flight lines (lineStarts over `lasers`), before any
// cast: at `samples` positions along each line the two outermost rays of the
// scanner (halfFovAcross degrees either side of the vertical, across the
// line) are followed down to the first cell of `ground` they reach; where
// the ground has no model the floor z stops them. Lines without pulses are
// left out.
std::vector<PlannedLine> plan_swaths(const std::vector<LaserLine>& lasers, const std::vector<std::size_t>& lineStarts,
                                     double halfFovAcross, const HeightRaster& ground, double floorZ,
                                     int samples = 64);

// Where a ray from `origin` leaning `tanAngle` horizontal metres per metre
// of drop towards the horizontal unit vector (ux, uy) first meets the
// ground (or the floor).
PlanPoint ground_reach(const Vec3& origin, double ux, double uy, double tanAngle, const HeightRaster& ground,
                       double floorZ);
