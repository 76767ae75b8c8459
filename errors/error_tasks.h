#pragma once
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
void introduce_errors_task(SimulationData& data, const ErrorSettings& settings, Progress& progress);
