#!/usr/bin/env bash
# End-to-end throughput of pointfall-batch: the sample scene at about one
# million triangles, about ten million pulses, every stage (lasers, cast,
# systematic + random errors, LAS points, trajectory), once on one thread and
# once on all cores. Builds nothing: give it a build folder.
#
#   bench/e2e_bench.sh [BUILD_DIR] [SCRATCH_DIR]
#
# BUILD_DIR defaults to ./build; the outputs (about 1.2 GB) go to SCRATCH_DIR
# (default: a new folder under /tmp), which is removed at the end.
set -euo pipefail

build=${1:-build}
exe="$build/batch/pointfall-batch"
if [ ! -x "$exe" ]; then
  echo "e2e_bench: $exe not found; build the project first" >&2
  exit 1
fi
if [ ! -x /usr/bin/time ]; then
  echo "e2e_bench: /usr/bin/time (Debian package 'time') is needed for the peak memory" >&2
  exit 1
fi
scratch=${2:-$(mktemp -d /tmp/pointfall-e2e.XXXXXX)}
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT

# 2 km x 2 km scene, 1000 m flying height (the suggestion for its ~200 m
# top), 100 m/s, 30 % overlap: 100 kHz gives some 9.4 million pulses.
survey=(--sample-triangles 1000000 --prf 100 --velocity 100 --height 1000 --scan-frequency 50
        --systematic 0.05,0.05,0.1,0.01,0.01,0.01,0.02 --random 0.05,0.05,0.05,0.005,0.005,0.005,0.01
        --trajectory "$scratch/trajectory.txt" --seed 1)

cores=$(nproc)
echo "pointfall-batch end to end: $exe"
echo "command: $exe ${survey[*]} --points <scratch>/points-<threads>.las --threads <1|0>"
echo "machine: $cores hardware threads; $(uname -srm)"
echo

for threads in 1 0; do
  label=$([ "$threads" = 1 ] && echo "1 thread" || echo "all cores ($cores)")
  summary="$scratch/summary-$threads.txt"
  # stderr is not a terminal here, so no progress bars; the summary on
  # stdout carries the seconds per stage.
  if ! /usr/bin/time -v -o "$scratch/time-$threads.txt" \
      "$exe" "${survey[@]}" --points "$scratch/points-$threads.las" --threads "$threads" \
      >"$summary" 2>"$scratch/errors-$threads.txt"; then
    echo "e2e_bench: the run with --threads $threads failed:" >&2
    cat "$scratch/errors-$threads.txt" >&2
    exit 1
  fi
  lasers=$(awk -F: '/^Lasers:/ {gsub(/ /, "", $2); print $2}' "$summary")
  points=$(awk -F: '/^Points:/ {gsub(/ /, "", $2); print $2}' "$summary")
  total=$(awk '$1 == "total" {print $2}' "$summary")
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$scratch/time-$threads.txt")
  peak_kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$scratch/time-$threads.txt")
  echo "== $label: $lasers pulses, $points points"
  awk '/^Seconds per stage:/ {on = 1; next} on && NF == 2 {printf "   %-12s %8.3f s\n", $1, $2}' "$summary"
  awk -v n="$lasers" -v t="$total" 'BEGIN {printf "   pulses per second overall: %.0f\n", n / t}'
  awk -v kb="$peak_kb" 'BEGIN {printf "   peak memory: %.0f MiB\n", kb / 1024}'
  echo "   wall clock (process): $wall"
  rm -f "$scratch/trajectory.txt"
done

if cmp -s "$scratch/points-1.las" "$scratch/points-0.las"; then
  echo
  echo "points identical for 1 thread and all cores"
else
  echo
  echo "WARNING: the point files of 1 thread and all cores differ" >&2
  exit 1
fi
