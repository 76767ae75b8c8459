#pragma once
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>

// A north-up map of the model plane in a widget: the wheel zooms about the
// mouse, a drag pans, a double click fits the whole map again. Subclasses
// draw their content in drawMap() through toScreen(); the canvas adds the
// scale bar and the north arrow. The right-click menu saves the picture.
class MapCanvas : public QWidget {
    Q_OBJECT
public:
    explicit MapCanvas(QWidget* parent = nullptr);

    // The model-plane rectangle a fit shows (x right, y up). An empty one
    // leaves the canvas showing its placeholder text.
    void setWorldBounds(const QRectF& bounds);
    QRectF worldBounds() const { return bounds_; }
    void setPlaceholder(const QString& text);

    // The mapping: screen = ((x - left) / mpp, (top - y) / mpp).
    double metresPerPixel() const { return mpp_; }
    QPointF toScreen(double x, double y) const;
    QPointF toWorld(const QPointF& screen) const;
    // Screen rectangle of a model-plane rectangle.
    QRectF toScreen(const QRectF& world) const;

    void fitToBounds();
    // Zooms by `factor` (> 1 in) keeping the model point under `anchor`.
    void zoomBy(double factor, const QPointF& anchor);
    void panBy(const QPointF& pixels);

    // The widget as a picture (what "Save as PNG" writes).
    QImage picture();

signals:
    // The mapping changed (zoom, pan, resize or a new fit).
    void viewChanged();
    // The user asked to save the picture (context menu).
    void saveRequested();

protected:
    // The map content; the canvas has filled the background already.
    virtual void drawMap(QPainter& painter) = 0;
    bool hasMap() const { return !bounds_.isEmpty(); }
    void drawScaleBar(QPainter& painter);
    void drawNorthArrow(QPainter& painter);
    // The dark rounded panel under a legend or the scale bar (leaves the
    // painter without a pen and with the panel's brush).
    static void drawPanel(QPainter& painter, const QRectF& box, int alpha);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QRectF bounds_;
    QString placeholder_;
    double left_ = 0.0, top_ = 0.0, mpp_ = 1.0;
    bool fitted_ = false;  // still showing the whole map: a resize fits again
    bool dragging_ = false;
    QPoint lastMouse_;
};

// Background of every map.
extern const QColor kMapBackground;

// Saves a picture as PNG through the file-dialog seam: asks for the name
// (".png" added when missing), writes it whole or not at all, and shows an
// "Error" box naming the file when it cannot. Returns the path written, or
// "" when cancelled or failed.
QString save_picture_as_png(QWidget* parent, const QImage& picture, const QString& suggestedName);
