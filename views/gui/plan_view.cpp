#include "views/gui/plan_view.h"

#include <functional>
#include "app/simulation_data.h"
#include "views/colour_maps.h"
#include "views/gui/view_toolbar.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

const QColor PlanCanvas::kGapFill(235, 40, 60, 190);
const QColor PlanCanvas::kLineColour(255, 255, 255);

namespace {

constexpr int kRasterSide = 1024;

QPolygonF outline(const PlannedLine& line, const std::function<QPointF(const PlanPoint&)>& map) {
    QPolygonF polygon;
    for (const PlanPoint& p : line.left) polygon << map(p);
    for (auto it = line.right.rbegin(); it != line.right.rend(); ++it) polygon << map(*it);
    return polygon;
}

}  // namespace

PlanCanvas::PlanCanvas(QWidget* parent) : MapCanvas(parent) {
    setObjectName(QStringLiteral("planCanvas"));
    setPlaceholder(QStringLiteral("Open a model to see it here. After \"Scanner and Flight details\" the plan shows "
                                  "the flight lines and where their swaths meet the ground."));
}

void PlanCanvas::showSurvey(const SimulationData& survey) {
    heights_ = HeightRaster();
    shadedModel_ = QImage();
    gaps_ = QImage();
    lines_.clear();
    gapArea_ = 0.0;
    if (survey.triangles.empty()) {
        setWorldBounds(QRectF());
        return;
    }
    const GridFrame frame = frame_over(survey.minX, survey.minY, survey.maxX, survey.maxY, kRasterSide);
    heights_ = rasterise_heights(survey.triangles, frame);
    const float span = heights_.maxZ - heights_.minZ;
    // Slopes over about the mesh's own spacing: finer would show its facets.
    const double meshSpacing = std::sqrt(frame.width() * frame.height() / double(survey.triangles.size()) * 2.0);
    const int step = std::clamp(static_cast<int>(std::lround(meshSpacing / frame.cell)), 1, 16);
    const std::vector<float> shade =
        hillshade(heights_, span > 0.0f ? std::clamp(0.1 * frame.width() / span, 1.0, 3.0) : 1.0, step);
    shadedModel_ = QImage(frame.columns, frame.rows, QImage::Format_ARGB32);
    for (int r = 0; r < frame.rows; ++r) {
        auto* line = reinterpret_cast<QRgb*>(shadedModel_.scanLine(frame.rows - 1 - r));  // north up
        for (int c = 0; c < frame.columns; ++c) {
            const float z = heights_.top[frame.index(c, r)];
            line[c] = std::isnan(z) ? 0u : shaded(terrain_colour(span > 0 ? (z - heights_.minZ) / span : 0.5),
                                                  shade[frame.index(c, r)], 0.45);
        }
    }

    const double halfFov = survey.scanner.fovAcross / 2.0;
    lines_ = plan_swaths(survey.lasers(), survey.laserlines.lineStarts, halfFov, heights_, survey.minZ);
    if (!lines_.empty()) buildGaps();

    // The fit takes in the model and every flight line.
    QRectF bounds(QPointF(survey.minX, survey.minY), QPointF(survey.maxX, survey.maxY));
    for (const PlannedLine& l : lines_) {
        for (const PlanPoint& p : {l.start, l.end}) bounds |= QRectF(p.x, p.y, 1e-9, 1e-9);
    }
    setWorldBounds(bounds);
}

void PlanCanvas::buildGaps() {
    const GridFrame& f = heights_.frame;
    // The swaths drawn into a mask of the raster's grid (image row 0 = north).
    QImage covered(f.columns, f.rows, QImage::Format_Grayscale8);
    covered.fill(0);
    {
        QPainter p(&covered);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        auto map = [&f](const PlanPoint& q) {
            return QPointF((q.x - f.originX) / f.cell, f.rows - (q.y - f.originY) / f.cell);
        };
        for (const PlannedLine& l : lines_) p.drawPolygon(outline(l, map), Qt::WindingFill);
    }
    gaps_ = QImage(f.columns, f.rows, QImage::Format_ARGB32_Premultiplied);
    gaps_.fill(Qt::transparent);
    std::size_t gapCells = 0;
    const QRgb fill = qPremultiply(kGapFill.rgba());
    for (int r = 0; r < f.rows; ++r) {
        const int y = f.rows - 1 - r;
        const uchar* in = covered.constScanLine(y);
        auto* out = reinterpret_cast<QRgb*>(gaps_.scanLine(y));
        for (int c = 0; c < f.columns; ++c) {
            if (std::isnan(heights_.top[f.index(c, r)]) || in[c] != 0) continue;
            out[c] = fill;
            ++gapCells;
        }
    }
    gapArea_ = static_cast<double>(gapCells) * f.cell * f.cell;
}

void PlanCanvas::drawMap(QPainter& p) {
    const GridFrame& f = heights_.frame;
    const QRectF modelRect = toScreen(QRectF(f.originX, f.originY, f.width(), f.height()));
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform, metresPerPixel() > f.cell * 0.5);
    p.drawImage(modelRect, shadedModel_);
    p.restore();

    auto map = [this](const PlanPoint& q) { return toScreen(q.x, q.y); };
    // Swaths: a light wash (darker where two overlap) and their outlines.
    for (const PlannedLine& l : lines_) {
        const QPolygonF poly = outline(l, map);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 170, 255, 45));
        p.drawPolygon(poly);
    }
    if (!gaps_.isNull()) {
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(modelRect, gaps_);
        p.restore();
    }
    for (const PlannedLine& l : lines_) {
        QColor edge = QColor::fromRgb(line_colour(l.number));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(edge, 1.6));
        p.drawPolygon(outline(l, map));
    }

    // Flight lines with chevrons every 90 pixels and an arrowhead at the end.
    labelRects_.clear();
    QFont font = p.font();
    font.setBold(true);
    font.setPointSizeF(std::max(7.0, font.pointSizeF()));
    p.setFont(font);
    for (const PlannedLine& l : lines_) {
        const QPointF a = map(l.start), b = map(l.end);
        const QPointF d = b - a;
        const double length = std::hypot(d.x(), d.y());
        p.setPen(QPen(QColor(20, 24, 30, 200), 4.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(a, b);
        p.setPen(QPen(kLineColour, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(a, b);
        if (length < 1.0) continue;
        const QPointF u = d / length, n(-u.y(), u.x());
        auto head = [&](const QPointF& tip, double size) {
            QPolygonF tri;
            tri << tip << tip - u * size + n * size * 0.55 << tip - u * size - n * size * 0.55;
            p.setPen(QPen(QColor(20, 24, 30, 200), 1.0));
            p.setBrush(kLineColour);
            p.drawPolygon(tri);
        };
        for (double s = 90.0; s < length - 40.0; s += 90.0) head(a + u * s, 8.0);
        head(b, 11.0);

        // The number in a disc just before the start of the line.
        const QString text = QString::number(l.number);
        const double radius = 9.0 + 3.0 * (text.size() - 1);
        const QPointF centre = a - u * (radius + 5.0);
        const QRectF disc(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        p.setPen(QPen(QColor(20, 24, 30), 1.2));
        p.setBrush(kLineColour);
        p.drawEllipse(disc);
        p.setPen(QColor(20, 24, 30));
        p.drawText(disc, Qt::AlignCenter, text);
        labelRects_ << disc;
    }
    p.setFont(QFont());
    drawLegend(p);
    drawScaleBar(p);
    drawNorthArrow(p);
}

void PlanCanvas::drawLegend(QPainter& p) {
    const QRectF box(10, height() - 58, 236, 48);
    p.save();
    drawPanel(p, box, 200);
    // Height ramp.
    const QRectF bar(box.left() + 10, box.top() + 8, 110, 10);
    QLinearGradient g(bar.topLeft(), bar.topRight());
    for (int i = 0; i <= 8; ++i) g.setColorAt(i / 8.0, QColor::fromRgb(terrain_colour(i / 8.0)));
    p.setBrush(g);
    p.drawRect(bar);
    p.setPen(QColor(230, 230, 230));
    QFont small = p.font();
    small.setPointSizeF(std::max(6.5, small.pointSizeF() - 1.0));
    p.setFont(small);
    p.drawText(QRectF(bar.left(), bar.bottom() + 2, 110, 14), Qt::AlignLeft,
               QStringLiteral("%1 m").arg(std::lround(heights_.minZ)));
    p.drawText(QRectF(bar.left(), bar.bottom() + 2, 110, 14), Qt::AlignRight,
               QStringLiteral("%1 m").arg(std::lround(heights_.maxZ)));
    // Swath and gap keys.
    const QRectF swathKey(box.left() + 132, box.top() + 8, 14, 10);
    p.setPen(QPen(QColor(90, 170, 255), 1.2));
    p.setBrush(QColor(90, 170, 255, 70));
    p.drawRect(swathKey);
    p.setPen(QColor(230, 230, 230));
    p.drawText(QRectF(swathKey.right() + 5, swathKey.top() - 3, 90, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Swath"));
    const QRectF gapKey(box.left() + 132, box.top() + 26, 14, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(kGapFill);
    p.drawRect(gapKey);
    p.setPen(QColor(230, 230, 230));
    p.drawText(QRectF(gapKey.right() + 5, gapKey.top() - 3, 90, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Not reached"));
    p.restore();
}

PlanView::PlanView(QWidget* parent) : QWidget(parent), canvas_(new PlanCanvas(this)), summary_(new QLabel(this)) {
    setObjectName(QStringLiteral("planView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ViewToolbar* bar = new ViewToolbar(this);
    bar->addWidget(summary_, 1);
    QPushButton* save = bar->addSaveButton();
    layout->addWidget(bar);
    layout->addWidget(canvas_, 1);
    connect(save, &QPushButton::clicked, canvas_, &MapCanvas::saveRequested);
    connect(canvas_, &MapCanvas::saveRequested, this,
            [this] { save_picture_as_png(this, canvas_->picture(), QStringLiteral("plan.png")); });
    summary_->setText(summary());
}

void PlanView::showSurvey(const SimulationData& survey) {
    canvas_->showSurvey(survey);
    summary_->setText(summary());
}

QString PlanView::summary() const {
    const HeightRaster& h = canvas_->heights();
    if (h.empty()) return QStringLiteral("No model");
    if (canvas_->lines().empty()) return QStringLiteral("Model only: no flight lines laid yet");
    const double gap = canvas_->gapArea();
    QString text = QStringLiteral("%1 flight lines").arg(canvas_->lines().size());
    text += gap > 0.0 ? QStringLiteral("   |   Ground no swath reaches: %1 m\u00b2").arg(QLocale().toString(gap, 'f', 0))
                      : QStringLiteral("   |   Every part of the model lies in a swath");
    return text;
}
