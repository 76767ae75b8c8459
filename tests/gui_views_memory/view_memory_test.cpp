// The views when memory runs out while one is built: a message that says
// what to lower instead of a crash, the survey kept, and the view built
// when its tab is shown again. Large allocations fail on request through
// this program's own operator new, so the real allocations of the views
// are the ones that fail.
#include "app/gui/MainWindow.h"
#include "flight/flight_tasks.h"
#include "lidar/lidar_tasks.h"
#include "support/gui_test_support.h"
#include "terrain/terrain_tasks.h"
#include "views/gui/coverage_view.h"
#include "views/gui/plan_view.h"
#include "views/gui/points_view.h"
#include "views/gui/view_area.h"

#include <QLabel>
#include <QLocale>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
// Allocations of at least this many bytes fail while it is not zero.
std::atomic<std::size_t> failFrom{0};
}  // namespace

void* operator new(std::size_t size) {
    const std::size_t limit = failFrom.load(std::memory_order_relaxed);
    if (limit != 0 && size >= limit) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A tilted 2 km square flown in a few lines; about 44,000 returns.
void survey(SimulationData& data) {
    NullProgress progress;
    open_mesh_begin(data);
    data.vertices = {{0, 0, 0}, {2000, 0, 20}, {2000, 2000, 60}, {0, 2000, 40}};
    Face a, b;
    a.v[0] = 1, a.v[1] = 2, a.v[2] = 3;
    b.v[0] = 1, b.v[1] = 3, b.v[2] = 4;
    data.faces = {a, b};
    prepare_model(data, AsciiMesh, QStringLiteral("z axis"), progress);
    WizardValues v;
    v.flight.velocity = 100.0;
    v.flight.overlap = 30.0;
    v.flight.meanHeight = 1000.0;
    v.scanner.prf = 1000.0;
    v.scanner.scanFrequency = 20.0;
    v.scanner.fovAcross = 60.0;
    v.scanner.pattern = ZigZagLines;
    generate_lasers_task(data, v, 1, progress);
    simulate_lidar_task(data, progress, 1);
}

TEST(ViewMemory, AViewThatRunsOutOfMemorySaysSoAndIsBuiltWhenShownAgain) {
    SimulationData data;
    MainWindow window{data};
    window.resize(1000, 700);
    survey(data);
    ASSERT_GT(data.points.size(), 20000u);
    const std::size_t points = data.points.size();
    auto* area = window.findChild<ViewArea*>();
    area->setCurrentIndex(0);
    area->surveyChanged(ViewArea::Everything);

    const QString fewer = "generate fewer lasers (lower the pulse repetition frequency, PRF).";
    struct Case {
        QWidget* tab;
        QString view, advice;
    };
    for (const Case& c : {Case{area->plan(), "Plan", "load a smaller model."},
                          Case{area->points(), "Points", fewer}, Case{area->coverage(), "Coverage", fewer}}) {
        SCOPED_TRACE(c.view.toStdString());
        area->setCurrentIndex(0);
        failFrom = 4 * 1024;
        const QStringList boxes = gui_test::catch_boxes([&] { area->setCurrentWidget(c.tab); });
        failFrom = 0;
        EXPECT_EQ(boxes, gui_test::error_box("There is not enough memory to show the " + c.view +
                                             " view of this survey; the survey is still in memory. Close other "
                                             "programs and open the view again, or " + c.advice));
        EXPECT_EQ(data.points.size(), points);
        // Shown again with memory to spare: built, without a box.
        area->setCurrentIndex(0);
        EXPECT_EQ(gui_test::catch_boxes([&] { area->setCurrentWidget(c.tab); }), QStringList());
    }
    // The points view holds every return again.
    const QString count = QLocale().toString(qulonglong(points)) + " points";
    bool shown = false;
    for (QLabel* label : area->points()->findChildren<QLabel*>()) shown |= label->text().startsWith(count);
    EXPECT_TRUE(shown);
}

}  // namespace
