#pragma once
#include "views/gui/map_canvas.h"
#include "views/point_index.h"

#include <QComboBox>
#include <QLabel>
#include <QTimer>
#include <vector>

class QStackedWidget;
class QToolButton;
class PointCloud3D;
class SimulationData;

// The returns seen from above. The picture is drawn from the point index
// for the window shown, once per change of the window or the colouring;
// while the user zooms or pans, the last picture is moved and scaled until
// the new one is ready.
class PointsCanvas : public MapCanvas {
    Q_OBJECT
public:
    explicit PointsCanvas(QWidget* parent = nullptr);

    void setIndex(const PointIndex* index);
    void setColouring(PointColouring colouring);
    PointColouring colouring() const { return colouring_; }
    // Draws the picture for the current window now (the timer does it
    // otherwise, shortly after the last change).
    void renderNow();
    // How many pictures were drawn from the index so far.
    int renders() const { return renders_; }

protected:
    void drawMap(QPainter& painter) override;

private:
    void drawLegend(QPainter& painter);

    const PointIndex* index_ = nullptr;
    PointColouring colouring_ = PointColouring::Height;
    QImage picture_;
    TopViewWindow drawn_;  // the window picture_ shows
    bool stale_ = true;
    QTimer timer_;
    std::vector<Argb> pixels_;
    std::vector<float> depth_;
    int renders_ = 0;
};

// The Points tab: colouring, top view or 3D, point count, save button.
class PointsView : public QWidget {
    Q_OBJECT
public:
    explicit PointsView(QWidget* parent = nullptr);
    ~PointsView() override;

    void showSurvey(const SimulationData& survey);
    // Lets go of the points (the survey changed while the tab is hidden).
    void release();
    const PointIndex& index() const { return index_; }
    PointsCanvas* canvas() const { return canvas_; }
    QComboBox* colouringBox() const { return colouring_; }
    // Switches between the top view and the 3D view.
    void show3D(bool on);
    bool showing3D() const;
    // The 3D page: the OpenGL view, or a message where there is no OpenGL.
    QWidget* page3D() const { return page3D_; }
    // At most this many points go to the 3D view.
    static constexpr std::size_t k3DPoints = 1000000;

private:
    void colouringChanged();
    void save();
    void make3D();
    void updateCount();

    PointIndex index_;
    PointsCanvas* canvas_;
    QComboBox* colouring_;
    QLabel* count_;
    QToolButton* topButton_;
    QToolButton* threeDButton_;
    QStackedWidget* stack_;
    QWidget* page3D_;
    PointCloud3D* cloud3D_ = nullptr;
    bool cloud3DStale_ = true;
};
