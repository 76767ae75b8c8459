#pragma once
#include "views/gui/map_canvas.h"
#include "views/height_raster.h"
#include "views/swath_plan.h"

#include <QLabel>
#include <QVector>
#include <vector>

class SimulationData;

// The plan before casting: the model as a shaded height map, the flight
// lines numbered with arrows for their direction, each swath's outline on
// the ground, and in red the model ground that no swath reaches.
class PlanCanvas : public MapCanvas {
    Q_OBJECT
public:
    explicit PlanCanvas(QWidget* parent = nullptr);

    // Rebuilds everything from the working data (model, then lines).
    void showSurvey(const SimulationData& survey);

    const HeightRaster& heights() const { return heights_; }
    const std::vector<PlannedLine>& lines() const { return lines_; }
    // Model area (m2) inside the model's footprint that no swath reaches.
    double gapArea() const { return gapArea_; }
    // Where the number of each line was drawn at the last paint (screen).
    const QVector<QRectF>& labelRects() const { return labelRects_; }

    static const QColor kGapFill;
    static const QColor kLineColour;

protected:
    void drawMap(QPainter& painter) override;

private:
    void buildGaps();
    void drawLegend(QPainter& painter);

    HeightRaster heights_;
    QImage shadedModel_;  // one pixel per raster cell, transparent where no model
    QImage gaps_;         // same grid: kGapFill where the model is out of every swath
    std::vector<PlannedLine> lines_;
    double gapArea_ = 0.0;
    QVector<QRectF> labelRects_;
};

// The Plan tab: a one-line summary and a save button above the map.
class PlanView : public QWidget {
    Q_OBJECT
public:
    explicit PlanView(QWidget* parent = nullptr);
    void showSurvey(const SimulationData& survey);
    PlanCanvas* canvas() const { return canvas_; }
    QString summary() const;

private:
    PlanCanvas* canvas_;
    QLabel* summary_;
};
