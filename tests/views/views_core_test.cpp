// The view core: height raster, swath outlines, point index, top-view
// drawing, thinning, and where the dialogs open.
#include "app/simulation_data.h"
#include "app/window_placement.h"
#include "products/return_attributes.h"
#include "views/colour_maps.h"
#include "views/height_raster.h"
#include "views/point_index.h"
#include "views/swath_plan.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

Triangle tri(Vec3 a, Vec3 b, Vec3 c) { return make_triangle(a, b, c, {0, 1, 2}, 0); }

// 100 m x 100 m in 10 m cells.
GridFrame ten_metre_frame() { return frame_over(0, 0, 100, 100, 10); }

LaserLine hit(double x, double y, double z, int face = 0) {
    LaserLine l;
    l.hitPoint = {x, y, z};
    l.hitFaceIndex = face;
    return l;
}

TEST(HeightRaster, TakesThePlaneAtCellCentresTheHigherSurfaceAndMarksSmallTriangles) {
    // A ramp z = x over the south-west half, and a roof at 50 m over one cell.
    const std::vector<Triangle> triangles = {
        tri({0, 0, 0}, {100, 0, 100}, {0, 100, 0}),
        tri({40, 40, 50}, {50, 40, 50}, {40, 50, 50}),
        tri({80.2, 80.2, 7}, {80.4, 80.2, 7}, {80.2, 80.4, 7}),  // holds no cell centre
    };
    const HeightRaster r = rasterise_heights(triangles, ten_metre_frame());
    ASSERT_EQ(r.frame.columns, 10);
    EXPECT_FLOAT_EQ(r.top[r.frame.index(2, 3)], 25.0f);  // centre (25, 35)
    EXPECT_FLOAT_EQ(r.top[r.frame.index(4, 4)], 50.0f);  // the roof wins over the ramp
    EXPECT_TRUE(std::isnan(r.top[r.frame.index(9, 5)]));  // north-east of the ramp
    EXPECT_FLOAT_EQ(r.top[r.frame.index(8, 8)], 7.0f);
    EXPECT_TRUE(std::isnan(r.at(-1, 5)));
    EXPECT_FLOAT_EQ(r.minZ, 5.0f);
    EXPECT_FLOAT_EQ(r.maxZ, 95.0f);  // centre (95, 5) lies on the ramp's edge

    // Lit from the north-west: a slope rising to the east faces west, towards the sun.
    const std::vector<float> shade = hillshade(r);
    const std::vector<Triangle> flat = {tri({0, 0, 10}, {100, 0, 10}, {0, 100, 10})};
    const float level = hillshade(rasterise_heights(flat, ten_metre_frame()))[11];
    EXPECT_GT(shade[r.frame.index(1, 1)], level);
    EXPECT_NEAR(level, std::sin(M_PI / 4), 1e-6);
}

TEST(SwathPlan, EdgeRaysStopAtTheGroundOrTheFloor) {
    // Flat ground at 100 m; a 10 m cell; a 45 degree half angle from 600 m.
    const std::vector<Triangle> ground = {tri({-2000, -2000, 100}, {2000, -2000, 100}, {-2000, 2000, 100}),
                                          tri({2000, -2000, 100}, {2000, 2000, 100}, {-2000, 2000, 100})};
    const HeightRaster r = rasterise_heights(ground, frame_over(-2000, -2000, 2000, 2000, 400));
    const PlanPoint east = ground_reach({0, 0, 600}, 1, 0, 1.0, r, 0.0);
    EXPECT_NEAR(east.x, 500.0, 1e-3);
    // Beyond the model the floor stops it: from (1900, 0) 600 m down to z = 0.
    const PlanPoint off = ground_reach({1900, 0, 600}, 1, 0, 1.0, r, 0.0);
    EXPECT_NEAR(off.x, 2500.0, r.frame.cell);  // past the plateau the floor at z = 0 stops it
    EXPECT_GT(off.x, 2000.0);

    // Two lines flying east then west over it: edges 500 m either side.
    std::vector<LaserLine> lasers(4);
    lasers[0].origin = {-1000, 0, 600};
    lasers[1].origin = {1000, 0, 600};
    lasers[2].origin = {1000, 800, 600};
    lasers[3].origin = {-1000, 800, 600};
    const std::vector<PlannedLine> lines = plan_swaths(lasers, {0, 2, 4}, 45.0, r, 0.0, 8);
    ASSERT_EQ(lines.size(), 2u);  // the third line has no pulse
    EXPECT_EQ(lines[1].number, 2);
    EXPECT_NEAR(lines[0].left.front().y, 500.0, 1e-3);  // left of an eastward flight is north
    EXPECT_NEAR(lines[0].right.back().y, -500.0, 1e-3);
    EXPECT_NEAR(lines[1].left.front().y, 300.0, 1e-3);  // left of a westward flight is south
    EXPECT_EQ(lines[1].left.size(), 2u);
}

TEST(PointIndex, KeepsReturnsInTheirTilesWithTheirLinesClassesAndIntensities) {
    // Three flat faces labelled ground, building and high vegetation; every
    // return straight down from the nominal height of 100 m onto z = 0.
    SimulationData data;
    data.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    data.faces.assign(3, Face{{1, 2, 3}});
    data.faceClasses = {2, 6, 5};
    data.flight.meanHeight = 100.0;
    std::vector<LaserLine> lasers;
    for (int i = 0; i < 1000; ++i) {
        LaserLine l = hit(i % 40 * 2.5, i / 40 * 4.0, i * 0.01, i % 3);
        l.origin = {l.hitPoint.x, l.hitPoint.y, 100.0 + l.hitPoint.z};
        l.direction = {0, 0, -1};
        l.range = 100.0;
        lasers.push_back(l);
        if (i % 7 == 0) lasers.push_back(LaserLine());  // no return
    }
    const ReturnAttributes returns(data, true, 2);
    PointAttributeSources sources;
    sources.classes = &returns;
    sources.intensity = &returns;
    PointIndex index;
    index.build(lasers, {0, 600}, sources);
    ASSERT_EQ(index.size(), 1000u);
    EXPECT_EQ(index.lineCount(), 2);
    EXPECT_TRUE(index.hasClasses() && index.hasClass(6) && !index.hasClass(1));
    EXPECT_TRUE(index.hasIntensity());
    const std::vector<std::uint8_t>& classes = data.faceClasses;
    std::size_t line1 = 0;
    for (int t = 0; t + 1 < static_cast<int>(index.tileStart().size()); ++t) {
        for (std::uint32_t i = index.tileStart()[t]; i < index.tileStart()[t + 1]; ++i) {
            const ViewPoint& p = index.points()[i];
            EXPECT_EQ(static_cast<int>(p.x / index.tileSize()) + index.tilesX() * static_cast<int>(p.y / index.tileSize()), t);
            line1 += p.line == 1;
            // z = 0.01 * survey order; the class follows the face (order % 3).
            const int order = static_cast<int>(std::lround(p.z * 100));
            EXPECT_EQ(p.pointClass, classes[order % 3]);
            // 131072 * reflectance at nadir from the nominal height, / 256:
            // ground and building 0.25 and 0.30, vegetation 0.45.
            const int expected[] = {128, 153, 230};
            EXPECT_EQ(p.intensity, expected[order % 3]);
        }
    }
    // Records 0..599 (with their no-return fillers) are line 1.
    std::size_t expected = 0;
    for (std::size_t k = 0; k < 600; ++k) expected += lasers[k].hitFaceIndex != -1;
    EXPECT_EQ(line1, expected);

    // Thinning keeps evenly spread picks, and everything when there are few.
    EXPECT_EQ(thin_evenly(index, 5000).size(), 1000u);
    const std::vector<ViewPoint> thin = thin_evenly(index, 100);
    ASSERT_EQ(thin.size(), 100u);
    EXPECT_EQ(thin[1].z, index.points()[10].z);
}

TEST(TopView, TheHighestReturnWinsEachPixelAndEmptyPixelsKeepTheBackground) {
    // Two returns in one pixel and one far away, seen at 1 m per pixel.
    std::vector<LaserLine> lasers = {hit(10.2, 10.2, 5), hit(10.7, 10.7, 9), hit(90, 90, 1)};
    PointIndex index;
    index.build(lasers, {0, 2});
    TopViewWindow w;
    w.left = 0;
    w.top = 100;
    w.metresPerPixel = 1.0;
    w.width = 100;
    w.height = 100;
    std::vector<Argb> pixels;
    std::vector<float> depth;
    const Argb background = argb(0, 0, 0);
    render_top_view(index, w, PointColouring::FlightLine, background, pixels, depth);
    // Sparse points get wide splats; z 9 wins over 5 in the pixel of both.
    EXPECT_EQ(pixels[89 * 100 + 10], line_colour(1));
    EXPECT_FLOAT_EQ(depth[89 * 100 + 10], 9.0f);
    EXPECT_EQ(pixels[10 * 100 + 90], line_colour(2));
    EXPECT_EQ(pixels[10 * 100 + 96], line_colour(2));  // inside the 12-pixel splat
    EXPECT_EQ(pixels[50 * 100 + 50], background);
}

TEST(DialogPlacement, DialogsOpenClearOfTheLogOnA1280By1024Screen) {
    // The window at the top left: its view area and progress row span
    // (0, 80) .. (820, 420); the dialogs with their frames.
    const QRect screen(0, 0, 1280, 1024);
    const QRect keep(0, 80, 820, 340);
    const struct {
        QSize dialog;
        QPoint at;
    } rows[] = {
        {{1042, 552}, {0, 420}},  // the widest, the error dialog: below
        {{460, 700}, {820, 80}},  // too tall for below: to the right
    };
    for (const auto& row : rows) {
        const QPoint at = place_clear_of(screen, keep, row.dialog);
        EXPECT_EQ(at, row.at) << row.dialog.width();
        EXPECT_FALSE(QRect(at, row.dialog).intersects(keep));
        EXPECT_TRUE(screen.contains(QRect(at, row.dialog)));
    }
    // A maximised window leaves no room: the least covering place on screen.
    const QPoint at = place_clear_of(screen, QRect(0, 60, 1280, 900), QSize(400, 300));
    EXPECT_TRUE(screen.contains(QRect(at, QSize(400, 300))));
    EXPECT_EQ(at, QPoint(0, 724));  // below, pushed up onto the screen
}

}  // namespace
