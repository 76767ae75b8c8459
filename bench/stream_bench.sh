#!/usr/bin/env bash
# Streamed surveys of 10, 50 and 100 million pulses over the one-million-
# triangle sample scene, with LAS points and the trajectory, beside the run
# in memory at 10 million: wall time, time per pulse and peak resident
# memory (model included) of each. Builds nothing: give it a build folder.
#
#   bench/stream_bench.sh [BUILD_DIR] [SCRATCH_DIR] [MILLIONS...]
#
# The outputs (about 9 GB of trajectory at 100 million pulses) go to
# SCRATCH_DIR (default: a new folder under /tmp) and are removed after each
# run. CPU-heavy: several minutes on two cores.
set -euo pipefail

build=${1:-build}
exe="$build/batch/pointfall-batch"
[ -x "$exe" ] || { echo "stream_bench: $exe not found; build the project first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "stream_bench: /usr/bin/time (Debian package 'time') is needed" >&2; exit 1; }
scratch=${2:-$(mktemp -d /tmp/pointfall-stream.XXXXXX)}
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
shift $(( $# > 2 ? 2 : $# ))
millions=("$@")
[ ${#millions[@]} -gt 0 ] || millions=(10 50 100)

# 2 km x 2 km scene, 1000 m up, 100 m/s, 30 % overlap: 100 kHz gives some
# 9.4 million pulses, so the rate scales the survey.
base=(--sample-triangles 1000000 --velocity 100 --height 1000 --scan-frequency 50 --seed 1)

run() {  # label, million pulses, extra options...
  local label=$1 m=$2; shift 2
  local prf; prf=$(awk -v m="$m" 'BEGIN {printf "%.4f", m * 100 / 9.3895}')
  /usr/bin/time -f "%e %M" -o "$scratch/time" "$exe" "${base[@]}" --prf "$prf" \
    --points "$scratch/p.las" --trajectory "$scratch/t.txt" "$@" >"$scratch/summary" 2>"$scratch/err" ||
    { echo "stream_bench: $label failed:" >&2; cat "$scratch/err" >&2; exit 1; }
  local lasers wall kb
  lasers=$(awk -F: '/^Lasers:/ {gsub(/ /, "", $2); print $2}' "$scratch/summary")
  read -r wall kb <"$scratch/time"
  awk -v l="$label" -v n="$lasers" -v w="$wall" -v kb="$kb" \
    'BEGIN {printf "%-10s %12d %9.1f %14.1f %12.0f\n", l, n, w, w / n * 1e9, kb / 1024}'
  rm -f "$scratch/p.las" "$scratch/t.txt"
}

echo "pointfall-batch streamed: $exe; $(nproc) hardware threads; $(uname -srm)"
echo "survey: ${base[*]} --prf <rate for N million pulses> --points p.las --trajectory t.txt"
printf "%-10s %12s %9s %14s %12s\n" run pulses "wall s" "ns per pulse" "peak MiB"
run memory 10 --memory-budget none
for m in "${millions[@]}"; do run stream "$m" --stream; done
