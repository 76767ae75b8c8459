#include "coverage/geotiff/coverage_geotiff.h"
#include "coverage/picture/coverage_picture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <filesystem>

#include "app/failure.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// A 3 x 2 raster of 5 m cells at (1000, 2000): row 0 (south) holds 0, 25,
// 50 returns, row 1 holds 75 and two cells outside the model.
CoverageGrid small_grid() {
    CoverageGrid g;
    g.originX = 1000;
    g.originY = 2000;
    g.cell = 5;
    g.columns = 3;
    g.rows = 2;
    g.points = {0, 25, 50, 75, 0, 0};
    g.covered = {1, 1, 1, 1, 0, 0};
    g.lowZ.assign(6, 0.0f);
    g.highZ.assign(6, 0.0f);
    g.lines.assign(6, 1);
    return g;
}

std::string output_of(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

bool have_gdal_tools() { return std::system("gdalinfo --version >/dev/null 2>&1") == 0; }

// Size, geotransform and densities are read back by gdalinfo and
// gdal_translate in the batch checks (run_checks.sh); here the CRS and the
// cells outside the model.
TEST(CoverageGeoTiff, GdalReadsBackTheCrsAndNoDataOutsideTheModel) {
    if (!have_gdal_tools()) GTEST_SKIP() << "gdalinfo (Debian gdal-bin) is not installed";
    TempDir dir;
    const std::string path = dir.file("density.tif");
    write_coverage_geotiff(small_grid(), QString::fromStdString(path), "EPSG:28992");
    const QJsonObject info =
        QJsonDocument::fromJson(QByteArray::fromStdString(output_of("gdalinfo -json '" + path + "'"))).object();
    const QString wkt = info["coordinateSystem"].toObject()["wkt"].toString();
    EXPECT_TRUE(wkt.contains("Amersfoort / RD New")) << wkt.toStdString();
    EXPECT_TRUE(wkt.contains("ID[\"EPSG\",28992]")) << wkt.toStdString();
    // Points per m2 by pixel (column, row from the north); -1 outside the model.
    EXPECT_EQ(output_of("gdallocationinfo -valonly '" + path + "' 0 0"), "3\n");
    EXPECT_EQ(output_of("gdallocationinfo -valonly '" + path + "' 1 0"), "-1\n");
    // Nothing is left beside the file, and no CRS leaves none in the file.
    write_coverage_geotiff(small_grid(), QString::fromStdString(path), "");
    const QJsonObject plain =
        QJsonDocument::fromJson(QByteArray::fromStdString(output_of("gdalinfo -json '" + path + "'"))).object();
    EXPECT_EQ(plain["coordinateSystem"].toObject()["wkt"].toString(), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(CoverageGeoTiff, RefusalsNameTheValueAndLeaveTheOldFile) {
    TempDir dir;
    const std::string path = dir.file("density.tif");
    write_file(path, "old");
    EXPECT_THAT([&] { write_coverage_geotiff(small_grid(), QString::fromStdString(path), "EPSG:99999999"); },
                testing::ThrowsMessage<InputError>(testing::HasSubstr("'EPSG:99999999'")));
    EXPECT_EQ(read_file(path), "old");
    const std::string lost = dir.file("no-such-folder/density.tif");
    EXPECT_THAT([&] { write_coverage_geotiff(small_grid(), QString::fromStdString(lost), ""); },
                testing::ThrowsMessage<OutputError>(testing::HasSubstr(lost)));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(CoveragePicture, MapColoursLegendAndScaleBar) {
    TempDir dir;
    const std::string path = dir.file("map.png");
    CoverageSummary summary;
    summary.targetDensity = 2.0;
    write_coverage_png(small_grid(), summary, QString::fromStdString(path));
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(path), "PNG"));
    // The map: 3 x 2 cells drawn 266 pixels each from (20, 62), north up.
    const int cellPx = 266;
    auto at = [&](int column, int rowFromNorth) {
        return image.pixel(20 + column * cellPx + cellPx / 2, 62 + rowFromNorth * cellPx + cellPx / 2);
    };
    const double top = coverage_scale_top(small_grid(), 2.0);
    EXPECT_EQ(top, 5.0);  // the densest cell holds 3 per m2
    EXPECT_EQ(at(0, 1), coverage_colour(0, true, 2, top).rgb());  // covered, no return: the gap colour
    EXPECT_EQ(at(1, 0), QColor(Qt::white).rgb());               // outside the model
    EXPECT_EQ(at(1, 1), coverage_colour(1, true, 2, top).rgb());  // below the target: a red
    EXPECT_GT(qRed(at(1, 1)), qBlue(at(1, 1)) + 100);
    EXPECT_GT(qBlue(at(0, 0)), qRed(at(0, 0)));             // above the target: towards blue
    // The legend bar right of the map runs from top (dark) down to 0.
    const int legendX = 20 + 3 * cellPx + 20 + 10 + 5;
    EXPECT_EQ(image.pixel(legendX, 62), coverage_colour(top, true, 2, top).rgb());
    // Black pixels of the scale bar and of text below the map.
    int dark = 0;
    for (int y = 62 + 2 * cellPx; y < image.height(); ++y)
        for (int x = 0; x < 20 + 3 * cellPx; ++x) dark += qGray(image.pixel(x, y)) < 60;
    EXPECT_GT(dark, 200);
}

}  // namespace
