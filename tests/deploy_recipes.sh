#!/usr/bin/env bash
# The recipes of deploy/ on the list of tests/deploy_inputs.sh, one line of which fails: GNU
# parallel on this machine, and the Slurm and Kubernetes commands with the index variable their
# scheduler would set (tests/slurm_cluster.sh runs the Slurm recipe under a real Slurm). Every
# output must equal what `cvcomp run --json -` writes for its input alone.
#   tests/deploy_recipes.sh CVCOMP SOURCE_DIR SAMPLE_DATA
set -uo pipefail
cvcomp=$1 source=$2 samples=$3
source "$source/tests/deploy_inputs.sh"

# GNU parallel: every good line is done, the missing one is reported behind its line number, and
# the exit status counts one failure.
CVCOMP=$cvcomp "$source/deploy/parallel.sh" "$composition" "$list" "$work/parallel" \
  2>"$work/parallel.err"
expect_same 1 $? "parallel's exit status"
expect_same "$bad	cvcomp: $missing: no such file or folder" "$(cat "$work/parallel.err")" \
  "parallel's report"
expect_outputs parallel "$work/parallel"

# Slurm: each task runs its line; the bad one fails naming its input.
for k in "${!inputs[@]}"; do
  message=$(SLURM_ARRAY_TASK_ID=$k CVCOMP=$cvcomp "$source/deploy/slurm-array.sh" "$composition" \
    "$list" "$work/slurm" 2>&1)
  status=$?
  if [ "$k" -eq "$bad" ]; then
    expect_same "1 cvcomp: $missing: no such file or folder" "$status $message" "Slurm task $k"
  else
    expect_same "0 " "$status $message" "Slurm task $k"
  fi
done
expect_outputs Slurm "$work/slurm"

# Kubernetes: the container's command, as the manifest gives it, in each pod with the data volume
# at $DATA and cvcomp on the PATH.
manifest=$source/deploy/kubernetes-job.yaml
command=$(sed -n '/^ *args:/{n;s/^ *- //p}' "$manifest")
# Read as YAML, the manifest is an Indexed Job whose container runs that command in the image
# deploy/image builds.
python3 - "$manifest" "$command" "$(cat "$source/deploy/image/name")" <<'PY' ||
import sys, yaml
job = yaml.safe_load(open(sys.argv[1]))
body = job["\x73pec"]
container = body["template"]["\x73pec"]["containers"][0]
assert job["kind"] == "Job" and body["completionMode"] == "Indexed"
assert container["args"] == [sys.argv[2]] and container["image"] == sys.argv[3]
PY
  fail "the Kubernetes manifest is not an Indexed Job running that command in the project's image"
mkdir -p "$work/data" "$work/bin"
cp "$composition" "$work/data/composition.json"
cp "$list" "$work/data/inputs.txt"
ln -s "$cvcomp" "$work/bin/cvcomp"
for k in "${!inputs[@]}"; do
  JOB_COMPLETION_INDEX=$k DATA=$work/data PATH=$work/bin:$PATH sh -c "$command" 2>/dev/null
  expect_same $((k == bad)) $? "the Kubernetes pod $k's exit status"
done
expect_outputs Kubernetes "$work/data/out"

exit $((failures > 0))
