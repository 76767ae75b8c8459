#pragma once
#include "app/progress.h"
#include "app/simulation_data.h"
#include "terrain/mesh.h"
#include "terrain/obj_file.h"

#include <QString>
#include <cstddef>

// The model tasks of the main window ("Open Mesh", "Open 3D model", "Save
// Extracted Mesh"), shared by the desktop program and the batch runner. The
// caller does the widget part (precondition check, file dialog, axis and
// unit questions); these do the rest: the work, the log, the status and
// progress messages, and the task count.

enum ModelSource { AsciiMesh, ObjModel };

// "Open Mesh" before its file dialog: discards the working data, logs the
// discard when a task has been completed before, and appends to the log in
// any case (an empty line when nothing was discarded).
void open_mesh_begin(SimulationData& data);

// "Open Mesh" once a file was chosen: reads the file and prepares the model.
// A bad file throws InputError (the message names the file, the line and the
// offending text) and leaves no model.
void load_mesh_task(SimulationData& data, const QString& fileName, Progress& progress);

// "Open 3D model", first thing: flushes the log (an empty line).
void open_obj_begin(SimulationData& data);

// "Open 3D model" once a file was chosen: discards the working data (logging
// it when a task has been completed before), progress range 0..5 at 0,
// status "Loading file..". The desktop program calls it on the unit
// dialog's OK, right before load_obj_task, so that closing that dialog
// without OK keeps the model in use.
void obj_file_chosen(SimulationData& data, Progress& progress);

// The load proper, after the unit dialog. verticalAxisAnswer 0 is "Z Axis",
// 1 "Y Axis"; unitChoice as in obj_unit_divisor(). A name not ending in
// ".obj" is not read. A load that yields no vertex throws InputError and
// leaves no model. Skipped face lines are reported in the log after the
// model's details; the returned report counts them, for a caller that also
// shows them.
ObjReadReport load_obj_task(SimulationData& data, const QString& fileName, int verticalAxisAnswer, int unitChoice,
                   Progress& progress);

// "Save Extracted Mesh" once a file was chosen: writes the model as an ASCII
// mesh and logs the path. Throws Refused when there is no model, and
// OutputError, before anything is logged, when the file cannot be written.
void save_mesh_task(SimulationData& data, const QString& fileName, Progress& progress);

// The preparation shared by both loaders, once vertices and faces are read:
// limits, triangles, sort, octree, and the model's details in the log.
// axisText is "z axis" or "y axis". Throws InputError when there is no
// vertex (there would be no limits).
void prepare_model(SimulationData& data, ModelSource source, const QString& axisText, Progress& progress);

// The details message prepare_model logs.
QString model_details_message(ModelSource source, std::size_t vertexCount, std::size_t faceCount,
                              const ModelLimits& limits, const QString& axisText);

// The log line about face lines the OBJ reader skipped ("" when none was).
QString skipped_face_lines_message(std::size_t skippedLines, std::size_t firstLine);
