#include "coverage/picture/coverage_picture.h"

#include "app/failure.h"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

QColor mix(const QColor& a, const QColor& b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

const QColor kOutside(255, 255, 255);
const QColor kEmpty(110, 0, 0);
const QColor kLowStart(215, 48, 31), kLowEnd(253, 204, 138);  // just above 0 .. just below the target
const QColor kHighStart(199, 233, 160), kHighMid(35, 139, 69), kHighEnd(8, 48, 107);

double round_up_125(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) return 1.0;
    const double decade = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * decade >= value * (1 - 1e-12)) return step * decade;
    }
    return 10.0 * decade;
}

QString number(double value) {
    if (value == 0.0) return QStringLiteral("0");
    if (std::fabs(value) >= 100) return QString::number(value, 'f', 0);
    if (std::fabs(value) >= 1) return QString::number(value, 'g', 3);
    return QString::number(value, 'g', 2);
}

QString metres(double m) {
    if (m >= 1000) return QString::number(m / 1000, 'g', 3) + QStringLiteral(" km");
    return QString::number(m, 'g', 3) + QStringLiteral(" m");
}

}  // namespace

QColor coverage_colour(double density, bool covered, double target, double top) {
    if (density <= 0.0) return covered ? kEmpty : kOutside;
    if (density < target) return mix(kLowStart, kLowEnd, density / target);
    const double t = top > target ? (density - target) / (top - target) : 1.0;
    return t < 0.5 ? mix(kHighStart, kHighMid, t * 2) : mix(kHighMid, kHighEnd, t * 2 - 1);
}

double coverage_scale_top(const CoverageGrid& grid, double target) {
    std::uint32_t most = 0;
    for (std::uint32_t n : grid.points) most = std::max(most, n);
    return round_up_125(std::max(2.0 * target, most / (grid.cell * grid.cell)));
}

QImage draw_coverage_picture(const CoverageGrid& grid, const CoverageSummary& summary) {
    const double target = summary.targetDensity;
    const double top = coverage_scale_top(grid, target);
    // The map: about 800 pixels on its longer side, whole pixels per cell
    // when the raster is smaller.
    const int longest = std::max(1, std::max(grid.columns, grid.rows));
    const double scale = longest >= 800 ? 800.0 / longest : std::floor(800.0 / longest);
    const int mapW = std::max(1, int(std::lround(grid.columns * scale)));
    const int mapH = std::max(1, int(std::lround(grid.rows * scale)));
    QImage map(mapW, mapH, QImage::Format_RGB32);
    const double area = grid.cell * grid.cell;
    for (int y = 0; y < mapH; ++y) {
        const int row = std::min(grid.rows - 1, int((mapH - 1 - y) / scale));
        QRgb* line = reinterpret_cast<QRgb*>(map.scanLine(y));
        for (int x = 0; x < mapW; ++x) {
            const int column = std::min(grid.columns - 1, int(x / scale));
            const std::size_t i = grid.index(column, row);
            line[x] = coverage_colour(grid.points[i] / area, grid.covered[i] != 0, target, top).rgb();
        }
    }

    const int margin = 20, titleH = 62, legendW = 190, footerH = 60;
    QImage image(margin + mapW + margin + legendW, titleH + mapH + footerH, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    p.setFont(font);
    p.setPen(Qt::black);

    // Title and the figures a planner checks first.
    QFont bold = font;
    bold.setBold(true);
    bold.setPixelSize(15);
    p.setFont(bold);
    p.drawText(margin, 22,
               QStringLiteral("Point density (points per m\u00b2), cells of %1").arg(metres(grid.cell)));
    p.setFont(font);
    p.drawText(margin, 40,
               QStringLiteral("Mean %1, median %2, 5th percentile %3; nominal pulse spacing %4")
                   .arg(number(summary.meanDensity), number(summary.medianDensity), number(summary.p5Density),
                        std::isfinite(summary.nominalPulseSpacing) ? metres(summary.nominalPulseSpacing)
                                                                    : QStringLiteral("-")));
    p.drawText(margin, 56,
               QStringLiteral("%1 % of the covered area meets the target of %2; no return on %3")
                   .arg(QString::number(summary.shareMeetingTarget * 100, 'f', 1), number(target),
                        summary.emptyCoveredArea >= 1e5 ? QString::number(summary.emptyCoveredArea / 1e6, 'f', 3) +
                                                              QStringLiteral(" km\u00b2")
                                                        : QString::number(summary.emptyCoveredArea, 'f', 0) +
                                                              QStringLiteral(" m\u00b2")));

    p.drawImage(margin, titleH, map);
    p.setPen(QColor(80, 80, 80));
    p.drawRect(margin - 1, titleH - 1, mapW + 1, mapH + 1);

    // Scale bar: a round length near a quarter of the map's width.
    const double metresPerPixel = grid.cell / scale;
    double length = round_up_125(mapW * metresPerPixel / 4);
    if (length / metresPerPixel > mapW * 0.5) length /= 2;
    const int barPx = std::max(1, int(std::lround(length / metresPerPixel)));
    const int barY = titleH + mapH + 22;
    p.setPen(Qt::black);
    p.fillRect(margin, barY, barPx / 2, 6, Qt::black);
    p.drawRect(margin + barPx / 2, barY, barPx - barPx / 2 - 1, 5);
    p.drawText(margin, barY + 22, QStringLiteral("0"));
    p.drawText(margin + barPx - 4, barY + 22, metres(length));
    p.drawText(margin + barPx + 40, barY + 10, QStringLiteral("North is up"));

    // Legend: the colour scale from 0 to top, the target marked.
    const int lx = margin + mapW + margin + 10, ly = titleH, lh = std::max(200, std::min(mapH, 400)), lw = 22;
    for (int y = 0; y < lh; ++y) {
        const double d = top * (lh - 1 - y) / (lh - 1);
        p.fillRect(lx, ly + y, lw, 1, coverage_colour(d, true, target, top));
    }
    p.setPen(QColor(80, 80, 80));
    p.drawRect(lx - 1, ly - 1, lw + 1, lh + 1);
    p.setPen(Qt::black);
    auto tick = [&](double d, const QString& text) {
        const int y = ly + int(std::lround((lh - 1) * (1 - d / top)));
        p.drawLine(lx + lw, y, lx + lw + 5, y);
        p.drawText(lx + lw + 8, y + 5, text);
    };
    for (int k = 0; k <= 4; ++k) {
        const double d = top * k / 4;
        if (std::fabs(d - target) > top / 10) tick(d, number(d));
    }
    QFont boldSmall = font;
    boldSmall.setBold(true);
    p.setFont(boldSmall);
    tick(target, QStringLiteral("%1 target").arg(number(target)));
    p.setFont(font);
    int ky = ly + lh + 24;
    for (const auto& [colour, text] : {std::pair<QColor, QString>{kEmpty, QStringLiteral("no return (gap)")},
                                       {kOutside, QStringLiteral("outside the model")}}) {
        p.fillRect(lx, ky - 11, lw, 14, colour);
        p.setPen(QColor(80, 80, 80));
        p.drawRect(lx - 1, ky - 12, lw + 1, 15);
        p.setPen(Qt::black);
        p.drawText(lx + lw + 8, ky, text);
        ky += 22;
    }
    p.drawText(lx, ky + 6, QStringLiteral("points per m\u00b2"));
    p.end();
    return image;
}

void write_coverage_png(const CoverageGrid& grid, const CoverageSummary& summary, const QString& path) {
    // Text on an image needs the fonts of a GUI application; a program
    // without one (the batch runner) gets an offscreen one for the drawing.
    std::unique_ptr<QGuiApplication> own;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "pointfall";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Its start-up notes (a missing runtime folder and the like) are not
        // the user's business.
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        own = std::make_unique<QGuiApplication>(argc, argv);
        qInstallMessageHandler(previous);
    }
    const QImage image = draw_coverage_picture(grid, summary);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        throw OutputError("Could not write '" + path.toStdString() + "': " + file.errorString().toStdString() + ".");
    }
}
