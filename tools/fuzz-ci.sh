#!/usr/bin/env bash
# A short fuzzing pass for CI: builds the fuzz targets with clang (in build-fuzz/), replays
# every kept finding (fuzz/regressions/) under the sanitizers, then fuzzes each target for
# SECONDS (default 60) from its seed corpus alone, in a scratch folder. Fails on any finding,
# and keeps the input in build-fuzz/findings-ci-TARGET/.
#
#   tools/fuzz-ci.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
export BUILD_DIR=${BUILD_DIR:-$root/build-fuzz}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velto-fuzz-ci-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

for target in job image metadata cache; do
  "$root/tools/fuzz.sh" "$target" 0
  findings=("$root/fuzz/regressions/$target"/*)
  if [[ -e ${findings[0]} ]]; then
    echo "fuzz-ci.sh: replaying ${#findings[@]} kept $target findings"
    if ! ASAN_OPTIONS=detect_leaks=1 "$BUILD_DIR/fuzz/${target}_fuzzer" "${findings[@]}" \
      >"$scratch/replay-$target.log" 2>&1; then
      cat "$scratch/replay-$target.log" >&2
      echo "fuzz-ci.sh: a kept $target finding fails again" >&2
      exit 1
    fi
  fi
  echo "fuzz-ci.sh: fuzzing $target for $seconds s"
  mkdir -p "$scratch/corpus-$target" "$scratch/findings-$target"
  if ! CORPUS_DIR="$scratch/corpus-$target" "$root/tools/fuzz.sh" "$target" "$seconds" \
    -artifact_prefix="$scratch/findings-$target/" >"$scratch/fuzz-$target.log" 2>&1; then
    tail -n 60 "$scratch/fuzz-$target.log" >&2
    mkdir -p "$BUILD_DIR/findings-ci-$target"
    cp "$scratch/findings-$target"/* "$BUILD_DIR/findings-ci-$target/" 2>/dev/null || true
    echo "fuzz-ci.sh: the $target fuzzer found something: $BUILD_DIR/findings-ci-$target/" >&2
    exit 1
  fi
  grep -E "^stat::(number_of_executed_units|peak_rss_mb)" "$scratch/fuzz-$target.log" | sed 's/^/  /'
done
echo "fuzz-ci.sh: no findings"
