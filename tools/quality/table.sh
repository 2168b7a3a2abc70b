#!/usr/bin/env bash
# The quality table of the built velto-fprint on every developer set beside the ceiling of the
# grouping rules: in-run F1, ARI and boundary F1, each as a share of the ceiling; once on each
# set's own jobs (velto-fprint itself) and once over re-dealt job draws of the same photos
# (its prints regrouped by velto-fprint-replay); each beside the series grouping on the same
# prints (velto-fprint-replay --rules series).
#   tools/quality/table.sh [BUILD_DIR [WORK_DIR [DRAWS]]]
# BUILD_DIR defaults to build/, WORK_DIR to BUILD_DIR/quality (derived sets, ceilings and
# prints are kept there and reused), DRAWS to 5 (0: own jobs only).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(realpath "${1:-$root/build}")
work=${2:-$build/quality}
mkdir -p "$work"
cmake --build "$build" -j2 --target velto-fprint velto-fprint-replay velto-fprint-embed >/dev/null
exec /usr/bin/python3 "$root/tools/quality/table.py" "$build" "$work" "${3:-5}"
