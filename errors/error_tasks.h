#pragma once
#include "errors/error_model.h"
#include "errors/error_settings.h"

#include <QString>

class SimulationData;
class Progress;

// The value checks of the error dialog's Done (its blank checks stay in the
// dialog). Returns the message for the "Error" box, or "" when the settings
// may be applied.
QString validate_error_settings(const ErrorSettings& settings);

// Stores the settings in data, perturbs data.lasers (systematic, then
// random, then overall), logs what was added and completes the task.
// Throws InputError (nothing changed) for settings that fail
// validate_error_settings or have the wrong number of values.
// The records are perturbed on `threads` threads (0: all), with the same
// result for any number.
void introduce_errors_task(SimulationData& data, const ErrorSettings& settings, Progress& progress,
                           unsigned threads = 0);

// The pieces of the task, for runs that perturb their lasers run by run:
// the checks and the storing of the settings (throws as the task does), the
// step over data's stored settings, and the log text of a completed step.
void store_error_settings(SimulationData& data, const ErrorSettings& settings);
ErrorStep error_step(const SimulationData& data, unsigned threads);
void log_errors_introduced(SimulationData& data);
