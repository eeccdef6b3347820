#!/usr/bin/env bash
# Starts a one-node Slurm cluster from Debian's packages (munged, slurmctld,
# slurmd, configured in a temporary folder, on ports of their own), submits
# scripts/kestrin-slurm.sh as a job array over a folder of generated videos
# with `sbatch --wait`, and checks that the tasks wrote exactly the files of
# `kestrin-batch --jobs 2 --mode all` over a copy of the folder. Every daemon
# is stopped at the end, also on failure. Needs root; when Slurm cannot start,
# the test fails with the daemons' own messages.
#
#   bash scripts/test-slurm.sh [FOLDER OF kestrin-batch]   (default build/dev/src)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
bin=$(realpath "${1:-build/dev/src}")
export QT_LOGGING_RULES="kestrin.*.debug=false"

fail() { printf 'test-slurm: FAILED: %s\n' "$*" >&2; exit 1; }
[ -x "$bin/kestrin-batch" ] || fail "no $bin/kestrin-batch"
[ "$(id -u)" -eq 0 ] || fail "the daemons need root"
for tool in munged slurmctld slurmd sbatch sinfo; do
    command -v "$tool" >/dev/null || fail "$tool is missing (packages slurm-wlm and munge)"
done

tmp=$(mktemp -d)
chmod 755 "$tmp" # munged wants its socket's folder open to all
pids=()
daemon_logs() {
    for log in "$tmp"/munged.log "$tmp"/slurmctld.log "$tmp"/slurmd.log "$tmp"/*.console; do
        [ -s "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
    done >&2
    return 0
}
stop_daemons() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    # A daemon still waiting for its peers may ignore the request for a while.
    for _ in $(seq 50); do
        local alive=no
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=yes; done
        [ "$alive" = no ] && break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    pids=()
}
cleanup() {
    local status=$?
    stop_daemons
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
start=$SECONDS

# The folder: the demonstration videos and two more, one copy for Slurm and
# one for --jobs.
"$bin/kestrin-batch" --make-demo "$tmp/slurm" >"$tmp/videos.txt"
video=$(basename "$(head -n 1 "$tmp/videos.txt")")
cp "$tmp/slurm/$video" "$tmp/slurm/video_20240612_1130_03.mp4"
cp "$(sed -n 2p "$tmp/videos.txt")" "$tmp/slurm/video_20240612_1200_04.mp4"
cp -r "$tmp/slurm" "$tmp/jobs"

host=$(hostname -s)
mkdir -p "$tmp/state" "$tmp/spool"
head -c 1024 /dev/urandom >"$tmp/munge.key"
chmod 400 "$tmp/munge.key"
: >"$tmp/plugstack.conf"
cat >"$tmp/slurm.conf" <<CONF
ClusterName=kestrintest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=16817
SlurmdPort=16818
AuthType=auth/munge
AuthInfo=socket=$tmp/munge.socket
CredType=cred/munge
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
PlugStackConfig=$tmp/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
SchedulerType=sched/builtin
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=kestrin Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$tmp/slurm.conf

munged -F --force --socket="$tmp/munge.socket" --key-file="$tmp/munge.key" \
    --pid-file="$tmp/munged.pid" --log-file="$tmp/munged.log" --seed-file="$tmp/munge.seed" \
    >"$tmp/munged.console" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$tmp/munge.socket" ] && break; sleep 0.1; done
[ -S "$tmp/munge.socket" ] || { daemon_logs; fail "munged did not start"; }
slurmctld -D -i -f "$tmp/slurm.conf" >"$tmp/slurmctld.console" 2>&1 &
pids+=($!)
slurmd -D -f "$tmp/slurm.conf" >"$tmp/slurmd.console" 2>&1 &
pids+=($!)
# Up when the node reports idle; a daemon that exits, or 30 s without the
# node, fails the test with what the daemons said.
idle=no
deadline=$((SECONDS + 30))
while [ "$SECONDS" -lt "$deadline" ]; do
    for pid in "${pids[@]}"; do
        kill -0 "$pid" 2>/dev/null || { daemon_logs; fail "a Slurm daemon exited (pid $pid)"; }
    done
    if [ "$(timeout 5 sinfo -h -o %T 2>/dev/null)" = idle ]; then idle=yes; break; fi
    sleep 0.2
done
[ "$idle" = yes ] || { daemon_logs; fail "the Slurm node did not come up within 30 s"; }
echo "test-slurm: one-node Slurm up after $((SECONDS - start)) s"

# Three tasks over four videos: one task takes two.
KESTRIN_BATCH="$bin/kestrin-batch" timeout 300 sbatch --wait --quiet --array=0-2 --chdir="$tmp" \
    --output="$tmp/task-%a.out" "$repo/scripts/kestrin-slurm.sh" "$tmp/slurm/$video" \
    || { cat "$tmp"/task-*.out >&2 || true; daemon_logs; fail "the job array failed"; }
"$bin/kestrin-batch" --quiet --mode all --jobs 2 "$tmp/jobs/$video" >"$tmp/jobs.out"
"$bin/kestrin-batch" --summary "$tmp/jobs" >/dev/null

# The summary job runs after the array; wait for its file (at most 60 s).
deadline=$((SECONDS + 60))
while [ ! -s "$tmp/slurm/exportCSV/activity.csv" ] && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.5; done
while [ -n "$(timeout 5 squeue -h -n kestrin-summary 2>/dev/null)" ] && [ "$SECONDS" -lt "$deadline" ]; do
    sleep 0.5
done
[ -s "$tmp/slurm/exportCSV/summary.csv" ] || { cat "$tmp"/kestrin-summary-*.out >&2 || true; fail "no summary after the array"; }

status=0
# A task's file also holds its standard error: its warnings are not summary lines.
diff <(grep -hv '^kestrin-batch: warning: ' "$tmp"/task-*.out | sort) <(sort "$tmp/jobs.out") || status=1
[ "$(wc -l <"$tmp/jobs.out")" -eq 4 ] || status=1
# Run records carry the time of processing; the charts' pictures are left out.
diff -r -x '*_run.json' -x 'activity.png' -x 'activity.svg' "$tmp/slurm/exportCSV" "$tmp/jobs/exportCSV" || status=1
[ "$status" -eq 0 ] || fail "the job array's files differ from those of --jobs"
echo "test-slurm: passed in $((SECONDS - start)) s ($(ls "$tmp/jobs/exportCSV" | wc -l) files equal)"
