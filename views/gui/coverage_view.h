#pragma once
#include "coverage/coverage_grid.h"
#include "views/gui/map_canvas.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QString>

class SimulationData;

// The density raster in the colours of the batch runner's coverage picture:
// reds below the target density, the darkest red where a covered cell has
// no return, greens to blues at and above it.
// Hovering a cell shows its density, returns, heights and flight lines.
class CoverageCanvas : public MapCanvas {
    Q_OBJECT
public:
    explicit CoverageCanvas(QWidget* parent = nullptr);

    void setCoverage(const CoverageGrid* grid, double target);
    void setTarget(double target);
    double target() const { return target_; }
    // Top of the colour ramp (points per m2).
    double rampTop() const { return top_; }
    // The cell under a screen point; false outside the raster.
    bool cellAt(const QPointF& screen, int& column, int& row) const;
    // What hovering the cell shows ("" outside the raster).
    QString describeCell(int column, int row) const;

protected:
    void drawMap(QPainter& painter) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void colour();
    void drawLegend(QPainter& painter);

    const CoverageGrid* grid_ = nullptr;
    double target_ = 2.0;
    double top_ = 4.0;
    QImage image_;  // one pixel per cell, north up
};

// The Coverage tab: target density, the map, and the summary beside it.
class CoverageView : public QWidget {
    Q_OBJECT
public:
    explicit CoverageView(QWidget* parent = nullptr);

    void showSurvey(const SimulationData& survey);
    // Lets go of the raster (the survey changed while the tab is hidden).
    void release();
    CoverageCanvas* canvas() const { return canvas_; }
    QDoubleSpinBox* targetBox() const { return target_; }
    const CoverageSummary& summary() const { return summary_; }
    QString summaryText() const { return panel_->text(); }

private:
    void targetChanged();
    void fillPanel();

    const SimulationData* data_ = nullptr;
    CoverageGrid grid_;
    CoverageSummary summary_;
    CoverageCanvas* canvas_;
    QDoubleSpinBox* target_;
    QLabel* panel_;
};
