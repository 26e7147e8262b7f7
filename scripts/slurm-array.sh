#!/usr/bin/env bash
# One chunk of a sequence per task of a Slurm job array. Submit from the
# folder that holds (or reaches) the frames; Result/ is created there:
#
#   sbatch --array=0-15 scripts/slurm-array.sh CalibPath ImagePath ImageNum ViewNum [plenoview options]
#
# The array's tasks must be numbered 0 .. CHUNKS-1 without steps (a "%4"
# throttle is fine); task i renders chunk i of CHUNKS = the number of tasks.
# The plenoview that runs is $PLENOVIEW (default: plenoview from PATH); sbatch
# passes the environment of the submitting shell on. Tasks run with
# --resume, so resubmitting the same command (or requeueing a task) finishes
# the job without redoing finished frames.
#SBATCH --job-name=plenoview
#SBATCH --ntasks=1
#SBATCH --cpus-per-task=1
#SBATCH --output=plenoview-%A_%a.log
set -euo pipefail

if (( $# < 4 )); then
  echo "usage: sbatch --array=0-CHUNKS-1 slurm-array.sh CalibPath ImagePath ImageNum ViewNum [plenoview options]" >&2
  exit 2
fi
task=${SLURM_ARRAY_TASK_ID:?not a task of a Slurm job array (submit with sbatch --array)}
chunks=${SLURM_ARRAY_TASK_COUNT:?SLURM_ARRAY_TASK_COUNT is not set}
index=$((task - ${SLURM_ARRAY_TASK_MIN:-0}))
calib=$1 pattern=$2 imageNum=$3 viewNum=$4
shift 4

if [[ $pattern == "-" ]]; then
  echo "ImagePath \"-\" (standard input) cannot be split into chunks; give the video file" >&2
  exit 2
fi

first=0
options=()
while (( $# > 0 )); do
  case $1 in
    --first-frame) first=${2:?--first-frame needs a value}; shift 2 ;;
    --first-frame=*) first=${1#*=}; shift ;;
    *) options+=("$1"); shift ;;
  esac
done

# Chunk i holds frames first + i*frames/chunks up to first + (i+1)*frames/chunks - 1,
# the same split as scripts/run-parallel.
frames=$((imageNum - first))
start=$((first + index * frames / chunks))
end=$((first + (index + 1) * frames / chunks))
if (( frames <= 0 || start >= end )); then
  echo "chunk $index of $chunks: no frames" >&2
  exit 0
fi
exec "${PLENOVIEW:-plenoview}" --no-window --resume --first-frame "$start" "${options[@]}" \
  "$calib" "$pattern" "$end" "$viewNum"
