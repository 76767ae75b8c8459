#pragma once
#include "coverage/coverage_grid.h"

#include <QString>
#include <string>

// The density raster as a single-band float32 GeoTIFF (points per m2, north
// up, cells outside the model without a return as nodata -1), written by
// GDAL under a temporary name in the target folder and renamed over `path`
// when complete. `crs` is anything GDAL understands ("EPSG:28992", a WKT or
// PROJ string); empty leaves the file without a CRS. Throws OutputError
// naming the file and the reason; an existing file stays untouched then.
void write_coverage_geotiff(const CoverageGrid& grid, const QString& path, const std::string& crs);

// The CRS as WKT, or InputError naming the value when GDAL does not know it.
std::string coverage_crs_wkt(const std::string& crs);
