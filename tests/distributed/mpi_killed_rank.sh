#!/bin/bash
# A process of a survey run under mpirun that is killed mid-run ends the
# whole job with a non-zero status, and no output is left half-written under
# its final name: an existing file stays as it was, new ones do not appear.
# Usage: mpi_killed_rank.sh PROGRAM WORK_FOLDER. Exit 77 (skipped) without
# mpirun.
set -u
exe=$1 work=$2
if ! command -v mpirun >/dev/null; then
    echo "mpirun not found: skipping the runs over several processes"
    exit 77
fi
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
echo "the file from before" > out.las

# The sample scene at 30 kHz: several seconds of casting on this machine.
mpirun --oversubscribe -np 2 "$exe" --prf 30 --threads 1 --random 0.05,0.05,0.05,0.01,0.01,0.01,0.02 \
    --points out.las --trajectory t.txt --log run.log > out.txt 2> err.txt &
launcher=$!
# Find the second process (rank 1) among the launcher's children.
victim=
for _ in $(seq 100); do
    for p in $(pgrep -P $launcher); do
        if grep -qz '^OMPI_COMM_WORLD_RANK=1$' /proc/$p/environ 2>/dev/null; then victim=$p; fi
    done
    [ -n "$victim" ] && break
    sleep 0.1
done
[ -n "$victim" ] || { echo "rank 1 never started"; kill $launcher; exit 1; }
sleep 1.5
kill -9 "$victim"
wait $launcher
status=$?
failed=0
echo "status $status; the launcher said:"; cat err.txt
[ $status -ne 0 ] || { echo "a killed process must end the job with a non-zero status"; failed=1; }
grep -q "signal 9" err.txt || { echo "no message names the killed process"; failed=1; }
[ "$(cat out.las)" = "the file from before" ] || { echo "out.las was changed"; failed=1; }
for f in t.txt run.log; do
    [ -e $f ] && { echo "$f exists after the failed run"; failed=1; }
done
exit $failed
