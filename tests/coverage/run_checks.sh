#!/usr/bin/env bash
# Runs pointfall-batch and checks its coverage outputs with readers that are
# not ours (numpy, gdalinfo, gdal_translate).
#   run_checks.sh EXE WORK_DIR demo|delft|gap [MODEL]
set -euo pipefail
exe=$1; work=$2; mode=$3; model=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's, with python3-numpy
rm -rf "$work"; mkdir -p "$work"; cd "$work"
case $mode in
  demo)
    "$exe" --quiet --points demo.las --coverage demo.tif --report demo.json --coverage-png demo.png
    "$python" "$here/check_density.py" count demo.las demo.tif demo.json
    [ "$(head -c 8 demo.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "demo.png is no PNG"; exit 1; } ;;
  delft)
    "$exe" --quiet --obj "$model" --points delft.las --coverage delft.tif --cell 2 --report delft.json
    "$python" "$here/check_density.py" count delft.las delft.tif delft.json ;;
  gap)
    # Ground 140-150 m high under a flight at 300 m: spaced for 300 m above
    # z = 0, the swaths leave gaps; spaced above the ground, they overlap.
    "$exe" --quiet --mesh "$here/gap_scene.txt" --height 300 --prf 2 --report plain.json
    "$exe" --quiet --mesh "$here/gap_scene.txt" --height 300 --prf 2 --report above.json --plan-above-ground
    "$python" "$here/check_density.py" gap plain.json above.json ;;
esac
cd / && rm -rf "$work"
