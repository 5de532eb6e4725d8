#!/usr/bin/env bash
#SBATCH --job-name=cvcomp
#SBATCH --cpus-per-task=2
#SBATCH --output=slurm-%A_%a.out
# A Slurm job array over an input list: task K runs the composition on line K of LIST (counted
# from 0) and writes its JSON lines to OUT/K-<stem>.jsonl. Submit one task per line, here at
# most 16 at a time:
#   sbatch --array=0-$(($(wc -l < LIST) - 1))%16 deploy/slurm-array.sh COMPOSITION LIST OUT
# Further arguments go to `cvcomp run`. Each task's messages are in slurm-<job>_<K>.out, and
# `sacct -j <job>` shows which tasks failed. $CVCOMP names the program when it is not `cvcomp`
# on the PATH.
set -euo pipefail
composition=$1 list=$2 out=$3
shift 3
mkdir -p "$out"
exec "${CVCOMP:-cvcomp}" run "$composition" --input "@$list" --index "$SLURM_ARRAY_TASK_ID" \
  --json "$out/{index}-{stem}.jsonl" --quiet "$@"
