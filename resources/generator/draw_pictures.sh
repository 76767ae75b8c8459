#!/usr/bin/env bash
# Redraws the embedded pictures into resources/: builds the generator in a
# scratch folder, runs it, and turns the two GIF pictures into GIF with
# ImageMagick (Qt reads GIF but does not write it).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
resources="$(dirname "$here")"
work="${TMPDIR:-/tmp}/pointfall-draw-pictures"
cmake -S "$here" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work" >/dev/null
"$work/draw_pictures" "$work/out"
for name in Logo.png software_chart2.jpg software_chart1.jpg software_chart.png flow_chart.png \
            flight_trajectory1.jpg flight_trajectory.jpg; do
  cp "$work/out/$name" "$resources/$name"
done
convert "$work/out/real_trajectory.png" -strip "$resources/real_trajectory.gif"
convert "$work/out/Help.png" -strip "$resources/Help.gif"
echo "pictures written to $resources"
