#include "views/colour_maps.h"

#include <algorithm>
#include <cmath>

namespace {

struct Stop {
    double t;
    int r, g, b;
};

template <int N>
Argb ramp(const Stop (&stops)[N], double t) {
    if (!(t > 0.0)) t = 0.0;  // NaN too
    if (t > 1.0) t = 1.0;
    int i = 1;
    while (i < N - 1 && t > stops[i].t) ++i;
    const Stop& a = stops[i - 1];
    const Stop& b = stops[i];
    const double u = b.t > a.t ? (t - a.t) / (b.t - a.t) : 0.0;
    auto mix = [u](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * u)); };
    return argb(mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b));
}

}  // namespace

Argb height_colour(double t) {
    static const Stop stops[] = {{0.0, 48, 18, 160}, {0.2, 30, 110, 230}, {0.4, 20, 200, 200},
                                 {0.6, 110, 215, 60}, {0.8, 250, 210, 30}, {1.0, 215, 40, 30}};
    return ramp(stops, t);
}

Argb terrain_colour(double t) {
    static const Stop stops[] = {{0.0, 120, 165, 110}, {0.3, 175, 195, 125}, {0.55, 215, 200, 150},
                                 {0.8, 185, 150, 115}, {1.0, 235, 230, 225}};
    return ramp(stops, t);
}

Argb shaded(Argb colour, double shade, double ambient) {
    if (!(shade > 0.0)) shade = 0.0;
    if (shade > 1.0) shade = 1.0;
    const double k = ambient + (1.0 - ambient) * shade;
    auto s = [k](int v) { return std::min(255, static_cast<int>(v * k + 0.5)); };
    return argb(s(red_of(colour)), s(green_of(colour)), s(blue_of(colour)));
}

Argb intensity_colour(double t) {
    static const Stop stops[] = {{0.0, 20, 20, 20}, {1.0, 250, 250, 250}};
    return ramp(stops, t);
}

Argb line_colour(int line) {
    static const Argb palette[] = {argb(31, 119, 180), argb(255, 127, 14), argb(44, 160, 44),
                                   argb(214, 39, 40),  argb(148, 103, 189), argb(140, 86, 75),
                                   argb(227, 119, 194), argb(127, 127, 127), argb(188, 189, 34),
                                   argb(23, 190, 207), argb(255, 187, 120), argb(152, 223, 138)};
    const int n = static_cast<int>(sizeof(palette) / sizeof(palette[0]));
    return palette[((line - 1) % n + n) % n];
}

Argb class_colour(int pointClass) {
    switch (pointClass) {
    case 0: return argb(170, 170, 170);  // never classified
    case 1: return argb(200, 200, 200);  // unclassified
    case 2: return argb(175, 130, 80);   // ground
    case 3: return argb(170, 215, 110);  // low vegetation
    case 4: return argb(90, 175, 60);    // medium vegetation
    case 5: return argb(30, 120, 40);    // high vegetation
    case 6: return argb(225, 80, 60);    // building
    case 7: return argb(255, 0, 255);    // low noise
    case 9: return argb(50, 110, 220);   // water
    case 17: return argb(240, 200, 40);  // bridge deck
    default: return argb(120, 120, 160);
    }
}

const char* class_name(int pointClass) {
    switch (pointClass) {
    case 0: return "Never classified";
    case 1: return "Unclassified";
    case 2: return "Ground";
    case 3: return "Low vegetation";
    case 4: return "Medium vegetation";
    case 5: return "High vegetation";
    case 6: return "Building";
    case 7: return "Low noise";
    case 9: return "Water";
    case 17: return "Bridge deck";
    default: return nullptr;
    }
}
