#!/usr/bin/env bash
# deploy/dask_batch.py on a real dask.distributed LocalCluster of two workers, over the list of
# tests/deploy_inputs.sh: every good line's output equals `cvcomp run --json -` on its input
# alone, the bad line is reported behind its number, and the exit status counts it.
#   tests/dask_cluster.sh CVCOMP SOURCE_DIR SAMPLE_DATA
set -uo pipefail
cvcomp=$1 source=$2 samples=$3
source "$source/tests/deploy_inputs.sh"

CVCOMP=$cvcomp /usr/bin/python3 "$source/deploy/dask_batch.py" "$composition" "$list" \
  "$work/out" --workers 2 2>"$work/dask.err"
expect_same 1 $? "dask_batch's exit status"
# Dask's own log lines may come with it.
grep -qFx "$bad	cvcomp: $missing: no such file or folder" "$work/dask.err" ||
  fail "dask_batch's report: $(cat "$work/dask.err")"
expect_outputs Dask "$work/out"
exit $((failures > 0))
