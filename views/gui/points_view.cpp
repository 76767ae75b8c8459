#include "views/gui/points_view.h"

#include "app/simulation_data.h"
#include "products/return_attributes.h"
#include "views/gui/point_cloud_3d.h"
#include "views/gui/view_toolbar.h"

#include <QButtonGroup>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

PointsCanvas::PointsCanvas(QWidget* parent) : MapCanvas(parent) {
    setObjectName(QStringLiteral("pointsCanvas"));
    setPlaceholder(QStringLiteral("The points appear here after \"LiDAR Data Simulation\"."));
    timer_.setSingleShot(true);
    timer_.setInterval(60);
    connect(&timer_, &QTimer::timeout, this, [this] {
        renderNow();
        update();
    });
    connect(this, &MapCanvas::viewChanged, this, [this] {
        stale_ = true;
        timer_.start();
    });
}

void PointsCanvas::setIndex(const PointIndex* index) {
    index_ = index;
    picture_ = QImage();
    stale_ = true;
    if (!index_ || index_->empty()) {
        setWorldBounds(QRectF());
        return;
    }
    setWorldBounds(QRectF(QPointF(index_->minX(), index_->minY()), QPointF(index_->maxX(), index_->maxY())));
}

void PointsCanvas::setColouring(PointColouring colouring) {
    if (colouring == colouring_) return;
    colouring_ = colouring;
    stale_ = true;
    renderNow();
    update();
}

void PointsCanvas::renderNow() {
    timer_.stop();
    if (!index_ || index_->empty() || width() <= 0 || height() <= 0) return;
    TopViewWindow w;
    w.width = width();
    w.height = height();
    w.metresPerPixel = metresPerPixel();
    const QPointF corner = toWorld(QPointF(0, 0));
    w.left = corner.x();
    w.top = corner.y();
    render_top_view(*index_, w, colouring_, kMapBackground.rgba(), pixels_, depth_);
    picture_ = QImage(reinterpret_cast<const uchar*>(pixels_.data()), w.width, w.height, w.width * 4,
                      QImage::Format_ARGB32)
                   .copy();
    drawn_ = w;
    stale_ = false;
    ++renders_;
}

void PointsCanvas::drawMap(QPainter& p) {
    if (picture_.isNull()) renderNow();
    if (!picture_.isNull()) {
        // The last picture where its window lies now; exact when nothing moved.
        const QRectF where = toScreen(QRectF(drawn_.left, drawn_.top - drawn_.height * drawn_.metresPerPixel,
                                             drawn_.width * drawn_.metresPerPixel,
                                             drawn_.height * drawn_.metresPerPixel));
        if (stale_) p.drawImage(where, picture_);
        else p.drawImage(QPointF(0, 0), picture_);
    }
    drawLegend(p);
    drawScaleBar(p);
    drawNorthArrow(p);
}

void PointsCanvas::drawLegend(QPainter& p) {
    if (!index_) return;
    p.save();
    QFont small = p.font();
    small.setPointSizeF(std::max(6.5, small.pointSizeF() - 1.0));
    p.setFont(small);
    const QColor text(230, 230, 230);
    auto panel = [&](const QRectF& box) { drawPanel(p, box, 200); };
    if (colouring_ == PointColouring::Height || colouring_ == PointColouring::Intensity) {
        const bool height = colouring_ == PointColouring::Height;
        const QRectF box(10, this->height() - 52, 230, 42);
        panel(box);
        const QRectF bar(box.left() + 10, box.top() + 8, 210, 10);
        QLinearGradient g(bar.topLeft(), bar.topRight());
        for (int i = 0; i <= 10; ++i)
            g.setColorAt(i / 10.0, QColor::fromRgb(height ? height_colour(i / 10.0) : intensity_colour(i / 10.0)));
        p.setBrush(g);
        p.drawRect(bar);
        p.setPen(text);
        const QRectF labels(bar.left(), bar.bottom() + 2, bar.width(), 14);
        p.drawText(labels, Qt::AlignLeft, height ? QStringLiteral("%1 m").arg(std::lround(index_->minZ()))
                                                  : QStringLiteral("0"));
        p.drawText(labels, Qt::AlignHCenter, height ? QStringLiteral("Height") : QStringLiteral("Intensity"));
        p.drawText(labels, Qt::AlignRight, height ? QStringLiteral("%1 m").arg(std::lround(index_->maxZ()))
                                                   : QStringLiteral("65535"));
    } else {
        // Colour chips: the flight lines (at most 12, then "...") or the classes present.
        QVector<QPair<QColor, QString>> keys;
        if (colouring_ == PointColouring::FlightLine) {
            for (int l = 1; l <= std::min(index_->lineCount(), 12); ++l)
                keys.append({QColor::fromRgb(line_colour(l)), QStringLiteral("Line %1").arg(l)});
            if (index_->lineCount() > 12) keys.append({QColor(0, 0, 0, 0), QStringLiteral("...")});
        } else {
            for (int c = 0; c < 256; ++c) {
                if (!index_->hasClass(c)) continue;
                const char* name = class_name(c);
                keys.append({QColor::fromRgb(class_colour(c)),
                             name ? QString::fromLatin1(name) : QStringLiteral("Class %1").arg(c)});
            }
        }
        const int perColumn = 6;
        const int columns = (keys.size() + perColumn - 1) / perColumn;
        const int rows = std::min<int>(keys.size(), perColumn);
        const QRectF box(10, height() - 16 - rows * 15, 12 + columns * 112, rows * 15 + 6);
        panel(box);
        for (int i = 0; i < keys.size(); ++i) {
            const QPointF at(box.left() + 8 + (i / perColumn) * 112, box.top() + 4 + (i % perColumn) * 15);
            p.setPen(Qt::NoPen);
            p.setBrush(keys[i].first);
            p.drawRect(QRectF(at.x(), at.y() + 2, 10, 10));
            p.setPen(text);
            p.drawText(QRectF(at.x() + 15, at.y(), 95, 14), Qt::AlignLeft | Qt::AlignVCenter, keys[i].second);
        }
    }
    p.restore();
}

PointsView::PointsView(QWidget* parent)
    : QWidget(parent),
      canvas_(new PointsCanvas(this)),
      colouring_(new QComboBox(this)),
      count_(new QLabel(this)),
      topButton_(new QToolButton(this)),
      threeDButton_(new QToolButton(this)),
      stack_(new QStackedWidget(this)),
      page3D_(new QWidget(this)) {
    setObjectName(QStringLiteral("pointsView"));
    colouring_->setObjectName(QStringLiteral("colouring"));
    colouring_->addItems({QStringLiteral("Height"), QStringLiteral("Class"), QStringLiteral("Flight line"),
                          QStringLiteral("Intensity")});
    colouring_->setToolTip(QStringLiteral("Colour the points by"));
    topButton_->setText(QStringLiteral("Top"));
    threeDButton_->setText(QStringLiteral("3D"));
    topButton_->setObjectName(QStringLiteral("topView"));
    threeDButton_->setObjectName(QStringLiteral("view3D"));
    auto* group = new QButtonGroup(this);
    for (QToolButton* b : {topButton_, threeDButton_}) {
        b->setCheckable(true);
        b->setAutoRaise(false);
        b->setMinimumWidth(44);
        group->addButton(b);
    }
    topButton_->setChecked(true);

    auto* bar = new ViewToolbar(this);
    auto* colourLabel = new QLabel(QStringLiteral("Colour by"), this);
    bar->addWidget(colourLabel);
    bar->addWidget(colouring_);
    bar->addWidget(topButton_);
    bar->addWidget(threeDButton_);
    bar->addWidget(count_, 1);
    QPushButton* save = bar->addSaveButton();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(stack_, 1);
    stack_->addWidget(canvas_);
    new QVBoxLayout(page3D_);
    page3D_->layout()->setContentsMargins(0, 0, 0, 0);
    stack_->addWidget(page3D_);

    connect(colouring_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] { colouringChanged(); });
    connect(topButton_, &QToolButton::clicked, this, [this] { show3D(false); });
    connect(threeDButton_, &QToolButton::clicked, this, [this] { show3D(true); });
    connect(save, &QPushButton::clicked, this, &PointsView::save);
    connect(canvas_, &MapCanvas::saveRequested, this, &PointsView::save);
    showSurvey(SimulationData());
}

PointsView::~PointsView() = default;

void PointsView::showSurvey(const SimulationData& survey) {
    // The class and intensity that the survey products give each return.
    const ReturnAttributes returns(survey, true, survey.laserlines.lineStarts.size());
    PointAttributeSources sources;
    sources.classes = &returns;
    sources.intensity = &returns;
    index_.build(survey.lasers(), survey.laserlines.lineStarts, sources);
    // Colourings the survey does not offer stay in the list, greyed out.
    auto* model = qobject_cast<QStandardItemModel*>(colouring_->model());
    const bool offered[] = {true, index_.hasClasses(), index_.lineCount() > 0, index_.hasIntensity()};
    for (int i = 0; i < 4; ++i) {
        QStandardItem* item = model->item(i);
        item->setEnabled(offered[i]);
        item->setToolTip(offered[i] ? QString() : QStringLiteral("This survey has no values for it"));
    }
    if (!offered[colouring_->currentIndex()]) colouring_->setCurrentIndex(0);
    canvas_->setIndex(&index_);
    updateCount();
    cloud3DStale_ = true;
    if (showing3D()) make3D();
}

void PointsView::release() {
    index_.clear();
    canvas_->setIndex(&index_);
    if (cloud3D_) cloud3D_->setPoints({}, index_, canvas_->colouring(), 0);
    cloud3DStale_ = true;
    updateCount();
}

void PointsView::colouringChanged() {
    canvas_->setColouring(static_cast<PointColouring>(colouring_->currentIndex()));
    cloud3DStale_ = true;
    if (showing3D()) make3D();
}

bool PointsView::showing3D() const { return stack_->currentWidget() == page3D_; }

void PointsView::show3D(bool on) {
    topButton_->setChecked(!on);
    threeDButton_->setChecked(on);
    stack_->setCurrentWidget(on ? page3D_ : static_cast<QWidget*>(canvas_));
    if (on) make3D();
    updateCount();
}

void PointsView::updateCount() {
    const QLocale locale;
    QString text = index_.empty() ? QStringLiteral("No points")
                                  : QStringLiteral("%1 points").arg(locale.toString(qulonglong(index_.size())));
    if (showing3D() && cloud3D_) {
        if (index_.size() > k3DPoints)
            text += QStringLiteral(", %1 shown in 3D (evenly thinned)").arg(locale.toString(qulonglong(k3DPoints)));
        text += QStringLiteral("   |   drag to orbit, wheel to zoom, double-click to reset");
    } else if (!index_.empty() && !showing3D()) {
        text += QStringLiteral("   |   wheel to zoom, drag to pan, double-click to fit");
    }
    count_->setText(text);
}

void PointsView::make3D() {
    if (page3D_->layout()->count() == 0) {
        // The OpenGL view only where the display offers OpenGL; a message else.
        if (opengl_available()) {
            cloud3D_ = new PointCloud3D(page3D_);
            page3D_->layout()->addWidget(cloud3D_);
        } else {
            auto* message = new QLabel(QStringLiteral("The 3D view needs OpenGL, which this display does not offer.\n"
                                                      "The top view shows every point."),
                                       page3D_);
            message->setObjectName(QStringLiteral("no3DMessage"));
            message->setAlignment(Qt::AlignCenter);
            message->setWordWrap(true);
            page3D_->layout()->addWidget(message);
        }
    }
    if (cloud3D_ && cloud3DStale_) {
        cloud3D_->setPoints(thin_evenly(index_, k3DPoints), index_, canvas_->colouring(), index_.size());
        cloud3DStale_ = false;
    }
}

void PointsView::save() {
    const QImage picture = showing3D() ? stack_->currentWidget()->grab().toImage() : canvas_->picture();
    save_picture_as_png(this, picture, QStringLiteral("points.png"));
}
