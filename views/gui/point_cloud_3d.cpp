#include "views/gui/point_cloud_3d.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstddef>

#ifndef GL_PROGRAM_POINT_SIZE
#define GL_PROGRAM_POINT_SIZE 0x8642
#endif

bool opengl_available() {
    static const bool available = [] {
        QOpenGLContext context;
        return context.create() && context.isValid();
    }();
    return available;
}

PointCloud3D::PointCloud3D(QWidget* parent) : QOpenGLWidget(parent), buffer_(QOpenGLBuffer::VertexBuffer) {
    setObjectName(QStringLiteral("pointCloud3D"));
    setMinimumSize(160, 120);
}

PointCloud3D::~PointCloud3D() {
    makeCurrent();
    if (buffer_.isCreated()) buffer_.destroy();
    doneCurrent();
}

void PointCloud3D::setPoints(const std::vector<ViewPoint>& points, const PointIndex& index, PointColouring colouring,
                             std::size_t ofTotal) {
    vertices_.clear();
    vertices_.reserve(points.size());
    // Centred on the cloud, scaled so its larger side spans 2 units; true
    // proportions in height.
    const double cx = (index.maxX() - index.minX()) / 2.0, cy = (index.maxY() - index.minY()) / 2.0;
    const double cz = (index.minZ() + index.maxZ()) / 2.0;
    const double half = std::max({cx, cy, 1e-6});
    for (const ViewPoint& p : points) {
        const Argb c = point_colour(index, p, colouring);
        const std::uint32_t rgba = std::uint32_t(red_of(c)) | std::uint32_t(green_of(c)) << 8 |
                                   std::uint32_t(blue_of(c)) << 16 | 0xff000000u;
        vertices_.push_back({float((p.x - cx) / half), float((p.y - cy) / half), float((p.z - cz) / half), rgba});
    }
    total_ = ofTotal;
    upload_ = true;
    update();
}

void PointCloud3D::resetView() {
    yaw_ = -35.0;
    pitch_ = 35.0;
    distance_ = 3.2;
    update();
}

void PointCloud3D::orbit(double dYaw, double dPitch) {
    yaw_ = std::fmod(yaw_ + dYaw, 360.0);
    pitch_ = std::clamp(pitch_ + dPitch, -89.0, 89.0);
    update();
}

void PointCloud3D::zoom(double factor) {
    if (factor > 0.0) distance_ = std::clamp(distance_ / factor, 0.05, 50.0);
    update();
}

QMatrix4x4 PointCloud3D::viewProjection() const {
    QMatrix4x4 projection;
    const float aspect = height() > 0 ? float(width()) / float(height()) : 1.0f;
    projection.perspective(40.0f, aspect, float(distance_) * 0.01f, float(distance_) * 10.0f + 10.0f);
    QMatrix4x4 view;
    view.translate(0.0f, 0.0f, float(-distance_));
    view.rotate(float(-(90.0 - pitch_)), 1.0f, 0.0f, 0.0f);  // z up, seen from above the horizon
    view.rotate(float(yaw_), 0.0f, 0.0f, 1.0f);
    return projection * view;
}

void PointCloud3D::initializeGL() {
    initializeOpenGLFunctions();
    program_.addShaderFromSourceCode(QOpenGLShader::Vertex,
                                     "attribute vec3 position;\n"
                                     "attribute vec4 colour;\n"
                                     "uniform mat4 mvp;\n"
                                     "uniform float pointSize;\n"
                                     "varying vec4 vColour;\n"
                                     "void main() {\n"
                                     "  gl_Position = mvp * vec4(position, 1.0);\n"
                                     "  gl_PointSize = pointSize;\n"
                                     "  vColour = colour;\n"
                                     "}\n");
    program_.addShaderFromSourceCode(QOpenGLShader::Fragment,
                                     "varying vec4 vColour;\n"
                                     "void main() { gl_FragColor = vColour; }\n");
    program_.bindAttributeLocation("position", 0);
    program_.bindAttributeLocation("colour", 1);
    ready_ = program_.link() && buffer_.create();
}

void PointCloud3D::resizeGL(int, int) {}

void PointCloud3D::paintGL() {
    glClearColor(34 / 255.0f, 38 / 255.0f, 44 / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (ready_ && !vertices_.empty()) {
        buffer_.bind();
        if (upload_) {
            buffer_.allocate(vertices_.data(), int(vertices_.size() * sizeof(Vertex)));
            uploaded_ = vertices_.size();
            upload_ = false;
        }
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_PROGRAM_POINT_SIZE);
        program_.bind();
        program_.setUniformValue("mvp", viewProjection());
        program_.setUniformValue("pointSize", GLfloat(uploaded_ > 300000 ? 1.5f : 2.5f) * GLfloat(devicePixelRatioF()));
        program_.enableAttributeArray(0);
        program_.enableAttributeArray(1);
        program_.setAttributeBuffer(0, GL_FLOAT, 0, 3, sizeof(Vertex));
        // Colours are bytes: normalise them to 0..1.
        glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex),
                              reinterpret_cast<const void*>(offsetof(Vertex, rgba)));
        glDrawArrays(GL_POINTS, 0, GLsizei(uploaded_));
        program_.disableAttributeArray(0);
        program_.disableAttributeArray(1);
        program_.release();
        buffer_.release();
        glDisable(GL_DEPTH_TEST);
    }
}

void PointCloud3D::mousePressEvent(QMouseEvent* event) { lastMouse_ = event->pos(); }

void PointCloud3D::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    const QPoint d = event->pos() - lastMouse_;
    lastMouse_ = event->pos();
    orbit(d.x() * 0.4, d.y() * 0.4);
}

void PointCloud3D::mouseDoubleClickEvent(QMouseEvent*) { resetView(); }

void PointCloud3D::wheelEvent(QWheelEvent* event) {
    zoom(std::pow(1.2, event->angleDelta().y() / 120.0));
    event->accept();
}
