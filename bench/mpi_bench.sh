#!/usr/bin/env bash
# One survey in one process and under mpirun with two processes: the sample
# scene at one million triangles, about twenty million pulses, systematic
# and random errors, LAS points. Prints the wall time, the CPU time of all
# processes (user + system) and both per pulse, for each run; the two
# outputs must be the same bytes. Builds nothing: give it a build folder.
#
#   bench/mpi_bench.sh [BUILD_DIR] [RUNS] [SCRATCH_DIR]
#
# A shared or small machine may give two busy processes much less than two
# cores: the CPU time per pulse says what the work costs regardless.
set -euo pipefail

build=${1:-build}
runs=${2:-3}
exe="$build/batch/pointfall-batch"
[ -x "$exe" ] || { echo "mpi_bench: $exe not found; build the project first" >&2; exit 1; }
command -v mpirun >/dev/null || { echo "mpi_bench: mpirun not found" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "mpi_bench: /usr/bin/time (Debian package 'time') is needed" >&2; exit 1; }
scratch=${3:-$(mktemp -d /tmp/pointfall-mpi.XXXXXX)}
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

# As bench/e2e_bench.sh, at 213 kHz: some 20 million pulses.
survey=(--sample-triangles 1000000 --prf 213 --velocity 100 --height 1000 --scan-frequency 50
        --systematic 0.05,0.05,0.1,0.01,0.01,0.01,0.02 --random 0.05,0.05,0.05,0.005,0.005,0.005,0.01
        --seed 1 --threads 1)
echo "command: [mpirun --oversubscribe -np 2] $exe ${survey[*]} --points <scratch>/points-<n>.las"
echo "machine: $(nproc) hardware threads; $(uname -srm)"
for run in $(seq "$runs"); do
  for np in 1 2; do
    launcher=()
    [ "$np" = 1 ] || launcher=(mpirun --oversubscribe -np "$np")
    /usr/bin/time -f "%e %U %S" -o "$scratch/time" "${launcher[@]}" "$exe" "${survey[@]}" \
        --points "$scratch/points-$np.las" >"$scratch/summary" 2>"$scratch/errors" ||
      { echo "mpi_bench: the run with $np process(es) failed:" >&2; cat "$scratch/errors" >&2; exit 1; }
    lasers=$(awk -F: '/^Lasers:/ {gsub(/ /, "", $2); print $2}' "$scratch/summary")
    cast=$(awk '$1 == "cast" || $1 == "errors" {t += $2} END {print t}' "$scratch/summary")
    read -r wall user sys <"$scratch/time"
    awk -v r="$run" -v np="$np" -v n="$lasers" -v w="$wall" -v u="$user" -v s="$sys" -v c="$cast" 'BEGIN {
      printf "run %d, %d process(es): %d pulses, wall %.2f s (cast and errors %.2f s), CPU %.2f s, %.2f us wall and %.2f us CPU per pulse\n",
             r, np, n, w, c, u + s, 1e6 * w / n, 1e6 * (u + s) / n }'
  done
  cmp "$scratch/points-1.las" "$scratch/points-2.las" || { echo "mpi_bench: the outputs differ" >&2; exit 1; }
done
