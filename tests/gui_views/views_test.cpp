// The view area: what the Plan, Points and Coverage tabs show, checked on
// grabbed pictures at model points whose content is known independently,
// and the resizable main window around them. Set POINTFALL_VIEW_SHOTS to a
// folder to keep the pictures.
#include "app/gui/MainWindow.h"
#include "flight/flight_tasks.h"
#include "lidar/lidar_tasks.h"
#include "support/gui_test_support.h"
#include "support/test_support.h"
#include "terrain/terrain_tasks.h"
#include "app/window_placement.h"
#include "calculator/gui/Calculator.h"
#include "coverage/picture/coverage_picture.h"
#include "views/colour_maps.h"
#include "views/gui/coverage_view.h"
#include "views/gui/plan_view.h"
#include "views/gui/point_cloud_3d.h"
#include "views/gui/points_view.h"
#include "views/gui/view_area.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTabBar>

namespace {

// A flat plateau 3000 m square at z = 300, flown at 1000 m with the default
// 60 degree scanner and 30 % overlap: the lines lie 981 m apart (at
// y = 2956.5, 1975.5, 994.5, 13.5) but each swath is only 808 m wide on the
// plateau, so a 173 m strip between two lines (around y = 2466 between
// lines 1 and 2) is never reached. A post of 1 m in the south-west corner
// gives the model some height (the caster finds nothing in a model without
// any).
constexpr double kLine2Y = 1975.5;
constexpr double kGapY = 2466.0;

WizardValues plateau_plan(double overlap, double orientation = 0.0) {
    WizardValues v;
    v.flight.orientation = orientation;
    v.flight.velocity = 100.0;
    v.flight.overlap = overlap;
    v.flight.meanHeight = 1000.0;
    v.scanner.prf = 2000.0;
    v.scanner.scanFrequency = 20.0;
    v.scanner.fovAcross = 60.0;
    v.scanner.pattern = ZigZagLines;
    return v;
}

void load_plateau(SimulationData& data) {
    NullProgress progress;
    open_mesh_begin(data);
    data.vertices = {{0, 0, 300}, {3000, 0, 300}, {3000, 3000, 300}, {0, 3000, 300}, {2, 0, 301}, {0, 2, 300}};
    data.faces = {Face{{1, 2, 3}}, Face{{1, 3, 4}}, Face{{1, 5, 6}}};  // two halves and the post
    prepare_model(data, AsciiMesh, QStringLiteral("z axis"), progress);
}

bool reddish(QRgb c) { return qRed(c) > 100 && qGreen(c) < 110 && qBlue(c) < 130; }

class ViewsTest : public ::testing::Test {
protected:
    void SetUp() override {
        install_ui_seam(&seam);
        window.resize(1100, 760);
        area()->setCurrentIndex(0);
    }
    void TearDown() override { install_ui_seam(nullptr); }

    ViewArea* area() { return window.findChild<ViewArea*>(); }
    // Lays the lines (and casts them) as the wizard and the simulation do.
    void survey(double overlap, bool cast, double orientation = 0.0) {
        NullProgress progress;
        generate_lasers_task(data, plateau_plan(overlap, orientation), 1, progress);
        if (cast) simulate_lidar_task(data, progress, 1);
        area()->surveyChanged(ViewArea::Everything);
    }
    QImage show(QWidget* tab, QWidget* canvas, const char* shot) {
        area()->setCurrentWidget(tab);
        window.grab();  // lays the hidden window out at its size
        if (auto* points = qobject_cast<PointsCanvas*>(canvas)) points->renderNow();
        const QImage image = canvas->grab().toImage();
        keep(window.grab().toImage(), shot);
        return image;
    }
    static void keep(const QImage& image, const char* name) {
        const QString dir = qEnvironmentVariable("POINTFALL_VIEW_SHOTS");
        if (!dir.isEmpty()) image.save(QDir(dir).filePath(QString::fromLatin1(name) + ".png"));
    }
    QString path(const char* name) { return QString::fromStdString(dir.file(name)); }

    testing_support::TempDir dir;
    gui_test::FakeSeam seam;
    SimulationData data;
    MainWindow window{data};
};

TEST_F(ViewsTest, WindowStartsAtItsFormSizeResizesAndHoldsTheLogAsFirstTab) {
    MainWindow fresh{data};
    EXPECT_EQ(fresh.size(), QSize(820, 427));
    EXPECT_EQ(fresh.minimumSize(), QSize(820, 427));
    EXPECT_GT(fresh.maximumWidth(), 4000);
    QStringList tabs;
    auto* views = fresh.findChild<ViewArea*>();
    for (int i = 0; i < views->count(); ++i) tabs << views->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"Log", "Plan", "Points", "Coverage"}));
    EXPECT_EQ(views->widget(0), fresh.centralWidget()->findChild<QPlainTextEdit*>("Logs"));

    // The view area and the progress bar take the new room.
    fresh.show();
    const QSize before = views->size();
    const int barBefore = fresh.findChild<QWidget*>("progressRow")->width();
    fresh.resize(1200, 800);
    QApplication::processEvents();
    EXPECT_EQ(views->width() - before.width(), 380);
    EXPECT_EQ(views->height() - before.height(), 373);
    EXPECT_EQ(fresh.findChild<QWidget*>("progressRow")->width() - barBefore, 380);
}

TEST_F(ViewsTest, DialogsOpenClearOfTheViewAreaAndTheProgressRow) {
    window.resize(820, 427);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.findChild<QAction*>("actionCalculate_Parameters")->trigger();
    auto* dialog = window.findChild<Calculator*>();
    ASSERT_TRUE(dialog->isVisible());
    auto global = [](QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); };
    const QRect keep = global(area()).united(global(window.findChild<QWidget*>("progressRow")));
    const QRect screen = window.screen()->availableGeometry();
    const QRect frame = dialog->frameGeometry();
    // Where that is (clear of them where the screen has room) is checked in the view core tests.
    EXPECT_EQ(frame.topLeft(), place_clear_of(screen, keep, frame.size()));
    dialog->hide();
    window.hide();
}

TEST_F(ViewsTest, PlanShowsTheModelTheNumberedLinesAndTheGroundNoSwathReaches) {
    load_plateau(data);
    area()->surveyChanged(ViewArea::Everything);
    PlanView* plan = area()->plan();
    QImage image = show(plan, plan->canvas(), "plan-model");
    PlanCanvas* canvas = plan->canvas();
    auto pixel = [&](double x, double y) { return image.pixel(canvas->toScreen(x, y).toPoint()); };
    // The model, not the background, inside; the background outside.
    EXPECT_NE(pixel(1500, 1500), kMapBackground.rgb());
    EXPECT_EQ(pixel(-200, 1500), kMapBackground.rgb());
    EXPECT_EQ(plan->summary(), "Model only: no flight lines laid yet");

    survey(30.0, false);
    image = show(plan, canvas, "plan");
    ASSERT_EQ(canvas->lines().size(), 4u);
    EXPECT_TRUE(reddish(pixel(1500, kGapY)));        // between lines 1 and 2
    EXPECT_FALSE(reddish(pixel(1500, kLine2Y - 200)));  // inside swath 2
    // 173 m of the 3000 m plateau between each pair of lines, none beside
    // line 4 (its swath passes the southern edge).
    EXPECT_NEAR(canvas->gapArea(), 3 * 173.0 * 3000.0, 3 * 2 * 3000.0 * canvas->heights().frame.cell);
    EXPECT_TRUE(plan->summary().startsWith("4 flight lines   |   Ground no swath reaches: "));

    // Each number sits in a white disc with dark text, just before its line start.
    ASSERT_EQ(canvas->labelRects().size(), 4);
    for (int i = 0; i < 4; ++i) {
        const QRect disc = canvas->labelRects()[i].toRect();
        const QPointF start = canvas->toScreen(canvas->lines()[i].start.x, canvas->lines()[i].start.y);
        EXPECT_LT(QLineF(disc.center(), start).length(), 30.0) << i;
        int white = 0, dark = 0;
        for (int y = disc.top() + 3; y < disc.bottom() - 2; ++y) {
            for (int x = disc.left() + 3; x < disc.right() - 2; ++x) {
                const QRgb c = image.pixel(x, y);
                white += qGray(c) > 240;
                dark += qGray(c) < 60;
            }
        }
        EXPECT_GT(white, 20) << i;
        EXPECT_GT(dark, 5) << i;  // the digit
    }

    // 70 % overlap lays the lines close enough: no gap left.
    survey(70.0, false);
    image = show(plan, canvas, "plan-closed");
    EXPECT_EQ(canvas->gapArea(), 0.0);
    EXPECT_FALSE(reddish(pixel(1500, kGapY)));

    // Flown north-south the lines lie at x = 231, 1212, 2193, 3174: the
    // first gap is the strip x = 635 .. 808, across the plateau.
    survey(30.0, false, 90.0);
    image = show(plan, canvas, "plan-north-south");
    EXPECT_TRUE(reddish(pixel(721, 1500)));
    EXPECT_FALSE(reddish(pixel(1000, 1500)));
    EXPECT_FALSE(reddish(pixel(1500, kGapY)));
    EXPECT_EQ(canvas->labelRects().size(), 4);
}

TEST_F(ViewsTest, PointsTopViewColoursByLineAndZoomAndPanMoveTheMapping) {
    load_plateau(data);
    survey(30.0, true);
    PointsView* points = area()->points();
    PointsCanvas* canvas = points->canvas();
    QImage image = show(points, canvas, "points-height");
    ASSERT_GT(points->index().size(), 1000u);
    auto at = [&](const QImage& img, double x, double y) { return img.pixel(canvas->toScreen(x, y).toPoint()); };
    EXPECT_NE(at(image, 1500, kLine2Y), kMapBackground.rgb());
    EXPECT_EQ(at(image, 1500, kGapY), kMapBackground.rgb());  // no return in the gap

    // The survey products give every return a class and an intensity.
    auto* items = qobject_cast<QStandardItemModel*>(points->colouringBox()->model());
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(items->item(i)->isEnabled()) << i;
    EXPECT_TRUE(points->index().hasClass(1));  // a model without labels: unclassified
    points->colouringBox()->setCurrentIndex(2);
    image = show(points, canvas, "points-lines");
    // A flat plateau is lit evenly: the line colours come through unchanged.
    EXPECT_EQ(at(image, 1500, kLine2Y) & 0xffffff, line_colour(2) & 0xffffff);
    EXPECT_EQ(at(image, 1500, 2956.5) & 0xffffff, line_colour(1) & 0xffffff);
    points->colouringBox()->setCurrentIndex(1);
    EXPECT_EQ(at(show(points, canvas, "points-class"), 1500, kLine2Y) & 0xffffff, class_colour(1) & 0xffffff);
    points->colouringBox()->setCurrentIndex(3);
    EXPECT_NE(at(show(points, canvas, "points-intensity"), 1500, kLine2Y), kMapBackground.rgb());
    points->colouringBox()->setCurrentIndex(2);

    // The wheel zooms about the mouse: the point under it stays, others spread.
    const QPointF anchor = canvas->toScreen(1500, kLine2Y);
    const QPointF other = canvas->toScreen(2000, kLine2Y);
    QWheelEvent wheel(anchor, canvas->mapToGlobal(anchor.toPoint()), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas, &wheel);
    EXPECT_NEAR((canvas->toScreen(1500, kLine2Y) - anchor).manhattanLength(), 0.0, 1e-6);
    EXPECT_NEAR(canvas->toScreen(2000, kLine2Y).x() - anchor.x(), (other.x() - anchor.x()) * 1.5625, 1e-6);
    // A drag pans by the mouse's travel.
    const QPoint from = anchor.toPoint();
    QTest::mousePress(canvas, Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, from + QPoint(40, -25), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &move);
    QTest::mouseRelease(canvas, Qt::LeftButton, Qt::NoModifier, from + QPoint(40, -25));
    EXPECT_NEAR((canvas->toScreen(1500, kLine2Y) - anchor - QPointF(40, -25)).manhattanLength(), 0.0, 1e-6);
    // Zooming stops at a centimetre per pixel.
    const double scale = canvas->metresPerPixel();
    canvas->zoomBy(1e9, anchor);
    EXPECT_DOUBLE_EQ(canvas->metresPerPixel(), 0.01);
    canvas->zoomBy(0.01 / scale, anchor);
    EXPECT_NEAR(canvas->metresPerPixel(), scale, 1e-9);
    // The zoomed picture is drawn anew from the index, still right.
    const int renders = canvas->renders();
    image = show(points, canvas, "points-zoomed");
    EXPECT_GT(canvas->renders(), renders);
    EXPECT_EQ(at(image, 1500, kLine2Y) & 0xffffff, line_colour(2) & 0xffffff);
    EXPECT_EQ(at(image, 1500, kGapY), kMapBackground.rgb());

    // The 3D page: the OpenGL view where there is OpenGL, a message else.
    points->show3D(true);
    EXPECT_TRUE(points->showing3D());
    if (opengl_available()) {
        EXPECT_NE(points->page3D()->findChild<PointCloud3D*>(), nullptr);  // its camera: PointCloud3DCamera
    } else {
        auto* message = points->page3D()->findChild<QLabel*>("no3DMessage");
        ASSERT_NE(message, nullptr);
        EXPECT_TRUE(message->text().startsWith("The 3D view needs OpenGL"));
    }
    keep(window.grab().toImage(), "points-3d");
    points->show3D(false);

    // A change while the tab is hidden lets the points go; the tab rebuilds them.
    const std::size_t returns = points->index().size();
    area()->setCurrentIndex(0);
    area()->surveyChanged(ViewArea::PointsChanged);
    EXPECT_TRUE(points->index().empty());
    area()->setCurrentWidget(points);
    EXPECT_EQ(points->index().size(), returns);
}

TEST(PointCloud3DCamera, OrbitTurnsAboutTheCentreAndZoomEnlarges) {
    // The camera needs no OpenGL: a widget that is never shown.
    PointCloud3D cloud;
    cloud.resize(400, 400);
    auto project = [&](const QVector3D& p) {
        const QVector4D clip = cloud.viewProjection() * QVector4D(p, 1.0f);
        return QPointF(clip.x() / clip.w(), clip.y() / clip.w());
    };
    EXPECT_NEAR(project({0, 0, 0}).manhattanLength(), 0.0, 1e-6);  // the centre stays in the middle
    const QPointF east = project({1, 0, 0}), west = project({-1, 0, 0});
    cloud.zoom(2.0);
    EXPECT_GT(QLineF(QPointF(), project({1, 0, 0})).length(), 1.5 * QLineF(QPointF(), east).length());
    cloud.resetView();
    cloud.orbit(180.0, 0.0);  // half a turn: east shows where west was
    EXPECT_NEAR((project({1, 0, 0}) - west).manhattanLength(), 0.0, 1e-4);
    cloud.orbit(0.0, 500.0);
    EXPECT_EQ(cloud.pitch(), 89.0);  // never over the top
}

TEST_F(ViewsTest, CoverageMarksCellsBelowTheTargetAndDescribesTheCellUnderTheMouse) {
    load_plateau(data);
    survey(30.0, true);
    CoverageView* coverage = area()->coverage();
    coverage->targetBox()->setValue(0.01);
    CoverageCanvas* canvas = coverage->canvas();
    QImage image = show(coverage, canvas, "coverage");
    auto at = [&](double x, double y) { return image.pixel(canvas->toScreen(x, y).toPoint()); };
    EXPECT_EQ(at(1500, kGapY), coverage_colour(0.0, true, 0.01, 1.0).rgb());  // no return, whatever the target
    EXPECT_FALSE(reddish(at(1500, kLine2Y)));
    EXPECT_EQ(at(-300, 1500), kMapBackground.rgb());

    int c = 0, r = 0;
    ASSERT_TRUE(canvas->cellAt(canvas->toScreen(1500, kGapY), c, r));
    EXPECT_TRUE(canvas->describeCell(c, r).contains("No return: a gap or a shadow"));
    ASSERT_TRUE(canvas->cellAt(canvas->toScreen(1500, kLine2Y), c, r));
    EXPECT_TRUE(canvas->describeCell(c, r).endsWith("Flight lines: 2"));
    EXPECT_GT(coverage->summary().emptyCoveredArea, 0.0);
    EXPECT_TRUE(coverage->summaryText().contains("No return (gaps)"));

    // A target above every cell turns the whole plateau red.
    coverage->targetBox()->setValue(900.0);
    image = show(coverage, canvas, "coverage-high-target");
    EXPECT_TRUE(reddish(at(1500, kLine2Y)));
    EXPECT_EQ(coverage->summary().shareMeetingTarget, 0.0);
}

TEST_F(ViewsTest, SaveWritesThePictureAsPngAndReportsAFolderThatCannotBeWritten) {
    load_plateau(data);
    survey(30.0, false);
    PlanView* plan = area()->plan();
    area()->setCurrentWidget(plan);
    seam.names << path("plan view");
    plan->findChild<QPushButton*>("savePng")->click();
    EXPECT_EQ(seam.saves, QStringList{"Save view as PNG | plan.png | PNG images (*.png)"});
    QImageReader reader(path("plan view.png"));
    EXPECT_EQ(reader.format(), "png");
    EXPECT_EQ(reader.size(), plan->canvas()->size());

    seam.names << path("missing/plan.png");
    const QString box = gui_test::catch_boxes([&] { plan->findChild<QPushButton*>("savePng")->click(); }).value(0);
    EXPECT_TRUE(box.startsWith("Error | Cannot write the picture '" + path("missing/plan.png") + "': ")) << box.toStdString();
    EXPECT_TRUE(box.endsWith(" | OK")) << box.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path("missing/plan.png")));
}

}  // namespace
