// Draws the pictures embedded in the program (window icon, flowchart and the
// illustrations of the flight dialogs). Not part of the normal build: run
// resources/generator/draw_pictures.sh after changing a picture here.
//
//   draw_pictures <output folder>
//
// Writes Logo.png, software_chart2.jpg, software_chart1.jpg,
// software_chart.png, flow_chart.png, flight_trajectory1.jpg,
// flight_trajectory.jpg, and real_trajectory.png / Help.png, which the script
// turns into GIF files (Qt cannot write GIF).
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QTextStream>
#include <QVector>
#include <QtMath>
#include <cstdio>

namespace {

const QColor kInk(40, 44, 52);
const QColor kFileMenu(52, 120, 196);     // boxes of the File menu
const QColor kActionsMenu(214, 110, 40);  // boxes of the Simulation menu
const QColor kToolsMenu(60, 150, 90);     // boxes of the Tools menu

// Pictures shown in a tooltip are drawn at the height the tooltip shows
// them, so nothing is scaled on screen (a picture shrunk to fit loses its
// small print). Such a picture is laid out in its own units and the painter
// scales the layout by layoutScale; text is set in points of the finished
// picture, so it keeps its designed size instead of shrinking with the
// layout.
double layoutScale = 1.0;

QFont font(double pointSize, bool bold = false, bool italic = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(pointSize / layoutScale);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

QImage canvas(int width, int height, QColor background = Qt::white) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    return image;
}

void begin(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(layoutScale, layoutScale);
}

// A canvas for a layout of width x height units shown `shownHeight` pixels
// high; sets layoutScale for the drawing that follows (1 when shownHeight
// is 0: drawn as laid out).
QImage shown_canvas(int width, int height, int shownHeight, QColor background = Qt::white) {
    layoutScale = shownHeight > 0 ? double(shownHeight) / height : 1.0;
    return canvas(qRound(width * layoutScale), qRound(height * layoutScale), background);
}

// A line from a to b ending in a filled arrow head.
void arrow(QPainter& p, QPointF a, QPointF b, QColor color = kInk, double width = 2.0, bool dashed = false) {
    QLineF line(a, b);
    const double head = 7.0 + width * 2.0;
    QLineF shaft(a, b);
    shaft.setLength(line.length() - head * 0.8);
    QPen pen(color, width, dashed ? Qt::DashLine : Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(shaft);
    const double angle = qDegreesToRadians(-line.angle());
    QPointF left = b - QPointF(std::cos(angle - 0.45) * head, std::sin(angle - 0.45) * head);
    QPointF right = b - QPointF(std::cos(angle + 0.45) * head, std::sin(angle + 0.45) * head);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(QPolygonF({b, left, right}));
    p.setBrush(Qt::NoBrush);
}

// Arrows with heads at both ends, for dimensions.
void dimension(QPainter& p, QPointF a, QPointF b, QColor color, double width = 1.6) {
    QPointF mid = (a + b) / 2.0;
    arrow(p, mid, a, color, width);
    arrow(p, mid, b, color, width);
}

// A flowchart box: rounded, coloured by its menu, with the menu's name in a
// tag on its top edge.
void box(QPainter& p, const QRectF& r, const QString& text, const QString& menu, QColor color, bool optional) {
    QColor fill(255 - (255 - color.red()) / 4, 255 - (255 - color.green()) / 4, 255 - (255 - color.blue()) / 4);
    p.setPen(QPen(color.darker(115), 2.2, optional ? Qt::DashLine : Qt::SolidLine));
    p.setBrush(fill);
    p.drawRoundedRect(r, 10, 10);
    p.setPen(kInk);
    p.setFont(font(10.5, true));
    p.drawText(r.adjusted(10, 12, -10, -4), Qt::AlignCenter | Qt::TextWordWrap, text);
    if (!menu.isEmpty()) {
        p.setFont(font(8, true));
        QFontMetricsF fm(p.font());
        QRectF tag(r.left() + 12, r.top() - 10, fm.horizontalAdvance(menu) + 16, 19);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawRoundedRect(tag, 9, 9);
        p.setPen(Qt::white);
        p.drawText(tag, Qt::AlignCenter, menu);
    }
    p.setBrush(Qt::NoBrush);
}

QPointF top(const QRectF& r) { return {r.center().x(), r.top()}; }
QPointF bottom(const QRectF& r) { return {r.center().x(), r.bottom()}; }
QPointF left(const QRectF& r) { return {r.left(), r.center().y()}; }
QPointF right(const QRectF& r) { return {r.right(), r.center().y()}; }

void legend(QPainter& p, QPointF at) {
    const struct {
        QString menu;
        QColor color;
    } items[] = {{QStringLiteral("File"), kFileMenu},
                 {QStringLiteral("Actions (Simulation menu)"), kActionsMenu},
                 {QStringLiteral("Tools"), kToolsMenu}};
    p.setFont(font(8.5));
    double x = at.x();
    for (const auto& item : items) {
        p.setPen(Qt::NoPen);
        p.setBrush(item.color);
        p.drawRoundedRect(QRectF(x, at.y(), 14, 14), 4, 4);
        p.setPen(kInk);
        p.drawText(QPointF(x + 20, at.y() + 11.5), item.menu);
        x += 20 + QFontMetricsF(p.font()).horizontalAdvance(item.menu) + 22;
    }
    p.setPen(QPen(kInk, 1.5, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(x, at.y(), 22, 14), 4, 4);
    p.setPen(kInk);
    p.drawText(QPointF(x + 28, at.y() + 11.5), QStringLiteral("optional step"));
}

// The workflow: load, (plan), generate lasers, save trajectory / intersect,
// (errors), save the LiDAR data. Each box carries the menu that holds it.
QImage workflow_chart(bool withLegend, QColor background, int shownHeight = 0) {
    const int width = 850, height = withLegend ? 560 : 530;
    QImage image = shown_canvas(width, height, shownHeight, background);
    QPainter p(&image);
    begin(p);

    p.setPen(kInk);
    p.setFont(font(15, true));
    p.drawText(QRectF(0, 14, width, 30), Qt::AlignCenter, QStringLiteral("Pointfall workflow"));

    const double w = 290, h = 70, side = 240, cx = width / 2.0;
    QRectF load(cx - w / 2, 66, w, h);
    QRectF lasers(cx - w / 2, 176, w, h + 26);
    QRectF intersect(cx - w / 2, 318, w, h);
    QRectF save(cx - w / 2, 428, w, h);
    QRectF planning(20, 190, side, h);
    QRectF trajectory(width - 20 - side, 190, side, h);
    QRectF errors(20, 318, side, h);

    arrow(p, bottom(load), top(lasers));
    arrow(p, bottom(lasers), top(intersect));
    arrow(p, bottom(intersect), top(save));
    arrow(p, right(planning), left(lasers), kToolsMenu, 2.0, true);
    arrow(p, right(lasers), left(trajectory));
    arrow(p, right(errors), left(intersect), kActionsMenu, 2.0, true);

    box(p, load, QStringLiteral("Import an OBJ model\nor open a mesh"), QStringLiteral("File"), kFileMenu, false);
    box(p, lasers, QStringLiteral("Generate lasers:\nflight trajectory simulation\nand sensor modelling"),
        QStringLiteral("Actions"), kActionsMenu, false);
    box(p, intersect, QStringLiteral("Intersect the model\nwith the lasers"), QStringLiteral("Actions"),
        kActionsMenu, false);
    box(p, save, QStringLiteral("Save the LiDAR data\nas LAS or ASCII"), QStringLiteral("File"), kFileMenu, false);
    box(p, planning, QStringLiteral("Flight planning\n(optional)"), QStringLiteral("Tools"), kToolsMenu, true);
    box(p, trajectory, QStringLiteral("Save the simulated\ntrajectory as ASCII"), QStringLiteral("File"), kFileMenu,
        false);
    box(p, errors, QStringLiteral("Systematic or random\nerror (optional)"), QStringLiteral("Actions"),
        kActionsMenu, true);

    if (withLegend) legend(p, QPointF(150, height - 34));
    return image;
}

// The same steps in one row, read left to right.
QImage workflow_row() {
    const int width = 900, height = 330;
    QImage image = shown_canvas(width, height, 0);
    QPainter p(&image);
    begin(p);
    p.setPen(kInk);
    p.setFont(font(13, true));
    p.drawText(QRectF(0, 10, width, 26), Qt::AlignCenter, QStringLiteral("From a model to a point cloud"));

    const double w = 150, h = 74, y = 130;
    QRectF load(20, y, w, h), lasers(200, y, w + 20, h), intersect(400, y, w, h), save(580, y, w, h);
    QRectF planning(200, 240, w + 20, 64), errors(400, 240, w, 64), trajectory(580, 40, w, 60);
    QRectF end(760, y, 120, h);
    arrow(p, right(load), left(lasers));
    arrow(p, right(lasers), left(intersect));
    arrow(p, right(intersect), left(save));
    arrow(p, right(save), left(end));
    arrow(p, top(planning), bottom(lasers), kToolsMenu, 2.0, true);
    arrow(p, top(errors), bottom(intersect), kActionsMenu, 2.0, true);
    arrow(p, QPointF(lasers.right() - 20, lasers.top()), left(trajectory));
    box(p, load, QStringLiteral("Load OBJ\nor mesh"), QStringLiteral("File"), kFileMenu, false);
    box(p, lasers, QStringLiteral("Flight and\nscanner"), QStringLiteral("Actions"), kActionsMenu, false);
    box(p, intersect, QStringLiteral("LiDAR data\nsimulation"), QStringLiteral("Actions"), kActionsMenu, false);
    box(p, save, QStringLiteral("Save points\nLAS / ASCII"), QStringLiteral("File"), kFileMenu, false);
    box(p, planning, QStringLiteral("Flight planning"), QStringLiteral("Tools"), kToolsMenu, true);
    box(p, errors, QStringLiteral("Errors"), QStringLiteral("Actions"), kActionsMenu, true);
    box(p, trajectory, QStringLiteral("Save trajectory"), QStringLiteral("File"), kFileMenu, false);
    box(p, end, QStringLiteral("View in a\nLAS viewer"), QString(), QColor(120, 120, 120), false);
    return image;
}

// A plain chain of the six menu actions, top to bottom.
QImage simple_flow() {
    const int width = 360, height = 600;
    QImage image = shown_canvas(width, height, 0);
    QPainter p(&image);
    begin(p);
    const QString steps[] = {QStringLiteral("Open 3D model / Open Mesh"), QStringLiteral("Scanner and Flight details"),
                             QStringLiteral("LiDAR Data Simulation"), QStringLiteral("Error Simulation"),
                             QStringLiteral("Save Generated LiDAR Data")};
    const QColor colors[] = {kFileMenu, kActionsMenu, kActionsMenu, kActionsMenu, kFileMenu};
    double y = 30;
    QRectF previous;
    for (int i = 0; i < 5; ++i) {
        QRectF r(40, y, 280, 70);
        if (i > 0) arrow(p, bottom(previous), top(r));
        box(p, r, steps[i], QString(), colors[i], i == 3);
        previous = r;
        y += 112;
    }
    return image;
}

// ---- Logo --------------------------------------------------------------

QImage logo() {
    layoutScale = 1.0;
    const int size = 256;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    begin(p);

    const QRectF badge(8, 8, 240, 240);
    QPainterPath circle;
    circle.addEllipse(badge);

    // sky
    QLinearGradient sky(0, 8, 0, 248);
    sky.setColorAt(0.0, QColor(28, 74, 140));
    sky.setColorAt(0.6, QColor(96, 164, 222));
    sky.setColorAt(1.0, QColor(190, 224, 246));
    p.fillPath(circle, sky);

    p.save();
    p.setClipPath(circle);
    // laser fan from the aircraft down to the ground
    const QPointF plane(150, 76);
    p.setPen(QPen(QColor(255, 70, 70, 170), 2.0));
    for (int i = -3; i <= 3; ++i) p.drawLine(plane + QPointF(0, 8), QPointF(150 + i * 22, 196 - std::abs(i) * 6));

    // far mountains
    QPolygonF far({{0, 200}, {40, 150}, {78, 176}, {120, 120}, {165, 170}, {205, 136}, {256, 186}, {256, 256},
                   {0, 256}});
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(74, 110, 150));
    p.drawPolygon(far);
    // near mountains with snow caps
    QPolygonF nearRange({{0, 226}, {62, 148}, {104, 196}, {150, 138}, {214, 212}, {256, 190}, {256, 256}, {0, 256}});
    QLinearGradient rock(0, 138, 0, 256);
    rock.setColorAt(0, QColor(52, 96, 70));
    rock.setColorAt(1, QColor(30, 64, 44));
    p.setBrush(rock);
    p.drawPolygon(nearRange);
    p.setBrush(QColor(245, 248, 252));
    p.drawPolygon(QPolygonF({{62, 148}, {76, 166}, {66, 162}, {56, 170}, {48, 165}}));
    p.drawPolygon(QPolygonF({{150, 138}, {168, 160}, {156, 156}, {146, 164}, {136, 156}}));
    // returns on the slopes
    p.setBrush(QColor(255, 220, 60));
    for (int i = -3; i <= 3; ++i) p.drawEllipse(QPointF(150 + i * 22, 196 - std::abs(i) * 6), 3.2, 3.2);
    p.restore();

    // aircraft, seen from above-side, flying right
    p.save();
    p.translate(plane);
    p.rotate(-8);
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(20, 40, 70), 2.0));
    QPainterPath body;
    body.moveTo(-44, 0);
    body.cubicTo(-40, -7, 30, -8, 42, -2);
    body.cubicTo(46, 0, 46, 3, 40, 4);
    body.cubicTo(20, 7, -36, 7, -44, 0);
    p.drawPath(body);
    p.drawPolygon(QPolygonF({{-6, -2}, {10, -2}, {-10, -30}, {-20, -30}}));  // far wing
    p.drawPolygon(QPolygonF({{-8, 4}, {10, 4}, {-14, 32}, {-24, 32}}));      // near wing
    p.drawPolygon(QPolygonF({{-40, -2}, {-30, -2}, {-42, -20}, {-48, -20}}));  // tail fin
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(28, 74, 140));
    for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(18 - i * 9, -2), 2.0, 2.0);
    p.restore();

    // rim
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(18, 40, 80), 10));
    p.drawEllipse(badge.adjusted(5, 5, -5, -5));
    p.setPen(QPen(QColor(240, 200, 70), 3));
    p.drawEllipse(badge.adjusted(11, 11, -11, -11));
    return image;
}

// ---- Flight strips -------------------------------------------------------

// Strips over a rectangular area, flown back and forth along `orientation`
// degrees from the x axis, with their swath, the overlap of neighbours and a
// zig-zag scanner trace in one of them.
QImage flight_strips(double orientation, bool annotated, int shownHeight = 0) {
    // The annotated picture keeps room below the axes for a note of three lines.
    const int width = 760, height = annotated ? 600 : 480;
    QImage image = shown_canvas(width, height, shownHeight);
    QPainter p(&image);
    begin(p);

    // the survey area and the axes (screen y grows downwards)
    const QRectF area(110, 60, 540, 350);
    const QPointF origin(area.left() - 40, area.bottom() + 36);
    arrow(p, origin, origin + QPointF(area.width() + 90, 0), kInk, 1.6);
    arrow(p, origin, origin - QPointF(0, area.height() + 56), kInk, 1.6);
    p.setFont(font(11, true));
    p.setPen(kInk);
    p.drawText(origin + QPointF(area.width() + 94, 5), QStringLiteral("X"));
    p.drawText(origin - QPointF(5, area.height() + 62), QStringLiteral("Y"));

    p.setPen(QPen(QColor(110, 110, 110), 1.4, Qt::DashLine));
    p.setBrush(QColor(232, 240, 222));
    p.drawRect(area);

    // strip frame: u along the flight, v across it (to the right of the flight)
    const double a = qDegreesToRadians(orientation);
    const QPointF along(std::cos(a), -std::sin(a));
    const QPointF across(std::sin(a), std::cos(a));
    const QPointF centre = area.center();
    auto at = [&](double u, double v) { return centre + along * u + across * v; };
    const double swath = 130.0, overlap = 40.0, spacing = swath - overlap, half = 300.0;
    const int strips = annotated ? 3 : 4;
    const double first = -spacing * (strips - 1) / 2.0;

    p.save();
    p.setClipRect(area);
    for (int i = 0; i < strips; ++i) {
        const double v = first + i * spacing;
        p.setPen(QPen(QColor(52, 120, 196, 220), 1.2));
        p.setBrush(QColor(52, 120, 196, 55));
        p.drawPolygon(QPolygonF({at(-half, v - swath / 2), at(half, v - swath / 2), at(half, v + swath / 2),
                                 at(-half, v + swath / 2)}));
    }
    // zig-zag trace of the scanner in the last strip
    {
        const double v = first + (strips - 1) * spacing;
        QPolygonF trace;
        for (int k = 0; k <= 40; ++k) {
            const double u = -half + k * (2 * half / 40.0);
            trace << at(u, v + (k % 2 == 0 ? -1.0 : 1.0) * (swath / 2 - 3));
        }
        p.setPen(QPen(QColor(214, 60, 40), 1.3));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(trace);
    }
    // flight lines, flown back and forth
    for (int i = 0; i < strips; ++i) {
        const double v = first + i * spacing;
        QPointF from = at(-half, v), to = at(half, v);
        if (i % 2 == 1) std::swap(from, to);
        p.setPen(QPen(QColor(20, 50, 110), 2.4));
        p.drawLine(from, to);
        // one arrow head per line, showing the sense it is flown in
        if (i % 2 == 0)
            arrow(p, at(200, v), at(240, v), QColor(20, 50, 110), 2.4);
        else
            arrow(p, at(-100, v), at(-140, v), QColor(20, 50, 110), 2.4);
    }
    p.restore();

    if (annotated) {
        // angle between the x axis and the flight direction, at the middle line
        const QPointF pivot = at(-190, 0);
        p.setPen(QPen(kInk, 1.2, Qt::DashLine));
        p.drawLine(pivot, pivot + QPointF(130, 0));
        p.setPen(QPen(kInk, 1.8));
        p.drawArc(QRectF(pivot - QPointF(95, 95), QSizeF(190, 190)), 0, int(orientation * 16));
        p.setFont(font(11, true));
        p.drawText(pivot + QPointF(100, -18), QStringLiteral("%1°").arg(orientation));

        // swath across the middle strip
        const QColor swathColor(20, 50, 110), overlapColor(170, 40, 30);
        dimension(p, at(150, -swath / 2), at(150, swath / 2), swathColor);
        p.setPen(swathColor);
        p.setFont(font(11, true));
        p.drawText(at(150, swath / 2) + QPointF(8, 14), QStringLiteral("swath"));

        // overlap of the first and the middle strip
        const double v0 = -swath / 2, v1 = first + swath / 2;
        p.save();
        p.setClipRect(area);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(170, 40, 30, 45));
        p.drawPolygon(QPolygonF({at(-half, v0), at(half, v0), at(half, v1), at(-half, v1)}));
        p.restore();
        dimension(p, at(40, v0), at(40, v1), overlapColor);
        p.setPen(overlapColor);
        p.drawText(at(40, v0) + QPointF(-92, -10), QStringLiteral("overlap"));

        // definition
        QRectF note(40, height - 128, width - 80, 116);
        p.setPen(QPen(QColor(150, 150, 150), 1));
        p.setBrush(QColor(248, 248, 240));
        p.drawRoundedRect(note, 8, 8);
        p.setPen(kInk);
        p.setFont(font(13, true));
        p.drawText(note.adjusted(0, 6, 0, -72), Qt::AlignCenter, QStringLiteral("overlap % = overlap / (swath / 2)"));
        p.setFont(font(10));
        p.drawText(note.adjusted(0, 46, 0, -36), Qt::AlignCenter,
                   QStringLiteral("Orientation: from the X axis, counter-clockwise."));
        p.drawText(note.adjusted(0, 80, 0, -4), Qt::AlignCenter, QStringLiteral("Red: the scanner's zig-zag trace."));
    } else {
        p.setPen(kInk);
        p.setFont(font(11, true));
        p.drawText(QRectF(0, 8, width, 24), Qt::AlignCenter,
                   QStringLiteral("Parallel flight lines, flown back and forth"));
    }
    return image;
}

// ---- Realistic trajectory -----------------------------------------------

QImage real_trajectory(int shownHeight) {
    const int width = 640, height = 360;
    QImage image = shown_canvas(width, height, shownHeight);
    QPainter p(&image);
    begin(p);

    auto panel = [&](double y0, const QString& title, bool wavering) {
        QRectF strip(40, y0 + 34, 560, 90);
        p.setPen(kInk);
        p.setFont(font(11, true));
        p.drawText(QPointF(40, y0 + 22), title);
        p.setPen(QPen(QColor(52, 120, 196, 160), 1));
        p.setBrush(QColor(52, 120, 196, 40));
        p.drawRect(strip);
        QPainterPath track;
        const double cy = strip.center().y();
        for (int i = 0; i <= 200; ++i) {
            double x = strip.left() + 10 + i * (strip.width() - 40) / 200.0;
            double t = i / 200.0 * 6.28318;
            double dy = wavering ? 14.0 * std::cos(2.0 * t) + 9.0 * std::sin(5.0 * t) : 0.0;
            if (i == 0)
                track.moveTo(x, cy + dy);
            else
                track.lineTo(x, cy + dy);
        }
        p.setPen(QPen(wavering ? QColor(214, 60, 40) : QColor(20, 50, 110), 2.6));
        p.setBrush(Qt::NoBrush);
        p.drawPath(track);
        arrow(p, track.currentPosition() - QPointF(2, 0), track.currentPosition() + QPointF(22, 0),
              wavering ? QColor(214, 60, 40) : QColor(20, 50, 110), 2.6);
    };
    panel(10, QStringLiteral("Ideal flight strip: straight line, constant attitude"), false);
    panel(150, QStringLiteral("Real flight strip: position and attitude waver"), true);

    p.setPen(kInk);
    p.setFont(font(11, true));
    p.drawText(QRectF(0, 296, width, 26), Qt::AlignCenter, QStringLiteral("term(t) = A·cos(B·t) + C·sin(D·t)"));
    p.setFont(font(9));
    p.drawText(QRectF(0, 322, width, 24), Qt::AlignCenter,
               QStringLiteral("one term each for x, y, z (m) and roll, pitch, yaw (degrees)"));
    return image;
}

QImage help_icon() {
    layoutScale = 1.0;
    const int size = 64;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    begin(p);
    QRadialGradient g(QPointF(26, 24), 36);
    g.setColorAt(0, QColor(110, 170, 235));
    g.setColorAt(1, QColor(30, 84, 160));
    p.setPen(QPen(QColor(20, 50, 110), 2));
    p.setBrush(g);
    p.drawEllipse(QRectF(4, 4, 56, 56));
    p.setPen(Qt::white);
    p.setFont(font(26, true));
    p.drawText(QRectF(4, 4, 56, 56), Qt::AlignCenter, QStringLiteral("?"));
    return image;
}

bool save(const QImage& image, const QString& folder, const QString& name, int quality = -1) {
    const QString path = QDir(folder).filePath(name);
    QImage out = image;
    if (name.endsWith(QLatin1String(".jpg"))) out = image.convertToFormat(QImage::Format_RGB32);
    if (!out.save(path, nullptr, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_pictures <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    bool ok = true;
    ok &= save(logo(), out, QStringLiteral("Logo.png"));
    // The three pictures shown in tooltips, at the heights the tooltips give
    // them (<img ... height='N'>: the main window's flowchart label, the
    // flight page's and the realistic-trajectory page's hover labels).
    ok &= save(workflow_chart(true, Qt::white, 500), out, QStringLiteral("software_chart2.jpg"), 92);
    ok &= save(workflow_chart(false, QColor(250, 250, 246)), out, QStringLiteral("software_chart1.jpg"), 92);
    ok &= save(workflow_row(), out, QStringLiteral("software_chart.png"));
    ok &= save(simple_flow(), out, QStringLiteral("flow_chart.png"));
    ok &= save(flight_strips(30.0, true, 400), out, QStringLiteral("flight_trajectory1.jpg"), 92);
    ok &= save(flight_strips(0.0, false), out, QStringLiteral("flight_trajectory.jpg"), 92);
    ok &= save(real_trajectory(400), out, QStringLiteral("real_trajectory.png"));
    ok &= save(help_icon(), out, QStringLiteral("Help.png"));
    return ok ? 0 : 1;
}
