#!/usr/bin/env bash
# Runs a composition over every input of a list with GNU parallel, one `cvcomp run` per input and
# as many at a time as there are cores; the input on line K of LIST (counted from 0) writes its
# JSON lines to OUT/K-<stem>.jsonl, as the Slurm and Kubernetes recipes name them, so that two
# inputs with the same stem keep both results.
#
#   deploy/parallel.sh COMPOSITION LIST OUT [cvcomp run options...]
#
# LIST holds one input a line (a video, a picture, a folder of pictures; Unix or CRLF line ends),
# read by cvcomp itself (--input @LIST --index K), so that no name in it ever reaches a shell. An
# input that fails is reported on standard error behind its line number, and the others carry on;
# the exit status is the number of inputs that failed (up to 100), and OUT/jobs.log holds each
# run's exit status.
#
# Over several machines that see LIST, the inputs and OUT at the same paths (a shared file
# system), with cvcomp on each machine's PATH: list the machines for --sshloginfile, one a line
# (`8/user@node1`: 8 runs at a time on node1; `:` this machine), and set SSHLOGINFILE:
#   SSHLOGINFILE=nodes.txt deploy/parallel.sh COMPOSITION LIST OUT
# $CVCOMP names the program when it is not `cvcomp` on the PATH; $JOBS how many run at once here.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 COMPOSITION LIST OUT [cvcomp run options...]" >&2
  exit 2
fi
composition=$1 list=$2 out=$3
shift 3
# A last line without its line end counts too.
lines=$(awk 'END { print NR }' "$list")
mkdir -p "$out"
remote=()
if [ -n "${SSHLOGINFILE:-}" ]; then
  remote=(--sshloginfile "$SSHLOGINFILE" --workdir "$PWD")
fi
[ "$lines" -gt 0 ] || exit 0
# -q passes each word as it is; {} is the line number, and cvcomp fills {index} and {stem}.
seq 0 $((lines - 1)) |
  parallel --will-cite -q --tag --halt never --jobs "${JOBS:-100%}" --joblog "$out/jobs.log" \
    "${remote[@]}" "${CVCOMP:-cvcomp}" run "$composition" --input "@$list" --index {} \
    --json "$out/{index}-{stem}.jsonl" --quiet "$@"
