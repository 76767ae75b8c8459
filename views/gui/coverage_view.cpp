#include "views/gui/coverage_view.h"

#include "app/simulation_data.h"
#include "coverage/picture/coverage_picture.h"
#include "views/colour_maps.h"
#include "views/gui/view_toolbar.h"

#include <QHBoxLayout>
#include <QLinearGradient>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

QString number(double v, int decimals) { return QLocale().toString(v, 'f', decimals); }

}  // namespace

CoverageCanvas::CoverageCanvas(QWidget* parent) : MapCanvas(parent) {
    setObjectName(QStringLiteral("coverageCanvas"));
    setPlaceholder(QStringLiteral("The point density per cell appears here after \"LiDAR Data Simulation\"."));
}

void CoverageCanvas::setCoverage(const CoverageGrid* grid, double target) {
    grid_ = grid && grid->columns > 0 && grid->rows > 0 ? grid : nullptr;
    target_ = target;
    colour();
    if (!grid_) {
        setWorldBounds(QRectF());
        return;
    }
    setWorldBounds(QRectF(grid_->originX, grid_->originY, grid_->columns * grid_->cell, grid_->rows * grid_->cell));
}

void CoverageCanvas::setTarget(double target) {
    target_ = target;
    colour();
    update();
}

void CoverageCanvas::colour() {
    image_ = QImage();
    if (!grid_) return;
    const CoverageGrid& g = *grid_;
    // The colours of the batch runner's coverage picture, so that the two
    // read alike; off the model (and without returns) the map shows through.
    top_ = coverage_scale_top(g, target_);
    image_ = QImage(g.columns, g.rows, QImage::Format_ARGB32);
    for (int r = 0; r < g.rows; ++r) {
        auto* line = reinterpret_cast<QRgb*>(image_.scanLine(g.rows - 1 - r));
        for (int c = 0; c < g.columns; ++c) {
            const std::size_t i = g.index(c, r);
            const bool covered = g.covered[i] != 0;
            line[c] = covered || g.points[i] != 0 ? coverage_colour(g.density(i), covered, target_, top_).rgb() : 0u;
        }
    }
}

bool CoverageCanvas::cellAt(const QPointF& screen, int& column, int& row) const {
    if (!grid_) return false;
    const QPointF w = toWorld(screen);
    const double c = (w.x() - grid_->originX) / grid_->cell, r = (w.y() - grid_->originY) / grid_->cell;
    if (!(c >= 0 && r >= 0 && c < grid_->columns && r < grid_->rows)) return false;
    column = int(c);
    row = int(r);
    return true;
}

QString CoverageCanvas::describeCell(int column, int row) const {
    if (!grid_ || column < 0 || row < 0 || column >= grid_->columns || row >= grid_->rows) return QString();
    const CoverageGrid& g = *grid_;
    const std::size_t i = g.index(column, row);
    QStringList lines;
    for (int bit = 0; bit < 64; ++bit) {
        if (!((g.lines[i] >> bit) & 1u)) continue;
        // Bit b stands for lines b + 1, b + 65, ...: name the first that exists.
        lines << QString::number(bit + 1);
    }
    const double d = g.density(i);
    QString text = QStringLiteral("%1 points/m\u00b2 (%2 returns in %3 m \u00d7 %3 m)")
                       .arg(number(d, 2), QLocale().toString(qulonglong(g.points[i])), number(g.cell, g.cell < 1 ? 2 : 0));
    if (!g.covered[i]) text += QStringLiteral("\nOutside the model's footprint");
    else if (g.points[i] == 0) text += QStringLiteral("\nNo return: a gap or a shadow");
    else if (d < target_) text += QStringLiteral("\nBelow the target of %1 points/m\u00b2").arg(number(target_, 2));
    if (g.points[i] != 0)
        text += QStringLiteral("\nHeights %1 to %2 m").arg(number(g.lowZ[i], 1), number(g.highZ[i], 1));
    if (lines.isEmpty()) text += QStringLiteral("\nNo flight line");
    else text += QStringLiteral("\nFlight lines: %1").arg(lines.join(QStringLiteral(", ")));
    // More than 64 lines share bits: line n is bit (n - 1) % 64.
    if (!lines.isEmpty() && g.swaths.lines > 64) text += QStringLiteral(" (modulo 64)");
    return text;
}

void CoverageCanvas::mouseMoveEvent(QMouseEvent* event) {
    MapCanvas::mouseMoveEvent(event);
    int c = 0, r = 0;
    if (!(event->buttons() & Qt::LeftButton) && cellAt(event->pos(), c, r))
        QToolTip::showText(event->globalPos(), describeCell(c, r), this);
    else
        QToolTip::hideText();
}

void CoverageCanvas::drawMap(QPainter& p) {
    if (!image_.isNull()) {
        const QRectF where = toScreen(QRectF(grid_->originX, grid_->originY, grid_->columns * grid_->cell,
                                             grid_->rows * grid_->cell));
        p.save();
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(where, image_);
        // Cell edges once the cells are large enough to tell apart.
        if (grid_->cell / metresPerPixel() >= 12.0) {
            p.setPen(QPen(QColor(0, 0, 0, 50), 1));
            const double step = grid_->cell / metresPerPixel();
            for (double x = where.left(); x <= where.right() + 0.5; x += step) p.drawLine(QPointF(x, where.top()), QPointF(x, where.bottom()));
            for (double y = where.top(); y <= where.bottom() + 0.5; y += step) p.drawLine(QPointF(where.left(), y), QPointF(where.right(), y));
        }
        p.restore();
    }
    drawLegend(p);
    drawScaleBar(p);
    drawNorthArrow(p);
}

void CoverageCanvas::drawLegend(QPainter& p) {
    const QRectF box(10, height() - 84, 290, 74);
    p.save();
    drawPanel(p, box, 205);
    QFont small = p.font();
    small.setPointSizeF(std::max(6.5, small.pointSizeF() - 1.0));
    p.setFont(small);
    // No point, then up to the target in reds, then the ramp to the top.
    const QRectF gapKey(box.left() + 10, box.top() + 44, 12, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(coverage_colour(0.0, true, target_, top_));
    p.drawRect(gapKey);
    const QRectF bar(box.left() + 26, box.top() + 44, 254, 10);
    const double targetAt = target_ / top_;  // a linear scale from 0 to the top
    QLinearGradient g(bar.topLeft(), bar.topRight());
    for (int i = 0; i <= 40; ++i) {
        const double t = i / 40.0;
        g.setColorAt(t, coverage_colour(std::max(t * top_, 1e-9 * top_), true, target_, top_));
    }
    // Sharp at the target, where the reds end.
    g.setColorAt(std::max(0.0, targetAt - 1e-6), coverage_colour(target_ * (1 - 1e-9), true, target_, top_));
    g.setColorAt(targetAt, coverage_colour(target_, true, target_, top_));
    p.setBrush(g);
    p.drawRect(bar);
    const double tx = bar.left() + bar.width() * targetAt;
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(tx, bar.top() - 3), QPointF(tx, bar.bottom() + 3));
    p.setPen(QColor(230, 230, 230));
    p.drawText(QRectF(gapKey.left(), box.top() + 3, 270, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Points per m\u00b2, darkest red: none"));
    const QRectF labels(bar.left(), bar.bottom() + 2, bar.width(), 16);
    p.drawText(labels, Qt::AlignLeft, QStringLiteral("0"));
    // The target above its tick.
    const double decimals = target_ < 0.1 ? 3 : target_ < 10 ? 1 : 0;
    p.drawText(QRectF(std::clamp(tx - 60, bar.left() - 16, bar.right() - 120), box.top() + 23, 120, 18),
               tx - 60 < bar.left() - 16 ? Qt::AlignLeft : tx + 60 > bar.right() ? Qt::AlignRight : Qt::AlignHCenter,
               QStringLiteral("target %1").arg(number(target_, int(decimals))));
    p.drawText(labels, Qt::AlignRight, number(top_, top_ < 1 ? 2 : top_ < 10 ? 1 : 0));
    p.restore();
}

CoverageView::CoverageView(QWidget* parent)
    : QWidget(parent), canvas_(new CoverageCanvas(this)), target_(new QDoubleSpinBox(this)), panel_(new QLabel(this)) {
    setObjectName(QStringLiteral("coverageView"));
    target_->setObjectName(QStringLiteral("targetDensity"));
    target_->setRange(0.01, 1000.0);
    target_->setDecimals(2);
    target_->setSingleStep(0.5);
    target_->setValue(2.0);
    target_->setSuffix(QStringLiteral(" points/m\u00b2"));
    target_->setToolTip(QStringLiteral("Cells below this density are marked red (for example 2 for USGS QL2, 8 for QL1)"));
    panel_->setObjectName(QStringLiteral("coverageSummary"));
    panel_->setTextFormat(Qt::RichText);
    panel_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    panel_->setWordWrap(true);
    panel_->setMargin(8);
    QFont font = panel_->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    panel_->setFont(font);
    panel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* bar = new ViewToolbar(this);
    bar->addWidget(new QLabel(QStringLiteral("Target density"), this));
    bar->addWidget(target_);
    bar->addStretch();
    QPushButton* save = bar->addSaveButton();

    auto* scroll = new QScrollArea(this);
    scroll->setWidget(panel_);
    scroll->setWidgetResizable(true);
    scroll->setFixedWidth(290);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(canvas_, 1);
    body->addWidget(scroll);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addLayout(body, 1);

    connect(target_, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this, [this] { targetChanged(); });
    connect(save, &QPushButton::clicked, canvas_, &MapCanvas::saveRequested);
    connect(canvas_, &MapCanvas::saveRequested, this,
            [this] { save_picture_as_png(this, canvas_->picture(), QStringLiteral("coverage.png")); });
    fillPanel();
}

void CoverageView::showSurvey(const SimulationData& survey) {
    data_ = &survey;
    grid_ = CoverageGrid();
    summary_ = CoverageSummary();
    const bool anyReturn = std::any_of(survey.lasers().begin(), survey.lasers().end(),
                                       [](const LaserLine& l) { return l.hitFaceIndex != -1; });
    if (!survey.triangles.empty() && anyReturn) {
        grid_ = analyse_coverage(survey, 0.0);
        summary_ = summarise_coverage(grid_, survey, target_->value());
    }
    canvas_->setCoverage(grid_.columns > 0 ? &grid_ : nullptr, target_->value());
    fillPanel();
}

void CoverageView::release() {
    grid_ = CoverageGrid();
    summary_ = CoverageSummary();
    canvas_->setCoverage(nullptr, target_->value());
    fillPanel();
}

void CoverageView::targetChanged() {
    if (data_ && grid_.columns > 0) summary_ = summarise_coverage(grid_, *data_, target_->value());
    canvas_->setTarget(target_->value());
    fillPanel();
}

void CoverageView::fillPanel() {
    if (grid_.columns == 0) {
        panel_->setText(QStringLiteral("<p style='color:#666'>No points yet.</p>"));
        return;
    }
    const CoverageSummary& s = summary_;
    auto row = [](const QString& name, const QString& value) {
        return QStringLiteral("<tr><td style='padding-right:6px; color:#444'>%1</td><td align='right' style='white-space:nowrap'><b>%2</b></td></tr>").arg(name, value);
    };
    const bool met = s.shareMeetingTarget >= 0.95;
    QString html = QStringLiteral("<p><b style='color:%1; font-size:x-large'>%2 %</b><br/>of the model meets %3 points/m\u00b2</p>")
                       .arg(met ? QStringLiteral("#1a7f37") : QStringLiteral("#c8142a"),
                            number(100.0 * s.shareMeetingTarget, 1), number(s.targetDensity, 2));
    html += QStringLiteral("<table>");
    html += row(QStringLiteral("Mean density"), number(s.meanDensity, 2) + QStringLiteral(" /m\u00b2"));
    html += row(QStringLiteral("Median density"), number(s.medianDensity, 2) + QStringLiteral(" /m\u00b2"));
    html += row(QStringLiteral("5th percentile"), number(s.p5Density, 2) + QStringLiteral(" /m\u00b2"));
    html += row(QStringLiteral("Pulse spacing"),
                std::isfinite(s.nominalPulseSpacing) ? number(s.nominalPulseSpacing, 2) + QStringLiteral(" m") : QStringLiteral("-"));
    html += row(QStringLiteral("No return (gaps)"), number(s.emptyCoveredArea, 0) + QStringLiteral(" m\u00b2"));
    html += row(QStringLiteral("Covered area"), number(s.coveredArea / 1e6, 3) + QStringLiteral(" km\u00b2"));
    html += row(QStringLiteral("Cell size"), number(grid_.cell, grid_.cell < 1 ? 2 : 0) + QStringLiteral(" m"));
    html += row(QStringLiteral("Returns"), QLocale().toString(qulonglong(s.returns)));
    html += QStringLiteral("</table>");
    if (!s.overlaps.empty()) {
        html += QStringLiteral("<p><b>Side overlap reached</b><br/><span style='color:#666'>least / mean, of the swath</span></p><table>");
        for (const LineOverlap& o : s.overlaps) {
            const bool gap = o.share < 0.0;
            QString value = QStringLiteral("<span style='color:%1'>%2 %</span> / %3 %")
                                .arg(gap ? QStringLiteral("#c8142a") : QStringLiteral("#222"), number(100.0 * o.share, 0),
                                     number(100.0 * o.meanShare, 0));
            if (o.gapLength > 0.0) value += QStringLiteral("<br/><span style='color:#c8142a'>gap along %1 m</span>").arg(number(o.gapLength, 0));
            html += row(QStringLiteral("Lines&nbsp;%1\u2013%2").arg(o.lineA).arg(o.lineB), value);
        }
        html += QStringLiteral("</table>");
    }
    panel_->setText(html);
}
