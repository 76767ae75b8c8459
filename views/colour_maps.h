#pragma once
#include <cstdint>

// Colours as 0xAARRGGBB (the layout of a 32-bit ARGB image).
using Argb = std::uint32_t;

constexpr Argb argb(int r, int g, int b, int a = 255) {
    return (Argb(a) << 24) | (Argb(r) << 16) | (Argb(g) << 8) | Argb(b);
}
constexpr int red_of(Argb c) { return (c >> 16) & 0xff; }
constexpr int green_of(Argb c) { return (c >> 8) & 0xff; }
constexpr int blue_of(Argb c) { return c & 0xff; }

// Heights of points: blue (low) through cyan, green and yellow to red
// (high); t is clamped to 0..1.
Argb height_colour(double t);
// The model in plan: a muted hypsometric ramp (green lowland, tan, brown,
// pale grey summits), meant to be multiplied by a hillshade.
Argb terrain_colour(double t);
// Multiplies the colour by a shade 0..1 on top of an ambient share.
Argb shaded(Argb colour, double shade, double ambient = 0.35);
// Grey ramp of the return intensity, t 0..1.
Argb intensity_colour(double t);
// Flight line n (1-based): twelve distinct colours, repeating.
Argb line_colour(int line);
// The usual colours of the LAS point classes (1 unclassified, 2 ground,
// 3-5 vegetation, 6 building, 7 noise, 9 water, ...).
Argb class_colour(int pointClass);
// Name of a LAS point class for legends ("Class 12" for those without one).
const char* class_name(int pointClass);
