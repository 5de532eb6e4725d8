#!/usr/bin/env bash
# The recipes of deploy/ on three inputs, one of which fails: GNU parallel on this machine, and
# the Slurm and Kubernetes commands with the index variable their scheduler would set. Every
# output must equal what `cvcomp run --json -` writes for its input alone.
#   tests/deploy_recipes.sh CVCOMP SOURCE_DIR SAMPLE_DATA
set -uo pipefail
cvcomp=$1 source=$2 samples=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# expect_same EXPECTED ACTUAL WHAT
expect_same() {
  [ "$1" == "$2" ] || fail "$3: expected [$1], got [$2]"
}

# The inputs: the 41st frame of Megamind.avi, which shows a face, as a picture; baboon.jpg; and a
# picture that does not exist.
cat >"$work/frames.json" <<JSON
{"patches": {"src": {"class": "ImageSource", "inputs": {"inputPath": "$samples/Megamind.avi"}}},
 "publish": ["src.outputImage"]}
JSON
"$cvcomp" run "$work/frames.json" --frames 41 --video "$work/face.png" --quiet ||
  fail "the face picture was not written"
composition=$source/examples/face-detect.json
missing=$work/missing.png
printf '%s\n' "$work/face.png" "$samples/baboon.jpg" "$missing" >"$work/inputs.txt"
reference() { "$cvcomp" run "$composition" --input "$1" --json - --quiet; }
face=$(reference "$work/face.png")
baboon=$(reference "$samples/baboon.jpg")
[[ $face == *'"faces.outputRects":{"Object0000":'* ]] || fail "no face found: $face"

# GNU parallel: both pictures are done, the missing one is reported behind its name, and the
# exit status counts one failure.
CVCOMP=$cvcomp "$source/deploy/parallel.sh" "$composition" "$work/inputs.txt" "$work/parallel" \
  2>"$work/parallel.err"
expect_same 1 $? "parallel's exit status"
expect_same "$missing	cvcomp: $missing: no such file or folder" "$(cat "$work/parallel.err")" \
  "parallel's report"
expect_same "$face" "$(cat "$work/parallel/face.jsonl")" "parallel: face"
expect_same "$baboon" "$(cat "$work/parallel/baboon.jsonl")" "parallel: baboon"

# Slurm: task 1 runs the second line; task 2 fails naming its input.
SLURM_ARRAY_TASK_ID=1 CVCOMP=$cvcomp "$source/deploy/slurm-array.sh" "$composition" \
  "$work/inputs.txt" "$work/slurm"
expect_same 0 $? "Slurm task 1's exit status"
expect_same "$baboon" "$(cat "$work/slurm/1-baboon.jsonl")" "Slurm task 1"
message=$(SLURM_ARRAY_TASK_ID=2 CVCOMP=$cvcomp "$source/deploy/slurm-array.sh" "$composition" \
  "$work/inputs.txt" "$work/slurm" 2>&1)
expect_same "cvcomp: $missing: no such file or folder" "$message" "Slurm task 2's report"

# Kubernetes: the container's command, as the manifest gives it, in pod 0 with the data volume
# at $DATA and cvcomp on the PATH.
manifest=$source/deploy/kubernetes-job.yaml
command=$(sed -n '/^ *args:/{n;s/^ *- //p}' "$manifest")
# Read as YAML, the manifest is an Indexed Job whose container runs that command.
python3 - "$manifest" "$command" <<'EOF' || fail "the Kubernetes manifest is not an Indexed Job running that command"
import sys, yaml
job = yaml.safe_load(open(sys.argv[1]))
body = job["\x73pec"]
assert job["kind"] == "Job" and body["completionMode"] == "Indexed"
assert body["template"]["\x73pec"]["containers"][0]["args"] == [sys.argv[2]]
EOF
mkdir -p "$work/data" "$work/bin"
cp "$composition" "$work/data/composition.json"
cp "$work/inputs.txt" "$work/data/inputs.txt"
ln -s "$cvcomp" "$work/bin/cvcomp"
JOB_COMPLETION_INDEX=0 DATA=$work/data PATH=$work/bin:$PATH sh -c "$command"
expect_same 0 $? "the Kubernetes pod's exit status"
expect_same "$face" "$(cat "$work/data/out/0-face.jsonl")" "Kubernetes pod 0"

exit $((failures > 0))
