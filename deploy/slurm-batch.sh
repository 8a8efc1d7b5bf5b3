#!/usr/bin/env bash
# One shard of `kestrix batch` per task of a Slurm job array. Submit it with
# the array size as the number of shards (a contiguous range), and the
# folders on a file system every node sees:
#
#   sbatch --array=0-15 --cpus-per-task=4 deploy/slurm-batch.sh \
#       /shared/photos --recursive --output /shared/thumbs --skip-existing --max-width 640
#
# The shard is SLURM_ARRAY_TASK_ID - SLURM_ARRAY_TASK_MIN of
# SLURM_ARRAY_TASK_COUNT. kestrix uses the processors Slurm gave the task.
# Re-submitting the same command finishes a job whose tasks were cut short.
#SBATCH --job-name=kestrix-batch
#SBATCH --output=kestrix-batch-%A_%a.log
set -euo pipefail
: "${SLURM_ARRAY_TASK_ID:?submit this script with sbatch --array=0-N}"
: "${SLURM_ARRAY_TASK_COUNT:?submit this script with sbatch --array=0-N}"
shard=$((SLURM_ARRAY_TASK_ID - ${SLURM_ARRAY_TASK_MIN:-0}))
exec "${KESTRIX:-kestrix}" batch "$@" --shard "$shard/$SLURM_ARRAY_TASK_COUNT"
