#!/usr/bin/env bash
# Golden hashes: runs pointfall-batch over the test scenes (the bundled sample
# scene, the two real models, with a realistic trajectory, every error kind,
# every scan pattern and every output kind) and over the end-to-end bench
# survey (bench/e2e_bench.sh), and prints the sha256 of every output file.
# Builds nothing: give it a build folder.
#
#   bench/golden_hashes.sh [BUILD_DIR] [--quick]
#
# --quick leaves out the end-to-end survey (some 10 million pulses).
# Compare with the recorded hashes:
#   bench/golden_hashes.sh build | diff bench/golden_hashes.txt -
set -euo pipefail

build=${1:-build}
quick=${2:-}
exe="$(cd "$build" && pwd)/batch/pointfall-batch"
if [ ! -x "$exe" ]; then
  echo "golden_hashes: $exe not found; build the project first" >&2
  exit 1
fi
real=${POINTFALL_REAL_DATA:-/work/shared/data/real}
scratch=$(mktemp -d /tmp/pointfall-golden.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

systematic=(--systematic 0.05,0.05,0.1,0.01,0.01,0.01,0.02)
random=(--random 0.05,0.05,0.05,0.005,0.005,0.005,0.01)
terms=(--term-x 0.5,0.3,0.2,0.7 --term-z 0.2,0.1,0.1,0.4 --term-roll 0.01,0.5,0.02,0.3 --term-yaw 0.02,0.2,0.01,0.9)

# run NAME ARGS...: runs the batch in a folder of its own and prints the
# hash of every file it wrote (the log included), then removes them.
run() {
  local name=$1
  shift
  mkdir "$name"
  if ! (cd "$name" && "$exe" --quiet "$@" >stdout.txt 2>stderr.txt); then
    echo "golden_hashes: run $name failed:" >&2
    cat "$name/stderr.txt" >&2
    exit 1
  fi
  (cd "$name" && for f in $(ls | sort); do
    [ "$f" = stdout.txt ] || [ "$f" = stderr.txt ] && continue
    printf '%s  %s/%s\n' "$(sha256sum "$f" | cut -d' ' -f1)" "$name" "$f"
  done)
  rm -rf "$name"
}

run sample-zigzag --seed 3 "${terms[@]}" "${systematic[@]}" "${random[@]}" --threads 2 \
  --points points.las --trajectory trajectory.txt --trajectory-format 1 --save-mesh mesh.txt --log log.txt
run sample-elliptical --seed 5 --pattern elliptical --fov-along 10 --orientation 37 --overall 0.1,0.1,0.2 \
  --threads 1 --points points.txt --trajectory trajectory.txt --trajectory-format 2 --log log.txt
run sample-spherical --seed 7 --pattern spherical --prf 20 "${terms[@]}" --threads 2 --points points.las \
  --trajectory trajectory.txt --trajectory-format 3
run 3dfier-parallel --obj "$real/3dfier/testarea.obj" --seed 11 --pattern parallel "${terms[@]}" \
  "${systematic[@]}" "${random[@]}" --threads 2 --points points.las --trajectory trajectory.txt \
  --trajectory-format 3 --save-mesh mesh.txt --log log.txt
run 3dfier-zigzag --obj "$real/3dfier/testarea.obj" --seed 12 --prf 50 --orientation 120 --threads 1 \
  --points points.txt --log log.txt
run mountain-zigzag --obj "$real/mountain/mountain.obj" --up y --seed 13 "${terms[@]}" "${random[@]}" \
  --threads 2 --points points.las --trajectory trajectory.txt --trajectory-format 1 --log log.txt
run mountain-spherical --obj "$real/mountain/mountain.obj" --up y --unit ft --seed 14 --pattern spherical \
  --fov-along 20 "${systematic[@]}" --threads 1 --points points.txt --save-mesh mesh.txt

if [ "$quick" != --quick ]; then
  # The survey of bench/e2e_bench.sh.
  run e2e --sample-triangles 1000000 --prf 100 --velocity 100 --height 1000 --scan-frequency 50 \
    "${systematic[@]}" "${random[@]}" --trajectory trajectory.txt --seed 1 --points points.las --threads 2
fi
