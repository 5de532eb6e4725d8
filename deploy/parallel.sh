#!/usr/bin/env bash
# Runs a composition over every input of a list with GNU parallel, one `cvcomp run` per input and
# as many at a time as there are cores; each input's JSON lines go to OUT/<stem>.jsonl.
#
#   deploy/parallel.sh COMPOSITION LIST OUT [cvcomp run options...]
#
# LIST holds one input a line (a video, a picture, a folder of pictures). An input that fails is
# reported on standard error behind its name, and the others carry on; the exit status is the
# number of inputs that failed (up to 100), and OUT/jobs.log holds each run's exit status.
#
# Over several machines that see the inputs and OUT at the same paths (a shared file system),
# with cvcomp on each machine's PATH: list the machines for --sshloginfile, one a line
# (`8/user@node1`: 8 runs at a time on node1; `:` this machine), and set SSHLOGINFILE:
#   SSHLOGINFILE=nodes.txt deploy/parallel.sh COMPOSITION LIST OUT
# $CVCOMP names the program when it is not `cvcomp` on the PATH.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 COMPOSITION LIST OUT [cvcomp run options...]" >&2
  exit 2
fi
composition=$1 list=$2 out=$3
shift 3
mkdir -p "$out"
remote=()
if [ -n "${SSHLOGINFILE:-}" ]; then
  remote=(--sshloginfile "$SSHLOGINFILE" --workdir "$PWD")
fi
# -q passes each word as it is; {} is the input, and cvcomp names the output after it.
parallel --will-cite -q --tag --halt never --joblog "$out/jobs.log" "${remote[@]}" \
  "${CVCOMP:-cvcomp}" run "$composition" --input {} --json "$out/{stem}.jsonl" --quiet "$@" \
  :::: "$list"
