#pragma once
#include <QString>

// The flight planning calculator: the user leaves exactly one of five boxes
// empty and the missing survey parameter is computed from the other four.

// The five box texts, as typed.
struct CalculatorInput {
    QString fov;       // FOV across, degrees (whole field of view)
    QString height;    // mean flying height, metres
    QString density;   // point density, points per square metre
    QString velocity;  // flight velocity, metres per second
    QString prf;       // pulse repetition frequency, kHz
};

// Which box was empty (and receives the value).
enum CalculatorBox { kNoBox = -1, kFovBox = 0, kHeightBox = 1, kDensityBox = 2, kVelocityBox = 3, kPrfBox = 4 };

struct CalculatorOutcome {
    QString error;          // the "Error" box text; empty when a value was computed
    int emptyBox = kNoBox;  // a CalculatorBox; kNoBox unless exactly one box was empty
    QString value;          // the text to write into the empty box (when error is empty)
};

CalculatorOutcome calculate_flight_plan(const CalculatorInput& in);
