#pragma once
#include "views/point_index.h"

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QPoint>
#include <vector>

// Whether this display can give an OpenGL context at all (asked once).
bool opengl_available();

// The thinned returns in 3D: a drag orbits round the centre of the cloud,
// the wheel zooms, a double click goes back to the first view. The points
// are uploaded once per change of the set or its colouring.
class PointCloud3D : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT
public:
    explicit PointCloud3D(QWidget* parent = nullptr);
    ~PointCloud3D() override;

    void setPoints(const std::vector<ViewPoint>& points, const PointIndex& index, PointColouring colouring,
                   std::size_t ofTotal);
    void resetView();
    // Camera: degrees round the vertical, degrees above the horizon, and
    // the distance in units of the cloud's half width.
    double yaw() const { return yaw_; }
    double pitch() const { return pitch_; }
    double distance() const { return distance_; }
    void orbit(double dYaw, double dPitch);
    void zoom(double factor);
    QMatrix4x4 viewProjection() const;
    // Returns in the whole survey (the set shown may be thinned).
    std::size_t total() const { return total_; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Vertex {
        float x, y, z;
        std::uint32_t rgba;  // bytes r, g, b, a in memory
    };
    std::vector<Vertex> vertices_;
    bool upload_ = false;
    std::size_t uploaded_ = 0;
    std::size_t total_ = 0;
    QOpenGLShaderProgram program_;
    QOpenGLBuffer buffer_;
    bool ready_ = false;
    double yaw_ = -35.0, pitch_ = 35.0, distance_ = 3.2;
    QPoint lastMouse_;
};
