// Time to build and draw the Points view for a large survey (default ten
// million returns): the point index, the first top-view picture, pictures
// after zooming, a repaint that draws nothing new, and the thinned set of
// the 3D view. Prints throughput and peak memory.
//   build/bench/points_view_gui_bench [MILLIONS]
#include "app/simulation_data.h"
#include "bench_support.h"
#include "views/gui/point_cloud_3d.h"
#include "views/gui/points_view.h"

#include <QApplication>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>

namespace {

// Wall-clock and CPU seconds: on a shared machine the CPU time is the
// steadier figure of the work done.
class Clock {
public:
    Clock() { restart(); }
    void restart() {
        wall_.restart();
        cpu_ = cpu_now();
    }
    double seconds() const { return wall_.seconds(); }
    double cpu() const { return cpu_now() - cpu_; }
    const char* text() {
        std::snprintf(text_, sizeof text_, "%.3f s (CPU %.3f s)", seconds(), cpu());
        return text_;
    }

private:
    static double cpu_now() {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + t.tv_nsec * 1e-9;
    }
    bench::Stopwatch wall_;
    double cpu_ = 0.0;
    char text_[64] = {};
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double millions = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::size_t n = static_cast<std::size_t>(millions * 1e6);

    // A survey of 20 east-west lines over 4 km x 4 km of rolling ground,
    // zigzag sweeps, 1 in 20 pulses without a return.
    SimulationData data;
    const int lines = 20;
    std::vector<LaserLine>& lasers = data.lasers();
    lasers.resize(n);
    for (int l = 0; l < lines; ++l) data.laserlines.lineStarts.push_back(n * l / lines);
    for (std::size_t k = 0; k < n; ++k) {
        const int l = static_cast<int>(k * lines / n);
        const double along = double(k - n * l / lines) / double(n / lines) * 4000.0;
        const double sweep = std::fabs(std::fmod(k * 0.01, 2.0) - 1.0) * 2.0 - 1.0;
        const double x = l % 2 ? 4000.0 - along : along;
        const double y = 100.0 + l * 200.0 + sweep * 130.0;
        LaserLine& laser = lasers[k];
        laser.hitPoint = {x, y, 50.0 * std::sin(x / 300.0) * std::cos(y / 500.0) + 0.002 * x};
        laser.hitFaceIndex = k % 20 == 0 ? -1 : 0;
    }
    std::printf("survey: %zu pulses in memory (%.0f MiB of records), peak %.0f MiB\n", n,
                n * sizeof(LaserLine) / 1048576.0, bench::peak_memory_mib());

    PointsView view;
    view.resize(1280, 900);
    view.grab();  // lay out
    Clock clock;
    view.showSurvey(data);
    const double build = clock.cpu();
    std::printf("index: %zu returns in %s, %.1f M returns/CPU s, peak %.0f MiB\n", view.index().size(), clock.text(),
                view.index().size() / build / 1e6, bench::peak_memory_mib());
    clock.restart();
    view.canvas()->renderNow();
    const double first = clock.cpu();
    std::printf("first picture %dx%d: %s, %.1f M returns/CPU s\n", view.canvas()->width(), view.canvas()->height(),
                clock.text(), view.index().size() / first / 1e6);

    {
        // The drawing alone, without the widget around it.
        TopViewWindow w;
        w.width = view.canvas()->width();
        w.height = view.canvas()->height();
        w.metresPerPixel = view.canvas()->metresPerPixel();
        const QPointF corner = view.canvas()->toWorld(QPointF(0, 0));
        w.left = corner.x();
        w.top = corner.y();
        std::vector<Argb> pixels;
        std::vector<float> depth;
        clock.restart();
        render_top_view(view.index(), w, PointColouring::Height, 0xff000000u, pixels, depth);
        std::printf("render_top_view alone, whole survey: %s\n", clock.text());
    }
    for (double zoom : {4.0, 16.0, 64.0}) {
        view.canvas()->fitToBounds();
        view.canvas()->zoomBy(zoom, QPointF(view.canvas()->width() / 2.0, view.canvas()->height() / 2.0));
        clock.restart();
        view.canvas()->renderNow();
        std::printf("picture zoomed x%g: %s\n", zoom, clock.text());
    }
    clock.restart();
    const int repaints = 20;
    for (int i = 0; i < repaints; ++i) view.canvas()->grab();
    std::printf("repaint without change: %.4f s each (CPU %.4f s)\n", clock.seconds() / repaints, clock.cpu() / repaints);

    clock.restart();
    const std::vector<ViewPoint> thin = thin_evenly(view.index(), PointsView::k3DPoints);
    PointCloud3D cloud;
    cloud.setPoints(thin, view.index(), PointColouring::Height, view.index().size());
    std::printf("3D set: %zu of %zu returns in %s\n", thin.size(), view.index().size(), clock.text());
    std::printf("peak memory %.0f MiB\n", bench::peak_memory_mib());
    return 0;
}
