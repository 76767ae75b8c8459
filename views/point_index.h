#pragma once
#include "flight/laser_line.h"
#include "views/colour_maps.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ReturnAttributes;

// One return as the views keep it: 16 bytes, position relative to the
// index origin.
struct ViewPoint {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    std::uint16_t line = 0;      // flight line, 1-based (0: unknown)
    std::uint8_t pointClass = 0; // LAS class (0 when the survey has none)
    std::uint8_t intensity = 0;  // the 16-bit intensity / 256
};

// What a survey offers beside the positions of its returns: the class and
// the intensity that the survey products give each return. A null source is
// not offered: the Points view then greys out that colouring.
struct PointAttributeSources {
    const ReturnAttributes* classes = nullptr;
    const ReturnAttributes* intensity = nullptr;
};

// The returns of a survey sorted into square tiles, built once per change of
// the data, so that a view of any window visits only the tiles it shows.
class PointIndex {
public:
    // Keeps the records with a return (hitFaceIndex != -1), in survey order
    // within each tile; lineStarts gives their flight lines.
    void build(const std::vector<LaserLine>& lasers, const std::vector<std::size_t>& lineStarts,
               const PointAttributeSources& sources = {});
    void clear();

    std::size_t size() const { return points_.size(); }
    bool empty() const { return points_.empty(); }
    const std::vector<ViewPoint>& points() const { return points_; }

    double originX() const { return originX_; }
    double originY() const { return originY_; }
    // Bounds of the returns in model coordinates.
    double minX() const { return originX_; }
    double minY() const { return originY_; }
    double maxX() const { return originX_ + spanX_; }
    double maxY() const { return originY_ + spanY_; }
    float minZ() const { return minZ_; }
    float maxZ() const { return maxZ_; }
    int lineCount() const { return lineCount_; }
    bool hasClasses() const { return hasClasses_; }
    bool hasIntensity() const { return hasIntensity_; }
    // Classes present, as a 256-bit set.
    bool hasClass(int c) const { return c >= 0 && c < 256 && (classSeen_[c / 64] >> (c % 64)) & 1u; }

    // Tiles: tilesX x tilesY squares of tileSize metres from the origin;
    // tile t holds points [tileStart[t], tileStart[t + 1]).
    int tilesX() const { return tilesX_; }
    int tilesY() const { return tilesY_; }
    double tileSize() const { return tileSize_; }
    const std::vector<std::uint32_t>& tileStart() const { return tileStart_; }

private:
    std::vector<ViewPoint> points_;
    std::vector<std::uint32_t> tileStart_;
    double originX_ = 0.0, originY_ = 0.0, spanX_ = 0.0, spanY_ = 0.0;
    float minZ_ = 0.0f, maxZ_ = 0.0f;
    double tileSize_ = 1.0;
    int tilesX_ = 0, tilesY_ = 0;
    int lineCount_ = 0;
    bool hasClasses_ = false, hasIntensity_ = false;
    std::uint64_t classSeen_[4] = {0, 0, 0, 0};
};

enum class PointColouring { Height, Class, FlightLine, Intensity };

// A window of the model plane drawn into width x height pixels, north up:
// pixel (0, 0) is the north-west corner at (left, top).
struct TopViewWindow {
    double left = 0.0, top = 0.0;
    double metresPerPixel = 1.0;
    int width = 0, height = 0;
};

// Draws the returns seen from above: in each pixel the highest return wins,
// coloured by the chosen attribute and lit by the relief of the neighbouring
// pixels. Points are drawn as squares twice as wide as their mean spacing
// in pixels (at most 12), and pixels mostly surrounded by points are filled
// from them, so a close view shows no holes while real gaps stay open. Pixels without a point get
// `background`. `argb` holds width * height values; `depth` is scratch.
void render_top_view(const PointIndex& index, const TopViewWindow& window, PointColouring colouring,
                     Argb background, std::vector<Argb>& argb, std::vector<float>& depth);

// At most maxPoints returns, evenly thinned: every k-th in index order (the
// order within the tiles keeps the survey's own spread).
std::vector<ViewPoint> thin_evenly(const PointIndex& index, std::size_t maxPoints);

// The colour of one return under a colouring (height scaled over the
// index's z range).
Argb point_colour(const PointIndex& index, const ViewPoint& p, PointColouring colouring);
