#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/ (built with -DPOINTFALL_FUZZ=ON):
#   tools/run-fuzz.sh BUILD_DIR [SECONDS] [JOBS] [TARGET...]
# First every file of fuzz/regressions/<target>/ is replayed once, then each
# target fuzzes for SECONDS (default 30), JOBS targets at a time (default 2).
# The seeds are the hand-made files of fuzz/corpus/<target>/, cuts of the
# real models in ../shared/data/real/ and the OBJ files of Debian's
# assimp-testmodels, both read where they are installed (missing ones are
# skipped). New inputs go to BUILD_DIR/fuzz-corpus/<target>/, findings to
# BUILD_DIR/fuzz-findings/<target>/. Any finding fails the script.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run-fuzz.sh BUILD_DIR [SECONDS] [JOBS] [TARGET...]}" && pwd)
seconds=${2:-30}
jobs=${3:-2}
shift $(( $# < 3 ? $# : 3 ))
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(mesh_reader obj_reader batch_options writer_roundtrip)

declare -A corpus_of=([mesh_reader]=mesh [obj_reader]=obj [batch_options]=batch_options [writer_roundtrip]=writer)
declare -A max_len_of=([mesh_reader]=8192 [obj_reader]=8192 [batch_options]=512 [writer_roundtrip]=1601)
real="$root/../shared/data/real"
assimp=/usr/share/assimp/models

seeds="$build/fuzz-seeds"
rm -rf "$seeds"
mkdir -p "$seeds/mesh" "$seeds/obj"

# The first lines of an OBJ file up to its 50th face line (the most the
# target takes), with the byte that picks the unit dialog's answers in front
# (see fuzz/fuzz_obj_reader.cpp).
obj_seed() {  # source selector lines destination
  { printf "\\x$2"; awk -v keep="$3" 'NR > keep || nf == 50 { exit } { print } /^f/ { ++nf }' "$1"; } > "$4"
}
# The first vertex lines of an OBJ file and the faces among them, as an
# ASCII mesh.
mesh_seed() {  # source vertices destination
  awk -v keep="$2" '
    $1 == "v" && nv < keep { v[++nv] = $2 " " $3 " " $4 }
    $1 == "f" { ok = 1; s = ""
      for (i = 2; i <= 4; ++i) { split($i, r, "/"); if (r[1] < 1 || r[1] > nv) ok = 0; s = s " " r[1] }
      if (ok && nf < 100) f[++nf] = substr(s, 2) }
    END { print nv, nf, 0; for (i = 1; i <= nv; ++i) print v[i]; for (i = 1; i <= nf; ++i) print f[i] }' "$1" > "$3"
}
n=0
for model in "$real"/*/*.obj; do
  [ -f "$model" ] || continue
  n=$((n + 1))
  obj_seed "$model" 02 150 "$seeds/obj/real-$n-z-m.obj"
  obj_seed "$model" 03 400 "$seeds/obj/real-$n-y-m.obj"
  mesh_seed "$model" 60 "$seeds/mesh/real-$n.txt"
done
selectors=(02 03 04 07 08 0b)
i=0
for model in "$assimp"/OBJ/*.obj "$assimp"/invalid/*.obj; do
  [ -f "$model" ] || continue
  i=$((i + 1))
  obj_seed "$model" "${selectors[$((i % 6))]}" 200 "$seeds/obj/assimp-$(basename "$model")"
done
echo "seeds: $(ls "$seeds/obj" | wc -l) OBJ and $(ls "$seeds/mesh" | wc -l) mesh cuts of installed models"

status=0
# Regressions: each file once (a binary given files runs them and exits).
for t in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$t"
  [ -x "$exe" ] || { echo "missing $exe (configure with -DPOINTFALL_FUZZ=ON)" >&2; exit 1; }
  dir="$root/fuzz/regressions/${corpus_of[$t]}"
  if compgen -G "$dir/*" >/dev/null; then
    if "$exe" "$dir"/* > "$build/fuzz-$t-regressions.log" 2>&1; then
      echo "fuzz_$t: $(ls "$dir" | wc -l) regression inputs replayed, no finding"
    else
      echo "fuzz_$t: a regression input fails again:" >&2
      tail -n 40 "$build/fuzz-$t-regressions.log" >&2
      status=1
    fi
  fi
done
[ $status -eq 0 ] || exit $status

run_one() {
  local t=$1 exe="$build/fuzz/fuzz_$1" c=${corpus_of[$1]}
  local work="$build/fuzz-corpus/$t" findings="$build/fuzz-findings/$t" log="$build/fuzz-$t.log"
  mkdir -p "$work" "$findings"
  local dirs=("$work" "$root/fuzz/corpus/$c")
  [ -d "$seeds/$c" ] && dirs+=("$seeds/$c")
  local extra=()
  [ -f "$root/fuzz/$c.dict" ] && extra+=("-dict=$root/fuzz/$c.dict")
  if "$exe" -max_total_time="$seconds" -max_len="${max_len_of[$t]}" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$findings/" "${extra[@]}" "${dirs[@]}" > "$log" 2>&1; then
    local last stats
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    stats=$(grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$log" | awk '{printf "%s %s  ", $1, $2}')
    echo "fuzz_$t: ${seconds}s, no finding. ${last}  ${stats}corpus $(ls "$work" | wc -l) files"
  else
    echo "fuzz_$t: FINDING (inputs in $findings):" >&2
    grep -v '^#\|^INFO\|^\s*$' "$log" | tail -n 60 >&2
    return 1
  fi
}

pids=()
names=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
  run_one "$t" &
  pids+=($!)
  names+=("$t")
done
for k in "${!pids[@]}"; do
  wait "${pids[$k]}" || status=1
done
[ $status -eq 0 ] && echo "fuzzing: ${#targets[@]} targets, 0 findings"
exit $status
