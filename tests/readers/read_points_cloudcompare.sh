#!/usr/bin/env bash
# Opens sample_points.txt in CloudCompare (command-line mode), which nobody
# here wrote, saves the cloud again as ASCII and compares the points.
# Usage: read_points_cloudcompare.sh SAMPLE_DIR
# Exit 0: as expected; 1: a mismatch; 77: CloudCompare is not installed.
set -u
dir=$1
cc=$(command -v CloudCompare || command -v cloudcompare || true)
if [ -z "$cc" ]; then
  echo "SKIP: CloudCompare is not installed (run tools/install-deps.sh --tests)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$dir/sample_points.txt" "$work/points.txt"
if ! (cd "$work" && QT_QPA_PLATFORM=offscreen timeout 120 "$cc" -SILENT -AUTO_SAVE OFF -O points.txt \
        -C_EXPORT_FMT ASC -PREC 6 -SEP SPACE -SAVE_CLOUDS FILE readback.asc >cc.log 2>&1); then
  echo "MISMATCH: CloudCompare failed on the point file:"
  tail -20 "$work/cc.log"
  exit 1
fi
if ! grep -q "Found one cloud with 4 points" "$work/cc.log"; then
  echo "MISMATCH: CloudCompare did not find one cloud of 4 points:"
  grep -i -E "cloud|error|point" "$work/cc.log" | tail -5
  exit 1
fi

# The text file holds six significant digits: 5447512.349 was written as
# 5.44751e+06. CloudCompare keeps coordinates in single precision after its
# own global shift, hence the centimetre tolerance.
cat >"$work/expected.txt" <<'POINTS'
1.5 2.25 3
447512 5447510 12.345
-0.29 0.03 -12.5
100 -200 0
POINTS

awk -v tol=0.01 '
  NR == FNR { n++; for (k = 1; k <= 3; k++) want[n, k] = $k; next }
  NF >= 3 {
    m++
    for (k = 1; k <= 3; k++) {
      d = $k - want[m, k]; if (d < 0) d = -d
      if (d > tol) { printf "MISMATCH: point %d value %d read %s, expected %s\n", m, k, $k, want[m, k]; bad++ }
    }
  }
  END {
    if (m != n) { printf "MISMATCH: %d points read back, expected %d\n", m, n; bad++ }
    if (bad) exit 1
    printf "CloudCompare read %d points as written\n", m
  }' "$work/expected.txt" "$work/readback.asc"
