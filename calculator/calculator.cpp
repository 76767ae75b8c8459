#include "calculator/calculator.h"

#include "app/typed_number.h"

#include <cmath>

namespace {

// pi is 3.14159 here on purpose: the values users compare against were
// computed with it (emptying F after computing D gives 60.0001, not 60).
constexpr double kCalculatorPi = 3.14159;

// Text that is not a number (or is empty) reads as 0, as the line edits'
// conversion does.
double box_value(const QString& text) { return text.toDouble(); }

}  // namespace

CalculatorOutcome calculate_flight_plan(const CalculatorInput& in) {
    CalculatorOutcome outcome;

    // The boxes in the order they are counted.
    const QString* boxes[5] = {&in.fov, &in.height, &in.density, &in.velocity, &in.prf};
    int empties = 0;
    for (int i = 0; i < 5; ++i) {
        if (boxes[i]->isEmpty()) {
            ++empties;
            outcome.emptyBox = i;
        }
    }
    if (empties == 0) {
        outcome.error = QStringLiteral("No blanks are left! ");
        return outcome;
    }
    if (empties > 1) {
        outcome.emptyBox = kNoBox;
        outcome.error = QStringLiteral("More than one box is left empty! ");
        return outcome;
    }

    // Text that only looks like a number ("1,5") would read as 0.
    const char* const names[5] = {"FOV Across", "Mean Flying Height", "Point Density", "Flight Average Velocity",
                                  "PRF"};
    for (int i = 0; i < 5; ++i) {
        outcome.error = typed_number_refusal(QLatin1String(names[i]), *boxes[i]);
        if (!outcome.error.isEmpty()) return outcome;
    }

    const double F = box_value(in.fov);
    const double H = box_value(in.height);
    const double D = box_value(in.density);
    const double V = box_value(in.velocity);
    const double prf = box_value(in.prf);

    // Zero passes every check (the empty box reads as zero).
    if (V < 0) outcome.error = QStringLiteral("Velocity should be positive!!");
    else if (H < 0)
        outcome.error =
            QStringLiteral("Flight is travelling at altitude lower than the highest point of terrain model!");
    else if (prf < 0) outcome.error = QStringLiteral("PRF should be greater than 0.");
    else if (D < 0) outcome.error = QStringLiteral("Point Density should be greater than 0.");
    else if (F < 0 || F > 180) outcome.error = QStringLiteral("FOV should be between 0 - 180.");
    if (!outcome.error.isEmpty()) return outcome;

    // D = p / (2 V H tan(theta)): the swath is 2 H tan(theta) wide and the
    // aircraft sweeps V times that area per second.
    const double p = 1000.0 * prf;                        // pulses per second
    const double theta = F * 0.5 * kCalculatorPi / 180.0;  // half the field of view, radians
    double result = 0.0;
    switch (outcome.emptyBox) {
    case kFovBox: {
        const double half = std::atan(p / (2.0 * D * V * H));
        result = 2.0 * half * 180.0 / kCalculatorPi;
        break;
    }
    case kHeightBox: result = p / (2.0 * D * V * std::tan(theta)); break;
    case kDensityBox: result = p / (2.0 * V * H * std::tan(theta)); break;
    case kVelocityBox: result = p / (2.0 * D * H * std::tan(theta)); break;
    case kPrfBox: result = 2.0 * D * H * V * std::tan(theta) * 0.001; break;
    default: break;
    }
    outcome.value = QString::number(result, 'g', 6);
    return outcome;
}
