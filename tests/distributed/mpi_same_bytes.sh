#!/bin/bash
# pointfall-batch under mpirun writes the files of the one-process run, byte
# for byte: every output, for 2 and 3 processes, over the Delft model.
# Usage: mpi_same_bytes.sh PROGRAM MODEL WORK_FOLDER. Exit 77 (skipped)
# without mpirun.
set -u
exe=$(realpath "$1") model=$(realpath "$2") work=$3
if ! command -v mpirun >/dev/null; then
    echo "mpirun not found: skipping the runs over several processes"
    exit 77
fi
# CI runs as root; Open MPI refuses that unless told.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
rm -rf "$work" && mkdir -p "$work" || exit 1

# name | options. Each scene writes every output: points, trajectory, log, mesh.
# Every kind of file the processes format piece by piece (points as text
# and LAS 1.2, trajectory text, LAS 1.4, CSV, timed trajectory resampled or
# not) is written in memory and streamed, beside the coverage and report;
# a quiet run without coverage sends back no records at all.
scenes=(
  "realistic-random|--prf 6 --velocity 40 --term-x 0.3,0.2,0.1,0.05 --term-y 0.1,0,0.2,0 --term-z 0.2,0.1,0,0.3
   --term-roll 0.01,0.02,0.01,0.02 --term-pitch 0.02,0,0.01,0 --term-yaw 0.01,0.01,0.02,0.03
   --systematic 0.1,-0.2,0.05,0.01,0.02,-0.01,0.03 --random 0.05,0.04,0.03,0.01,0.02,0.005,0.02
   --points p.las --trajectory t.txt --trajectory-format 1
   --las14 p14.las --csv p.csv --trajectory-csv tt.csv --coverage c.tif --coverage-png c.png --report r.json"
  "overall-text|--prf 4 --pattern elliptical --fov-along 10 --scan-frequency 35 --overall 0.1,0.2,0.3
   --points p.txt --trajectory t.txt --trajectory-format 3
   --las14 p14.las --csv p.csv --trajectory-csv tt.csv --intensity off --start-time 2025-03-01T10:00:00Z --crs EPSG:28992"
  "plain-parallel|--prf 5 --pattern parallel --orientation 30 --points p.las --trajectory t.txt --trajectory-format 2
   --quiet"
  "streamed|--stream --chunk-pulses 7000 --prf 4 --term-x 0.3,0.2,0.1,0.05 --term-pitch 0.02,0,0.01,0
   --random 0.05,0.04,0.03,0.01,0.02,0.005,0.02 --points p.las --trajectory t.txt
   --las14 p14.las --csv p.csv --trajectory-csv tt.csv --trajectory-rate 50 --coverage c.tif --report r.json"
  "streamed-text|--stream --chunk-pulses 5000 --prf 3 --pattern parallel --systematic 0.1,-0.2,0.05,0.01,0.02,-0.01,0.03
   --points p.txt --trajectory t.txt --trajectory-format 3 --las14 p14.las --csv p.csv --trajectory-csv tt.csv
   --coverage-png c.png --report r.json"
)
failed=0
for row in "${scenes[@]}"; do
    name=${row%%|*}
    read -r -a opts <<<"$(echo "${row#*|}" | tr '\n' ' ')"
    opts+=(--obj "$model" --seed 11 --threads 1 --log run.log --save-mesh m.txt)
    mkdir -p "$work/$name/1" && (cd "$work/$name/1" && "$exe" "${opts[@]}" > summary.txt 2> err.txt) ||
        { echo "$name: the one-process run failed"; cat "$work/$name/1/err.txt"; failed=1; continue; }
    for np in 2 3; do
        dir=$work/$name/$np
        mkdir -p "$dir"
        if ! (cd "$dir" && mpirun --oversubscribe -np $np "$exe" "${opts[@]}" > summary.txt 2> err.txt); then
            echo "$name, $np processes: the run failed"; cat "$dir/err.txt"; failed=1; continue
        fi
        for f in p.las p.txt t.txt run.log m.txt p14.las p.csv tt.csv c.tif c.png; do
            [ -e "$work/$name/1/$f" ] || continue
            if ! cmp "$work/$name/1/$f" "$dir/$f"; then echo "$name, $np processes: $f differs"; failed=1; fi
        done
        # The report holds the seconds per stage too: the rest must agree.
        if [ -e "$work/$name/1/r.json" ] &&
           ! diff <(sed '/secondsPerStage/,/}/d' "$work/$name/1/r.json") <(sed '/secondsPerStage/,/}/d' "$dir/r.json"); then
            echo "$name, $np processes: the report differs"; failed=1
        fi
        # The summary's counts too (its seconds differ from run to run).
        if ! diff <(head -n 4 "$work/$name/1/summary.txt") <(head -n 4 "$dir/summary.txt"); then
            echo "$name, $np processes: the summary's counts differ"; failed=1
        fi
        # (The launcher may add notes of its own on some machines.)
        grep -q "Error" "$dir/err.txt" && { echo "$name, $np processes: unexpected messages:"; cat "$dir/err.txt"; failed=1; }
    done
    echo "$name: $(head -n 2 "$work/$name/1/summary.txt" | tr '\n' ' ')checked"
done

# A point the formats cannot hold (moved beyond their range by the error
# step), refused in whichever process formats its piece: the messages and
# the status of one process, the refused files absent, the others written.
refused=(--obj "$model" --seed 3 --threads 1 --prf 2 --systematic 30000000,0,0,0,0,0,0
         --points p.las --las14 p14.las --trajectory t.txt --log run.log)
mkdir -p "$work/refused/1"
(cd "$work/refused/1" && "$exe" "${refused[@]}" > summary.txt 2> err.txt)
alone=$?
grep -q "^Error: Cannot save 'p.las' as LAS" "$work/refused/1/err.txt" ||
    { echo "refused: the one-process run did not refuse the LAS file"; failed=1; }
for np in 2 3; do
    dir=$work/refused/$np
    mkdir -p "$dir"
    (cd "$dir" && mpirun --oversubscribe -np $np "$exe" "${refused[@]}" > summary.txt 2> err.txt)
    status=$?
    if [ "$alone" != 1 ] || [ "$status" = 0 ]; then
        echo "refused, $np processes: status $status, one process $alone"; failed=1
    fi
    diff <(grep '^Error' "$work/refused/1/err.txt") <(grep '^Error' "$dir/err.txt") ||
        { echo "refused, $np processes: other messages"; failed=1; }
    for f in p.las p14.las; do
        [ -e "$dir/$f" ] && { echo "refused, $np processes: $f was left"; failed=1; }
    done
    for f in t.txt run.log; do
        cmp "$work/refused/1/$f" "$dir/$f" || { echo "refused, $np processes: $f differs"; failed=1; }
    done
done
echo "refused: checked"
exit $failed
