#!/bin/bash
# A process of a survey run under mpirun that fails (killed mid-run, an
# exception in its cast, a model it cannot read) ends the whole job with a
# non-zero status and a message, and no output is left half-written under
# its final name: an existing file stays as it was, new ones do not appear.
# Usage: mpi_killed_rank.sh PROGRAM WORK_FOLDER. Exit 77 (skipped) without
# mpirun.
set -u
exe=$(realpath "$1") work=$2
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
# expect_failed CASE STATUS MESSAGE: the status is not 0, err.txt holds the
# message, and the outputs are as before the run.
expect_failed() {
    echo "$1: status $2; said:"; cat err.txt
    [ "$2" -ne 0 ] || { echo "$1: the job must end with a non-zero status"; failed=1; }
    grep -q "$3" err.txt || { echo "$1: no message '$3'"; failed=1; }
    [ "$(cat out.las)" = "the file from before" ] || { echo "$1: out.las was changed"; failed=1; }
    for f in t.txt run.log; do
        [ -e $f ] && { echo "$1: $f exists after the failed run"; failed=1; }
    done
}
expect_failed "killed" $status "signal 9"

# Another process with other options (MPI runs any program per rank): its
# plan has other pulses, which it finds out in the cast.
outputs=(--points out.las --trajectory t.txt --log run.log)
mpirun --oversubscribe -np 1 "$exe" --prf 2 --sample-triangles 2000 "${outputs[@]}" : \
       -np 1 "$exe" --prf 3 --sample-triangles 2000 "${outputs[@]}" > out.txt 2> err.txt
expect_failed "another plan" $? "Error: process 1 of 2: the survey's plan gives"
# A model only some of the processes can read.
mpirun --oversubscribe -np 1 "$exe" --prf 2 --sample-triangles 2000 "${outputs[@]}" : \
       -np 1 "$exe" --prf 2 --mesh "$work/missing.txt" "${outputs[@]}" > out.txt 2> err.txt
expect_failed "unreadable model" $? "Another process of this run could not read the model"

# A refused value ends every process quietly but the first, which says why:
# status 2 as alone, nothing written, and no process ends the job by force.
mpirun --oversubscribe -np 2 "$exe" --height 1 "${outputs[@]}" > out.txt 2> err.txt
status=$?
expect_failed "refused value" $status "Flying height is lower than the highest point of terrain model!"
[ $status -eq 2 ] || { echo "refused value: status $status, not 2"; failed=1; }
grep -q "MPI_ABORT" err.txt && { echo "refused value: the job was aborted"; failed=1; }
[ "$(grep -c 'Flying height' err.txt)" = 1 ] || { echo "refused value: said more than once"; failed=1; }
exit $failed
