#include "views/gui/map_canvas.h"

#include "app/gui/desktop_seam.h"
#include "app/gui/error_box.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

const QColor kMapBackground(34, 38, 44);

MapCanvas::MapCanvas(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(160, 120);
    setFocusPolicy(Qt::WheelFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void MapCanvas::setWorldBounds(const QRectF& bounds) {
    bounds_ = bounds.normalized();
    fitToBounds();
}

void MapCanvas::setPlaceholder(const QString& text) {
    placeholder_ = text;
    update();
}

QPointF MapCanvas::toScreen(double x, double y) const { return {(x - left_) / mpp_, (top_ - y) / mpp_}; }

QPointF MapCanvas::toWorld(const QPointF& s) const { return {left_ + s.x() * mpp_, top_ - s.y() * mpp_}; }

QRectF MapCanvas::toScreen(const QRectF& w) const {
    return QRectF(toScreen(w.left(), w.bottom()), toScreen(w.right(), w.top())).normalized();
}

void MapCanvas::fitToBounds() {
    fitted_ = true;
    if (bounds_.isEmpty() || width() <= 0 || height() <= 0) {
        update();
        emit viewChanged();
        return;
    }
    // A margin round the map, more at the bottom for the legend and the
    // scale bar (28 and 76 pixels, less on a small canvas).
    const double side = std::min(28.0, 0.05 * width());
    const double top = std::min(28.0, 0.06 * height()), bottom = std::min(76.0, 0.14 * height());
    const double w = std::max(1.0, width() - 2 * side), h = std::max(1.0, height() - top - bottom);
    mpp_ = std::max(bounds_.width() / w, bounds_.height() / h);
    if (!(mpp_ > 0.0)) mpp_ = 1.0;
    const QPointF c = bounds_.center();
    left_ = c.x() - (width() / 2.0) * mpp_;
    top_ = c.y() + (h / 2.0 + top) * mpp_;
    update();
    emit viewChanged();
}

void MapCanvas::zoomBy(double factor, const QPointF& anchor) {
    if (!(factor > 0.0) || bounds_.isEmpty()) return;
    const QPointF at = toWorld(anchor);
    // Not beyond a centimetre per pixel, nor beyond ten whole maps.
    const double largest = 10.0 * std::max(bounds_.width(), bounds_.height()) / std::max(1, std::min(width(), height()));
    mpp_ = std::clamp(mpp_ / factor, 0.01, std::max(largest, 0.01));
    left_ = at.x() - anchor.x() * mpp_;
    top_ = at.y() + anchor.y() * mpp_;
    fitted_ = false;
    update();
    emit viewChanged();
}

void MapCanvas::panBy(const QPointF& pixels) {
    left_ -= pixels.x() * mpp_;
    top_ += pixels.y() * mpp_;
    fitted_ = false;
    update();
    emit viewChanged();
}

QImage MapCanvas::picture() { return grab().toImage(); }

void MapCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kMapBackground);
    if (!hasMap()) {
        painter.setPen(QColor(190, 196, 204));
        painter.drawText(rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap, placeholder_);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    drawMap(painter);
}

void MapCanvas::drawPanel(QPainter& p, const QRectF& box, int alpha) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 22, 26, alpha));
    p.drawRoundedRect(box, 4, 4);
}

void MapCanvas::drawScaleBar(QPainter& p) {
    // A round length of about 120 pixels: 1, 2 or 5 times a power of ten.
    const double target = 120.0 * mpp_;
    const double power = std::pow(10.0, std::floor(std::log10(target)));
    double length = power;
    for (double k : {2.0, 5.0, 10.0})
        if (k * power <= target) length = k * power;
    const double px = length / mpp_;
    const QString label = length >= 1000.0 ? QStringLiteral("%1 km").arg(length / 1000.0)
                                           : QStringLiteral("%1 m").arg(length);
    const QRectF box(width() - px - 36, height() - 40, px + 24, 30);
    p.save();
    drawPanel(p, box, 190);
    const double x0 = box.left() + 12, y = box.bottom() - 9;
    p.setPen(QPen(QColor(235, 235, 235), 2));
    p.drawLine(QPointF(x0, y), QPointF(x0 + px, y));
    p.drawLine(QPointF(x0, y - 5), QPointF(x0, y + 1));
    p.drawLine(QPointF(x0 + px, y - 5), QPointF(x0 + px, y + 1));
    p.drawText(QRectF(x0, box.top() + 2, px, 14), Qt::AlignCenter, label);
    p.restore();
}

void MapCanvas::drawNorthArrow(QPainter& p) {
    const QPointF tip(width() - 26, 14);
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(7, 20));
    arrow.lineTo(tip + QPointF(0, 15));
    arrow.lineTo(tip + QPointF(-7, 20));
    arrow.closeSubpath();
    p.save();
    p.setPen(QPen(QColor(20, 22, 26), 1));
    p.setBrush(QColor(235, 235, 235));
    p.drawPath(arrow);
    p.setPen(QColor(235, 235, 235));
    p.drawText(QRectF(tip.x() - 10, tip.y() + 20, 20, 14), Qt::AlignCenter, QStringLiteral("N"));
    p.restore();
}

void MapCanvas::resizeEvent(QResizeEvent*) {
    if (fitted_) fitToBounds();
    else emit viewChanged();
}

void MapCanvas::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0.0) zoomBy(std::pow(1.25, steps), event->position());
    event->accept();
}

void MapCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        lastMouse_ = event->pos();
        setCursor(Qt::ClosedHandCursor);
    }
}

void MapCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        panBy(event->pos() - lastMouse_);
        lastMouse_ = event->pos();
    }
}

void MapCanvas::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        unsetCursor();
    }
}

void MapCanvas::mouseDoubleClickEvent(QMouseEvent*) { fitToBounds(); }

void MapCanvas::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Fit whole map"), this, &MapCanvas::fitToBounds);
    menu.addAction(QStringLiteral("Save view as PNG..."), this, &MapCanvas::saveRequested);
    menu.exec(event->globalPos());
}

QString save_picture_as_png(QWidget* parent, const QImage& picture, const QString& suggestedName) {
    QString path = ui_seam().saveFileName(parent, QStringLiteral("Save view as PNG"), suggestedName,
                                          QStringLiteral("PNG images (*.png)"), nullptr);
    if (path.isEmpty()) return QString();
    if (!path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) path += QLatin1String(".png");
    // QSaveFile writes beside the target and renames on commit: an existing
    // file is never left half written.
    QSaveFile file(path);
    QString problem;
    if (!file.open(QIODevice::WriteOnly)) {
        problem = file.errorString();
    } else if (!picture.save(&file, "PNG")) {
        problem = file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("the picture could not be encoded");
        file.cancelWriting();
    } else if (!file.commit()) {
        problem = file.errorString();
    }
    if (!problem.isEmpty()) {
        show_error_box(parent, QStringLiteral("Cannot write the picture '%1': %2").arg(path, problem));
        return QString();
    }
    return path;
}
