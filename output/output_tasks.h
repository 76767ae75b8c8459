#pragma once
#include <QString>

class SimulationData;
class Progress;

// "Save Generated LiDAR Data" after the file dialog: ".txt" writes the
// ASCII point file, ".las" the LAS file (endings compared case-sensitively),
// then logs the save. A name with neither ending throws OutputError and
// writes nothing (the GUI first adds the chosen filter's extension with
// add_extension_for_filter). Empty points throw Refused. A LAS coordinate
// that does not fit, or a file that cannot be written (a full disk, a
// read-only folder), throws OutputError; nothing is logged and an existing
// file of that name stays as it was.
void save_points_task(SimulationData& data, const QString& path, Progress& progress);

// The trajectory save after "Continue": writes one line per laser in the
// layout formatCode (3, 2 or 1) and logs the save. A file that cannot be
// written throws OutputError before anything is logged.
void save_trajectory_task(SimulationData& data, const QString& path, int formatCode, Progress& progress);

// The log lines of a completed save (the task counted), for runs that
// write their files chunk by chunk.
void log_points_saved(SimulationData& data, const QString& path);
void log_trajectory_saved(SimulationData& data, const QString& path);

// The name the save dialog returned, with ".txt" or ".las" appended when it
// ends in neither, taken from the selected filter ("...(*.las)" gives
// ".las", "...(*.txt)" gives ".txt"). An empty name stays empty.
QString add_extension_for_filter(const QString& name, const QString& selectedFilter);
