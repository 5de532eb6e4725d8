#!/usr/bin/env bash
# Starts a single-node Slurm on this machine (munged, slurmctld and slurmd, on loopback, with two
# CPUs and a slurm.conf of its own), submits deploy/slurm-array.sh as a job array over the list of
# tests/deploy_inputs.sh, and checks from the job-completion log that exactly the bad task failed
# and that every other task's output equals `cvcomp run --json -` on its input alone. Every daemon
# it started is stopped by its PID when it ends, whatever the outcome. Where the daemons cannot
# run (not root: munged, slurmctld and slurmd run as root here), it exits 77, which CTest reports
# as skipped.
#   tests/slurm_cluster.sh CVCOMP SOURCE_DIR SAMPLE_DATA
# With KEEP_CLUSTER=COMMAND it runs COMMAND (with $SLURM_CONF set) instead of the checks, and
# SLURM_CPUS sets how many CPUs the node offers (2), for bench/deploy_throughput.sh.
set -uo pipefail
cvcomp=$1 source=$2 samples=$3
for program in munged slurmctld slurmd sbatch; do
  if ! command -v "$program" >/dev/null; then
    echo "SKIPPED: $program is not installed (scripts/build.sh installs it)"
    exit 77
  fi
done
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: the Slurm daemons need root here, and this test runs as $(id -un)"
  exit 77
fi
# A short folder: munged's socket name must fit a socket address.
work=$(mktemp -d /tmp/cvcomp-slurm.XXXXXX)
daemons=()
stop_daemons() {
  local pid
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${daemons[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap stop_daemons EXIT
trap 'exit 130' INT TERM
cd "$work" || exit 1
# show_logs: the daemons' own logs, when something went wrong.
show_logs() {
  local log
  for log in munged.log slurmctld.log slurmd.log; do
    echo "--- $log" >&2
    tail -n 30 "$work/$log" >&2
  done
}
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

mkdir -m 0700 state spool
mkdir -m 0711 munge
dd if=/dev/urandom of=munge/munge.key bs=1024 count=1 status=none
chmod 0400 munge/munge.key
munged --foreground --force --key-file="$work/munge/munge.key" --socket="$work/munge/socket" \
  --pid-file="$work/munge/pid" --seed-file="$work/munge/seed" --log-file="$work/munged.log" \
  2>>"$work/munged.log" &
daemons+=($!)

host=$(hostname -s)
export SLURM_CONF=$work/slurm.conf
cat >"$SLURM_CONF" <<CONF
ClusterName=cvcomp
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
SwitchType=switch/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/backfill
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/filetxt
JobCompLoc=$work/jobcomp.txt
ReturnToService=2
# The node offers the CPUs named here, whatever the machine has.
SlurmdParameters=config_overrides
NodeName=$host NodeAddr=127.0.0.1 CPUs=${SLURM_CPUS:-2} State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=60 State=UP
CONF
for _ in $(seq 50); do [ -S "$work/munge/socket" ] && break; sleep 0.1; done
slurmctld -D -i -f "$SLURM_CONF" 2>>"$work/slurmctld.log" &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" 2>>"$work/slurmd.log" &
daemons+=($!)
# The node is up when it is idle.
for _ in $(seq 100); do
  [ "$(sinfo -h -n "$host" -o %t 2>/dev/null)" == idle ] && break
  sleep 0.2
done
if [ "$(sinfo -h -n "$host" -o %t 2>/dev/null)" != idle ]; then
  show_logs
  if grep -qi 'permission denied\|operation not permitted' "$work"/*.log; then
    echo "SKIPPED: the Slurm daemons cannot run here (no permission); see their logs above"
    exit 77
  fi
  echo "FAILED: the Slurm node did not come up" >&2
  exit 1
fi

if [ -n "${KEEP_CLUSTER:-}" ]; then
  # In the background, so that a stop signal reaches the traps at once; stopped with the daemons.
  bash -c "$KEEP_CLUSTER" &
  daemons+=($!)
  wait $!
  exit
fi

source "$source/tests/deploy_inputs.sh"
last=$((${#inputs[@]} - 1))
job=$(CVCOMP=$cvcomp sbatch --parsable --chdir="$work" --array=0-$last \
  "$source/deploy/slurm-array.sh" "$composition" "$list" "$work/out")
[ -n "$job" ] || fail "sbatch gave no job"
# Each task's record reaches the job-completion log as it ends.
for _ in $(seq 600); do
  [ "$(grep -c "ArrayJobId=$job " jobcomp.txt 2>/dev/null)" -gt "$last" ] && break
  sleep 0.2
done
records=$(grep "ArrayJobId=$job " jobcomp.txt 2>/dev/null)
for k in "${!inputs[@]}"; do
  record=$(grep " ArrayTaskId=$k " <<<"$records")
  state=$(sed -n 's/.* JobState=\([A-Z_]*\) .*/\1/p' <<<"$record")
  exit_code=$(sed -n 's/.* ExitCode=\([0-9:]*\).*/\1/p' <<<"$record")
  if [ "$k" -eq "$bad" ]; then
    expect_same "FAILED 1:0" "$state $exit_code" "Slurm task $k's record"
    expect_same "cvcomp: $missing: no such file or folder" "$(cat "slurm-${job}_$k.out")" \
      "Slurm task $k's log"
  else
    expect_same "COMPLETED 0:0" "$state $exit_code" "Slurm task $k's record"
  fi
done
expect_outputs Slurm "$work/out"
[ "$failures" -eq 0 ] || { echo "$records" >&2; show_logs; }
exit $((failures > 0))
