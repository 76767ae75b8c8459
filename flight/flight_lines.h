#pragma once
#include "app/vec3.h"

// Flight-line geometry of the origin pass: the area the aircraft covers,
// the width to be filled with lines, and where each line starts and ends.

// The model limits widened by a quarter of the extent below and a further
// quarter above (taken from the already widened lower limit, so the upper
// side moves out by 0.3125 of the model's own extent).
struct FlightArea {
    double minX = 0.0, minY = 0.0, minZ = 0.0;
    double maxX = 0.0, maxY = 0.0, maxZ = 0.0;
};

FlightArea widen_flight_area(double minX, double minY, double minZ, double maxX, double maxY, double maxZ);

// Width across the flight direction and the corner the line planning starts
// from (z = meanHeight).
struct LineExtent {
    double width = 0.0;
    Vec3 start;
};

// The four orientation cases, in degrees:
// <= 0.1 horizontal, 89.9..90.1 vertical, the rest oblique.
LineExtent plan_line_extent(double orientation, const FlightArea& area, double meanHeight);

// One flight line, start and end at z = meanHeight. `valid` is false when an
// oblique line meets the flight area in fewer than two points.
struct FlightSegment {
    Vec3 start;
    Vec3 end;
    bool valid = false;
};

// Cuts line `lineValue` with the flight area and orders its ends by `sense`
// (+1 for the first line, flipping after every line). lineValue is y of a
// horizontal line, x of a vertical one, and the intercept c of the oblique
// line y = tan(orientation) * x + c. With lineCount <= 1 the horizontal and
// vertical cases fly through the centre instead.
FlightSegment clip_flight_line(double orientation, double lineValue, int sense, const FlightArea& area,
                               double meanHeight, int lineCount, double centreX, double centreY);

// The orientation cases as the planning tests them.
inline bool is_horizontal(double orientation) { return orientation <= 0.1; }
inline bool is_vertical(double orientation) { return orientation >= 89.9 && orientation <= 90.1; }
