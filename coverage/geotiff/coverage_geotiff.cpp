#include "coverage/geotiff/coverage_geotiff.h"

#include "app/failure.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// GDAL's messages are collected, not printed: the caller reports them.
class QuietGdal {
public:
    QuietGdal() {
        static std::once_flag once;
        std::call_once(once, [] {
            GDALAllRegister();
            // No .aux.xml beside the file: everything lives in the TIFF.
            CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
        });
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietGdal() { CPLPopErrorHandler(); }
    static bool failed() { return CPLGetLastErrorType() >= CE_Failure; }
    static std::string reason() {
        const char* text = CPLGetLastErrorMsg();
        return text && *text ? text : "GDAL gave no reason";
    }
};

std::string srs_wkt(const std::string& crs, std::string* reason) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    std::string wkt;
    if (OSRSetFromUserInput(srs, crs.c_str()) == OGRERR_NONE) {
        char* text = nullptr;
        if (OSRExportToWkt(srs, &text) == OGRERR_NONE && text) wkt = text;
        CPLFree(text);
    }
    if (wkt.empty() && reason) *reason = QuietGdal::reason();
    OSRDestroySpatialReference(srs);
    return wkt;
}

}  // namespace

std::string coverage_crs_wkt(const std::string& crs) {
    QuietGdal quiet;
    std::string reason;
    const std::string wkt = srs_wkt(crs, &reason);
    if (wkt.empty()) throw InputError("The coordinate reference system '" + crs + "' is not known (" + reason + ").");
    return wkt;
}

void write_coverage_geotiff(const CoverageGrid& grid, const QString& path, const std::string& crs) {
    const std::string wkt = crs.empty() ? std::string() : coverage_crs_wkt(crs);
    const QFileInfo info(path);
    const QString temporary =
        info.absolutePath() + "/." + info.fileName() + "." + QString::number(::getpid()) + ".tmp";
    const QByteArray target = QFile::encodeName(path);
    const QByteArray partial = QFile::encodeName(temporary);
    auto fail = [&](const std::string& reason) {
        QFile::remove(temporary);
        throw OutputError("Could not write '" + path.toStdString() + "': " + reason + ".");
    };

    QuietGdal quiet;
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (!driver) fail("GDAL has no GeoTIFF driver");
    const char* options[] = {"COMPRESS=DEFLATE", "PREDICTOR=3", nullptr};
    GDALDatasetH dataset = GDALCreate(driver, partial.constData(), grid.columns, grid.rows, 1, GDT_Float32,
                                      const_cast<char**>(options));
    if (!dataset) fail(QuietGdal::reason());

    // North up: the first row of the file is the raster's northern row.
    double transform[6] = {grid.originX, grid.cell, 0.0, grid.originY + grid.rows * grid.cell, 0.0, -grid.cell};
    bool ok = GDALSetGeoTransform(dataset, transform) == CE_None;
    if (ok && !wkt.empty()) ok = GDALSetProjection(dataset, wkt.c_str()) == CE_None;
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    if (ok) ok = GDALSetRasterNoDataValue(band, -1.0) == CE_None;
    std::vector<float> row(std::size_t(grid.columns));
    const double area = grid.cell * grid.cell;
    for (int r = 0; ok && r < grid.rows; ++r) {
        const int source = grid.rows - 1 - r;
        for (int c = 0; c < grid.columns; ++c) {
            const std::size_t i = grid.index(c, source);
            const std::uint32_t n = grid.points[i];
            row[std::size_t(c)] = (n == 0 && !grid.covered[i]) ? -1.0f : float(n / area);
        }
        ok = GDALRasterIO(band, GF_Write, 0, r, grid.columns, 1, row.data(), grid.columns, 1, GDT_Float32, 0, 0) ==
             CE_None;
    }
    GDALClose(dataset);
    if (!ok || QuietGdal::failed()) fail(QuietGdal::reason());
    if (std::rename(partial.constData(), target.constData()) != 0) fail(std::strerror(errno));
}
