#pragma once
#include "flight/parameters.h"

#include <QString>
#include <cstdint>

class SimulationData;
class Progress;

// Laser generation after the wizard was read: empties the lasers, points
// and trajectory terms, stores the wizard values, logs them, runs the origin
// and direction passes and logs the laser count and the expected point
// density. `seed` seeds the sign draws of the realistic trajectory (the
// desktop program passes the current time in whole seconds). The laserlines
// signals are not forwarded to `progress`: whoever shows them connects them.
// Throws InputError, with the parameters already logged and no task
// counted, when the run's pulses could not fit in memory.
void generate_lasers_task(SimulationData& data, const WizardValues& values, std::uint32_t seed, Progress& progress);

// The value checks of the flight page after its blank check, in the page's
// order; the first failing message, or "" when all pass. A velocity of 0 is
// refused as well ("Velocity should be positive!").
QString validate_flight_values(const FlightParameters& f, double maxSceneHeight);

// The value checks of the scanner page after its blank check (the field of
// view along only for Elliptical); the first failing message, or "".
QString validate_scanner_values(const ScannerParameters& s);

// The flying height offered when the wizard opens: the power of ten above
// the model top, 10^(trunc(log10(maxZ)) + 1); 100 when maxZ <= 0.
double suggested_flying_height(double maxZ);

// The velocity offered when the wizard opens: 10^trunc(log10(hint)), with
// hint a fifth of the model's x extent; 100 when hint <= 0.
double suggested_velocity(double velocityHint);
// Expected returns per square metre of the model's xy extent. A model
// without area gives the quotient as it comes out ("inf" or "nan").
double expected_point_density(const SimulationData& data, double expectedHits);

// The pieces of generate_lasers_task, for runs that lay their pulses chunk
// by chunk: steps 1-3 (the previous run thrown away, the values stored and
// logged), the origin pass's log line, and the totals with the task count.
void begin_laser_generation(SimulationData& data, const WizardValues& values);
void log_origins_computed(SimulationData& data);
void log_laser_totals(SimulationData& data, std::uint64_t lasers, std::uint64_t expectedHits);

// "Zig Zag Lines", "Parallel Lines", "Spherical", "Elliptical"; "" else.
QString pattern_name(ScanPattern pattern);
