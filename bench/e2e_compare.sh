#!/usr/bin/env bash
# The end-to-end survey of bench/e2e_bench.sh run by two builds side by
# side, interleaved round by round (so both see the same machine load), at
# the given thread counts. Prints, per build and thread count, the seconds
# of every stage of the summary, the summary's total, the process's wall
# clock, its processor time (user + system, all threads; a busy machine
# disturbs it less than the wall clock) and peak resident memory, each as
# minimum and median over the rounds, then the paired ratio (second build
# / first) of the total, the wall clock and the processor time, minimum and
# median over the rounds. Builds nothing.
#
#   bench/e2e_compare.sh BASE_BUILD NEW_BUILD [ROUNDS] [THREADS...]
#
# ROUNDS defaults to 5, THREADS to "1 2". Words in the environment variables
# A_ARGS and B_ARGS are added to that build's command line (for example
# B_ARGS="--memory-budget none" keeps the second build's survey in memory). The outputs (about 1.2 GB per
# run) go to a scratch folder under /tmp, removed after every run.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 BASE_BUILD NEW_BUILD [ROUNDS] [THREADS...]" >&2; exit 1; }
builds=("$1" "$2")
rounds=${3:-5}
shift $(( $# > 3 ? 3 : $# ))
threads=("$@")
[ ${#threads[@]} -gt 0 ] || threads=(1 2)
for b in "${builds[@]}"; do
  [ -x "$b/batch/pointfall-batch" ] || { echo "e2e_compare: $b/batch/pointfall-batch not found" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "e2e_compare: /usr/bin/time (Debian package 'time') is needed" >&2; exit 1; }
scratch=$(mktemp -d /tmp/pointfall-compare.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

survey=(--sample-triangles 1000000 --prf 100 --velocity 100 --height 1000 --scan-frequency 50
        --systematic 0.05,0.05,0.1,0.01,0.01,0.01,0.02 --random 0.05,0.05,0.05,0.005,0.005,0.005,0.01
        --seed 1)
echo "e2e_compare: A = ${builds[0]} ${A_ARGS:-}, B = ${builds[1]} ${B_ARGS:-}; $rounds rounds; $(nproc) hardware threads"
echo "survey: ${survey[*]} --points p.las --trajectory t.txt --threads N"

# One line per run: threads build round, then name=seconds pairs.
results="$scratch/results"
: >"$results"
for ((r = 1; r <= rounds; ++r)); do
  for t in "${threads[@]}"; do
    # Alternate which build goes first, so that neither always follows the other.
    order=(0 1)
    ((r % 2 == 0)) && order=(1 0)
    for i in "${order[@]}"; do
      exe="${builds[$i]}/batch/pointfall-batch"
      extra=()
      if ((i == 0)); then read -r -a extra <<<"${A_ARGS:-}"; else read -r -a extra <<<"${B_ARGS:-}"; fi
      /usr/bin/time -f "%e %M %U %S" -o "$scratch/time" "$exe" "${survey[@]}" --points "$scratch/p.las" \
        --trajectory "$scratch/t.txt" --threads "$t" "${extra[@]}" >"$scratch/summary" 2>"$scratch/err" ||
        { echo "e2e_compare: ${builds[$i]} failed:" >&2; cat "$scratch/err" >&2; exit 1; }
      read -r wall kb user system <"$scratch/time"
      line="$t $i $r"
      while read -r name seconds; do line+=" $name=$seconds"; done < <(
        awk '/^Seconds per stage:/ {on = 1; next} on && NF == 2 && $2 ~ /^[0-9.]+$/ {print $1, $2}' "$scratch/summary")
      echo "$line wall=$wall cpu=$(awk -v u="$user" -v s="$system" 'BEGIN {printf "%.2f", u + s}') peakMiB=$(awk -v kb="$kb" 'BEGIN {printf "%.0f", kb / 1024}')" >>"$results"
      rm -f "$scratch/p.las" "$scratch/t.txt"
    done
  done
done

awk -v A="${builds[0]}" -v B="${builds[1]}" '
function sortn(a, n,   i, j, x) { for (i = 2; i <= n; ++i) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; --j) a[j + 1] = a[j]; a[j + 1] = x } }
function median(a, n) { return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2 }
{
  t = $1; b = $2; r = $3; ts[t] = 1
  for (f = 4; f <= NF; ++f) {
    split($f, kv, "="); name = kv[1]
    if (!((t, name) in seen)) { seen[t, name] = 1; order[t, ++count[t]] = name }
    val[t, b, name, r] = kv[2]; has[t, b, name] = 1
    if (r > rounds) rounds = r
  }
}
END {
  for (t in ts) {
    printf "\n== --threads %s (min / median of %d rounds; A = %s, B = %s)\n", t, rounds, A, B
    printf "   %-12s %17s %17s %15s\n", "stage", "A", "B", "B/A (medians)"
    for (k = 1; k <= count[t]; ++k) {
      name = order[t, k]
      for (b = 0; b <= 1; ++b) {
        n = 0; delete x
        if (has[t, b, name]) for (r = 1; r <= rounds; ++r) x[++n] = val[t, b, name, r]
        if (n) { sortn(x, n); mn[b] = x[1]; md[b] = median(x, n); cell[b] = sprintf(name == "peakMiB" ? "%7.0f / %7.0f" : "%7.3f / %7.3f", mn[b], md[b]) }
        else { md[b] = 0; cell[b] = sprintf("%17s", "-") }
      }
      ratio = (md[0] > 0 && md[1] > 0) ? sprintf("%.2f", md[1] / md[0]) : "-"
      printf "   %-12s %17s %17s %15s\n", name, cell[0], cell[1], ratio
    }
    for (q = 1; q <= 3; ++q) {
      name = q == 1 ? "total" : q == 2 ? "wall" : "cpu"
      n = 0; delete x
      for (r = 1; r <= rounds; ++r) x[++n] = val[t, 1, name, r] / val[t, 0, name, r]
      sortn(x, n)
      printf "   paired ratio B/A of %-5s: min %.2f, median %.2f\n", name, x[1], median(x, n)
    }
  }
}' "$results"
