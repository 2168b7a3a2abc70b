#!/usr/bin/env bash
# Groups every job of a benchmark set with a velto-fprint binary and scores the results.
#   tools/quality/score_set.sh BINARY SET_DIR [RESULT_DIR]
# Prints score.py's table and SUMMARY line.
set -euo pipefail
bin=$(realpath "$1")
set_dir=$(realpath "$2")
results=${3:-$(mktemp -d)}
mkdir -p "$results"
results=$(realpath "$results")
cd "$set_dir"
for job in jobs/*.json; do
  "$bin" "$job" "$results/$(basename "$job")" || echo "failed: $job" >&2
done
/usr/bin/python3 ../score.py --set . --results "$results"
