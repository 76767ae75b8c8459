#include "terrain/terrain_tasks.h"

#include "lidar/cast_tree.h"

#include "app/failure.h"
#include "terrain/mesh_file.h"
#include "terrain/obj_file.h"
#include "terrain/octree.h"

#include <memory>

namespace {

void discard_before_load(SimulationData& data) {
    data.discardAll();
    if (data.taskCount != 0) data.pendingMessage = QString::fromLatin1(kDiscardMessage);
}

// A failed load leaves no model at all.
void drop_model(SimulationData& data, Progress& progress) {
    data.vertices.clear();
    data.faces.clear();
    data.faceClasses.clear();
    data.triangles.clear();
    data.octreeRoot.reset();
    data.castTree.reset();
    data.castTreeRoot = nullptr;
    progress.showStatus(QString());
}

}  // namespace

void open_mesh_begin(SimulationData& data) {
    discard_before_load(data);
    data.appendLog();
}

void load_mesh_task(SimulationData& data, const QString& fileName, Progress& progress) {
    data.modelPath = fileName;
    progress.showStatus(QStringLiteral("Loading file.."));
    try {
        read_mesh_file(data.vertices, data.faces, fileName, progress);
        progress.setRange(0, 5);
        progress.setValue(0);
        progress.setValue(1);
        prepare_model(data, AsciiMesh, QStringLiteral("z axis"), progress);
    } catch (...) {
        drop_model(data, progress);
        throw;
    }
    progress.showStatus(QStringLiteral("     Uploaded mesh. Task completed.."));
    ++data.taskCount;
}

void open_obj_begin(SimulationData& data) { data.appendLog(); }

void obj_file_chosen(SimulationData& data, Progress& progress) {
    discard_before_load(data);
    if (data.taskCount != 0) data.appendLog();
    progress.setRange(0, 5);
    progress.setValue(0);
    progress.showStatus(QStringLiteral("Loading file.."));
}

ObjReadReport load_obj_task(SimulationData& data, const QString& fileName, int verticalAxisAnswer, int unitChoice,
                   Progress& progress) {
    data.modelPath = fileName;
    data.verticalAxisAnswer = verticalAxisAnswer;
    ObjReadReport report;
    QString axisText;
    try {
        // Only a name ending in ".obj", in exactly these letters, is read.
        const bool readable = fileName.endsWith(QLatin1String(".obj"), Qt::CaseSensitive);
        if (readable) report = read_obj_file(data.vertices, data.faces, fileName, unitChoice, data.faceClasses, data.classTable);
        if (data.vertices.empty()) {
            const std::string name = fileName.toStdString();
            if (!readable)
                throw InputError("\"" + name + "\" was not read: only files whose name ends in \".obj\" are.");
            throw InputError("3D model file \"" + name + "\" holds no vertex (no line starting with \"v \").");
        }
        if (verticalAxisAnswer == 1) {
            swap_y_z(data.vertices);
            axisText = QStringLiteral("y axis");
        } else {
            axisText = QStringLiteral("z axis");
        }
        progress.setValue(1);
        prepare_model(data, ObjModel, axisText, progress);
    } catch (...) {
        drop_model(data, progress);
        throw;
    }
    if (report.skippedFaceLines != 0) {
        data.pendingMessage = skipped_face_lines_message(report.skippedFaceLines, report.firstSkippedLine);
        data.appendLog();
    }
    progress.showStatus(QStringLiteral("         Uploaded 3D model. Task completed.."));
    ++data.taskCount;
    return report;
}

void save_mesh_task(SimulationData& data, const QString& fileName, Progress& progress) {
    const QString refusal = refusal_save_mesh(data);
    if (!refusal.isEmpty()) throw Refused(refusal.toStdString());
    data.savePath = fileName;
    write_mesh_file(data.vertices, data.faces, fileName, progress);
    data.pendingMessage = QStringLiteral("ASCII file of extracted mesh data saved, Path : ") + fileName +
                          QLatin1Char('\n');
    data.appendLog();
    progress.showStatus(QStringLiteral("     Extracted mesh saved. Task completed.."));
    ++data.taskCount;
}

void prepare_model(SimulationData& data, ModelSource source, const QString& axisText, Progress& progress) {
    if (data.vertices.empty()) throw InputError("The model has no vertex, so it has no extent to work with.");

    data.setLimits(compute_limits(data.vertices));
    progress.showStatus(QStringLiteral("Calculating limits.."));
    progress.setValue(2);
    progress.showStatus(QStringLiteral("Generating Mesh class.."));

    // The records are made in their sorted order at once; the progress
    // steps and messages stay those of making them, then sorting them.
    generate_sorted_mesh(data.vertices, data.faces, data.triangles);
    progress.setValue(3);
    progress.showStatus(QStringLiteral("Sorting Mesh.."));
    progress.setValue(4);
    progress.showStatus(QStringLiteral("Creating Octree structure.."));

    // Release the old trees before the new one is built.
    data.castTree.reset();
    data.castTreeRoot = nullptr;
    data.octreeRoot.reset();
    // The cast walks a compact copy of the octree, kept with the model and
    // built straight from the triangles: the pointer tree is never made.
    data.castTree = std::make_shared<const CastTree>(data.triangles, Vec3{data.maxX, data.maxY, data.maxZ},
                                                     Vec3{data.minX, data.minY, data.minZ}, data.preparationThreads);
    progress.setValue(5);
    progress.showStatus(QString());

    data.pendingMessage =
        model_details_message(source, data.vertices.size(), data.faces.size(), data.limits(), axisText);
    data.appendLog();
}

QString model_details_message(ModelSource source, std::size_t vertexCount, std::size_t faceCount,
                              const ModelLimits& l, const QString& axisText) {
    auto fixed2 = [](double v) { return QString::number(v, 'f', 2); };
    const QString rule = QString(133, QLatin1Char('_')) + QLatin1Char('\n');
    // Built piece by piece rather than with an arg() chain: ten markers,
    // and "%10" must not be read as "%1" followed by 0.
    QString m;
    m += QStringLiteral("File has been been loaded successfully\n");
    m += QStringLiteral("File Details: \n");
    m += QStringLiteral("No. of Vertices = ") + QString::number(static_cast<qulonglong>(vertexCount)) +
         QStringLiteral(" \n");
    m += QStringLiteral("No. of Triangles =  ") + QString::number(static_cast<qulonglong>(faceCount)) +
         QLatin1Char('\n');
    m += QStringLiteral("X Range = ") + fixed2(l.minX) + QStringLiteral(" m : ") + fixed2(l.maxX) +
         QStringLiteral(" m\n");
    m += QStringLiteral("Y Range = ") + fixed2(l.minY) + QStringLiteral(" m : ") + fixed2(l.maxY) +
         QStringLiteral(" m\n");
    m += QStringLiteral("Z Range = ") + fixed2(l.minZ) + QStringLiteral(" m : ") + fixed2(l.maxZ) +
         QStringLiteral(" m\n");
    m += QStringLiteral("Original Vertical Axis = ") + axisText + QLatin1Char('\n');
    m += QStringLiteral("Bounding Box Area = ") + fixed2((l.maxX - l.minX) * (l.maxY - l.minY)) +
         QStringLiteral(" Sq m\n");
    m += QLatin1Char('\n');
    m += rule;
    m += QStringLiteral("Now, please go to 'Scanner and Flight details' under 'Simulation' for entering scanner "
                        "movement and flight trajectory details.\n");
    m += QStringLiteral("You may take help from 'Flight Planning' under 'Tools'.\n");
    if (source == ObjModel) m += QStringLiteral("You may also save the extracted mesh.\n");
    m += rule;
    return m;
}

QString skipped_face_lines_message(std::size_t skippedLines, std::size_t firstLine) {
    if (skippedLines == 0) return QString();
    const QString count = QString::number(static_cast<qulonglong>(skippedLines));
    const QString line = QString::number(static_cast<qulonglong>(firstLine));
    const QString what = skippedLines == 1 ? QStringLiteral(" face line was skipped (at line ")
                                           : QStringLiteral(" face lines were skipped (first at line ");
    return count + what + line +
           QStringLiteral("): a face needs three vertex references, each a vertex already read.\n");
}
