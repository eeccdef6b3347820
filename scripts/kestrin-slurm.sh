#!/bin/bash
# Processes a folder of videos as a Slurm job array, one shard of the folder
# per task:
#
#   sbatch --array=0-3 kestrin-slurm.sh /data/site1/video_20150612_0930_01.mp4
#
# VIDEO's boxes (exportCSV/<name>_area.krn and _mask.krn) serve every video of
# its folder; the folder must be reachable from every node under the same
# path. Every video is an independent one-video run, as with
# `kestrin-batch --jobs`: no tracks carry over from one video to the next.
# The tasks together write exactly the files of
# `kestrin-batch --mode all --jobs N VIDEO`; a job after the array writes the
# folder's summary (`kestrin-batch --summary FOLDER`).
#
# Adjust the array to the cluster: the line below, or --array on the sbatch
# command line, which wins. Task IDs must run from 0 to N-1 without gaps; more
# tasks than videos leave some tasks without work, which is no error.
#
#SBATCH --job-name=kestrin
#SBATCH --array=0-3
#SBATCH --cpus-per-task=1
#SBATCH --output=kestrin-%A_%a.out
#
# Environment: KESTRIN_MODE=unprocessed to skip the videos that have a count
# file already (default: all); KESTRIN_BATCH names the program when it is not
# kestrin-batch on the search path.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: sbatch --array=0-N-1 kestrin-slurm.sh VIDEO" >&2
    exit 2
fi
: "${SLURM_ARRAY_TASK_ID:?run this script as a job array: sbatch --array=0-N-1}"
: "${SLURM_ARRAY_TASK_COUNT:?run this script as a job array: sbatch --array=0-N-1}"

batch=${KESTRIN_BATCH:-kestrin-batch}
folder=$(cd "$(dirname "$1")" && pwd)

# The folder's summary (exportCSV/summary.csv, activity.csv and charts) once
# every task has ended: the first task submits it as a job that depends on
# the whole array.
if [ "$SLURM_ARRAY_TASK_ID" -eq "${SLURM_ARRAY_TASK_MIN:-0}" ]; then
    sbatch --quiet --job-name=kestrin-summary --dependency="afterany:$SLURM_ARRAY_JOB_ID" \
        --output="kestrin-summary-%j.out" \
        --wrap="$(printf '%q --summary %q' "$batch" "$folder")"
fi

exec "$batch" --quiet --mode "${KESTRIN_MODE:-all}" \
    --shard "$SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT" "$1"
