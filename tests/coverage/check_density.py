#!/usr/bin/env python3
"""Independent checks of pointfall-batch's coverage outputs.

  check_density.py count LAS TIF REPORT
      bins the LAS 1.2 points itself and compares the counts with the density
      GeoTIFF (read through gdal_translate and gdalinfo, not our code).
  check_density.py gap PLAIN_REPORT ABOVE_GROUND_REPORT
      the plain plan leaves a gap between lines 1 and 2 that the plan above
      ground closes.
"""
import json
import os
import subprocess
import sys
import tempfile

import numpy as np


def read_las_points(path):
    data = open(path, "rb").read()
    assert data[:4] == b"LASF", f"{path} is not a LAS file"
    offset = int(np.frombuffer(data, "<u4", 1, 96)[0])
    fmt = data[104]
    length = int(np.frombuffer(data, "<u2", 1, 105)[0])
    count = int(np.frombuffer(data, "<u4", 1, 107)[0])
    scale = np.frombuffer(data, "<f8", 3, 131)
    shift = np.frombuffer(data, "<f8", 3, 155)
    assert fmt == 0 and length >= 12, (fmt, length)
    records = np.frombuffer(data, np.uint8, count * length, offset).reshape(count, length)
    xyz = records[:, :12].copy().view("<i4").reshape(count, 3).astype(np.int64)
    return xyz, scale, shift


def gdal_json(tif):
    return json.loads(subprocess.run(["gdalinfo", "-json", tif], check=True, capture_output=True, text=True).stdout)


def read_raster(tif):
    with tempfile.TemporaryDirectory() as folder:
        asc = os.path.join(folder, "grid.asc")
        subprocess.run(["gdal_translate", "-q", "-of", "AAIGrid", tif, asc], check=True)
        with open(asc) as f:
            header = {}
            for _ in range(6):
                key, value = f.readline().split()
                header[key.lower()] = float(value)
            values = np.loadtxt(f, ndmin=2)
    return header, values


def count(las, tif, report_path):
    report = json.load(open(report_path))["coverage"]
    info = gdal_json(tif)
    cell, columns, rows = report["cell"], report["columns"], report["rows"]
    ox, oy = report["originX"], report["originY"]
    # gdalinfo reads back the size and the north-up geotransform.
    assert info["size"] == [columns, rows], (info["size"], columns, rows)
    expected = [ox, cell, 0.0, oy + rows * cell, 0.0, -cell]
    assert np.allclose(info["geoTransform"], expected, rtol=0, atol=1e-9), (info["geoTransform"], expected)
    assert info["bands"][0]["type"] == "Float32"

    xyz, scale, shift = read_las_points(las)
    assert np.allclose(scale[:2], 0.01) and np.all(shift[:2] == 0), (scale, shift)
    # LAS stores whole centimetres cut toward zero; with the cell edges on
    # whole centimetres and positive coordinates, the stored value falls in
    # the cell of the true one. Integer arithmetic keeps the edges exact.
    assert (xyz[:, :2] >= 0).all(), "the comparison assumes positive coordinates"
    cell_cm = int(round(cell * 100))
    assert abs(cell * 100 - cell_cm) < 1e-9 and abs(ox * 100 - round(ox * 100)) < 1e-6
    col = (xyz[:, 0] - int(round(ox * 100))) // cell_cm
    row = (xyz[:, 1] - int(round(oy * 100))) // cell_cm
    inside = (col >= 0) & (col < columns) & (row >= 0) & (row < rows)
    counts = np.zeros((rows, columns), np.int64)
    np.add.at(counts, (row[inside], col[inside]), 1)
    counts = counts[::-1]  # north up, as the file

    header, values = read_raster(tif)
    assert values.shape == (rows, columns), values.shape
    nodata = header.get("nodata_value", -1)
    raster = np.where(values == nodata, 0, np.rint(values * cell * cell)).astype(np.int64)
    differ = np.argwhere(raster != counts)
    assert len(differ) == 0, f"{len(differ)} cells differ, first {differ[:5].tolist()}: " \
        f"raster {raster[tuple(differ[0])]} against {counts[tuple(differ[0])]}"
    assert counts.sum() == report["returns"] - report["returnsOutsideRaster"]
    print(f"{las}: {int(counts.sum())} points in {rows} x {columns} cells of {cell} m agree")


def gap(plain_path, above_path):
    plain = json.load(open(plain_path))["coverage"]
    above = json.load(open(above_path))["coverage"]
    first = plain["sideOverlaps"][0]
    assert first["lines"] == [1, 2] and first["share"] < 0 and first["gapLength"] > 0, first
    assert plain["emptyCoveredArea"] > 0, plain["emptyCoveredArea"]
    assert above["emptyCoveredArea"] == 0, above["emptyCoveredArea"]
    assert all(o["share"] > 0 and o["gapLength"] == 0 for o in above["sideOverlaps"]), above["sideOverlaps"]
    print(f"gap {plain['emptyCoveredArea']} m2, least overlap {first['share']:.3f}; "
          f"above ground least overlap {min(o['share'] for o in above['sideOverlaps']):.3f}")


if __name__ == "__main__":
    {"count": count, "gap": gap}[sys.argv[1]](*sys.argv[2:])
