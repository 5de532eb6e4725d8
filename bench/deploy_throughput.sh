#!/usr/bin/env bash
# Throughput of the deploy recipes: the face example over 8 inputs (copies of Megamind.avi, the
# first FRAMES frames each) with 1, 2 and 4 runs at a time, under GNU parallel, a single-node
# Slurm (tests/slurm_cluster.sh's, with 4 CPUs) and a Dask LocalCluster; the three runners take
# turns at each concurrency, so that they meet the same machine load. Prints a Markdown table:
# wall time, inputs per minute, the largest peak resident memory of one run, and the speed-up
# against one run at a time under the same runner.
#   bench/deploy_throughput.sh CVCOMP [FRAMES]     (as root, for Slurm)
set -euo pipefail
cvcomp=$(realpath "$1") frames=${2:-100}
source=$(cd "$(dirname "$0")/.." && pwd)
samples=/usr/share/doc/opencv-doc/examples/data
bench=$(mktemp -d /tmp/cvcomp-throughput.XXXXXX)
trap 'rm -rf "$bench"' EXIT
for k in $(seq 0 7); do ln -s "$samples/Megamind.avi" "$bench/clip$k.avi"; done
printf "$bench/%s\n" clip{0..7}.avi >"$bench/inputs.txt"
# Each run's peak memory (kB) is added to $bench/peaks.
cat >"$bench/cvcomp" <<SH
#!/bin/sh
exec /usr/bin/time -a -o "$bench/peaks" -f %M "$cvcomp" "\$@"
SH
chmod +x "$bench/cvcomp"
export CVCOMP=$bench/cvcomp

run_parallel() { JOBS=$1 "$source/deploy/parallel.sh" "$source/examples/face-detect.json" \
  "$bench/inputs.txt" "$bench/out" --frames "$frames"; }
run_dask() { /usr/bin/python3 "$source/deploy/dask_batch.py" "$source/examples/face-detect.json" \
  "$bench/inputs.txt" "$bench/out" --workers "$1" -- --frames "$frames" 2>/dev/null; }
run_slurm() { sbatch --wait --quiet --chdir="$bench" --cpus-per-task=1 --array="0-7%$1" \
  "$source/deploy/slurm-array.sh" "$source/examples/face-detect.json" "$bench/inputs.txt" \
  "$bench/out" --frames "$frames"; }

# measure RUNNER N: prints "seconds peak_kB".
measure() {
  rm -rf "$bench/out" "$bench/peaks"
  local start end
  start=$(date +%s.%N)
  "run_$1" "$2" >/dev/null
  end=$(date +%s.%N)
  [ "$(ls "$bench"/out/*.jsonl | wc -l)" -eq 8 ] || { echo "$1 with $2: not 8 results" >&2; exit 1; }
  echo "$(echo "$end - $start" | bc -l) $(sort -n "$bench/peaks" | tail -n1)"
}

export -f measure run_parallel run_dask run_slurm
export bench frames source
SLURM_CPUS=4 KEEP_CLUSTER='
set -e
declare -A wall peak
for n in 1 2 4; do
  for runner in parallel slurm dask; do
    result=$(measure $runner $n)
    read -r wall[$runner$n] peak[$runner$n] <<<"$result"
  done
done
echo "| runner | runs at a time | wall s | inputs/min | peak MB per run | speed-up vs 1 |"
echo "|---|---:|---:|---:|---:|---:|"
for runner in parallel slurm dask; do
  for n in 1 2 4; do
    printf "| %s | %d | %.1f | %.1f | %.0f | %.2f |\n" $runner $n ${wall[$runner$n]} \
      $(echo "8 * 60 / ${wall[$runner$n]}" | bc -l) $(echo "${peak[$runner$n]} / 1024" | bc -l) \
      $(echo "${wall[${runner}1]} / ${wall[$runner$n]}" | bc -l)
  done
done' "$source/tests/slurm_cluster.sh" "$cvcomp" "$source" "$samples"
