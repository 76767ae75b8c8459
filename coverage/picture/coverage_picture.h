#pragma once
#include "coverage/coverage_grid.h"

#include <QColor>
#include <QImage>
#include <QString>

// The density map as a picture for people without GIS: the raster north
// up, cells coloured by points per m2 (reds below the target density, dark
// red where a covered cell has no return, greens to blues at and above it,
// white outside the model), a colour legend, a scale bar and the summary.
// Uses QtGui without widgets; text needs a QGuiApplication, which
// write_coverage_png makes (offscreen) when the program has none.

// Colour of a cell of `density` points per m2 for this target; `top` is the
// density at the dark end of the scale.
QColor coverage_colour(double density, bool covered, double target, double top);

// The density at the dark end of the colour scale: twice the target, or the
// highest cell when higher, rounded up to 1, 2 or 5 times a power of ten.
double coverage_scale_top(const CoverageGrid& grid, double target);

QImage draw_coverage_picture(const CoverageGrid& grid, const CoverageSummary& summary);

// Writes the picture as PNG through a temporary file renamed over `path`.
// Throws OutputError naming the file and the reason.
void write_coverage_png(const CoverageGrid& grid, const CoverageSummary& summary, const QString& path);
